#include "ScreenMenu.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPainter>
#include <QRect>

#include "catalogue/ItemBase.h"
#include "common/RemoteCommand.h"

namespace
{

// Text is clipped to its cell.
void drawCell(QPainter& painter, const QRect& cell, int flags, const QString& text)
{
    painter.save();
    painter.setClipRect(cell);
    painter.drawText(cell, flags | Qt::TextSingleLine, text);
    painter.restore();
}

} // namespace

QFont CScreenMenu::MenuFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral("隶书"), QStringLiteral("LiSu"), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Noto Sans CJK SC") });
    font.setWeight(QFont::Normal);
    // The largest pixel size (em) whose cell fits: a CJK face's cell is commonly 1.3 to 1.5 ems.
    int size = kCellHeight;
    font.setPixelSize(size);
    const int cell = QFontMetrics(font).height();
    if (cell > kCellHeight) {
        size = std::max(1, size * kCellHeight / cell + 1);
        for (font.setPixelSize(size); size > 1 && QFontMetrics(font).height() > kCellHeight;)
            font.setPixelSize(--size);
    }
    return font;
}

CScreenMenu::CScreenMenu()
{
    m_pCurrent = m_listSet.Select(-1);
}

void CScreenMenu::StepBack()
{
    if (m_pCurrent && m_pCurrent->PageBack())
        return;
    m_pCurrent = m_listSet.GoBack();
}

void CScreenMenu::OnCommand(int command)
{
    const CItemBase* before = m_pCurrent;
    Handle(command);
    // The highlight belongs to the list it was put on: another list starts without one.
    if (m_pCurrent != before) {
        m_pHighlightList = nullptr;
        m_nHighlight = -1;
    }
    KeepHighlightOnPage();
}

void CScreenMenu::KeepHighlightOnPage()
{
    if (Highlight() < 0)
        return;
    // The page shown may have fewer rows than before (a shorter last page, a folder opened in the same list): the
    // highlight goes to its last row, so that it stays visible and OK acts on the row it sits on.
    int first = 0, end = 0;
    m_pCurrent->VisibleRange(first, end);
    if (end <= first) {
        m_pHighlightList = nullptr;
        m_nHighlight = -1;
    } else {
        m_nHighlight = std::min(m_nHighlight, end - first - 1);
    }
}

void CScreenMenu::Handle(int command)
{
    switch (command) {
    case RC_LeaveVideo:
    case RC_LeaveVideo2:
        if (m_listSet.IsPlaying())
            StepBack();
        break;
    case RC_PreviousPage:
        StepBack();
        break;
    case RC_Back:
        m_pCurrent = m_listSet.GoUp();
        break;
    case RC_NextPage:
    case RC_Right:
        if (m_pCurrent)
            m_pCurrent->PageForward();
        break;
    case RC_Left:
        StepBack();
        break;
    case RC_Up:
        MoveHighlight(-1);
        break;
    case RC_Down:
        MoveHighlight(1);
        break;
    case RC_Ok:
        // As the highlighted row's digit.
        if (Highlight() >= 0)
            Handle(RC_Digit0 + Highlight());
        break;
    default:
        if (IsDigitCommand(command))
            m_pCurrent = m_listSet.Select(command - RC_Digit0);
        break;
    }
}

void CScreenMenu::MoveHighlight(int step)
{
    if (!m_pCurrent || m_listSet.IsPlaying())
        return;
    int first = 0, end = 0;
    m_pCurrent->VisibleRange(first, end);
    const int rows = end - first;
    if (rows <= 0)
        return;
    // The first arrow in a list shows the highlight where it is, on the first row.
    if (Highlight() < 0) {
        m_pHighlightList = m_pCurrent;
        m_nHighlight = 0;
        return;
    }
    const int to = m_nHighlight + step;
    if (to >= rows) {
        // Past the last row: the next page's first, when there is one.
        if (m_pCurrent->PageNumber() < m_pCurrent->PageCount()) {
            m_pCurrent->PageForward();
            m_nHighlight = 0;
        }
    } else if (to < 0) {
        // Before the first row: the previous page's last.
        if (m_pCurrent->PageIndex() > 0 && m_pCurrent->PageBack()) {
            m_pCurrent->VisibleRange(first, end);
            m_nHighlight = std::max(end - first - 1, 0);
        }
    } else {
        m_nHighlight = to;
    }
}

void CScreenMenu::Draw(QPainter& painter, const QRect& rect)
{
    KeepHighlightOnPage(); // (the list may have been loaded again since the last key)
    if (m_pCurrent)
        m_nRowHeight = DrawPage(painter, rect, m_strTitle, m_pCurrent, m_clrPen, Highlight());
}

QString CScreenMenu::PageLine(const CItemBase* list)
{
    if (!list || list->PageCount() <= 1)
        return QString();
    return QStringLiteral("第%1页/共%2页<用CH键前后翻页>").arg(list->PageNumber()).arg(list->PageCount());
}

TvMenuSnapshot CScreenMenu::Snapshot() const
{
    TvMenuSnapshot snapshot;
    snapshot.mode = TvMenuSnapshot::Menu;
    snapshot.title = m_strTitle;
    snapshot.watching = m_listSet.WatchingRows();
    if (!m_pCurrent)
        return snapshot;
    int first = 0, end = 0;
    m_pCurrent->VisibleRange(first, end);
    for (int i = first; i < end; ++i)
        snapshot.rows << m_pCurrent->RowAt(i).name;
    snapshot.pageLine = PageLine(m_pCurrent);
    return snapshot;
}

int CScreenMenu::DrawPage(QPainter& painter, const QRect& rect, const QString& title, const CItemBase* list,
                          const QColor& pen, int highlight)
{
    if (!list)
        return 0;
    const int W = rect.width();
    const int H = rect.height();
    const int p = kPenWidth;
    const int m = kMargin;
    const int h = H / 12; // title, ten rows and the page line
    const QPen gridPen(pen, p);
    const QPen textPen(Qt::black);
    painter.save();
    painter.translate(rect.topLeft());
    painter.setBackgroundMode(Qt::TransparentMode);

    painter.setPen(textPen);
    drawCell(painter, QRect(0, 0, W, h), Qt::AlignCenter, title);

    const int top = h;
    int first = 0, end = 0;
    list->VisibleRange(first, end);
    const int n = std::max(end - first, 0);

    const int x0 = p / 2 + m;
    const int x1 = kNumberColumnRight;
    const int x2 = W - (p / 2 + m);
    painter.setPen(gridPen);
    for (int i = 0; i <= n; ++i) {
        const int y = top + m + p + i * h;
        painter.drawLine(x0, y, x2, y);
    }
    for (int x : { x0, x1, x2 })
        painter.drawLine(x, top + m + p, x, (n + 1) * h + m + p);

    // The highlighted row filled with the grid's colour, its text staying black: seen from across the room.
    if (highlight >= 0 && highlight < n)
        painter.fillRect(QRect(x0, top + m + p + highlight * h, x2 - x0, h), pen);

    painter.setPen(textPen);
    QRect number(x0, top, x1 - x0, h);
    QRect name(x1 + 12, top, x2 - (x1 + 12), h);
    for (int i = 0; i < n; ++i) {
        drawCell(painter, number, Qt::AlignCenter, QString::number(i));
        number.translate(0, h);
        drawCell(painter, name, Qt::AlignLeft | Qt::AlignVCenter, list->RowAt(first + i).name);
        name.translate(0, h);
    }

    name.setLeft(x0);
    if (list->PageCount() > 1)
        drawCell(painter, name, Qt::AlignCenter, PageLine(list));
    painter.restore();
    return h;
}
