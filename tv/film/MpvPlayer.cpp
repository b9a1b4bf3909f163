#include "MpvPlayer.h"

#include <algorithm>
#include <utility>

#include <QLoggingCategory>
#include <QPainter>

#include <mpv/client.h>
#include <mpv/render.h>

namespace
{

// The TV's category; the library links nothing of the program, so it has its own.
Q_LOGGING_CATEGORY(lcFilm, "krel.tv", QtInfoMsg)

} // namespace

CMpvPlayer::CMpvPlayer(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
    m_pMpv = mpv_create();
    if (!m_pMpv)
        return;
    mpv_set_option_string(m_pMpv, "vo", "libmpv");
    mpv_set_option_string(m_pMpv, "hwdec", "no");
    mpv_set_option_string(m_pMpv, "terminal", "no");
    mpv_set_option_string(m_pMpv, "input-default-bindings", "no");
    mpv_set_option_string(m_pMpv, "audio-client-name", "krel");
    // Through the sound server the audio routing watches (PipeWire's too answers as one).
    mpv_set_option_string(m_pMpv, "ao", "pulse,pipewire,alsa");
    mpv_set_option_string(m_pMpv, "idle", "yes");
    // Subtitle files beside the film with its name (film.srt, film.ass) load with it.
    mpv_set_option_string(m_pMpv, "sub-auto", "exact");
    mpv_set_option_string(m_pMpv, "osd-font-size", "40");
    if (mpv_initialize(m_pMpv) < 0) {
        mpv_terminate_destroy(m_pMpv);
        m_pMpv = nullptr;
        return;
    }
    // Where the film is, for resuming it later and for the desktop's media controls.
    mpv_observe_property(m_pMpv, 1, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_pMpv, 2, "duration", MPV_FORMAT_DOUBLE);
    mpv_render_param params[] = { { MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW) },
                                  { MPV_RENDER_PARAM_INVALID, nullptr } };
    if (mpv_render_context_create(&m_pRender, m_pMpv, params) < 0) {
        m_pRender = nullptr;
        qCWarning(lcFilm, "the film player cannot draw: libmpv has no software renderer");
    }
    // Both callbacks come from libmpv's threads and only post to the GUI thread. They end before the destructor's
    // body does (it frees libmpv first), and Qt drops what is still queued for the player when it goes.
    mpv_set_wakeup_callback(
        m_pMpv,
        [](void* self) {
            QMetaObject::invokeMethod(static_cast<CMpvPlayer*>(self), &CMpvPlayer::DrainEvents, Qt::QueuedConnection);
        },
        this);
    if (m_pRender)
        mpv_render_context_set_update_callback(
            m_pRender,
            [](void* self) {
                QMetaObject::invokeMethod(static_cast<CMpvPlayer*>(self), qOverload<>(&QWidget::update),
                                          Qt::QueuedConnection);
            },
            this);
}

CMpvPlayer::~CMpvPlayer()
{
    if (m_pRender)
        mpv_render_context_free(m_pRender);
    if (m_pMpv)
        mpv_terminate_destroy(m_pMpv);
}

bool CMpvPlayer::Play(const QString& path, double startAt)
{
    if (!m_pMpv || !m_pRender)
        return false;
    const QByteArray file = path.toUtf8();
    // A film held while the TV was away does not hold the next one.
    m_bPaused = false;
    int go = 0;
    mpv_set_property_async(m_pMpv, 0, "pause", MPV_FORMAT_FLAG, &go);
    const char* level = "1";
    mpv_set_property_async(m_pMpv, 0, "osd-level", MPV_FORMAT_STRING, &level);
    // (Where it is comes from libmpv once the file is open.)
    m_dPosition = 0;
    m_dStartAt = startAt;
    m_dDuration = 0;
    m_bLoaded = false;
    m_dPendingSeek = -1;
    const QByteArray start = "start=" + QByteArray::number(startAt > 0 ? startAt : 0, 'f', 1);
    const char* command[] = { "loadfile", file.constData(), "replace", start.constData(), nullptr };
    if (mpv_command_async(m_pMpv, 0, command) < 0)
        return false;
    ++m_nLoads;
    m_bPlaying = true;
    m_frame = QImage();
    show();
    raise();
    return true;
}

void CMpvPlayer::Stop()
{
    if (m_pMpv) {
        const char* command[] = { "stop", nullptr };
        mpv_command_async(m_pMpv, 0, command);
    }
    m_bPlaying = false;
    hide();
}

void CMpvPlayer::Seek(int seconds)
{
    if (!m_pMpv || !m_bPlaying)
        return;
    if (!m_bLoaded) {
        SeekTo((m_dPendingSeek >= 0 ? m_dPendingSeek : m_dStartAt) + seconds);
        return;
    }
    const QByteArray offset = QByteArray::number(seconds);
    const char* command[] = { "seek", offset.constData(), "relative", nullptr };
    mpv_command_async(m_pMpv, 0, command);
}

void CMpvPlayer::SeekTo(double seconds)
{
    if (!m_pMpv || !m_bPlaying)
        return;
    // libmpv refuses a seek while the file is still being opened: it waits for the file.
    if (!m_bLoaded) {
        m_dPendingSeek = std::max(0.0, seconds);
        return;
    }
    const QByteArray to = QByteArray::number(seconds, 'f', 1);
    const char* command[] = { "seek", to.constData(), "absolute", nullptr };
    mpv_command_async(m_pMpv, 0, command);
}

void CMpvPlayer::SetPaused(bool paused)
{
    if (!m_pMpv || !m_bPlaying)
        return;
    m_bPaused = paused;
    int flag = paused ? 1 : 0;
    mpv_set_property_async(m_pMpv, 0, "pause", MPV_FORMAT_FLAG, &flag);
    // Paused, the film's position and length stay on the TV.
    const char* level = paused ? "3" : "1";
    mpv_set_property_async(m_pMpv, 0, "osd-level", MPV_FORMAT_STRING, &level);
}

void CMpvPlayer::NextTrack(Track track)
{
    if (!m_pMpv || !m_bPlaying)
        return;
    const char* cycle[] = { "cycle", track == Track::Subtitle ? "sub" : "audio", nullptr };
    mpv_command_async(m_pMpv, 0, cycle);
    // The track's language and title, or that there is none.
    const char* text = track == Track::Subtitle
        ? "字幕: ${?current-tracks/sub:${current-tracks/sub/lang:} "
          "${current-tracks/sub/title:}}${!current-tracks/sub:关}"
        : "音轨: ${?current-tracks/audio:${current-tracks/audio/lang:} ${current-tracks/audio/title:}}"
          "${!current-tracks/audio:无}";
    const char* show[] = { "show-text", text, "3000", nullptr };
    mpv_command_async(m_pMpv, 0, show);
}

void CMpvPlayer::DrainEvents()
{
    if (!m_pMpv)
        return;
    for (;;) {
        const mpv_event* event = mpv_wait_event(m_pMpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            return;
        if (event->event_id == MPV_EVENT_START_FILE)
            ++m_nStarts;
        if (event->event_id == MPV_EVENT_FILE_LOADED && m_nStarts >= m_nLoads && m_bPlaying) {
            m_bLoaded = true;
            if (m_dPendingSeek >= 0)
                SeekTo(std::exchange(m_dPendingSeek, -1));
        }
        if (event->event_id == MPV_EVENT_PROPERTY_CHANGE) {
            const auto* change = static_cast<const mpv_event_property*>(event->data);
            if (change->format == MPV_FORMAT_DOUBLE && m_nStarts >= m_nLoads)
                (event->reply_userdata == 1 ? m_dPosition : m_dDuration) = *static_cast<const double*>(change->data);
            continue;
        }
        if (event->event_id != MPV_EVENT_END_FILE)
            continue;
        // The end of a file that a newer choice has already replaced (it may come after that choice, when the
        // older file failed to open) is not the end of the film shown now.
        if (m_nStarts < m_nLoads)
            continue;
        const auto* end = static_cast<const mpv_event_end_file*>(event->data);
        // A stop of ours or a new file replacing the old one is no end of the film.
        if (end->reason == MPV_END_FILE_REASON_STOP || end->reason == MPV_END_FILE_REASON_REDIRECT)
            continue;
        if (end->reason == MPV_END_FILE_REASON_ERROR)
            qCWarning(lcFilm, "the film cannot be played: %s", mpv_error_string(end->error));
        Finish(end->reason == MPV_END_FILE_REASON_EOF);
    }
}

void CMpvPlayer::Finish(bool ok)
{
    if (!m_bPlaying)
        return;
    m_bPlaying = false;
    hide();
    emit finished(ok);
    if (m_onFinished)
        m_onFinished(ok);
}

void CMpvPlayer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_pRender && (mpv_render_context_update(m_pRender) & MPV_RENDER_UPDATE_FRAME || m_frame.size() != size())) {
        if (m_frame.size() != size())
            m_frame = QImage(size(), QImage::Format_RGB32);
        // QImage's RGB32 is, byte by byte in memory, blue, green, red, unused: libmpv's "bgr0".
        int frameSize[2] = { m_frame.width(), m_frame.height() };
        size_t stride = static_cast<size_t>(m_frame.bytesPerLine());
        mpv_render_param params[] = {
            { MPV_RENDER_PARAM_SW_SIZE, frameSize }, { MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>("bgr0") },
            { MPV_RENDER_PARAM_SW_STRIDE, &stride }, { MPV_RENDER_PARAM_SW_POINTER, m_frame.bits() },
            { MPV_RENDER_PARAM_INVALID, nullptr },
        };
        mpv_render_context_render(m_pRender, params);
        // libmpv leaves the fourth byte undefined (often 0), where RGB32 means 0xff. Passed on as it is, a
        // compositor that blends by alpha (any Wayland one, for a window with an alpha channel) shows what is
        // beneath through the film: every pixel is made opaque.
        for (int y = 0; y < m_frame.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(m_frame.scanLine(y));
            for (int x = 0; x < m_frame.width(); ++x)
                line[x] |= 0xff000000u;
        }
    }
    if (m_frame.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(0, 0, m_frame);
}

extern "C" Q_DECL_EXPORT ILocalPlayer* krel_create_local_player(QWidget* parent)
{
    return new CMpvPlayer(parent);
}
