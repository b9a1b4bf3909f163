#include <QDir>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

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
    // The dump lists addresses by id and stars by pos, so compare against the same order.
    QByteArray expected
        = QByteArray(kGood)
              .replace(R"({"id": 3, "video": 11, "name": "第1集", "url": "http://a/1"},
                {"id": 1, "video": 12, "name": "only", "url": "http://a/2"})",
                       R"({"id": 1, "video": 12, "name": "only", "url": "http://a/2"},
                {"id": 3, "video": 11, "name": "第1集", "url": "http://a/1"})")
              .replace(
                  R"({"id": 5, "name": "甲", "pos": 2, "videos": [11, 12]}, {"id": 6, "name": "乙", "pos": 1, "videos": []})",
                  R"({"id": 6, "name": "乙", "pos": 1, "videos": []}, {"id": 5, "name": "甲", "pos": 2, "videos": [11, 12]})");
    EXPECT_EQ(canonical(dumped.out), canonical(expected)) << dumped.out.toStdString();

    // Building again replaces the catalogue whole.
    WriteFile(source, R"({"types": [{"id": 9, "name": "x"}]})");
    ASSERT_EQ(runTool({ QStringLiteral("build"), source, out }).code, 0);
    EXPECT_FALSE(QFile::exists(out + QStringLiteral("/Data/Data2.dat")));
    EXPECT_TRUE(QFile::exists(out + QStringLiteral("/Data/Data9.dat")));
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList { QStringLiteral("Data") });
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
