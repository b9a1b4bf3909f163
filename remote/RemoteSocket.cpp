#include "RemoteSocket.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include "IRReceiverThread.h"
#include "RemoteCodes.h"
#include "common/Log.h"
#include "common/Paths.h"

namespace
{

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHex(const QByteArray& text, int digits, unsigned* value)
{
    if (text.size() != digits)
        return false;
    *value = 0;
    for (char c : text) {
        const int d = hexDigit(c);
        if (d < 0)
            return false;
        *value = *value * 16 + static_cast<unsigned>(d);
    }
    return true;
}

} // namespace

std::optional<RemotePress> ParseRemoteLine(const QByteArray& line)
{
    QByteArray text = line;
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.endsWith('\r'))
        text.chop(1);
    const qsizetype space = text.indexOf(' ');
    unsigned code = 0, key = 0;
    if (space < 0 || !parseHex(text.left(space), 4, &code) || !parseHex(text.mid(space + 1), 2, &key))
        return std::nullopt;
    return RemotePress { static_cast<std::uint16_t>(code), static_cast<std::uint8_t>(key) };
}

QByteArray FormatRemoteLine(const RemotePress& press)
{
    return QByteArray::number(press.customCode, 16).toUpper().rightJustified(4, '0') + ' '
        + QByteArray::number(press.keyByte, 16).toUpper().rightJustified(2, '0') + '\n';
}

QString RemoteSocketPath()
{
    const QString folder = Paths::UserRuntimeDir();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/krel-remote.socket");
}

QByteArray SendRemoteLine(const QString& path, const QByteArray& line, int timeoutMs)
{
    if (path.isEmpty())
        return {};
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return {};
    socket.write(line);
    socket.flush();
    while (!socket.canReadLine() && socket.waitForReadyRead(timeoutMs)) { }
    return socket.readLine(kMaxRemoteLine + 2).trimmed();
}

CRemoteSocketServer::CRemoteSocketServer(CIRReceiverThread* reader, QObject* parent)
    : QObject(parent)
    , m_pReader(reader)
    , m_pServer(new QLocalServer(this))
{
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &CRemoteSocketServer::OnConnection);
}

CRemoteSocketServer::~CRemoteSocketServer()
{
    m_pServer->close();
}

bool CRemoteSocketServer::Listen(const QString& path)
{
    if (path.isEmpty())
        return false;
    QLocalServer::removeServer(path);
    if (!m_pServer->listen(path)) {
        qCWarning(lcRemote) << "software remote: cannot listen on" << path << m_pServer->errorString();
        return false;
    }
    ::chmod(QFile::encodeName(path).constData(), 0600);
    m_strPath = path;
    return true;
}

QString CRemoteSocketServer::Path() const
{
    return m_pServer->fullServerName();
}

void CRemoteSocketServer::OnConnection()
{
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        if (m_connections.size() >= kMaxConnections) {
            QLocalSocket* oldest = m_connections.takeFirst();
            oldest->abort();
            oldest->deleteLater();
        }
        m_connections.append(socket);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            m_connections.removeOne(socket);
            socket->deleteLater();
        });
    }
    // Qt closes the server (and removes its socket) when accepting fails, as when the process runs out of file
    // descriptors: listen again rather than be deaf for the rest of the run.
    if (!m_pServer->isListening() && !m_strPath.isEmpty())
        Listen(m_strPath);
}

void CRemoteSocketServer::OnReadable(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        if (socket->bytesToWrite() > kMaxUnreadReplies) {
            socket->abort();
            return;
        }
        const QByteArray line = socket->readLine(kMaxRemoteLine + 2);
        if (!line.endsWith('\n')) {
            // Longer than any press can be: not our client. Drop the connection.
            socket->write("error: line too long\n");
            socket->disconnectFromServer();
            return;
        }
        if (line == kShowWindowLine) {
            emit ShowRequested();
            socket->write("ok\n");
            continue;
        }
        if (line.startsWith("key ")) {
            const int command = CommandByName(QString::fromLatin1(line.mid(4).trimmed()));
            if (command > 32 && m_onCommand) {
                m_onCommand(command);
                socket->write("ok\n");
            } else {
                socket->write("error: no such key of our own\n");
            }
            continue;
        }
        const std::optional<RemotePress> press = ParseRemoteLine(line);
        if (!press) {
            socket->write("error: expected \"CCCC KK\" in hexadecimal\n");
            continue;
        }
        m_pReader->HandleReport(CIRReceiverThread::MakeAnswerReport(press->customCode, press->keyByte));
        socket->write("ok\n");
    }
    if (socket->bytesAvailable() > kMaxRemoteLine) {
        socket->write("error: line too long\n");
        socket->disconnectFromServer();
    }
}
