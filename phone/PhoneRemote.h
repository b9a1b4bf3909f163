#pragma once

#include <functional>
#include <memory>

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

#include "PhoneStore.h"
#include "common/TvMenuView.h"

class CRemoteKeyRouter;

// The phone remote: a small web server on the home network that serves a remote-control page to paired phones,
// mirrors the TV menu to them live (each page keeps one request waiting for the next change), and hands their keys
// to the key router like any other remote.
//
// Safe by default: it listens only while switched on; it answers only peers of the home network; a request
// whose Host is not this machine, or (for anything that acts) whose Origin is not the page itself, is refused, so
// that no page elsewhere can drive the box through a browser. A phone pairs once, with a one-time ticket (the QR
// code) or a short code, both valid for two minutes; the short code takes a few tries a minute, then pauses. A
// paired phone holds a long random secret in a cookie that scripts cannot read and other sites cannot send; krel
// keeps only its hash. Connections (per peer and in all), request times and sizes are capped; nothing blocks the
// GUI thread. Every refusal is one log line, at most a few a minute.
class CPhoneRemote : public QAbstractHttpServer
{
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = 48080;
    static constexpr int kPairingSeconds = 120;
    static constexpr int kCodeTriesPerMinute = 5;
    static constexpr int kMaxConnections = 16;
    // A phone's browser opens up to six connections to a site.
    static constexpr int kMaxConnectionsPerPeer = 6;
    static constexpr int kMaxRequestBytes = 16 * 1024;
    // A request's every byte must arrive within this time from the connection or the previous answer; bytes that
    // trickle in do not extend it.
    static constexpr int kRequestMs = 10000;
    static constexpr int kCookieDays = 30;
    static constexpr int kLogLinesPerMinute = 20;
    static constexpr int kHoldMs = 10000; // how long a request for the menu waits for a change

    CPhoneRemote(CRemoteKeyRouter* router, const QString& storePath, QObject* parent = nullptr);
    ~CPhoneRemote() override;

    // Listens at the port, taking connections through the home network's interfaces and loopback only; false when
    // the port is taken.
    bool Start(quint16 port = kDefaultPort);
    // For tests: a shorter request deadline.
    void SetRequestDeadline(int ms) { m_nRequestMs = ms; }
    void Stop();
    bool IsListening() const;
    quint16 Port() const { return m_nPort; }

    // What the TV shows; Off while no TV output runs. MenuChanged pushes it to the phones when it changed.
    void SetMenuSource(std::function<TvMenuSnapshot()> source) { m_menuSource = std::move(source); }
    void MenuChanged();

    // A new pairing: a one-time ticket (in the address the QR code carries) and a short code, for two minutes.
    struct Pairing {
        QString address; // http://<this machine>:<port>/pair?t=<ticket>
        QString code; // six digits
        QDateTime until;
        QDateTime pausedUntil; // the short code is paused after too many wrong tries
    };
    Pairing StartPairing();
    void EndPairing();
    bool IsPairing() const;
    const Pairing& CurrentPairing() const { return m_pairing; }

    CPhoneStore& Phones() { return m_store; }
    void RemovePhone(const QString& hash);

signals:
    // A pairing started, ended (a phone paired, or the time ran out) or its short code paused.
    void pairingChanged();
    void phonesChanged();
    // A phone asked to play a video page on the TV (http or https only).
    void sendToTv(const QUrl& address);
    // A row of "继续观看" was chosen on the phone.
    void resumeWatched(int row);
    // Spoken menus were switched on or off on the phone.
    void speakMenus(bool on);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    class Listener;
    void Refuse(const QHttpServerRequest& request, QTcpSocket* socket, int status, const char* why);
    // Takes a page whose host is a name (done: to the TV, or into the favourites) once the name is resolved and
    // found to be no address of this machine; done answers the request (an HTTP status).
    void SendOnceResolved(const QHttpServerRequest& request, QTcpSocket* socket, const QUrl& address,
                          const QList<std::pair<QByteArray, QByteArray>>& renew, std::function<int()> done);
    bool MayLog();
    static QString LoggedPath(const QHttpServerRequest& request);
    static QByteArray CookieHeader(const QString& secret);
    void Reply(const QHttpServerRequest& request, QTcpSocket* socket, int status, const QByteArray& type,
               const QByteArray& body, const QList<std::pair<QByteArray, QByteArray>>& headers = {});
    static void Write(QHttpServerResponder& responder, QTcpSocket* socket, int status, const QByteArray& type,
                      const QByteArray& body, const QList<std::pair<QByteArray, QByteArray>>& headers = {});
    QByteArray StateJson();
    void AnswerWaiting(bool all);
    QString SecretOf(const QByteArray& cookieHeader) const;
    void PairPhone(const QHttpServerRequest& request, QTcpSocket* socket);

    CRemoteKeyRouter* m_pRouter;
    CPhoneStore m_store;
    Listener* m_pListener = nullptr;
    quint16 m_nPort = 0;
    std::function<TvMenuSnapshot()> m_menuSource;
    // Requests for the menu waiting for its next change.
    struct Waiting {
        QHttpServerResponder responder;
        QPointer<QTcpSocket> socket;
        QDateTime until;
    };
    std::vector<std::unique_ptr<Waiting>> m_waiting;
    QTimer m_holdTimer;
    QByteArray m_lastJson;
    int m_nSerial = 0; // counts changes of what the TV shows
    Pairing m_pairing;
    QString m_ticket;
    QList<QDateTime> m_wrongCodes; // times of wrong short codes within the last minute
    QTimer m_pairingEnd;
    int m_nRequestMs = kRequestMs;
    QDateTime m_logWindow;
    int m_nLogLines = 0;
    int m_nLogsSuppressed = 0;
};
