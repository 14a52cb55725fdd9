// velkor: the program block: the DDE manager first, then the application titled "velkor"
// and its chat window, then the message loop until the window closes.
#include "app/Main.h"

#include <commctrl.h>

using namespace velkor;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    TApplication application;
    try {
        new TDdeMgr(application);
    } catch (const EDdeError& e) {
        return ShowStartupError(e);
    }
    application.SetTitle("velkor");
    try {
        auto* fMain = new TfMain(application);
        fMain->Show(showCommand);
    } catch (const std::exception& e) {
        return ShowStartupError("Exception", nullptr, e.what());
    }
    return application.Run();
}
