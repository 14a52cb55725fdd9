// Startuperror: the texts of the error box shown when the program cannot start: the DDE
// initialisation error's message and the box's text around an exception's message.
#pragma once

#include <string>
#include <string_view>

namespace velkor::chat {

// The message for a DDEML error code that stopped DDE from starting, the code in upper-case
// hexadecimal: "Error occurred when DDE ran out of memory ($0%X)" for the memory errors,
// "DDE Error - conversation not established ($0%X)", else "An error returned from DDE
// ($0%X)" with two blanks before the parenthesis.
std::string DdeErrorMessage(unsigned code);

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

} // namespace velkor::chat
