#include "OnlineVideoView.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

namespace
{

// The TV's category; the library links nothing of the program, so it has its own.
Q_LOGGING_CATEGORY(lcWebView, "krel.tv", QtInfoMsg)

// A page that raises nothing: no script dialogs, no certificate prompts, no file choosers, no permission prompts
// (every request is denied: camera, microphone, location, notifications, screen capture), no new windows, no
// downloads. Nobody sits at the TV with a mouse to answer them, and every page is treated as hostile: the engine
// gets no security updates in this release.
class SilentPage : public QWebEnginePage
{
public:
    explicit SilentPage(QObject* parent)
        : QWebEnginePage(parent)
    {
        connect(this, &QWebEnginePage::certificateError, this,
                [](QWebEngineCertificateError error) { error.rejectCertificate(); });
        connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
            setFeaturePermission(origin, feature, PermissionDeniedByUser);
        });
        connect(profile(), &QWebEngineProfile::downloadRequested, this, [](QWebEngineDownloadRequest* download) {
            qCInfo(lcWebView).noquote() << "download refused:" << download->url().toString();
            download->cancel();
        });
    }

protected:
    void javaScriptAlert(const QUrl&, const QString&) override { }
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override { }
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override { return {}; }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    // The page itself may take the top frame only to http and https pages (the program opens the pages it chose,
    // and an installed file: page may lead to another one).
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame || type == NavigationTypeTyped)
            return true;
        const QString scheme = url.scheme();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https")
            || url == QUrl(QStringLiteral("about:blank"))
            || (scheme == QLatin1String("file") && this->url().scheme() == QLatin1String("file")))
            return true;
        qCInfo(lcWebView).noquote() << "navigation refused:" << url.toString();
        return false;
    }
};

// The page script (tv/web/PlayerScript.js), as a string literal made by the build.
const char kPlayerScript[] =
#include "PlayerScript.inc"
    ;

constexpr int kPollMs = 500;
// A little longer than the page script watches the page after a load (30 s).
constexpr int kPollCount = 70;

} // namespace

COnlineVideoView::COnlineVideoView(QWidget* parent)
    : QWebEngineView(parent)
{
    setPage(new SilentPage(this));
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    // An address of another scheme (mailto:, tel:, a registered handler) never starts another program, clicked or
    // not: the engine would hand it to the desktop's opener.
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    // A page's own full-screen button: the view already covers the television, so the request is simply granted.
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    connect(page(), &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.accept(); });
    // (The top frame's player: Qt WebEngine runs the script's calls there only.)
    m_endWatch.setInterval(kEndWatchMs);
    connect(&m_endWatch, &QTimer::timeout, this, [this] {
        if (isHidden())
            return;
        page()->runJavaScript(EndedScript(), kScriptWorld, [this, page = m_nPages](const QVariant& v) {
            // (No value at all: the page is going, and with it this view.)
            if (!v.isValid() || page != m_nPages || !m_endWatch.isActive() || !v.toBool())
                return;
            m_endWatch.stop();
            if (m_ended)
                m_ended();
        });
    });
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &COnlineVideoView::Poll);
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) { StartWatching(); });
    // The page's renderer died (a crash, the kernel's out-of-memory killer): opened again once, then given up.
    connect(page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status == QWebEnginePage::NormalTerminationStatus || isHidden() || m_strAddress.isEmpty())
                    return;
                qWarning("krel: the page's renderer died");
                if (++m_nCrashes == 1) {
                    const int crashes = m_nCrashes;
                    Navigate(m_strAddress, m_nScrollY, m_dStartAt);
                    m_nCrashes = crashes;
                    return;
                }
                hide();
                m_strAddress.clear();
                if (m_crashed)
                    m_crashed();
            });
    // An in-page navigation (history.pushState, a new hash) changes the address without a load: watch again.
    connect(this, &QWebEngineView::urlChanged, this, [this] {
        if (!page()->isLoading())
            page()->runJavaScript(QStringLiteral("window.__krelWatch && window.__krelWatch()"), kScriptWorld);
        StartWatching();
    });
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
    InstallPageScript(0, 0);
    setUrl(QUrl(QStringLiteral("about:blank")));
}

void COnlineVideoView::InstallPageScript(int scrollY, double startAt)
{
    QWebEngineScriptCollection& scripts = page()->scripts();
    for (const QWebEngineScript& old : scripts.find(QStringLiteral("krel-player")))
        scripts.remove(old);
    QWebEngineScript script;
    script.setName(QStringLiteral("krel-player"));
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(kScriptWorld);
    // Frames of other origins too: a player page inside a frame stretches its video over its frame.
    script.setRunsOnSubFrames(true);
    script.setSourceCode(PageScriptSource(QString::fromUtf8(kPlayerScript), scrollY, startAt));
    scripts.insert(script);
}

bool COnlineVideoView::eventFilter(QObject* watched, QEvent* e)
{
    switch (e->type()) {
    case QEvent::ChildAdded:
        // The page's input surface is a child the engine makes with the first page: filter it as well.
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(e)->child()))
            child->installEventFilter(this);
        return false;
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        return true;
    default:
        return QWebEngineView::eventFilter(watched, e);
    }
}

void COnlineVideoView::TogglePause(std::function<void()> answered)
{
    // The top frame's script answers whether its player is paused now; a player in a frame below is out of its
    // reach, and the answer is then "none".
    page()->runJavaScript(QStringLiteral("window.__krelTogglePause ? window.__krelTogglePause() : 'none'"),
                          kScriptWorld, [this, page = m_nPages, answered = std::move(answered)](const QVariant& v) {
                              // (No value at all: the page is going, and with it this view.)
                              if (!v.isValid() || page != m_nPages)
                                  return;
                              if (v.typeId() == QMetaType::Bool)
                                  m_bPaused = v.toBool();
                              if (answered)
                                  answered();
                          });
}

void COnlineVideoView::Seek(double seconds, bool relative)
{
    page()->runJavaScript(SeekScript(seconds, relative), kScriptWorld);
}

void COnlineVideoView::Leave(std::function<void(double position, double duration)> done)
{
    page()->runJavaScript(QStringLiteral("window.__krelLeave ? window.__krelLeave() : null"), kScriptWorld,
                          [done = std::move(done)](const QVariant& v) {
                              const QVariantList at = v.toList();
                              done(at.value(0).toDouble(), at.value(1).toDouble());
                          });
}

void COnlineVideoView::Navigate(const QString& address, int scrollY, double startAt)
{
    // A new page counts its stretches from 0 again, and plays.
    m_nSerial = 0;
    m_bPaused = false;
    ++m_nPages;
    m_strAddress = address;
    m_nScrollY = scrollY;
    m_dStartAt = startAt;
    m_nCrashes = 0;
    // The scroll offset belongs to the video chosen now.
    InstallPageScript(scrollY, startAt);
    show();
    load(QUrl(address));
    update();
    if (address == QLatin1String("about:blank"))
        m_endWatch.stop();
    else
        m_endWatch.start();
}

void COnlineVideoView::Prepare()
{
    if (url().isEmpty())
        load(QUrl(QStringLiteral("about:blank")));
}

void COnlineVideoView::StartWatching()
{
    m_nPolls = 0;
    if (url() == QUrl(QStringLiteral("about:blank"))) {
        m_poll.stop();
        return;
    }
    m_poll.start();
}

void COnlineVideoView::Poll()
{
    if (++m_nPolls > kPollCount) {
        m_poll.stop();
        return;
    }
    page()->runJavaScript(QStringLiteral("window.__krelPoll ? window.__krelPoll() : null"), kScriptWorld,
                          [this](const QVariant& result) {
                              const QVariantMap state = result.toMap();
                              if (state.isEmpty())
                                  return;
                              const int serial = state.value(QStringLiteral("serial")).toInt();
                              if (serial != m_nSerial) {
                                  m_nSerial = serial;
                                  const QString address = state.value(QStringLiteral("address")).toString();
                                  qCDebug(lcWebView).noquote() << serial << address;
                                  emit playersEnlarged({ address });
                              }
                              const QVariantList click = state.value(QStringLiteral("click")).toList();
                              if (click.size() == 2)
                                  ClickAt(QPoint(click[0].toInt(), click[1].toInt()));
                          });
}

void COnlineVideoView::ClickAt(const QPoint& point)
{
    // A real input event through the view: to the page it is a user's click, which starts players that wait for
    // one. The page's CSS pixels are the view's pixels (zoom 1).
    QWidget* target = focusProxy() ? focusProxy() : this;
    const QPointF local(point);
    const QPointF global(target->mapToGlobal(point));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &release);
}

extern "C" Q_DECL_EXPORT IWebVideoView* krel_create_web_video_view(QWidget* parent)
{
    return new COnlineVideoView(parent);
}
