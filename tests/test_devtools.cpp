// The DevTools client: its framing against a pipe that plays the browser, and the real browser (Debian's Chromium)
// started as our child and driven over its pipe.
#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include <QFile>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/HttpServer.h"
#include "support/QtWait.h"
#include "tv/web/ChromiumPage.h"
#include "tv/web/ChromiumProcess.h"
#include "tv/web/DevToolsPipe.h"

namespace
{

// Both pipes of a browser stand-in: what the client writes is read here, what is written here the client reads.
struct FakeBrowser {
    FakeBrowser()
    {
        int commands[2], answers[2];
        EXPECT_EQ(::pipe2(commands, O_CLOEXEC | O_NONBLOCK), 0);
        EXPECT_EQ(::pipe2(answers, O_CLOEXEC), 0);
        reads = commands[0];
        writes = answers[1];
        client = std::make_unique<CDevToolsPipe>(commands[1], answers[0]);
    }
    ~FakeBrowser()
    {
        client.reset();
        ::close(reads);
        if (writes >= 0)
            ::close(writes);
    }
    // The next command the client sent.
    QJsonObject command()
    {
        QByteArray got;
        WaitFor([&] {
            char c;
            while (::read(reads, &c, 1) == 1) {
                if (c == '\0')
                    return true;
                got += c;
            }
            return false;
        });
        return QJsonDocument::fromJson(got).object();
    }
    void send(const QByteArray& bytes)
    {
        ASSERT_EQ(::write(writes, bytes.constData(), size_t(bytes.size())), bytes.size());
    }

    int reads = -1, writes = -1;
    std::unique_ptr<CDevToolsPipe> client;
};

} // namespace

TEST(DevToolsPipe, FramesCommandsAnswersAndEvents)
{
    FakeBrowser browser;
    QSignalSpy events(browser.client.get(), &CDevToolsPipe::event);
    std::vector<CDevToolsPipe::Answer> answers;
    const auto keep = [&](const CDevToolsPipe::Answer& a) { answers.push_back(a); };

    const int id = browser.client->Send(QStringLiteral("Page.navigate"),
                                        { { QStringLiteral("url"), QStringLiteral("about:blank") } }, keep,
                                        QStringLiteral("S1"));
    const QJsonObject sent = browser.command();
    EXPECT_EQ(sent.value(QStringLiteral("id")).toInt(), id);
    EXPECT_EQ(sent.value(QStringLiteral("method")).toString(), QStringLiteral("Page.navigate"));
    EXPECT_EQ(sent.value(QStringLiteral("sessionId")).toString(), QStringLiteral("S1"));
    EXPECT_EQ(sent.value(QStringLiteral("params")).toObject().value(QStringLiteral("url")).toString(),
              QStringLiteral("about:blank"));

    // An answer cut across two writes, with an event, garbage and an answer to nothing after it.
    const QByteArray stream = "{\"id\":" + QByteArray::number(id) + ",\"result\":{\"frameId\":\"F\"}}"
        + QByteArray(1, '\0') + "{\"method\":\"Page.loadEventFired\",\"params\":{\"t\":1},\"sessionId\":\"S1\"}"
        + QByteArray(1, '\0') + "not json" + QByteArray(1, '\0') + "{\"id\":999,\"result\":{}}" + QByteArray(1, '\0');
    browser.send(stream.left(7));
    browser.send(stream.mid(7));
    ASSERT_TRUE(WaitFor([&] { return !answers.empty() && events.size() == 1; }));
    EXPECT_TRUE(answers[0].ok);
    EXPECT_EQ(answers[0].result.value(QStringLiteral("frameId")).toString(), QStringLiteral("F"));
    EXPECT_EQ(events[0][0].toString(), QStringLiteral("Page.loadEventFired"));
    EXPECT_EQ(events[0][2].toString(), QStringLiteral("S1"));
    EXPECT_TRUE(browser.client->IsOpen());

    // The browser's error; then a command with no answer within its bound: an error of our own, once.
    const int failing = browser.client->Send(QStringLiteral("Nope.nothing"), {}, keep);
    browser.command();
    browser.send("{\"id\":" + QByteArray::number(failing) + ",\"error\":{\"code\":-32601,\"message\":\"not found\"}}"
                 + QByteArray(1, '\0'));
    ASSERT_TRUE(WaitFor([&] { return answers.size() == 2; }));
    EXPECT_FALSE(answers[1].ok);
    EXPECT_EQ(answers[1].error, QStringLiteral("not found"));
    QSignalSpy hung(browser.client.get(), &CDevToolsPipe::unresponsive);
    browser.client->Send(QStringLiteral("Runtime.evaluate"), {}, keep, QString(), 300);
    ASSERT_TRUE(WaitFor([&] { return answers.size() == 3; }));
    EXPECT_FALSE(answers[2].ok);
    EXPECT_EQ(hung.size(), 1);

    // The browser goes: what still waits hears of it, and later commands fail at once.
    QSignalSpy closed(browser.client.get(), &CDevToolsPipe::closed);
    browser.client->Send(QStringLiteral("Browser.getVersion"), {}, keep);
    ::close(browser.writes);
    browser.writes = -1;
    ASSERT_TRUE(WaitFor([&] { return closed.size() == 1; }));
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_FALSE(answers[3].ok);
    EXPECT_EQ(browser.client->Send(QStringLiteral("Browser.getVersion"), {}, keep), 0);
    EXPECT_EQ(answers.size(), 5u);
}

// A page flooding the pipe (console output and a message larger than any we use): what nobody wants is dropped
// unread, the oversized message is skipped whole, and the pipe goes on with the next message and answer.
TEST(DevToolsPipe, DropsWhatNobodyUsesAndSkipsWhatIsTooLarge)
{
    FakeBrowser browser;
    browser.client->WantEvents({ QLatin1String("Page.frameNavigated") });
    QSignalSpy events(browser.client.get(), &CDevToolsPipe::event);
    std::vector<CDevToolsPipe::Answer> answers;
    const int id = browser.client->Send(QStringLiteral("Runtime.evaluate"), {},
                                        [&](const CDevToolsPipe::Answer& a) { answers.push_back(a); });
    browser.command();

    const QByteArray nul(1, '\0');
    const QByteArray console = "{\"method\":\"Runtime.consoleAPICalled\",\"params\":{\"args\":[{\"value\":\""
        + QByteArray(4096, 'x') + "\"}]}}" + nul;
    const QByteArray huge = "{\"method\":\"Page.frameNavigated\",\"params\":{\"url\":\""
        + QByteArray(CDevToolsPipe::kMaxMessageBytes + 1000, 'y') + "\"}}" + nul;
    const QByteArray wanted = "{\"method\":\"Page.frameNavigated\",\"params\":{\"frame\":{\"id\":\"F\"}}}" + nul;
    const QByteArray answer = "{\"id\":" + QByteArray::number(id) + ",\"result\":{\"n\":1}}" + nul;
    // Written from a thread of its own: far more than the pipe holds.
    QByteArray flood = console.repeated(2000) + huge + console + wanted + answer;
    std::thread writer([&] {
        for (qsizetype at = 0; at < flood.size();) {
            const ssize_t n = ::write(browser.writes, flood.constData() + at, size_t(flood.size() - at));
            if (n > 0)
                at += n;
        }
    });
    const bool through = WaitFor([&] { return !answers.empty(); }, 60000);
    writer.join();
    ASSERT_TRUE(through);
    EXPECT_TRUE(answers[0].ok);
    EXPECT_EQ(answers[0].result.value(QStringLiteral("n")).toInt(), 1);
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0][0].toString(), QStringLiteral("Page.frameNavigated"));
    EXPECT_EQ(events[0][1].toJsonObject().value(QStringLiteral("frame")).toObject().value(QStringLiteral("id")),
              QStringLiteral("F"));
    EXPECT_TRUE(browser.client->IsOpen());
}

namespace
{

QString pageScript()
{
    QFile file(QStringLiteral(KREL_PLAYER_SCRIPT_FILE));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// Debian's Chromium, our child, answers over its pipe (and has no port); the page script, put in by DevTools,
// stretches and reports the largest player of a page, also when it is a frame of another origin whose own script
// stretched its video first. (The browser dying under a video is the Chromium view's test.)
TEST(ChromiumPage, TheRealBrowserRunsThePageScriptInEveryFrame)
{
    ASSERT_TRUE(CChromiumProcess::IsInstalled()) << "chromium is a dependency of the program";
    HttpServer http { QStringLiteral(KREL_TEST_PAGES) };
    ASSERT_TRUE(http.IsRunning());
    QTemporaryDir profile;
    CChromiumProcess::Options options;
    options.profileDir = profile.path();
    options.extraArguments
        = { QStringLiteral("--headless=new"), QStringLiteral("--disable-gpu"),
            QStringLiteral("--disable-background-networking"), QStringLiteral("--window-size=1920,1080") };
    if (::geteuid() == 0)
        options.extraArguments << QStringLiteral("--no-sandbox");
    const QStringList args = CChromiumProcess::Arguments(options);
    EXPECT_TRUE(args.contains(QStringLiteral("--remote-debugging-pipe")));
    EXPECT_FALSE(args.join(QLatin1Char(' ')).contains(QLatin1String("--remote-debugging-port")));
    CChromiumProcess browser;
    ASSERT_TRUE(browser.Start(options));
    QString product;
    browser.Pipe()->Send(
        QStringLiteral("Browser.getVersion"), {},
        [&](const CDevToolsPipe::Answer& a) {
            product = a.ok ? a.result.value(QStringLiteral("product")).toString() : QStringLiteral("error ") + a.error;
        },
        QString(), 30000);
    ASSERT_TRUE(WaitFor([&] { return !product.isEmpty(); }, 30000));
    EXPECT_TRUE(product.startsWith(QLatin1String("Chrome/"))) << product.toStdString();

    // The page belongs to the browser's pipe.
    const QPointer<CChromiumPage> page = new CChromiumPage(browser.Pipe(), pageScript());
    QStringList enlarged;
    QObject::connect(page, &CChromiumPage::playerEnlarged, [&](const QString& address) { enlarged << address; });
    page->Attach();
    page->Navigate(http.Url(QStringLiteral("players.html")), 0);
    EXPECT_TRUE(
        WaitFor([&] { return !enlarged.isEmpty() && enlarged.last().endsWith(QLatin1String("/clip.webm")); }, 30000))
        << enlarged.join(QLatin1Char(' ')).toStdString();

    const QString inner = QStringLiteral("http://localhost:%1/players/plain.html").arg(http.Port());
    enlarged.clear();
    page->Navigate(http.Url(QStringLiteral("players/framed.html?src=")) + inner, 0);
    EXPECT_TRUE(WaitFor([&] { return enlarged.contains(inner); }, 30000))
        << enlarged.join(QLatin1Char(' ')).toStdString();
    browser.Stop();
    // Nothing of the page outlives its browser: its timer, its callbacks and it go with the pipe.
    EXPECT_TRUE(WaitFor([&] { return page.isNull(); }));
    EXPECT_FALSE(browser.IsRunning());
}

// Where a page may take the top frame by itself: the web, an empty page, and other installed pages from one of them.
TEST(ChromiumPage, TopFrameStaysOnTheWeb)
{
    const struct {
        const char* address;
        bool fromWeb;
        bool fromFilePage;
    } cases[] = {
        { "http://h/x", true, true },
        { "HTTPS://h/x", true, true },
        { "about:blank", true, true },
        { "file:///usr/share/krel/pages/b.html", false, true },
        { "file:///etc/passwd", false, true },
        { "data:text/html,x", false, false },
        { "javascript:alert(1)", false, false },
        { "chrome://settings", false, false },
        { "blob:http://h/1", false, false },
        { "mailto:a@b", false, false },
        { "about:srcdoc", false, false },
    };
    for (const auto& c : cases) {
        const QUrl url(QString::fromLatin1(c.address));
        EXPECT_EQ(CChromiumPage::MayGoTo(url, false), c.fromWeb) << c.address;
        EXPECT_EQ(CChromiumPage::MayGoTo(url, true), c.fromFilePage) << c.address;
    }
}
