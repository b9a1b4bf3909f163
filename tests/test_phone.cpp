// The phone remote: a real browser (Debian's chromium driven by puppeteer-core) pairs with the QR code read from
// the TV and drives the TV; and every way of getting in without pairing is refused.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QScopeGuard>
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
#include "catalogue/ItemBase.h"
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
#include "tv/film/LocalPlayer.h"
#include "tv/speech/Speaker.h"

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
        m_node.setArguments(
            { QStringLiteral(KREL_TEST_SUPPORT "/phone_browser.js"), QStringLiteral(KREL_PHONE_BROWSER) });
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
        dialog->SetMessageBox(
            [](QWidget*, const QString& text, const QString&) { ADD_FAILURE() << text.toStdString(); });
        dialog->OnInitDialog();
        ASSERT_NE(dialog->PhoneRemote(), nullptr);
    }
    void TearDown() override
    {
        dialog.reset();
        g_dbCatalogue.Close();
    }
    QString base() const { return QStringLiteral("http://%1:%2").arg(LanAddress()).arg(port); }

    // The head of the answer to a raw request, as a client on this machine (from the loopback address from) sends
    // it; "" when the connection is closed without an answer.
    QByteArray answer(const QByteArray& request, const QHostAddress& from = QHostAddress::LocalHost)
    {
        QTcpSocket s;
        s.bind(from);
        s.connectToHost(QHostAddress::LocalHost, port);
        if (!WaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }))
            return {};
        s.write(request);
        QByteArray got;
        WaitFor([&] {
            got += s.readAll();
            return got.contains("\r\n\r\n") || s.state() != QAbstractSocket::ConnectedState;
        });
        return got.left(got.indexOf("\r\n\r\n") + 2);
    }
    // Its status; 0 when the connection is closed without an answer.
    int status(const QByteArray& request, const QHostAddress& from = QHostAddress::LocalHost)
    {
        const QByteArray got = answer(request, from);
        return got.startsWith("HTTP/1.1 ") ? got.mid(9, 3).toInt() : 0;
    }
    // Opens a connection from the loopback address from that sends nothing.
    std::unique_ptr<QTcpSocket> idleConnection(const QHostAddress& from = QHostAddress::LocalHost)
    {
        auto s = std::make_unique<QTcpSocket>();
        s->bind(from);
        s->connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(WaitFor([&] { return s->state() == QAbstractSocket::ConnectedState; }));
        return s;
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

// A name /etc/hosts gives the loopback address besides localhost and this machine's own name ("" when there is none).
QString LoopbackAlias()
{
    QFile hosts(QStringLiteral("/etc/hosts"));
    if (!hosts.open(QIODevice::ReadOnly))
        return {};
    const QString self = QHostInfo::localHostName().toLower();
    for (const QByteArray& line : hosts.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line)
                                       .section(QLatin1Char('#'), 0, 0)
                                       .simplified()
                                       .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 2 || !QHostAddress(fields[0]).isLoopback())
            continue;
        for (const QString& name : fields.mid(1))
            if (!name.toLower().startsWith(QLatin1String("localhost")) && name.toLower() != self
                && name.toLower() != self + QLatin1String(".local"))
                return name;
    }
    return {};
}

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
            zbar.start(QStringLiteral("zbarimg"),
                       { QStringLiteral("--raw"), QStringLiteral("-q"), dir.filePath(QStringLiteral("tv.png")) });
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
    // The d-pad: the first arrow shows the highlight, three more walk it to row 3, OK opens it as its digit would.
    const auto state = [&] { return dialog->MainFrame()->Menu().ListSet().State(); };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(phone.Do(QStringLiteral("key Down")), QStringLiteral("ok 204"));
    EXPECT_TRUE(WaitFor([&] { return dialog->MainFrame()->Menu().Highlight() == 3; }));
    EXPECT_EQ(phone.Do(QStringLiteral("key Ok")), QStringLiteral("ok 204"));
    EXPECT_TRUE(WaitFor([&] { return state() == CItemListSet::LocalMovies; }));
    for (int i = 0; i < 2; ++i) // up to the video types, and home
        EXPECT_EQ(phone.Do(QStringLiteral("key Back")), QStringLiteral("ok 204"));
    ASSERT_TRUE(WaitFor([&] { return state() == CItemListSet::Home; }));
    const QImage home = CaptureTvScreen(*g_pXServer);
    EXPECT_EQ(phone.Do(QStringLiteral("tap 3")), QStringLiteral("ok"));
    EXPECT_EQ(dialog->MainFrame()->Menu().ListSet().State(), CItemListSet::LocalMovies);
    EXPECT_TRUE(WaitFor([&] { return CaptureTvScreen(*g_pXServer) != home; }));

    // Spoken menus switched on the phone: stored, ticked in the settings window, and speaking; switched off in the
    // window, the phone's switch follows.
    EXPECT_EQ(phone.Do(QStringLiteral("speech")), QStringLiteral("ok 204"));
    auto* speakBox = dialog->findChild<QCheckBox*>(QStringLiteral("speakMenus"));
    ASSERT_NE(speakBox, nullptr);
    EXPECT_TRUE(WaitFor([&] { return speakBox->isChecked() && CSpeaker::Instance(); }));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::SpeakMenus)), QStringLiteral("1"));
    speakBox->click();
    EXPECT_EQ(CSpeaker::Instance(), nullptr);
    EXPECT_EQ(phone.Do(QStringLiteral("speech? off")), QStringLiteral("ok"));

    // A page of another site open in the same browser can neither press a key nor read the menu.
    EXPECT_EQ(phone.Do(QStringLiteral("visit ") + http.Url(QStringLiteral("attacker.html#")) + base()),
              QStringLiteral("ok post=sent read=failed"));
    EXPECT_NE(dialog->MainFrame(), nullptr);

    // "Send to TV" plays a page over the whole TV. The page is another site's (an address of this machine is not
    // sent): the TV's web view reaches it through the test server acting as a proxy.
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), http.Port()));
    const QByteArray flags = qgetenv("KREL_CHROMIUM_FLAGS");
    qputenv("KREL_CHROMIUM_FLAGS", flags + " --proxy-server=http://127.0.0.1:" + QByteArray::number(http.Port()));
    const auto direct = qScopeGuard([flags] {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        qputenv("KREL_CHROMIUM_FLAGS", flags);
    });
    // A name that resolves to this machine (an alias of the loopback address in /etc/hosts) is refused as its
    // address is.
    if (const QString alias = LoopbackAlias(); !alias.isEmpty()) {
        EXPECT_EQ(phone.Do(QStringLiteral("send http://%1:631/").arg(alias)), QStringLiteral("ok 400"))
            << alias.toStdString();
    }
    EXPECT_EQ(phone.Do(QStringLiteral("send http://video.example/videojs.html")), QStringLiteral("ok 204"));
    EXPECT_TRUE(WaitFor(
        [&] {
            const QImage tv = CaptureTvScreen(*g_pXServer);
            return qRed(tv.pixel(960, 540)) > 180 && qGreen(tv.pixel(960, 540)) < 80 && qRed(tv.pixel(100, 100)) > 180;
        },
        90000));
    // The menu beneath is in its playing state, as for a chosen episode.
    EXPECT_TRUE(dialog->MainFrame()->Menu().ListSet().IsPlaying());

    // "收藏" from the phone: a page of another site is kept under its name (an address of this machine is not, by the
    // rules of "send to TV") and listed on the phone; at Home 4 on the TV it plays; removed on the phone, it is gone.
    EXPECT_EQ(phone.Do(QStringLiteral("favourite http://127.0.0.1:631/ 本机")), QStringLiteral("ok 400"));
    EXPECT_EQ(phone.Do(QStringLiteral("favourite http://video.example/plain.html 我的剧")), QStringLiteral("ok 204"));
    EXPECT_EQ(phone.Do(QStringLiteral("list favourites 1")), QStringLiteral("ok 我的剧"));
    for (int key : { RC_LeaveVideo, RC_Back, RC_Back })
        router.PostKey(key, 0);
    ASSERT_TRUE(WaitFor([&] { return state() == CItemListSet::Home; }));
    EXPECT_EQ(dialog->MainFrame()->Menu().CurrentList()->RowAt(4).name, QStringLiteral("收藏"));
    router.PostKey(RC_Digit4, 0);
    ASSERT_TRUE(WaitFor([&] { return state() == CItemListSet::Favourites; }));
    EXPECT_EQ(dialog->MainFrame()->Menu().CurrentList()->RowAt(0).name, QStringLiteral("我的剧"));
    router.PostKey(RC_Digit0, 0);
    EXPECT_TRUE(
        WaitFor([&] { return dialog->MainFrame()->Menu().ListSet().PlayingName() == QStringLiteral("我的剧"); }));
    EXPECT_TRUE(WaitFor(
        [&] {
            const QImage tv = CaptureTvScreen(*g_pXServer);
            return qRed(tv.pixel(960, 540)) > 180 && qGreen(tv.pixel(960, 540)) < 80 && qRed(tv.pixel(100, 100)) > 180;
        },
        90000));
    EXPECT_EQ(phone.Do(QStringLiteral("press favourites 0")), QStringLiteral("ok 204"));
    EXPECT_EQ(phone.Do(QStringLiteral("list favourites 0")), QStringLiteral("ok"));

    // "继续观看" on the phone: a film of the local movies played and left at 0:30 is the TV's row, and a tap resumes it
    // on the TV a few seconds before where it was left.
    const QString film = machine.root() + QStringLiteral("/films/一部电影.webm");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), film));
    for (int key : { RC_LeaveVideo, RC_Back, RC_Back, RC_Digit3, RC_Digit0, RC_Digit0 })
        router.PostKey(key, 0);
    ASSERT_TRUE(WaitFor(
        [&] { return dialog->MainFrame()->Player() && dialog->MainFrame()->Player()->Position() > 0.5; }, 20000));
    ILocalPlayer* player = dialog->MainFrame()->Player();
    router.PostKey(RC_NextPage, 0); // 30 s on
    ASSERT_TRUE(WaitFor([&] { return player->Position() >= 30; }, 10000));
    router.PostKey(RC_Back, 0);
    ASSERT_TRUE(WaitFor([&] { return !player->IsPlaying(); }));
    const QString row = phone.Do(QStringLiteral("list watching 1"));
    EXPECT_TRUE(row.startsWith(QStringLiteral("ok 本地: 一部电影.webm  00:3"))) << row.toStdString();
    EXPECT_EQ(phone.Do(QStringLiteral("press watching 0")), QStringLiteral("ok 204"));
    EXPECT_TRUE(
        WaitFor([&] { return player->IsPlaying() && player->Position() >= 24 && player->Position() < 35; }, 20000))
        << player->Position();
    EXPECT_EQ(state(), CItemListSet::Watching);

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
        { "another site's POST",
          post("/key", "key=Power").replace("Origin: http://" + host(), "Origin: http://evil.example"), 403 },
        { "a POST without Origin", post("/key", "key=Power").replace("Origin: http://" + host() + "\r\n", ""), 403 },
        { "an oversized request", post("/send", "url=" + QByteArray(CPhoneRemote::kMaxRequestBytes + 1, 'a')), 413 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(status(c.request), c.status) << c.what;
    EXPECT_EQ(dialog->MainFrame(), nullptr); // Power was never taken

    // Connections: a few from one peer; the next from it is closed unanswered, and room comes back as they go.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < CPhoneRemote::kMaxConnectionsPerPeer; ++i)
        idle.push_back(idleConnection());
    EXPECT_EQ(status(get), 0);
    idle.clear();
    int last = -2;
    EXPECT_TRUE(WaitFor([&] { return (last = status(get)) == 200; }, 30000)) << last;

    // At the cap in all (unpaired connections from several peers), a paired phone still gets in: an unpaired
    // connection makes room for it.
    pairing = remote.StartPairing();
    const QByteArray paired = answer("GET /pair?t=" + pairing.address.section(QStringLiteral("t="), 1).toLatin1()
                                     + " HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    const QByteArray cookie = paired.mid(paired.indexOf("krel_phone=")).split(';').first();
    ASSERT_TRUE(cookie.startsWith("krel_phone=")) << paired.toStdString();
    // The cookie lives a month, and each use of the remote renews it.
    const QByteArray month = "Max-Age=" + QByteArray::number(CPhoneRemote::kCookieDays * 24 * 3600);
    EXPECT_TRUE(paired.contains(month)) << paired.toStdString();
    EXPECT_TRUE(answer("GET / HTTP/1.1\r\nHost: " + host() + "\r\nCookie: " + cookie + "\r\n\r\n").contains(month));
    for (int i = 0; i < CPhoneRemote::kMaxConnections; ++i)
        idle.push_back(idleConnection(QHostAddress(0x7f000002 + quint32(i / CPhoneRemote::kMaxConnectionsPerPeer))));
    EXPECT_EQ(status("GET /state HTTP/1.1\r\nHost: " + host() + "\r\nCookie: " + cookie + "\r\n\r\n",
                     QHostAddress(QStringLiteral("127.0.0.9"))),
              200);
    idle.clear();

    // Requests one after another on a connection that stays open: each is answered. A paired phone's connection
    // that is open when the cap is reached (and more newcomers come) stays, and is answered again.
    remote.SetRequestDeadline(5000);
    const QByteArray state = "GET /state HTTP/1.1\r\nHost: " + host() + "\r\nCookie: " + cookie + "\r\n\r\n";
    std::unique_ptr<QTcpSocket> kept = idleConnection(QHostAddress(QStringLiteral("127.0.0.10")));
    QByteArray got;
    const auto answers = [&](int n) {
        return WaitFor([&] {
                   got += kept->readAll();
                   return got.count("HTTP/1.1 200 ") >= n || kept->state() != QAbstractSocket::ConnectedState;
               })
            && got.count("HTTP/1.1 200 ") == n;
    };
    kept->write(state);
    EXPECT_TRUE(answers(1));
    kept->write(state);
    EXPECT_TRUE(answers(2));
    for (int i = 0; i < CPhoneRemote::kMaxConnections + 4; ++i)
        idle.push_back(idleConnection(QHostAddress(0x7f000002 + quint32(i / CPhoneRemote::kMaxConnectionsPerPeer))));
    kept->write(state);
    EXPECT_TRUE(answers(3)) << "the paired phone's open connection was dropped for newcomers";
    idle.clear();
    // Left idle after its answer, it is closed at its deadline, which began with that answer.
    EXPECT_TRUE(WaitFor([&] { return kept->state() != QAbstractSocket::ConnectedState; }, 60000))
        << "an idle connection was never closed";
    kept.reset();

    // A request whose bytes trickle in is cut at its deadline, however often a byte comes.
    remote.SetRequestDeadline(1500);
    std::unique_ptr<QTcpSocket> slow = idleConnection();
    QElapsedTimer sent;
    sent.start();
    EXPECT_TRUE(WaitFor(
        [&] {
            if (sent.elapsed() >= 100) {
                slow->write("G");
                sent.restart();
            }
            return slow->state() != QAbstractSocket::ConnectedState;
        },
        20000));

    // Switched off: nothing listens.
    dialog->EnablePhoneRemote(false);
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(WaitFor([&] { return s.error() == QAbstractSocket::ConnectionRefusedError; }));
}

// A phone pairs by typing the six-digit code the TV shows, in the real browser.
TEST_F(PhoneRemote, PairsByTheCodeTypedInTheBrowser)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_PHONE_BROWSER "/node_modules/puppeteer-core/package.json")))
        << "run phone_browser.sh first";
    const CPhoneRemote::Pairing pairing = dialog->PhoneRemote()->StartPairing();
    Browser phone;
    EXPECT_EQ(phone.Do(QStringLiteral("code %1/ %2").arg(base(), pairing.code)),
              QStringLiteral("ok %1/ remote").arg(base()));
    EXPECT_FALSE(dialog->PhoneRemote()->IsPairing());
    EXPECT_EQ(dialog->PhoneRemote()->Phones().Phones().size(), 1u);
}

namespace
{
QStringList* s_pLogged = nullptr;
void keepPhoneLines(QtMsgType, const QMessageLogContext& context, const QString& text)
{
    if (s_pLogged && context.category && QByteArray(context.category) == "krel.phone")
        *s_pLogged << text;
}
} // namespace

// What a peer sends never forges a log line, and a flood of refusals writes only a few lines.
TEST_F(PhoneRemote, RefusalsLogFewEncodedLines)
{
    QStringList logged;
    s_pLogged = &logged;
    const QtMessageHandler before = qInstallMessageHandler(keepPhoneLines);
    EXPECT_EQ(status("GET /x%0Akrel.phone:%20phone%20paired:%20evil HTTP/1.1\r\nHost: " + host() + "\r\n\r\n"), 404);
    for (int i = 0; i < 2 * CPhoneRemote::kLogLinesPerMinute; ++i)
        EXPECT_EQ(status("GET / HTTP/1.1\r\nHost: rebind.example.com:" + QByteArray::number(port) + "\r\n\r\n"), 421);
    qInstallMessageHandler(before);
    s_pLogged = nullptr;

    ASSERT_FALSE(logged.isEmpty());
    EXPECT_TRUE(logged.first().contains(QLatin1String("%0A"))) << logged.first().toStdString();
    for (const QString& line : logged) {
        EXPECT_FALSE(line.contains(QLatin1Char('\n'))) << line.toStdString();
        EXPECT_FALSE(line.contains(QLatin1String("phone paired"))) << line.toStdString();
    }
    EXPECT_LE(logged.size(), CPhoneRemote::kLogLinesPerMinute);
}
