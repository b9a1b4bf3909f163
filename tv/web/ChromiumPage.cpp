#include "ChromiumPage.h"

#include <QJsonArray>
#include <QPointer>
#include <QSharedPointer>
#include <QLoggingCategory>

#include "DevToolsPipe.h"
#include "WebVideoView.h"

Q_DECLARE_LOGGING_CATEGORY(lcDevTools)

CChromiumPage::CChromiumPage(CDevToolsPipe* pipe, QString pageScript)
    : QObject(pipe)
    , m_pPipe(pipe)
    , m_strScript(std::move(pageScript))
{
    connect(m_pPipe, &CDevToolsPipe::event, this, &CChromiumPage::OnEvent);
    // What OnEvent uses; the rest (console output, exceptions, network and load events) is dropped unread.
    m_pPipe->WantEvents({ QLatin1String("Target.targetCreated"), QLatin1String("Target.targetCrashed"),
                          QLatin1String("Target.attachedToTarget"), QLatin1String("Target.detachedFromTarget"),
                          QLatin1String("Runtime.executionContextCreated"),
                          QLatin1String("Runtime.executionContextDestroyed"),
                          QLatin1String("Runtime.executionContextsCleared"),
                          QLatin1String("Page.javascriptDialogOpening"), QLatin1String("Page.fileChooserOpened"),
                          QLatin1String("Page.frameNavigated"), QLatin1String("Page.navigatedWithinDocument") });
    // Nothing more to ask of a browser that went.
    connect(m_pPipe, &CDevToolsPipe::closed, this, [this] { m_poll.stop(); });
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &CChromiumPage::Poll);
}

void CChromiumPage::Send(const QString& method, const QJsonObject& params, const QString& session)
{
    m_pPipe->Send(
        method, params,
        [method](const CDevToolsPipe::Answer& a) {
            if (!a.ok)
                qCInfo(lcDevTools).noquote() << method << "failed:" << a.error;
        },
        session);
}

void CChromiumPage::Attach()
{
    // Nothing is downloaded, whatever a page asks.
    Send(QStringLiteral("Browser.setDownloadBehavior"), { { QStringLiteral("behavior"), QStringLiteral("deny") } },
         QString());
    m_pPipe->Send(
        QStringLiteral("Target.getTargets"), {},
        [this, self = QPointer<CChromiumPage>(this)](const CDevToolsPipe::Answer& a) {
            if (!self)
                return; // the page went before the browser's answer
            QString target;
            for (const QJsonValue& t : a.result.value(QStringLiteral("targetInfos")).toArray())
                if (target.isEmpty() && t.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                    target = t.toObject().value(QStringLiteral("targetId")).toString();
            if (target.isEmpty()) {
                emit failed(QStringLiteral("the browser has no page"));
                return;
            }
            m_pPipe->Send(QStringLiteral("Target.attachToTarget"),
                          { { QStringLiteral("targetId"), target }, { QStringLiteral("flatten"), true } },
                          [this, target, self = QPointer<CChromiumPage>(this)](const CDevToolsPipe::Answer& attached) {
                              if (!self)
                                  return; // the page went before the browser's answer
                              m_strTarget = target;
                              m_strSession = attached.result.value(QStringLiteral("sessionId")).toString();
                              if (m_strSession.isEmpty()) {
                                  emit failed(QStringLiteral("cannot attach to the page: ") + attached.error);
                                  return;
                              }
                              // Every window the page opens is seen, and closed.
                              Send(QStringLiteral("Target.setDiscoverTargets"),
                                   { { QStringLiteral("discover"), true } }, QString());
                              Send(QStringLiteral("Page.enable"), {}, m_strSession);
                              RefuseFileChoosers(m_strSession);
                              Send(QStringLiteral("Runtime.enable"), {}, m_strSession);
                              // Frames of other origins run in processes of their own: each is attached as it appears,
                              // held until the page script is in it.
                              Send(QStringLiteral("Target.setAutoAttach"),
                                   { { QStringLiteral("autoAttach"), true },
                                     { QStringLiteral("waitForDebuggerOnStart"), true },
                                     { QStringLiteral("flatten"), true } },
                                   m_strSession);
                              emit ready();
                              if (!m_strPendingAddress.isEmpty())
                                  StartNavigation();
                          });
        });
}

void CChromiumPage::Navigate(const QString& address, int scrollY, double startAt)
{
    m_strPendingAddress = address;
    m_nPendingScroll = scrollY;
    m_dPendingStart = startAt;
    if (IsReady())
        StartNavigation();
}

void CChromiumPage::StartNavigation()
{
    const QString address = std::exchange(m_strPendingAddress, QString());
    m_strAddress = address;
    m_bCrashed = false;
    m_strSource = PageScriptSource(m_strScript, m_nPendingScroll, m_dPendingStart);
    m_bFilePage = QUrl(address).isLocalFile();
    m_nSerial = 0;
    m_nKrelContext = 0;
    if (!m_strScriptId.isEmpty())
        Send(QStringLiteral("Page.removeScriptToEvaluateOnNewDocument"),
             { { QStringLiteral("identifier"), m_strScriptId } }, m_strSession);
    m_pPipe->Send(
        QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
        { { QStringLiteral("source"), m_strSource }, { QStringLiteral("worldName"), QLatin1String(kWorld) } },
        [this, address, self = QPointer<CChromiumPage>(this)](const CDevToolsPipe::Answer& a) {
            if (!self)
                return; // the page went before the browser's answer
            m_strScriptId = a.result.value(QStringLiteral("identifier")).toString();
            m_pPipe->Send(
                QStringLiteral("Page.navigate"), { { QStringLiteral("url"), address } },
                [this, self = QPointer<CChromiumPage>(this)](const CDevToolsPipe::Answer& navigated) {
                    if (!self)
                        return; // the page went before the browser's answer
                    m_strLoader = navigated.result.value(QStringLiteral("loaderId")).toString();
                },
                m_strSession);
        },
        m_strSession);
}

void CChromiumPage::OpenAgain()
{
    if (!IsReady() || m_strAddress.isEmpty())
        return;
    m_bCrashed = false;
    m_nSerial = 0;
    m_nKrelContext = 0;
    m_pPipe->Send(
        QStringLiteral("Page.navigate"), { { QStringLiteral("url"), m_strAddress } },
        [this, self = QPointer<CChromiumPage>(this)](const CDevToolsPipe::Answer& navigated) {
            if (self)
                m_strLoader = navigated.result.value(QStringLiteral("loaderId")).toString();
        },
        m_strSession);
}

void CChromiumPage::RefuseFileChoosers(const QString& session)
{
    // A file input clicked opens no chooser window: the browser tells us instead, and nobody answers.
    Send(QStringLiteral("Page.setInterceptFileChooserDialog"), { { QStringLiteral("enabled"), true } }, session);
}

bool CChromiumPage::MayGoTo(const QUrl& url, bool fromFilePage)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https")
        || url == QUrl(QStringLiteral("about:blank")) || (fromFilePage && scheme == QLatin1String("file"));
}

void CChromiumPage::OnTargetCreated(const QJsonObject& info)
{
    // Nobody at the TV could see or close another window: pop-ups and new tabs go at once. (The browser's own
    // targets, workers and frames, are left alone.)
    const QString id = info.value(QStringLiteral("targetId")).toString();
    if (m_strTarget.isEmpty() || id == m_strTarget
        || info.value(QStringLiteral("type")).toString() != QLatin1String("page"))
        return;
    qCInfo(lcDevTools).noquote() << "a window the page opened is closed:"
                                 << info.value(QStringLiteral("url")).toString().left(200);
    Send(QStringLiteral("Target.closeTarget"), { { QStringLiteral("targetId"), id } }, QString());
}

void CChromiumPage::OnEvent(const QString& method, const QJsonObject& params, const QString& sessionId)
{
    if (method == QLatin1String("Target.targetCreated") && sessionId.isEmpty()) {
        OnTargetCreated(params.value(QStringLiteral("targetInfo")).toObject());
        return;
    }
    // The renderer's death, as the browser tells of its targets.
    if (method == QLatin1String("Target.targetCrashed") && sessionId.isEmpty()
        && params.value(QStringLiteral("targetId")).toString() == m_strTarget && !m_strTarget.isEmpty()) {
        if (!std::exchange(m_bCrashed, true)) {
            qCWarning(lcDevTools) << "the page's renderer died";
            emit crashed();
        }
        return;
    }
    if (method == QLatin1String("Target.attachedToTarget") && sessionId == m_strSession) {
        // A frame of another origin: the page script goes in before its own scripts run.
        const QString child = params.value(QStringLiteral("sessionId")).toString();
        // Workers are attached too: they only go on.
        if (params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("type")).toString()
            != QLatin1String("iframe")) {
            Send(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, child);
            return;
        }
        Send(QStringLiteral("Page.enable"), {}, child);
        RefuseFileChoosers(child);
        Send(QStringLiteral("Runtime.enable"), {}, child);
        Send(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
             { { QStringLiteral("source"), m_strSource.isEmpty() ? PageScriptSource(m_strScript, 0, 0) : m_strSource },
               { QStringLiteral("worldName"), QLatin1String(kWorld) } },
             child);
        Send(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, child);
        return;
    }
    if (method == QLatin1String("Runtime.executionContextCreated")) {
        const QJsonObject context = params.value(QStringLiteral("context")).toObject();
        if (context.value(QStringLiteral("name")).toString() == QLatin1String(kWorld)) {
            const int id = context.value(QStringLiteral("id")).toInt();
            m_contexts.insert(sessionId, id);
            if (m_bHidden)
                TellHidden(sessionId, id);
        }
    } else if (method == QLatin1String("Runtime.executionContextDestroyed")) {
        m_contexts.remove(sessionId, params.value(QStringLiteral("executionContextId")).toInt());
    } else if (method == QLatin1String("Runtime.executionContextsCleared")) {
        m_contexts.remove(sessionId);
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        m_contexts.remove(params.value(QStringLiteral("sessionId")).toString());
    }
    if (method == QLatin1String("Page.javascriptDialogOpening")) {
        // Nobody at the TV could answer a dialog, and the page (and every command to it) waits until one is: each is
        // answered at once and never shown. A confirm or prompt hears "no"; a page that asks to be kept
        // (beforeunload) is left all the same.
        const QString type = params.value(QStringLiteral("type")).toString();
        Send(QStringLiteral("Page.handleJavaScriptDialog"),
             { { QStringLiteral("accept"), type == QLatin1String("beforeunload") } }, sessionId);
        qCInfo(lcDevTools).noquote() << "the page's" << type.left(20) << "dialog was answered without showing it";
        return;
    }
    if (method == QLatin1String("Page.fileChooserOpened")) {
        // Taken by us instead of a chooser window on whatever monitor: nothing is chosen, ever.
        qCInfo(lcDevTools, "the page's file chooser was refused");
        emit fileChooserRefused();
        return;
    }
    if (sessionId != m_strSession)
        return;
    if (method == QLatin1String("Page.frameNavigated")) {
        const QJsonObject frame = params.value(QStringLiteral("frame")).toObject();
        if (!frame.contains(QStringLiteral("parentId"))) {
            m_strMainFrame = frame.value(QStringLiteral("id")).toString();
            // The browser keeps web pages from file: and internal addresses itself; should one get there all the
            // same, the page is left for an empty one.
            // The program's own navigations are its choice; the page's are checked once the program's first
            // address is in (before it, the browser shows its own first page).
            const QUrl url(frame.value(QStringLiteral("url")).toString());
            const QString loader = frame.value(QStringLiteral("loaderId")).toString();
            if (!loader.isEmpty() && loader == m_strLoader)
                m_bNavigated = true;
            else if (m_bNavigated && !MayGoTo(url, m_bFilePage)) {
                qCWarning(lcDevTools).noquote() << "the page went to" << url.toString().left(200) << ": left";
                Send(QStringLiteral("Page.navigate"), { { QStringLiteral("url"), QStringLiteral("about:blank") } },
                     m_strSession);
            }
        }
    } else if (method == QLatin1String("Runtime.executionContextCreated")) {
        const QJsonObject context = params.value(QStringLiteral("context")).toObject();
        const QJsonObject aux = context.value(QStringLiteral("auxData")).toObject();
        if (context.value(QStringLiteral("name")).toString() == QLatin1String(kWorld)
            && (m_strMainFrame.isEmpty() || aux.value(QStringLiteral("frameId")).toString() == m_strMainFrame)) {
            m_nKrelContext = context.value(QStringLiteral("id")).toInt();
            m_nPolls = 0;
            m_poll.start();
        }
    } else if (method == QLatin1String("Runtime.executionContextsCleared")) {
        m_nKrelContext = 0;
    } else if (method == QLatin1String("Page.navigatedWithinDocument")) {
        // history.pushState or a new hash (no event tells the page script of pushState): the script watches
        // again, and so do we.
        if (m_nKrelContext)
            Send(QStringLiteral("Runtime.evaluate"),
                 { { QStringLiteral("expression"), QStringLiteral("window.__krelWatch && window.__krelWatch()") },
                   { QStringLiteral("contextId"), m_nKrelContext } },
                 m_strSession);
        m_nPolls = 0;
        m_poll.start();
    }
}

void CChromiumPage::SetHidden(bool hidden)
{
    m_bHidden = hidden;
    for (auto it = m_contexts.cbegin(); it != m_contexts.cend(); ++it)
        TellHidden(it.key(), it.value());
}

void CChromiumPage::EvaluateEverywhere(const QString& expression, std::function<void(const QList<QJsonValue>&)> done)
{
    if (!done) {
        for (auto it = m_contexts.cbegin(); it != m_contexts.cend(); ++it)
            Send(QStringLiteral("Runtime.evaluate"),
                 { { QStringLiteral("expression"), expression }, { QStringLiteral("contextId"), it.value() } },
                 it.key());
        return;
    }
    // The answers gather here; the pipe answers every command once (an error when the browser does not).
    struct Gather {
        int waiting = 0;
        QList<QJsonValue> values;
        std::function<void(const QList<QJsonValue>&)> done;
    };
    QSharedPointer<Gather> gather(new Gather);
    gather->waiting = static_cast<int>(m_contexts.size());
    gather->done = std::move(done);
    if (gather->waiting == 0) {
        gather->done({});
        return;
    }
    for (auto it = m_contexts.cbegin(); it != m_contexts.cend(); ++it)
        m_pPipe->Send(
            QStringLiteral("Runtime.evaluate"),
            { { QStringLiteral("expression"), expression },
              { QStringLiteral("contextId"), it.value() },
              { QStringLiteral("returnByValue"), true } },
            [gather](const CDevToolsPipe::Answer& a) {
                gather->values << a.result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
                if (--gather->waiting == 0)
                    gather->done(gather->values);
            },
            it.key());
}

void CChromiumPage::TellHidden(const QString& session, int context)
{
    Send(QStringLiteral("Runtime.evaluate"),
         { { QStringLiteral("expression"),
             QStringLiteral("window.__krelSetHidden && window.__krelSetHidden(%1)")
                 .arg(m_bHidden ? QLatin1String("true") : QLatin1String("false")) },
           { QStringLiteral("contextId"), context } },
         session);
}

void CChromiumPage::Evaluate(const QString& expression, std::function<void(const QJsonValue&)> done, World world)
{
    if (world == World::Script ? !m_nKrelContext : !IsReady()) {
        done(QJsonValue());
        return;
    }
    QJsonObject params { { QStringLiteral("expression"), expression }, { QStringLiteral("returnByValue"), true } };
    // Without a context the top frame's own world.
    if (world == World::Script)
        params.insert(QStringLiteral("contextId"), m_nKrelContext);
    m_pPipe->Send(
        QStringLiteral("Runtime.evaluate"), params,
        [done = std::move(done)](const CDevToolsPipe::Answer& a) {
            done(a.result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")));
        },
        m_strSession);
}

void CChromiumPage::Poll()
{
    if (++m_nPolls > kPollCount || !m_nKrelContext) {
        m_poll.stop();
        return;
    }
    m_pPipe->Send(
        QStringLiteral("Runtime.evaluate"),
        { { QStringLiteral("expression"), QStringLiteral("window.__krelPoll ? window.__krelPoll() : null") },
          { QStringLiteral("contextId"), m_nKrelContext },
          { QStringLiteral("returnByValue"), true } },
        [this, self = QPointer<CChromiumPage>(this)](const CDevToolsPipe::Answer& a) {
            if (!self)
                return; // the page went before the browser's answer
            const QJsonObject state
                = a.result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toObject();
            if (state.isEmpty())
                return;
            const int serial = state.value(QStringLiteral("serial")).toInt();
            if (serial != m_nSerial) {
                m_nSerial = serial;
                emit playerEnlarged(state.value(QStringLiteral("address")).toString());
            }
            const QJsonArray click = state.value(QStringLiteral("click")).toArray();
            if (click.size() == 2)
                Click(click[0].toInt(), click[1].toInt());
        },
        m_strSession);
}

void CChromiumPage::Click(int x, int y)
{
    for (const char* type : { "mousePressed", "mouseReleased" })
        Send(QStringLiteral("Input.dispatchMouseEvent"),
             { { QStringLiteral("type"), QLatin1String(type) },
               { QStringLiteral("x"), x },
               { QStringLiteral("y"), y },
               { QStringLiteral("button"), QStringLiteral("left") },
               { QStringLiteral("clickCount"), 1 } },
             m_strSession);
}
