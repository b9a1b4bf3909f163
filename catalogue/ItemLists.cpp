#include "ItemLists.h"

#include "AdoDatabase.h"
#include "CatalogueQueries.h"
#include "DataFiles.h"

namespace
{

// Reads the rows of a statement into a list: idColumn into the id, nameColumn into the name. A column that cannot
// be read leaves its field at the row's starting value; the row is still listed.
template <typename Append>
void loadStatement(const QString& sql, const QString& idColumn, const QString& nameColumn, Append append)
{
    CADORecordset rs(&g_dbCatalogue);
    if (!rs.Open(sql, 0))
        return;
    const std::uint32_t count = rs.GetRecordCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        CItemRow row;
        rs.GetFieldValue(idColumn, row.id);
        rs.GetFieldValue(nameColumn, row.name, QString());
        append(row);
        rs.MoveNext();
    }
}

} // namespace

void CSelectOnlineVideoType::Load(int)
{
    if (HasRows())
        return;
    SetFileRows(OpenTypeFile(TypeFilePath()));
}

void CSelectOnlineVideoList::Load(int typeId)
{
    ClearRows();
    SetPage(0);
    SetFileRows(OpenVideoFile(VideoFilePath(typeId)));
}

void CMoiveStarList::Load(int)
{
    if (HasRows())
        return;
    loadStatement(QString::fromLatin1(kStarListSql), QStringLiteral("starid"), QStringLiteral("starname"),
                  [this](const CItemRow& row) { AppendRow(row); });
}

void CSelectStarVideoList::Load(int starId)
{
    ClearRows();
    SetPage(0);
    loadStatement(FormatStatement(kStarVideoListSql, starId), QStringLiteral("id"), QStringLiteral("videoname"),
                  [this](const CItemRow& row) { AppendRow(row); });
}

void CSelectOnlineVideoAddrList::Load(int videoId)
{
    ClearRows();
    SetPage(0);
    loadStatement(FormatStatement(kVideoAddrListSql, videoId), QStringLiteral("id"), QStringLiteral("name"),
                  [this](const CItemRow& row) { AppendRow(row); });
}
