// krel-catalogue: builds the catalogue files (keyed data.mdb, date.dat, Data<n>.dat) from a JSON description,
// dumps a catalogue folder back to JSON, and signs an update server's version file.
//
//   krel-catalogue build SOURCE.json OUTDIR   writes OUTDIR/Data/
//   krel-catalogue dump DATADIR               prints the JSON of DATADIR (a Data folder or its parent)
//   krel-catalogue keygen PRIVATE PUBLIC      a new Ed25519 key pair (PEM; the private file is the owner's only)
//   krel-catalogue sign PRIVATE VERFILE [--valid-days N]
//                                             sets VERFILE's VALID_UNTIL (N days, 14 when not given) and the size and
//                                             SHA-256 of app.zip / data.zip beside it, then writes VERFILE.sig
//   krel-catalogue verify PUBLIC VERFILE      checks VERFILE.sig
//
// JSON: {"types":  [{"id", "name", "videos" (optional): [file videos]}],
//        "videos": [{"id", "name", "type" (optional), "value2", "scroll"}],
//        "addresses": [{"id", "video", "name", "url"}],
//        "stars":  [{"id", "name", "pos", "videos": [video ids]}],
//        "files":  [{"type", "videos": [file videos]}]}
//   file videos: {"id", "name", "value2", "scroll"}
//
// "types" is date.dat in its order. "videos" is the table tb_videogroup_list. A type's Data<n>.dat holds either
// the type's own "videos" list, exactly as given, or (for hand-written catalogues) the "videos" that name the type,
// with the same name in the file as in the table. "files" are Data<n>.dat files that date.dat does not name.
// The dump always writes the exact form (each type with its file's records), so that a video the table lacks, a
// name that differs between the file and the table, and the files' record order all survive dump -> build.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#define SQLITE_HAS_CODEC 1
#include <sqlite3.h>

#include "catalogue/AdoDatabase.h"
#include "catalogue/CatalogueCipher.h"
#include "catalogue/DataFiles.h"
#include "common/Globals.h"
#include "common/ProfileFile.h"
#include "update/UpdateManager.h"
#include "update/UpdateSignature.h"

using nlohmann::json;

namespace
{

struct BuildError {
    std::string message;
};

[[noreturn]] void fail(const std::string& message)
{
    throw BuildError { message };
}

std::string describe(const char* kind, const json& entry)
{
    return std::string(kind) + " " + entry.dump();
}

int intField(const json& entry, const char* field, const char* kind, bool required = true, int fallback = 0)
{
    if (!entry.contains(field)) {
        if (required)
            fail(describe(kind, entry) + ": missing \"" + field + "\"");
        return fallback;
    }
    const json& v = entry.at(field);
    if (!v.is_number_integer() || v.get<long long>() < INT32_MIN || v.get<long long>() > INT32_MAX)
        fail(describe(kind, entry) + ": \"" + field + "\" is not a 32-bit integer");
    return v.get<int>();
}

std::string textField(const json& entry, const char* field, const char* kind)
{
    if (!entry.contains(field) || !entry.at(field).is_string())
        fail(describe(kind, entry) + ": missing text \"" + field + "\"");
    return entry.at(field).get<std::string>();
}

QString shortName(const json& entry, const char* kind)
{
    const QString name = QString::fromStdString(textField(entry, "name", kind));
    if (name.size() > 19)
        fail(describe(kind, entry) + ": the name is longer than 19 characters");
    return name;
}

const json& array(const json& doc, const char* field)
{
    static const json empty = json::array();
    if (!doc.contains(field))
        return empty;
    if (!doc.at(field).is_array())
        fail(std::string("\"") + field + "\" is not a list");
    return doc.at(field);
}

void exec(sqlite3* db, const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        fail("database: " + message);
    }
}

// Runs one prepared insert per row; binder fills the parameters.
template <typename Rows, typename Binder> void insertAll(sqlite3* db, const char* sql, const Rows& rows, Binder binder)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        fail(std::string("database: ") + sqlite3_errmsg(db));
    for (const auto& row : rows) {
        binder(stmt, row);
        if (sqlite3_step(stmt) != SQLITE_DONE) {
            const std::string message = sqlite3_errmsg(db);
            sqlite3_finalize(stmt);
            fail("database: " + message);
        }
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
    sqlite3_finalize(stmt);
}

void bindText(sqlite3_stmt* stmt, int index, const std::string& text)
{
    sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void writeDatabase(const QString& path, const json& doc)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK) {
        sqlite3_close(db);
        fail("cannot create " + path.toStdString());
    }
    struct Closer {
        sqlite3* db;
        ~Closer() { sqlite3_close(db); }
    } closer { db };
    if (sqlite3_key(db, kCataloguePassword, static_cast<int>(sizeof(kCataloguePassword) - 1)) != SQLITE_OK
        || ApplyCatalogueCipher(db) != SQLITE_OK)
        fail(std::string("database: ") + sqlite3_errmsg(db));
    exec(db,
         "BEGIN;"
         "CREATE TABLE tb_videogroup_list (id INTEGER PRIMARY KEY, videoname TEXT);"
         "CREATE TABLE tb_video_addr_list (id INTEGER PRIMARY KEY, videoid INTEGER, name TEXT, url TEXT);"
         "CREATE INDEX tb_video_addr_list_videoid ON tb_video_addr_list (videoid, id);"
         "CREATE TABLE tb_star_list (starid INTEGER PRIMARY KEY, starname TEXT, pos INTEGER);"
         "CREATE INDEX tb_star_list_pos ON tb_star_list (pos);"
         "CREATE TABLE tb_star_video_list (starid INTEGER, videoid INTEGER);"
         "CREATE INDEX tb_star_video_list_starid ON tb_star_video_list (starid, videoid);");
    insertAll(db, "INSERT INTO tb_videogroup_list (id, videoname) VALUES (?, ?)", array(doc, "videos"),
              [](sqlite3_stmt* s, const json& v) {
                  sqlite3_bind_int(s, 1, v.at("id").get<int>());
                  bindText(s, 2, v.at("name").get<std::string>());
              });
    insertAll(db, "INSERT INTO tb_video_addr_list (id, videoid, name, url) VALUES (?, ?, ?, ?)",
              array(doc, "addresses"), [](sqlite3_stmt* s, const json& a) {
                  sqlite3_bind_int(s, 1, a.at("id").get<int>());
                  sqlite3_bind_int(s, 2, a.at("video").get<int>());
                  bindText(s, 3, a.at("name").get<std::string>());
                  bindText(s, 4, a.at("url").get<std::string>());
              });
    insertAll(db, "INSERT INTO tb_star_list (starid, starname, pos) VALUES (?, ?, ?)", array(doc, "stars"),
              [](sqlite3_stmt* s, const json& st) {
                  sqlite3_bind_int(s, 1, st.at("id").get<int>());
                  bindText(s, 2, st.at("name").get<std::string>());
                  sqlite3_bind_int(s, 3, st.at("pos").get<int>());
              });
    std::vector<std::pair<int, int>> links;
    for (const json& st : array(doc, "stars"))
        for (const json& v : st.value("videos", json::array()))
            links.emplace_back(st.at("id").get<int>(), v.get<int>());
    insertAll(db, "INSERT INTO tb_star_video_list (starid, videoid) VALUES (?, ?)", links,
              [](sqlite3_stmt* s, const std::pair<int, int>& l) {
                  sqlite3_bind_int(s, 1, l.first);
                  sqlite3_bind_int(s, 2, l.second);
              });
    exec(db, "COMMIT;");
}

// The records of a Data<n>.dat given as a list.
void validateFileVideos(const json& owner, const char* kind, std::set<int>& videoIds)
{
    if (!owner.at("videos").is_array())
        fail(describe(kind, owner) + ": \"videos\" is not a list");
    for (const json& v : owner.at("videos")) {
        videoIds.insert(intField(v, "id", "file video"));
        shortName(v, "file video");
        intField(v, "value2", "file video", false);
        intField(v, "scroll", "file video", false);
    }
}

// Checks the whole description before anything is written.
void validate(const json& doc)
{
    if (!doc.is_object())
        fail("the catalogue must be a JSON object");
    std::set<int> types, listedTypes, videos, fileVideos, addresses, stars, files;
    for (const json& t : array(doc, "types")) {
        // date.dat may name a type twice; its file is one file all the same.
        const int id = intField(t, "id", "type");
        types.insert(id);
        shortName(t, "type");
        if (t.contains("videos")) {
            if (!listedTypes.insert(id).second)
                fail(describe("type", t) + ": the videos of this type are listed twice");
            validateFileVideos(t, "type", fileVideos);
        }
    }
    for (const json& v : array(doc, "videos")) {
        if (!videos.insert(intField(v, "id", "video")).second)
            fail(describe("video", v) + ": duplicate id");
        textField(v, "name", "video");
        if (v.contains("type")) {
            const int type = intField(v, "type", "video");
            if (!types.count(type))
                fail(describe("video", v) + ": no such type");
            if (listedTypes.count(type))
                fail(describe("video", v) + ": its type lists its videos itself");
            shortName(v, "video");
            fileVideos.insert(v.at("id").get<int>());
        }
        intField(v, "value2", "video", false);
        intField(v, "scroll", "video", false);
    }
    for (const json& f : array(doc, "files")) {
        const int type = intField(f, "type", "file");
        if (types.count(type) || !files.insert(type).second)
            fail(describe("file", f) + ": a file of this type is already given");
        if (!f.contains("videos"))
            fail(describe("file", f) + ": missing \"videos\"");
        validateFileVideos(f, "file", fileVideos);
    }
    // A reference may name a video of the table or of a data file.
    auto known = [&](int id) { return videos.count(id) || fileVideos.count(id); };
    for (const json& a : array(doc, "addresses")) {
        if (!addresses.insert(intField(a, "id", "address")).second)
            fail(describe("address", a) + ": duplicate id");
        if (!known(intField(a, "video", "address")))
            fail(describe("address", a) + ": no such video");
        textField(a, "name", "address");
        textField(a, "url", "address");
    }
    for (const json& s : array(doc, "stars")) {
        if (!stars.insert(intField(s, "id", "star")).second)
            fail(describe("star", s) + ": duplicate id");
        textField(s, "name", "star");
        intField(s, "pos", "star");
        if (s.contains("videos") && !s.at("videos").is_array())
            fail(describe("star", s) + ": \"videos\" is not a list");
        for (const json& v : s.value("videos", json::array()))
            if (!v.is_number_integer() || !known(v.get<int>()))
                fail(describe("star", s) + ": no such video " + v.dump());
    }
}

std::vector<VideoRecord> fileRecords(const json& list)
{
    std::vector<VideoRecord> records;
    for (const json& v : list)
        records.push_back({ v.at("id").get<int>(), QString::fromStdString(v.at("name").get<std::string>()),
                            v.value("value2", 0), v.value("scroll", 0) });
    return records;
}

json fileJson(const std::vector<VideoRecord>& records)
{
    json list = json::array();
    for (const VideoRecord& v : records)
        list.push_back(
            { { "id", v.id }, { "name", v.name.toStdString() }, { "value2", v.value2 }, { "scroll", v.value3 } });
    return list;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

int build(const QString& source, const QString& outDir)
{
    std::ifstream in(QFile::encodeName(source).toStdString());
    if (!in)
        fail("cannot read " + source.toStdString());
    json doc;
    try {
        doc = json::parse(in);
    } catch (const json::parse_error& e) {
        fail(source.toStdString() + ": invalid JSON: " + e.what());
    }
    validate(doc);

    // Everything is written into a fresh folder beside the target and renamed into place at the end, so a
    // failure never leaves a half-written Data folder.
    if (!QDir().mkpath(outDir))
        fail("cannot create " + outDir.toStdString());
    QTemporaryDir staging(outDir + QStringLiteral("/.Data-XXXXXX"));
    if (!staging.isValid())
        fail("cannot write into " + outDir.toStdString());
    const QString dir = staging.path();
    writeDatabase(dir + QStringLiteral("/data.mdb"), doc);

    std::vector<TypeRecord> typeRecords;
    for (const json& t : array(doc, "types"))
        typeRecords.push_back({ t.at("id").get<int>(), QString::fromStdString(t.at("name").get<std::string>()) });
    if (!writeFile(dir + QStringLiteral("/date.dat"), EncodeTypeFile(typeRecords)))
        fail("cannot write date.dat");
    std::map<int, std::vector<VideoRecord>> dataFiles; // type -> records of Data<type>.dat
    for (const json& t : array(doc, "types")) {
        const int id = t.at("id").get<int>();
        if (t.contains("videos")) {
            dataFiles[id] = fileRecords(t.at("videos"));
            continue;
        }
        std::vector<VideoRecord>& records = dataFiles[id];
        if (!records.empty())
            continue; // a type named twice: its file is made once
        for (const json& v : array(doc, "videos"))
            if (v.contains("type") && v.at("type").get<int>() == id)
                records.push_back(fileRecords(json::array({ v })).front());
    }
    for (const json& f : array(doc, "files"))
        dataFiles[f.at("type").get<int>()] = fileRecords(f.at("videos"));
    for (const auto& [type, records] : dataFiles)
        if (!writeFile(dir + QStringLiteral("/Data%1.dat").arg(type), EncodeVideoFile(records)))
            fail("cannot write Data" + std::to_string(type) + ".dat");

    const QString target = outDir + QStringLiteral("/Data");
    const QString old = outDir + QStringLiteral("/.Data-old");
    QDir(old).removeRecursively();
    if (QFileInfo::exists(target) && !QDir().rename(target, old))
        fail("cannot replace " + target.toStdString());
    if (!QDir().rename(dir, target)) {
        QDir().rename(old, target);
        fail("cannot move the catalogue into " + target.toStdString());
    }
    staging.setAutoRemove(false);
    QDir(old).removeRecursively();
    return 0;
}

int dump(const QString& folder)
{
    QString dataDir = folder;
    if (QFileInfo::exists(folder + QStringLiteral("/Data/data.mdb")))
        dataDir = folder + QStringLiteral("/Data");
    g_strAppDir = QFileInfo(dataDir).absolutePath() + QLatin1Char('/');
    if (QFileInfo(dataDir).fileName() != QLatin1String("Data"))
        fail("no catalogue in " + folder.toStdString());
    if (!OpenCatalogue())
        fail("cannot open " + dataDir.toStdString()
             + "/data.mdb: " + g_dbCatalogue.GetErrorDescription().toStdString());

    json doc = json::object();
    doc["types"] = json::array();
    std::set<int> typeIds;
    for (const TypeRecord& t : ReadTypeFile(TypeFilePath())) {
        json type = { { "id", t.id }, { "name", t.name.toStdString() } };
        if (typeIds.insert(t.id).second)
            type["videos"] = fileJson(ReadVideoFile(VideoFilePath(t.id)));
        doc["types"].push_back(type);
    }
    // Data files that date.dat does not name, by type.
    std::map<int, json> unnamed;
    for (const QString& name : QDir(dataDir).entryList({ QStringLiteral("Data*.dat") }, QDir::Files)) {
        bool ok = false;
        const int type = name.mid(4, name.size() - 8).toInt(&ok);
        if (ok && name == QStringLiteral("Data%1.dat").arg(type) && !typeIds.count(type))
            unnamed[type] = fileJson(ReadVideoFile(VideoFilePath(type)));
    }
    doc["files"] = json::array();
    for (const auto& [type, videos] : unnamed)
        doc["files"].push_back({ { "type", type }, { "videos", videos } });

    auto rows
        = [](const char* sql, const std::vector<const char*>& intColumns, const std::vector<const char*>& textColumns) {
              std::vector<json> out;
              CADORecordset rs(&g_dbCatalogue);
              if (!rs.Open(QString::fromLatin1(sql)))
                  fail("cannot read the catalogue: " + rs.GetLastErrorString().toStdString());
              for (std::uint32_t i = 0; i < rs.GetRecordCount(); ++i, rs.MoveNext()) {
                  json row = json::object();
                  for (const char* c : intColumns) {
                      int v = 0;
                      rs.GetFieldValue(QString::fromLatin1(c), v);
                      row[c] = v;
                  }
                  for (const char* c : textColumns) {
                      QString v;
                      rs.GetFieldValue(QString::fromLatin1(c), v);
                      row[c] = v.toStdString();
                  }
                  out.push_back(row);
              }
              return out;
          };

    doc["videos"] = json::array();
    for (const json& r : rows("select * from tb_videogroup_list order by rowid", { "id" }, { "videoname" })) {
        doc["videos"].push_back({ { "id", r["id"] }, { "name", r["videoname"] } });
    }
    doc["addresses"] = json::array();
    for (const json& r : rows("select * from tb_video_addr_list order by id", { "id", "videoid" }, { "name", "url" }))
        doc["addresses"].push_back(
            { { "id", r["id"] }, { "video", r["videoid"] }, { "name", r["name"] }, { "url", r["url"] } });
    doc["stars"] = json::array();
    for (const json& r : rows("select * from tb_star_list order by pos", { "starid", "pos" }, { "starname" })) {
        json videos = json::array();
        for (const json& l : rows(QStringLiteral("select * from tb_star_video_list where starid=%1 order by rowid")
                                      .arg(r["starid"].get<int>())
                                      .toLatin1()
                                      .constData(),
                                  { "videoid" }, {}))
            videos.push_back(l["videoid"]);
        doc["stars"].push_back(
            { { "id", r["starid"] }, { "name", r["starname"] }, { "pos", r["pos"] }, { "videos", videos } });
    }
    std::cout << doc.dump(2) << "\n";
    return 0;
}

// For whoever runs an update server: the key pair, the signature of update/ver.dat, and its check.
int keygen(const QString& privatePath, const QString& publicPath)
{
    QByteArray privatePem, publicPem;
    if (QFileInfo::exists(privatePath) || !UpdateSignature::MakeKeyPair(&privatePem, &publicPem)) {
        std::cerr << "krel-catalogue: cannot make a key pair (does " << qPrintable(privatePath) << " exist?)\n";
        return 1;
    }
    QFile privateFile(privatePath), publicFile(publicPath);
    if (!privateFile.open(QIODevice::NewOnly | QIODevice::WriteOnly)
        || !privateFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || privateFile.write(privatePem) != privatePem.size() || !publicFile.open(QIODevice::WriteOnly)
        || publicFile.write(publicPem) != publicPem.size()) {
        std::cerr << "krel-catalogue: cannot write the key files\n";
        return 1;
    }
    return 0;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int sign(const QString& privatePath, const QString& versionPath, int validDays)
{
    // What is signed expires, so that an old file replayed by anybody on the way is refused; each archive beside the
    // version file is named by its size (which caps its download) and its SHA-256.
    QList<std::pair<QByteArray, QByteArray>> keys {
        { "VALID_UNTIL", QDateTime::currentDateTimeUtc().addDays(validDays).toString(Qt::ISODate).toLatin1() }
    };
    const QString folder = QFileInfo(versionPath).absolutePath();
    for (const char* name : { "app", "data" }) {
        QFile archive(folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".zip"));
        if (!archive.open(QIODevice::ReadOnly))
            continue;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!hash.addData(&archive)) {
            std::cerr << "krel-catalogue: cannot read " << qPrintable(archive.fileName()) << "\n";
            return 1;
        }
        keys.append({ QByteArray(name).toUpper() + "_SIZE", QByteArray::number(archive.size()) });
        keys.append({ QByteArray(name).toUpper() + "_SHA256", hash.result().toHex() });
    }
    const QByteArray version = UpdateSignature::SetVersionKeys(readAll(versionPath), keys);
    const QByteArray signature = UpdateSignature::Sign(version, readAll(privatePath));
    if (signature.isEmpty() || !ProfileFile::WriteFileAtomically(versionPath, version)
        || !ProfileFile::WriteFileAtomically(versionPath + QStringLiteral(".sig"), signature)) {
        std::cerr << "krel-catalogue: cannot sign " << qPrintable(versionPath) << "\n";
        return 1;
    }
    std::cout << "signed, valid until " << keys[0].second.constData() << "\n";
    return 0;
}

int verify(const QString& publicPath, const QString& versionPath)
{
    if (!UpdateSignature::Verify(readAll(versionPath), readAll(versionPath + QStringLiteral(".sig")),
                                 { readAll(publicPath) })) {
        std::cerr << "krel-catalogue: " << qPrintable(versionPath) << ".sig is not a valid signature by "
                  << qPrintable(publicPath) << "\n";
        return 1;
    }
    std::cout << "good signature\n";
    return 0;
}

int usage()
{
    std::cerr << "usage: krel-catalogue build SOURCE.json OUTDIR\n"
                 "       krel-catalogue dump DATADIR\n"
                 "       krel-catalogue keygen PRIVATE.pem PUBLIC.pub\n"
                 "       krel-catalogue sign PRIVATE.pem ver.dat [--valid-days N]\n"
                 "                                  (sets VALID_UNTIL, default 14 days, and the sizes and hashes of\n"
                 "                                   app.zip / data.zip beside ver.dat; writes ver.dat.sig)\n"
                 "       krel-catalogue verify PUBLIC.pub ver.dat     (checks ver.dat.sig)\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        if (args.size() == 4 && args[1] == QLatin1String("build"))
            return build(args[2], args[3]);
        if (args.size() == 3 && args[1] == QLatin1String("dump"))
            return dump(args[2]);
        if (args.size() == 4 && args[1] == QLatin1String("keygen"))
            return keygen(args[2], args[3]);
        if (args.size() == 4 && args[1] == QLatin1String("sign"))
            return sign(args[2], args[3], CUpdateManager::kDefaultValidDays);
        if (args.size() == 6 && args[1] == QLatin1String("sign") && args[4] == QLatin1String("--valid-days")
            && args[5].toInt() > 0)
            return sign(args[2], args[3], args[5].toInt());
        if (args.size() == 4 && args[1] == QLatin1String("verify"))
            return verify(args[2], args[3]);
        return usage();
    } catch (const BuildError& e) {
        std::cerr << "krel-catalogue: " << e.message << "\n";
        return 1;
    } catch (const json::exception& e) {
        std::cerr << "krel-catalogue: " << e.what() << "\n";
        return 1;
    }
}
