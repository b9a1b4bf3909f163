#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// What plays on the TV, as the desktop's media controls see and drive it.
class IMediaSession
{
public:
    virtual ~IMediaSession() = default;
    enum class Status { Stopped, Playing, Paused };
    virtual Status PlaybackStatus() const = 0;
    virtual QString Title() const = 0;
    // In microseconds; 0 while not known.
    virtual qint64 LengthUs() const = 0;
    virtual qint64 PositionUs() const = 0;
    virtual bool CanSeek() const = 0;
    virtual void SetPaused(bool paused) = 0;
    virtual void StopPlayback() = 0;
    virtual void SeekByUs(qint64 offset) = 0;
    virtual void SeekToUs(qint64 position) = 0;
    // The TV stream's volume, 0..1 (1 while not known), and a new one.
    virtual double Volume() const = 0;
    virtual void SetVolume(double volume) = 0;
};

// The TV's playback on the session bus as an MPRIS player, org.mpris.MediaPlayer2.krel, for the panel's media
// widget, playerctl and phone companions: its status, title, length and position, volume, and play, pause, stop and
// seek. The name is held while the object lives (while TV output runs); Changed() tells the bus what changed.
class CMediaControls : public QObject
{
    Q_OBJECT
public:
    explicit CMediaControls(IMediaSession* session, QObject* parent = nullptr);
    ~CMediaControls() override;

    // Something may have changed (playback started or ended, paused, another title): the properties that did are
    // announced with PropertiesChanged.
    void Changed();
    // A seek was made, to position (in microseconds): clients that show the position hear of it.
    void Seeked(qint64 position);

    IMediaSession* Session() const { return m_pSession; }
    QVariantMap Metadata() const;
    static QString StatusName(IMediaSession::Status status);

    static constexpr char kService[] = "org.mpris.MediaPlayer2.krel";
    static constexpr char kPath[] = "/org/mpris/MediaPlayer2";

private:
    IMediaSession* m_pSession;
    bool m_bRegistered = false;
    QVariantMap m_announced; // the properties as last announced
    int m_nTrack = 0; // counts titles, for their track ids
    QString m_strTitle;
};
