#include "ItemBase.h"

#include <algorithm>

int CItemBase::PageCount() const
{
    const int n = RowCount();
    return n / m_nPageSize + (n % m_nPageSize != 0 ? 1 : 0);
}

void CItemBase::VisibleRange(int& first, int& end) const
{
    first = m_nPage * m_nPageSize;
    end = std::min(RowCount(), (m_nPage + 1) * m_nPageSize);
}

void CItemBase::PageForward()
{
    if (PageCount() > 0 && m_nPage + 1 < PageCount())
        ++m_nPage;
}

bool CItemBase::PageBack()
{
    if (m_nPage - 1 >= 0) {
        --m_nPage;
        return true;
    }
    m_nPage = 0;
    return false;
}

bool CItemBase::IsValidSelection(int digit) const
{
    return digit >= 0 && digit <= m_nPageSize - 1 && digit + m_nPage * m_nPageSize < RowCount();
}

const CItemRow& CItemBase::RowForDigit(int digit) const
{
    int index = digit + m_nPage * m_nPageSize;
    if (index >= RowCount())
        index = RowCount() - 1;
    return RowAt(index);
}

int CItemBase::IdAt(int digit) const
{
    return RowForDigit(digit).id;
}

int CItemBase::ValueAt(int digit) const
{
    return RowForDigit(digit).value3;
}

void CItemBase::ClearRows()
{
    m_rows.clear();
}
