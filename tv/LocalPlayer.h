#pragma once

#include <QString>

// Plays a local film on the TV, covering the TV window; the TV window drives it through this interface only, so
// that navigation can be tested without a player.
class ILocalPlayer
{
public:
    virtual ~ILocalPlayer() = default;
    // Starts the file; the player shows itself. False when it could not even start.
    virtual bool Play(const QString& path) = 0;
    // Stops and hides.
    virtual void Stop() = 0;
    // Seeks by the given number of seconds (negative: back).
    virtual void Seek(int seconds) = 0;
    virtual bool IsPlaying() const = 0;
};

// Whether a file is a film by its name: the usual video and audio file extensions, compared without case.
bool IsPlayableFile(const QString& path);
