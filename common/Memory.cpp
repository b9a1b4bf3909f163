#include "Memory.h"

#include <malloc.h>

#include <QTimer>

void ReturnFreeMemorySoon()
{
    // Later, so that what the burst left for deletion (deleteLater, the engines' own clean-up) is freed first.
    static QTimer* timer = [] {
        auto* t = new QTimer;
        t->setSingleShot(true);
        t->setInterval(2000);
        QObject::connect(t, &QTimer::timeout, [] { ::malloc_trim(0); });
        return t;
    }();
    timer->start();
}
