#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QSet>

#include <gtest/gtest.h>

#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "catalogue/ItemBase.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "support/CatalogueFixture.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/ScreenMenu.h"

namespace
{

// Receives the WM_PLAY_URL events the navigation posts.
class PlayRecorder : public QObject
{
public:
    QStringList urls;
    QStringList files;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == eventType(WM_PLAY_URL)) {
            urls << static_cast<CPlayUrlEvent*>(e)->url();
            return true;
        }
        if (e->type() == eventType(WM_PLAY_FILE)) {
            files << static_cast<CPlayFileEvent*>(e)->path();
            return true;
        }
        return QObject::event(e);
    }
};

// A catalogue of 12 types; type 3 holds 25 videos (video 500+i with scroll offsets), video 507 has 12 addresses;
// two stars; one local movie folder.
class Navigation : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WriteNumberedTypesAndVideos(machine.appDir(), { 250, -5, 100000, 99999 }));
        QString sql
            = QStringLiteral("CREATE TABLE tb_videogroup_list (id INTEGER, videoname TEXT);"
                             "INSERT INTO tb_videogroup_list VALUES (507, '视频7'), (600, '明星片');"
                             "CREATE TABLE tb_video_addr_list (id INTEGER, videoid INTEGER, name TEXT, url TEXT);"
                             "CREATE TABLE tb_star_list (starid INTEGER, starname TEXT, pos INTEGER);"
                             "INSERT INTO tb_star_list VALUES (1, '甲', 2), (2, '乙', 1);"
                             "CREATE TABLE tb_star_video_list (starid INTEGER, videoid INTEGER);"
                             "INSERT INTO tb_star_video_list VALUES (2, 600);");
        for (int i = 0; i < 12; ++i)
            sql += QStringLiteral("INSERT INTO tb_video_addr_list VALUES (%1, 507, '第%2集', 'http://v/507/%2');")
                       .arg(100 - i)
                       .arg(12 - i);
        sql += QStringLiteral("INSERT INTO tb_video_addr_list VALUES (900, 600, 'star ep', 'http://v/600');");
        ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword), sql));
        ASSERT_TRUE(OpenCatalogue());
        WriteFile(machine.root() + QStringLiteral("/movies/a.mkv"), "x");
        WriteFile(machine.root() + QStringLiteral("/movies/notes.txt"), "x");
        WriteSetting(QString::fromLatin1(SettingKey::LocalMovieFolders), machine.root() + QStringLiteral("/movies"));
        g_nScrollY = 0;
    }
    void TearDown() override { g_dbCatalogue.Close(); }

    void press(CScreenMenu& menu, int command)
    {
        menu.OnCommand(command);
        QCoreApplication::processEvents();
    }
    QString firstName(const CScreenMenu& menu) const
    {
        int first = 0, end = 0;
        menu.CurrentList()->VisibleRange(first, end);
        return end > first ? menu.CurrentList()->RowAt(first).name : QString();
    }

    TempMachine machine;
    PlayRecorder window;
};

} // namespace

TEST_F(Navigation, TypesVideosAddressesPlayAndBack)
{
    CScreenMenu menu;
    menu.SetWindow(&window);
    // The screen starts on the online video types, page 1.
    ASSERT_NE(menu.CurrentList(), nullptr);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoTypes);
    EXPECT_EQ(menu.CurrentList()->PageNumber(), 1);

    press(menu, RC_Digit2); // type 3
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoList);
    press(menu, RC_NextPage);
    press(menu, RC_NextPage);
    press(menu, RC_NextPage); // the last page stays
    EXPECT_EQ(menu.CurrentList()->PageNumber(), 3);
    press(menu, RC_Digit5); // only 5 rows here: nothing
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoList);
    press(menu, RC_PreviousPage); // back one page, same list
    press(menu, RC_PreviousPage);
    EXPECT_EQ(menu.CurrentList()->PageIndex(), 0);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoList);

    press(menu, RC_Digit7); // video 507, offset 99999 (7 % 4 == 3)
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::AddressList);
    EXPECT_EQ(g_nScrollY, 99999);
    EXPECT_EQ(firstName(menu), QStringLiteral("第1集")); // by id
    press(menu, RC_NextPage);
    press(menu, RC_Digit1); // 第12集
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::Playing);
    EXPECT_EQ(menu.CurrentList(), nullptr);
    EXPECT_EQ(window.urls, QStringList { QStringLiteral("http://v/507/12") });

    // A digit while playing returns to the addresses without a new page.
    press(menu, RC_Digit0);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::AddressList);
    EXPECT_EQ(window.urls.size(), 1);
    press(menu, RC_Digit0);
    EXPECT_EQ(window.urls.size(), 2);
    press(menu, RC_LeaveVideo); // back to the page of addresses shown
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::AddressList);
    EXPECT_EQ(menu.CurrentList()->PageIndex(), 1);
    press(menu, RC_LeaveVideo); // not playing: nothing
    EXPECT_EQ(menu.CurrentList()->PageIndex(), 1);
    press(menu, RC_PreviousPage);
    press(menu, RC_PreviousPage); // page 1: climb to the videos
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoList);

    // Offsets outside 0..99999 give 0.
    press(menu, RC_Digit1); // -5
    EXPECT_EQ(g_nScrollY, 0);
    press(menu, RC_Back);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoList);
    press(menu, RC_Digit0); // 250
    EXPECT_EQ(g_nScrollY, 250);
    press(menu, RC_Back);
    press(menu, RC_Digit2); // 100000
    EXPECT_EQ(g_nScrollY, 0);
}

// Arrows and OK alone walk the menu to the same lists, pages and episode as digits and CH+/CH-: Down past a page's
// last row goes to the next page's first, Up before the first row to the previous page's last, Left and Right page
// (Left on the first page goes up a level); the highlight shows only once an arrow was pressed in a list.
TEST_F(Navigation, ArrowsAndOkWalkAsDigitsDo)
{
    const auto drawn = [](const CScreenMenu& menu) {
        QImage img(QSize(960, 540), QImage::Format_RGB32);
        img.fill(QColor(127, 127, 127));
        QPainter p(&img);
        CScreenMenu::DrawPage(p, img.rect(), QString(), menu.CurrentList(), QColor(255, 255, 255), menu.Highlight());
        return img;
    };
    CScreenMenu digits, arrows;
    digits.SetWindow(&window);
    arrows.SetWindow(&window);
    const QImage plain = drawn(arrows);
    press(arrows, RC_Down); // the highlight appears on row 0, without moving
    EXPECT_EQ(arrows.Highlight(), 0);
    EXPECT_NE(drawn(arrows), plain);
    // One walk, two ways: each pair of steps must leave both menus on the same list, drawn alike.
    const struct {
        std::vector<int> byDigits, byArrows;
        int state;
    } walk[] = {
        { { RC_Digit2 }, { RC_Down, RC_Down, RC_Ok }, CItemListSet::VideoList }, // type 3
        { { RC_NextPage, RC_NextPage }, { RC_Right, RC_Right }, CItemListSet::VideoList },
        { { RC_PreviousPage, RC_PreviousPage }, { RC_Left, RC_Left }, CItemListSet::VideoList },
        // Down eleven times from nothing: the highlight appears, walks the nine rows below and on to the next
        // page's first; Up goes back to this page's last and on up, and OK chooses the row as its digit.
        { { RC_Digit7 },
          { RC_Down, RC_Down, RC_Down, RC_Down, RC_Down, RC_Down, RC_Down, RC_Down, RC_Down, RC_Down, RC_Down, RC_Up,
            RC_Up, RC_Up, RC_Ok },
          CItemListSet::AddressList },
    };
    for (const auto& step : walk) {
        for (int c : step.byDigits)
            press(digits, c);
        for (int c : step.byArrows)
            press(arrows, c);
        EXPECT_EQ(arrows.ListSet().State(), step.state);
        EXPECT_EQ(digits.ListSet().State(), step.state);
        EXPECT_EQ(arrows.CurrentList()->PageIndex(), digits.CurrentList()->PageIndex());
        EXPECT_EQ(arrows.Highlight(), -1) << "a new list starts without the highlight";
        EXPECT_EQ(drawn(arrows), drawn(digits));
    }
    // The episode: OK on the highlighted row plays what its digit plays.
    press(digits, RC_Digit3);
    press(arrows, RC_Down);
    for (int i = 0; i < 3; ++i)
        press(arrows, RC_Down);
    press(arrows, RC_Ok);
    ASSERT_EQ(window.urls.size(), 2);
    EXPECT_EQ(window.urls[0], window.urls[1]);
    // Left on a list's first page climbs, as CH- does.
    press(digits, RC_LeaveVideo);
    press(arrows, RC_LeaveVideo);
    press(digits, RC_PreviousPage);
    press(arrows, RC_Left);
    EXPECT_EQ(arrows.ListSet().State(), CItemListSet::VideoList);
    EXPECT_EQ(digits.ListSet().State(), CItemListSet::VideoList);
}

// The highlight always sits on a row of the page shown and OK acts on that row: walking the 25 videos of type 3
// (pages of 10, 10 and 5) down and back up, checked at every step; paging to the shorter last page; opening a
// folder with fewer entries than the highlighted row.
TEST_F(Navigation, TheHighlightStaysOnARowOfThePageShown)
{
    CScreenMenu menu;
    menu.SetWindow(&window);
    press(menu, RC_Digit2);
    const auto at = [&] { return std::make_pair(menu.CurrentList()->PageIndex(), menu.Highlight()); };
    // Down: the highlight appears on video 0, walks to video 24 and stays there.
    for (int step = 0; step <= 25; ++step) {
        press(menu, RC_Down);
        const int video = std::min(step, 24);
        EXPECT_EQ(at(), std::make_pair(video / 10, video % 10)) << "Down, step " << step;
    }
    // Up: back to video 0, and it stays there.
    for (int step = 1; step <= 25; ++step) {
        press(menu, RC_Up);
        const int video = std::max(24 - step, 0);
        EXPECT_EQ(at(), std::make_pair(video / 10, video % 10)) << "Up, step " << step;
    }
    // Row 7 of the first page, then the last page of five rows: the highlight on its last row, and OK chooses it.
    for (int i = 0; i < 7; ++i)
        press(menu, RC_Down);
    EXPECT_EQ(at(), std::make_pair(0, 7));
    press(menu, RC_Right);
    EXPECT_EQ(at(), std::make_pair(1, 7));
    press(menu, RC_NextPage);
    EXPECT_EQ(at(), std::make_pair(2, 4));
    press(menu, RC_Ok);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::AddressList);

    // The third of three folders, which holds one film: the highlight on it once opened, and OK plays it.
    const QString movies = machine.root() + QStringLiteral("/movies");
    WriteFile(machine.root() + QStringLiteral("/third/c.mkv"), "x");
    WriteSetting(QString::fromLatin1(SettingKey::LocalMovieFolders),
                 movies + QLatin1Char(';') + movies + QStringLiteral(";") + machine.root() + QStringLiteral("/third"));
    CScreenMenu local;
    local.SetWindow(&window);
    press(local, RC_Back);
    press(local, RC_Digit3);
    for (int i = 0; i < 3; ++i)
        press(local, RC_Down);
    ASSERT_EQ(local.Highlight(), 2);
    press(local, RC_Ok);
    ASSERT_EQ(local.CurrentList()->RowCount(), 1);
    EXPECT_EQ(local.Highlight(), 0);
    press(local, RC_Ok);
    EXPECT_EQ(window.files, QStringList { machine.root() + QStringLiteral("/third/c.mkv") });
}

// A page sent from a phone plays as a chosen episode does: the menu is in its playing state, and each way out
// leads where it leads from an episode, from the list the page was sent over.
TEST_F(Navigation, APageSentOverAListPlaysAsAnEpisode)
{
    struct Case {
        const char* what;
        int key;
        int state; // after the key
        bool sameList; // the list shown before the page came
    } cases[] = {
        { "LeaveVideo", RC_LeaveVideo, CItemListSet::VideoList, true },
        { "a digit", RC_Digit4, CItemListSet::VideoList, true },
        { "Back", RC_Back, CItemListSet::VideoTypes, false },
    };
    // One page sent, and a second one sent over the first: each way out leads from the list beneath both.
    for (int sent : { 1, 2 })
        for (const Case& c : cases) {
            CScreenMenu menu;
            menu.SetWindow(&window);
            press(menu, RC_Digit2);
            press(menu, RC_NextPage);
            CItemBase* shown = menu.CurrentList();
            for (int i = 0; i < sent; ++i)
                menu.PlaySent();
            EXPECT_TRUE(menu.ListSet().IsPlaying()) << c.what << ", pages sent: " << sent;
            EXPECT_EQ(menu.CurrentList(), nullptr) << c.what << ", pages sent: " << sent;
            press(menu, c.key);
            EXPECT_EQ(menu.ListSet().State(), c.state) << c.what << ", pages sent: " << sent;
            EXPECT_EQ(menu.CurrentList() == shown, c.sameList) << c.what << ", pages sent: " << sent;
            if (c.sameList) {
                EXPECT_EQ(menu.CurrentList()->PageIndex(), 1) << c.what << ", pages sent: " << sent;
            }
        }
    EXPECT_TRUE(window.urls.isEmpty()); // the sent page's address travels apart from the menu

    // Sent over a playing episode, it leaves to that episode's addresses.
    CScreenMenu menu;
    menu.SetWindow(&window);
    for (int key : { RC_Digit2, RC_Digit7, RC_Digit0 })
        press(menu, key);
    ASSERT_TRUE(menu.ListSet().IsPlaying());
    menu.PlaySent();
    press(menu, RC_LeaveVideo);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::AddressList);
    EXPECT_EQ(firstName(menu), QStringLiteral("第1集"));
}

// "继续观看" at Home 2: nothing until something was played; then newest first, each with where it was left. A digit
// resumes an episode from its own address list (with its video's scroll offset; leaving it comes back here, Back goes
// Home) and a film over the list; kept across runs; what was watched to its end and a film deleted are left out.
TEST_F(Navigation, ContinueWatchingAtHomeTwo)
{
    CScreenMenu menu;
    menu.SetWindow(&window);
    press(menu, RC_Back);
    ASSERT_EQ(menu.ListSet().State(), CItemListSet::Home);
    EXPECT_EQ(menu.CurrentList()->RowAt(2).name, QString());
    press(menu, RC_Digit2);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::Home) << "an empty 继续观看 was entered";

    for (int key : { RC_Digit0, RC_Digit2, RC_Digit7, RC_Digit2 }) // type 3, 视频7, 第3集
        press(menu, key);
    ASSERT_EQ(window.urls.size(), 1);
    const QString episode = window.urls.last();
    menu.ListSet().WatchingList().Left(episode, 2530, 3000);
    const QString film = machine.root() + QStringLiteral("/movies/a.mkv");
    for (int key : { RC_LeaveVideo, RC_Back, RC_Back, RC_Back, RC_Back, RC_Digit3, RC_Digit0 })
        press(menu, key);
    ASSERT_EQ(menu.ListSet().State(), CItemListSet::LocalMovies);
    press(menu, RC_Digit0 + (firstName(menu) == QLatin1String("a.mkv") ? 0 : 1));
    ASSERT_EQ(window.files, QStringList { film });
    menu.ListSet().WatchingList().Left(film, 100, 0);

    const auto rows = [](const CScreenMenu& m) {
        QStringList names;
        for (int i = 0; i < m.CurrentList()->RowCount(); ++i)
            names << m.CurrentList()->RowAt(i).name;
        return names;
    };
    CScreenMenu later; // another run
    later.SetWindow(&window);
    press(later, RC_Back);
    EXPECT_EQ(later.CurrentList()->RowAt(2).name, QStringLiteral("继续观看"));
    press(later, RC_Digit2);
    ASSERT_EQ(later.ListSet().State(), CItemListSet::Watching);
    EXPECT_EQ(rows(later), QStringList({ QStringLiteral("本地: a.mkv  01:40"), QStringLiteral("视频7 第3集  42:10") }));
    g_nScrollY = 0;
    press(later, RC_Digit1);
    EXPECT_EQ(window.urls.value(1), episode);
    EXPECT_EQ(g_nScrollY, 99999);
    EXPECT_TRUE(later.ListSet().IsPlaying());
    EXPECT_EQ(later.ListSet().PlayingName(), QStringLiteral("第3集"));
    press(later, RC_LeaveVideo);
    EXPECT_EQ(later.ListSet().State(), CItemListSet::Watching);
    EXPECT_EQ(rows(later).value(0), QStringLiteral("视频7 第3集  42:10")) << "the episode played last is first";
    press(later, RC_Digit1);
    EXPECT_EQ(window.files.value(1), film);
    EXPECT_EQ(later.ListSet().State(), CItemListSet::Watching);
    press(later, RC_Back);
    EXPECT_EQ(later.ListSet().State(), CItemListSet::Home);

    // Watched to its end, deleted: gone, and with them the row at Home.
    later.ListSet().WatchingList().Left(episode, 2990, 3000);
    ASSERT_TRUE(QFile::remove(film));
    press(later, RC_Back);
    EXPECT_EQ(later.CurrentList()->RowAt(2).name, QString());
    press(later, RC_Digit2);
    EXPECT_EQ(later.ListSet().State(), CItemListSet::Home);
}

TEST_F(Navigation, BackNeverPagesAndReloadShowsFirstPage)
{
    CScreenMenu menu;
    menu.SetWindow(&window);
    press(menu, RC_NextPage); // types page 2
    press(menu, RC_PreviousPage);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoTypes);
    press(menu, RC_Digit2);
    press(menu, RC_NextPage);
    press(menu, RC_NextPage);
    press(menu, RC_Back); // straight up, whatever the page
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoTypes);
    press(menu, RC_Digit2); // the same type again: reread, first page
    EXPECT_EQ(menu.CurrentList()->PageIndex(), 0);
    press(menu, RC_Digit7);
    press(menu, RC_NextPage);
    press(menu, RC_Back);
    press(menu, RC_Digit7); // the addresses start again on their first page
    EXPECT_EQ(menu.CurrentList()->PageIndex(), 0);
    // Unnamed commands and Power do nothing.
    CItemBase* before = menu.CurrentList();
    press(menu, 30);
    press(menu, RC_Power);
    EXPECT_EQ(menu.CurrentList(), before);
}

TEST_F(Navigation, HomeStarsAndLocalMovies)
{
    CScreenMenu menu;
    menu.SetWindow(&window);
    press(menu, RC_Digit2);
    press(menu, RC_Digit0); // offset 250 chosen in the online branch
    EXPECT_EQ(g_nScrollY, 250);
    press(menu, RC_Back);
    press(menu, RC_Back);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoTypes);
    // From the types the home screen is one level up; it names its branches on the rows of their digits.
    press(menu, RC_Back);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::Home);
    ASSERT_NE(menu.CurrentList(), nullptr);
    press(menu, RC_Digit5); // no branch, but the branch is set
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::Home);
    EXPECT_EQ(menu.ListSet().Branch(), 5);

    press(menu, RC_Digit1);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::StarList);
    EXPECT_EQ(firstName(menu), QStringLiteral("乙")); // by pos
    press(menu, RC_Digit0);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::StarVideos);
    press(menu, RC_Digit0);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::AddressList);
    EXPECT_EQ(g_nScrollY, 250); // kept from the last online video choice
    press(menu, RC_Digit0);
    EXPECT_EQ(window.urls.back(), QStringLiteral("http://v/600"));
    press(menu, RC_LeaveVideo2);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::AddressList);
    press(menu, RC_PreviousPage);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::StarVideos);
    press(menu, RC_Digit0);
    press(menu, RC_Back); // the star branch climbs to the star's videos
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::StarVideos);
    press(menu, RC_Back);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::StarList);
    press(menu, RC_Back);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::Home);

    press(menu, RC_Digit3);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::LocalMovies);
    EXPECT_EQ(menu.CurrentList()->RowCount(), 1);
    press(menu, RC_Digit0);
    ASSERT_EQ(menu.CurrentList()->RowCount(), 2);
    const int film = firstName(menu) == QStringLiteral("a.mkv") ? 0 : 1;
    // A film is played over the listing, which stays; another file does nothing.
    press(menu, RC_Digit0 + film);
    EXPECT_EQ(window.files, QStringList { machine.root() + QStringLiteral("/movies/a.mkv") });
    press(menu, RC_Digit0 + 1 - film);
    EXPECT_EQ(window.files.size(), 1);
    EXPECT_EQ(menu.CurrentList()->RowCount(), 2);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::LocalMovies);
    press(menu, RC_PreviousPage);
    EXPECT_EQ(menu.ListSet().State(), CItemListSet::VideoTypes);
}

// Every route through the menu: each reachable screen shows a list (or a playing video), and Back keeps leading
// towards the home screen from it, whatever way led there (through another branch first, say).
TEST_F(Navigation, EveryRouteLeavesAWayBack)
{
    // A listing with files and a sub-folder, more rows than the folders' list has.
    WriteFile(machine.root() + QStringLiteral("/movies/sub/b.mkv"), "x");
    WriteFile(machine.root() + QStringLiteral("/movies/z.mkv"), "x");
    const std::vector<int> keys = { RC_Digit0, RC_Digit1,       RC_Digit2,   RC_Digit3,    RC_Digit7,
                                    RC_Back,   RC_PreviousPage, RC_NextPage, RC_LeaveVideo };
    auto replay = [&](CScreenMenu& menu, const std::vector<int>& route) {
        menu.SetWindow(&window);
        for (int key : route)
            menu.OnCommand(key);
    };
    // Where a route leads: the screen, and the listing the local movies slot keeps while another screen shows.
    auto where = [](const CScreenMenu& menu) {
        const CItemBase* list = menu.CurrentList();
        const CItemBase* local = menu.ListSet().List(CItemListSet::SlotLocal);
        return QStringLiteral("%1/%2/%3/%4/%5")
            .arg(menu.ListSet().State())
            .arg(menu.ListSet().Branch())
            .arg(list ? list->RowCount() : -1)
            .arg(list ? list->PageIndex() : -1)
            .arg(local && local->RowCount() > 0 ? local->RowAt(0).name : QString());
    };
    auto text = [](const std::vector<int>& route) {
        QStringList names;
        for (int key : route)
            names << QString::number(key);
        return names.join(QLatin1Char(' ')).toStdString();
    };

    QSet<QString> seen;
    QSet<int> states;
    std::vector<std::vector<int>> queue { {} };
    for (std::size_t next = 0; next < queue.size(); ++next) {
        const std::vector<int> route = queue[next];
        CScreenMenu menu;
        replay(menu, route);
        if (seen.contains(where(menu)))
            continue;
        seen.insert(where(menu));
        states.insert(menu.ListSet().State());
        if (!menu.ListSet().IsPlaying()) {
            EXPECT_NE(menu.CurrentList(), nullptr) << "grey screen after keys " << text(route);
        }
        CScreenMenu climber;
        replay(climber, route);
        for (int i = 0; i < 8 && climber.ListSet().State() != CItemListSet::Home; ++i)
            climber.OnCommand(RC_Back);
        EXPECT_EQ(climber.ListSet().State(), CItemListSet::Home) << "no way back after keys " << text(route);
        for (int key : keys) {
            queue.push_back(route);
            queue.back().push_back(key);
        }
        // From Home, 3 本地电影 always shows the configured folders, whatever listing was shown before.
        if (menu.ListSet().State() == CItemListSet::Home) {
            menu.OnCommand(RC_Digit3);
            ASSERT_NE(menu.CurrentList(), nullptr);
            EXPECT_EQ(menu.CurrentList()->RowCount(), 1) << "本地电影 after keys " << text(route);
            EXPECT_EQ(firstName(menu), machine.root() + QStringLiteral("/movies")) << text(route);
        }
    }
    // The walk reached every screen, not only the first one ("继续观看" once an episode was played).
    EXPECT_EQ(states,
              (QSet<int> { CItemListSet::Home, CItemListSet::VideoTypes, CItemListSet::VideoList,
                           CItemListSet::AddressList, CItemListSet::StarList, CItemListSet::StarVideos,
                           CItemListSet::Playing, CItemListSet::LocalMovies, CItemListSet::Watching }));
    window.urls.clear();
}

// Drawing, offscreen: the grid lines at the computed rows, the page line only with more than one page.
namespace
{

class RowsList : public CItemBase
{
public:
    explicit RowsList(int n)
        : m_n(n)
    {
    }
    void Load(int) override
    {
        ClearRows();
        for (int i = 0; i < m_n; ++i)
            AppendRow({ QStringLiteral("第%1行").arg(i), i, 0, 0 });
    }

private:
    int m_n;
};

bool isWhite(const QImage& img, int x, int y)
{
    return img.pixel(x, y) == qRgb(255, 255, 255);
}

// White pixels of a horizontal line near y (the 2-pixel pen covers y-1..y or y..y+1).
bool whiteRowNear(const QImage& img, int x, int y)
{
    return isWhite(img, x, y) || isWhite(img, x, y - 1) || isWhite(img, x, y + 1);
}

int whiteRowsInColumn(const QImage& img, int x)
{
    int rows = 0;
    for (int y = 0; y < img.height(); ++y)
        if (isWhite(img, x, y) && !isWhite(img, x, y - 1 < 0 ? 0 : y - 1))
            ++rows;
    return rows;
}

bool anyDarkIn(const QImage& img, const QRect& r)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (qGray(img.pixel(x, y)) < 60)
                return true;
    return false;
}

// Whether the cell of img shows exactly text, as the menu font draws it alone in a cell of that size (aligned by
// flags, black on the menu's grey); the cell's edges, where the grid's lines run, are left out.
bool cellShows(const QImage& img, const QRect& cell, int flags, const QString& text)
{
    QImage reference(cell.size(), QImage::Format_RGB32);
    reference.fill(QColor(127, 127, 127));
    QPainter p(&reference);
    p.setFont(CScreenMenu::MenuFont());
    p.setPen(Qt::black);
    p.drawText(QRect(QPoint(0, 0), cell.size()), flags | Qt::TextSingleLine, text);
    p.end();
    const QRect inner = QRect(QPoint(0, 0), cell.size()).adjusted(4, 5, -4, -2);
    return img.copy(cell).copy(inner) == reference.copy(inner);
}

QImage render(const CItemBase* list, QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(127, 127, 127));
    QPainter p(&img);
    p.setFont(CScreenMenu::MenuFont());
    CScreenMenu::DrawPage(p, QRect(QPoint(0, 0), size), QStringLiteral("用遥控器数字键0-9进行选择:"), list,
                          QColor(255, 255, 255));
    return img;
}

class DrawMenu : public ::testing::TestWithParam<QSize>
{
};

} // namespace

// The menu font's height is its cell's, ascent and descent: 60 pixels (to the pixel below, as em sizes go), with
// the CJK face installed here, whose cell is about 1.45 ems.
TEST(MenuFont, CellIsSixtyPixelsHigh)
{
    const QFontMetrics metrics(CScreenMenu::MenuFont());
    EXPECT_LE(metrics.height(), 60);
    EXPECT_GE(metrics.height(), 58);
    EXPECT_TRUE(metrics.inFont(QChar(0x7528))) << "no CJK face for the menu"; // 用
}

TEST_P(DrawMenu, GridRowsAndPageLine)
{
    const QSize size = GetParam();
    const int W = size.width();
    const int h = size.height() / 12;
    const int xMid = W / 2;

    // No list: only the background.
    const QImage nothing = render(nullptr, size);
    EXPECT_FALSE(anyDarkIn(nothing, nothing.rect()));
    EXPECT_EQ(whiteRowsInColumn(nothing, xMid), 0);

    // Empty list: the title and one line under it, no page line.
    RowsList empty(0);
    empty.Load(0);
    QImage img = render(&empty, size);
    EXPECT_TRUE(whiteRowNear(img, xMid, h + 2));
    EXPECT_EQ(whiteRowsInColumn(img, xMid), 1);
    EXPECT_TRUE(anyDarkIn(img, QRect(0, 0, W, h)));
    EXPECT_FALSE(anyDarkIn(img, QRect(0, h + 4, W, size.height() - h - 4)));

    // Ten rows: 11 lines at h + 2 + i * h, three vertical lines, no page line.
    RowsList ten(10);
    ten.Load(0);
    img = render(&ten, size);
    EXPECT_EQ(whiteRowsInColumn(img, xMid), 11);
    for (int i = 0; i <= 10; ++i)
        EXPECT_TRUE(whiteRowNear(img, xMid, h + 2 + i * h)) << i;
    for (int x : { 1, 100, W - 1 - 1 })
        EXPECT_TRUE(isWhite(img, x, h + 2 + h / 2) || isWhite(img, x + 1, h + 2 + h / 2)) << x;
    EXPECT_FALSE(anyDarkIn(img, QRect(0, 11 * h + 4, W, h - 8)));
    // The title over the whole width, each row's number centred in its cell and its name after it.
    const QString title = QStringLiteral("用遥控器数字键0-9进行选择:");
    EXPECT_TRUE(cellShows(img, QRect(0, 0, W, h), Qt::AlignCenter, title));
    const auto rowsShow = [&](const QImage& page, int rows, int firstName) {
        for (int i = 0; i < rows; ++i) {
            EXPECT_TRUE(cellShows(page, QRect(1, h + i * h, 99, h), Qt::AlignCenter, QString::number(i))) << i;
            EXPECT_TRUE(cellShows(page, QRect(112, h + i * h, W - 1 - 112, h), Qt::AlignLeft | Qt::AlignVCenter,
                                  QStringLiteral("第%1行").arg(firstName + i)))
                << i;
        }
    };
    rowsShow(img, 10, 0);

    // 25 rows: the page line under the rows; on the third page 5 rows and 6 lines.
    RowsList many(25);
    many.Load(0);
    img = render(&many, size);
    EXPECT_TRUE(
        cellShows(img, QRect(1, 11 * h, W - 2, h), Qt::AlignCenter, QStringLiteral("第1页/共3页<用CH键前后翻页>")));
    many.PageForward();
    many.PageForward();
    img = render(&many, size);
    EXPECT_EQ(whiteRowsInColumn(img, xMid), 6);
    rowsShow(img, 5, 20);
    EXPECT_TRUE(cellShows(img, QRect(1, 6 * h, W - 2, h), Qt::AlignCenter,
                          QStringLiteral("第3页/共3页<用CH键前后翻页>"))); // the page line follows the last row
    EXPECT_TRUE(cellShows(img, QRect(0, 0, W, h), Qt::AlignCenter, title));
    EXPECT_FALSE(anyDarkIn(img, QRect(0, 7 * h + 4, W, size.height() - 7 * h - 4)));

    // The home screen (one level above the first screen): its branches on the rows of their digits.
    CScreenMenu menu;
    menu.OnCommand(RC_Back);
    img = render(menu.CurrentList(), size);
    const char* branches[] = { "在线视频", "电影明星", "", "本地电影" };
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(cellShows(img, QRect(112, h + i * h, W - 1 - 112, h), Qt::AlignLeft | Qt::AlignVCenter,
                              QString::fromUtf8(branches[i])))
            << i;
    EXPECT_EQ(whiteRowsInColumn(img, xMid), 5);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DrawMenu, ::testing::Values(QSize(1920, 1080), QSize(1366, 768)),
    [](const ::testing::TestParamInfo<QSize>& info) {
        return QStringLiteral("%1x%2").arg(info.param.width()).arg(info.param.height()).toStdString();
    });
