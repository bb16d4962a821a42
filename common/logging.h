#pragma once

#include <QLoggingCategory>

// Logging categories of the shared code and the subsystems. Developer diagnostics go
// through these; the append-only log files that users and the shop read are written by
// the subsystems that own them (see textfile.h).
Q_DECLARE_LOGGING_CATEGORY(lcCommon)
Q_DECLARE_LOGGING_CATEGORY(lcRegistry)
