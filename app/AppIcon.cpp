#include "AppIcon.h"

// The resources live in a static library, whose resource data is only registered when asked for by name.
static void registerResources()
{
    Q_INIT_RESOURCE(resources);
}

QIcon AppIcon()
{
    static const bool registered = (registerResources(), true);
    (void)registered;
    // One icon for every window and the tray: each icon made anew from the file would render its pixmaps again
    // under keys of its own, and Qt's pixmap cache would keep them all, up to its 10 MB, over the months of a box
    // (every Power shows a window). Kept to the end, as windows may still ask for it while the program ends.
    static const QIcon* const icon = new QIcon(QStringLiteral(":/krel/krel.svg"));
    return *icon;
}
