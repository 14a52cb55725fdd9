// A DDE server program for the tests, shaped like the chat window's DDE side: a manager,
// a form captioned "velkor" and its server item NONE. Usage:
//   dde_server_app TAG [wait]   serve; with "wait" the form appears only when the test
//                               sets the event "velkor-test-TAG-go"
//   dde_server_app TAG fail     show the start-up error box for an EDdeError and exit
// Events "velkor-test-TAG-mgr" and "velkor-test-TAG-form" tell the test how far it got.
// Extra items: "Text" mirrors NONE's Text, "Pokes" counts NONE's pokes, "Changes" counts
// its value changes, a poke to "Quit" closes the form, and "ProbeTAG" is an item whose
// name no other process has used as an atom yet.
#include "app/Startuperror.h"
#include "dde/MyDdemanServer.h"

#include <string>

using namespace velkor;

namespace {

HANDLE Event(const std::string& tag, const char* what) {
    return CreateEventA(nullptr, TRUE, FALSE, ("velkor-test-" + tag + "-" + what).c_str());
}

TDdeServerItem& Item(TForm& form, const char* name) {
    auto* item = new TDdeServerItem(&form);
    item->SetName(name);
    return *item;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string tag = argv[1];
    const std::string mode = argc > 2 ? argv[2] : "";
    if (mode == "fail") return ShowStartupError(EDdeError(DMLERR_NO_CONV_ESTABLISHED));

    TApplication app;
    try {
        new TDdeMgr(app);
    } catch (const EDdeError& e) {
        return ShowStartupError(e);
    }
    SetEvent(Event(tag, "mgr"));
    if (mode == "wait") {
        HANDLE go = Event(tag, "go");
        while (MsgWaitForMultipleObjects(1, &go, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
            app.ProcessMessages();
    }

    auto* form = new TForm(app, &app, "velkor");
    TDdeServerItem& none = Item(*form, "NONE");
    TDdeServerItem& text = Item(*form, "Text");
    TDdeServerItem& pokes = Item(*form, "Pokes");
    TDdeServerItem& changes = Item(*form, "Changes");
    TDdeServerItem& quit = Item(*form, "Quit");
    Item(*form, ("Probe" + tag).c_str());
    int pokeCount = 0;
    int changeCount = 0;
    none.OnPokeData = [&](TComponent&) {
        text.SetText(none.Text());
        pokes.SetText(std::to_string(++pokeCount));
    };
    none.OnChange = [&](TComponent&) { changes.SetText(std::to_string(++changeCount)); };
    // Posted: the item must outlive the poke that asks for the end.
    quit.OnPokeData = [form](TComponent&) { PostMessageA(form->Handle(), WM_CLOSE, 0, 0); };
    SetEvent(Event(tag, "form"));
    return app.Run();
}
