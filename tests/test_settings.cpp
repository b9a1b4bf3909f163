#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include "common/Paths.h"
#include "common/Settings.h"
#include "support/TestEnv.h"

namespace
{

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

} // namespace

// Reading: trimming, case, the 63-character cut and the forgiving numbers.
TEST(Settings, ReadsLikeTheProfileFunctions)
{
    TempMachine machine;
    WriteFile(machine.settingsFile(),
              "; a note\r\n"
              "[other]\r\nBootRun=1\r\n"
              "[ config ]\r\n"
              "  soundcard  =  HDMI-TV  \r\n"
              "BootRun=abc\r\n"
              "CompanyID=70011\r\n"
              "DisableMouseCtrl= -12x\r\n"
              "DisplayCard=1920 0 3840 1080\r\n"
              "Long="
                  + QByteArray(80, 'x')
                  + "\r\nLocalMovieFolders=" + QByteArray(80, 'y')
                  + "\r\n"
                    "[Config]\r\nBootRun=1\r\n");
    EXPECT_EQ(ReadSetting(key(SettingKey::SoundCard)), QStringLiteral("HDMI-TV"));
    EXPECT_EQ(ReadSetting(key(SettingKey::DisplayCard)), QStringLiteral("1920 0 3840 1080"));
    // Only the first section of a name counts; a value that is not a number reads as 0.
    EXPECT_EQ(ReadSettingNumber(key(SettingKey::BootRun)), 0);
    EXPECT_EQ(ReadSettingNumber(key(SettingKey::DisableMouseCtrl)), -12);
    // CompanyID is kept to 16 bits by its reader: 70011 = 0x1117B.
    EXPECT_EQ(static_cast<quint16>(ReadSettingNumber(key(SettingKey::CompanyID))), 0x117B);
    EXPECT_EQ(ReadSetting(QStringLiteral("Long")), QString(63, QLatin1Char('x')));
    // A list of folders is the program's own key and is read whole.
    EXPECT_EQ(ReadSetting(key(SettingKey::LocalMovieFolders)), QString(80, QLatin1Char('y')));
    EXPECT_EQ(ReadSetting(QStringLiteral("Absent")), QString());
}

TEST(Settings, MissingFileReadsAsEmpty)
{
    TempMachine machine;
    EXPECT_EQ(ReadSetting(key(SettingKey::SoundCard)), QString());
    EXPECT_EQ(ReadSettingNumber(key(SettingKey::CompanyID)), 0);
}

// Writing: creation on demand, replacement in place, other lines and sections kept, UTF-8 round trip.
TEST(Settings, WritesOneKeyAndKeepsTheRest)
{
    TempMachine machine;
    QFile::remove(machine.settingsFile());
    QDir(machine.root()).rmpath(QStringLiteral("var/lib/krel"));
    EXPECT_TRUE(WriteSetting(key(SettingKey::BootRun), QStringLiteral("1")));
    EXPECT_EQ(ReadFile(machine.settingsFile()), QByteArray("[Config]\nBootRun=1\n"));

    WriteFile(machine.settingsFile(),
              "# kept\n[Other]\nSoundCard=old\n\n[CONFIG]\nbootrun=0\nCompanyID=5\n\n[Tail]\nx=1");
    EXPECT_TRUE(WriteSetting(key(SettingKey::BootRun), QStringLiteral("1")));
    EXPECT_TRUE(WriteSetting(key(SettingKey::SoundCard), QStringLiteral("声卡 HDMI")));
    EXPECT_EQ(ReadFile(machine.settingsFile()),
              QByteArray("# kept\n[Other]\nSoundCard=old\n\n[CONFIG]\nBootRun=1\nCompanyID=5\n"
                         "SoundCard=\xe5\xa3\xb0\xe5\x8d\xa1 HDMI\n\n[Tail]\nx=1"));
    EXPECT_EQ(ReadSetting(key(SettingKey::SoundCard)), QStringLiteral("声卡 HDMI"));

    // A file without a final line feed and without the section gets the section appended.
    WriteFile(machine.settingsFile(), "[Other]\nx=1");
    EXPECT_TRUE(WriteSetting(key(SettingKey::CompanyID), QStringLiteral("1275")));
    EXPECT_EQ(ReadFile(machine.settingsFile()), QByteArray("[Other]\nx=1\n[Config]\nCompanyID=1275\n"));
}

// A writer killed at any moment leaves either the old or the new file, never a mixture or a truncated one.
TEST(Settings, WriterKilledMidWriteNeverTearsTheFile)
{
    TempMachine machine;
    const QString big = QString(400000, QLatin1Char('a'));
    const QString other = QString(300000, QLatin1Char('b'));
    ASSERT_TRUE(WriteSetting(QStringLiteral("Big"), big));
    const QByteArray first = ReadFile(machine.settingsFile());
    ASSERT_TRUE(WriteSetting(QStringLiteral("Big"), other));
    const QByteArray second = ReadFile(machine.settingsFile());

    for (int round = 0; round < 30; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                WriteSetting(QStringLiteral("Big"), (i % 2) ? big : other);
        }
        usleep(1000 + (round * 1700) % 20000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const QByteArray now = ReadFile(machine.settingsFile());
        ASSERT_TRUE(now == first || now == second) << "torn file of " << now.size() << " bytes in round " << round;
    }
}

// Start at boot: an XDG autostart entry named after the executable.
TEST(Settings, BootRunEntryAddedThenRemoved)
{
    TempMachine machine;
    const QString dir = Paths::AutostartDir();
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString exe = Paths::ExecutablePath();
    const QString entry = dir + QLatin1Char('/') + QFileInfo(exe).completeBaseName() + QStringLiteral(".desktop");

    EXPECT_TRUE(SetBootRun(1));
    const QString text = QString::fromUtf8(ReadFile(entry));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=") + exe + QLatin1Char('\n'))) << text.toStdString();
    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), { entry });
    ASSERT_TRUE(validate.waitForFinished(10000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();

    EXPECT_TRUE(SetBootRun(0));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_TRUE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    // Removing an entry that is not there is no error.
    EXPECT_TRUE(SetBootRun(0));
}

TEST(Settings, BootRunWithoutAWritableFolderFails)
{
    TempMachine machine;
    // The folder's place is taken by a file: it cannot be opened, even by root.
    WriteFile(Paths::AutostartDir(), "not a folder");
    EXPECT_FALSE(SetBootRun(1));
    EXPECT_FALSE(SetBootRun(0));
    EXPECT_EQ(ReadFile(Paths::AutostartDir()), QByteArray("not a folder"));
}

TEST(Settings, BootRunQuotesPathsWithSpaces)
{
    const QString text = BootRunDesktopEntry(QStringLiteral("/opt/my tv/krel"));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=\"/opt/my tv/krel\"\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nName=krel\n")));
    const QString odd = BootRunDesktopEntry(QStringLiteral("/opt/a$b%/krel"));
    EXPECT_TRUE(odd.contains(QStringLiteral("\nExec=\"/opt/a\\\\$b%%/krel\"\n"))) << odd.toStdString();
}
