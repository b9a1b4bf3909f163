// The TV window's next episode: when an episode's player or a film played to its end, the next row of the same
// address list (or the next film of the same folder) follows after a countdown on the TV, unless Back or LeaveVideo
// calls it off or the settings say AutoNextEpisode=0. The last one ends as any video does.
#include "MainFrame.h"

#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include "common/Settings.h"
#include "tv/film/LocalPlayer.h"

namespace
{

// Seconds of the countdown; KREL_NEXT_COUNTDOWN_S for tests.
int CountdownSeconds()
{
    bool set = false;
    const int seconds = qEnvironmentVariableIntValue("KREL_NEXT_COUNTDOWN_S", &set);
    return set && seconds > 0 ? seconds : 10;
}

} // namespace

void CMainFrame::OnVideoEnded()
{
    if (!VideoShown() || !m_menu.ListSet().IsPlaying())
        return;
    Finished(m_strAddress);
    Speak(QStringLiteral("播放结束"));
    const QString next = m_menu.ListSet().NextEpisodeName();
    if (next.isEmpty())
        return;
    StartCountdown(next, [this] {
        m_menu.PlayNextEpisode();
        update();
        emit menuChanged();
    });
}

void CMainFrame::OnFilmEnded()
{
    const QString next = NextPlayableFile(m_strFilm);
    if (next.isEmpty())
        return;
    StartCountdown(QFileInfo(next).fileName(), [this, next] {
        m_menu.ListSet().FilmStarted(next);
        OnPlayFile(next);
        emit menuChanged();
    });
}

void CMainFrame::StartCountdown(const QString& name, std::function<void()> then)
{
    if (ReadSetting(QString::fromLatin1(SettingKey::AutoNextEpisode)).trimmed() == QLatin1String("0"))
        return;
    if (!m_pCountdownTimer) {
        m_pCountdownTimer = new QTimer(this);
        m_pCountdownTimer->setInterval(1000);
        connect(m_pCountdownTimer, &QTimer::timeout, this, &CMainFrame::OnCountdownTick);
    }
    m_strNext = name;
    m_next = std::move(then);
    m_nCountdown = CountdownSeconds() + 1;
    Speak(QStringLiteral("下一集：") + Spoken::Name(name));
    OnCountdownTick();
    m_pCountdownTimer->start();
}

void CMainFrame::OnCountdownTick()
{
    if (--m_nCountdown > 0) {
        ShowBand(m_pCountdown, QStringLiteral("下一集：%1  %2").arg(m_strNext).arg(m_nCountdown));
        return;
    }
    const std::function<void()> next = std::exchange(m_next, nullptr);
    CancelCountdown();
    if (next)
        next();
}

void CMainFrame::CancelCountdown()
{
    m_next = nullptr;
    if (m_pCountdownTimer)
        m_pCountdownTimer->stop();
    if (m_pCountdown)
        m_pCountdown->hide();
}
