#pragma once

#include <QTimer>
#include <QWebEngineView>

// The web view of the TV window: opens an online video page without any dialog, finds the page's video player
// whenever it appears (a script in every frame watches the page for a while after each load) and stretches the
// largest one over the whole television, scrolls the page to the video's offset, and starts the player when it
// stays paused.
class COnlineVideoView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit COnlineVideoView(QWidget* parent);

    // Shows the view and opens the address; false (and nothing opened) for an address the view does not open:
    // only http, https, about:blank and the program's own installed pages are opened, since the catalogue that names
    // the addresses is outside input.
    bool Navigate(const QString& address);
    // http, https, about:blank, and files inside pagesDir (the installed pages, "" for none).
    static bool IsAllowedAddress(const QUrl& url, const QString& pagesDir);
    // The same for this program's installed pages, saying in the log why an address is refused.
    static bool MayOpen(const QString& address);

    // The script world of the page script (the page's own scripts cannot reach it); tests query the script there.
    static constexpr quint32 kScriptWorld = 1;

signals:
    // Each time a player has been stretched over the television: its movie address.
    void playersEnlarged(const QStringList& addresses);

protected:
    void contextMenuEvent(QContextMenuEvent*) override { }

private:
    void InstallPageScript();
    void StartWatching();
    void Poll();
    void ClickAt(const QPoint& point);

    QTimer m_poll; // asks the page script for news while the page is watched
    int m_nPolls = 0;
    int m_nSerial = 0; // the page script's stretch count last seen
};
