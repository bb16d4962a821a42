#pragma once

#include "client/startup/startup.h"

#include <memory>

namespace kestro::startup {

// The start-up's view of the job database, backed by the SQLite job store.
std::unique_ptr<DatabaseLifecycle> makeJobDatabaseLifecycle(Prompter& prompter);

} // namespace kestro::startup
