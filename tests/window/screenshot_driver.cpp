// Plays a short encrypted conversation in a launched chat window for a screenshot: sets
// the key, turns encryption on, types lines and pokes a partner's wire texts. Prints
// "ready" when the window shows it and keeps it open for the given number of seconds.
#include "chat/Linecodec.h"
#include "crypto/Ideaunit.h"
#include "harness/kit/DdeServers.h"
#include "harness/kit/Desktop.h"
#include "harness/kit/Pump.h"
#include "harness/kit/Velkor.h"

#include <cstdio>
#include <cstdlib>

using namespace velkor;
using namespace velkor::chat;
using namespace velkor::kit;

int main(int argc, char** argv) {
    const int holdSeconds = argc > 1 ? std::atoi(argv[1]) : 8;
    const std::string key = "correct horse";
    CommandServer mirc;
    Velkor app;
    if (!app.SetKey(key) || !app.Encryption(true)) return 1;

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
    PumpFor(static_cast<DWORD>(holdSeconds) * 1000);
    return 0;
}
