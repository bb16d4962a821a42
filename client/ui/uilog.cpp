#include "client/ui/uilog.h"

Q_LOGGING_CATEGORY(lcUi, "kestro.ui")
