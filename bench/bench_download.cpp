// Download throughput and memory: 200 MB from a local server, our engine against the curl command-line tool in
// the same run, and the peak memory growth against the body size.
#include <algorithm>

#include "Goals.h"
#include <vector>
#include <cstdio>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "update/HttpDownloadManager.h"

namespace
{

long peakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class Fetcher : public FCHttpDownloadManager
{
public:
    qint64 bytes = -1;
    qint64 transferMs = 0;
    void OnFinished(FCHttpDownload* task) override
    {
        transferMs = task->Response().nTransferMs;
        const CReceivedData data = task->TakeReceivedData();
        bytes = data.count();
        QCoreApplication::exit(0);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr qint64 kBody = 200LL * 1024 * 1024;
    QTemporaryDir dir;
    {
        QFile f(dir.path() + QStringLiteral("/body.bin"));
        f.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, 'x');
        for (qint64 i = 0; i < kBody / block.size(); ++i)
            f.write(block);
    }
    QProcess server;
    server.start(QStringLiteral("python3"),
                 { QStringLiteral("-u"), QStringLiteral(KREL_TEST_HTTP_SCRIPT), dir.path() });
    server.waitForReadyRead(10000);
    const int port = QRegularExpression(QStringLiteral("port (\\d+)"))
                         .match(QString::fromLatin1(server.readAll()))
                         .captured(1)
                         .toInt();
    const QString url = QStringLiteral("http://127.0.0.1:%1/body.bin").arg(port);

    // Three rounds, each side in turn, the best time of each side counting: what the machine's load adds to a run
    // is never a property of the code. The spread of the curl tool's own three times is the noise of this run.
    const QString shm = QStringLiteral("/dev/shm/krel-bench-%1").arg(QCoreApplication::applicationPid());
    auto curl = [&](const QString& out) {
        QElapsedTimer t;
        t.start();
        QProcess::execute(QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-o"), out, url });
        const double seconds = t.elapsed() / 1000.0;
        QFile::remove(shm);
        return seconds;
    };
    std::vector<double> curlNull, curlMemory, engine, endToEnd;
    long before = 0, after = 0;
    Fetcher fetcher;
    for (int round = 0; round < 3; ++round) {
        curlNull.push_back(curl(QStringLiteral("/dev/null")));
        // The engine keeps the body in memory; the fairer peer writes it to memory too (a tmpfs file).
        curlMemory.push_back(curl(shm));
        if (round == 0)
            before = peakRssKb();
        QElapsedTimer t;
        t.start();
        fetcher.bytes = -1;
        fetcher.AddDownload(url);
        // The program's own event loop, idle between the engine's polls (a loop of processEvents calls would spin
        // and take a core from the transfer).
        app.exec();
        endToEnd.push_back(t.elapsed() / 1000.0);
        engine.push_back(std::max<qint64>(fetcher.transferMs, 1) / 1000.0);
        if (round == 0)
            after = peakRssKb();
        if (fetcher.bytes != kBody)
            break;
    }
    server.kill();
    server.waitForFinished();

    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    const double noise = (*std::max_element(curlMemory.begin(), curlMemory.end()) - best(curlMemory)) / best(curlMemory);
    const double mb = kBody / 1048576.0;
    const double ratio = best(curlMemory) / best(engine);
    const double memory = (after - before) * 1024.0 / kBody;
    std::printf("body: %.0f MB (received %lld bytes), best of %zu rounds\n", mb, static_cast<long long>(fetcher.bytes),
                engine.size());
    std::printf("curl tool to /dev/null: %.2f s (%.0f MB/s)\n", best(curlNull), mb / best(curlNull));
    std::printf("curl tool to tmpfs:     %.2f s (%.0f MB/s)\n", best(curlMemory), mb / best(curlMemory));
    std::printf("engine transfer: %.2f s (%.0f MB/s): %.2fx the curl tool to /dev/null\n", best(engine),
                mb / best(engine), best(curlNull) / best(engine));
    std::printf("engine end to end (with the 200 ms step polls and the 50 ms queue poll): %.2f s\n", best(endToEnd));
    std::printf("peak memory growth: %.0f MB\n", (after - before) / 1024.0);
    CheckGoal("engine speed, times the curl tool to tmpfs", ratio, "x", 0.9, false, noise);
    CheckGoal("peak memory, times the body", memory, "x", 1.02, true, 0);
    const bool ok = fetcher.bytes == kBody && !GoalMissed();
    return ok ? 0 : 1;
}
