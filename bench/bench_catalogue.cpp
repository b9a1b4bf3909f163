// Catalogue loading speed: a 100,000-record video data file against reading its bytes, and one video's address
// list out of a 1,000,000-row address table.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#define SQLITE_HAS_CODEC 1
#include <sqlite3.h>

#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "catalogue/ItemLists.h"
#include "common/Globals.h"

namespace
{

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

void makeVideoFile()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    g_strAppDir = folder().path() + QLatin1Char('/');
    QDir().mkpath(g_strAppDir + QStringLiteral("Data"));
    std::vector<VideoRecord> records;
    for (int i = 0; i < 100000; ++i)
        records.push_back({ i, QStringLiteral("视频名称 %1").arg(i), i, i % 500 });
    QFile f(VideoFilePath(1));
    f.open(QIODevice::WriteOnly);
    f.write(EncodeVideoFile(records));
}

void makeAddressTable()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    makeVideoFile();
    sqlite3* db = nullptr;
    sqlite3_open((g_strAppDir + QStringLiteral("Data/data.mdb")).toUtf8().constData(), &db);
    sqlite3_key(db, kCataloguePassword, sizeof(kCataloguePassword) - 1);
    sqlite3_exec(db,
                 "CREATE TABLE tb_video_addr_list (id INTEGER PRIMARY KEY, videoid INTEGER, name TEXT, url TEXT);"
                 "CREATE INDEX a_v ON tb_video_addr_list (videoid, id);",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tb_video_addr_list VALUES (?, ?, ?, ?)", -1, &s, nullptr);
    for (int i = 0; i < 1000000; ++i) {
        sqlite3_bind_int(s, 1, i);
        sqlite3_bind_int(s, 2, i / 20); // 20 episodes a video
        sqlite3_bind_text(s, 3, "第N集", -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 4, "https://video.example.org/play/0123456789", -1, SQLITE_STATIC);
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    OpenCatalogue();
}

void BM_ReadVideoFileBytes(benchmark::State& state)
{
    makeVideoFile();
    for (auto _ : state) {
        QFile f(VideoFilePath(1));
        f.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(f.readAll());
    }
}
BENCHMARK(BM_ReadVideoFileBytes)->Unit(benchmark::kMillisecond);

void BM_LoadVideoList100k(benchmark::State& state)
{
    makeVideoFile();
    CSelectOnlineVideoList list;
    for (auto _ : state) {
        list.Load(1);
        benchmark::DoNotOptimize(list.RowCount());
    }
}
BENCHMARK(BM_LoadVideoList100k)->Unit(benchmark::kMillisecond);

void BM_LoadAddressListOf1M(benchmark::State& state)
{
    makeAddressTable();
    CSelectOnlineVideoAddrList list;
    int video = 0;
    for (auto _ : state) {
        list.Load(video);
        video = (video + 7919) % 50000;
        benchmark::DoNotOptimize(list.RowCount());
    }
}
BENCHMARK(BM_LoadAddressListOf1M)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
