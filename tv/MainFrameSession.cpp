// The TV window as the desktop's media session (the media controls' player): what plays, and the controls' play,
// pause, seek and volume on it.
#include "MainFrame.h"

#include <algorithm>
#include <cmath>

#include <QCoreApplication>
#include <QFileInfo>

#include "AudioRouter.h"
#include "ResumePositions.h"
#include "common/AppMessages.h"
#include "common/RemoteCommand.h"
#include "tv/film/LocalPlayer.h"
#include "tv/web/WebVideoView.h"

IMediaSession::Status CMainFrame::PlaybackStatus() const
{
    if (FilmPlays())
        return m_pPlayer->IsPaused() ? Status::Paused : Status::Playing;
    if (VideoShown())
        return m_pView->IsPaused() ? Status::Paused : Status::Playing;
    return Status::Stopped;
}

QString CMainFrame::Title() const
{
    if (FilmPlays())
        return QFileInfo(m_strFilm).completeBaseName();
    const QString name = m_menu.ListSet().PlayingName();
    return name.isEmpty() ? m_strAddress : name;
}

namespace
{

// Seconds as a player reports them (possibly NaN, or beyond any film) in microseconds, within what a film can be.
qint64 ToUs(double seconds)
{
    return std::isfinite(seconds) ? static_cast<qint64>(std::clamp(seconds, 0.0, CResumePositions::kMaxSeconds) * 1e6)
                                  : 0;
}

} // namespace

qint64 CMainFrame::LengthUs() const
{
    return FilmPlays() ? ToUs(m_pPlayer->Duration()) : 0;
}

qint64 CMainFrame::PositionUs() const
{
    return FilmPlays() ? ToUs(m_pPlayer->Position()) : 0;
}

void CMainFrame::SetPaused(bool paused)
{
    if (FilmPlays())
        m_pPlayer->SetPaused(paused);
    else if (VideoShown() && m_pView->IsPaused() != paused)
        TogglePause();
    emit menuChanged();
}

void CMainFrame::TogglePause()
{
    m_pView->TogglePause([this] {
        if (m_bClosing)
            return;
        if (std::exchange(m_bSayPause, false))
            Speak(m_pView->IsPaused() ? QStringLiteral("暂停") : QStringLiteral("继续播放"));
        emit menuChanged();
        emit pauseAnswered();
    });
}

void CMainFrame::StopPlayback()
{
    // As the remote's key that leaves a video.
    if (PlaybackStatus() != Status::Stopped)
        QCoreApplication::postEvent(this, new CAppEvent(WM_REMOTE_COMMAND, RC_LeaveVideo, 0));
}

void CMainFrame::SeekByUs(qint64 offset)
{
    if (FilmPlays())
        m_pPlayer->SeekTo(std::max(0.0, m_pPlayer->Position() + offset / 1e6));
    else if (VideoShown())
        m_pView->Seek(offset / 1e6, true);
}

void CMainFrame::SeekToUs(qint64 position)
{
    if (FilmPlays())
        m_pPlayer->SeekTo(position / 1e6);
    else if (VideoShown())
        m_pView->Seek(position / 1e6, false);
}

double CMainFrame::Volume() const
{
    const CAudioRouter* router = CAudioRouter::Instance();
    return router ? router->StreamVolume() : 1.0;
}

void CMainFrame::SetVolume(double volume)
{
    if (CAudioRouter* router = CAudioRouter::Instance())
        router->SetStreamVolume(volume);
}
