// Download throughput and memory: 200 MB from a local server, our engine against the curl command-line tool in
// the same run, and the peak memory growth against the body size.
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

    QElapsedTimer t;
    t.start();
    QProcess::execute(QStringLiteral("curl"),
                      { QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), url });
    const double curlSeconds = t.elapsed() / 1000.0;
    // The engine keeps the body in memory; the fairer peer writes it to memory too (a tmpfs file).
    const QString shm = QStringLiteral("/dev/shm/krel-bench-%1").arg(QCoreApplication::applicationPid());
    t.restart();
    QProcess::execute(QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-o"), shm, url });
    const double curlMemorySeconds = t.elapsed() / 1000.0;
    QFile::remove(shm);

    const long before = peakRssKb();
    Fetcher fetcher;
    t.restart();
    fetcher.AddDownload(url);
    // The program's own event loop, idle between the engine's polls (a loop of processEvents calls would spin and
    // take a core from the transfer).
    app.exec();
    const double ourSeconds = t.elapsed() / 1000.0;
    const long after = peakRssKb();
    server.kill();
    server.waitForFinished();

    const double mb = kBody / 1048576.0;
    std::printf("body: %.0f MB (received %lld bytes)\n", mb, static_cast<long long>(fetcher.bytes));
    std::printf("curl tool to /dev/null: %.2f s (%.0f MB/s)\n", curlSeconds, mb / curlSeconds);
    std::printf("curl tool to tmpfs:     %.2f s (%.0f MB/s)\n", curlMemorySeconds, mb / curlMemorySeconds);
    const double transferSeconds = std::max<qint64>(fetcher.transferMs, 1) / 1000.0;
    std::printf("engine transfer: %.2f s (%.0f MB/s): %.2fx the curl tool to /dev/null, %.2fx to tmpfs\n",
                transferSeconds, mb / transferSeconds, curlSeconds / transferSeconds,
                curlMemorySeconds / transferSeconds);
    std::printf("engine end to end (with the 200 ms step polls and the 50 ms queue poll): %.2f s\n", ourSeconds);
    std::printf("peak memory growth: %.0f MB, %.2fx the body\n", (after - before) / 1024.0,
                (after - before) * 1024.0 / kBody);
    return fetcher.bytes == kBody ? 0 : 1;
}
