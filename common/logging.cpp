#include "common/logging.h"

Q_LOGGING_CATEGORY(lcCommon, "kestro.common")
Q_LOGGING_CATEGORY(lcRegistry, "kestro.registry")
