#include <QCryptographicHash>
#include <QDateTime>
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
#include "update/UpdateSignature.h"

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
    // Serves a version file that names the size and SHA-256 of the archives served now (of an empty body where none
    // is), valid for the given days.
    QByteArray offer(const QByteArray& text, int validDays = 1)
    {
        QByteArray full = text + "VALID_UNTIL="
            + QDateTime::currentDateTimeUtc().addDays(validDays).toString(Qt::ISODate).toLatin1() + "\n";
        for (const char* name : { "app", "data" }) {
            QByteArray body;
            for (const char* suffix : { ".zip", ".zip.cut" })
                if (QFile::exists(server + QStringLiteral("/update/") + QLatin1String(name) + QLatin1String(suffix)))
                    body = ReadFile(server + QStringLiteral("/update/") + QLatin1String(name) + QLatin1String(suffix));
            full += QByteArray(name).toUpper()
                + "_SHA256=" + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + "\n";
            if (!body.isEmpty())
                full += QByteArray(name).toUpper() + "_SIZE=" + QByteArray::number(body.size()) + "\n";
        }
        serve(QStringLiteral("ver.dat"), full);
        return full;
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
    serve(QStringLiteral("app.zip"), QByteArray(300000, 'a'));
    serve(QStringLiteral("data.zip"), "data");
    const QByteArray offered = offer("[Main]\nAPP_VER=6\nDATA_VER=8\n");
    run();
    EXPECT_EQ(manager.State(), 2);
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/ver.dat"))), offered);
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/app.zip"))), QByteArray(300000, 'a'));
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/data.zip"))));
    EXPECT_TRUE(messages.isEmpty());
    // The next start finds the parked update.
    EXPECT_EQ(CheckPendingUpdate(), 1);
}

TEST_F(UpdateFlow, OnlyDataNewer)
{
    serve(QStringLiteral("data.zip"), "data!");
    offer("[Main]\nAPP_VER=5\nDATA_VER=8\n");
    run();
    EXPECT_EQ(manager.State(), 3);
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/data.zip"))), QByteArray("data!"));
    EXPECT_EQ(CheckPendingUpdate(), 1);
}

TEST_F(UpdateFlow, NothingNewerLeavesTheStagedFile)
{
    offer("[Main]\nAPP_VER=5\nDATA_VER=3\n");
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

// What an interrupted earlier run left in Update/ never keeps the next update from being parked.
TEST_F(UpdateFlow, LeftoverParkedFilesAreReplaced)
{
    machine.writeAppFile(QStringLiteral("Update/ver.dat"), "old");
    machine.writeAppFile(QStringLiteral("Update/ver.dat.sig"), "old");
    machine.writeAppFile(QStringLiteral("Update/app.zip"), "old zip");
    serve(QStringLiteral("app.zip"), "zip");
    const QByteArray offered = offer("[Main]\nAPP_VER=9\n");
    run();
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/ver.dat"))), offered);
    EXPECT_EQ(ReadFile(app(QStringLiteral("Update/app.zip"))), QByteArray("zip"));
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/ver.dat.sig"))));
}

TEST_F(UpdateFlow, ErrorPagesAndCutArchivesAreNeverParked)
{
    offer("[Main]\nAPP_VER=9\n");
    run(); // app.zip is missing: 404
    EXPECT_EQ(manager.State(), 2);
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/app.zip"))));
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("temp/app.zip"))));
    // Without its archive the version file is not parked: the next start must not hand over for nothing.
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("Update/ver.dat"))));

    serve(QStringLiteral("app.zip.cut"), QByteArray(5000, 'c')); // announces 10000, sends 5000
    offer("[Main]\nAPP_VER=9\n");
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
    serve(QStringLiteral("app.zip.stall"), "");
    offer("[Main]\nAPP_VER=9\n");
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
    EXPECT_FALSE(QFile::exists(app(QStringLiteral("temp/app.zip.part"))));
}

namespace
{

QStringList g_refusals;

void keepRefusals(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.startsWith(QLatin1String("update refused:")))
        g_refusals << message;
}

} // namespace

// Every way an update can fail to prove where it comes from: one log line naming the reason, nothing parked, no
// message box; and a proven one is parked with its signature.
TEST_F(UpdateFlow, UnprovenUpdatesAreRefused)
{
    QByteArray key, trusted, otherKey, otherPublic;
    ASSERT_TRUE(UpdateSignature::MakeKeyPair(&key, &trusted));
    ASSERT_TRUE(UpdateSignature::MakeKeyPair(&otherKey, &otherPublic));
    const QByteArray version = "[Main]\nDATA_VER=8\n";
    const auto signWith = [&](const QByteArray& pem) {
        serve(QStringLiteral("ver.dat.sig"), UpdateSignature::Sign(ReadFile(server + "/update/ver.dat"), pem));
    };
    // A signed offer whose key is empty.
    const auto offerSignedWithout = [&](const char* name) {
        offer(version);
        serve(QStringLiteral("ver.dat"),
              UpdateSignature::SetVersionKeys(ReadFile(server + "/update/ver.dat"), { { name, "" } }));
        signWith(key);
    };
    struct Case {
        const char* name;
        bool keyInstalled;
        std::function<void()> prepare;
        const char* reason; // "" when the update is parked
    };
    const Case cases[] = {
        { "http to another machine", false,
          [&] { WriteSetting(QString::fromLatin1(SettingKey::UpdateServer), QStringLiteral("http://192.0.2.1/")); },
          "neither https nor this machine" },
        { "a redirect to plain http", false,
          [&] { serve(QStringLiteral("ver.dat.redirect"), http.Url(QStringLiteral("elsewhere/ver.dat")).toUtf8()); },
          "no complete version file" },
        { "an archive without its hash", false, [&] { serve(QStringLiteral("ver.dat"), version); },
          "without its DATA_SHA256" },
        { "an endless version file", false,
          [&] { serve(QStringLiteral("ver.dat"), version + QByteArray(1 << 20, '#')); }, "at most 65536 bytes" },
        { "no signature", true, [&] { offer(version); }, "no signature" },
        { "signed by another key", true, [&] { offer(version), signWith(otherKey); }, "not signed by a trusted key" },
        { "the archive changed after signing", true,
          [&] { offer(version), signWith(key), serve(QStringLiteral("data.zip"), "DATA"); }, "does not match" },
        { "only an unusable key file", true,
          [&] { machine.writeAppFile(QStringLiteral("keys/server.pub"), "garbage"), offer(version); },
          "holds no usable key" },
        { "only a key another account may change", true,
          [&] {
              QFile(app(QStringLiteral("keys/server.pub")))
                  .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther
                                  | QFileDevice::WriteOther);
              offer(version), signWith(key);
          },
          "holds no usable key" },
        { "an expired version file", true, [&] { offer(version, -1), signWith(key); }, "expired" },
        { "a signed file without VALID_UNTIL", true, [&] { offerSignedWithout("VALID_UNTIL"); },
          "no valid VALID_UNTIL" },
        { "a signed file without the archive's size", true, [&] { offerSignedWithout("DATA_SIZE"); },
          "without its DATA_SIZE" },
        { "an archive longer than signed, sent without its length", true,
          [&] {
              offer(version), signWith(key);
              QFile::remove(server + QStringLiteral("/update/data.zip"));
              serve(QStringLiteral("data.zip.unsized"), "data and much more");
          },
          "no complete data.zip" },
        { "signed by the trusted key", true, [&] { offer(version), signWith(key); }, "" },
    };
    qInstallMessageHandler(keepRefusals);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(server + QStringLiteral("/update")).removeRecursively();
        QDir(app(QStringLiteral("Update"))).removeRecursively();
        QDir(app(QStringLiteral("keys"))).removeRecursively();
        if (c.keyInstalled)
            machine.writeAppFile(QStringLiteral("keys/server.pub"), trusted);
        WriteSetting(QString::fromLatin1(SettingKey::UpdateServer), http.Url(QString()));
        serve(QStringLiteral("data.zip"), "data");
        c.prepare();
        g_refusals.clear();
        CUpdateManager update;
        update.StartUpdate();
        ASSERT_TRUE(WaitFor([&] { return update.TaskCount() == 0; }, 15000));
        if (*c.reason) {
            ASSERT_EQ(g_refusals.size(), 1) << g_refusals.join(QLatin1Char('\n')).toStdString();
            EXPECT_TRUE(g_refusals[0].contains(QLatin1String(c.reason))) << g_refusals[0].toStdString();
            EXPECT_TRUE(QDir(app(QStringLiteral("Update"))).isEmpty());
        } else {
            EXPECT_TRUE(g_refusals.isEmpty()) << g_refusals.join(QLatin1Char('\n')).toStdString();
            EXPECT_EQ(ReadFile(app(QStringLiteral("Update/data.zip"))), QByteArray("data"));
            EXPECT_TRUE(UpdateSignature::Verify(ReadFile(app(QStringLiteral("Update/ver.dat"))),
                                                ReadFile(app(QStringLiteral("Update/ver.dat.sig"))), { trusted }));
        }
    }
    qInstallMessageHandler(nullptr);
    EXPECT_TRUE(messages.isEmpty());
}

// A server that offers an older version than it did before (an old version file replayed, or a withdrawn release)
// is logged, so that a frozen box is noticed.
TEST_F(UpdateFlow, AnOfferOlderThanOneSeenBeforeIsLogged)
{
    serve(QStringLiteral("data.zip"), "data");
    offer("[Main]\nDATA_VER=9\n");
    run();
    ASSERT_TRUE(QFile::exists(app(QStringLiteral("Update/data.zip"))));
    QDir(app(QStringLiteral("Update"))).removeRecursively();

    offer("[Main]\nDATA_VER=8\n");
    g_refusals.clear();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        if (message.contains(QLatin1String("older than")))
            g_refusals << message;
    });
    CUpdateManager again;
    again.StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return again.TaskCount() == 0; }, 15000));
    qInstallMessageHandler(nullptr);
    ASSERT_EQ(g_refusals.size(), 1);
    EXPECT_TRUE(g_refusals[0].contains(QLatin1String("data version 8, older than version 9")))
        << g_refusals[0].toStdString();
}
