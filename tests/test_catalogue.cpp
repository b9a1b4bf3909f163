#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "catalogue/AdoDatabase.h"
#include "catalogue/CatalogueCheck.h"
#include "catalogue/CatalogueQueries.h"
#include "catalogue/DataFiles.h"
#include "catalogue/ItemLists.h"
#include "catalogue/LocalMovieList.h"
#include "common/Globals.h"
#include "common/Settings.h"
#include "support/CatalogueFixture.h"
#include "support/TestEnv.h"

namespace
{

std::vector<std::pair<int, QString>> rowsOf(const CItemBase& list)
{
    std::vector<std::pair<int, QString>> rows;
    for (int i = 0; i < list.RowCount(); ++i)
        rows.emplace_back(list.RowAt(i).id, list.RowAt(i).name);
    return rows;
}

using Rows = std::vector<std::pair<int, QString>>;

class Catalogue : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword), SampleCatalogueSql()));
        ASSERT_TRUE(OpenCatalogue()) << g_dbCatalogue.GetLastErrorString().toStdString();
    }
    void TearDown() override { g_dbCatalogue.Close(); }

    TempMachine machine;
};

} // namespace

// The statements against a database made by the sqlcipher shell: order, sub-select, NULLs, id 0.
TEST_F(Catalogue, StatementsReturnRowsInTheirOrder)
{
    CMoiveStarList stars;
    stars.Load(0);
    // By pos, not by starid; NULL name reads "", NULL id reads 0.
    EXPECT_EQ(
        rowsOf(stars),
        (Rows {
            { 2, QStringLiteral("乙") }, { 3, QString() }, { 1, QStringLiteral("甲") }, { 0, QStringLiteral("丁") } }));

    CSelectStarVideoList starVideos;
    starVideos.Load(1);
    EXPECT_EQ(starVideos.RowCount(), 2);
    starVideos.Load(2);
    EXPECT_EQ(rowsOf(starVideos), (Rows { { 8, QString() } }));
    starVideos.Load(3); // a star without videos
    EXPECT_EQ(starVideos.RowCount(), 0);

    CSelectOnlineVideoAddrList addresses;
    addresses.Load(7);
    EXPECT_EQ(rowsOf(addresses),
              (Rows { { 10, QStringLiteral("第1集") }, { 20, QString() }, { 30, QStringLiteral("第3集") } }));
    addresses.Load(0); // id 0 is an ordinary key
    EXPECT_EQ(rowsOf(addresses), (Rows { { 40, QStringLiteral("zero") } }));
    addresses.Load(99);
    EXPECT_EQ(addresses.RowCount(), 0);
}

TEST_F(Catalogue, AddressUrl)
{
    QString url;
    LoadAddressUrl(30, &url);
    EXPECT_EQ(url, QStringLiteral("http://x/3"));
    QString none = QStringLiteral("stale");
    LoadAddressUrl(20, &none); // NULL url
    EXPECT_EQ(none, QString());
    QString missing;
    LoadAddressUrl(12345, &missing);
    EXPECT_EQ(missing, QString());
    // Without a place for the address the call only must not crash; the connection still answers afterwards.
    LoadAddressUrl(30, nullptr);
    url.clear();
    LoadAddressUrl(30, &url);
    EXPECT_EQ(url, QStringLiteral("http://x/3"));
}

// Reading values by kind and by name.
TEST_F(Catalogue, FieldValuesByKind)
{
    CADORecordset rs(&g_dbCatalogue);
    ASSERT_TRUE(rs.Open(QStringLiteral("  \n select * from tb_video_addr_list where videoid=7 order by id ")));
    EXPECT_EQ(rs.GetQuery(), QStringLiteral("select * from tb_video_addr_list where videoid=7 order by id "));
    ASSERT_EQ(rs.GetRecordCount(), 3u);

    QString text = QStringLiteral("unchanged");
    int number = -1;
    EXPECT_TRUE(rs.GetFieldValue(QStringLiteral("URL"), text)); // names match without case
    EXPECT_EQ(text, QStringLiteral("http://x/1"));
    EXPECT_TRUE(rs.GetFieldValue(QStringLiteral("rate"), text));
    EXPECT_EQ(text, QStringLiteral("2.5"));
    EXPECT_TRUE(rs.GetFieldValue(QStringLiteral("id"), text));
    EXPECT_EQ(text, QStringLiteral("10"));
    text = QStringLiteral("unchanged");
    EXPECT_FALSE(rs.GetFieldValue(QStringLiteral("nosuch"), text));
    EXPECT_FALSE(rs.GetFieldValue(QStringLiteral("nosuch"), number));
    EXPECT_EQ(text, QStringLiteral("unchanged"));
    EXPECT_EQ(number, -1);
    EXPECT_TRUE(rs.GetLastErrorString().startsWith(QStringLiteral("Query = select * from tb_video_addr_list")));
    EXPECT_TRUE(rs.GetLastErrorString().contains(QStringLiteral("\nCADORecordset Error\n\tCode = 00000001\n")));

    rs.MoveNext();
    EXPECT_TRUE(rs.GetFieldValue(QStringLiteral("name"), text));
    EXPECT_EQ(text, QString());
    EXPECT_TRUE(rs.GetFieldValue(QStringLiteral("rate"), number));
    EXPECT_EQ(number, 0);

    rs.MoveNext();
    EXPECT_TRUE(rs.GetFieldValue(QStringLiteral("rate"), text));
    EXPECT_EQ(text, QStringLiteral("0.10000000000000000555")); // %.20g of a double
    EXPECT_TRUE(rs.GetFieldValue(QStringLiteral("small"), text));
    EXPECT_EQ(text, QStringLiteral("0.1000000015")); // %.10g of a single
    text = QStringLiteral("unchanged");
    EXPECT_FALSE(rs.GetFieldValue(QStringLiteral("pic"), text)); // a blob has no text
    EXPECT_EQ(text, QStringLiteral("unchanged"));

    rs.MoveNext(); // past the end: nothing to read, nothing changes
    EXPECT_FALSE(rs.GetFieldValue(QStringLiteral("id"), number));
    EXPECT_EQ(number, 0);
}

TEST_F(Catalogue, EmptyResultAndBadStatement)
{
    CADORecordset rs(&g_dbCatalogue);
    EXPECT_TRUE(rs.Open(QStringLiteral("select * from tb_star_list where starid=77")));
    EXPECT_EQ(rs.GetRecordCount(), 0u);
    EXPECT_FALSE(rs.Open(QStringLiteral("select * from no_table")));
    EXPECT_EQ(rs.GetRecordCount(), 0u);
    EXPECT_TRUE(
        rs.GetLastErrorString().startsWith(QStringLiteral("Query = select * from no_table\nCADORecordset Error")));
}

TEST_F(Catalogue, OpeningTwiceReopens)
{
    EXPECT_TRUE(OpenCatalogue());
    EXPECT_TRUE(OpenCatalogue());
    CMoiveStarList stars;
    stars.Load(0);
    EXPECT_EQ(stars.RowCount(), 4);
}

// A state folder whose path holds ";" (and a quote) opens: the path is not cut out of the connection string.
TEST(CatalogueOpen, PathWithSemicolonAndQuote)
{
    TempMachine machine;
    g_strAppDir = machine.root() + QStringLiteral("/a;b \"c/");
    ASSERT_TRUE(MakeKeyedDatabase(g_strAppDir, QString::fromLatin1(kCataloguePassword), SampleCatalogueSql()));
    EXPECT_TRUE(OpenCatalogue()) << g_dbCatalogue.GetLastErrorString().toStdString();
    WriteFile(g_strAppDir + QStringLiteral("Data/date.dat"), EncodeTypeFile({ { 1, QStringLiteral("x") } }));
    WriteFile(g_strAppDir + QStringLiteral("Data/Data1.dat"), EncodeVideoFile({}));
    QString why;
    EXPECT_TRUE(CheckCatalogueFolder(g_strAppDir + QStringLiteral("Data"), &why)) << why.toStdString();
    g_dbCatalogue.Close();
}

// Open failures: wrong key, missing file (never created), not a database; the statements then give nothing.
TEST(CatalogueOpen, FailuresAreReported)
{
    TempMachine machine;
    EXPECT_FALSE(OpenCatalogue());
    EXPECT_FALSE(QFile::exists(machine.appDir() + QStringLiteral("Data/data.mdb")));
    EXPECT_TRUE(g_dbCatalogue.GetLastErrorString().startsWith(
        QStringLiteral("Connection String = Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + machine.appDir()
        + QStringLiteral("Data/data.mdb;Jet OLEDB:Database Password=3B90D4E7A21C58aeC7D9\n"
                         "CADODataBase Error\n\tCode = 0000000e\n\tCode meaning = ")));
    EXPECT_EQ(g_dbCatalogue.GetLastError(), 14u);

    ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QStringLiteral("wrong key"), SampleCatalogueSql()));
    EXPECT_FALSE(OpenCatalogue());
    EXPECT_EQ(g_dbCatalogue.GetLastError(), 26u); // not a database
    CMoiveStarList stars;
    stars.Load(0);
    EXPECT_EQ(stars.RowCount(), 0);
    QString url;
    LoadAddressUrl(10, &url);
    EXPECT_EQ(url, QString());

    // Not a catalogue: garbage, an interrupted copy (empty file), a keyed database without the tables.
    machine.writeAppFile(QStringLiteral("Data/data.mdb"), QByteArray(4096, 'g'));
    EXPECT_FALSE(OpenCatalogue());
    machine.writeAppFile(QStringLiteral("Data/data.mdb"), QByteArray());
    EXPECT_FALSE(OpenCatalogue());
    ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword),
                                  QStringLiteral("CREATE TABLE tb_videogroup_list (id INTEGER, videoname TEXT);")));
    EXPECT_FALSE(OpenCatalogue());
    EXPECT_TRUE(g_dbCatalogue.GetLastErrorString().contains(QStringLiteral("no table tb_video_addr_list")));

    // A good file afterwards opens, and the star list that failed loads now.
    ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword), SampleCatalogueSql()));
    EXPECT_TRUE(OpenCatalogue());
    stars.Load(0);
    EXPECT_EQ(stars.RowCount(), 4);
    g_dbCatalogue.Close();
}

// A catalogue written by the sqlcipher shell with the catalogue's cipher parameters spelled out opens, whatever the
// library's defaults are.
TEST(CatalogueOpen, ReadsTheFixedCipherParameters)
{
    TempMachine machine;
    const QString parameters = QStringLiteral("PRAGMA cipher_page_size = 1024; PRAGMA kdf_iter = 64000;"
                                              "PRAGMA cipher_hmac_algorithm = HMAC_SHA1;"
                                              "PRAGMA cipher_kdf_algorithm = PBKDF2_HMAC_SHA1;");
    ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword),
                                  parameters + SampleCatalogueSql()));
    ASSERT_TRUE(OpenCatalogue()) << g_dbCatalogue.GetLastErrorString().toStdString();
    CMoiveStarList stars;
    stars.Load(0);
    EXPECT_EQ(stars.RowCount(), 4);
    g_dbCatalogue.Close();

    // Other parameters are another file format: it does not open.
    ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword),
                                  QStringLiteral("PRAGMA cipher_page_size = 4096;") + SampleCatalogueSql()));
    EXPECT_FALSE(OpenCatalogue());
}

// Data files: the layout, names, and files that lie about their count.
namespace
{

QByteArray le32(qint32 v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((static_cast<quint32>(v) >> (8 * i)) & 0xFF);
    return b;
}

QByteArray nameField(const QString& name)
{
    QByteArray b(kNameFieldBytes, 0);
    for (int i = 0; i < name.size(); ++i) {
        b[2 * i] = static_cast<char>(name[i].unicode() & 0xFF);
        b[2 * i + 1] = static_cast<char>(name[i].unicode() >> 8);
    }
    return b;
}

} // namespace

TEST(DataFiles, ReadsRecordsInFileOrder)
{
    const QString nineteen = QStringLiteral("一二三四五六七八九十abcdefghi");
    ASSERT_EQ(nineteen.size(), 19);
    const QByteArray types = le32(3) + le32(5) + nameField(QStringLiteral("电视剧")) + le32(-1) + nameField(QString())
        + le32(0) + nameField(nineteen);
    const auto t = ParseTypeFile(types);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].id, 5);
    EXPECT_EQ(t[0].name, QStringLiteral("电视剧"));
    EXPECT_EQ(t[1].id, -1);
    EXPECT_EQ(t[1].name, QString());
    EXPECT_EQ(t[2].name, nineteen);

    // A first unit that reads like a byte-order mark is part of the name.
    for (const QString& name : { QStringLiteral("\uFEFFab"), QStringLiteral("\uFFFEab") })
        EXPECT_EQ(ParseTypeFile(le32(1) + le32(1) + nameField(name))[0].name, name);

    // A name field filled to its end without a zero unit stops at the field's end.
    QByteArray full(kNameFieldBytes, 'A');
    const auto f = ParseTypeFile(le32(1) + le32(1) + full);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].name.size(), 20);

    const QByteArray videos = le32(2) + le32(7) + nameField(QStringLiteral("a")) + le32(99) + le32(250) + le32(8)
        + nameField(QStringLiteral("b")) + le32(0) + le32(-1);
    const auto v = ParseVideoFile(videos);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].id, 7);
    EXPECT_EQ(v[0].value2, 99);
    EXPECT_EQ(v[0].value3, 250);
    EXPECT_EQ(v[1].value3, -1);
    EXPECT_EQ(ParseVideoFile(EncodeVideoFile(v)).size(), 2u);
}

TEST(DataFiles, ShortAndLyingFilesStopAtTheirEnd)
{
    EXPECT_TRUE(ParseTypeFile(QByteArray()).empty());
    EXPECT_TRUE(ParseTypeFile(QByteArray("\x01\x00", 2)).empty());
    EXPECT_TRUE(ParseTypeFile(le32(0)).empty());
    EXPECT_TRUE(ParseTypeFile(le32(0x7FFFFFFF)).empty());
    EXPECT_TRUE(ParseTypeFile(le32(-5) + le32(1) + nameField(QStringLiteral("x"))).empty());
    // Count 3 but one and a half records: the whole one only.
    const QByteArray oneAndHalf = le32(3) + le32(1) + nameField(QStringLiteral("x")) + le32(2) + QByteArray(10, 'y');
    EXPECT_EQ(ParseTypeFile(oneAndHalf).size(), 1u);
    EXPECT_EQ(ParseVideoFile(le32(0x7FFFFFFF) + QByteArray(51, 0)).size(), 0u);
    // Bytes after the counted records are ignored.
    EXPECT_EQ(ParseTypeFile(le32(1) + le32(1) + nameField(QStringLiteral("x")) + QByteArray(100, 'z')).size(), 1u);
}

// Item lists: paging arithmetic and load behaviour.
namespace
{

class FixedList : public CItemBase
{
public:
    explicit FixedList(int rows)
        : m_n(rows)
    {
    }
    void Load(int) override
    {
        ClearRows();
        SetPage(0);
        for (int i = 0; i < m_n; ++i)
            AppendRow({ QString::number(i), 100 + i, 0, i * 10 });
    }

private:
    int m_n;
};

} // namespace

TEST(ItemPaging, TwentyFiveTenAndNoRows)
{
    FixedList l25(25);
    l25.Load(0);
    EXPECT_EQ(l25.PageCount(), 3);
    l25.PageForward();
    l25.PageForward();
    l25.PageForward(); // no wrap
    EXPECT_EQ(l25.PageNumber(), 3);
    int first = 0, end = 0;
    l25.VisibleRange(first, end);
    EXPECT_EQ(first, 20);
    EXPECT_EQ(end, 25);
    EXPECT_TRUE(l25.IsValidSelection(4));
    EXPECT_FALSE(l25.IsValidSelection(5));
    EXPECT_FALSE(l25.IsValidSelection(10));
    EXPECT_FALSE(l25.IsValidSelection(-1));
    EXPECT_EQ(l25.IdAt(4), 124);
    EXPECT_EQ(l25.IdAt(9), 124); // past the rows: the last row
    EXPECT_EQ(l25.ValueAt(3), 230);
    EXPECT_TRUE(l25.PageBack());
    EXPECT_EQ(l25.PageIndex(), 1);

    FixedList l10(10);
    l10.Load(0);
    EXPECT_EQ(l10.PageCount(), 1);
    l10.PageForward();
    EXPECT_EQ(l10.PageIndex(), 0);
    EXPECT_FALSE(l10.PageBack());
    EXPECT_EQ(l10.PageIndex(), 0);
    EXPECT_TRUE(l10.IsValidSelection(9));

    FixedList empty(0);
    empty.Load(0);
    EXPECT_EQ(empty.PageCount(), 0);
    empty.PageForward();
    EXPECT_EQ(empty.PageIndex(), 0);
    EXPECT_FALSE(empty.PageBack());
    for (int d = 0; d < 10; ++d)
        EXPECT_FALSE(empty.IsValidSelection(d));
}

TEST(ItemLists, DataFileListsLoadOnceOrReload)
{
    TempMachine machine;
    std::vector<TypeRecord> types;
    for (int i = 0; i < 12; ++i)
        types.push_back({ i + 1, QStringLiteral("类型%1").arg(i) });
    machine.writeAppFile(QStringLiteral("Data/date.dat"), EncodeTypeFile(types));
    std::vector<VideoRecord> videos;
    for (int i = 0; i < 25; ++i)
        videos.push_back({ 500 + i, QStringLiteral("v%1").arg(i), 1, 250 });
    machine.writeAppFile(QStringLiteral("Data/Data3.dat"), EncodeVideoFile(videos));

    CSelectOnlineVideoType typeList;
    typeList.Load(0);
    EXPECT_EQ(typeList.RowCount(), 12);
    typeList.PageForward();
    // Changing the file has no effect on a list that has loaded; the page stays too.
    machine.writeAppFile(QStringLiteral("Data/date.dat"), EncodeTypeFile({}));
    typeList.Load(0);
    EXPECT_EQ(typeList.RowCount(), 12);
    EXPECT_EQ(typeList.PageIndex(), 1);

    CSelectOnlineVideoList videoList;
    videoList.Load(3);
    videoList.PageForward();
    videoList.PageForward();
    EXPECT_EQ(videoList.PageIndex(), 2);
    EXPECT_EQ(videoList.ValueAt(0), 250);
    // The same type again rereads the file and shows the first page.
    videos.resize(5);
    machine.writeAppFile(QStringLiteral("Data/Data3.dat"), EncodeVideoFile(videos));
    videoList.Load(3);
    EXPECT_EQ(videoList.RowCount(), 5);
    EXPECT_EQ(videoList.PageIndex(), 0);
    videoList.Load(4); // no such file
    EXPECT_EQ(videoList.RowCount(), 0);

    // A type list whose file was missing tries again on the next load.
    TempMachine other;
    CSelectOnlineVideoType late;
    late.Load(0);
    EXPECT_EQ(late.RowCount(), 0);
    other.writeAppFile(QStringLiteral("Data/date.dat"), EncodeTypeFile(types));
    late.Load(0);
    EXPECT_EQ(late.RowCount(), 12);
}

TEST(LocalMovies, RootsThenFoldersByFullPath)
{
    TempMachine machine;
    {
        CLocalPCMoiveList defaults;
        defaults.Load(7);
        EXPECT_EQ(rowsOf(defaults),
                  (Rows { { 0, QStringLiteral("F:\\Download\\video") }, { 1, QStringLiteral("E:\\Download") } }));
        defaults.Load(1); // no such folder here: an empty listing
        EXPECT_EQ(defaults.RowCount(), 0);
    }

    const QString a = machine.root() + QStringLiteral("/movies a");
    const QString b = machine.root() + QStringLiteral("/电影");
    WriteFile(a + QStringLiteral("/one.mkv"), "x");
    WriteFile(a + QStringLiteral("/sub/inner.mp4"), "x");
    WriteFile(b + QStringLiteral("/two.avi"), "x");
    WriteSetting(QString::fromLatin1(SettingKey::LocalMovieFolders),
                 a + QStringLiteral(" ; ") + b + QStringLiteral(";"));

    CLocalPCMoiveList list;
    list.Load(5);
    EXPECT_EQ(rowsOf(list), (Rows { { 0, a }, { 1, b } }));
    list.Load(2); // beyond the rows: nothing changes
    EXPECT_EQ(list.RowCount(), 2);
    list.Load(0);
    QStringList names;
    for (int i = 0; i < list.RowCount(); ++i)
        names << list.RowAt(i).name;
    names.sort();
    EXPECT_EQ(names, (QStringList { QStringLiteral("one.mkv"), QStringLiteral("sub") }));
    // Choosing the folder entry lists that folder, whatever the current directory is.
    const int sub = list.RowAt(0).name == QStringLiteral("sub") ? 0 : 1;
    list.Load(sub);
    EXPECT_EQ(rowsOf(list), (Rows { { 0, QStringLiteral("inner.mp4") } }));
    // Choosing a file lists nothing.
    list.Load(0);
    EXPECT_EQ(list.RowCount(), 0);
}
