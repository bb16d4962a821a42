#pragma once

#include <QLoggingCategory>

// Diagnostics of the local sockets: the pipe, the mailslot and the client presence files.
Q_DECLARE_LOGGING_CATEGORY(lcPipe)
