#pragma once

#include <vector>

#include <QString>

#include "DataFiles.h"

// One row of a menu list.
struct CItemRow {
    QString name;
    int id = 0; // key handed to the next level
    int value2 = 0; // from the video data file, not used
    int value3 = 0; // page scroll offset of a video row
};

// A list of the TV menu, paged by ten so that every row of a page has one digit of the remote.
class CItemBase
{
public:
    virtual ~CItemBase() = default;

    virtual void Load(int key) = 0;

    int RowCount() const { return m_file.size() + static_cast<int>(m_rows.size()); }
    int PageCount() const;
    int PageNumber() const { return m_nPage + 1; }
    int PageIndex() const { return m_nPage; }
    int PageSize() const { return m_nPageSize; }
    // Visible rows are first .. end - 1; end < first when the page lies past the rows.
    void VisibleRange(int& first, int& end) const;
    // The row at an absolute index, 0 <= index < RowCount().
    CItemRow RowAt(int index) const;
    void PageForward();
    bool PageBack();
    bool IsValidSelection(int digit) const;
    // The id and value3 of the row with that digit on the current page (an index past the rows means the last).
    int IdAt(int digit) const;
    int ValueAt(int digit) const;

protected:
    void ClearRows();
    void AppendRow(const CItemRow& row) { m_rows.push_back(row); }
    // Takes the rows of a data file (replacing any rows).
    void SetFileRows(CDataFileView file);
    bool HasRows() const { return RowCount() > 0; }
    void SetPage(int page) { m_nPage = page; }

private:
    int IndexForDigit(int digit) const;

    // Rows come either from a data file, decoded when asked for, or from a statement or a folder listing.
    CDataFileView m_file;
    std::vector<CItemRow> m_rows;
    int m_nPage = 0;
    int m_nPageSize = 10;
};
