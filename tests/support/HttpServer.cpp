#include "HttpServer.h"

#include <QRegularExpression>

HttpServer::HttpServer(const QString& folder)
{
    m_process.setWorkingDirectory(folder);
    m_process.start(QStringLiteral("python3"), {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                                                QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("0")});
    if (!m_process.waitForStarted(5000))
        return;
    // "Serving HTTP on 127.0.0.1 port 43210 (http://127.0.0.1:43210/) ..."
    QByteArray out;
    static const QRegularExpression port(QStringLiteral("port (\\d+)"));
    while (m_process.waitForReadyRead(10000)) {
        out += m_process.readAllStandardOutput();
        const auto m = port.match(QString::fromLatin1(out));
        if (m.hasMatch()) {
            m_port = m.captured(1).toInt();
            break;
        }
    }
}

HttpServer::~HttpServer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(3000);
}
