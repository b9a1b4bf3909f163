#pragma once

#include <QLoggingCategory>

// One logging category per subsystem for the diagnostic lines (enable with QT_LOGGING_RULES="krel.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcRemote)
Q_DECLARE_LOGGING_CATEGORY(lcTv)
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
Q_DECLARE_LOGGING_CATEGORY(lcCatalogue)
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
