// Test DDE server standing in for the chat add-on: registers a service, accepts one topic,
// writes every text poke (and whether its item handle was 0) to a file, and acknowledges it.
// usage: ddesink --out FILE [--service velkor] [--topic velkor] [--count N] [--seconds S]
#include "dde/DdeHandles.h"
#include "harness/ircpeer/IrcMessage.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

struct Sink {
    std::string service = "velkor";
    std::string topic = "velkor";
    std::FILE* out = nullptr;
    long count = 0; // exit after this many pokes; 0: never
    long received = 0;
    DWORD instance = 0;
    HSZ topicHsz = nullptr;
    HSZ serviceHsz = nullptr;
};

// DDEML callbacks carry no context pointer.
Sink g_sink;

HDDEDATA Answer(UINT flags) {
    return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(flags));
}

HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                           ULONG_PTR, ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return Answer(DdeCmpStringHandles(hsz1, g_sink.topicHsz) == 0 &&
                      (!hsz2 || DdeCmpStringHandles(hsz2, g_sink.serviceHsz) == 0));
    case XTYP_POKE: {
        if (format != CF_TEXT) return Answer(DDE_FNOTPROCESSED);
        DWORD size = 0;
        const BYTE* bytes = DdeAccessData(data, &size);
        if (!bytes) return Answer(DDE_FNOTPROCESSED);
        std::string raw(reinterpret_cast<const char*>(bytes), size);
        DdeUnaccessData(data);
        const std::size_t zero = raw.find('\0');
        const std::string text = raw.substr(0, zero);
        std::fprintf(g_sink.out, "poke item0=%d item=%s size=%lu text=%s\n", hsz2 ? 0 : 1,
                     velkor::DdeQueryText(g_sink.instance, hsz2).c_str(),
                     static_cast<unsigned long>(size), ircpeer::Printable(text).c_str());
        std::fflush(g_sink.out);
        if (g_sink.count && ++g_sink.received >= g_sink.count) PostQuitMessage(0);
        return Answer(DDE_FACK);
    }
    default:
        return nullptr;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string outPath;
    long seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        std::string value = argv[i + 1];
        if (name == "--out")
            outPath = value;
        else if (name == "--service")
            g_sink.service = value;
        else if (name == "--topic")
            g_sink.topic = value;
        else if (name == "--count")
            g_sink.count = std::atol(value.c_str());
        else if (name == "--seconds")
            seconds = std::atol(value.c_str());
    }
    if (outPath.empty()) {
        std::fprintf(stderr, "usage: ddesink --out FILE [--service S] [--topic T] [--count N] "
                             "[--seconds S]\n");
        return 2;
    }
    // Binary: text mode would end each record with CR LF.
    g_sink.out = std::fopen(outPath.c_str(), "ab");
    if (!g_sink.out) {
        std::fprintf(stderr, "ddesink: cannot open %s\n", outPath.c_str());
        return 2;
    }
    try {
        velkor::DdeInstance instance;
        if (const UINT rc = velkor::InitializeDdeInstance(
                instance, &Callback,
                APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS | CBF_FAIL_EXECUTES |
                    CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS))
            throw std::runtime_error("DdeInitialize failed, error " + std::to_string(rc));
        velkor::DdeString service(instance.get(), g_sink.service);
        velkor::DdeString topic(instance.get(), g_sink.topic);
        g_sink.instance = instance.get();
        g_sink.serviceHsz = service.get();
        g_sink.topicHsz = topic.get();
        if (!DdeNameService(instance.get(), service.get(), nullptr, DNS_REGISTER))
            throw std::runtime_error("cannot register the service");
        std::printf("ready %s|%s\n", g_sink.service.c_str(), g_sink.topic.c_str());
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
        DdeNameService(instance.get(), service.get(), nullptr, DNS_UNREGISTER);
        std::printf("done after %ld poke(s)\n", g_sink.received);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ddesink: %s\n", e.what());
        std::fclose(g_sink.out);
        return 1;
    }
    std::fclose(g_sink.out);
    return 0;
}
