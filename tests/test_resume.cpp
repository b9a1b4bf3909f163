// Where films and episodes were left: the rules of what is kept, the bound, and a file that is torn or cannot be
// written.
#include <cmath>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "common/Favourites.h"
#include "support/TestEnv.h"
#include "phone/PhoneStore.h"
#include "tv/ResumePositions.h"
#include "tv/WatchingList.h"

TEST(ResumePositions, KeptOnlyBetweenTheStartAndTheEnd)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/state/resume.dat");
    const struct {
        double position, duration, start;
    } cases[] = {
        { 20, 60, 15 }, // a short clip stopped at 20 s: 5 s earlier
        { 5400, 7200, 5395 }, // a film stopped halfway
        { 12, 7200, 0 }, // just begun
        { 7100, 7200, 0 }, // in its last three minutes
        { 55, 60, 0 }, // in the last tenth of a short one
        { 300, 0, 295 }, // length not known
        { std::nan(""), 7200, 0 },
    };
    {
        CResumePositions positions(file);
        int n = 0;
        for (const auto& c : cases)
            positions.Remember(QStringLiteral("/films/%1.mkv").arg(n++), c.position, c.duration);
        positions.Remember(QStringLiteral("/films/evil\n99999\tx.mkv"), 500, 0);
    }
    CResumePositions reread(file);
    int n = 0;
    for (const auto& c : cases) {
        const QString key = QStringLiteral("/films/%1.mkv").arg(n++);
        EXPECT_DOUBLE_EQ(reread.StartFor(key), c.start) << key.toStdString();
    }
    EXPECT_EQ(ReadFile(file).count('\n'), 3) << "only the kept ones, and no forged line";

    // Chosen again and watched to the end, or left near the start: forgotten.
    reread.Remember(QStringLiteral("/films/0.mkv"), 59, 60);
    reread.Forget(QStringLiteral("/films/1.mkv"));
    EXPECT_EQ(CResumePositions(file).StartFor(QStringLiteral("/films/0.mkv")), 0);
    EXPECT_EQ(CResumePositions(file).StartFor(QStringLiteral("/films/1.mkv")), 0);

    EXPECT_EQ(CResumePositions::FormatTime(754), QStringLiteral("12:34"));
    EXPECT_EQ(CResumePositions::FormatTime(25), QStringLiteral("00:25"));
    EXPECT_EQ(CResumePositions::FormatTime(3723), QStringLiteral("1:02:03"));
    // Whatever a player reports, a time that can be read.
    EXPECT_EQ(CResumePositions::FormatTime(1e300), QStringLiteral("168:00:00"));
    EXPECT_EQ(CResumePositions::FormatTime(std::nan("")), QStringLiteral("00:00"));
}

TEST(ResumePositions, BoundedTornAndOnAFullDisk)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/resume.dat");
    {
        CResumePositions positions(file);
        for (int i = 0; i < CResumePositions::kMaxEntries + 20; ++i)
            positions.Remember(QStringLiteral("http://site/%1").arg(i), 100 + i, 0);
    }
    CResumePositions bounded(file);
    EXPECT_EQ(bounded.StartFor(QStringLiteral("http://site/19")), 0) << "the oldest go first";
    EXPECT_EQ(bounded.StartFor(QStringLiteral("http://site/20")), 115);
    EXPECT_EQ(ReadFile(file).count('\n'), CResumePositions::kMaxEntries);

    // A torn file: what can be read is kept, the rest ignored.
    WriteFile(file,
              "120.0\thttp://a\nxyz\tb\n-5\tc\ninf\td\n\t\n300.0\thttp://b\n77\n"
              "9.2e15\thttp://absurd\n1e300\thttp://huge\n");
    CResumePositions torn(file);
    EXPECT_EQ(torn.StartFor(QStringLiteral("http://absurd")), 0);
    EXPECT_EQ(torn.StartFor(QStringLiteral("http://huge")), 0);
    EXPECT_EQ(torn.StartFor(QStringLiteral("http://a")), 115);
    EXPECT_EQ(torn.StartFor(QStringLiteral("http://b")), 295);

    // A full disk: the old file stays whole, and the program goes on (the position is kept for this run).
    const QByteArray before = ReadFile(file);
    {
        FullDisk full;
        torn.Remember(QStringLiteral("http://c"), 500, 0);
    }
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(torn.StartFor(QStringLiteral("http://c")), 495);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("resume.dat") }) << "a torn copy";

    // Paired phones, the same: a pairing that cannot be stored is refused, one that cannot be removed stays.
    CPhoneStore phones(dir.path() + QStringLiteral("/phones.json"));
    ASSERT_FALSE(phones.Add(QStringLiteral("first")).isEmpty());
    ASSERT_FALSE(phones.Add(QStringLiteral("second")).isEmpty());
    const QByteArray paired = ReadFile(dir.path() + QStringLiteral("/phones.json"));
    {
        FullDisk full;
        EXPECT_TRUE(phones.Add(QStringLiteral("third")).isEmpty());
        EXPECT_FALSE(phones.Remove(phones.Phones().front().hash));
    }
    EXPECT_EQ(ReadFile(dir.path() + QStringLiteral("/phones.json")), paired);
    ASSERT_EQ(phones.Phones().size(), 2u);
    EXPECT_EQ(phones.Phones().front().name, QStringLiteral("first"));
}

// "继续观看"'s file as a torn write, another program or a hostile hand may leave it: what makes sense is read (each key
// once, at most ten items), the rest dropped; names with tabs or line breaks are kept on one line.
TEST(WatchingList, TornOrHostileFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("watching.dat"));
    QByteArray bytes = "E\t7\t98\t250\t2530.0\t长城 第3集\thttp://v/507/3\n"
                       "garbage\n"
                       "F\t0\t0\t0\t-5\tnegative\t/films/a.mkv\n"
                       "F\t0\t0\t0\tnan\tnot a number\t/films/b.mkv\n"
                       "F\t0\t0\t0\t99999999999\ttoo far\t/films/c.mkv\n"
                       "X\t0\t0\t0\t1\tunknown kind\t/films/d.mkv\n"
                       "F\t0\t0\t0\t1\tno key\t\n"
                       "E\t7\t98\t250\t10\tagain\thttp://v/507/3\n"
                       "F\t0\t0\t\xff\xfe\t1\tbad number\t/films/e.mkv\n";
    for (int i = 0; i < 20; ++i)
        bytes += "F\t0\t0\t0\t" + QByteArray::number(i) + "\tfilm\t/films/" + QByteArray::number(i) + ".mkv\n";
    bytes += QByteArray(100000, 'x') + "\tF"; // and a torn, oversized tail
    WriteFile(file, bytes);
    CWatchingList list(file);
    ASSERT_EQ(list.Items().size(), CWatchingList::kMaxItems);
    EXPECT_EQ(list.Items()[0].key, QStringLiteral("http://v/507/3"));
    EXPECT_EQ(list.Items()[0].name, QStringLiteral("长城 第3集"));
    EXPECT_EQ(list.Items()[0].position, 2530.0);
    EXPECT_EQ(list.Items()[1].key, QStringLiteral("/films/0.mkv"));
    EXPECT_EQ(list.Items()[9].key, QStringLiteral("/films/8.mkv"));

    CWatchingList::Item odd;
    odd.film = true;
    odd.name = QStringLiteral("a\tb\nc");
    odd.key = QStringLiteral("/films/odd.mkv");
    list.Played(odd);
    list.Left(QStringLiteral("http://v/507/3"), 2990, 3000); // watched to its end
    CWatchingList again(file);
    ASSERT_EQ(again.Items().size(), CWatchingList::kMaxItems - 1);
    EXPECT_EQ(again.Items()[0].name, QStringLiteral("a b c"));
    EXPECT_EQ(again.Items()[1].key, QStringLiteral("/films/0.mkv"));
}

// The favourites' file as a torn write or a hostile hand may leave it: each address once, at most kMaxItems, names
// on one line and bounded; an address with white space or beyond the bound is dropped. Full, nothing more is added.
TEST(Favourites, TornOrHostileFileAndTheBound)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("favourites.dat"));
    QByteArray bytes = "我的剧\thttps://video.example/a\n"
                       "no address\t\n"
                       "spaces\thttps://video.example/a b\n"
                       "\thttps://video.example/unnamed\n"
                       "again\thttps://video.example/a\n"
                       "three\tfields\there\n"
        + QByteArray(70, 'n')
        + "\thttps://video.example/long-name\n"
          "huge\thttps://"
        + QByteArray(CFavourites::kMaxAddressChars, 'x') + "\n";
    for (int i = 0; i < 60; ++i)
        bytes += "n" + QByteArray::number(i) + "\thttps://video.example/" + QByteArray::number(i) + "\n";
    bytes += "torn\thttps://video.exa";
    WriteFile(file, bytes);
    CFavourites list(file);
    ASSERT_EQ(list.Items().size(), CFavourites::kMaxItems);
    EXPECT_EQ(list.Items()[0].name, QStringLiteral("我的剧"));
    EXPECT_EQ(list.Items()[1].address, QStringLiteral("https://video.example/unnamed"));
    EXPECT_EQ(list.Items()[2].name.size(), CFavourites::kMaxNameChars);
    EXPECT_EQ(list.Items()[3].address, QStringLiteral("https://video.example/0"));
    EXPECT_FALSE(list.Add(QStringLiteral("more"), QStringLiteral("https://video.example/more")));
    EXPECT_TRUE(list.Add(QStringLiteral("a\tnew\nname"), QStringLiteral("https://video.example/a")));
    EXPECT_TRUE(list.Remove(QStringLiteral("https://video.example/0")));
    EXPECT_FALSE(list.Remove(QStringLiteral("https://video.example/0")));
    EXPECT_FALSE(list.Add(QStringLiteral("x"), QStringLiteral("https://video.example/with space")));
    CFavourites again(file);
    ASSERT_EQ(again.Items().size(), CFavourites::kMaxItems - 1);
    EXPECT_EQ(again.Items()[0].name, QStringLiteral("a new name"));
    EXPECT_EQ(again.Items()[3].address, QStringLiteral("https://video.example/1"));
}
