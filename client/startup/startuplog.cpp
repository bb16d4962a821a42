#include "client/startup/startuplog.h"

Q_LOGGING_CATEGORY(lcStartup, "kestro.startup")
