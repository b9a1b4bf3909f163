#include "MediaControls.h"

#include <algorithm>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include "common/Log.h"

namespace
{

constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";

// org.mpris.MediaPlayer2: who we are. The TV window is never raised or quit from outside.
class CMprisRoot : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(bool CanQuit READ No)
    Q_PROPERTY(bool CanRaise READ No)
    Q_PROPERTY(bool HasTrackList READ No)
    Q_PROPERTY(QStringList SupportedUriSchemes READ None)
    Q_PROPERTY(QStringList SupportedMimeTypes READ None)
public:
    explicit CMprisRoot(QObject* parent)
        : QDBusAbstractAdaptor(parent)
    {
    }
    QString Identity() const { return QStringLiteral("krel"); }
    QString DesktopEntry() const { return QStringLiteral("krel"); }
    bool No() const { return false; }
    QStringList None() const { return {}; }

public slots:
    void Raise() { }
    void Quit() { }
};

// org.mpris.MediaPlayer2.Player: what plays on the TV.
class CMprisPlayer : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(double Rate READ One)
    Q_PROPERTY(double MinimumRate READ One)
    Q_PROPERTY(double MaximumRate READ One)
    Q_PROPERTY(bool CanGoNext READ No)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanPlay READ Playing)
    Q_PROPERTY(bool CanPause READ Playing)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ Yes)
public:
    explicit CMprisPlayer(CMediaControls* controls)
        : QDBusAbstractAdaptor(controls)
        , m_pControls(controls)
    {
    }
    IMediaSession* Session() const { return m_pControls->Session(); }
    QString PlaybackStatus() const { return CMediaControls::StatusName(Session()->PlaybackStatus()); }
    QVariantMap Metadata() const { return m_pControls->Metadata(); }
    qlonglong Position() const { return Session()->PositionUs(); }
    double Volume() const { return Session()->Volume(); }
    void SetVolume(double volume) { Session()->SetVolume(std::clamp(volume, 0.0, 1.0)); }
    double One() const { return 1.0; }
    bool No() const { return false; }
    bool Yes() const { return true; }
    bool Playing() const { return Session()->PlaybackStatus() != IMediaSession::Status::Stopped; }
    bool CanSeek() const { return Session()->CanSeek(); }

signals:
    void Seeked(qlonglong position);

public slots:
    void Play()
    {
        Act([this] { Session()->SetPaused(false); });
    }
    void Pause()
    {
        Act([this] { Session()->SetPaused(true); });
    }
    void PlayPause()
    {
        Act([this] { Session()->SetPaused(Session()->PlaybackStatus() == IMediaSession::Status::Playing); });
    }
    void Stop()
    {
        Act([this] { Session()->StopPlayback(); });
    }
    void Next() { }
    void Previous() { }
    void OpenUri(const QString&) { }
    void Seek(qlonglong offset)
    {
        if (!CanSeek())
            return;
        // Any offset a client sends, without overflow: no film is longer than a week.
        constexpr qint64 kWeekUs = 7LL * 24 * 3600 * 1000000;
        offset = std::clamp<qlonglong>(offset, -kWeekUs, kWeekUs);
        Session()->SeekByUs(offset);
        m_pControls->Seeked(std::max<qint64>(0, Session()->PositionUs() + offset));
    }
    void SetPosition(const QDBusObjectPath& track, qlonglong position)
    {
        // Only for the title that plays (its id names it), and only within it.
        const qint64 length = Session()->LengthUs();
        if (!CanSeek()
            || track.path() != Metadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path()
            || position < 0 || (length > 0 && position > length))
            return;
        Session()->SeekToUs(position);
        m_pControls->Seeked(position);
    }

private:
    template <typename F> void Act(F f)
    {
        if (Playing())
            f();
        m_pControls->Changed();
    }

    CMediaControls* m_pControls;
};

} // namespace

CMediaControls::CMediaControls(IMediaSession* session, QObject* parent)
    : QObject(parent)
    , m_pSession(session)
{
    new CMprisRoot(this);
    new CMprisPlayer(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_bRegistered = bus.registerObject(QLatin1String(kPath), this, QDBusConnection::ExportAdaptors)
        && bus.registerService(QLatin1String(kService));
    if (!m_bRegistered)
        qCInfo(lcTv).noquote() << "no media controls on the session bus:" << bus.lastError().message();
}

CMediaControls::~CMediaControls()
{
    if (!m_bRegistered)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QLatin1String(kService));
    bus.unregisterObject(QLatin1String(kPath));
}

QString CMediaControls::StatusName(IMediaSession::Status status)
{
    switch (status) {
    case IMediaSession::Status::Playing:
        return QStringLiteral("Playing");
    case IMediaSession::Status::Paused:
        return QStringLiteral("Paused");
    case IMediaSession::Status::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap CMediaControls::Metadata() const
{
    if (m_pSession->PlaybackStatus() == IMediaSession::Status::Stopped)
        return {};
    QVariantMap metadata { { QStringLiteral("mpris:trackid"),
                             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/krel/track/%1").arg(m_nTrack))) },
                           { QStringLiteral("xesam:title"), m_pSession->Title() } };
    if (const qint64 length = m_pSession->LengthUs(); length > 0)
        metadata.insert(QStringLiteral("mpris:length"), qlonglong(length));
    return metadata;
}

void CMediaControls::Changed()
{
    const QString title
        = m_pSession->PlaybackStatus() == IMediaSession::Status::Stopped ? QString() : m_pSession->Title();
    if (title != m_strTitle) {
        m_strTitle = title;
        ++m_nTrack;
    }
    const bool playing = m_pSession->PlaybackStatus() != IMediaSession::Status::Stopped;
    const QVariantMap now { { QStringLiteral("PlaybackStatus"), StatusName(m_pSession->PlaybackStatus()) },
                            { QStringLiteral("Metadata"), Metadata() },
                            { QStringLiteral("Volume"), m_pSession->Volume() },
                            { QStringLiteral("CanPlay"), playing },
                            { QStringLiteral("CanPause"), playing },
                            { QStringLiteral("CanSeek"), m_pSession->CanSeek() } };
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    m_announced = now;
    if (changed.isEmpty() || !m_bRegistered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(kPath), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << QLatin1String(kPlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

void CMediaControls::Seeked(qint64 position)
{
    if (auto* player = findChild<CMprisPlayer*>())
        emit player->Seeked(position);
}

#include "MediaControls.moc"
