// The TV window's films: the remote's keys over a film, a film started from the local movies, and where each was
// left.
#include "MainFrame.h"

#include <algorithm>

#include <QFileInfo>

#include "MediaPlugins.h"
#include "ResumePositions.h"
#include "common/Log.h"
#include "common/Memory.h"
#include "common/Paths.h"
#include "common/RemoteCommand.h"
#include "tv/film/LocalPlayer.h"

bool CMainFrame::OnFilmCommand(int command)
{
    switch (command) {
    case RC_Back:
    case RC_LeaveVideo:
    case RC_LeaveVideo2:
        // Back to the listing the film was chosen from, as it was.
        RememberFilmPosition();
        m_pPlayer->Stop();
        update();
        return true;
    case RC_NextPage:
        SeekFilm(30);
        return true;
    case RC_PreviousPage:
        SeekFilm(-30);
        return true;
    case RC_PlayPause:
    case RC_Ok:
        m_pPlayer->SetPaused(!m_pPlayer->IsPaused());
        Speak(m_pPlayer->IsPaused() ? QStringLiteral("暂停") : QStringLiteral("继续播放"));
        return true;
    case RC_Left:
        SeekFilm(-10);
        return true;
    case RC_Right:
        SeekFilm(10);
        return true;
    case RC_Up:
    case RC_Down:
        return true; // the listing beneath the film keeps its highlight
    case RC_Digit0:
        // From the beginning (a film resumed where it was left, or one to see again).
        m_pPlayer->SeekTo(0);
        Speak(Spoken::Position(0));
        return true;
    case RC_Subtitle:
        m_pPlayer->NextTrack(ILocalPlayer::Track::Subtitle);
        return true;
    case RC_AudioTrack:
        m_pPlayer->NextTrack(ILocalPlayer::Track::Audio);
        return true;
    default:
        // A digit would act on the listing hidden beneath the film (start another film, open a folder) unseen: it
        // does nothing while a film plays. Volume keys work as everywhere.
        return IsDigitCommand(command);
    }
}

void CMainFrame::SeekFilm(int seconds)
{
    // Where the seek lands is said from here: the player takes it a moment later.
    const double length = m_pPlayer->Duration();
    const double to = std::max(m_pPlayer->Position() + seconds, 0.0);
    m_pPlayer->Seek(seconds);
    Speak(Spoken::Position(length > 0 ? std::min(to, length) : to));
}

void CMainFrame::OnPlayFile(const QString& path)
{
    CancelCountdown();
    if (!m_pPlayer) {
        m_pPlayer = CreateLocalPlayer(this);
        if (!m_pPlayer)
            return;
        m_pPlayer->Widget()->setGeometry(rect());
        m_pPlayer->SetFinishedHandler([this](bool ok) {
            // Watched to its end: the next choice starts it from the beginning.
            if (ok)
                Finished(m_strFilm);
            // The player failed (a read error of a disk that went to sleep, a decoder that gave up): once it is
            // started again where it was; failing again, the listing comes back with a line on the TV.
            if (!ok && !std::exchange(m_bFilmRetried, true)) {
                qCWarning(lcTv).noquote() << "the film failed; starting it again:" << m_strFilm;
                if (m_pPlayer->Play(m_strFilm, m_pPlayer->Position()))
                    return;
            }
            if (!ok) {
                ShowNotice(QStringLiteral("影片无法播放，请重新选择"));
            } else {
                Speak(QStringLiteral("播放结束"));
                OnFilmEnded();
            }
            ReturnFreeMemorySoon();
            update();
            emit menuChanged();
        });
    }
    // A film replaced by another one is left where it was.
    RememberFilmPosition();
    m_strFilm = path;
    m_bFilmRetried = false;
    const double start = Resume().StartFor(path);
    if (!m_pPlayer->Play(path, start)) {
        qCWarning(lcTv).noquote() << "cannot play" << path;
        return;
    }
    Speak(QStringLiteral("播放 ") + Spoken::Name(QFileInfo(path).fileName()));
    if (start > 0)
        ShowNotice(QStringLiteral("从 %1 继续播放").arg(CResumePositions::FormatTime(start)));
}

CResumePositions& CMainFrame::Resume()
{
    if (!m_pResume)
        m_pResume = std::make_unique<CResumePositions>(Paths::StateDir() + QStringLiteral("resume.dat"));
    return *m_pResume;
}

void CMainFrame::RememberFilmPosition()
{
    if (FilmPlays() && !m_strFilm.isEmpty())
        LeftAt(m_strFilm, m_pPlayer->Position(), m_pPlayer->Duration());
}

void CMainFrame::LeftAt(const QString& key, double position, double duration)
{
    Resume().Remember(key, position, duration);
    m_menu.ListSet().Left(key, position, duration);
}

void CMainFrame::Finished(const QString& key)
{
    // Seen to its end: its next choice starts at the beginning, and "继续观看" lets it go.
    Resume().Forget(key);
    m_menu.ListSet().WatchingList().Finished(key);
}
