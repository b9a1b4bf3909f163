#include "PhoneRemote.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrlQuery>

#include "LocalNetwork.h"
#include "common/RemoteCommand.h"
#include "remote/KeyRouter.h"

Q_LOGGING_CATEGORY(lcPhone, "krel.phone")

namespace
{

const char kCookie[] = "krel_phone";

QByteArray resource(const char* name)
{
    QFile f(QStringLiteral(":/phone/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int commandOf(const QString& key)
{
    static const QHash<QString, int> keys = {
        { QStringLiteral("Power"), RC_Power },
        { QStringLiteral("Back"), RC_Back },
        { QStringLiteral("LeaveVideo"), RC_LeaveVideo },
        { QStringLiteral("NextPage"), RC_NextPage },
        { QStringLiteral("PreviousPage"), RC_PreviousPage },
        { QStringLiteral("VolumeUp"), RC_VolumeUp },
        { QStringLiteral("VolumeDown"), RC_VolumeDown },
    };
    if (key.size() == 6 && key.startsWith(QLatin1String("Digit")) && key[5].isDigit())
        return RC_Digit0 + key[5].digitValue();
    return keys.value(key, RC_None);
}

QString randomToken(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char& c : raw)
        c = static_cast<char>(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Compares without stopping at the first difference, so that the time taken tells nothing of the ticket.
bool sameSecret(const QString& a, const QString& b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    ushort diff = 0;
    for (int i = 0; i < a.size(); ++i)
        diff |= a[i].unicode() ^ b[i].unicode();
    return diff == 0;
}

const char* modeName(TvMenuSnapshot::Mode mode)
{
    switch (mode) {
    case TvMenuSnapshot::Menu:
        return "menu";
    case TvMenuSnapshot::Video:
        return "video";
    case TvMenuSnapshot::Film:
        return "film";
    default:
        return "off";
    }
}

} // namespace

// Takes each connection first: refuses peers outside the local networks and connections beyond the cap, closes
// connections that stay idle, and refuses a request that grows past the size cap. It sees every byte before the
// HTTP server does, because its handlers are connected first.
class CPhoneRemote::Listener : public QTcpServer
{
public:
    explicit Listener(QObject* parent)
        : QTcpServer(parent)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        m_open.removeAll(nullptr);
        const QString peer = socket->peerAddress().toString();
        if (!IsLocalNetworkPeer(socket->peerAddress())) {
            qCWarning(lcPhone).noquote() << "phone remote refused" << peer << ": not on a local network";
            socket->abort();
            socket->deleteLater();
            return;
        }
        if (m_open.size() >= kMaxConnections) {
            qCWarning(lcPhone).noquote() << "phone remote refused" << peer << ": too many connections";
            socket->abort();
            socket->deleteLater();
            return;
        }
        m_open.append(socket);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
        idle->start(kIdleMs);
        connect(socket, &QTcpSocket::readyRead, socket, [socket, idle, peer] {
            idle->start(kIdleMs);
            if (socket->property("krelRefused").toBool()) {
                socket->readAll();
                return;
            }
            const qint64 bytes = socket->property("krelBytes").toLongLong() + socket->bytesAvailable();
            socket->setProperty("krelBytes", bytes);
            if (bytes > kMaxRequestBytes) {
                qCWarning(lcPhone).noquote() << "phone remote refused" << peer << ": request too large";
                socket->readAll();
                socket->setProperty("krelRefused", true);
                socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            }
        });
        addPendingConnection(socket);
    }

private:
    QList<QPointer<QTcpSocket>> m_open;
};

// The pages are resources of this static library, which the linker keeps only when asked for.
static void initPages()
{
    Q_INIT_RESOURCE(phone);
}

CPhoneRemote::CPhoneRemote(CRemoteKeyRouter* router, const QString& storePath, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_pRouter(router)
    , m_store(storePath)
{
    initPages();
    m_store.Load();
    m_pairingEnd.setSingleShot(true);
    connect(&m_pairingEnd, &QTimer::timeout, this, &CPhoneRemote::EndPairing);
    m_holdTimer.setInterval(1000);
    connect(&m_holdTimer, &QTimer::timeout, this, [this] { AnswerWaiting(false); });
}

CPhoneRemote::~CPhoneRemote()
{
    Stop();
}

bool CPhoneRemote::Start(quint16 port)
{
    if (IsListening())
        return true;
    m_pListener = new Listener(this);
    if (!m_pListener->listen(QHostAddress::Any, port)) {
        qCWarning(lcPhone).noquote() << "the phone remote cannot listen on port" << port << ":"
                                     << m_pListener->errorString();
        delete m_pListener;
        m_pListener = nullptr;
        return false;
    }
    m_nPort = m_pListener->serverPort();
    bind(m_pListener);
    return true;
}

void CPhoneRemote::Stop()
{
    EndPairing();
    m_waiting.clear();
    m_holdTimer.stop();
    // The listener and every connection it took go with it.
    delete m_pListener;
    m_pListener = nullptr;
    m_nPort = 0;
}

bool CPhoneRemote::IsListening() const
{
    return m_pListener && m_pListener->isListening();
}

CPhoneRemote::Pairing CPhoneRemote::StartPairing()
{
    m_ticket = randomToken(16);
    m_pairing.code = QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), 6, 10, QLatin1Char('0'));
    m_pairing.until = QDateTime::currentDateTimeUtc().addSecs(kPairingSeconds);
    m_pairing.pausedUntil = QDateTime();
    m_pairing.address = QStringLiteral("http://%1:%2/pair?t=%3").arg(LanAddress()).arg(m_nPort).arg(m_ticket);
    m_wrongCodes.clear();
    m_pairingEnd.start(kPairingSeconds * 1000);
    emit pairingChanged();
    return m_pairing;
}

void CPhoneRemote::EndPairing()
{
    const bool was = !m_ticket.isEmpty();
    m_ticket.clear();
    m_pairing = Pairing();
    m_pairingEnd.stop();
    if (was)
        emit pairingChanged();
}

bool CPhoneRemote::IsPairing() const
{
    return !m_ticket.isEmpty() && QDateTime::currentDateTimeUtc() < m_pairing.until;
}

void CPhoneRemote::RemovePhone(const QString& hash)
{
    // From now on its cookie opens nothing.
    if (m_store.Remove(hash))
        emit phonesChanged();
}

QString CPhoneRemote::SecretOf(const QByteArray& cookieHeader) const
{
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(QByteArray(kCookie) + '='))
            return QString::fromLatin1(item.mid(int(sizeof kCookie)));
    }
    return QString();
}

void CPhoneRemote::Reply(const QHttpServerRequest& request, QTcpSocket* socket, int status, const QByteArray& type,
                         const QByteArray& body, const QList<std::pair<QByteArray, QByteArray>>& headers)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    Write(responder, socket, status, type, body, headers);
}

void CPhoneRemote::Write(QHttpServerResponder& responder, QTcpSocket* socket, int status, const QByteArray& type,
                         const QByteArray& body, const QList<std::pair<QByteArray, QByteArray>>& headers)
{
    socket->setProperty("krelBytes", 0); // the next request counts from here
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                          "img-src 'self'; connect-src 'self'; form-action 'self'; frame-ancestors 'none'");
    for (const auto& [key, value] : headers)
        responder.writeHeader(key, value);
    responder.writeBody(body);
}

void CPhoneRemote::Refuse(const QHttpServerRequest& request, QTcpSocket* socket, int status, const char* why)
{
    qCWarning(lcPhone).noquote() << "phone remote refused" << request.remoteAddress().toString()
                                 << request.url().path() << ":" << why;
    Reply(request, socket, status, "text/plain; charset=utf-8", QByteArray(why) + '\n');
}

bool CPhoneRemote::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QByteArray host = request.value("Host");
    if (!IsOwnHost(host, m_nPort)) {
        Refuse(request, socket, 421, "the Host is not this machine");
        return true;
    }
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const QByteArray origin = request.value("Origin");
    // Anything that acts must come from the page itself; a page elsewhere may not even read ours.
    if ((!get && origin != "http://" + host) || (get && !origin.isEmpty() && origin != "http://" + host)) {
        Refuse(request, socket, 403, "a request from another site");
        return true;
    }
    const QString path = request.url().path();
    const bool paired = m_store.Knows(SecretOf(request.value("Cookie")));

    if (get && path == QLatin1String("/")) {
        Reply(request, socket, 200, "text/html; charset=utf-8", resource(paired ? "remote.html" : "pair.html"));
    } else if (get && path == QLatin1String("/state")) {
        if (!paired) {
            Refuse(request, socket, 401, "no or a wrong phone secret");
            return true;
        }
        const QByteArray json = StateJson();
        bool ok = false;
        const int seen = request.query().queryItemValue(QStringLiteral("seen")).toInt(&ok);
        if (!ok || seen != m_nSerial) {
            Reply(request, socket, 200, "application/json", json);
        } else {
            // Nothing new: the answer waits for the next change, or a while.
            m_waiting.push_back(std::make_unique<Waiting>(
                Waiting { makeResponder(request, socket), socket, QDateTime::currentDateTimeUtc().addMSecs(kHoldMs) }));
            m_holdTimer.start();
        }
    } else if (get && path == QLatin1String("/pair")) {
        if (IsPairing() && sameSecret(request.query().queryItemValue(QStringLiteral("t")), m_ticket))
            PairPhone(request, socket);
        else
            Refuse(request, socket, 403, "a used or expired pairing ticket");
    } else if (!get && path == QLatin1String("/pair")) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        m_wrongCodes.removeIf([&](const QDateTime& t) { return t.secsTo(now) >= 60; });
        if (!IsPairing()) {
            Refuse(request, socket, 403, "no pairing is open");
        } else if (m_pairing.pausedUntil.isValid() && now < m_pairing.pausedUntil) {
            Refuse(request, socket, 429, "too many wrong codes: pairing is paused");
        } else if (sameSecret(QUrlQuery(QString::fromUtf8(request.body())).queryItemValue(QStringLiteral("code")),
                              m_pairing.code)) {
            PairPhone(request, socket);
        } else {
            m_wrongCodes.append(now);
            if (m_wrongCodes.size() >= kCodeTriesPerMinute) {
                m_pairing.pausedUntil = now.addSecs(60);
                m_wrongCodes.clear();
                emit pairingChanged();
            }
            Refuse(request, socket, 403, "a wrong pairing code");
        }
    } else if (!get && (path == QLatin1String("/key") || path == QLatin1String("/send"))) {
        const QUrlQuery form(QString::fromUtf8(request.body()));
        if (!paired) {
            Refuse(request, socket, 401, "no or a wrong phone secret");
        } else if (path == QLatin1String("/key")) {
            const int command = commandOf(form.queryItemValue(QStringLiteral("key")));
            if (command == RC_None) {
                Refuse(request, socket, 400, "an unknown key");
            } else {
                // The same route as every other remote's keys.
                m_pRouter->PostKey(command, 0);
                Reply(request, socket, 204, "text/plain", QByteArray());
            }
        } else {
            const QUrl address(form.queryItemValue(QStringLiteral("url"), QUrl::FullyDecoded), QUrl::StrictMode);
            const QString scheme = address.scheme().toLower();
            if (!address.isValid() || address.host().isEmpty()
                || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
                Refuse(request, socket, 400, "not an http or https address");
            } else {
                emit sendToTv(address);
                Reply(request, socket, 204, "text/plain", QByteArray());
            }
        }
    } else {
        Refuse(request, socket, 404, "no such page");
    }
    return true;
}

void CPhoneRemote::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    Refuse(request, socket, 404, "no such page");
}

void CPhoneRemote::PairPhone(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QString name = QString::fromUtf8(request.value("User-Agent"));
    // "Mozilla/5.0 (Linux; Android 14; Pixel 7) ..." is named by what is in its first brackets.
    const int open = name.indexOf(QLatin1Char('(')), close = name.indexOf(QLatin1Char(')'));
    if (open >= 0 && close > open)
        name = name.mid(open + 1, close - open - 1);
    name.remove(QRegularExpression(QStringLiteral("[^\\x20-\\x7E]")));
    const QString secret = m_store.Add(name.isEmpty() ? QStringLiteral("phone") : name);
    EndPairing();
    if (secret.isEmpty()) {
        Refuse(request, socket, 500, "the paired phones cannot be stored");
        return;
    }
    qCInfo(lcPhone).noquote() << "phone paired:" << name;
    emit phonesChanged();
    Reply(request, socket, 303, "text/plain", QByteArray(),
          { { "Location", "/" },
            { "Set-Cookie", QByteArray(kCookie) + '=' + secret.toLatin1()
                  + "; Path=/; HttpOnly; SameSite=Strict; Max-Age=315360000" } });
}

QByteArray CPhoneRemote::StateJson()
{
    const TvMenuSnapshot s = m_menuSource ? m_menuSource() : TvMenuSnapshot();
    const QByteArray json = QJsonDocument(QJsonObject { { QStringLiteral("mode"), QLatin1String(modeName(s.mode)) },
                                                        { QStringLiteral("title"), s.title },
                                                        { QStringLiteral("rows"), QJsonArray::fromStringList(s.rows) },
                                                        { QStringLiteral("page"), s.pageLine } })
                                .toJson(QJsonDocument::Compact);
    if (json != m_lastJson) {
        m_lastJson = json;
        ++m_nSerial;
    }
    QByteArray answer = json;
    answer.chop(1);
    return answer + ",\"serial\":" + QByteArray::number(m_nSerial) + '}';
}

void CPhoneRemote::AnswerWaiting(bool all)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray json = StateJson();
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        Waiting& w = **it;
        if (!w.socket) {
            it = m_waiting.erase(it); // the phone has gone
        } else if (all || now >= w.until) {
            Write(w.responder, w.socket, 200, "application/json", json);
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
    if (m_waiting.empty())
        m_holdTimer.stop();
}

void CPhoneRemote::MenuChanged()
{
    const int before = m_nSerial;
    StateJson();
    if (m_nSerial != before)
        AnswerWaiting(true);
}
