#pragma once

#include <array>
#include <memory>

#include <QPointer>

#include "WatchingList.h"

class CItemBase;
class QObject;

// The navigation state machine of the TV menu: which list follows which. Owns the lists, creating each the first
// time its level is entered and reloading it when the level is entered again.
class CItemListSet
{
public:
    enum State {
        Start = 0,
        Home = 1,
        VideoTypes = 2,
        VideoList = 3,
        AddressList = 4,
        StarList = 9,
        StarVideos = 10,
        Playing = 11,
        LocalMovies = 14,
        Watching = 15, // Home's "继续观看"
        Favourites = 16, // Home's "收藏"
    };
    enum Slot {
        SlotHome,
        SlotVideoTypes,
        SlotStars,
        SlotStarVideos,
        SlotVideos,
        SlotAddresses,
        SlotLocal,
        SlotWatching,
        SlotFavourites,
        SlotCount
    };

    CItemListSet();
    ~CItemListSet();

    // The window that receives WM_PLAY_URL.
    void SetWindow(QObject* window) { m_pWindow = window; }

    // Each returns the list to show, or null for none.
    CItemBase* Select(int digit);
    CItemBase* GoBack();
    CItemBase* GoUp();
    // A page sent from elsewhere (a phone) plays as a chosen episode does: the list shown stays beneath it, leaving
    // the video returns to that list and Back climbs from it. Returns the list to show (none).
    CItemBase* PlaySent(CItemBase* shown);

    bool IsPlaying() const { return m_nState == Playing; }
    // The name of the episode chosen last ("" for a sent page).
    QString PlayingName() const { return m_strPlayingName; }
    int State() const { return m_nState; }
    int Branch() const { return m_nBranch; }
    CItemBase* List(Slot slot) const { return m_lists[slot].get(); }

    // A page scroll offset as the video page uses it: below 0 or above 99999 gives 0.
    static int ScrollOffsetOf(int value);

    // What is being watched (Home's "继续观看"), kept in the user's state folder.
    CWatchingList& WatchingList() { return m_watching; }
    // Its rows as "继续观看" shows them (what no longer exists left out).
    QStringList WatchingRows() const;
    // Row of "继续观看" chosen from elsewhere (a phone): as its digit there. Returns the list to show.
    CItemBase* ResumeWatched(int row);
    // A film chosen in a listing of the local movies or in "继续观看" starts: it goes first in "继续观看".
    void FilmStarted(const QString& path);
    // The next row of the address list the playing episode was chosen from (also from "继续观看"): its name, "" when
    // there is none (the last episode, a page sent from a phone).
    QString NextEpisodeName() const;
    // Plays it as choosing it would; what leaving it comes back to stays as it was. Returns the list to show (none).
    CItemBase* PlayNextEpisode();
    // Something was left at position of duration: "继续观看" keeps where (or drops what was watched to its end), and
    // shows it at once when it is on the screen.
    void Left(const QString& key, double position, double duration);

private:
    CItemBase* Enter(Slot slot, int key, int state);
    void SetState(int state);
    CItemBase* EnterHome();
    // The row of digit in list from opens list to (loaded with the row's id) in state.
    CItemBase* Descend(Slot from, int digit, Slot to, int state);
    // One level up from a state (the shared part of Back and stepping back).
    CItemBase* Climb(int from);
    CItemBase* StartPlaying(int digit);
    CItemBase* Stay(Slot slot) const { return m_lists[slot].get(); }
    // Back from a sent page: the list it was sent over, in its state.
    CItemBase* LeaveSent();
    CItemBase* SelectWatched(int digit);
    CItemBase* SelectFavourite(int digit);

    std::array<std::unique_ptr<CItemBase>, SlotCount> m_lists;
    int m_nState = Start;
    int m_nBranch = 0;
    int m_nSentFrom = -1; // while a sent page plays: the state it was sent over
    CItemBase* m_pSentOver = nullptr; // and the list shown then
    QPointer<QObject> m_pWindow;
    QString m_strPlayingName;
    QString m_strSeries; // the video whose address list is loaded, by name
    int m_nAddressesOf = 0; // and by id
    int m_nPlayingIndex = -1; // the playing episode's row in it; -1 for a sent page
    CWatchingList m_watching;
};
