#pragma once

#include <functional>
#include <map>

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QTimer>

class QSocketNotifier;

// A client of the DevTools protocol over the browser's own pipe (chromium --remote-debugging-pipe): the browser
// reads commands on its fd 3 and writes answers and events on its fd 4, each message one JSON text ended by a NUL
// byte. No TCP port is opened, so no other program on the machine can drive the browser.
//
// Lives on the GUI thread: reads and writes never block (socket notifiers on both ends). A command gets its answer
// through a callback, exactly once: the browser's result, its error, or an error of our own when the pipe closed or
// no answer came within the command's bound (a hung browser). Events arrive as a signal.
class CDevToolsPipe : public QObject
{
    Q_OBJECT
public:
    // The browser's answer to one command: its "result", or ok false with the error's text.
    struct Answer {
        bool ok = false;
        QJsonObject result;
        QString error;
    };
    using Callback = std::function<void(const Answer&)>;

    static constexpr int kDefaultTimeoutMs = 10000;
    // A message larger than this is no DevTools message we use (a page can make the browser send anything it
    // likes, its console output whole): it is skipped unread.
    static constexpr qsizetype kMaxMessageBytes = 8 * 1024 * 1024;
    // Read from the browser at one go at most; then the event loop (the remote's keys) has its turn.
    static constexpr qsizetype kReadBudgetBytes = 1024 * 1024;

    // Takes both ends: toBrowser (written, the browser's fd 3) and fromBrowser (read, the browser's fd 4).
    CDevToolsPipe(int toBrowser, int fromBrowser, QObject* parent = nullptr);
    ~CDevToolsPipe() override;

    // Sends a command (to a page's session when sessionId is set); returns its id, 0 when the pipe is closed (the
    // callback then runs at once with an error).
    int Send(const QString& method, const QJsonObject& params = {}, Callback done = {},
             const QString& sessionId = QString(), int timeoutMs = kDefaultTimeoutMs);
    bool IsOpen() const { return m_nWrite >= 0; }
    // Only these events are read and passed on from now on (added to those wanted before); every other event is
    // dropped by its name, unparsed. Until the first call every event is passed on.
    void WantEvents(std::initializer_list<QLatin1String> methods);
    // Closes both ends; every command still waiting gets its error.
    void Close(const QString& why);

signals:
    // An event: its method, params and the session it came from ("" for the browser's own).
    void event(const QString& method, const QJsonObject& params, const QString& sessionId);
    // The pipe closed: the browser went (or sent what no browser sends), or Close was called.
    void closed(const QString& why);
    // A command got no answer within its bound; the pipe stays open.
    void unresponsive(const QString& method);

private:
    struct Pending {
        QString method;
        Callback done;
        qint64 deadlineMs;
    };
    void OnReadable();
    void OnWritable();
    void Flush();
    void Dispatch(const QByteArray& message);
    void SkippedTooLarge();
    void CheckDeadlines();
    void Finish(int id, const Answer& answer);

    int m_nWrite = -1;
    int m_nRead = -1;
    QSocketNotifier* m_pReadNotifier = nullptr;
    QSocketNotifier* m_pWriteNotifier = nullptr;
    QByteArray m_incoming;
    bool m_bSkipping = false; // in the middle of a message too large to keep
    QSet<QByteArray> m_wanted;
    QByteArray m_outgoing;
    int m_nNextId = 1;
    std::map<int, Pending> m_pending;
    QTimer m_deadlines;
    QElapsedTimer m_clock;
};
