// The phone remote: a real browser (Debian's chromium driven by puppeteer-core) pairs with the QR code read from
// the TV and drives the TV; and every way of getting in without pairing is refused.
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/TvCfgDlg.h"
#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "phone/LocalNetwork.h"
#include "phone/PhoneRemote.h"
#include "remote/KeyRouter.h"
#include "support/CatalogueFixture.h"
#include "support/HttpServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/MainFrame.h"

extern XvfbServer* g_pXServer;

namespace
{

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

// The phone's browser: one command a line, one answer a line.
class Browser
{
public:
    Browser()
    {
        m_node.setProgram(QStringLiteral("node"));
        m_node.setArguments({ QStringLiteral(KREL_TEST_SUPPORT "/phone_browser.js"), QStringLiteral(KREL_PHONE_BROWSER) });
        m_node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_node.start();
    }
    ~Browser()
    {
        m_node.closeWriteChannel();
        if (!m_node.waitForFinished(10000))
            m_node.kill();
    }
    QString Do(const QString& command)
    {
        m_node.write(command.toUtf8() + '\n');
        QByteArray line;
        WaitFor(
            [&] {
                if (m_node.canReadLine())
                    line = m_node.readLine().trimmed();
                return !line.isEmpty() || m_node.state() == QProcess::NotRunning;
            },
            60000);
        return QString::fromUtf8(line);
    }

private:
    QProcess m_node;
};

// The control window with the phone remote switched on, TV output running on the TV.
class PhoneRemote : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeEmptyCatalogue(machine.appDir()));
        QDir().mkpath(machine.root() + QStringLiteral("/films/家庭录像"));
        WriteSetting(QString::fromLatin1(SettingKey::LocalMovieFolders), machine.root() + QStringLiteral("/films"));
        WriteSetting(QString::fromLatin1(SettingKey::DisplayName), QStringLiteral("TV|||"));
        WriteSetting(QString::fromLatin1(SettingKey::PhoneRemote), QStringLiteral("1"));
        WriteSetting(QString::fromLatin1(SettingKey::PhoneRemotePort), QString::number(port));
        dialog = std::make_unique<CTvCfgDlg>(&router, nullptr);
        dialog->SetMessageBox([](QWidget*, const QString& text, const QString&) { ADD_FAILURE() << text.toStdString(); });
        dialog->OnInitDialog();
        ASSERT_NE(dialog->PhoneRemote(), nullptr);
    }
    void TearDown() override
    {
        dialog.reset();
        g_dbCatalogue.Close();
    }
    QString base() const { return QStringLiteral("http://%1:%2").arg(LanAddress()).arg(port); }

    // The status of a raw request to the remote, as a client on this machine sends it; 0 when the connection is
    // closed without an answer.
    int status(const QByteArray& request)
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (!WaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }))
            return 0;
        s.write(request);
        QByteArray got;
        WaitFor([&] {
            got += s.readAll();
            return got.contains("\r\n") || s.state() != QAbstractSocket::ConnectedState;
        });
        return got.startsWith("HTTP/1.1 ") ? got.mid(9, 3).toInt() : 0;
    }
    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(port); }
    QByteArray post(const QByteArray& path, const QByteArray& body, const QByteArray& extra = {}) const
    {
        return "POST " + path + " HTTP/1.1\r\nHost: " + host() + "\r\nOrigin: http://" + host()
            + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n" + extra + "\r\n" + body;
    }

    quint16 port = freePort();
    TempMachine machine;
    CRemoteKeyRouter router;
    std::unique_ptr<CTvCfgDlg> dialog;
};

} // namespace

TEST_F(PhoneRemote, PairsByTheQrCodeOnTheTvAndDrivesIt)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_PHONE_BROWSER "/node_modules/puppeteer-core/package.json")))
        << "run phone_browser.sh first";
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    router.PostKey(RC_Power, 0);
    ASSERT_TRUE(WaitFor([&] { return dialog->MainFrame() && ShowsMenu(CaptureTvScreen(*g_pXServer)); }, 10000));

    // The QR code on the TV, read from the screen as a phone's camera would.
    dialog->PairPhone();
    QTemporaryDir dir;
    QString address;
    ASSERT_TRUE(WaitFor(
        [&] {
            CaptureTvScreen(*g_pXServer).save(dir.filePath(QStringLiteral("tv.png")));
            QProcess zbar;
            zbar.start(QStringLiteral("zbarimg"), { QStringLiteral("--raw"), QStringLiteral("-q"),
                                                    dir.filePath(QStringLiteral("tv.png")) });
            zbar.waitForFinished(20000);
            address = QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
            return !address.isEmpty();
        },
        20000));
    EXPECT_TRUE(address.startsWith(base() + QStringLiteral("/pair?t="))) << address.toStdString();

    Browser phone;
    EXPECT_EQ(phone.Do(QStringLiteral("open ") + address), QStringLiteral("ok ") + base() + QStringLiteral("/"));
    EXPECT_EQ(phone.Do(QStringLiteral("cookie")), QStringLiteral("ok httpOnly=true sameSite=Strict"));
    EXPECT_FALSE(dialog->PhoneRemote()->IsPairing()); // the ticket is used up
    EXPECT_TRUE(phone.Do(QStringLiteral("rows")).startsWith(QStringLiteral("ok ")));

    // Keys take the router's route: Back to the home list, then its row 3 (local films) by a tap.
    EXPECT_EQ(phone.Do(QStringLiteral("key Back")), QStringLiteral("ok 204"));
    ASSERT_TRUE(WaitFor([&] { return dialog->MainFrame()->Menu().ListSet().State() == CItemListSet::Home; }));
    const QImage home = CaptureTvScreen(*g_pXServer);
    EXPECT_EQ(phone.Do(QStringLiteral("tap 3")), QStringLiteral("ok"));
    EXPECT_EQ(dialog->MainFrame()->Menu().ListSet().State(), CItemListSet::LocalMovies);
    EXPECT_TRUE(WaitFor([&] { return CaptureTvScreen(*g_pXServer) != home; }));

    // A page of another site open in the same browser can neither press a key nor read the menu.
    EXPECT_EQ(phone.Do(QStringLiteral("visit ") + http.Url(QStringLiteral("attacker.html#")) + base()),
              QStringLiteral("ok post=sent read=failed"));
    EXPECT_NE(dialog->MainFrame(), nullptr);

    // "Send to TV" plays a page over the whole TV.
    EXPECT_EQ(phone.Do(QStringLiteral("send ") + http.Url(QStringLiteral("videojs.html"))), QStringLiteral("ok"));
    EXPECT_TRUE(WaitFor(
        [&] {
            const QImage tv = CaptureTvScreen(*g_pXServer);
            return qRed(tv.pixel(960, 540)) > 180 && qGreen(tv.pixel(960, 540)) < 80 && qRed(tv.pixel(100, 100)) > 180;
        },
        40000));

    // Power, asked once on the phone, ends TV output with the shutdown prompt.
    EXPECT_EQ(phone.Do(QStringLiteral("power")), QStringLiteral("ok"));
    EXPECT_TRUE(WaitFor([&] { return !dialog->MainFrame() && dialog->ShutdownDialog(); }));
}

// Each way in without pairing, refused.
TEST_F(PhoneRemote, Refusals)
{
    CPhoneRemote& remote = *dialog->PhoneRemote();
    const QByteArray get = "GET / HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    EXPECT_EQ(status(get), 200);
    EXPECT_EQ(status("GET / HTTP/1.1\r\nHost: rebind.example.com:" + QByteArray::number(port) + "\r\n\r\n"), 421);

    // A phone pairs with the ticket; the same ticket again, or one whose time is over, pairs nothing.
    CPhoneRemote::Pairing pairing = remote.StartPairing();
    const QByteArray ticket = "GET /pair?t=" + pairing.address.section(QStringLiteral("t="), 1).toLatin1()
        + " HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    EXPECT_EQ(status(ticket), 303);
    EXPECT_EQ(status(ticket), 403);
    pairing = remote.StartPairing();
    remote.EndPairing(); // as when its two minutes are over
    EXPECT_EQ(status("GET /pair?t=" + pairing.address.section(QStringLiteral("t="), 1).toLatin1()
                     + " HTTP/1.1\r\nHost: " + host() + "\r\n\r\n"),
              403);

    // Wrong short codes: a few a minute, then a pause in which even the right code is refused.
    pairing = remote.StartPairing();
    const QByteArray wrong = pairing.code == QLatin1String("000000") ? "111111" : "000000";
    for (int i = 0; i < CPhoneRemote::kCodeTriesPerMinute; ++i)
        EXPECT_EQ(status(post("/pair", "code=" + wrong)), 403);
    EXPECT_EQ(status(post("/pair", "code=" + pairing.code.toLatin1())), 429);
    remote.EndPairing();

    struct Case {
        const char* what;
        QByteArray request;
        int status;
    } cases[] = {
        { "no secret", post("/key", "key=Power"), 401 },
        { "a wrong secret", post("/key", "key=Power", "Cookie: krel_phone=guess\r\n"), 401 },
        { "another site's POST", post("/key", "key=Power").replace("Origin: http://" + host(), "Origin: http://evil.example"),
          403 },
        { "a POST without Origin", post("/key", "key=Power").replace("Origin: http://" + host() + "\r\n", ""), 403 },
        { "an oversized request", post("/send", "url=" + QByteArray(CPhoneRemote::kMaxRequestBytes + 1, 'a')), 413 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(status(c.request), c.status) << c.what;
    EXPECT_EQ(dialog->MainFrame(), nullptr); // Power was never taken

    // Idle connections up to the cap; the next one is closed unanswered, and room comes back as they go.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < CPhoneRemote::kMaxConnections; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(WaitFor([&] { return idle.back()->state() == QAbstractSocket::ConnectedState; }));
    }
    EXPECT_EQ(status(get), 0);
    idle.clear();
    int last = -2;
    EXPECT_TRUE(WaitFor([&] { return (last = status(get)) == 200; }, 30000)) << last;

    // Switched off: nothing listens.
    dialog->EnablePhoneRemote(false);
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(WaitFor([&] { return s.error() == QAbstractSocket::ConnectionRefusedError; }));
}
