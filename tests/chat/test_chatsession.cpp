// The line paths end to end with the real line codec: what one user types, as the other
// user's IRC client pokes it into that user's window.
#include "app/chat/Chatsession.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
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

// What reaches the input box (a paste, a drop) goes out line by line, each on the path a
// typed line takes; nothing goes when one line is refused.
TEST(ChatSession, InputGoesOutLineByLine) {
    using Lines = std::vector<std::pair<std::string, std::string>>; // typed line, command
    struct Row {
        const char* name;
        bool encrypt;
        std::string input;
        std::optional<Lines> out; // nullopt: refused
    };
    const Row rows[] = {
        {"command then secret, enciphered", true, "/me is here\r\nthe secret plan is at noon",
         Lines{{"/me is here", "/me is here"},
               {"the secret plan is at noon", "/msg #velkor {wire}"}}},
        {"every break style, empty lines skipped", false, "a\n\nb\rc\r\n\r\n",
         Lines{{"a", "/msg #velkor a"}, {"b", "/msg #velkor b"}, {"c", "/msg #velkor c"}}},
        {"breaks at both ends", true, "\r\nhi\n", Lines{{"hi", "/msg #velkor {wire}"}}},
        {"a box without a break is one line, even empty", false, "", Lines{{"", "/msg #velkor "}}},
        {"only breaks send nothing", false, "\r\n\n\r", Lines{}},
        {"one line over the limit stops all", false, "ok\r\n" + std::string(257, 'a'),
         std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        User alice(row.encrypt), bob(row.encrypt);
        const std::vector<TOutgoingLine> outs = alice.session.OutgoingLines(row.input);
        if (!row.out) {
            ASSERT_EQ(outs.size(), 1u);
            EXPECT_FALSE(outs[0].Accepted);
            EXPECT_EQ(outs[0].Refusal, OverLimitMessage);
            continue;
        }
        ASSERT_EQ(outs.size(), row.out->size());
        for (std::size_t i = 0; i < outs.size(); ++i) {
            const auto& [typed, command] = (*row.out)[i];
            EXPECT_TRUE(outs[i].Accepted);
            EXPECT_EQ(outs[i].Echo, typed);
            EXPECT_EQ(outs[i].History, typed);
            const auto at = command.find(Wire);
            if (at == std::string::npos) {
                EXPECT_EQ(outs[i].Command, command);
                continue;
            }
            ASSERT_EQ(outs[i].Command.substr(0, at), command.substr(0, at));
            const std::string wire = outs[i].Command.substr(at);
            EXPECT_EQ(wire.find_first_of(" \r\n"), std::string::npos) << wire;
            EXPECT_EQ(bob.session.Incoming("#velkor alice " + wire), "<alice> " + typed);
        }
    }
}
