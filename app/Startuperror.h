// Startuperror: the box shown when the program cannot start.
#pragma once

#include "dde/MyDdeman.h"

#include <string>

namespace velkor {

// Shows the start-up error text (StartupErrorText) in the task-modal "Application Error"
// box; returns the program's exit code, 1.
int ShowStartupError(const std::string& className, const void* address, const std::string& message);

// The same for an EDdeError raised at program start.
int ShowStartupError(const EDdeError& error);

} // namespace velkor
