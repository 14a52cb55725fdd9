// Startuperror: the start-up error texts.
#include "app/chat/Startuperror.h"

#include <cstdio>

namespace velkor::chat {

namespace {

// DDEML's error codes (ddeml.h) that have a message of their own.
constexpr unsigned kLowMemory = 0x4007;
constexpr unsigned kMemoryError = 0x4008;
constexpr unsigned kNoConvEstablished = 0x400A;

} // namespace

std::string DdeErrorMessage(unsigned code) {
    const char* format = "An error returned from DDE  ($0%X)";
    if (code == kLowMemory || code == kMemoryError)
        format = "Error occurred when DDE ran out of memory ($0%X)";
    else if (code == kNoConvEstablished)
        format = "DDE Error - conversation not established ($0%X)";
    char text[96];
    std::snprintf(text, sizeof text, format, code);
    return text;
}

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

} // namespace velkor::chat
