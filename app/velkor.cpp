// velkor: the program block: one velkor per DDE service name, the DDE manager first, then
// the application titled "velkor" and its chat window, then the message loop until the
// window closes.
#include "app/Main.h"
#include "app/Oneinstance.h"
#include "app/Startuperror.h"
#include "dde/DdeText.h"

#include <commctrl.h>

using namespace velkor;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // Before any DDE name is registered: a second velkor under the same file name would
    // take every line the IRC client pokes for the service from the first.
    TInstanceLock lock(ServiceNameFromPath(ModuleFileName()));
    if (!lock.First()) {
        lock.ShowFirst();
        return 0;
    }
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
        lock.SetWindow(fMain->Handle());
    } catch (const std::exception& e) {
        return ShowStartupError("Exception", nullptr, e.what());
    }
    return application.Run();
}
