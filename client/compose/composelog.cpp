#include "client/compose/composelog.h"

Q_LOGGING_CATEGORY(lcCompose, "kestro.compose")
