#pragma once

#include <QIcon>

// The program's icon (resources/krel.svg), for the tray and every dialog.
QIcon AppIcon();
