#include "MediaPlugins.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibrary>
#include <QMutex>
#include <QOpenGLContext>

#include "common/Log.h"
#include "common/Settings.h"
#include "tv/speech/SpeechSynthesizer.h"

// Qt's global OpenGL share context. QtGui exports both for its own modules (Qt WebEngine reads the first); no public
// header declares them.
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace
{

QOpenGLContext* g_pShareContext = nullptr;

void DeleteShareContext()
{
    if (qt_gl_global_share_context() == g_pShareContext)
        qt_gl_set_global_share_context(nullptr);
    delete g_pShareContext;
    g_pShareContext = nullptr;
}

// The web engine hands its frames to the view through textures of a context shared with Qt's. Qt makes that context
// at start when asked to; made only here, before the web engine's library is loaded, the GL driver (with a software
// GL, its whole compiler) is loaded only once a video is chosen. Without a context the engine composites in
// software, which still shows the page.
void PrepareWebEngineGl()
{
    if (qt_gl_global_share_context())
        return;
    auto* context = new QOpenGLContext;
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    context->setFormat(format);
    if (!context->create()) {
        delete context;
        qCWarning(lcTv, "no OpenGL context: the web view composites in software");
        return;
    }
    g_pShareContext = context;
    qt_gl_set_global_share_context(context);
    qAddPostRoutine(DeleteShareContext);
    // (Qt::AA_ShareOpenGLContexts is not set: Qt warns when it is set after the application object exists, and the
    // view's rendering shares with the global context without it.)
}

// The library beside the program; else by name, which finds it where a test program links it. (Any thread: the
// speech engine is loaded on the speaker's.)
QFunctionPointer Resolve(const char* library, const char* entry)
{
    static QMutex mutex;
    const QMutexLocker locker(&mutex);
    // (Loaded libraries stay for the whole process: the table is never destroyed, so they are never taken for leaks.)
    static auto& loaded = *new QHash<QString, QLibrary*>;
    const QString name = QString::fromLatin1(library);
    QLibrary*& lib = loaded[name];
    if (!lib) {
        const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
        lib = new QLibrary(QFileInfo::exists(beside) ? beside : name);
        // Every symbol now: a library that does not fit the program fails here, not in the middle of a video.
        lib->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    }
    QFunctionPointer fn = lib->resolve(entry);
    if (!fn)
        qCWarning(lcTv).noquote() << "cannot load" << name << ":" << lib->errorString();
    return fn;
}

} // namespace

WebEngineKind ChosenWebEngine()
{
    static const WebEngineKind chosen = [] {
        // KREL_WEB_ENGINE forces an engine for one run; else the WebEngine setting; else whichever fits.
        QString wanted = qEnvironmentVariable("KREL_WEB_ENGINE").trimmed().toLower();
        // What asked, for the log line: the environment or the setting.
        const char* asker = "KREL_WEB_ENGINE";
        if (wanted.isEmpty()) {
            wanted = ReadSetting(QString::fromLatin1(SettingKey::WebEngine)).trimmed().toLower();
            asker = "the setting WebEngine";
        }
        const QByteArray askedFor = QByteArray("asked for by ") + asker + '=' + wanted.toUtf8();
        const char* why = nullptr;
        if (wanted == QLatin1String("qtwebengine"))
            why = askedFor.constData();
        else if (!QFileInfo(QStringLiteral("/usr/bin/chromium")).isExecutable())
            why = "chromium is not installed";
        else if (QGuiApplication::platformName() != QLatin1String("xcb"))
            why = "no X11 (neither an X11 session nor Xwayland), where the browser's window can be embedded";
        if (!why) {
            qCInfo(lcTv, "web view: Debian's Chromium (%s)",
                   wanted == QLatin1String("chromium") ? askedFor.constData()
                                                       : "installed, and krel's windows are X11 ones: an X11 "
                                                         "session, or Xwayland in a Wayland one");
            return WebEngineKind::Chromium;
        }
        qCInfo(lcTv, "web view: Qt WebEngine (%s)", why);
        return WebEngineKind::QtWebEngine;
    }();
    return chosen;
}

IWebVideoView* CreateWebVideoView(QWidget* parent)
{
    if (ChosenWebEngine() == WebEngineKind::Chromium) {
        auto create = reinterpret_cast<KrelCreateWebVideoViewFn>(Resolve(kChromiumViewLibrary, kWebViewEntry));
        return create ? create(parent) : nullptr;
    }
    PrepareWebEngineGl();
    auto create = reinterpret_cast<KrelCreateWebVideoViewFn>(Resolve(kWebViewLibrary, kWebViewEntry));
    return create ? create(parent) : nullptr;
}

ILocalPlayer* CreateLocalPlayer(QWidget* parent)
{
    auto create = reinterpret_cast<KrelCreateLocalPlayerFn>(Resolve(kFilmPlayerLibrary, kFilmPlayerEntry));
    return create ? create(parent) : nullptr;
}

std::unique_ptr<ISpeechSynthesizer> CreateSpeechSynthesizer(QString* why)
{
    auto create = reinterpret_cast<KrelCreateSpeechSynthesizerFn>(Resolve(kSpeechLibrary, kSpeechEntry));
    if (!create) {
        *why = QStringLiteral("%1 cannot be loaded").arg(QLatin1String(kSpeechLibrary));
        return nullptr;
    }
    return std::unique_ptr<ISpeechSynthesizer>(create(why));
}
