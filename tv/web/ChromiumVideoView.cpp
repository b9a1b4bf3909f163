#include "ChromiumVideoView.h"

#include <QFile>
#include <QLoggingCategory>
#include <QResizeEvent>
#include <QShowEvent>

#include "ChromiumPage.h"
#include "ChromiumProcess.h"
#include "DevToolsPipe.h"
#include "X11Embed.h"

namespace
{

Q_LOGGING_CATEGORY(lcChromium, "krel.tv", QtInfoMsg)

// The page script (tv/web/PlayerScript.js), as a string literal made by the build.
const char kPlayerScript[] =
#include "PlayerScript.inc"
    ;

constexpr int kFindMs = 50;
constexpr int kFindTries = 400; // the browser's window within 20 s, or the browser is taken as failed
constexpr int kShowLostMs = 3000; // a window taken in and not shown after this long is shown by us

} // namespace

CChromiumVideoView::CChromiumVideoView(QWidget* parent)
    : QWidget(parent)
{
    // A native child window of the TV window: the browser's window goes inside it.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    // Nothing of ours takes keys here: the remote drives the TV window, and the page gets no keyboard input.
    setFocusPolicy(Qt::NoFocus);
    m_find.setInterval(kFindMs);
    connect(&m_find, &QTimer::timeout, this, &CChromiumVideoView::FindWindow);
    m_endWatch.setInterval(kEndWatchMs);
    connect(&m_endWatch, &QTimer::timeout, this, &CChromiumVideoView::WatchForTheEnd);
}

CChromiumVideoView::~CChromiumVideoView()
{
    // The browser ended on purpose, with the TV window that owns the view going: nobody is told.
    m_gone = nullptr;
    m_crashed = nullptr;
    m_ended = nullptr;
    m_find.stop();
    // The browser first: as it ends, its pipe answers what waits, and the page is still there to hear it; the pipe
    // and the page go with it.
    if (m_pBrowser)
        disconnect(m_pBrowser, nullptr, this, nullptr);
    delete m_pBrowser;
}

QStringList CChromiumVideoView::ExtraFlags()
{
    return QString::fromLocal8Bit(qgetenv("KREL_CHROMIUM_FLAGS")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool CChromiumVideoView::EnsureBrowser()
{
    if (m_pBrowser && m_pBrowser->IsRunning())
        return true;
    delete m_pBrowser; // its pipe and page with it
    m_pBrowser = new CChromiumProcess;
    CChromiumProcess::Options options;
    // Born where the view is, the TV, at the view's size: until it is inside ours (a few tens of milliseconds), a
    // window manager that takes it places it there rather than on the PC monitor (X11 keeps windows that ask for a
    // place outside every monitor on the primary one).
    const QPoint at = mapToGlobal(QPoint(0, 0)) * devicePixelRatioF();
    const QSize extent = size() * devicePixelRatioF();
    options.extraArguments
        = QStringList { QStringLiteral("--window-position=%1,%2").arg(at.x()).arg(at.y()),
                        QStringLiteral("--window-size=%1,%2").arg(extent.width()).arg(extent.height()) }
        + ExtraFlags();
    if (!m_pBrowser->Start(options)) {
        delete m_pBrowser;
        m_pBrowser = nullptr;
        return false;
    }
    // Its window comes inside ours before it is first shown; should it be shown first (a slow start of ours), a
    // window manager may take it, and FindWindow takes it back.
    X11Embed::AdoptWhenMade("krel-tv", m_pBrowser->Pid(), winId());
    connect(m_pBrowser, &CChromiumProcess::exited, this, &CChromiumVideoView::OnBrowserGone);
    // A browser that stops answering is as good as gone: it is ended, and the next video starts a new one.
    connect(m_pBrowser->Pipe(), &CDevToolsPipe::unresponsive, this, [this](const QString& method) {
        qCWarning(lcChromium).noquote() << "the browser did not answer" << method << "in time: it is ended";
        QTimer::singleShot(0, this, [this] {
            if (m_pBrowser)
                m_pBrowser->Stop(500);
        });
    });
    m_pPage = new CChromiumPage(m_pBrowser->Pipe(), QString::fromUtf8(kPlayerScript));
    connect(m_pPage, &CChromiumPage::playerEnlarged, this, [this](const QString& address) {
        // The chosen player's movie address, as the other engine logs it (the page script bounds its length).
        qCDebug(lcChromium).noquote() << "player stretched:" << address;
        emit playersEnlarged({ address });
    });
    connect(m_pPage, &CChromiumPage::crashed, this, &CChromiumVideoView::OnPageCrashed);
    connect(m_pPage, &CChromiumPage::failed, this,
            [](const QString& why) { qCWarning(lcChromium).noquote() << "the browser's page:" << why; });
    m_pPage->Attach();
    m_nWindow = 0;
    m_nFound = 0;
    m_nFindTries = 0;
    m_find.start();
    return true;
}

CChromiumPage* CChromiumVideoView::Page() const
{
    return m_pPage;
}

qint64 CChromiumVideoView::BrowserPid() const
{
    return m_pBrowser && m_pBrowser->IsRunning() ? m_pBrowser->Pid() : 0;
}

void CChromiumVideoView::FindWindow()
{
    if (!m_pBrowser)
        return;
    // Found once; a window manager that took it first may need a few rounds to give it back.
    if (!m_nFound)
        m_nFound = X11Embed::FindWindow("krel-tv", m_pBrowser->Pid());
    // Taken in as it was made, and still not shown after a few seconds: its request to be shown was lost.
    if (!m_nFound && m_nFindTries * kFindMs >= kShowLostMs)
        m_nFound = X11Embed::AdoptedButNeverShown("krel-tv", m_pBrowser->Pid());
    if (m_nFound) {
        const X11Embed::Embedding result = X11Embed::Embed(m_nFound, winId(), size() * devicePixelRatioF());
        if (result == X11Embed::Embedding::Done) {
            m_nWindow = m_nFound;
            m_find.stop();
            X11Embed::SetShown(m_nWindow, isVisible());
            return;
        }
        if (result == X11Embed::Embedding::Waiting && m_nFindTries % 20 == 0)
            qCInfo(lcChromium, "the browser's window is held by the window manager: taking it back");
    }
    if (++m_nFindTries >= kFindTries) {
        m_find.stop();
        qCWarning(lcChromium).noquote()
            << (m_nFound ? "the window manager did not give the browser's window back: it is ended"
                         : "the browser's window did not appear: it is ended")
            << "(its windows:" << X11Embed::DescribeWindows(m_pBrowser->Pid()) << ")";
        m_pBrowser->Stop(500);
    }
}

void CChromiumVideoView::OnBrowserGone()
{
    // Never takes krel with it: the view hides, the TV window goes back to its menu, and the next video starts a new
    // browser.
    m_nWindow = 0;
    m_nFound = 0;
    m_find.stop();
    const bool shown = !isHidden(); // shown, or meant to be while the TV is away
    // One that ended before its page was ready (it crashed as it started: a full disk, a broken profile lock, a
    // signal) is started once more for the same page before the TV gives up on it.
    if (shown && !m_bStartedAgain && !m_strAddress.isEmpty() && !(m_pPage && m_pPage->IsReady())) {
        qCWarning(lcChromium, "the browser ended as it started: it is started once more");
        m_bStartedAgain = true;
        // (Not from its own exit signal: the process object goes as the new one starts.)
        QTimer::singleShot(0, this, [this] {
            if (!isHidden() && m_bStartedAgain && !BrowserPid())
                Open(m_strAddress, m_nScrollY, m_dStartAt);
        });
        return;
    }
    qCWarning(lcChromium, "the browser ended");
    hide();
    if (shown && m_gone)
        m_gone();
}

void CChromiumVideoView::TogglePause(std::function<void()> answered)
{
    if (!m_pPage)
        return;
    // The frame whose script has a chosen media player answers whether it is paused now; the others answer "none".
    m_pPage->EvaluateEverywhere(
        QStringLiteral("window.__krelTogglePause ? window.__krelTogglePause() : 'none'"),
        [this, page = m_nPages, answered = std::move(answered)](const QList<QJsonValue>& answers) {
            if (page != m_nPages)
                return; // another page was opened meanwhile
            for (const QJsonValue& a : answers)
                if (a.isBool()) {
                    m_bPaused = a.toBool();
                    break;
                }
            if (answered)
                answered();
        });
}

void CChromiumVideoView::Seek(double seconds, bool relative)
{
    if (m_pPage)
        m_pPage->EvaluateEverywhere(SeekScript(seconds, relative));
}

void CChromiumVideoView::Leave(std::function<void(double position, double duration)> done)
{
    if (!m_pPage) {
        done(0, 0);
        return;
    }
    // The frame whose script has a chosen media player answers with where it is.
    m_pPage->EvaluateEverywhere(QStringLiteral("window.__krelLeave ? window.__krelLeave() : null"),
                                [done = std::move(done)](const QList<QJsonValue>& answers) {
                                    for (const QJsonValue& a : answers)
                                        if (a.isArray()) {
                                            done(a[0].toDouble(), a[1].toDouble());
                                            return;
                                        }
                                    done(0, 0);
                                });
}

void CChromiumVideoView::Navigate(const QString& address, int scrollY, double startAt)
{
    m_bStartedAgain = false;
    Open(address, scrollY, startAt);
}

void CChromiumVideoView::Open(const QString& address, int scrollY, double startAt)
{
    m_bPaused = false;
    m_nScrollY = scrollY;
    m_dStartAt = startAt;
    ++m_nPages;
    m_strAddress = address;
    m_nCrashes = 0;
    if (!EnsureBrowser()) {
        // As for a browser that ended: the TV goes back to the list with its line, and the next choice tries again.
        qCWarning(lcChromium, "the browser cannot be started");
        hide();
        QTimer::singleShot(0, this, [this] {
            if (m_gone)
                m_gone();
        });
        return;
    }
    show();
    m_pPage->Navigate(address, scrollY, startAt);
    if (address == QLatin1String("about:blank"))
        m_endWatch.stop();
    else
        m_endWatch.start();
}

void CChromiumVideoView::WatchForTheEnd()
{
    if (!m_pPage || isHidden())
        return;
    m_pPage->EvaluateEverywhere(EndedScript(), [this, page = m_nPages](const QList<QJsonValue>& answers) {
        if (page != m_nPages || !m_endWatch.isActive())
            return;
        for (const QJsonValue& a : answers)
            if (a.toBool()) {
                m_endWatch.stop();
                if (m_ended)
                    m_ended();
                return;
            }
    });
}

void CChromiumVideoView::OnPageCrashed()
{
    if (isHidden() || m_strAddress.isEmpty())
        return; // nothing shown: the next page opens a new renderer anyway
    if (++m_nCrashes == 1) {
        qCWarning(lcChromium, "the page is opened again");
        m_bPaused = false;
        m_pPage->OpenAgain();
        return;
    }
    hide();
    m_strAddress.clear();
    if (m_crashed)
        m_crashed();
}

void CChromiumVideoView::Prepare()
{
    EnsureBrowser();
}

void CChromiumVideoView::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    X11Embed::SetShown(m_nWindow, true);
    if (m_pPage)
        m_pPage->SetHidden(false);
}

void CChromiumVideoView::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    X11Embed::SetShown(m_nWindow, false);
    if (m_pPage)
        m_pPage->SetHidden(true);
}

void CChromiumVideoView::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (m_nWindow)
        X11Embed::Resize(m_nWindow, e->size() * devicePixelRatioF());
}

extern "C" Q_DECL_EXPORT IWebVideoView* krel_create_web_video_view(QWidget* parent)
{
    return new CChromiumVideoView(parent);
}
