#include "PhoneRemote.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <QFile>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrlQuery>

#include "LocalNetwork.h"
#include "common/Favourites.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "remote/KeyRouter.h"

Q_LOGGING_CATEGORY(lcPhone, "krel.phone", QtInfoMsg)

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
        { QStringLiteral("PlayPause"), RC_PlayPause },
        { QStringLiteral("Up"), RC_Up },
        { QStringLiteral("Down"), RC_Down },
        { QStringLiteral("Left"), RC_Left },
        { QStringLiteral("Right"), RC_Right },
        { QStringLiteral("Ok"), RC_Ok },
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

// Takes each connection first: refuses peers outside the home network, caps the connections of each peer and in
// all, gives each request a deadline for all its bytes (new bytes do not extend it, so a peer that trickles a byte
// now and then cannot hold a connection), and refuses a request that grows past the size cap. It sees every byte
// before the HTTP server does, because its handlers are connected first.
class CPhoneRemote::Listener : public QTcpServer
{
public:
    explicit Listener(CPhoneRemote* owner)
        : QTcpServer(owner)
        , m_pOwner(owner)
    {
    }

    // A whole request has arrived on socket: its deadline stops while it is answered (a menu request may wait).
    void RequestArrived(QTcpSocket* socket, bool paired)
    {
        if (Connection* c = Find(socket)) {
            c->deadline->stop();
            c->paired = c->paired || paired;
            c->busy = true;
        }
    }
    // Its answer is written: the next request on the connection has the whole deadline again.
    void Answered(QTcpSocket* socket)
    {
        if (Connection* c = Find(socket)) {
            c->busy = false;
            c->deadline->start(m_pOwner->m_nRequestMs);
        }
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        std::erase_if(m_open, [](const Connection& c) { return !c.socket; });
        const QHostAddress peerAddress = socket->peerAddress();
        const QString peer = peerAddress.toString();
        const char* refusal = nullptr;
        if (!IsHomeNetworkPeer(peerAddress, socket->localAddress()))
            refusal = "not on the home network";
        else if (std::count_if(m_open.begin(), m_open.end(), [&](const Connection& c) { return c.peer == peerAddress; })
                 >= kMaxConnectionsPerPeer)
            refusal = "too many connections from it";
        else if (m_open.size() >= kMaxConnections && !DropOne())
            refusal = "too many connections";
        if (refusal) {
            if (m_pOwner->MayLog())
                qCWarning(lcPhone).noquote() << "phone remote refused" << peer << ":" << refusal;
            socket->abort();
            socket->deleteLater();
            return;
        }
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
        deadline->start(m_pOwner->m_nRequestMs);
        m_open.push_back(Connection { socket, peerAddress, deadline });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, peer] {
            if (socket->property("krelRefused").toBool()) {
                socket->readAll();
                return;
            }
            const qint64 bytes = socket->property("krelBytes").toLongLong() + socket->bytesAvailable();
            socket->setProperty("krelBytes", bytes);
            if (bytes > kMaxRequestBytes) {
                if (m_pOwner->MayLog())
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
    struct Connection {
        QPointer<QTcpSocket> socket;
        QHostAddress peer;
        QTimer* deadline;
        bool paired = false; // a request on it carried a paired phone's secret
        bool busy = false; // a request on it is being answered (a menu request waits for a change)
    };

    Connection* Find(QTcpSocket* socket)
    {
        for (Connection& c : m_open)
            if (c.socket == socket)
                return &c;
        return nullptr;
    }

    // Makes room at the cap: the oldest connection that no paired phone has used goes first, then the oldest paired
    // one that is not being answered. A paired phone waiting for the menu is never dropped for a newcomer.
    bool DropOne()
    {
        for (const bool paired : { false, true }) {
            for (auto it = m_open.begin(); it != m_open.end(); ++it) {
                if (it->paired != paired || (paired && it->busy))
                    continue;
                QPointer<QTcpSocket> socket = it->socket;
                m_open.erase(it);
                if (socket) {
                    socket->abort();
                    socket->deleteLater();
                }
                return true;
            }
        }
        return false;
    }

    CPhoneRemote* m_pOwner;
    std::vector<Connection> m_open;
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
    if (auto* listener = dynamic_cast<Listener*>(socket->parent()))
        listener->Answered(socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("X-Frame-Options", "DENY");
    // The page's own requests carry its origin (which every request that acts must show); other sites get no
    // referrer.
    responder.writeHeader("Referrer-Policy", "same-origin");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                          "img-src 'self'; connect-src 'self'; form-action 'self'; frame-ancestors 'none'");
    for (const auto& [key, value] : headers)
        responder.writeHeader(key, value);
    responder.writeBody(body);
}

bool CPhoneRemote::MayLog()
{
    // A fixed window: at most kLogLinesPerMinute refusal lines a minute, then one line that says how many were not
    // written, so that a flood of requests cannot fill the journal.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!m_logWindow.isValid() || m_logWindow.msecsTo(now) >= 60000) {
        if (m_nLogsSuppressed > 0)
            qCWarning(lcPhone).noquote() << "phone remote:" << m_nLogsSuppressed << "more refusals not logged";
        m_logWindow = now;
        m_nLogLines = 0;
        m_nLogsSuppressed = 0;
    }
    if (m_nLogLines < kLogLinesPerMinute) {
        ++m_nLogLines;
        return true;
    }
    ++m_nLogsSuppressed;
    return false;
}

QString CPhoneRemote::LoggedPath(const QHttpServerRequest& request)
{
    // As it came on the wire, percent-encoded: a decoded path could carry a line break and forge a log line.
    QString path = request.url().path(QUrl::FullyEncoded);
    if (path.size() > 80)
        path = path.left(80) + QStringLiteral("...");
    return path;
}

void CPhoneRemote::Refuse(const QHttpServerRequest& request, QTcpSocket* socket, int status, const char* why)
{
    if (MayLog())
        qCWarning(lcPhone).noquote() << "phone remote refused" << request.remoteAddress().toString()
                                     << LoggedPath(request) << ":" << why;
    Reply(request, socket, status, "text/plain; charset=utf-8", QByteArray(why) + '\n');
}

QByteArray CPhoneRemote::CookieHeader(const QString& secret)
{
    // Scripts cannot read it and other sites cannot send it; it lives kCookieDays and is renewed whenever the
    // phone uses the remote, so a phone in use stays paired and a lost one's cookie runs out.
    return QByteArray(kCookie) + '=' + secret.toLatin1()
        + "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" + QByteArray::number(kCookieDays * 24 * 3600);
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
    const QString secret = SecretOf(request.value("Cookie"));
    const bool paired = m_store.Knows(secret);
    if (m_pListener)
        m_pListener->RequestArrived(socket, paired);
    // A paired phone's page and keys renew its cookie.
    QList<std::pair<QByteArray, QByteArray>> renew;
    if (paired)
        renew.append({ "Set-Cookie", CookieHeader(secret) });

    if (get && path == QLatin1String("/")) {
        Reply(request, socket, 200, "text/html; charset=utf-8", resource(paired ? "remote.html" : "pair.html"), renew);
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
    } else if (!get
               && (path == QLatin1String("/key") || path == QLatin1String("/send")
                   || path == QLatin1String("/favourite") || path == QLatin1String("/unfavourite")
                   || path == QLatin1String("/watch") || path == QLatin1String("/speech"))) {
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
                Reply(request, socket, 204, "text/plain", QByteArray(), renew);
            }
        } else if (path == QLatin1String("/watch")) {
            bool ok = false;
            const int row = form.queryItemValue(QStringLiteral("row")).toInt(&ok);
            if (!ok || row < 0 || row >= 10) {
                Refuse(request, socket, 400, "no such row");
            } else {
                emit resumeWatched(row);
                Reply(request, socket, 204, "text/plain", QByteArray(), renew);
            }
        } else if (path == QLatin1String("/speech")) {
            const QString on = form.queryItemValue(QStringLiteral("on"));
            if (on != QLatin1String("0") && on != QLatin1String("1")) {
                Refuse(request, socket, 400, "spoken menus are 0 or 1");
            } else {
                emit speakMenus(on == QLatin1String("1"));
                Reply(request, socket, 204, "text/plain", QByteArray(), renew);
            }
        } else if (path == QLatin1String("/unfavourite")) {
            if (CFavourites().Remove(form.queryItemValue(QStringLiteral("url"), QUrl::FullyDecoded))) {
                MenuChanged();
                Reply(request, socket, 204, "text/plain", QByteArray(), renew);
            } else {
                Refuse(request, socket, 404, "no such favourite");
            }
        } else {
            // A page to the TV, or into the favourites under a name: the same rules for both.
            const QUrl address(form.queryItemValue(QStringLiteral("url"), QUrl::FullyDecoded), QUrl::StrictMode);
            const QString name = form.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded);
            std::function<int()> done = [this, address] {
                emit sendToTv(address);
                return 204;
            };
            if (path == QLatin1String("/favourite"))
                done = [this, address, name] {
                    if (!CFavourites().Add(name, address.toString(QUrl::FullyEncoded)))
                        return 507;
                    MenuChanged();
                    return 204;
                };
            if (const char* refusal = SendToTvRefusal(address)) {
                Refuse(request, socket, 400, refusal);
            } else if (QHostAddress(address.host()).isNull()) {
                SendOnceResolved(request, socket, address, renew, std::move(done));
            } else if (const int status = done(); status == 204) {
                Reply(request, socket, 204, "text/plain", QByteArray(), renew);
            } else {
                Refuse(request, socket, status, "the favourites are full or cannot be kept");
            }
        }
    } else {
        Refuse(request, socket, 404, "no such page");
    }
    return true;
}

void CPhoneRemote::SendOnceResolved(const QHttpServerRequest& request, QTcpSocket* socket, const QUrl& address,
                                    const QList<std::pair<QByteArray, QByteArray>>& renew, std::function<int()> done)
{
    // A host name is judged by what it resolves to: a name of any zone may point at this machine. The answer waits
    // for the resolver, off the GUI thread's path.
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    const QString peer = request.remoteAddress().toString();
    QHostInfo::lookupHost(
        address.host(), this,
        [this, responder, socket = QPointer<QTcpSocket>(socket), address, renew, peer, done](const QHostInfo& info) {
            if (!socket)
                return; // the phone went
            if (const char* refusal = ResolvedHostRefusal(info.addresses())) {
                if (MayLog())
                    qCWarning(lcPhone).noquote() << "phone remote refused" << peer << "/send :" << refusal;
                Write(*responder, socket, 400, "text/plain; charset=utf-8", QByteArray(refusal) + '\n');
                return;
            }
            const int status = done();
            Write(*responder, socket, status, "text/plain", QByteArray(), status == 204 ? renew : decltype(renew) {});
        });
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
    name = name.left(60);
    const QString secret = m_store.Add(name.isEmpty() ? QStringLiteral("phone") : name);
    EndPairing();
    if (secret.isEmpty()) {
        Refuse(request, socket, 500, "the paired phones cannot be stored");
        return;
    }
    qCInfo(lcPhone).noquote() << "phone paired:" << name;
    emit phonesChanged();
    Reply(request, socket, 303, "text/plain", QByteArray(),
          { { "Location", "/" }, { "Set-Cookie", CookieHeader(secret) } });
}

namespace
{

// The favourites as the phone page lists them.
QJsonArray FavouritesJson()
{
    QJsonArray list;
    const CFavourites favourites;
    for (const CFavourites::Item& item : favourites.Items())
        list.append(QJsonObject { { QStringLiteral("name"), item.name }, { QStringLiteral("url"), item.address } });
    return list;
}

} // namespace

QByteArray CPhoneRemote::StateJson()
{
    const TvMenuSnapshot s = m_menuSource ? m_menuSource() : TvMenuSnapshot();
    const QByteArray json
        = QJsonDocument(QJsonObject { { QStringLiteral("mode"), QLatin1String(modeName(s.mode)) },
                                      { QStringLiteral("title"), s.title },
                                      { QStringLiteral("rows"), QJsonArray::fromStringList(s.rows) },
                                      { QStringLiteral("page"), s.pageLine },
                                      { QStringLiteral("favourites"), FavouritesJson() },
                                      { QStringLiteral("speech"),
                                        ReadSettingNumber(QString::fromLatin1(SettingKey::SpeakMenus)) != 0 },
                                      { QStringLiteral("watching"), QJsonArray::fromStringList(s.watching) } })
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
