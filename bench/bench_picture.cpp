// The first picture after a choice, on a real two-monitor X server with the real TV window: from the digit that
// chooses an episode in its address list (or the event a film's row posts) to the first frame of the video covering
// the TV, read back from the X server (nine points across the TV all showing the clip's red).
// - web pages: a plain <video>, and the video.js page of the tests (paused until started); the first video of the
//   process (the web engine starts while the address list is read, a second here), the first of a later TV session,
//   and later videos of a session;
// - a local film (libmpv): the first of the process and later ones;
// - the web engine's memory: the proportional set size of its processes (the browser and its helpers, not the
//   X and HTTP servers this program starts) while the first video plays, and while the last of 20 videos in a row
//   plays.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include "Goals.h"
#include "ProcessMemory.h"
#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "tests/support/CatalogueFixture.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TestEnv.h"
#include "tv/MainFrame.h"
#include "tv/MediaPlugins.h"

namespace
{

XvfbServer* g_server = nullptr;

bool IsRed(QRgb p)
{
    return qRed(p) > 180 && qGreen(p) < 80 && qBlue(p) < 80;
}

// Nine points across the TV, each read back from the server.
bool ClipCoversTv()
{
    for (int y : { 100, 540, 980 })
        for (int x : { 1920 + 100, 1920 + 960, 1920 + 1820 }) {
            const QImage point = CaptureScreen(*g_server, QRect(x, y, 1, 1));
            if (point.isNull() || !IsRed(point.pixel(0, 0)))
                return false;
        }
    return true;
}

void Command(CMainFrame& frame, int command)
{
    QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(command), 0));
    QCoreApplication::processEvents();
}

// The TV window on the address list of the catalogue's one video, and a user's second to read it.
void ToAddressList(CMainFrame& frame)
{
    Command(frame, RC_Digit0); // the type
    Command(frame, RC_Digit0); // the video
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QEvent* Digit(int n)
{
    return new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(RC_Digit0 + n), 0);
}

// Seconds from posting the event to the clip covering the TV; -1 after 20 s.
double TimeToPicture(CMainFrame& frame, QEvent* choice)
{
    QElapsedTimer t;
    t.start();
    QCoreApplication::postEvent(&frame, choice);
    while (!ClipCoversTv()) {
        if (t.elapsed() > 20000)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return t.nsecsElapsed() / 1e9;
}

// Back to the list, and the list on the TV again.
void Leave(CMainFrame& frame)
{
    QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, RC_LeaveVideo, 0));
    QElapsedTimer t;
    t.start();
    while (ClipCoversTv() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char** argv)
{
    XvfbServer x;
    g_server = &x;
    TempMachine machine;
    qputenv("QT_QPA_PLATFORM", "xcb");
    // As the tests run it here: as root without the engine's sandbox, and without a GPU.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox --disable-background-networking");
    qputenv("KREL_CHROMIUM_FLAGS",
            "--disable-gpu --no-sandbox --test-type --disable-background-networking --disable-component-update");
    QApplication app(argc, argv);
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    const QString film = QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm");

    // One video type, one video, two episodes: the plain page (digit 0) and the video.js page (digit 1).
    machine.writeAppFile(QStringLiteral("Data/date.dat"), EncodeTypeFile({ { 1, QStringLiteral("类型") } }));
    machine.writeAppFile(QStringLiteral("Data/Data1.dat"), EncodeVideoFile({ { 500, QStringLiteral("视频"), 0, 0 } }));
    if (!MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword),
                           QStringLiteral("CREATE TABLE tb_videogroup_list (id INTEGER, videoname TEXT);"
                                          "INSERT INTO tb_videogroup_list VALUES (500, '视频');"
                                          "CREATE TABLE tb_video_addr_list (id INTEGER, videoid INTEGER, name TEXT, url TEXT);"
                                          "INSERT INTO tb_video_addr_list VALUES (10, 500, 'plain', '%1'), "
                                          "(20, 500, 'video.js', '%2');"
                                          "CREATE TABLE tb_star_list (starid INTEGER, starname TEXT, pos INTEGER);"
                                          "CREATE TABLE tb_star_video_list (starid INTEGER, videoid INTEGER);")
                               .arg(http.Url(QStringLiteral("plain.html")), http.Url(QStringLiteral("videojs.html?made=0"))))
        || !OpenCatalogue()) {
        std::fprintf(stderr, "the catalogue could not be made\n");
        return 1;
    }

    std::vector<double> laterVideo, laterFilm;
    double firstVideo = -1, firstOfSession = -1, firstFilm = -1, firstPss = 0, laterPss = 0;
    {
        CMainFrame frame;
        frame.show();
        ToAddressList(frame);
        firstVideo = TimeToPicture(frame, Digit(0));
        std::printf("plain <video>, first of the process: %.3f s (%s)\n", firstVideo,
                    ChosenWebEngine() == WebEngineKind::Chromium ? "Debian's Chromium" : "Qt WebEngine");
        const qint64 self = QCoreApplication::applicationPid();
        const QStringList engine { QStringLiteral("chromium"), QStringLiteral("QtWebEngine") };
        firstPss = ChildTreesKb(self, engine, "Pss:") / 1024.0;
        for (int i = 0; i < 10; ++i)
            for (int episode : { 0, 1 }) {
                Leave(frame);
                const double s = TimeToPicture(frame, Digit(episode));
                std::printf("%s, later: %.3f s\n", episode ? "video.js" : "plain <video>", s);
                laterVideo.push_back(s < 0 ? 20 : s);
            }
        laterPss = ChildTreesKb(self, engine, "Pss:") / 1024.0;
        Leave(frame);
        firstFilm = TimeToPicture(frame, new CPlayFileEvent(film));
        std::printf("film, first of the process: %.3f s\n", firstFilm);
        for (int i = 0; i < 5; ++i) {
            Leave(frame);
            const double s = TimeToPicture(frame, new CPlayFileEvent(film));
            std::printf("film, later: %.3f s\n", s);
            laterFilm.push_back(s < 0 ? 20 : s);
        }
        Leave(frame);
    }
    {
        // A new TV session: a new TV window and web view, the engine's library already loaded.
        CMainFrame frame;
        frame.show();
        ToAddressList(frame);
        firstOfSession = TimeToPicture(frame, Digit(1));
        std::printf("video.js, first of a later TV session: %.3f s\n", firstOfSession);
        Leave(frame);
    }
    const double noise = Noise(laterVideo);
    CheckGoal("first video of the process (engine starts)", firstVideo < 0 ? 20 : firstVideo, "s", 1.5, true, noise);
    CheckGoal("first video of a later TV session", firstOfSession < 0 ? 20 : firstOfSession, "s", 1.5, true, noise);
    CheckGoal("a later video (median)", Median(laterVideo), "s", 0.6, true, noise);
    CheckGoal("web engine's processes, first video (PSS)", firstPss, "MB", 450, true, 0);
    CheckGoal("the same after 20 videos, over the first", firstPss > 0 ? laterPss / firstPss : 99, "x", 1.15, true,
              0);
    CheckGoal("a later film (median)", Median(laterFilm), "s", 0.3, true, Noise(laterFilm));
    CheckGoal("first film of the process", firstFilm < 0 ? 20 : firstFilm, "s", 0.3, true, Noise(laterFilm));
    return GoalMissed() ? 1 : 0;
}
