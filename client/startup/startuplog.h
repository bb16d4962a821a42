#pragma once

#include <QLoggingCategory>

// Diagnostics of the client's start-up: settings, catalogue, targets, update check.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)
