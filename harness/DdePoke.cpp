// Test DDE client standing in for the chat add-on's outgoing side: pokes each TEXT into a
// DDE server on item "" and reports the acknowledgement.
// usage: ddepoke [--service mirc] [--topic command] [--item ITEM] [--timeout MS] [--pad N]
//                [--escapes] TEXT...
// --escapes turns \r, \n and \\ in the texts into CR, LF and a backslash; --pad N appends N 'x'.
#include "dde/DdeHandles.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

HDDEDATA CALLBACK Callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::string service = "mirc", topic = "command", item = "\"\"";
    DWORD timeout = 10000;
    std::size_t pad = 0;
    bool escapes = false;
    std::vector<std::string> texts;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--service")
            service = value();
        else if (arg == "--topic")
            topic = value();
        else if (arg == "--item")
            item = value();
        else if (arg == "--timeout")
            timeout = static_cast<DWORD>(std::atol(value().c_str()));
        else if (arg == "--pad")
            pad = static_cast<std::size_t>(std::atol(value().c_str()));
        else if (arg == "--escapes")
            escapes = true;
        else
            texts.push_back(arg);
    }
    velkor::DdeInstance instance;
    if (const UINT rc = velkor::InitializeDdeInstance(instance, &Callback,
                                                      APPCLASS_STANDARD | APPCMD_CLIENTONLY)) {
        std::printf("DdeInitialize failed, error 0x%X\n", rc);
        return 2;
    }
    velkor::DdeString serviceHsz(instance.get(), service);
    velkor::DdeString topicHsz(instance.get(), topic);
    velkor::DdeString itemHsz(instance.get(), item);
    velkor::DdeConv conv(DdeConnect(instance.get(), serviceHsz.get(), topicHsz.get(), nullptr));
    if (!conv) {
        std::printf("connect %s|%s failed, error 0x%X\n", service.c_str(), topic.c_str(),
                    DdeGetLastError(instance.get()));
        return 2;
    }
    int rc = 0;
    for (const std::string& raw : texts) {
        std::string text = escapes ? Unescape(raw) : raw;
        text.append(pad, 'x');
        DWORD result = 0;
        HDDEDATA done = DdeClientTransaction(reinterpret_cast<LPBYTE>(text.data()),
                                             static_cast<DWORD>(text.size() + 1), conv.get(),
                                             itemHsz.get(), CF_TEXT, XTYP_POKE, timeout, &result);
        // A refused poke still returns non-zero: only the result word tells.
        if (!done) {
            std::printf("poke failed, error 0x%X\n", DdeGetLastError(instance.get()));
            rc = 1;
        } else if (!(result & DDE_FACK)) {
            std::printf("poke refused 0x%04lX\n", static_cast<unsigned long>(result));
            rc = 1;
        } else {
            std::printf("poke acked 0x%04lX\n", static_cast<unsigned long>(result));
        }
        std::fflush(stdout);
    }
    return rc;
}
