#include "Log.h"

Q_LOGGING_CATEGORY(lcApp, "krel.app")
Q_LOGGING_CATEGORY(lcRemote, "krel.remote")
Q_LOGGING_CATEGORY(lcTv, "krel.tv")
Q_LOGGING_CATEGORY(lcAudio, "krel.audio")
Q_LOGGING_CATEGORY(lcCatalogue, "krel.catalogue")
Q_LOGGING_CATEGORY(lcUpdate, "krel.update")
