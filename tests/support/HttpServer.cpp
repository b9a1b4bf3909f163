#include "HttpServer.h"

#include "TestEnv.h"

#include <QRegularExpression>

HttpServer::HttpServer(const QString& folder)
{
    DiesWithTheTest(m_process);
    m_process.start(QStringLiteral("python3"), { QStringLiteral("-u"), QStringLiteral(KREL_TEST_HTTP_SCRIPT), folder });
    if (!m_process.waitForStarted(5000))
        return;
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
