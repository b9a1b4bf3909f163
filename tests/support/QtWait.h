#pragma once

#include <algorithm>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until done() holds or timeoutMs passes; returns done(). Between two looks at done() the loop
// runs for a slice of its own, at least as long as the look took, sleeping until events come: a look that takes long
// (a query of the sound server) never starves what the event loop serves, such as the web engine's browser thread.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        QElapsedTimer look;
        look.start();
        if (done())
            return true;
        if (t.elapsed() >= timeoutMs)
            return false;
        QEventLoop slice;
        QTimer::singleShot(std::max<qint64>(25, look.elapsed()), &slice, &QEventLoop::quit);
        slice.exec();
    }
}
