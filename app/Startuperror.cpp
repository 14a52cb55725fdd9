// Startuperror: the start-up error box.
#include "app/Startuperror.h"

#include "app/Starttext.h"

namespace velkor {

int ShowStartupError(const std::string& className, const void* address,
                     const std::string& message) {
    const std::string text = StartupErrorText(className, ModuleBaseName(), address, message);
    MessageBoxA(nullptr, text.c_str(), "Application Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return 1;
}

int ShowStartupError(const EDdeError& error) {
    return ShowStartupError("EDdeError", error.Address(), error.what());
}

} // namespace velkor
