#include "ItemListSet.h"

#include <utility>

#include <QCoreApplication>
#include <QFileInfo>

#include "catalogue/CatalogueQueries.h"
#include "catalogue/ItemLists.h"
#include "catalogue/LocalMovieList.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "tv/film/LocalPlayer.h"

namespace
{

// The home screen: one row per branch, on the row of the digit that enters it (digit 2 has no branch).
class CHomeList : public CItemBase
{
public:
    void Load(int) override
    {
        if (HasRows())
            return;
        for (const char* name : { "在线视频", "电影明星", "", "本地电影" })
            AppendRow({ QString::fromUtf8(name), 0, 0, 0 });
    }
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

CItemListSet::CItemListSet() = default;
CItemListSet::~CItemListSet() = default;

int CItemListSet::ScrollOffsetOf(int value)
{
    return (value < 0 || value > 99999) ? 0 : value;
}

CItemBase* CItemListSet::Enter(Slot slot, int key, int state)
{
    if (!m_lists[slot])
        m_lists[slot] = makeList(slot);
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
        return EnterHome();
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
    return Enter(to, list->IdAt(digit), state);
}

CItemBase* CItemListSet::EnterHome()
{
    return Enter(SlotHome, 0, Home);
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
    m_nState = Playing;
    m_nSentFrom = -1;
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
    return nullptr;
}

CItemBase* CItemListSet::LeaveSent()
{
    m_nState = m_nSentFrom;
    m_nSentFrom = -1;
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
