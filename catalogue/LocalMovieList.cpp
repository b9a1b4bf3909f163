#include "LocalMovieList.h"

#include <QDirIterator>

#include "common/Settings.h"

CLocalPCMoiveList::CLocalPCMoiveList()
{
    // The settings may name the folders to browse; the two default roots (drive folders of a Windows PC, which
    // give empty listings elsewhere) stand otherwise.
    const QString configured = ReadSetting(QString::fromLatin1(SettingKey::LocalMovieFolders));
    for (const QString& part : configured.split(QLatin1Char(';'))) {
        if (!part.trimmed().isEmpty())
            m_roots.append(part.trimmed());
    }
    if (m_roots.isEmpty())
        m_roots = { QStringLiteral("F:\\Download\\video"), QStringLiteral("E:\\Download") };
}

void CLocalPCMoiveList::Load(int digit)
{
    if (m_bShowRoots) {
        ClearRows();
        m_paths.clear();
        for (int i = 0; i < m_roots.size(); ++i) {
            AppendRow({ m_roots[i], i, 0, 0 });
            m_paths.append(m_roots[i]);
        }
        m_bShowRoots = 0;
        SetPage(0);
        return;
    }
    const int index = digit + PageIndex() * PageSize();
    if (index < 0 || index >= RowCount())
        return;
    const QString folder = m_paths[index];
    ClearRows();
    m_paths.clear();
    SetPage(0);
    // Entries in the order the file system returns them; "." and ".." are left out.
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        AppendRow({ it.fileName(), 0, 0, 0 });
        m_paths.append(it.filePath());
    }
}
