// The line paths end to end with the real line codec: what one user types, as the other
// user's IRC client pokes it into that user's window.
#include "chat/Chatsession.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace velkor;
using namespace velkor::chat;

namespace {

// One user's window: settings, cipher component and the session on them.
struct User {
    explicit User(bool encrypt) {
        settings.KeyString = "sesame";
        settings.EncryptionOn = encrypt;
    }
    TChatSettings settings;
    TIDEA cipher;
    TChatSession session{settings, cipher};
};

constexpr std::string_view Wire = "{wire}"; // the wire text of alice's line, whatever it is

std::string WithWire(std::string text, const std::string& wire) {
    if (const auto at = text.find(Wire); at != std::string::npos)
        text.replace(at, Wire.size(), wire);
    return text;
}

} // namespace

TEST(ChatSession, TypedAndPokedLines) {
    struct Row {
        const char* name;
        bool encrypt;                       // both users
        std::optional<std::string> typed;   // alice's line; nullopt: she types nothing
        std::optional<std::string> command; // to alice's IRC client; nullopt: refused
        std::string poke;                   // bob's IRC client pokes it; "": nothing
        std::optional<std::string> shown;   // bob's display line; nullopt: dropped
    };
    const Row rows[] = {
        {"plain line", false, "hello", "/msg #velkor hello", "#velkor alice hello",
         "<alice> hello"},
        {"enciphered line", true, "hello world", "/msg #velkor {wire}", "#velkor alice {wire}",
         "<alice> hello world"},
        {"command line goes plain", true, "/join #other", "/join #other", "", std::nullopt},
        {"over the limit", false, std::string(257, 'a'), std::nullopt, "", std::nullopt},
        // 200 characters would pass as they are; their wire text has 269.
        {"over the limit once enciphered", true, std::string(200, 'a'), std::nullopt, "",
         std::nullopt},
        {"poke for another channel", true, "hello", "/msg #velkor {wire}", "#other alice {wire}",
         std::nullopt},
        {"refused wire text", true, std::nullopt, std::nullopt, "#velkor alice 0abc", "<alice> "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        User alice(row.encrypt), bob(row.encrypt);
        std::string wire;
        if (row.typed) {
            const TOutgoingLine out = alice.session.Outgoing(*row.typed);
            ASSERT_EQ(out.Accepted, row.command.has_value());
            if (!out.Accepted) {
                EXPECT_EQ(out.Refusal, OverLimitMessage);
                EXPECT_EQ(out.Command + out.Echo + out.History, "");
                continue;
            }
            EXPECT_EQ(out.Echo, *row.typed);
            EXPECT_EQ(out.History, *row.typed);
            const auto at = row.command->find(Wire);
            if (at == std::string::npos) {
                EXPECT_EQ(out.Command, *row.command);
            } else {
                ASSERT_EQ(out.Command.substr(0, at), row.command->substr(0, at));
                wire = out.Command.substr(at);
                EXPECT_EQ(wire.find(*row.typed), std::string::npos) << "sent in clear: " << wire;
            }
        }
        if (!row.poke.empty()) {
            EXPECT_EQ(bob.session.Incoming(WithWire(row.poke, wire)), row.shown);
        }
    }
}

// A paste goes out line by line on the typed-line path; nothing when one line is refused.
TEST(ChatSession, InputGoesOutLineByLine) {
    using Lines = std::vector<std::string>;
    const struct {
        bool encrypt;
        std::string input;
        std::optional<Lines> lines; // nullopt: refused
    } rows[] = {
        {true, "/me is here\r\nthe secret plan is at noon",
         Lines{"/me is here", "the secret plan is at noon"}},
        {false, "a\n\nb\rc\r\n\r\n", Lines{"a", "b", "c"}},
        {true, "\r\nhi\n", Lines{"hi"}},
        {false, "", Lines{""}}, // a box without a break is one line, even empty
        {false, "\r\n\n\r", Lines{}},
        {false, "ok\r\n" + std::string(257, 'a'), std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        User alice(row.encrypt), bob(row.encrypt);
        const std::vector<TOutgoingLine> outs = alice.session.OutgoingLines(row.input);
        ASSERT_EQ(outs.size(), row.lines ? row.lines->size() : 1);
        for (std::size_t i = 0; i < outs.size(); ++i) {
            const std::string typed = row.lines ? (*row.lines)[i] : "";
            EXPECT_EQ(outs[i].Refusal, row.lines ? "" : OverLimitMessage);
            EXPECT_EQ(outs[i].Echo + "|" + outs[i].History, typed + "|" + typed);
            if (typed.starts_with('/') || !row.lines) {
                EXPECT_EQ(outs[i].Command, typed);
            } else {
                ASSERT_EQ(outs[i].Command.substr(0, 13), "/msg #velkor ");
                const std::string wire = outs[i].Command.substr(13);
                EXPECT_EQ(row.encrypt, wire != typed) << wire;
                EXPECT_EQ(bob.session.Incoming("#velkor alice " + wire), "<alice> " + typed);
            }
        }
    }
}
