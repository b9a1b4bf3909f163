#include "ItemListSet.h"

#include <utility>

#include <QCoreApplication>
#include <QFileInfo>

#include "catalogue/CatalogueQueries.h"
#include "catalogue/ItemLists.h"
#include "catalogue/LocalMovieList.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/Favourites.h"
#include "common/Paths.h"
#include "tv/ResumePositions.h"
#include "tv/film/LocalPlayer.h"

namespace
{

// The home screen: one row per branch, on the row of the digit that enters it. Row 2 is "继续观看" while something
// is being watched, and blank otherwise.
class CHomeList : public CItemBase
{
public:
    // rows: bit 0 while something is being watched, bit 1 while there are favourites.
    void Load(int rows) override
    {
        ClearRows();
        for (const char* name : { "在线视频", "电影明星", (rows & 1) ? "继续观看" : "", "本地电影" })
            AppendRow({ QString::fromUtf8(name), 0, 0, 0 });
        if (rows & 2)
            AppendRow({ QStringLiteral("收藏"), 0, 0, 0 });
    }
};

// "收藏": the household's own pages, in the order added.
class CFavouriteRows : public CItemBase
{
public:
    void Load(int) override
    {
        ClearRows();
        m_items = CFavourites().Items();
        for (const CFavourites::Item& item : m_items)
            AppendRow({ item.name, 0, 0, 0 });
        SetPage(0);
    }
    const CFavourites::Item* ItemAt(int digit) const
    {
        const int index = PageIndex() * PageSize() + digit;
        return digit >= 0 && digit < PageSize() && index < m_items.size() ? &m_items[index] : nullptr;
    }

private:
    QList<CFavourites::Item> m_items;
};

// "继续观看": what is being watched, newest first, each with where it was left; what no longer exists (a film
// deleted, an address gone from the catalogue) is left out.
class CWatchingRows : public CItemBase
{
public:
    explicit CWatchingRows(const CWatchingList& list)
        : m_list(list)
    {
    }
    void Load(int) override
    {
        ClearRows();
        m_shown.clear();
        for (const CWatchingList::Item& item : m_list.Items()) {
            if (item.film ? !QFileInfo(item.key).isFile() : !StillInCatalogue(item))
                continue;
            const QString at
                = item.position > 0 ? QStringLiteral("  ") + CResumePositions::FormatTime(item.position) : QString();
            AppendRow({ item.name + at, 0, 0, 0 });
            m_shown.append(item);
        }
        SetPage(0);
    }
    // The item on the row of digit (the list is one page).
    const CWatchingList::Item* ItemAt(int digit) const
    {
        return digit >= 0 && digit < m_shown.size() ? &m_shown[digit] : nullptr;
    }

private:
    static bool StillInCatalogue(const CWatchingList::Item& item)
    {
        QString url;
        LoadAddressUrl(item.addressId, &url);
        return !url.isEmpty() && url == item.key;
    }

    const CWatchingList& m_list;
    QList<CWatchingList::Item> m_shown;
};

std::unique_ptr<CItemBase> makeList(CItemListSet::Slot slot)
{
    switch (slot) {
    case CItemListSet::SlotHome:
        return std::make_unique<CHomeList>();
    case CItemListSet::SlotVideoTypes:
        return std::make_unique<CSelectOnlineVideoType>();
    case CItemListSet::SlotStars:
        return std::make_unique<CMoiveStarList>();
    case CItemListSet::SlotStarVideos:
        return std::make_unique<CSelectStarVideoList>();
    case CItemListSet::SlotVideos:
        return std::make_unique<CSelectOnlineVideoList>();
    case CItemListSet::SlotAddresses:
        return std::make_unique<CSelectOnlineVideoAddrList>();
    case CItemListSet::SlotLocal:
        return std::make_unique<CLocalPCMoiveList>();
    default:
        return nullptr;
    }
}

} // namespace

CItemListSet::CItemListSet()
    : m_watching(Paths::StateDir() + QStringLiteral("watching.dat"))
{
}
CItemListSet::~CItemListSet() = default;

int CItemListSet::ScrollOffsetOf(int value)
{
    return (value < 0 || value > 99999) ? 0 : value;
}

QStringList CItemListSet::WatchingRows() const
{
    CWatchingRows rows(m_watching);
    rows.Load(0);
    QStringList names;
    for (int i = 0; i < rows.RowCount(); ++i)
        names << rows.RowAt(i).name;
    return names;
}

CItemBase* CItemListSet::ResumeWatched(int row)
{
    m_nSentFrom = -1;
    m_pSentOver = nullptr;
    Enter(SlotWatching, 0, Watching);
    return SelectWatched(row);
}

void CItemListSet::FilmStarted(const QString& path)
{
    CWatchingList::Item item;
    item.film = true;
    item.name = QStringLiteral("本地: ") + QFileInfo(path).fileName();
    item.key = path;
    m_watching.Played(item);
}

void CItemListSet::Left(const QString& key, double position, double duration)
{
    m_watching.Left(key, position, duration);
    if (m_nState == Watching && m_lists[SlotWatching])
        m_lists[SlotWatching]->Load(0);
}

CItemBase* CItemListSet::Enter(Slot slot, int key, int state)
{
    if (!m_lists[slot])
        m_lists[slot] = slot == SlotWatching ? std::make_unique<CWatchingRows>(m_watching)
            : slot == SlotFavourites         ? std::make_unique<CFavouriteRows>()
                                             : makeList(slot);
    if (slot == SlotAddresses)
        m_nAddressesOf = key;
    m_lists[slot]->Load(key);
    SetState(state);
    return m_lists[slot].get();
}

void CItemListSet::SetState(int state)
{
    m_nState = state;
    // The branch is the one the current screen belongs to, however it was reached: the video types can also be
    // reached by climbing out of the local movies, and the lists below them must then climb back as online
    // video does, not as the branch chosen last at Home.
    if (state == VideoTypes)
        m_nBranch = 0;
    else if (state == StarList)
        m_nBranch = 1;
    else if (state == LocalMovies)
        m_nBranch = 3;
}

CItemBase* CItemListSet::Select(int digit)
{
    switch (m_nState) {
    case Start:
        return Enter(SlotVideoTypes, 0, VideoTypes);
    case Home:
        m_nBranch = digit;
        if (digit == 0)
            return Enter(SlotVideoTypes, 0, VideoTypes);
        if (digit == 1)
            return Enter(SlotStars, 1, StarList);
        if (digit == 3) {
            // The local movies start at the configured folders every time, not at the listing shown last.
            m_lists[SlotLocal].reset();
            return Enter(SlotLocal, 3, LocalMovies);
        }
        if (digit == 2 || digit == 4) {
            CItemBase* list = digit == 2 ? Enter(SlotWatching, 0, Watching) : Enter(SlotFavourites, 0, Favourites);
            if (list->RowCount() > 0)
                return list;
        }
        return EnterHome();
    case Watching:
        return SelectWatched(digit);
    case Favourites:
        return SelectFavourite(digit);
    case VideoTypes:
        return Descend(SlotVideoTypes, digit, SlotVideos, VideoList);
    case VideoList:
        if (m_lists[SlotVideos]->IsValidSelection(digit))
            g_nScrollY = ScrollOffsetOf(m_lists[SlotVideos]->ValueAt(digit));
        return Descend(SlotVideos, digit, SlotAddresses, AddressList);
    case AddressList: {
        CItemBase* addresses = m_lists[SlotAddresses].get();
        if (!addresses->IsValidSelection(digit))
            return addresses;
        return StartPlaying(digit);
    }
    case Playing:
        if (m_nSentFrom >= 0)
            return LeaveSent();
        m_nState = AddressList;
        return Stay(SlotAddresses);
    case StarList:
        return Descend(SlotStars, digit, SlotStarVideos, StarVideos);
    case StarVideos:
        return Descend(SlotStarVideos, digit, SlotAddresses, AddressList);
    case LocalMovies: {
        auto* local = static_cast<CLocalPCMoiveList*>(m_lists[SlotLocal].get());
        if (!local)
            return EnterHome();
        if (!local->IsValidSelection(digit))
            return local;
        // A film plays on the TV over the listing, which stays as it is; a folder opens; any other file does
        // nothing.
        const QString path = local->PathAt(local->PageIndex() * local->PageSize() + digit);
        if (IsPlayableFile(path)) {
            FilmStarted(path);
            if (m_pWindow)
                QCoreApplication::postEvent(m_pWindow, new CPlayFileEvent(path));
        } else if (QFileInfo(path).isDir() || !QFileInfo::exists(path)) {
            local->Load(digit);
        }
        return local;
    }
    default:
        return EnterHome();
    }
}

CItemBase* CItemListSet::Descend(Slot from, int digit, Slot to, int state)
{
    CItemBase* list = m_lists[from].get();
    if (!list->IsValidSelection(digit))
        return list; // a digit beyond the page keeps the list and the state
    if (to == SlotAddresses) {
        int first = 0, end = 0;
        list->VisibleRange(first, end);
        m_strSeries = list->RowAt(first + digit).name;
    }
    return Enter(to, list->IdAt(digit), state);
}

CItemBase* CItemListSet::EnterHome()
{
    // (Rows 2 and 4 name "继续观看" and "收藏" only while each has something.)
    const bool watching = Enter(SlotWatching, 0, Home)->RowCount() > 0;
    const bool favourites = Enter(SlotFavourites, 0, Home)->RowCount() > 0;
    return Enter(SlotHome, (watching ? 1 : 0) | (favourites ? 2 : 0), Home);
}

CItemBase* CItemListSet::SelectFavourite(int digit)
{
    auto* rows = static_cast<CFavouriteRows*>(m_lists[SlotFavourites].get());
    const CFavourites::Item* item = rows->ItemAt(digit);
    if (!item)
        return rows;
    // As a page sent from a phone: leaving it comes back here.
    const QString address = item->address;
    const QString name = item->name;
    PlaySent(rows);
    m_strPlayingName = name;
    if (m_pWindow)
        QCoreApplication::postEvent(m_pWindow, new CPlayUrlEvent(address));
    return nullptr;
}

CItemBase* CItemListSet::SelectWatched(int digit)
{
    auto* rows = static_cast<CWatchingRows*>(m_lists[SlotWatching].get());
    const CWatchingList::Item* chosen = rows->ItemAt(digit);
    if (!chosen)
        return rows;
    const CWatchingList::Item item = *chosen;
    if (item.film) {
        // Over this list, as over a folder's listing.
        FilmStarted(item.key);
        if (m_pWindow)
            QCoreApplication::postEvent(m_pWindow, new CPlayFileEvent(item.key));
        return rows;
    }
    // An episode plays from its own address list, as choosing its video and row would (its page scroll offset, its
    // next episode), and leaving it comes back here.
    g_nScrollY = ScrollOffsetOf(item.scroll);
    CItemBase* addresses = Enter(SlotAddresses, item.videoId, AddressList);
    int index = 0;
    while (index < addresses->RowCount() && addresses->RowAt(index).id != item.addressId)
        ++index;
    if (index == addresses->RowCount()) {
        SetState(Watching);
        return rows;
    }
    const QString episode = addresses->RowAt(index).name;
    m_strSeries = item.name.endsWith(episode) ? item.name.chopped(episode.size()).trimmed() : item.name;
    while (addresses->PageIndex() * addresses->PageSize() + addresses->PageSize() <= index)
        addresses->PageForward();
    StartPlaying(index - addresses->PageIndex() * addresses->PageSize());
    m_nSentFrom = Watching;
    m_pSentOver = rows;
    return nullptr;
}

CItemBase* CItemListSet::StartPlaying(int digit)
{
    // The address travels in the posted event, which the window's event queue owns until it is handled.
    QString url;
    LoadAddressUrl(m_lists[SlotAddresses]->IdAt(digit), &url);
    const CItemBase& addresses = *m_lists[SlotAddresses];
    int first = 0, end = 0;
    addresses.VisibleRange(first, end);
    const int index = std::min(first + digit, addresses.RowCount() - 1);
    m_strPlayingName = index >= 0 ? addresses.RowAt(index).name : QString();
    m_nPlayingIndex = index;
    m_nState = Playing;
    m_nSentFrom = -1;
    if (index >= 0 && !url.isEmpty()) {
        CWatchingList::Item item;
        item.name = m_strSeries.isEmpty() ? m_strPlayingName : m_strSeries + QLatin1Char(' ') + m_strPlayingName;
        item.key = url;
        item.videoId = m_nAddressesOf;
        item.addressId = addresses.RowAt(index).id;
        item.scroll = g_nScrollY;
        m_watching.Played(item);
    }
    if (m_pWindow)
        QCoreApplication::postEvent(m_pWindow, new CPlayUrlEvent(url));
    return nullptr;
}

CItemBase* CItemListSet::PlaySent(CItemBase* shown)
{
    if (m_nState != Playing) {
        m_nSentFrom = m_nState;
        m_pSentOver = shown;
    } else if (m_nSentFrom < 0) {
        // Sent over a playing episode: beneath it is that episode's address list.
        m_nSentFrom = AddressList;
        m_pSentOver = Stay(SlotAddresses);
    }
    m_nState = Playing;
    m_strPlayingName.clear();
    m_nPlayingIndex = -1;
    return nullptr;
}

QString CItemListSet::NextEpisodeName() const
{
    const CItemBase* addresses = m_lists[SlotAddresses].get();
    if (m_nState != Playing || m_nPlayingIndex < 0 || !addresses || m_nPlayingIndex + 1 >= addresses->RowCount())
        return QString();
    return addresses->RowAt(m_nPlayingIndex + 1).name;
}

CItemBase* CItemListSet::PlayNextEpisode()
{
    if (NextEpisodeName().isEmpty())
        return nullptr;
    CItemBase* addresses = m_lists[SlotAddresses].get();
    const int next = m_nPlayingIndex + 1;
    while (addresses->PageIndex() * addresses->PageSize() + addresses->PageSize() <= next)
        addresses->PageForward();
    const int sentFrom = m_nSentFrom;
    CItemBase* const sentOver = m_pSentOver;
    StartPlaying(next - addresses->PageIndex() * addresses->PageSize());
    m_nSentFrom = sentFrom;
    m_pSentOver = sentOver;
    return nullptr;
}

CItemBase* CItemListSet::LeaveSent()
{
    m_nState = m_nSentFrom;
    m_nSentFrom = -1;
    // "继续观看" shows what was just played first, and where it was left.
    if (m_nState == Watching && m_pSentOver)
        m_pSentOver->Load(0);
    return std::exchange(m_pSentOver, nullptr);
}

CItemBase* CItemListSet::GoBack()
{
    if (m_nState == Playing && m_nSentFrom >= 0)
        return LeaveSent();
    // Back from a playing video is the address list it was chosen from.
    if (m_nState == Playing) {
        if (m_nBranch != 0 && m_nBranch != 1)
            return nullptr;
        m_nState = AddressList;
        return Stay(SlotAddresses);
    }
    return Climb(m_nState);
}

CItemBase* CItemListSet::GoUp()
{
    if (m_nState == Playing && m_nSentFrom >= 0) {
        const int from = m_nSentFrom;
        LeaveSent();
        return Climb(from);
    }
    // Up from a playing video skips its address list.
    return Climb(m_nState == Playing ? AddressList : m_nState);
}

CItemBase* CItemListSet::Climb(int from)
{
    switch (from) {
    case Start:
    case Home:
    case StarList:
    case VideoTypes:
        // The video types are the first screen; climbing from them reaches the home screen and with it the film
        // stars and the local movies.
        return EnterHome();
    case VideoList:
    case LocalMovies:
        SetState(VideoTypes);
        return Stay(SlotVideoTypes);
    case Watching:
    case Favourites:
        return EnterHome();
    case AddressList:
        if (m_nBranch == 0) {
            m_nState = VideoList;
            return Stay(SlotVideos);
        }
        // The film-star branch climbs to the star's videos, for Back as for stepping back, instead of leaving the
        // screen empty with the state unchanged.
        if (m_nBranch == 1) {
            m_nState = StarVideos;
            return Stay(SlotStarVideos);
        }
        return nullptr;
    case StarVideos:
        SetState(StarList);
        return Stay(SlotStars);
    default:
        return nullptr;
    }
}
