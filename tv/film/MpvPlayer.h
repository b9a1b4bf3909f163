#pragma once

#include <functional>

#include <QImage>
#include <QWidget>

#include "LocalPlayer.h"

struct mpv_handle;
struct mpv_render_context;

// The local film player on libmpv: a child widget of the TV window that covers it and shows the film, letterboxed
// to keep its aspect ratio. libmpv draws each frame in software into an image the widget paints (no GPU needed);
// its sound is a stream of this process, so the audio routing puts it on the TV's sound card. libmpv works on its
// own threads; its wake-ups only post to the GUI thread. It lives in its own library (libkrel_film.so), which depends
// on Qt and libmpv alone: the program loads it when the first film is chosen.
class CMpvPlayer : public QWidget, public ILocalPlayer
{
    Q_OBJECT
public:
    explicit CMpvPlayer(QWidget* parent);
    ~CMpvPlayer() override;

    QWidget* Widget() override { return this; }
    bool Play(const QString& path, double startAt = 0) override;
    void Stop() override;
    void Seek(int seconds) override;
    void SeekTo(double seconds) override;
    bool IsPlaying() const override { return m_bPlaying; }
    void SetPaused(bool paused) override;
    bool IsPaused() const override { return m_bPlaying && m_bPaused; }
    double Position() const override { return m_dPosition; }
    double Duration() const override { return m_dDuration; }
    void NextTrack(Track track) override;
    void SetFinishedHandler(std::function<void(bool ok)> handler) override { m_onFinished = std::move(handler); }

signals:
    // The film has ended, or could not be played (ok false); the player has hidden itself.
    void finished(bool ok);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void DrainEvents();
    void Finish(bool ok);

    mpv_handle* m_pMpv = nullptr;
    mpv_render_context* m_pRender = nullptr;
    std::function<void(bool ok)> m_onFinished;
    QImage m_frame;
    bool m_bPlaying = false;
    bool m_bPaused = false; // asked for; libmpv follows
    double m_dPosition = 0;
    bool m_bLoaded = false; // the file asked for last is open (seeks before that wait for it)
    double m_dPendingSeek = -1; // where to go once it is
    double m_dStartAt = 0; // where the file asked for starts
    double m_dDuration = 0;
    int m_nLoads = 0; // files asked for
    int m_nStarts = 0; // files libmpv has begun (one per file asked for, in order)
};
