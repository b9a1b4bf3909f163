#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "support/CatalogueFixture.h"
#include "support/TestEnv.h"

namespace
{

struct ToolRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun runTool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(KREL_CATALOGUE_TOOL), args);
    ToolRun r;
    if (!p.waitForFinished(30000))
        return r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

const char* kGood = R"({
  "types": [{"id": 2, "name": "动画"}, {"id": 1, "name": "纪录片"}],
  "videos": [{"id": 10, "name": "Long video name that is fine in the database only"},
             {"id": 11, "name": "十一", "type": 2, "value2": 5, "scroll": 250},
             {"id": 12, "name": "十二", "type": 1, "value2": 0, "scroll": 0}],
  "addresses": [{"id": 3, "video": 11, "name": "第1集", "url": "http://a/1"},
                {"id": 1, "video": 12, "name": "only", "url": "http://a/2"}],
  "stars": [{"id": 5, "name": "甲", "pos": 2, "videos": [11, 12]}, {"id": 6, "name": "乙", "pos": 1, "videos": []}]
})";

QJsonDocument canonical(const QByteArray& json)
{
    return QJsonDocument::fromJson(json);
}

} // namespace

TEST(CatalogueBuilder, BuildThenDumpGivesTheSameCatalogue)
{
    TempMachine machine;
    const QString source = machine.root() + QStringLiteral("/in.json");
    WriteFile(source, kGood);
    const QString out = machine.root() + QStringLiteral("/out");
    ToolRun built = runTool({ QStringLiteral("build"), source, out });
    ASSERT_EQ(built.code, 0) << built.err.toStdString();
    EXPECT_TRUE(QFile::exists(out + QStringLiteral("/Data/Data2.dat")));
    ToolRun dumped = runTool({ QStringLiteral("dump"), out });
    ASSERT_EQ(dumped.code, 0) << dumped.err.toStdString();
    // The dump gives each type its file's records, the table's videos by name alone, addresses by id and stars
    // by pos.
    const char* expected = R"({
      "types": [{"id": 2, "name": "动画", "videos": [{"id": 11, "name": "十一", "value2": 5, "scroll": 250}]},
                {"id": 1, "name": "纪录片", "videos": [{"id": 12, "name": "十二", "value2": 0, "scroll": 0}]}],
      "videos": [{"id": 10, "name": "Long video name that is fine in the database only"},
                 {"id": 11, "name": "十一"}, {"id": 12, "name": "十二"}],
      "addresses": [{"id": 1, "video": 12, "name": "only", "url": "http://a/2"},
                    {"id": 3, "video": 11, "name": "第1集", "url": "http://a/1"}],
      "stars": [{"id": 6, "name": "乙", "pos": 1, "videos": []}, {"id": 5, "name": "甲", "pos": 2, "videos": [11, 12]}],
      "files": []
    })";
    EXPECT_EQ(canonical(dumped.out), canonical(expected)) << dumped.out.toStdString();

    // Building again replaces the catalogue whole.
    WriteFile(source, R"({"types": [{"id": 9, "name": "x"}]})");
    ASSERT_EQ(runTool({ QStringLiteral("build"), source, out }).code, 0);
    EXPECT_FALSE(QFile::exists(out + QStringLiteral("/Data/Data2.dat")));
    EXPECT_TRUE(QFile::exists(out + QStringLiteral("/Data/Data9.dat")));
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList { QStringLiteral("Data") });
}

// A catalogue made by other means: a video only in a data file, a name that differs between file and table,
// records out of id order, a type named twice, a data file that date.dat does not name. The dump shows them all, and
// building the dump gives a catalogue that dumps the same.
// Signing names the expiry and each archive beside the version file, then signs the result.
TEST(CatalogueBuilder, SignSetsTheExpiryAndTheArchives)
{
    TempMachine machine;
    const QString dir = machine.root() + QStringLiteral("/update");
    WriteFile(dir + QStringLiteral("/ver.dat"),
              "[Main]\r\nAPP_VER=3\r\nAPP_SIZE=1\r\nVALID_UNTIL=2000-01-01T00:00:00Z\r\n");
    WriteFile(dir + QStringLiteral("/app.zip"), QByteArray(1234, 'z'));
    ASSERT_EQ(
        runTool({ QStringLiteral("keygen"), dir + QStringLiteral("/k.pem"), dir + QStringLiteral("/k.pub") }).code, 0);
    const ToolRun signedRun
        = runTool({ QStringLiteral("sign"), dir + QStringLiteral("/k.pem"), dir + QStringLiteral("/ver.dat"),
                    QStringLiteral("--valid-days"), QStringLiteral("3") });
    ASSERT_EQ(signedRun.code, 0) << signedRun.err.toStdString();
    const QByteArray text = ReadFile(dir + QStringLiteral("/ver.dat"));
    EXPECT_TRUE(text.startsWith("[Main]\r\nAPP_VER=3\r\n")) << text.toStdString();
    EXPECT_EQ(text.count("APP_SIZE="), 1);
    EXPECT_TRUE(text.contains("APP_SIZE=1234\r\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("APP_SHA256="
                              + QCryptographicHash::hash(QByteArray(1234, 'z'), QCryptographicHash::Sha256).toHex()));
    EXPECT_FALSE(text.contains("DATA_SIZE"));
    const qsizetype at = text.indexOf("VALID_UNTIL=");
    ASSERT_GE(at, 0);
    const QDateTime until = QDateTime::fromString(QString::fromLatin1(text.mid(at + 12, 20)), Qt::ISODate);
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(until), 3 * 86400, 600);
    EXPECT_EQ(text.count("VALID_UNTIL="), 1);
    EXPECT_EQ(
        runTool({ QStringLiteral("verify"), dir + QStringLiteral("/k.pub"), dir + QStringLiteral("/ver.dat") }).code,
        0);
}

TEST(CatalogueBuilder, DumpIsLossless)
{
    TempMachine machine;
    ASSERT_TRUE(MakeKeyedDatabase(
        machine.appDir(), QString::fromLatin1(kCataloguePassword),
        QStringLiteral("CREATE TABLE tb_videogroup_list (id INTEGER, videoname TEXT);"
                       "INSERT INTO tb_videogroup_list VALUES (11, '表里的名字');"
                       "CREATE TABLE tb_video_addr_list (id INTEGER, videoid INTEGER, name TEXT, url TEXT);"
                       "INSERT INTO tb_video_addr_list VALUES (1, 99, 'e', 'http://a/99');"
                       "CREATE TABLE tb_star_list (starid INTEGER, starname TEXT, pos INTEGER);"
                       "CREATE TABLE tb_star_video_list (starid INTEGER, videoid INTEGER);")));
    machine.writeAppFile(QStringLiteral("Data/date.dat"),
                         EncodeTypeFile({ { 2, QStringLiteral("动画") }, { 2, QStringLiteral("动画") } }));
    machine.writeAppFile(
        QStringLiteral("Data/Data2.dat"),
        EncodeVideoFile({ { 99, QStringLiteral("只在文件里"), 1, 2 }, { 11, QStringLiteral("文件里的名字"), 0, 0 } }));
    machine.writeAppFile(QStringLiteral("Data/Data7.dat"), EncodeVideoFile({ { 70, QStringLiteral("七十"), 0, 5 } }));

    const ToolRun first = runTool({ QStringLiteral("dump"), machine.appDir() });
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    for (const char* part : { "只在文件里", "文件里的名字", "表里的名字", "七十", "http://a/99" })
        EXPECT_TRUE(first.out.contains(part)) << part;
    EXPECT_LT(first.out.indexOf("只在文件里"), first.out.indexOf("文件里的名字")); // the file's order

    const QString source = machine.root() + QStringLiteral("/dump.json");
    WriteFile(source, first.out);
    const QString out = machine.root() + QStringLiteral("/rebuilt");
    const ToolRun built = runTool({ QStringLiteral("build"), source, out });
    ASSERT_EQ(built.code, 0) << built.err.toStdString();
    const ToolRun second = runTool({ QStringLiteral("dump"), out });
    EXPECT_EQ(canonical(second.out), canonical(first.out)) << second.out.toStdString();
}

struct BadCase {
    const char* name;
    const char* json;
    const char* message;
};

class CatalogueBuilderRejects : public ::testing::TestWithParam<BadCase>
{
};

TEST_P(CatalogueBuilderRejects, WithAMessageAndNoOutput)
{
    TempMachine machine;
    const QString source = machine.root() + QStringLiteral("/in.json");
    WriteFile(source, GetParam().json);
    const QString out = machine.root() + QStringLiteral("/out");
    ToolRun r = runTool({ QStringLiteral("build"), source, out });
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.contains(GetParam().message)) << r.err.toStdString();
    EXPECT_TRUE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogueBuilderRejects,
    ::testing::Values(
        BadCase { "long_type_name", R"({"types": [{"id": 1, "name": "一二三四五六七八九十一二三四五六七八九十"}]})",
                  "longer than 19" },
        BadCase {
            "long_typed_video_name",
            R"({"types": [{"id": 1, "name": "t"}], "videos": [{"id": 2, "type": 1, "name": "12345678901234567890"}]})",
            "longer than 19" },
        BadCase { "duplicate_video", R"({"videos": [{"id": 2, "name": "a"}, {"id": 2, "name": "b"}]})",
                  "duplicate id" },
        BadCase { "duplicate_address",
                  R"({"videos": [{"id": 2, "name": "a"}], "addresses": [{"id": 1, "video": 2, "name": "x", "url": "u"},
                   {"id": 1, "video": 2, "name": "y", "url": "u"}]})",
                  "duplicate id" },
        BadCase { "address_without_video", R"({"addresses": [{"id": 1, "video": 42, "name": "x", "url": "u"}]})",
                  "no such video" },
        BadCase { "star_with_missing_video", R"({"stars": [{"id": 1, "name": "s", "pos": 1, "videos": [3]}]})",
                  "no such video" },
        BadCase { "invalid_json", R"({"types": [)", "invalid JSON" },
        BadCase { "id_not_a_number", R"({"types": [{"id": "one", "name": "x"}]})", "not a 32-bit integer" }),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });
