#pragma once

#include <QEvent>
#include <QString>

// The application's own messages. Their numbers are fixed (1024 + 251 .. 1024 + 255) so that every
// sender and receiver agrees on them; Qt reserves 1000..65535 for user event types, so they are used as is.
enum AppMessage : int {
    WM_REMOTE_COMMAND = 1275, // wParam: RemoteCommand (while learning: the custom code), lParam: key byte
    WM_PLAY_URL = 1276, // carries the online video address to open
    // 1277 was the tray icon's notification; Qt's tray icon reports through its own signal.
    WM_REMOTE_POWER = 1278, // the remote's power key, always to the control window
    WM_SHOW_VIDEO = 1279, // the TV window brings its web view to the front again
    WM_PLAY_FILE = 1280, // carries the full path of a local film to play on the TV
};

inline QEvent::Type eventType(AppMessage message)
{
    return static_cast<QEvent::Type>(static_cast<int>(message));
}

// One application message: a type and two integer parameters, as posted between threads.
class CAppEvent : public QEvent
{
public:
    CAppEvent(AppMessage message, quint32 wParam, quint32 lParam)
        : QEvent(eventType(message))
        , m_wParam(wParam)
        , m_lParam(lParam)
    {
    }

    quint32 wParam() const { return m_wParam; }
    quint32 lParam() const { return m_lParam; }

private:
    quint32 m_wParam;
    quint32 m_lParam;
};

// WM_PLAY_URL: the address travels inside the event, which the receiver's event queue owns and deletes.
class CPlayUrlEvent : public QEvent
{
public:
    explicit CPlayUrlEvent(QString url)
        : QEvent(eventType(WM_PLAY_URL))
        , m_strUrl(std::move(url))
    {
    }

    const QString& url() const { return m_strUrl; }

private:
    QString m_strUrl;
};

// WM_PLAY_FILE: the local film's path travels inside the event, like WM_PLAY_URL's address.
class CPlayFileEvent : public QEvent
{
public:
    explicit CPlayFileEvent(QString path)
        : QEvent(eventType(WM_PLAY_FILE))
        , m_strPath(std::move(path))
    {
    }

    const QString& path() const { return m_strPath; }

private:
    QString m_strPath;
};
