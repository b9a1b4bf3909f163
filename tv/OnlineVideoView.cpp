#include "OnlineVideoView.h"

#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include "common/Globals.h"
#include "common/Log.h"

namespace
{

// A page that raises nothing: no script dialogs, no certificate prompts, no file choosers, no permission prompts,
// no new windows. Nobody sits at the TV with a mouse to answer them.
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
    }

protected:
    void javaScriptAlert(const QUrl&, const QString&) override { }
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override { }
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override { return {}; }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

// Finds the page's players (object and embed elements, and today's video and iframe elements), tests each one's
// extent in HIMETRIC (CSS pixels x 2540 / 96) and pins every qualifying one over the whole view, scrolling the
// page to the video's offset after each. Returns [index, movie address] of the players it enlarged.
const char kEnlargeScript[] = R"JS(
(function (tvWidth, tvHeight, scrollY) {
  var players = document.querySelectorAll('object, embed, video, iframe');
  var enlarged = [];
  for (var i = 0; i < players.length; ++i) {
    var e = players[i];
    var box = e.getBoundingClientRect();
    var cx = Math.round(box.width * 2540 / 96), cy = Math.round(box.height * 2540 / 96);
    if (!(cx > 100 && cy > 100 && cx >= cy && Math.fround(cx / cy) <= 3.0))
      continue;
    var address = e.getAttribute('data') || e.getAttribute('src') || e.currentSrc || '';
    e.style.setProperty('position', 'fixed', 'important');
    e.style.setProperty('left', '0px', 'important');
    e.style.setProperty('top', '0px', 'important');
    e.style.setProperty('width', tvWidth + 'px', 'important');
    e.style.setProperty('height', tvHeight + 'px', 'important');
    e.style.setProperty('max-width', 'none', 'important');
    e.style.setProperty('max-height', 'none', 'important');
    e.style.setProperty('margin', '0', 'important');
    e.style.setProperty('z-index', '2147483647', 'important');
    window.scrollTo(0, scrollY);
    enlarged.push([i, String(address)]);
  }
  return enlarged;
})(%1, %2, %3)
)JS";

} // namespace

COnlineVideoView::COnlineVideoView(QWidget* parent)
    : QWebEngineView(parent)
{
    setPage(new SilentPage(this));
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (ok)
            EnlargeFlashPlayers();
    });
    setUrl(QUrl(QStringLiteral("about:blank")));
}

bool COnlineVideoView::IsPlayerExtent(int cx, int cy)
{
    return cx > 100 && cy > 100 && cx >= cy && static_cast<float>(cx) / static_cast<float>(cy) <= 3.0f;
}

void COnlineVideoView::Navigate(const QString& address)
{
    show();
    load(QUrl(address));
    update();
}

void COnlineVideoView::EnlargeFlashPlayers()
{
    if (url() == QUrl(QStringLiteral("about:blank")))
        return;
    // The player fills the television: the view's own size is the TV rectangle in CSS pixels at zoom 1.
    const int width = g_rcTvScreen.isEmpty() ? this->width() : g_rcTvScreen.width();
    const int height = g_rcTvScreen.isEmpty() ? this->height() : g_rcTvScreen.height();
    const QString script = QString::fromLatin1(kEnlargeScript).arg(width).arg(height).arg(g_nScrollY);
    page()->runJavaScript(script, [this](const QVariant& result) {
        QStringList addresses;
        for (const QVariant& entry : result.toList()) {
            const QVariantList pair = entry.toList();
            if (pair.size() != 2)
                continue;
            qCDebug(lcTv).noquote() << pair[0].toInt() << pair[1].toString();
            addresses.append(pair[1].toString());
        }
        emit playersEnlarged(addresses);
    });
}
