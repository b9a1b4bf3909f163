#include "DevToolsPipe.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSocketNotifier>

Q_LOGGING_CATEGORY(lcDevTools, "krel.devtools", QtInfoMsg)

namespace
{

void makeNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

CDevToolsPipe::CDevToolsPipe(int toBrowser, int fromBrowser, QObject* parent)
    : QObject(parent)
    , m_nWrite(toBrowser)
    , m_nRead(fromBrowser)
{
    makeNonBlocking(m_nWrite);
    makeNonBlocking(m_nRead);
    m_clock.start();
    m_pReadNotifier = new QSocketNotifier(m_nRead, QSocketNotifier::Read, this);
    connect(m_pReadNotifier, &QSocketNotifier::activated, this, &CDevToolsPipe::OnReadable);
    m_pWriteNotifier = new QSocketNotifier(m_nWrite, QSocketNotifier::Write, this);
    m_pWriteNotifier->setEnabled(false);
    connect(m_pWriteNotifier, &QSocketNotifier::activated, this, &CDevToolsPipe::OnWritable);
    m_deadlines.setInterval(250);
    connect(&m_deadlines, &QTimer::timeout, this, &CDevToolsPipe::CheckDeadlines);
}

CDevToolsPipe::~CDevToolsPipe()
{
    // No callback runs from the destructor: the owner is going.
    m_pending.clear();
    if (m_nWrite >= 0)
        ::close(m_nWrite);
    if (m_nRead >= 0)
        ::close(m_nRead);
}

int CDevToolsPipe::Send(const QString& method, const QJsonObject& params, Callback done, const QString& sessionId,
                        int timeoutMs)
{
    if (!IsOpen()) {
        if (done)
            done({ false, {}, QStringLiteral("the browser is gone") });
        return 0;
    }
    const int id = m_nNextId++;
    QJsonObject message { { QStringLiteral("id"), id },
                          { QStringLiteral("method"), method },
                          { QStringLiteral("params"), params } };
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);
    m_outgoing += QJsonDocument(message).toJson(QJsonDocument::Compact);
    m_outgoing += '\0';
    m_pending[id] = Pending { method, std::move(done), m_clock.elapsed() + timeoutMs };
    m_deadlines.start();
    Flush();
    return id;
}

void CDevToolsPipe::Flush()
{
    while (!m_outgoing.isEmpty() && m_nWrite >= 0) {
        const ssize_t n = ::write(m_nWrite, m_outgoing.constData(), static_cast<size_t>(m_outgoing.size()));
        if (n > 0) {
            m_outgoing.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The browser reads slower than we write: the rest goes when the pipe has room.
            m_pWriteNotifier->setEnabled(true);
            return;
        }
        Close(QStringLiteral("the browser's command pipe closed"));
        return;
    }
    if (m_pWriteNotifier)
        m_pWriteNotifier->setEnabled(false);
}

void CDevToolsPipe::OnWritable()
{
    Flush();
}

void CDevToolsPipe::SkippedTooLarge()
{
    qCWarning(lcDevTools, "a message from the browser of over %lld bytes was skipped",
              static_cast<long long>(kMaxMessageBytes));
}

void CDevToolsPipe::WantEvents(std::initializer_list<QLatin1String> methods)
{
    for (const QLatin1String method : methods)
        m_wanted.insert(QByteArray(method.data(), method.size()));
}

void CDevToolsPipe::OnReadable()
{
    char buffer[65536];
    for (qsizetype budget = kReadBudgetBytes; budget > 0;) {
        if (m_nRead < 0)
            return;
        const ssize_t n = ::read(m_nRead, buffer, sizeof buffer);
        if (n > 0) {
            budget -= n;
            qsizetype start = m_incoming.size();
            m_incoming.append(buffer, n);
            if (m_bSkipping) {
                // The rest of a message too large to keep: dropped up to its end.
                const qsizetype end = m_incoming.indexOf('\0', start);
                m_incoming.clear();
                if (end < 0)
                    continue;
                m_bSkipping = false;
                m_incoming.append(buffer + (end - start) + 1, n - (end - start) - 1);
                start = 0;
            }
            // Every whole message in what has come, then what is left kept for the next read.
            qsizetype from = 0, end;
            while ((end = m_incoming.indexOf('\0', std::max(from, start))) >= 0) {
                const QByteArray message = m_incoming.mid(from, end - from);
                from = end + 1;
                if (message.size() > kMaxMessageBytes) {
                    SkippedTooLarge();
                    continue;
                }
                Dispatch(message);
                if (m_nRead < 0)
                    return; // a callback closed the pipe
            }
            m_incoming.remove(0, from);
            if (m_incoming.size() > kMaxMessageBytes) {
                SkippedTooLarge();
                m_incoming.clear();
                m_bSkipping = true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        Close(QStringLiteral("the browser closed its pipe"));
        return;
    }
}

void CDevToolsPipe::Dispatch(const QByteArray& message)
{
    // An event starts with its name: one that nobody here uses is dropped before it is parsed (a page's console
    // output comes as such events, as large and as often as the page likes).
    static const QByteArray eventStart = QByteArrayLiteral("{\"method\":\"");
    if (!m_wanted.isEmpty() && message.startsWith(eventStart)) {
        const qsizetype nameEnd = message.indexOf('"', eventStart.size());
        if (nameEnd < 0 || !m_wanted.contains(message.mid(eventStart.size(), nameEnd - eventStart.size())))
            return;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(message, &error);
    if (!doc.isObject()) {
        qCWarning(lcDevTools).noquote() << "a message from the browser that is no JSON object was dropped:"
                                        << error.errorString();
        return;
    }
    const QJsonObject object = doc.object();
    if (object.contains(QStringLiteral("id"))) {
        const int id = object.value(QStringLiteral("id")).toInt();
        if (object.contains(QStringLiteral("error"))) {
            const QJsonObject e = object.value(QStringLiteral("error")).toObject();
            Finish(id, { false, {}, e.value(QStringLiteral("message")).toString(QStringLiteral("an error")) });
        } else {
            Finish(id, { true, object.value(QStringLiteral("result")).toObject(), QString() });
        }
        return;
    }
    const QString method = object.value(QStringLiteral("method")).toString();
    if (!method.isEmpty())
        emit event(method, object.value(QStringLiteral("params")).toObject(),
                   object.value(QStringLiteral("sessionId")).toString());
}

void CDevToolsPipe::Finish(int id, const Answer& answer)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return; // an answer to nothing we asked (or one that came after its bound): dropped
    Callback done = std::move(it->second.done);
    m_pending.erase(it);
    if (m_pending.empty())
        m_deadlines.stop();
    if (done)
        done(answer);
}

void CDevToolsPipe::CheckDeadlines()
{
    const qint64 now = m_clock.elapsed();
    std::vector<std::pair<int, QString>> late;
    for (const auto& [id, pending] : m_pending)
        if (now >= pending.deadlineMs)
            late.emplace_back(id, pending.method);
    for (const auto& [id, method] : late) {
        Finish(id, { false, {}, QStringLiteral("no answer to %1 in time").arg(method) });
        emit unresponsive(method);
    }
}

void CDevToolsPipe::Close(const QString& why)
{
    if (m_nWrite < 0 && m_nRead < 0)
        return;
    qCInfo(lcDevTools).noquote() << "DevTools pipe closed:" << why;
    delete m_pReadNotifier;
    m_pReadNotifier = nullptr;
    delete m_pWriteNotifier;
    m_pWriteNotifier = nullptr;
    ::close(m_nWrite);
    ::close(m_nRead);
    m_nWrite = m_nRead = -1;
    m_outgoing.clear();
    m_incoming.clear();
    m_deadlines.stop();
    // Every waiting command hears of it, in the order it was sent.
    std::map<int, Pending> pending;
    pending.swap(m_pending);
    for (auto& [id, p] : pending)
        if (p.done)
            p.done({ false, {}, why });
    emit closed(why);
}
