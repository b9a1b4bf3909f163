// The updater: archives made by the tests with Python's zipfile, a real catalogue built with krel-catalogue, the
// real AutoUpdate program for the faults.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include "catalogue/CatalogueCheck.h"
#include "catalogue/DataFiles.h"
#include "common/Globals.h"
#include "support/TestEnv.h"
#include "update/UpdateCheck.h"
#include "update/UpdateSignature.h"
#include "update/Updater.h"

namespace
{

// Writes a zip with the given entries (see support/make_zip.py).
bool makeZip(const QString& out, const QJsonArray& entries)
{
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral(KREL_MAKE_ZIP) });
    python.write(
        QJsonDocument(QJsonObject { { QStringLiteral("out"), out }, { QStringLiteral("entries"), entries } }).toJson());
    python.closeWriteChannel();
    return python.waitForFinished(60000) && python.exitCode() == 0;
}

QJsonObject entry(const QString& name, const char* kind, const QJsonValue& value)
{
    return QJsonObject { { QStringLiteral("name"), name }, { QString::fromLatin1(kind), value } };
}

// Builds a catalogue whose types are the given names into folder/Data.
bool buildCatalogue(const QString& folder, const QStringList& typeNames)
{
    QJsonArray types;
    for (int i = 0; i < typeNames.size(); ++i)
        types.append(QJsonObject { { QStringLiteral("id"), i + 1 }, { QStringLiteral("name"), typeNames[i] } });
    const QString source = folder + QStringLiteral(".json");
    WriteFile(source, QJsonDocument(QJsonObject { { QStringLiteral("types"), types } }).toJson());
    return QProcess::execute(QStringLiteral(KREL_CATALOGUE_TOOL), { QStringLiteral("build"), source, folder }) == 0;
}

QStringList typeNamesIn(const QString& dataDir)
{
    QStringList names;
    QFile file(dataDir + QStringLiteral("/date.dat"));
    if (file.open(QIODevice::ReadOnly))
        for (const TypeRecord& t : ParseTypeFile(file.readAll()))
            names << t.name;
    return names;
}

class Updater : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(buildCatalogue(machine.root() + QStringLiteral("/old"), { QStringLiteral("旧类型") }));
        ASSERT_TRUE(QDir().rename(machine.root() + QStringLiteral("/old/Data"), state(QStringLiteral("Data"))));
        machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\r\nAPP_VER=3\r\nDATA_VER=5\r\n");
        ASSERT_TRUE(buildCatalogue(machine.root() + QStringLiteral("/new"),
                                   { QStringLiteral("新类型一"), QStringLiteral("新类型二") }));
        for (const QString& name : QDir(machine.root() + QStringLiteral("/new/Data")).entryList(QDir::Files))
            goodData.append(entry(name, "file", machine.root() + QStringLiteral("/new/Data/") + name));
    }
    QString state(const QString& relative) const { return machine.appDir() + relative; }
    void park(const QByteArray& version, const QJsonArray& data)
    {
        machine.writeAppFile(QStringLiteral("Update/ver.dat"), version);
        if (!data.isEmpty()) {
            ASSERT_TRUE(makeZip(state(QStringLiteral("Update/data.zip")), data));
        }
    }
    CUpdater::Outcome run(bool packaged = false)
    {
        ArchiveLimits limits;
        limits.maxEntries = 50;
        limits.maxEntryBytes = 1 << 20;
        limits.maxTotalBytes = 1 << 20;
        return CUpdater(machine.appDir(), machine.appDir(), packaged, limits).Run();
    }
    // The old catalogue, whole and in place; the parked files gone; the next start a normal one.
    void expectRefusedCleanly(const CUpdater::Outcome& outcome)
    {
        EXPECT_FALSE(outcome.dataApplied);
        EXPECT_FALSE(outcome.internalFailure) << outcome.notes.join(QLatin1Char(';')).toStdString();
        EXPECT_EQ(typeNamesIn(state(QStringLiteral("Data"))), QStringList { QStringLiteral("旧类型") });
        EXPECT_TRUE(QDir(state(QStringLiteral("Update"))).entryList(QDir::Files).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(state(QStringLiteral("Data.new"))));
        EXPECT_EQ(CheckPendingUpdate(), 0);
        EXPECT_EQ(InstalledDataVersion, 5);
    }

    TempMachine machine;
    QJsonArray goodData;
};

} // namespace

TEST_F(Updater, GoodDataUpdateIsSwappedInAndRecorded)
{
    park("[Main]\nAPP_VER=3\nDATA_VER=6\n", goodData);
    const CUpdater::Outcome outcome = run();
    EXPECT_TRUE(outcome.dataApplied);
    EXPECT_FALSE(outcome.internalFailure);
    EXPECT_EQ(typeNamesIn(state(QStringLiteral("Data"))),
              (QStringList { QStringLiteral("新类型一"), QStringLiteral("新类型二") }));
    EXPECT_EQ(typeNamesIn(state(QStringLiteral("Data.old"))), QStringList { QStringLiteral("旧类型") });
    EXPECT_EQ(ReadVersionFile(state(QStringLiteral("ver.dat"))).data, 6);
    EXPECT_EQ(ReadVersionFile(state(QStringLiteral("ver.dat"))).app, 3);
    EXPECT_TRUE(QDir(state(QStringLiteral("Update"))).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(CheckPendingUpdate(), 0);
}

TEST_F(Updater, MatchingHashIsApplied)
{
    ASSERT_TRUE(makeZip(machine.root() + QStringLiteral("/data.zip"), goodData));
    QFile zip(machine.root() + QStringLiteral("/data.zip"));
    ASSERT_TRUE(zip.open(QIODevice::ReadOnly));
    const QByteArray hash = QCryptographicHash::hash(zip.readAll(), QCryptographicHash::Sha256).toHex().toUpper();
    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=3\nDATA_VER=5\nREQUIRE_SHA256=1\n");
    park("[Main]\nDATA_VER=6\nDATA_SHA256=" + hash + "\n", {});
    ASSERT_TRUE(QFile::copy(zip.fileName(), state(QStringLiteral("Update/data.zip"))));
    EXPECT_TRUE(run().dataApplied);
}

// Links planted where the updater stages or keeps folders are removed, never followed; the temporary file of a
// cut write of ver.dat goes.
TEST_F(Updater, PlantedLinksAreNeverFollowed)
{
    const QString victim = machine.root() + QStringLiteral("/victim");
    WriteFile(victim + QStringLiteral("/keep"), "keep");
    for (const char* name : { "Data.new", "Data.old", ".app-new" })
        ASSERT_TRUE(QFile::link(victim, state(QString::fromLatin1(name))));
    machine.writeAppFile(QStringLiteral("ver.dat.Ab12Cd"), "torn");
    park("[Main]\nDATA_VER=6\n", goodData);
    EXPECT_TRUE(run().dataApplied);
    EXPECT_EQ(QDir(victim).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList { QStringLiteral("keep") });
    EXPECT_FALSE(QFile::exists(state(QStringLiteral("ver.dat.Ab12Cd"))));
    EXPECT_EQ(typeNamesIn(state(QStringLiteral("Data.old"))), QStringList { QStringLiteral("旧类型") });
}

// With a trusted key the parked version file is checked again before anything is applied: changed after its
// check, or unsigned, it is refused; signed, it is applied, and its hashes are required.
TEST_F(Updater, TrustedKeyChecksTheParkedVersionFileAgain)
{
    QByteArray key, trusted;
    ASSERT_TRUE(UpdateSignature::MakeKeyPair(&key, &trusted));
    machine.writeAppFile(QStringLiteral("keys/server.pub"), trusted);
    park("[Main]\nDATA_VER=6\n", goodData);
    const QByteArray hash
        = QCryptographicHash::hash(ReadFile(state(QStringLiteral("Update/data.zip"))), QCryptographicHash::Sha256)
              .toHex();
    const QByteArray version = "[Main]\nDATA_VER=6\nDATA_SHA256=" + hash + "\n";
    const QByteArray unhashed = "[Main]\nDATA_VER=6\n";
    struct Case {
        QByteArray parked, signedText;
        bool applied;
    };
    for (const Case& c : { Case { version + "APP_VER=9\n", version, false }, Case { version, {}, false },
                           Case { unhashed, unhashed, false }, Case { version, version, true } }) {
        machine.writeAppFile(QStringLiteral("Update/ver.dat"), c.parked);
        if (!c.signedText.isEmpty())
            machine.writeAppFile(QStringLiteral("Update/ver.dat.sig"), UpdateSignature::Sign(c.signedText, key));
        if (!QFile::exists(state(QStringLiteral("Update/data.zip"))))
            park(c.parked, goodData);
        const CUpdater::Outcome outcome = run();
        if (!c.applied) {
            SCOPED_TRACE(c.parked.toStdString());
            expectRefusedCleanly(outcome);
        } else {
            EXPECT_TRUE(outcome.dataApplied) << outcome.notes.join(QLatin1Char(';')).toStdString();
        }
    }

    // A keys folder whose only key is unusable proves nothing: an unsigned update is refused, never applied as if
    // no key were installed.
    machine.writeAppFile(QStringLiteral("keys/server.pub"), trusted.left(trusted.size() / 2));
    park("[Main]\nDATA_VER=7\n", goodData);
    QFile::remove(state(QStringLiteral("Update/ver.dat.sig")));
    const CUpdater::Outcome outcome = run();
    EXPECT_FALSE(outcome.dataApplied);
    EXPECT_TRUE(outcome.notes.join(QLatin1Char(';')).contains(QLatin1String("not signed by a trusted key")))
        << outcome.notes.join(QLatin1Char(';')).toStdString();
}

// Every archive that is not a whole, honest catalogue is refused whole: nothing applied, nothing left parked.
struct Refusal {
    const char* name;
    std::function<QJsonArray(const QJsonArray& good)> entries;
    QByteArray versionFile;
    QByteArray installedVersion;
    const char* why; // in the log line
};

class UpdaterRefuses : public Updater, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(UpdaterRefuses, AndLeavesTheOldCatalogue)
{
    const Refusal& c = GetParam();
    if (!c.installedVersion.isEmpty())
        machine.writeAppFile(QStringLiteral("ver.dat"), c.installedVersion);
    park(c.versionFile.isEmpty() ? QByteArray("[Main]\nDATA_VER=6\n") : c.versionFile, c.entries(goodData));
    if (QLatin1String(c.name) == QLatin1String("truncated")) {
        QFile zip(state(QStringLiteral("Update/data.zip")));
        ASSERT_TRUE(zip.open(QIODevice::ReadWrite));
        ASSERT_TRUE(zip.resize(zip.size() / 2));
    }
    const CUpdater::Outcome outcome = run();
    expectRefusedCleanly(outcome);
    EXPECT_TRUE(outcome.notes.join(QLatin1Char(';')).contains(QLatin1String(c.why)))
        << outcome.notes.join(QLatin1Char(';')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdaterRefuses,
    ::testing::Values(Refusal { "hash_mismatch",
                                [](const QJsonArray& g) { return g; },
                                "[Main]\nDATA_VER=6\nDATA_SHA256=" + QByteArray(64, 'a') + "\n",
                                {},
                                "does not match" },
                      Refusal { "hash_required",
                                [](const QJsonArray& g) { return g; },
                                {},
                                "[Main]\nAPP_VER=3\nDATA_VER=5\nREQUIRE_SHA256=1\n",
                                "requires" },
                      Refusal { "dot_dot",
                                [](QJsonArray g) {
                                    g.append(entry(QStringLiteral("../evil"), "text", QStringLiteral("x")));
                                    return g;
                                },
                                {},
                                {},
                                "not a plain file name" },
                      Refusal { "absolute",
                                [](QJsonArray g) {
                                    g.append(entry(QStringLiteral("/tmp/krel-evil"), "text", QStringLiteral("x")));
                                    return g;
                                },
                                {},
                                {},
                                "not a plain file name" },
                      Refusal { "folder_part",
                                [](QJsonArray g) {
                                    g.append(entry(QStringLiteral("Data/date.dat"), "text", QStringLiteral("x")));
                                    return g;
                                },
                                {},
                                {},
                                "not a plain file name" },
                      Refusal { "link",
                                [](QJsonArray g) {
                                    g.append(entry(QStringLiteral("passwd"), "link", QStringLiteral("/etc/passwd")));
                                    return g;
                                },
                                {},
                                {},
                                "link or a folder" },
                      Refusal { "size_bomb",
                                [](QJsonArray g) {
                                    g.append(entry(QStringLiteral("zeros"), "zeros", 2 << 20));
                                    return g;
                                },
                                {},
                                {},
                                "size limit" },
                      Refusal { "too_many_entries",
                                [](QJsonArray g) {
                                    for (int i = 0; i < 60; ++i)
                                        g.append(entry(QStringLiteral("f%1").arg(i), "text", QStringLiteral("x")));
                                    return g;
                                },
                                {},
                                {},
                                "entries (at most" },
                      Refusal { "truncated", [](const QJsonArray& g) { return g; }, {}, {}, "cannot open" },
                      Refusal { "not_a_catalogue",
                                [](const QJsonArray&) {
                                    return QJsonArray { entry(QStringLiteral("readme.txt"), "text",
                                                              QStringLiteral("hello")) };
                                },
                                {},
                                {},
                                "not a catalogue" }),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// The program's own files: replaced in the self-contained layout, left to the package manager when installed, and
// never the files of the state.
TEST_F(Updater, ApplicationArchive)
{
    machine.writeAppFile(QStringLiteral("krel"), "old program");
    auto parkApp = [&](const QJsonArray& entries) {
        machine.writeAppFile(QStringLiteral("Update/ver.dat"), "[Main]\nAPP_VER=4\n");
        ASSERT_TRUE(makeZip(state(QStringLiteral("Update/app.zip")), entries));
    };
    const QJsonArray program { QJsonObject { { QStringLiteral("name"), QStringLiteral("krel") },
                                             { QStringLiteral("text"), QStringLiteral("new program") },
                                             { QStringLiteral("mode"), 0100755 } } };
    parkApp(program);
    EXPECT_FALSE(run(true).appApplied); // packaged
    EXPECT_EQ(ReadFile(state(QStringLiteral("krel"))), QByteArray("old program"));

    parkApp(
        QJsonArray { program[0], entry(QStringLiteral("ver.dat"), "text", QStringLiteral("[Main]\nAPP_VER=99\n")) });
    EXPECT_FALSE(run().appApplied);
    EXPECT_EQ(ReadVersionFile(state(QStringLiteral("ver.dat"))).app, 3);

    parkApp(program);
    EXPECT_TRUE(run().appApplied);
    EXPECT_EQ(ReadFile(state(QStringLiteral("krel"))), QByteArray("new program"));
    EXPECT_TRUE(QFileInfo(state(QStringLiteral("krel"))).isExecutable());
    EXPECT_EQ(ReadVersionFile(state(QStringLiteral("ver.dat"))).app, 4);
    EXPECT_EQ(ReadVersionFile(state(QStringLiteral("ver.dat"))).data, 5);
}

// The real updater cut off at each step of both archives (as by a power cut): the catalogue is the whole old or the
// whole new one, the program the whole old one or committed to the new one, ver.dat is whole, and the next run
// finishes the job, keeping the old catalogue as the rollback copy.
TEST_F(Updater, CutOffAtEveryStepLeavesAConsistentState)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_AUTOUPDATE), state(QStringLiteral("AutoUpdate"))));
    const auto programIs = [&](const char* text) {
        return ReadFile(state(QStringLiteral("liba.so"))) == text && ReadFile(state(QStringLiteral("libb.so"))) == text;
    };
    for (const char* step :
         { "extracted", "swapped", "app-extracted", "app-journaled", "app-file-moved", "recorded" }) {
        park("[Main]\nAPP_VER=4\nDATA_VER=6\n", goodData);
        ASSERT_TRUE(makeZip(state(QStringLiteral("Update/app.zip")),
                            { entry(QStringLiteral("liba.so"), "text", QStringLiteral("new")),
                              entry(QStringLiteral("libb.so"), "text", QStringLiteral("new")) }));
        machine.writeAppFile(QStringLiteral("liba.so"), "old");
        machine.writeAppFile(QStringLiteral("libb.so"), "old");
        machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=3\nDATA_VER=5\n");
        QProcess updater;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KREL_UPDATER_FAULT"), QString::fromLatin1(step));
        updater.setProcessEnvironment(env);
        updater.start(state(QStringLiteral("AutoUpdate")), {});
        ASSERT_TRUE(updater.waitForFinished(30000));
        EXPECT_EQ(updater.exitCode(), 99) << step; // it stopped at the fault point

        QString why;
        EXPECT_TRUE(CheckCatalogueFolder(state(QStringLiteral("Data")), &why)) << step << " " << why.toStdString();
        const QStringList types = typeNamesIn(state(QStringLiteral("Data")));
        EXPECT_TRUE(types == QStringList { QStringLiteral("旧类型") } || types.size() == 2) << step;
        const VersionPair installed = ReadVersionFile(state(QStringLiteral("ver.dat")));
        EXPECT_TRUE(installed.hasData && (installed.data == 5 || installed.data == 6)) << step;
        EXPECT_TRUE(programIs("old") || programIs("new") || QFile::exists(state(QStringLiteral(".app-journal"))))
            << step;

        // The next start hands over again (or not at all), and that run completes.
        if (CheckPendingUpdate() == 1) {
            QProcess again;
            again.start(state(QStringLiteral("AutoUpdate")), {});
            ASSERT_TRUE(again.waitForFinished(30000));
            EXPECT_EQ(again.exitCode(), 0) << step;
        }
        EXPECT_EQ(CheckPendingUpdate(), 0) << step;
        EXPECT_EQ(typeNamesIn(state(QStringLiteral("Data"))).size(), 2) << step;
        EXPECT_EQ(typeNamesIn(state(QStringLiteral("Data.old"))), QStringList { QStringLiteral("旧类型") }) << step;
        EXPECT_TRUE(programIs("new")) << step;
        EXPECT_EQ(ReadVersionFile(state(QStringLiteral("ver.dat"))).app, 4) << step;
        EXPECT_EQ(
            QDir(machine.appDir())
                .entryList({ QStringLiteral(".app-*"), QStringLiteral("ver.dat.*") }, QDir::AllEntries | QDir::Hidden),
            QStringList())
            << step;
        EXPECT_FALSE(QFile::exists(state(QStringLiteral("Data/.krel-staged")))) << step;
        // Back to the old catalogue for the next step.
        QDir(state(QStringLiteral("Data"))).removeRecursively();
        ASSERT_TRUE(buildCatalogue(machine.root() + QStringLiteral("/old2"), { QStringLiteral("旧类型") }));
        ASSERT_TRUE(QDir().rename(machine.root() + QStringLiteral("/old2/Data"), state(QStringLiteral("Data"))));
        QDir(machine.root() + QStringLiteral("/old2")).removeRecursively();
    }
}
