#pragma once

#include <QWebEngineView>

// The web view of the TV window: opens an online video page without any dialog and, once the top-level page has
// loaded, stretches the page's video players over the whole television and scrolls the page to the video's offset.
class COnlineVideoView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit COnlineVideoView(QWidget* parent);

    // Shows the view and opens the address.
    void Navigate(const QString& address);
    // Enlarges every qualifying player of the page (run on the top-level page's load completion).
    void EnlargeFlashPlayers();

    // The size test of a player, on its extent in HIMETRIC (0.01 mm): larger than 1 mm both ways, not taller
    // than wide, and at most three times as wide as tall.
    static bool IsPlayerExtent(int cx, int cy);

signals:
    // After an enlargement: the movie addresses of the players that were enlarged, in page order.
    void playersEnlarged(const QStringList& addresses);

protected:
    void contextMenuEvent(QContextMenuEvent*) override { }
};
