#pragma once

#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until done() holds or timeoutMs passes; returns done(). Between two looks at done() the loop
// runs for a slice of its own, sleeping until events come: a look that takes long (a screen capture, a query of the
// sound server) never starves what the event loop serves, such as the web engine's browser thread.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QEventLoop slice;
        QTimer::singleShot(25, &slice, &QEventLoop::quit);
        slice.exec();
    }
    return done();
}
