#include "ShutdownDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "AppIcon.h"
#include "common/Globals.h"

CShutdownPCDlg::CShutdownPCDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("关机提示?"));
    setWindowIcon(AppIcon());
    QFont font(QStringLiteral("宋体"));
    font.setFamilies({ QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Noto Sans CJK SC") });
    font.setPointSize(72);
    setFont(font);
    auto* layout = new QVBoxLayout(this);
    // The box is 700 x 300 on the TV whatever the font makes of the two lines: the layout must not grow it.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(new QLabel(QStringLiteral("关闭电脑,请按1"), this));
    layout->addWidget(new QLabel(QStringLiteral("不关电脑,请按0"), this));
    // On the television, whatever monitor that is.
    setGeometry(g_rcTvScreen.left + 100, g_rcTvScreen.top + 100, 700, 300);
    connect(&m_timer, &QTimer::timeout, this, &CShutdownPCDlg::OnTick);
}

void CShutdownPCDlg::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!m_timer.isActive()) {
        m_nCountdown = kSeconds;
        m_timer.start(1000);
    }
}

void CShutdownPCDlg::OnTick()
{
    setWindowTitle(QStringLiteral("关机提示?[%1]").arg(m_nCountdown));
    --m_nCountdown;
    if (m_nCountdown < 1) {
        m_timer.stop();
        done(0);
    }
}

void CShutdownPCDlg::closeEvent(QCloseEvent* e)
{
    e->ignore();
}

void CShutdownPCDlg::keyPressEvent(QKeyEvent* e)
{
    e->accept();
}
