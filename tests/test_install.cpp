// The installed program, run by a normal user: installed into a staging root (DESTDIR) and started there as an
// unprivileged user id that no account names, under the two-monitor X server. TV output shows the starter catalogue
// from the user's own state folder, and the weekly update is staged there.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/HttpServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"

extern XvfbServer* g_pXServer;

namespace
{

class Installed : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::getuid() != 0)
            GTEST_SKIP() << "needs root to run a program as another user";
        // An account that no passwd or group entry names: nothing is added to the machine, so nothing is left.
        for (uid = 61000; uid < 65000 && (::getpwuid(uid) || ::getgrgid(uid)); ++uid) { }
        ASSERT_LT(uid, 65000u) << "no free user id";
        gid = uid;
        // Everything the account must reach is readable on the way down.
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        stage = dir.path() + QStringLiteral("/stage");
        home = dir.path() + QStringLiteral("/home");
        runtime = dir.path() + QStringLiteral("/run");
        machine = dir.path() + QStringLiteral("/machine");

        QProcess install;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), stage);
        install.setProcessEnvironment(env);
        install.start(QStringLiteral("cmake"),
                      { QStringLiteral("--install"), QStringLiteral(KREL_BUILD_DIR), QStringLiteral("--prefix"),
                        QStringLiteral("/usr") });
        ASSERT_TRUE(install.waitForFinished(120000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

        for (const QString& own : { home, runtime }) {
            QDir().mkpath(own);
            EXPECT_EQ(::chown(QFile::encodeName(own).constData(), uid, gid), 0) << own.toStdString();
            ::chmod(QFile::encodeName(own).constData(), 0700);
        }
        // The machine root is shared like /tmp (the instance lock lives there); its etc/krel is root's.
        QDir().mkpath(machine + QStringLiteral("/etc/krel"));
        ::chmod(QFile::encodeName(machine).constData(), 01777);
        WriteFile(machine + QStringLiteral("/etc/krel/krel.conf"),
                  QStringLiteral("[Config]\nUpdateServer=%1\n").arg(http.Url(QString())).toUtf8());
        WriteFile(site.path() + QStringLiteral("/update/ver.dat"),
                  "[Main]\nAPP_VER=1\nDATA_VER=9\nDATA_SHA256="
                      + QCryptographicHash::hash("PK-not-really", QCryptographicHash::Sha256).toHex() + "\n");
        WriteFile(site.path() + QStringLiteral("/update/data.zip"), "PK-not-really");
        // The user's settings: the TV is the right monitor.
        asUser({ QStringLiteral("sh"), QStringLiteral("-c"),
                 QStringLiteral("mkdir -p \"$HOME/.config/krel\" && printf '[Config]\\nDisplayCard=1920 0 3840 1080\\n"
                                "DisableMouseCtrl=1\\n' > \"$HOME/.config/krel/Krel.ini\"") })
            ->waitForFinished(10000);
    }
    void TearDown() override
    {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }

    // A program run as the unprivileged account, with a clean environment of its own.
    QProcess* asUser(const QStringList& command)
    {
        processes.push_back(std::make_unique<QProcess>());
        QProcess* p = processes.back().get();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args { QStringLiteral("--reuid=%1").arg(uid),
                           QStringLiteral("--regid=%1").arg(gid),
                           QStringLiteral("--clear-groups"),
                           QStringLiteral("env"),
                           QStringLiteral("-i"),
                           QStringLiteral("HOME=") + home,
                           QStringLiteral("XDG_RUNTIME_DIR=") + runtime,
                           QStringLiteral("DISPLAY=") + qEnvironmentVariable("DISPLAY"),
                           QStringLiteral("KREL_ROOT=") + machine,
                           QStringLiteral("PATH=/usr/bin:/bin"),
                           QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX=1"),
                           QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox") };
        p->start(QStringLiteral("setpriv"), args + command);
        p->waitForStarted(10000);
        return p;
    }
    bool press(const QString& key)
    {
        QProcess* remote
            = asUser(QStringList { stage + QStringLiteral("/usr/bin/krel-remote") } + key.split(QLatin1Char(' ')));
        return remote->waitForFinished(10000) && remote->exitCode() == 0;
    }
    bool showsMenu() { return ShowsMenu(CaptureTvScreen(*g_pXServer)); }
    QString state(const QString& relative) const { return home + QStringLiteral("/.local/share/krel/") + relative; }

    QTemporaryDir dir;
    QTemporaryDir site; // what the update server serves
    HttpServer http { site.path() };
    QString stage, home, runtime, machine;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<std::unique_ptr<QProcess>> processes;
};

} // namespace

TEST_F(Installed, NormalUserGetsTheStarterCatalogueAndStagesTheUpdate)
{
    QProcess* krel = asUser({ stage + QStringLiteral("/usr/bin/krel") });
    ASSERT_TRUE(WaitFor([&] { return press(QStringLiteral("raw 0707 01")); }, 30000)) << "krel does not answer";

    // The starter catalogue became the user's, owned by the user.
    QFileInfo data(state(QStringLiteral("Data/data.mdb")));
    ASSERT_TRUE(data.exists());
    EXPECT_EQ(data.ownerId(), uid);
    EXPECT_TRUE(QFile::exists(state(QStringLiteral("ver.dat"))));

    ASSERT_TRUE(press(QStringLiteral("Power")));
    EXPECT_TRUE(WaitFor([&] { return showsMenu(); }, 20000)) << "no menu on the TV";

    // The installed program was made today, so today is its update day: the update is parked in the user's state.
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(state(QStringLiteral("Update/ver.dat"))); }, 20000));
    EXPECT_EQ(ReadFile(state(QStringLiteral("Update/data.zip"))), QByteArray("PK-not-really"));
    EXPECT_FALSE(QFileInfo::exists(stage + QStringLiteral("/usr/lib/krel/Update")));
    EXPECT_EQ(krel->state(), QProcess::Running);

    // The administrator's machine-wide start at boot, written without running the program: it names the installed
    // command, which stays valid when the program file is replaced by an upgrade.
    QProcess admin;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KREL_ROOT"), machine);
    env.remove(QStringLiteral("DISPLAY"));
    admin.setProcessEnvironment(env);
    admin.start(stage + QStringLiteral("/usr/lib/krel/krel"), { QStringLiteral("--autostart=system") });
    ASSERT_TRUE(admin.waitForFinished(10000));
    EXPECT_EQ(admin.exitCode(), 0);
    EXPECT_TRUE(ReadFile(machine + QStringLiteral("/etc/xdg/autostart/krel.desktop"))
                    .contains("\nExec=" + QFile::encodeName(stage) + "/usr/bin/krel --autostart\n"));
}
