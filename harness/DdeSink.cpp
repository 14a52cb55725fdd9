// Test DDE server standing in for the chat add-on or the IRC client's command server, in a
// process of its own: registers a service, accepts one topic, writes every text poke (and
// whether its item handle was 0) to a file, and acknowledges it.
// usage: ddesink --out FILE [--service velkor] [--topic velkor] [--count N] [--seconds S]
#include "harness/ircpeer/IrcMessage.h"
#include "harness/kit/CommandServer.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

using velkor::kit::CommandServer;

int main(int argc, char** argv) {
    std::string outPath, service = "velkor", topic = "velkor";
    long count = 0; // exit after this many pokes; 0: never
    long seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--out")
            outPath = value;
        else if (name == "--service")
            service = value;
        else if (name == "--topic")
            topic = value;
        else if (name == "--count")
            count = std::atol(value.c_str());
        else if (name == "--seconds")
            seconds = std::atol(value.c_str());
    }
    if (outPath.empty()) {
        std::fprintf(stderr, "usage: ddesink --out FILE [--service S] [--topic T] [--count N] "
                             "[--seconds S]\n");
        return 2;
    }
    // Binary: text mode would end each record with CR LF.
    std::FILE* out = std::fopen(outPath.c_str(), "ab");
    if (!out) {
        std::fprintf(stderr, "ddesink: cannot open %s\n", outPath.c_str());
        return 2;
    }
    long received = 0;
    try {
        CommandServer server(service, CommandServer::Thread::Caller, CommandServer::Answer::Always,
                             topic);
        server.onCommand = [&](const CommandServer::Arrival& poke) {
            std::fprintf(out, "poke item0=%d item=%s size=%lu text=%s\n", poke.item ? 0 : 1,
                         poke.item.value_or("").c_str(), static_cast<unsigned long>(poke.size),
                         ircpeer::Printable(poke.text).c_str());
            std::fflush(out);
            if (count && ++received >= count) PostQuitMessage(0);
            return true;
        };
        std::printf("ready %s|%s\n", service.c_str(), topic.c_str());
        std::fflush(stdout);
        // A thread timer: the sink never outlives a broken test by long.
        SetTimer(nullptr, 0, static_cast<UINT>(seconds * 1000), nullptr);
        MSG msg;
        BOOL rc;
        while ((rc = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
            if (rc == -1) continue;
            if (msg.message == WM_TIMER && !msg.hwnd) break;
            DispatchMessageA(&msg);
        }
        std::printf("done after %ld poke(s)\n", received);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ddesink: %s\n", e.what());
        std::fclose(out);
        return 1;
    }
    std::fclose(out);
    return 0;
}
