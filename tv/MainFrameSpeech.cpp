// The TV window's spoken menus: each key cuts off what was being said, and what it changed is said, from the menu as
// it was before the key and as it is after; what plays says itself (its start, pause, position, end, and the lines
// the TV shows).
#include "MainFrame.h"

#include <algorithm>

#include "common/RemoteCommand.h"
#include "tv/film/LocalPlayer.h"
#include "tv/speech/Speaker.h"
#include "tv/web/WebVideoView.h"

void CMainFrame::SpeakBefore(int command)
{
    CSpeaker* speaker = CSpeaker::Instance();
    if (!speaker)
        return;
    speaker->Interrupt();
    m_bSayPause = false;
    m_bKeyAnswered = m_bAskedStillWatching;
    m_bKeyOverPlayback = FilmPlays() || VideoShown();
    m_narrator.Before(m_menu, command);
}

void CMainFrame::SpeakAfter(int command)
{
    if (!CSpeaker::Instance() || m_bKeyAnswered)
        return;
    const bool film = FilmPlays(), video = VideoShown();
    if (!m_bKeyOverPlayback || (!film && !video)) {
        // Over the menu, or back to it from a film (a web video that is left changes the menu's state).
        const QStringList said = m_bKeyOverPlayback && !m_menu.ListSet().IsPlaying()
            ? m_narrator.Current(m_menu)
            : m_narrator.After(m_menu, command);
        for (const QString& text : said)
            Speak(text);
        return;
    }
    switch (command) {
    case RC_PlayPause:
    case RC_Ok:
        if (film)
            Speak(m_pPlayer->IsPaused() ? QStringLiteral("暂停") : QStringLiteral("继续播放"));
        else
            m_bSayPause = true; // once the page's player answered
        break;
    case RC_Left:
    case RC_Right:
    case RC_NextPage:
    case RC_PreviousPage:
    case RC_Digit0:
        if (film) {
            // Where the seek lands (the player takes it a moment later).
            const int step = command == RC_Left ? -10 : command == RC_Right ? 10 : command == RC_NextPage ? 30 : -30;
            const double to = command == RC_Digit0 ? 0.0 : m_pPlayer->Position() + step;
            const double length = m_pPlayer->Duration();
            Speak(Spoken::Position(std::clamp(to, 0.0, length > 0 ? length : std::max(to, 0.0))));
        } else if (command == RC_Left || command == RC_Right) {
            Speak(command == RC_Left ? QStringLiteral("后退 10 秒") : QStringLiteral("前进 10 秒"));
        }
        break;
    default:
        break;
    }
}
