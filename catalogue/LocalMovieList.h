#pragma once

#include <vector>

#include <QStringList>

#include "ItemBase.h"

// Browses local movie folders: first the root folders, then the entries of a chosen folder. Every row remembers
// its full path, so choosing a folder entry lists that folder.
class CLocalPCMoiveList : public CItemBase
{
public:
    CLocalPCMoiveList();

    // First call: show the roots (the key is ignored). Later: open the row with digit key on the current page.
    void Load(int digit) override;
    const QStringList& Roots() const { return m_roots; }
    QString PathAt(int index) const { return m_paths.value(index); }

private:
    int m_bShowRoots = 1;
    QStringList m_roots;
    QStringList m_paths; // full path of each row, parallel to the rows
};
