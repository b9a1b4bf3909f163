#include <ctime>
#include <QDateTime>
#include <QFile>

#include <gtest/gtest.h>

#include "common/Globals.h"
#include "update/IniDocument.h"
#include "update/UpdateCheck.h"
#include "support/TestEnv.h"

namespace
{

struct Parsed {
    bool hasMain = false;
    std::wstring app = L"<absent>";
    std::wstring data = L"<absent>";
};

Parsed parse(const std::string& bytes)
{
    CIniDocument doc;
    doc.LoadBytes(bytes.data(), bytes.size());
    Parsed p;
    if (CIniSection* main = doc.GetSection(L"Main")) {
        p.hasMain = true;
        if (CIniKey* k = main->GetKey(L"APP_VER"))
            p.app = k->GetValue();
        if (CIniKey* k = main->GetKey(L"DATA_VER"))
            p.data = k->GetValue();
    }
    return p;
}

struct LineCase {
    const char* name;
    std::string bytes;
    bool hasMain;
    std::wstring app;
    std::wstring data;
};

class VersionFileLines : public ::testing::TestWithParam<LineCase>
{
};

} // namespace

TEST_P(VersionFileLines, Parses)
{
    const LineCase& c = GetParam();
    const Parsed p = parse(c.bytes);
    EXPECT_EQ(p.hasMain, c.hasMain);
    EXPECT_EQ(p.app, c.app);
    EXPECT_EQ(p.data, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionFileLines,
    ::testing::Values(
        LineCase { "plain", "[Main]\nAPP_VER=3\nDATA_VER=4\n", true, L"3", L"4" },
        LineCase { "crlf_no_final_newline", "[Main]\r\nAPP_VER=3\r\nDATA_VER=4", true, L"3", L"4" },
        LineCase { "extra_line_ends", "[Main]\r\r\nAPP_VER=3\r\r\n", true, L"3", L"<absent>" },
        LineCase { "lone_cr_does_not_end_a_line", "[Main]\nAPP_VER=3\rDATA_VER=4\n", true, L"3\rDATA_VER=4",
                   L"<absent>" },
        LineCase { "case_and_blanks_in_header", "[ main ]\napp_ver=3\n", true, L"3", L"<absent>" },
        LineCase { "blanks_after_header", "[Main]  \t\nAPP_VER=3\n", true, L"3", L"<absent>" },
        LineCase { "text_after_header_is_no_header", "[Main]\nAPP_VER=1\n[Main]x\nDATA_VER=2\n", true, L"1", L"2" },
        LineCase { "value_keeps_blanks", "[Main]\n  APP_VER = 12 \t\n", true, L" 12 \t", L"<absent>" },
        LineCase { "further_equals_in_value", "[Main]\nAPP_VER=1=2\n", true, L"1=2", L"<absent>" },
        LineCase { "hash_key_line_is_a_key", "[Main]\n#APP_VER=99\n# comment\nAPP_VER=1\n", true, L"1", L"<absent>" },
        LineCase { "leading_equals_ignored", "[Main]\n=5\nAPP_VER=1\n", true, L"1", L"<absent>" },
        LineCase { "repeated_key_takes_later_value", "[Main]\nAPP_VER=1\napp_ver=2\n", true, L"2", L"<absent>" },
        LineCase { "repeated_sections_merge", "[Main]\nAPP_VER=1\n[Other]\nDATA_VER=9\n[MAIN]\nDATA_VER=2\n", true,
                   L"1", L"2" },
        LineCase { "key_before_any_section_dropped", "APP_VER=1\n[Main]\nDATA_VER=2\n", true, L"<absent>", L"2" },
        LineCase { "utf8_bom_hides_first_header", "\xEF\xBB\xBF[Main]\nAPP_VER=1\n", false, L"<absent>", L"<absent>" },
        LineCase { "utf16_file_has_no_header", std::string("\xFF\xFE[\0M\0a\0i\0n\0]\0\n\0A\0=\0001\0", 22), false,
                   L"<absent>", L"<absent>" },
        LineCase { "unclosed_bracket_ignored", "[Main\nAPP_VER=1\n", false, L"<absent>", L"<absent>" },
        LineCase { "empty", "", false, L"<absent>", L"<absent>" }),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(VersionFile, RepeatedKeyKeepsFirstSpelling)
{
    CIniDocument doc;
    const std::string bytes = "[Main]\nApp_Ver=1\nAPP_VER=2\n";
    doc.LoadBytes(bytes.data(), bytes.size());
    CIniKey* key = doc.GetSection(L" main ")->GetKey(L"app_ver");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->GetName(), L"App_Ver");
    EXPECT_EQ(key->GetValue(), L"2");
    EXPECT_EQ(doc.GetSection(L"Main")->KeyCount(), 1u);
}

TEST(VersionFile, BytesAboveAsciiBecomeSingleCharacters)
{
    const Parsed p = parse("[Main]\nAPP_VER=\xE9\xFF\n");
    EXPECT_EQ(p.app, std::wstring(L"\u00E9\u00FF"));
}

TEST(VersionFile, MissingFileLeavesDocumentUntouched)
{
    TempMachine machine;
    CIniDocument doc;
    doc.AddSection(L"Main")->AddKey(L"APP_VER")->SetValue(L"7");
    EXPECT_FALSE(doc.LoadFile((machine.appDir() + QStringLiteral("nothing.dat")).toStdString()));
    EXPECT_EQ(doc.GetSection(L"Main")->GetKey(L"APP_VER")->GetValue(), L"7");

    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nDATA_VER=1\n");
    EXPECT_TRUE(doc.LoadFile((machine.appDir() + QStringLiteral("ver.dat")).toStdString()));
    EXPECT_EQ(doc.GetSection(L"Main")->GetKey(L"APP_VER"), nullptr);
    // Merging keeps what the document holds and adds the file's keys.
    doc.GetSection(L"Main")->AddKey(L"APP_VER")->SetValue(L"7");
    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nDATA_VER=2\n[Other]\nX=1\n");
    EXPECT_TRUE(doc.LoadFile((machine.appDir() + QStringLiteral("ver.dat")).toStdString(), true));
    ASSERT_NE(doc.GetSection(L"Main")->GetKey(L"APP_VER"), nullptr);
    EXPECT_EQ(doc.GetSection(L"Main")->GetKey(L"APP_VER")->GetValue(), L"7");
    EXPECT_EQ(doc.GetSection(L"Main")->GetKey(L"DATA_VER")->GetValue(), L"2");
    EXPECT_NE(doc.GetSection(L"Other"), nullptr);
}

// The start-up check: installed versions and whether Update/ver.dat offers something newer.
class PendingUpdate : public ::testing::Test
{
protected:
    void SetUp() override
    {
        InstalledAppVersion = 0;
        InstalledDataVersion = 0;
    }
    TempMachine machine;
};

TEST_F(PendingUpdate, NothingInstalledNothingPending)
{
    EXPECT_EQ(CheckPendingUpdate(), 0);
    EXPECT_EQ(InstalledAppVersion, 0);
    EXPECT_EQ(InstalledDataVersion, 0);
}

TEST_F(PendingUpdate, NewerDataWithEqualAppIsPending)
{
    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nAPP_VER= 12abc\nDATA_VER=5\n");
    machine.writeAppFile(QStringLiteral("Update/ver.dat"), "[Main]\nAPP_VER=12\nDATA_VER=6\n");
    EXPECT_EQ(CheckPendingUpdate(), 1);
    EXPECT_EQ(InstalledAppVersion, 12);
    EXPECT_EQ(InstalledDataVersion, 5);
}

TEST_F(PendingUpdate, OlderOrEqualIsNotPending)
{
    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=12\nDATA_VER=5\n");
    machine.writeAppFile(QStringLiteral("Update/ver.dat"), "[Main]\nAPP_VER=11\nDATA_VER=abc\n");
    EXPECT_EQ(CheckPendingUpdate(), 0);
}

TEST_F(PendingUpdate, HugeValuesClampToThirtyTwoBits)
{
    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=2147483647\n");
    machine.writeAppFile(QStringLiteral("Update/ver.dat"), "[Main]\nAPP_VER=99999999999999\n");
    EXPECT_EQ(CheckPendingUpdate(), 0);
    EXPECT_EQ(InstalledAppVersion, 2147483647);
}

// The update day is the weekday of the program file's creation; "today" is injected.
TEST(UpdateDay, FollowsTheProgramFilesWeekday)
{
    qputenv("TZ", "UTC");
    TempMachine machine;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    EXPECT_FALSE(IsUpdateDayAt(now)); // no program file
    machine.writeAppFile(QStringLiteral("krel"), "#!/bin/sh\n");
    EXPECT_TRUE(IsUpdateDayAt(now));
    EXPECT_TRUE(IsUpdateDayAt(now.addDays(7)));
    for (int d = 1; d < 7; ++d)
        EXPECT_FALSE(IsUpdateDayAt(now.addDays(d))) << d;
}

// The program file's weekday is taken in UTC, today's in local time: far from UTC the two differ around midnight.
TEST(UpdateDay, UtcCreationAgainstLocalToday)
{
    TempMachine machine;
    machine.writeAppFile(QStringLiteral("krel"), "#!/bin/sh\n");
    const QDate created = QDateTime::currentDateTimeUtc().date();
    const QDateTime noonUtc(created, QTime(12, 0), Qt::UTC);
    struct Zone {
        const char* tz; // POSIX: "XXX-14" is 14 hours east of UTC
        QDateTime at;
        bool expected;
    };
    for (const Zone& z : {
             // 14 h east: at noon UTC it is already the next day there; an hour before the UTC day began it was
             // already the creation day there.
             Zone { "LNT-14", noonUtc, false },
             Zone { "LNT-14", QDateTime(created, QTime(0, 0), Qt::UTC).addSecs(-3600), true },
             // 12 h west: an hour after the UTC day ended it is still the creation day there.
             Zone { "BIT+12", QDateTime(created.addDays(1), QTime(1, 0), Qt::UTC), true },
             Zone { "BIT+12", QDateTime(created, QTime(1, 0), Qt::UTC), false },
         }) {
        qputenv("TZ", z.tz);
        ::tzset();
        EXPECT_EQ(IsUpdateDayAt(z.at), z.expected) << z.tz << " " << z.at.toString(Qt::ISODate).toStdString();
    }
    qputenv("TZ", "UTC");
    ::tzset();
}
