// Plays a short encrypted conversation in a launched chat window for a screenshot: sets
// the key, turns encryption on, types lines and pokes a partner's wire texts. Prints
// "ready" when the window shows it and keeps it open for the given number of seconds.
#include "tests/window/window_driver.h"

#include "app/Menuids.h"
#include "app/chat/Linecodec.h"
#include "crypto/Ideaunit.h"

#include <cstdio>
#include <cstdlib>

using namespace velkor;
using namespace velkor::chat;

int main(int argc, char** argv) {
    const int holdSeconds = argc > 1 ? std::atoi(argv[1]) : 8;
    const std::string key = "correct horse";
    MircServer mirc;
    Velkor app;

    app.Menu(menuid::Setkey1);
    HWND dialog = nullptr;
    if (!WaitFor(
            [&] { return (dialog = FindTopWindow(app.ProcessId(), "#32770", "Encryption Key")); }))
        return 1;
    SendMessageA(GetDlgItem(dialog, 100), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(key.c_str()));
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    WaitFor([&] { return !IsWindow(dialog); });
    app.Menu(menuid::On1);
    WaitFor([&] { return app.StatusText(1).ends_with("Encryption: On"); });

    TIDEA idea;
    auto partner = [&](const char* nick, const char* line) {
        app.Poke(std::string("#velkor ") + nick + " " + EncryptLine(idea, line, key));
    };
    partner("alice", "evening! is the key working on your side?");
    app.Type("loud and clear, alice");
    partner("alice", "good. the tea house at eight, then");
    partner("bob", "count me in");
    app.Poke("#velkor mallory what are you two talking about?"); // plain: not shown
    app.Type("eight it is. bring the notes");
    partner("alice", "will do");
    // A line being typed, with real keys: the input box and panel 0 in use.
    if (app.Activate()) {
        TypeKeys("see you there");
        WaitFor([&] { return app.StatusText(0) == "\t13 : 13"; });
    }
    for (const std::string& wire : mirc.Pokes())
        std::printf("sent: %s\n", wire.c_str());
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(holdSeconds) * 1000);
    return 0;
}
