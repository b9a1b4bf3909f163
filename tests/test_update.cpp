#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include "common/Globals.h"
#include "common/Settings.h"
#include "support/HttpServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "update/UpdateCheck.h"
#include "update/UpdateManager.h"

namespace
{

// An application folder with installed versions 5 / 7, and an update server folder.
class UpdateFlow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(http.IsRunning());
        machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\r\nAPP_VER=5\r\nDATA_VER=7\r\n");
        InstalledAppVersion = 0;
        InstalledDataVersion = 0;
        ASSERT_EQ(CheckPendingUpdate(), 0);
        WriteSetting(QString::fromLatin1(SettingKey::UpdateServer), http.Url(QString()));
        manager.SetNotifier([this](const QString& text) { messages << text; });
    }
    void serve(const QString& name, const QByteArray& bytes)
    {
        WriteFile(server + QStringLiteral("/update/") + name, bytes);
    }
    QString app(const QString& relative) const { return machine.appDir() + relative; }
    // Runs the update until it settles in an end state (or the last task is gone).
    void run()
    {
        manager.StartUpdate();
        ASSERT_TRUE(WaitFor([&] { return manager.TaskCount() == 0; }, 15000));
    }

    TempMachine machine;
    QString server = machine.root() + QStringLiteral("/server");
    HttpServer http { (QDir().mkpath(server), server) };
    CUpdateManager manager;
    QStringList messages;
};

} // namespace

TEST_F(UpdateFlow, BothNewerFetchesTheApplicationOnly)
{
    serve(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=6\nDATA_VER=8\n");
    serve(QStringLiteral("app.zip"), QByteArray(300000, 'a'));
    serve(QStringLiteral("data.zip"), "data");
    run();
    EXPECT_EQ(manager.State(), 2);
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/ver.dat"))), QByteArray("[Main]\nAPP_VER=6\nDATA_VER=8\n"));
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/app.zip"))), QByteArray(300000, 'a'));
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/data.zip"))));
    EXPECT_TRUE(messages.isEmpty());
    // The next start finds the parked update.
    EXPECT_EQ(CheckPendingUpdate(), 1);
}

TEST_F(UpdateFlow, OnlyDataNewer)
{
    serve(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=5\nDATA_VER=8\n");
    serve(QStringLiteral("data.zip"), "data!");
    run();
    EXPECT_EQ(manager.State(), 3);
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/data.zip"))), QByteArray("data!"));
    EXPECT_EQ(CheckPendingUpdate(), 1);
}

TEST_F(UpdateFlow, NothingNewerLeavesTheStagedFile)
{
    serve(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=5\nDATA_VER=3\n");
    run();
    EXPECT_EQ(manager.State(), 4);
    EXPECT_TRUE(QFile::exists(app(QStringLiteral("temp/ver.dat"))));
    EXPECT_TRUE(QDir(app(QStringLiteral("Update"))).isEmpty());
    EXPECT_EQ(CheckPendingUpdate(), 0);
}

TEST_F(UpdateFlow, EmptyOrFailedVersionFileChangesNothing)
{
    serve(QStringLiteral("ver.dat"), "");
    run();
    EXPECT_EQ(manager.State(), 1);
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("temp/ver.dat"))));

    CUpdateManager missing; // 404 for ver.dat: an error page is not a version file
    QFile::remove(server + QStringLiteral("/update/ver.dat"));
    missing.StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return missing.TaskCount() == 0; }, 15000));
    EXPECT_EQ(missing.State(), 1);
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("temp/ver.dat"))));
}

TEST_F(UpdateFlow, LeftoverVersionFileIsReportedAndTheArchiveStillParked)
{
    machine.writeAppFile(QStringLiteral("Update/ver.dat"), "old");
    serve(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=9\n");
    serve(QStringLiteral("app.zip"), "zip");
    run();
    EXPECT_EQ(messages, QStringList { QStringLiteral("ver.dat升级失败!") });
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/ver.dat"))), QByteArray("old"));
    EXPECT_TRUE(QFile::exists(app(QStringLiteral("temp/ver.dat"))));
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/app.zip"))), QByteArray("zip"));

    // A second run whose archive is already parked: "app升级失败!" and the staging copy stays.
    CUpdateManager again;
    QStringList more;
    again.SetNotifier([&](const QString& text) { more << text; });
    again.StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return again.TaskCount() == 0; }, 15000));
    // The version file waits for its archive, so it is not offered once the archive could not be parked.
    EXPECT_EQ(more, QStringList { QStringLiteral("app升级失败!") });
    EXPECT_EQ(ReadFile(app(QStringLiteral("temp/app.zip"))), QByteArray("zip"));
}

TEST_F(UpdateFlow, ErrorPagesAndCutArchivesAreNeverParked)
{
    serve(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=9\n");
    run(); // app.zip is missing: 404
    EXPECT_EQ(manager.State(), 2);
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/app.zip"))));
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("temp/app.zip"))));
    // Without its archive the version file is not parked: the next start must not hand over for nothing.
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/ver.dat"))));

    serve(QStringLiteral("app.zip.cut"), QByteArray(5000, 'c')); // announces 10000, sends 5000
    CUpdateManager cut;
    cut.StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return cut.TaskCount() == 0; }, 15000));
    EXPECT_EQ(cut.State(), 2);
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/app.zip"))));
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/ver.dat"))));
}

TEST_F(UpdateFlow, WithoutAServerNothingStarts)
{
    WriteSetting(QString::fromLatin1(SettingKey::UpdateServer), QString());
    manager.StartUpdate();
    EXPECT_EQ(manager.State(), 0);
    EXPECT_EQ(manager.TaskCount(), 0);
}

TEST(UpdateMove, NeverReplaces)
{
    TempMachine machine;
    machine.writeAppFile(QStringLiteral("a"), "a");
    machine.writeAppFile(QStringLiteral("b"), "b");
    EXPECT_FALSE(MoveNoReplace(machine.appDir() + QStringLiteral("a"), machine.appDir() + QStringLiteral("b")));
    EXPECT_EQ(ReadFile(machine.appDir() + QStringLiteral("b")), QByteArray("b"));
    EXPECT_TRUE(MoveNoReplace(machine.appDir() + QStringLiteral("a"), machine.appDir() + QStringLiteral("c")));
    EXPECT_FALSE(QFile::exists(machine.appDir() + QStringLiteral("a")));
}

// Faults of the update server: an error status, a stall, and quitting while the download stalls.
TEST_F(UpdateFlow, ServerErrorsAndStallsParkNothingAndQuitPromptly)
{
    // 500 for the version file: nothing staged, nothing parked.
    WriteSetting(QString::fromLatin1(SettingKey::UpdateServer), http.Url(QStringLiteral("status/500")));
    manager.StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return manager.TaskCount() == 0; }, 15000));
    EXPECT_EQ(manager.State(), 1);
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("temp/ver.dat"))));

    // The archive stalls mid-body: the event loop stays responsive, and quitting ends within a second.
    serve(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=9\n");
    serve(QStringLiteral("app.zip.stall"), "");
    WriteSetting(QString::fromLatin1(SettingKey::UpdateServer), http.Url(QString()));
    auto stalled = std::make_unique<CUpdateManager>();
    stalled->StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return stalled->State() == 2; }, 15000));
    QElapsedTimer responsive;
    responsive.start();
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });
    ASSERT_TRUE(WaitFor([&] { return ticked; }, 2000));
    EXPECT_LT(responsive.elapsed(), 1000);
    QElapsedTimer quit;
    quit.start();
    stalled.reset();
    EXPECT_LT(quit.elapsed(), 1000);
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("temp/app.zip"))));
}
