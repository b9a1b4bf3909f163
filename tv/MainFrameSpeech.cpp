// The TV window's spoken menus: each key cuts off what was being said, and what it changed is said, from the menu as
// it was before the key and as it is after; what plays says itself where it acts (its start, pause, position, end,
// and the lines the TV shows).
#include "MainFrame.h"

#include "tv/speech/Speaker.h"

void CMainFrame::SpeakBefore(int command)
{
    m_bSayPause = false; // (set again by a play/pause key over a web video)
    CSpeaker* speaker = CSpeaker::Instance();
    if (!speaker)
        return;
    speaker->Interrupt();
    m_bKeyAnswered = m_bAskedStillWatching;
    m_bKeyOverPlayback = FilmPlays() || VideoShown();
    m_narrator.Before(m_menu, command);
}

void CMainFrame::SpeakAfter(int command)
{
    if (!CSpeaker::Instance() || m_bKeyAnswered)
        return;
    // Over a film or a web video the key said what it did where it acted.
    if (m_bKeyOverPlayback && (FilmPlays() || VideoShown()))
        return;
    // Over the menu, or back to it from what played.
    const QStringList said = m_bKeyOverPlayback && !m_menu.ListSet().IsPlaying() ? m_narrator.Current(m_menu)
                                                                                 : m_narrator.After(m_menu, command);
    for (const QString& text : said)
        Speak(text);
}
