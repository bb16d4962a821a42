#include "piperpc/piperpclog.h"

Q_LOGGING_CATEGORY(lcPipe, "kestro.piperpc")
