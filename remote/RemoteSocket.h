#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class CIRReceiverThread;

// The software remote's wire protocol: one press a line, "CCCC KK\n" (custom code and key byte in hex), answered
// by "ok\n" or "error: <reason>\n". The line "show\n" asks the running program to show its control window (a
// second start of the program sends it); "key NAME\n" sends a command no receiver key gives (PlayPause, ...).
struct RemotePress {
    std::uint16_t customCode = 0;
    std::uint8_t keyByte = 0;
};
inline constexpr int kMaxRemoteLine = 64;
std::optional<RemotePress> ParseRemoteLine(const QByteArray& line);
QByteArray FormatRemoteLine(const RemotePress& press);

// Where the running program listens: $XDG_RUNTIME_DIR/krel-remote.socket (a folder only the user can enter), else
// /tmp/krel-<uid>/krel-remote.socket in a folder of mode 0700 owned by the user. "" when no safe folder exists.
QString RemoteSocketPath();

// Client side: sends one line to the program listening on path and returns its answer without the line end, or
// "" when nothing listens or nothing answers within timeoutMs.
QByteArray SendRemoteLine(const QString& path, const QByteArray& line, int timeoutMs = 3000);
inline constexpr char kShowWindowLine[] = "show\n";

// Listens for software remote presses and feeds each through the reader's report path, as if the receiver had
// delivered it. Lives on the GUI thread.
class CRemoteSocketServer : public QObject
{
    Q_OBJECT
public:
    explicit CRemoteSocketServer(CIRReceiverThread* reader, QObject* parent = nullptr);
    // Where "key NAME" lines go (the key router); without it they are refused.
    void SetCommandHandler(std::function<void(int command)> handler) { m_onCommand = std::move(handler); }
    ~CRemoteSocketServer() override;

    // Removes a stale socket and listens (the caller holds the single-instance lock). Returns false on failure.
    bool Listen(const QString& path = RemoteSocketPath());
    QString Path() const;

signals:
    // A second start of the program asked for the control window.
    void ShowRequested();

private:
    void OnConnection();
    void OnReadable(QLocalSocket* socket);

    CIRReceiverThread* m_pReader;
    std::function<void(int command)> m_onCommand;
    QLocalServer* m_pServer;
    // The open connections, oldest first. At most kMaxConnections: a new one ends the oldest (a short-lived
    // client is long gone by then; an idle one must not keep the remote from everybody else).
    QList<QLocalSocket*> m_connections;
    QString m_strPath;

public:
    static constexpr int kMaxConnections = 16;
    // Replies a client has not read yet; a client that never reads is dropped rather than buffered for.
    static constexpr qint64 kMaxUnreadReplies = 4096;
};
