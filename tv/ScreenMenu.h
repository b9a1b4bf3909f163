#pragma once

#include <QColor>
#include <QString>

#include "ItemListSet.h"
#include "common/TvMenuView.h"

class QPainter;
class QRect;
class QObject;

// The menu shown on the TV: turns remote commands into moves of the list set, and draws the current page.
class CScreenMenu
{
public:
    CScreenMenu();

    void SetTitle(const QString& title) { m_strTitle = title; }
    void SetWindow(QObject* window) { m_listSet.SetWindow(window); }
    // Handles a remote command code (digits, paging, back, leave video); others do nothing.
    void OnCommand(int command);
    // A page sent from elsewhere plays over the list shown, as a chosen episode does.
    void PlaySent() { m_pCurrent = m_listSet.PlaySent(m_pCurrent); }
    // Draws the screen into rect: title, ten numbered rows of the current page, page line. Nothing without a list.
    void Draw(QPainter& painter, const QRect& rect);

    // Draws one page of list (nothing when list is null) and returns the row height used.
    static int DrawPage(QPainter& painter, const QRect& rect, const QString& title, const CItemBase* list,
                        const QColor& pen);

    // The title, rows and page line that Draw shows.
    TvMenuSnapshot Snapshot() const;
    // The page line of a list of more than one page, else "".
    static QString PageLine(const CItemBase* list);

    CItemBase* CurrentList() const { return m_pCurrent; }
    const CItemListSet& ListSet() const { return m_listSet; }
    CItemListSet& ListSet() { return m_listSet; }
    int RowHeight() const { return m_nRowHeight; }

    static constexpr int kPenWidth = 2;
    static constexpr int kMargin = 0;
    static constexpr int kNumberColumnRight = 100;

private:
    void StepBack();

    QColor m_clrPen { 255, 255, 255 };
    int m_nRowHeight = 60;
    QString m_strTitle;
    CItemBase* m_pCurrent = nullptr;
    CItemListSet m_listSet;
};
