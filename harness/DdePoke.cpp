// Test DDE client standing in for the chat add-on's outgoing side: pokes each TEXT into a
// DDE server on item "" and reports the acknowledgement.
// usage: ddepoke [--service mirc] [--topic command] [--item ITEM] [--timeout MS] [--pad N]
//                [--escapes] TEXT...
// --escapes turns \r, \n and \\ in the texts into CR, LF and a backslash; --pad N appends N 'x'.
#include "harness/kit/DdeClients.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

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
    std::optional<velkor::kit::DdemlClient> client;
    try {
        client.emplace();
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return 2;
    }
    if (!client->Connect(service, topic)) {
        std::printf("connect %s|%s failed, error 0x%X\n", service.c_str(), topic.c_str(),
                    client->LastError());
        return 2;
    }
    int rc = 0;
    for (const std::string& raw : texts) {
        std::string text = escapes ? Unescape(raw) : raw;
        text.append(pad, 'x');
        // With its zero byte. A refused poke still returns: only the result word tells.
        const velkor::kit::TransactionResult r =
            client->Poke(item, std::string_view(text.c_str(), text.size() + 1), CF_TEXT, timeout);
        if (!r.returned) {
            std::printf("poke failed, error 0x%X\n", r.error);
            rc = 1;
        } else if (!r.Acked()) {
            std::printf("poke refused 0x%04lX\n", static_cast<unsigned long>(r.status));
            rc = 1;
        } else {
            std::printf("poke acked 0x%04lX\n", static_cast<unsigned long>(r.status));
        }
        std::fflush(stdout);
    }
    return rc;
}
