#include "Memory.h"

#include <cstdio>
#include <cstring>

#include <malloc.h>
#include <strings.h>
#include <sys/mman.h>

#include <QTimer>

void ReturnFreeMemorySoon()
{
    // Later, so that what the burst left for deletion (deleteLater, the engines' own clean-up) is freed first.
    static QTimer* timer = [] {
        auto* t = new QTimer;
        t->setSingleShot(true);
        t->setInterval(2000);
        QObject::connect(t, &QTimer::timeout, [] {
            ::malloc_trim(0);
            ReleaseFontPages();
        });
        return t;
    }();
    timer->start();
}

void UseOneHeap()
{
    ::mallopt(M_ARENA_MAX, 1);
}

namespace
{

bool IsFontFile(const char* path)
{
    const char* dot = std::strrchr(path, '.');
    if (!dot)
        return false;
    for (const char* extension : { ".ttf", ".ttc", ".otf", ".otc", ".pfb", ".pcf" })
        if (::strcasecmp(dot, extension) == 0)
            return true;
    return false;
}

} // namespace

int ReleaseFontPages()
{
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return 0;
    int released = 0;
    char line[4096 + 256];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long start = 0, end = 0;
        char permissions[5] = {};
        int pathAt = 0;
        if (std::sscanf(line, "%lx-%lx %4s %*s %*s %*s %n", &start, &end, permissions, &pathAt) < 3 || pathAt == 0)
            continue;
        char* path = line + pathAt;
        path[std::strcspn(path, "\n")] = '\0';
        // Written pages of a private mapping would be lost; a font's mapping is never written.
        if (permissions[0] != 'r' || permissions[1] != '-' || !IsFontFile(path))
            continue;
        if (::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED) == 0)
            ++released;
    }
    std::fclose(maps);
    return released;
}
