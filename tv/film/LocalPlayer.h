#pragma once

#include <functional>

#include <QString>

class QWidget;

// Plays a local film on the TV, covering the TV window; the TV window drives it through this interface only, so
// that navigation can be tested without a player, and the player (with libmpv) lives in a library the program
// loads when the first film is chosen.
class ILocalPlayer
{
public:
    virtual ~ILocalPlayer() = default;
    // The widget that shows the film: a child of the TV window, deleted with it.
    virtual QWidget* Widget() = 0;
    // Starts the file (at startAt seconds); the player shows itself. False when it could not even start.
    virtual bool Play(const QString& path, double startAt = 0) = 0;
    // Stops and hides.
    virtual void Stop() = 0;
    // Seeks by the given number of seconds (negative: back), or to a time from the start.
    virtual void Seek(int seconds) = 0;
    virtual void SeekTo(double seconds) = 0;
    virtual bool IsPlaying() const = 0;
    // Holds the film where it is (true) or lets it go on (false); nothing when no film plays.
    virtual void SetPaused(bool paused) = 0;
    // Held by the user (play/pause) or while the TV is away; the film's position is shown on the TV meanwhile.
    virtual bool IsPaused() const = 0;
    // Where the film is and how long it is, in seconds (0 while not known).
    virtual double Position() const = 0;
    virtual double Duration() const = 0;
    // The next subtitle track (off after the last) or audio track, with a line on the TV naming it.
    enum class Track { Subtitle, Audio };
    virtual void NextTrack(Track track) = 0;
    // Called when the film has ended, or could not be played (ok false); the player has hidden itself.
    virtual void SetFinishedHandler(std::function<void(bool ok)> handler) = 0;
};

// Whether a name ends as a film's file does (a video or audio file extension, compared without case).
bool HasFilmExtension(const QString& name);
// Whether a file is a film by its name: the usual video and audio file extensions, compared without case.
bool IsPlayableFile(const QString& path);
// The film after path in its folder, in the order the folder's listing shows (the file system's); "" for none.
QString NextPlayableFile(const QString& path);
