#pragma once

#include <QProcess>
#include <QString>

// The tests' HTTP server (support/http_server.py) on 127.0.0.1, serving one folder and a few misbehaving paths,
// on a port the system picks. Stopped with the object.
class HttpServer
{
public:
    explicit HttpServer(const QString& folder);
    ~HttpServer();
    bool IsRunning() const { return m_port > 0; }
    int Port() const { return m_port; }
    QString Url(const QString& path) const { return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(path); }

private:
    QProcess m_process;
    int m_port = 0;
};
