// Starttext: the start-up texts: the error box's and the one-instance rule's.
#include "app/Starttext.h"

#include <cstdio>

namespace velkor {

std::string StartupErrorText(const std::string& className, const std::string& module,
                             const void* address, const std::string& message) {
    char head[1024];
    std::snprintf(head, sizeof head, "Exception %s in module %s at %p.", className.c_str(),
                  module.c_str(), address);
    const bool stop = !message.empty() && message.back() == '.';
    return std::string(head) + "\n" + message + (stop ? "" : ".");
}

std::string InstanceObjectName(std::string_view service) {
    std::string name = "velkor-dde-service-";
    for (const char c : service)
        name += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return name;
}

std::string AlreadyRunningText(std::string_view service) {
    return "velkor is already running as DDE service \"" + std::string(service) +
           "\". Its window is brought to the front; this start ends here.";
}

} // namespace velkor
