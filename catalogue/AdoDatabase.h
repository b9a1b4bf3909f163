#pragma once

#include <cstdint>
#include <vector>

#include <QString>

struct sqlite3;

// One connection to the keyed catalogue database. The catalogue is only ever read: the file is opened read-only
// and never created. Failures are recorded on the object and reported as false results, never thrown.
class CADODatabase
{
public:
    CADODatabase() = default;
    CADODatabase(const CADODatabase&) = delete;
    CADODatabase& operator=(const CADODatabase&) = delete;
    virtual ~CADODatabase();

    // Opens the database named by the connection string ("...;Data Source=<path>;...Database Password=<key>").
    // An empty connection string reopens the stored one. Closes an earlier connection first.
    bool Open(const QString& connection = QString(), const QString& user = QString(),
              const QString& password = QString());
    bool IsOpen() const { return m_pConnection != nullptr; }
    // True when the open database holds every named table; otherwise records the missing one as the error.
    bool HasTables(const char* const* names, int count);
    void Close();

    const QString& GetConnectionString() const { return m_strConnection; }
    const QString& GetLastErrorString() const { return m_strLastError; }
    const QString& GetErrorDescription() const { return m_strErrorDescription; }
    std::uint32_t GetLastError() const { return m_dwLastError; }

    sqlite3* Connection() const { return m_pConnection; }

private:
    void RecordError(std::uint32_t code, const QString& description);

    sqlite3* m_pConnection = nullptr;
    QString m_strConnection;
    QString m_strLastError;
    QString m_strErrorDescription;
    std::uint32_t m_dwLastError = 0;
};

// The rows of one SELECT, fetched whole at Open (a static, client-side cursor): the row count is known before
// the first row is read, and the statement holds nothing open on the connection afterwards.
class CADORecordset
{
public:
    explicit CADORecordset(CADODatabase* database);
    CADORecordset(const CADORecordset&) = delete;
    CADORecordset& operator=(const CADORecordset&) = delete;
    virtual ~CADORecordset();

    // Runs sql (an empty text reruns the stored query). The option is accepted for callers and not used.
    bool Open(const QString& sql, int option = 0);
    bool IsOpen() const { return m_bOpen; }
    std::uint32_t GetRecordCount() const { return m_bOpen ? static_cast<std::uint32_t>(m_rows.size()) : 0; }
    // Reads a column of the current row by name (case-insensitive). NULL gives 0 or "". A missing column, no
    // current row or a value of another kind gives false and leaves the output unchanged.
    bool GetFieldValue(const QString& column, int& value);
    bool GetFieldValue(const QString& column, QString& value, const QString& dateFormat = QString());
    void MoveNext();
    bool IsEof() const { return m_nRow >= m_rows.size(); }
    void Close();

    const QString& GetQuery() const { return m_strQuery; }
    const QString& GetLastErrorString() const { return m_strLastError; }
    std::uint32_t GetLastError() const { return m_dwLastError; }

private:
    struct Value {
        enum Kind { Null, Integer, Single, Double, Text, Blob } kind = Null;
        std::int64_t integer = 0;
        double real = 0;
        QString text;
    };

    const Value* FindValue(const QString& column);
    void RecordError(std::uint32_t code, const QString& description);

    CADODatabase* m_pDatabase;
    QString m_strQuery;
    QString m_strLastError;
    std::uint32_t m_dwLastError = 0;
    bool m_bOpen = false;
    std::vector<QString> m_columns;
    std::vector<std::vector<Value>> m_rows;
    std::size_t m_nRow = 0;
};

// The one catalogue connection of the process.
extern CADODatabase g_dbCatalogue;

// The fixed key of the catalogue database.
inline constexpr char kCataloguePassword[] = "3B90D4E7A21C58aeC7D9";

// A connection-string value as written: in double quotes when it holds ";", a leading quote or outer blanks.
QString QuoteConnectionValue(const QString& value);
// Opens <application folder>/Data/data.mdb on g_dbCatalogue; returns whether it is open.
bool OpenCatalogue();
