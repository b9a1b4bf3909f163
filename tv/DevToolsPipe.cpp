#include "DevToolsPipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSocketNotifier>

Q_LOGGING_CATEGORY(lcDevTools, "krel.devtools")

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

void CDevToolsPipe::OnReadable()
{
    char buffer[65536];
    for (;;) {
        if (m_nRead < 0)
            return;
        const ssize_t n = ::read(m_nRead, buffer, sizeof buffer);
        if (n > 0) {
            m_incoming.append(buffer, n);
            qsizetype end;
            while ((end = m_incoming.indexOf('\0')) >= 0) {
                const QByteArray message = m_incoming.left(end);
                m_incoming.remove(0, end + 1);
                Dispatch(message);
                if (m_nRead < 0)
                    return; // a callback closed the pipe
            }
            if (m_incoming.size() > kMaxMessageBytes) {
                Close(QStringLiteral("the browser sent a message of over %1 bytes").arg(kMaxMessageBytes));
                return;
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
