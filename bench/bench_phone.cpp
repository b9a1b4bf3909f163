// The phone remote on a real X server (Xvfb), on loopback:
// - BM_TapToRepaint: a key POSTed by a paired phone (a page's fetch) to the TV window's repaint.
// - BM_PhoneRemoteCost: what switching the remote on costs the process: resident memory (MB) and listening sockets.
//   Off, the remote does not exist: no memory and no socket.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "Goals.h"
#include "common/RemoteCommand.h"
#include "phone/PhoneRemote.h"
#include "remote/KeyRouter.h"
#include "tests/support/TestEnv.h"
#include "tv/MainFrame.h"

namespace
{

class PaintWatch : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override
    {
        painted = painted || e->type() == QEvent::Paint;
        return false;
    }
};

double residentMb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().split(' ').value(1).toDouble() * 4096 / (1024.0 * 1024.0);
}

int listeningOn(quint16 port)
{
    int count = 0;
    for (const char* table : { "/proc/net/tcp", "/proc/net/tcp6" }) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray hex = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> f2 = line.simplified().split(' ');
            count += f2.size() > 3 && f2[1].endsWith(':' + hex) && f2[3] == "0A"; // LISTEN
        }
    }
    return count;
}

void pump(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

std::vector<double> g_tapMs;
double g_onMb = -1;

void BM_TapToRepaint(benchmark::State& state)
{
    QTemporaryDir dir;
    CRemoteKeyRouter router;
    CMainFrame frame(&router);
    frame.show();
    PaintWatch watch;
    frame.installEventFilter(&watch);
    CPhoneRemote remote(&router, dir.filePath(QStringLiteral("phones.json")));
    if (!remote.Start(0)) {
        state.SkipWithError("cannot listen");
        return;
    }
    const QString secret = remote.Phones().Add(QStringLiteral("bench"));
    const QByteArray host = "127.0.0.1:" + QByteArray::number(remote.Port());
    QTcpSocket phone;
    phone.connectToHost(QHostAddress::LocalHost, remote.Port());
    pump([&] { return phone.state() == QAbstractSocket::ConnectedState; });
    const QByteArray body = "key=Digit1";
    const QByteArray request = "POST /key HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host
        + "\r\nCookie: krel_phone=" + secret.toLatin1()
        + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
    pump([&] { return watch.painted; });
    for (auto _ : state) {
        watch.painted = false;
        QElapsedTimer t;
        t.start();
        phone.write(request);
        pump([&] { return watch.painted; });
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
        g_tapMs.push_back(t.nsecsElapsed() / 1e6);
        phone.readAll();
    }
}
BENCHMARK(BM_TapToRepaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_PhoneRemoteCost(benchmark::State& state)
{
    QTemporaryDir dir;
    CRemoteKeyRouter router;
    for (auto _ : state) {
        const double before = residentMb();
        auto remote = std::make_unique<CPhoneRemote>(&router, dir.filePath(QStringLiteral("phones.json")));
        remote->Start(0);
        const quint16 port = remote->Port();
        g_onMb = residentMb() - before;
        state.counters["on_MB"] = g_onMb;
        state.counters["on_listening"] = listeningOn(port);
        remote.reset();
        state.counters["off_listening"] = listeningOn(port);
    }
}
BENCHMARK(BM_PhoneRemoteCost)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    XvfbServer x;
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (!g_tapMs.empty())
        CheckGoal("a phone's key to the TV's repaint", Median(g_tapMs), "ms", 50, true, Noise(g_tapMs));
    if (g_onMb >= 0)
        CheckGoal("the phone remote switched on", g_onMb, "MB", 5, true, 0);
    return GoalMissed() ? 1 : 0;
}
