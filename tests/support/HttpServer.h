#pragma once

#include <QProcess>
#include <QString>

// A local HTTP server on 127.0.0.1 (Python's http.server) serving one folder, on a port the system picks.
class HttpServer {
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
