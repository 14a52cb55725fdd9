// Starttext: the texts of the program's start that need no platform: the error box's text
// around an exception's message, and the one-instance rule's object name and message.
// Built natively and tested there.
#pragma once

#include <string>
#include <string_view>

namespace velkor {

// "Exception <class> in module <module> at <address>." and, on a second line, the message,
// given a closing full stop when it has none.
std::string StartupErrorText(const std::string& className, const std::string& module,
                             const void* address, const std::string& message);

// The name of the object the one velkor serving `service` holds. DDE compares service names
// without regard to case, so "VELKOR" is the same service as "velkor": ASCII letters are
// folded to lower case.
std::string InstanceObjectName(std::string_view service);

// What a second velkor started for a service that one already serves tells the user.
std::string AlreadyRunningText(std::string_view service);

} // namespace velkor
