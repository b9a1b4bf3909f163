#pragma once

#include <QColor>
#include <QFont>
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
    // Handles a remote command code (digits, paging, back, leave video, arrows and OK); others do nothing.
    void OnCommand(int command);
    // A page sent from elsewhere plays over the list shown, as a chosen episode does.
    void PlaySent() { m_pCurrent = m_listSet.PlaySent(m_pCurrent); }
    // Draws the screen into rect: title, ten numbered rows of the current page, page line. Nothing without a list.
    void Draw(QPainter& painter, const QRect& rect);

    // Draws one page of list (nothing when list is null) and returns the row height used.
    // highlight: the row of the page drawn inverted, -1 for none.
    static int DrawPage(QPainter& painter, const QRect& rect, const QString& title, const CItemBase* list,
                        const QColor& pen, int highlight = -1);
    // The highlighted row of the page shown, -1 until an arrow was pressed in this list.
    int Highlight() const { return m_pCurrent == m_pHighlightList ? m_nHighlight : -1; }

    // The title, rows and page line that Draw shows.
    TvMenuSnapshot Snapshot() const;
    // The page line of a list of more than one page, else "".
    static QString PageLine(const CItemBase* list);
    // The next episode of the playing one plays (the list beneath is its address list, on its page).
    void PlayNextEpisode() { m_pCurrent = m_listSet.PlayNextEpisode(); }
    // Row of "继续观看" chosen from elsewhere (a phone).
    void ResumeWatched(int row) { m_pCurrent = m_listSet.ResumeWatched(row); }
    // The menu's face ("隶书", or the CJK face fontconfig puts in its place), sized so that its cell (ascent and
    // descent, what a font's height means on the TV menu) is kCellHeight pixels, whatever the face's em.
    static QFont MenuFont();
    static constexpr int kCellHeight = 60;

    CItemBase* CurrentList() const { return m_pCurrent; }
    const CItemListSet& ListSet() const { return m_listSet; }
    CItemListSet& ListSet() { return m_listSet; }
    int RowHeight() const { return m_nRowHeight; }

    static constexpr int kPenWidth = 2;
    static constexpr int kMargin = 0;
    static constexpr int kNumberColumnRight = 100;

private:
    void StepBack();
    void MoveHighlight(int step);
    void KeepHighlightOnPage();
    void Handle(int command);

    QColor m_clrPen { 255, 255, 255 };
    int m_nRowHeight = 60;
    QString m_strTitle;
    CItemBase* m_pCurrent = nullptr;
    const CItemBase* m_pHighlightList = nullptr; // the list the highlight belongs to
    int m_nHighlight = -1;
    CItemListSet m_listSet;
};
