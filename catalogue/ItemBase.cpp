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

CItemRow CItemBase::RowAt(int index) const
{
    if (index < m_file.size())
        return { m_file.name(index), m_file.id(index), m_file.value2(index), m_file.value3(index) };
    return m_rows[static_cast<std::size_t>(index - m_file.size())];
}

int CItemBase::IndexForDigit(int digit) const
{
    const int index = digit + m_nPage * m_nPageSize;
    return index >= RowCount() ? RowCount() - 1 : index;
}

int CItemBase::IdAt(int digit) const
{
    const int index = IndexForDigit(digit);
    return index < m_file.size() ? m_file.id(index) : RowAt(index).id;
}

int CItemBase::ValueAt(int digit) const
{
    const int index = IndexForDigit(digit);
    return index < m_file.size() ? m_file.value3(index) : RowAt(index).value3;
}

void CItemBase::SetFileRows(CDataFileView file)
{
    m_rows.clear();
    m_file = std::move(file);
}

void CItemBase::ClearRows()
{
    m_rows.clear();
    m_file = CDataFileView();
}
