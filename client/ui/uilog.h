#pragma once

#include <QLoggingCategory>

// Diagnostics of the client's windows.
Q_DECLARE_LOGGING_CATEGORY(lcUi)
