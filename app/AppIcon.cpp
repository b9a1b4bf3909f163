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
    return QIcon(QStringLiteral(":/krel/krel.svg"));
}
