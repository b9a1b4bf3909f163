#pragma once

#include <functional>

#include <QJsonValue>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

class CDevToolsPipe;
class QJsonObject;

// The TV's page in the browser, driven over DevTools: opens an address, puts the page script into every frame
// before the page's own scripts (in a script world of its own, cross-origin frames included), asks the top frame's
// script for news while the page is watched, and clicks where the script wants a click, with a real input event.
// Downloads are refused, every other window the page opens (a pop-up, a new tab) is closed at once, and the top frame
// is taken back to an empty page if it ever leaves the addresses allowed to it.
//
// A page belongs to its pipe (it is the pipe's child): it goes when the pipe goes, so nothing of a page, its timer
// or its callbacks can reach a pipe whose browser has ended. Once the pipe is closed the page stops watching.
class CChromiumPage : public QObject
{
    Q_OBJECT
public:
    // pageScript holds __KREL_SCROLL_Y__ where the page's scroll offset goes.
    CChromiumPage(CDevToolsPipe* pipe, QString pageScript);

    // Attaches to the browser's page; ready() follows, or failed().
    void Attach();
    bool IsReady() const { return !m_strSession.isEmpty(); }
    // Opens the address (once attached: earlier calls wait) with the page script for this scroll offset.
    void Navigate(const QString& address, int scrollY, double startAt = 0);
    // Opens the address opened last again, with its page script, after its renderer died: only what the browser
    // itself does is asked (what the renderer would do waits for a renderer that never comes), and the page script
    // already given to the page goes into the new renderer with the page's state.
    void OpenAgain();
    // Tells the page script in every frame that the page is hidden (its media held) or shown again (they go on):
    // an embedded browser's page does not notice its window leaving the screen.
    void SetHidden(bool hidden);
    // Runs expression in the top frame, in the page script's world (which sees the page's elements, not its
    // scripts) or in the page's own; done gets its value (null when there is no page yet).
    enum class World { Script, Page };
    void Evaluate(const QString& expression, std::function<void(const QJsonValue&)> done, World world = World::Script);
    // Runs expression in the page script's world of every frame; done (when given) gets every frame's value once
    // all have answered.
    void EvaluateEverywhere(const QString& expression, std::function<void(const QList<QJsonValue>&)> done = {});
    // A left click at a point of the page (in CSS pixels of the top frame), as a real input event: to the page it is
    // a user's click, which starts players that wait for one.
    void Click(int x, int y);
    // Where the page itself may take the top frame: http, https and about:blank, and file: addresses while the
    // program opened a file: page (an installed page may lead to another one).
    static bool MayGoTo(const QUrl& url, bool fromFilePage);

    static constexpr char kWorld[] = "krel";
    static constexpr int kPollMs = 500;
    static constexpr int kPollCount = 70; // a little longer than the script watches a page after a load (30 s)

signals:
    void ready();
    void failed(const QString& why);
    // Each time the script has stretched a player over the page: its movie address.
    void playerEnlarged(const QString& address);
    // The page's renderer died (a crash, the kernel's out-of-memory killer); once per page opened.
    void crashed();
    // The page opened a file chooser: none was shown.
    void fileChooserRefused();

private:
    void OnEvent(const QString& method, const QJsonObject& params, const QString& sessionId);
    void Send(const QString& method, const QJsonObject& params, const QString& session);
    void Poll();
    void OnTargetCreated(const QJsonObject& info);
    void StartNavigation();
    void TellHidden(const QString& session, int context);
    void RefuseFileChoosers(const QString& session);

    CDevToolsPipe* m_pPipe;
    QString m_strScript;
    QString m_strTarget; // the page's target
    QString m_strSession; // the page's session
    bool m_bFilePage = false; // the program opened a file: page
    bool m_bNavigated = false; // the program's first address is in
    QString m_strLoader; // the program's last navigation
    QString m_strAddress; // its address
    QString m_strMainFrame;
    QString m_strPendingAddress;
    int m_nPendingScroll = 0;
    double m_dPendingStart = 0;
    QString m_strSource; // the page script for the page opened now
    QString m_strScriptId; // the page script added for new documents
    int m_nKrelContext = 0; // the page script's world in the top frame
    QMultiHash<QString, int> m_contexts; // the page script's world in each frame, by session
    bool m_bHidden = false;
    bool m_bCrashed = false; // told for the page opened now
    QTimer m_poll;
    int m_nPolls = 0;
    int m_nSerial = 0;
};
