#pragma once

#include <QLoggingCategory>

// Diagnostics of the job database: skipped values, files that cannot be opened, rebuild steps.
Q_DECLARE_LOGGING_CATEGORY(lcJobDb)
