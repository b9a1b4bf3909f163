// The TV window and an empty room: after StillWatchingHours (3; 0: never) of playback with no key from any remote,
// what plays pauses and the TV asks "还在看吗？按任意键继续播放"; any key goes on, and with no key for ten more minutes
// TV output ends (nobodyWatching), as Power would end it but without the shutdown prompt.
#include "MainFrame.h"

#include <QLabel>
#include <QTimer>

#include "common/Log.h"
#include "common/Settings.h"

namespace
{

// Milliseconds before the question and after it; KREL_STILL_WATCHING_MS="<before>,<after>" for tests.
std::pair<qint64, qint64> StillWatchingMs()
{
    const QList<QByteArray> test = qgetenv("KREL_STILL_WATCHING_MS").split(',');
    if (test.size() == 2 && test[0].toLongLong() > 0 && test[1].toLongLong() > 0)
        return { test[0].toLongLong(), test[1].toLongLong() };
    bool ok = false;
    const QString setting = ReadSetting(QString::fromLatin1(SettingKey::StillWatchingHours)).trimmed();
    double hours = setting.toDouble(&ok);
    if (setting.isEmpty() || !ok || !(hours >= 0) || hours > 24 * 7)
        hours = 3;
    return { static_cast<qint64>(hours * 3600 * 1000), 10 * 60 * 1000 };
}

} // namespace

void CMainFrame::ArmStillWatching()
{
    if (!m_pStillWatching) {
        m_pStillWatching = new QTimer(this);
        m_pStillWatching->setSingleShot(true);
        connect(m_pStillWatching, &QTimer::timeout, this, &CMainFrame::OnStillWatchingTimeout);
    }
    m_bAskedStillWatching = false;
    const qint64 before = StillWatchingMs().first;
    if (before <= 0) {
        m_pStillWatching->stop();
        return;
    }
    m_pStillWatching->start(std::chrono::milliseconds(before));
}

void CMainFrame::OnStillWatchingTimeout()
{
    if (m_bAskedStillWatching) {
        // Nobody answered: nobody is there.
        qCInfo(lcTv, "nobody answered 还在看吗: TV output ends");
        emit nobodyWatching();
        return;
    }
    if (PlaybackStatus() != Status::Playing) {
        ArmStillWatching(); // nothing plays: the time counts again from now
        return;
    }
    SetPaused(true);
    m_bAskedStillWatching = true;
    const QString question = QStringLiteral("还在看吗？按任意键继续播放");
    Speak(question, true);
    ShowBand(m_pQuestion, question);
    m_pStillWatching->start(std::chrono::milliseconds(StillWatchingMs().second));
}

bool CMainFrame::AnswerStillWatching()
{
    const bool asked = m_bAskedStillWatching;
    if (asked) {
        m_pQuestion->hide();
        SetPaused(false);
    }
    ArmStillWatching();
    return asked;
}
