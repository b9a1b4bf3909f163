#include "Log.h"

Q_LOGGING_CATEGORY(lcApp, "krel.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRemote, "krel.remote", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTv, "krel.tv", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAudio, "krel.audio", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCatalogue, "krel.catalogue", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdate, "krel.update", QtInfoMsg)
