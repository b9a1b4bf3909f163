#include "AdoDatabase.h"

#include <cmath>
#include <iterator>
#include <cstdio>
#include <limits>

#define SQLITE_HAS_CODEC 1
#include <sqlite3.h>

#include "CatalogueCipher.h"
#include "common/Globals.h"
#include "common/Paths.h"

CADODatabase g_dbCatalogue;

namespace
{

constexpr char kSource[] = "SQLCipher";

// "Code meaning" is the engine's text for the result code.
QString errorText(const char* title, std::uint32_t code, const QString& description)
{
    return QString::asprintf("%s Error\n\tCode = %08lx\n\tCode meaning = %s\n\tSource = %s\n\tDescription = %s\n",
                             title, static_cast<unsigned long>(code), sqlite3_errstr(static_cast<int>(code)), kSource,
                             description.toUtf8().constData());
}

// The value of field name in a connection string of "name=value;" pairs (names compared without case). A value in
// double quotes may hold ";" ("" stands for one quote inside).
QString connectionField(const QString& connection, const QString& name)
{
    qsizetype i = 0;
    const qsizetype n = connection.size();
    while (i < n) {
        const qsizetype eq = connection.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            break;
        const QString field = connection.mid(i, eq - i).trimmed();
        qsizetype j = eq + 1;
        while (j < n && connection[j] == QLatin1Char(' '))
            ++j;
        QString value;
        if (j < n && connection[j] == QLatin1Char('"')) {
            for (++j; j < n; ++j) {
                if (connection[j] == QLatin1Char('"')) {
                    if (j + 1 < n && connection[j + 1] == QLatin1Char('"'))
                        ++j;
                    else
                        break;
                }
                value += connection[j];
            }
            const qsizetype end = connection.indexOf(QLatin1Char(';'), j);
            i = end < 0 ? n : end + 1;
        } else {
            const qsizetype end = connection.indexOf(QLatin1Char(';'), eq + 1);
            value = connection.mid(eq + 1, (end < 0 ? n : end) - eq - 1);
            i = end < 0 ? n : end + 1;
        }
        if (field.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool sameColumn(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

CADODatabase::~CADODatabase()
{
    Close();
    m_strConnection.clear();
    m_strLastError.clear();
    m_dwLastError = 0;
}

void CADODatabase::RecordError(std::uint32_t code, const QString& description)
{
    m_dwLastError = code;
    m_strErrorDescription = description;
    m_strLastError = QStringLiteral("Connection String = ") + m_strConnection + QLatin1Char('\n')
        + errorText("CADODataBase", code, description);
}

bool CADODatabase::Open(const QString& connection, const QString& /*user*/, const QString& password)
{
    if (IsOpen())
        Close();
    if (!connection.isEmpty())
        m_strConnection = connection;

    const QString path = connectionField(m_strConnection, QStringLiteral("Data Source"));
    QString key = connectionField(m_strConnection, QStringLiteral("Jet OLEDB:Database Password"));
    if (key.isEmpty())
        key = password;

    sqlite3* db = nullptr;
    // Read-only and never created: a missing file is an error, not a new empty catalogue.
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK && !key.isEmpty()) {
        const QByteArray k = key.toUtf8();
        rc = sqlite3_key(db, k.constData(), static_cast<int>(k.size()));
        if (rc == SQLITE_OK)
            rc = ApplyCatalogueCipher(db);
    }
    // The key is only checked when the first page is read: a wrong key or a file that is not a database fails
    // here rather than at the first statement.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const QString description = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        RecordError(static_cast<std::uint32_t>(rc), description);
        sqlite3_close(db);
        return false;
    }
    m_pConnection = db;
    return true;
}

void CADODatabase::Close()
{
    if (m_pConnection) {
        sqlite3_close_v2(m_pConnection);
        m_pConnection = nullptr;
    }
}

CADORecordset::CADORecordset(CADODatabase* database)
    : m_pDatabase(database)
{
}

CADORecordset::~CADORecordset()
{
    Close();
}

void CADORecordset::RecordError(std::uint32_t code, const QString& description)
{
    m_dwLastError = code;
    m_strLastError
        = QStringLiteral("Query = ") + m_strQuery + QLatin1Char('\n') + errorText("CADORecordset", code, description);
}

bool CADORecordset::Open(const QString& sql, int /*option*/)
{
    Close();
    if (!sql.isEmpty())
        m_strQuery = sql;
    qsizetype start = 0;
    while (start < m_strQuery.size() && m_strQuery[start].isSpace())
        ++start;
    m_strQuery.remove(0, start);

    sqlite3* db = m_pDatabase ? m_pDatabase->Connection() : nullptr;
    if (!db) {
        RecordError(SQLITE_MISUSE, QStringLiteral("the connection is closed"));
        return false;
    }
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = m_strQuery.toUtf8();
    int rc = sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) {
        RecordError(static_cast<std::uint32_t>(rc), QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(stmt);
        return false;
    }
    const int columns = sqlite3_column_count(stmt);
    for (int c = 0; c < columns; ++c)
        m_columns.push_back(QString::fromUtf8(sqlite3_column_name(stmt, c)));

    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<Value> row(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            Value& v = row[static_cast<std::size_t>(c)];
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER:
                v.kind = Value::Integer;
                v.integer = sqlite3_column_int64(stmt, c);
                break;
            case SQLITE_FLOAT: {
                // A column declared SINGLE keeps single precision, as that kind of column does in the catalogue.
                const char* declared = sqlite3_column_decltype(stmt, c);
                const bool single = declared && QByteArray(declared).toUpper().contains("SINGLE");
                v.kind = single ? Value::Single : Value::Double;
                v.real = sqlite3_column_double(stmt, c);
                break;
            }
            case SQLITE_TEXT:
                v.kind = Value::Text;
                v.text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                           sqlite3_column_bytes(stmt, c));
                break;
            case SQLITE_BLOB:
                v.kind = Value::Blob;
                break;
            default:
                break;
            }
        }
        m_rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        RecordError(static_cast<std::uint32_t>(rc), QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(stmt);
        m_rows.clear();
        m_columns.clear();
        return false;
    }
    sqlite3_finalize(stmt);
    m_bOpen = true;
    m_nRow = 0;
    return true;
}

const CADORecordset::Value* CADORecordset::FindValue(const QString& column)
{
    if (!m_bOpen || IsEof()) {
        RecordError(SQLITE_RANGE, QStringLiteral("no current row"));
        return nullptr;
    }
    for (std::size_t c = 0; c < m_columns.size(); ++c)
        if (sameColumn(m_columns[c], column))
            return &m_rows[m_nRow][c];
    RecordError(SQLITE_ERROR, QStringLiteral("no such column: ") + column);
    return nullptr;
}

bool CADORecordset::GetFieldValue(const QString& column, int& value)
{
    const Value* v = FindValue(column);
    if (!v)
        return false;
    switch (v->kind) {
    case Value::Null:
        value = 0;
        return true;
    case Value::Integer:
        value = static_cast<int>(static_cast<std::uint32_t>(v->integer));
        return true;
    case Value::Single:
    case Value::Double:
        if (!std::isfinite(v->real) || v->real >= 2147483648.0 || v->real < -2147483648.0)
            break;
        value = static_cast<int>(v->real);
        return true;
    case Value::Text: {
        bool ok = false;
        const int n = v->text.trimmed().toInt(&ok);
        if (!ok)
            break;
        value = n;
        return true;
    }
    case Value::Blob:
        break;
    }
    RecordError(SQLITE_MISMATCH, QStringLiteral("column ") + column + QStringLiteral(" holds no integer"));
    return false;
}

bool CADORecordset::GetFieldValue(const QString& column, QString& value, const QString& /*dateFormat*/)
{
    const Value* v = FindValue(column);
    if (!v)
        return false;
    switch (v->kind) {
    case Value::Null:
        value.clear();
        return true;
    case Value::Text:
        value = v->text;
        return true;
    case Value::Integer:
        value = QString::number(v->integer);
        return true;
    case Value::Single:
        value = QString::asprintf("%.10g", static_cast<double>(static_cast<float>(v->real)));
        return true;
    case Value::Double:
        value = QString::asprintf("%.20g", v->real);
        return true;
    case Value::Blob:
        break;
    }
    return false;
}

void CADORecordset::MoveNext()
{
    if (m_nRow < m_rows.size())
        ++m_nRow;
}

void CADORecordset::Close()
{
    m_bOpen = false;
    m_rows.clear();
    m_columns.clear();
    m_nRow = 0;
}

int ApplyCatalogueCipher(sqlite3* db)
{
    for (const char* pragma : kCatalogueCipherPragmas) {
        const int rc = sqlite3_exec(db, pragma, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

bool CADODatabase::HasTables(const char* const* names, int count)
{
    if (!m_pConnection)
        return false;
    for (int i = 0; i < count; ++i) {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(m_pConnection, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", -1,
                                    &stmt, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_bind_text(stmt, 1, names[i], -1, SQLITE_STATIC);
        const bool found = rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW;
        sqlite3_finalize(stmt);
        if (!found) {
            RecordError(SQLITE_NOTADB, QStringLiteral("no table %1").arg(QString::fromLatin1(names[i])));
            return false;
        }
    }
    return true;
}

QString QuoteConnectionValue(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('"')) && value.trimmed() == value)
        return value;
    return QLatin1Char('"') + QString(value).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

bool OpenCatalogue()
{
    const QString path = Paths::StateFile(QStringLiteral("Data/data.mdb"));
    const QString connection = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;"
                                              "Jet OLEDB:Database Password=%2")
                                   .arg(QuoteConnectionValue(path), QString::fromLatin1(kCataloguePassword));
    g_dbCatalogue.Open(connection, QString(), QString());
    // An interrupted copy (an empty file opens as an empty database) is no catalogue: the open fails as for a
    // file that cannot be read, rather than showing empty lists.
    if (g_dbCatalogue.IsOpen()
        && !g_dbCatalogue.HasTables(kCatalogueTables, static_cast<int>(std::size(kCatalogueTables))))
        g_dbCatalogue.Close();
    return g_dbCatalogue.IsOpen();
}
