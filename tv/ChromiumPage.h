#pragma once

#include <functional>

#include <QJsonValue>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QTimer>

class CDevToolsPipe;
class QJsonObject;

// The TV's page in the browser, driven over DevTools: opens an address, puts the page script into every frame
// before the page's own scripts (in a script world of its own, cross-origin frames included), asks the top frame's
// script for news while the page is watched, and clicks where the script wants a click, with a real input event.
// Downloads are refused.
class CChromiumPage : public QObject
{
    Q_OBJECT
public:
    // pageScript holds __KREL_SCROLL_Y__ where the page's scroll offset goes.
    CChromiumPage(CDevToolsPipe* pipe, QString pageScript, QObject* parent = nullptr);

    // Attaches to the browser's page; ready() follows, or failed().
    void Attach();
    bool IsReady() const { return !m_strSession.isEmpty(); }
    // Opens the address (once attached: earlier calls wait) with the page script for this scroll offset.
    void Navigate(const QString& address, int scrollY);
    // Tells the page script in every frame that the page is hidden (its media held) or shown again (they go on):
    // an embedded browser's page does not notice its window leaving the screen.
    void SetHidden(bool hidden);
    // Runs expression in the page script's world of the top frame (which sees the page's elements, not its
    // scripts); done gets its value (null when there is no page yet).
    void Evaluate(const QString& expression, std::function<void(const QJsonValue&)> done);

    static constexpr char kWorld[] = "krel";
    static constexpr int kPollMs = 500;
    static constexpr int kPollCount = 70; // a little longer than the script watches a page after a load (30 s)

signals:
    void ready();
    void failed(const QString& why);
    // Each time the script has stretched a player over the page: its movie address.
    void playerEnlarged(const QString& address);

private:
    void OnEvent(const QString& method, const QJsonObject& params, const QString& sessionId);
    void Send(const QString& method, const QJsonObject& params, const QString& session);
    void Poll();
    void Click(int x, int y);
    void StartNavigation();
    void TellHidden(const QString& session, int context);

    CDevToolsPipe* m_pPipe;
    QString m_strScript;
    QString m_strSession; // the page's session
    QString m_strMainFrame;
    QString m_strPendingAddress;
    int m_nPendingScroll = 0;
    int m_nScrollY = 0;
    QString m_strScriptId; // the page script added for new documents
    int m_nKrelContext = 0; // the page script's world in the top frame
    QMultiHash<QString, int> m_contexts; // the page script's world in each frame, by session
    bool m_bHidden = false;
    QTimer m_poll;
    int m_nPolls = 0;
    int m_nSerial = 0;
};
