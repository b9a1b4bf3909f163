#pragma once

#include <pulse/thread-mainloop.h>

// Holds a PulseAudio threaded main loop's lock for a scope (on any thread but the loop's own). Header only: the
// users link libpulse, the common library does not.
class PulseLoopLock
{
public:
    explicit PulseLoopLock(pa_threaded_mainloop* loop)
        : m_loop(loop)
    {
        pa_threaded_mainloop_lock(m_loop);
    }
    ~PulseLoopLock() { pa_threaded_mainloop_unlock(m_loop); }
    PulseLoopLock(const PulseLoopLock&) = delete;
    PulseLoopLock& operator=(const PulseLoopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};
