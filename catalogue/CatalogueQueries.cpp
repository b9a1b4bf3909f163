#include "CatalogueQueries.h"

#include "AdoDatabase.h"

QString FormatStatement(const char* statement, int key)
{
    return QString::asprintf(statement, key);
}

void LoadAddressUrl(int id, QString* url)
{
    if (!url)
        return;
    CADORecordset rs(&g_dbCatalogue);
    if (!rs.Open(FormatStatement(kAddressByIdSql, id), 0))
        return;
    if (rs.GetRecordCount() > 0)
        rs.GetFieldValue(QStringLiteral("url"), *url, QString());
    rs.Close();
}
