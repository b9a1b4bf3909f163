// A page flooding the web engine's debugging pipe, on a real two-monitor X server with the real TV window and Debian's
// Chromium: the page (tests/pages/flood.html) plays a video and writes a megabyte of console output every few
// milliseconds while rewriting a 30 MB attribute. Measured, first while the same page plays without the flood and
// then for twelve seconds of it:
// - a remote key answered: from posting the key (Left and Right in turn, which seek the video) to the end of its
//   handling on the GUI thread, the longest of 10 keys a second;
// - krel's own memory (resident set), at the end against the calm page's.
#include <tuple>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include "Goals.h"
#include "ProcessMemory.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TestEnv.h"
#include "tv/MainFrame.h"

namespace
{

bool ClipCoversTv(const XvfbServer& x)
{
    for (int y : { 100, 540, 980 })
        for (int xAt : { 1920 + 100, 1920 + 960, 1920 + 1820 }) {
            const QImage point = CaptureScreen(x, QRect(xAt, y, 1, 1));
            const QRgb p = point.isNull() ? 0 : point.pixel(0, 0);
            if (qRed(p) < 180 || qGreen(p) > 80 || qBlue(p) > 80)
                return false;
        }
    return true;
}

bool WaitForPicture(const XvfbServer& x)
{
    QElapsedTimer t;
    t.start();
    while (!ClipCoversTv(x)) {
        if (t.elapsed() > 30000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Keys for the given time, ten a second: each key's milliseconds from its posting to the end of its handling (a
// queued call posted right after it runs once the key has been handled).
std::vector<double> TimeKeys(CMainFrame& frame, int ms)
{
    std::vector<double> times;
    QElapsedTimer total;
    total.start();
    int n = 0;
    while (total.elapsed() < ms) {
        QElapsedTimer t;
        t.start();
        bool handled = false;
        QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, (n++ % 2) ? RC_Left : RC_Right, 0));
        QMetaObject::invokeMethod(
            &frame,
            [&] {
                handled = true;
                times.push_back(t.nsecsElapsed() / 1e6);
            },
            Qt::QueuedConnection);
        while (!handled)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        const qint64 next = n * 100;
        while (total.elapsed() < next)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return times;
}

double MaxOf(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char** argv)
{
    XvfbServer x;
    TempMachine machine;
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("KREL_WEB_ENGINE", "chromium");
    qputenv("KREL_CHROMIUM_FLAGS",
            "--disable-gpu --no-sandbox --test-type --disable-background-networking --disable-component-update");
    QApplication app(argc, argv);
    HttpServer pages { QStringLiteral(KREL_TEST_PAGES) };
    HttpServer clips { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    const QString clip = clips.Url(QStringLiteral("clip.webm"));
    const qint64 self = QCoreApplication::applicationPid();

    CMainFrame frame;
    frame.show();
    // The page, calm (0) or flooding (1), keys for ms once its video covers the TV, and krel's memory after them.
    double calmRss = 0, floodedRss = 0;
    std::vector<double> calm, flooded;
    for (const auto& [flood, ms, keys, rss] :
         { std::tuple { 0, 5000, &calm, &calmRss }, { 1, 12000, &flooded, &floodedRss } }) {
        frame.PlaySentPage(pages.Url(QStringLiteral("flood.html?flood=%1&clip=").arg(flood)) + clip);
        if (!WaitForPicture(x)) {
            std::fprintf(stderr, "the video of flood.html?flood=%d never covered the TV\n", flood);
            return 1;
        }
        *keys = TimeKeys(frame, ms);
        *rss = RollupKb(self, "Rss:") / 1024.0;
    }
    std::printf("keys, calm page: median %.2f ms, longest %.2f ms; flooding page: median %.2f ms, longest %.2f ms\n",
                Median(calm), MaxOf(calm), Median(flooded), MaxOf(flooded));
    std::printf("krel's resident memory: %.1f MB calm, %.1f MB after 12 s of flood\n", calmRss, floodedRss);
    CheckGoal("a key under a flooding page (longest)", MaxOf(flooded), "ms", 100, true, Noise(calm));
    CheckGoal("krel's memory after 12 s of flood, over calm", floodedRss - calmRss, "MB", 20, true, 0);
    return GoalMissed() ? 1 : 0;
}
