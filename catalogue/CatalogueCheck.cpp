#include "CatalogueCheck.h"

#include <QFile>
#include <QtEndian>

#include "AdoDatabase.h"
#include "CatalogueCipher.h"
#include "DataFiles.h"

namespace
{

bool wholeFile(const QByteArray& bytes, int recordBytes)
{
    if (bytes.size() < 4)
        return false;
    const qint64 count = qFromLittleEndian<qint32>(bytes.constData());
    return count >= 0 && bytes.size() >= 4 + count * recordBytes;
}

QByteArray readAll(const QString& path, bool* ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? file.readAll() : QByteArray();
}

} // namespace

bool CheckCatalogueFolder(const QString& dataDir, QString* why)
{
    CADODatabase db;
    const QString connection = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;"
                                              "Jet OLEDB:Database Password=%2")
                                   .arg(QuoteConnectionValue(dataDir + QStringLiteral("/data.mdb")),
                                        QString::fromLatin1(kCataloguePassword));
    if (!db.Open(connection, QString(), QString())
        || !db.HasTables(kCatalogueTables, static_cast<int>(std::size(kCatalogueTables)))) {
        *why = QStringLiteral("data.mdb: ") + db.GetErrorDescription();
        return false;
    }
    db.Close();
    bool ok = false;
    const QByteArray types = readAll(dataDir + QStringLiteral("/date.dat"), &ok);
    if (!ok || !wholeFile(types, kTypeRecordBytes)) {
        *why = QStringLiteral("date.dat is missing or cut");
        return false;
    }
    for (const TypeRecord& type : ParseTypeFile(types)) {
        const QString name = QStringLiteral("Data%1.dat").arg(type.id);
        if (!wholeFile(readAll(dataDir + QLatin1Char('/') + name, &ok), kVideoRecordBytes) || !ok) {
            *why = name + QStringLiteral(" is missing or cut");
            return false;
        }
    }
    return true;
}
