#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include "common/InstanceLock.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
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
                  + QByteArray(80, 'x') + "\r\nLocalMovieFolders=" + QByteArray(80, 'y')
                  + "\r\n"
                    "[Config]\r\nBootRun=1\r\n");
    EXPECT_EQ(ReadSetting(key(SettingKey::SoundCard)), QStringLiteral("HDMI-TV"));
    EXPECT_EQ(ReadSetting(key(SettingKey::DisplayCard)), QStringLiteral("1920 0 3840 1080"));
    // Only the first section of a name counts; a value that is not a number reads as 0.
    EXPECT_EQ(ReadSettingNumber(key(SettingKey::BootRun)), 0);
    EXPECT_EQ(ReadSettingNumber(key(SettingKey::DisableMouseCtrl)), -12);
    // The store reads the number whole; the control window keeps 16 bits of it.
    EXPECT_EQ(ReadSettingNumber(key(SettingKey::CompanyID)), 70011);
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
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=") + exe + QStringLiteral(" --autostart\n"))) << text.toStdString();
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

// A normal user cannot write the machine-wide folder: the entry goes into the user's own autostart folder, and
// unticking removes whichever exists. With neither folder usable it fails, and nothing claims to be in effect.
TEST(Settings, BootRunFallsBackToTheUsersFolder)
{
    TempMachine machine;
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (machine.root() + QStringLiteral("/home/.config")).toUtf8());
    const QString name = QFileInfo(Paths::ExecutablePath()).completeBaseName() + QStringLiteral(".desktop");
    const QString user = machine.root() + QStringLiteral("/home/.config/autostart/") + name;
    const QString machineWide = Paths::AutostartDir() + QLatin1Char('/') + name;

    // The machine-wide folder's place is taken by a file: it cannot be written, even by root.
    WriteFile(Paths::AutostartDir(), "not a folder");
    EXPECT_FALSE(IsBootRunInEffect());
    EXPECT_TRUE(SetBootRun(1));
    EXPECT_TRUE(QFile::exists(user));
    EXPECT_TRUE(IsBootRunInEffect());
    EXPECT_TRUE(SetBootRun(0));
    EXPECT_FALSE(QFile::exists(user));
    EXPECT_FALSE(IsBootRunInEffect());

    // Both entries exist (written by another run as root): unticking removes both.
    QFile::remove(Paths::AutostartDir());
    WriteFile(machineWide, "x");
    WriteFile(user, "x");
    EXPECT_TRUE(SetBootRun(0));
    EXPECT_FALSE(QFile::exists(machineWide) || QFile::exists(user));

    // Neither folder can be made.
    QDir(Paths::AutostartDir()).removeRecursively();
    WriteFile(Paths::AutostartDir(), "not a folder");
    QDir(machine.root() + QStringLiteral("/home/.config")).removeRecursively();
    WriteFile(machine.root() + QStringLiteral("/home/.config"), "not a folder");
    EXPECT_FALSE(SetBootRun(1));
    EXPECT_FALSE(IsBootRunInEffect());
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

// A value never carries a line break into the file: it cannot make a second key.
TEST(Settings, LineBreaksInAValueStayOnItsLine)
{
    TempMachine machine;
    EXPECT_TRUE(
        WriteSetting(key(SettingKey::SoundCard), QStringLiteral("HDMI\nBootRun=1\r\nUpdateServer=http://evil")));
    EXPECT_EQ(ReadSetting(key(SettingKey::BootRun)), QString());
    EXPECT_EQ(ReadSetting(key(SettingKey::UpdateServer)), QString());
    EXPECT_EQ(ReadFile(machine.settingsFile()).count('\n'), 2); // the section line and one key
}

// The update server decides what code is fetched: it is taken from the root-only machine configuration first, and
// from the settings file only when no other account can change that file.
TEST(Settings, UpdateServerOnlyFromFilesOthersCannotChange)
{
    TempMachine machine;
    const QByteArray settingsFolder = QFile::encodeName(QFileInfo(machine.settingsFile()).absolutePath());
    const QByteArray settings = QFile::encodeName(machine.settingsFile());
    ASSERT_TRUE(WriteSetting(key(SettingKey::UpdateServer), QStringLiteral(" http://settings/ ")));
    struct Case {
        mode_t folder, file;
        const char* expected;
    };
    for (const Case& c : { Case { 0755, 0644, "http://settings/" }, Case { 0755, 0666, "" }, Case { 0755, 0664, "" },
                           Case { 0777, 0644, "" }, Case { 01777, 0644, "http://settings/" } }) {
        ::chmod(settingsFolder.constData(), c.folder);
        ::chmod(settings.constData(), c.file);
        EXPECT_EQ(ReadUpdateServer(), QString::fromLatin1(c.expected)) << std::oct << c.folder << " " << c.file;
    }
    ::chmod(settingsFolder.constData(), 0755);
    ::chmod(settings.constData(), 0666);

    // The machine configuration wins, while only root can change it.
    WriteFile(Paths::MachineConfigFile(), "[Config]\nUpdateServer=http://machine/\n");
    const QByteArray conf = QFile::encodeName(Paths::MachineConfigFile());
    ::chmod(conf.constData(), 0644);
    EXPECT_EQ(ReadUpdateServer(), QStringLiteral("http://machine/"));
    ::chmod(conf.constData(), 0646);
    EXPECT_EQ(ReadUpdateServer(), QString());
}

// Paths with blanks and the characters an Exec line reserves: the entry stays valid to the desktop's own checker.
TEST(Settings, BootRunQuotesPathsWithSpaces)
{
    TempMachine machine;
    for (const QString& path : { QStringLiteral("/opt/my tv/krel"), QStringLiteral("/opt/a$b%/krel\"`x") }) {
        const QString file = machine.root() + QStringLiteral("/krel.desktop");
        WriteFile(file, BootRunDesktopEntry(path).toUtf8());
        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), { file });
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    }
    EXPECT_TRUE(BootRunDesktopEntry(QStringLiteral("/opt/my tv/krel"))
                    .contains(QStringLiteral("\nExec=\"/opt/my tv/krel\" --autostart\n")));
}

// The XDG rules: a relative XDG_CONFIG_HOME is ignored, not taken relative to the current folder. A new file written
// atomically keeps to the umask.
TEST(Settings, RelativeXdgFoldersAndTheUmask)
{
    TempMachine machine;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(Paths::UserAutostartDir(), QDir::homePath() + QStringLiteral("/.config/autostart"));
    qputenv("XDG_CONFIG_HOME", machine.root().toUtf8() + "/cfg/");
    EXPECT_EQ(Paths::UserAutostartDir(), machine.root() + QStringLiteral("/cfg/autostart"));
    qputenv("XDG_CONFIG_HOME", old);

    const mode_t mask = ::umask(077);
    const QString file = machine.root() + QStringLiteral("/private.ini");
    const bool written = ProfileFile::WriteFileAtomically(file, "x");
    ::umask(mask);
    ASSERT_TRUE(written);
    struct stat st {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The single-instance lock is the user's own: in the user's private runtime folder, readable by nobody else.
TEST(Settings, InstanceLockIsTheUsers)
{
    const QByteArray oldRoot = qgetenv("KREL_ROOT"), oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("KREL_ROOT");
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    EXPECT_EQ(Paths::InstanceLockFile(), runtime.path() + QStringLiteral("/krel-Parlowen.lock"));
    {
        CInstanceLock lock(Paths::InstanceLockFile());
        ASSERT_TRUE(lock.Acquire());
        struct stat st {
        };
        ASSERT_EQ(::stat(QFile::encodeName(Paths::InstanceLockFile()).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    // A runtime folder others may enter is not used.
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0777);
    EXPECT_FALSE(Paths::InstanceLockFile().startsWith(runtime.path()));
    qputenv("KREL_ROOT", oldRoot);
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    if (oldRoot.isEmpty())
        qunsetenv("KREL_ROOT");
}
