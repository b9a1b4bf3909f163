#include "ShutdownDlg.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "AppIcon.h"
#include "common/Globals.h"
#include "tv/MenuSpeech.h"

CShutdownPCDlg::CShutdownPCDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("关机提示?"));
    setWindowIcon(AppIcon());
    // The remote answers it; the keyboard stays with whoever works at the PC. A window of its own rather than a
    // dialog of krel's: a window manager hands the focus to a dialog's main window (the control window) as the
    // dialog closes.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    QFont font(QStringLiteral("宋体"));
    font.setFamilies({ QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Noto Sans CJK SC") });
    font.setPointSize(72);
    setFont(font);
    const QRect tv = g_rcTvScreen.toQRect();
    const QRect box(100, 100, 700, 300); // on the television, whatever monitor that is
    // Under Wayland a window cannot place itself: the prompt is then a surface over the whole TV output, grey as
    // the TV menu's background, with the prompt's box drawn at its place.
    m_bSurface = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    QWidget* content = this;
    if (m_bSurface) {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        const QColor dialogColour = palette().color(QPalette::Window);
        QPalette grey = palette();
        grey.setColor(QPalette::Window, QColor(127, 127, 127));
        setPalette(grey);
        setAutoFillBackground(true);
        content = new QFrame(this);
        content->setObjectName(QStringLiteral("box"));
        content->setGeometry(box);
        content->setAutoFillBackground(true);
        QPalette boxPalette = content->palette();
        boxPalette.setColor(QPalette::Window, dialogColour);
        content->setPalette(boxPalette);
    }
    auto* layout = new QVBoxLayout(content);
    // The box is 700 x 300 on the TV whatever the font makes of the two lines: the layout must not grow it.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    // The title with its countdown, inside the box as well: on the TV a window has no title bar a viewer could read
    // (none at all without a window manager, or under Wayland), and the viewer should see that the prompt closes by
    // itself and the PC stays on.
    m_pTitle = new QLabel(windowTitle(), content);
    m_pTitle->setFont(QGuiApplication::font());
    layout->addWidget(m_pTitle);
    layout->addWidget(new QLabel(QStringLiteral("关闭电脑,请按1"), content));
    layout->addWidget(new QLabel(QStringLiteral("不关电脑,请按0"), content));
    if (m_bSurface) {
        create();
        if (QScreen* screen = QGuiApplication::screenAt(tv.center()))
            windowHandle()->setScreen(screen);
        setGeometry(tv);
        setWindowState(Qt::WindowFullScreen);
    } else {
        setGeometry(box.translated(tv.topLeft()));
    }
    connect(&m_timer, &QTimer::timeout, this, &CShutdownPCDlg::OnTick);
    connect(this, &QWidget::windowTitleChanged, this, [this](const QString& title) {
        if (m_pTitle)
            m_pTitle->setText(title);
    });
}

void CShutdownPCDlg::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!m_timer.isActive()) {
        m_nCountdown = kSeconds;
        m_timer.start(1000);
        // The whole prompt, then the seconds left every five seconds (OnTick).
        Speak(QStringLiteral("关机提示, %1秒. 关闭电脑,请按1. 不关电脑,请按0").arg(kSeconds));
    }
}

void CShutdownPCDlg::OnTick()
{
    setWindowTitle(QStringLiteral("关机提示?[%1]").arg(m_nCountdown));
    if (m_nCountdown % 5 == 0 && m_nCountdown < kSeconds)
        Speak(QStringLiteral("%1秒").arg(m_nCountdown));
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
