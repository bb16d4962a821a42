#include "client/jobdb/jobdblog.h"

Q_LOGGING_CATEGORY(lcJobDb, "kestro.jobdb")
