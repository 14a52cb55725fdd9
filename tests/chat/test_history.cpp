// Command history: trimming by the command buffer size and the arrow-key recall.
#include "chat/History.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace velkor::chat;

namespace {

constexpr std::uint16_t Up = 38;
constexpr std::uint16_t Down = 40;

std::string Line(int n) {
    return "line " + std::to_string(n);
}

} // namespace

TEST(CommandHistory, HundredSendsWithSize80) {
    TCommandHistory history;
    for (int n = 0; n < 100; ++n)
        history.AddToHistory(Line(n), 80);

    ASSERT_EQ(history.CommandHistory().size(), 81u);
    EXPECT_EQ(history.CommandHistory().front(), Line(19));
    EXPECT_EQ(history.CommandHistory().back(), Line(99));
    EXPECT_EQ(history.HistoryIndex(), 81u);

    // Up walks back from the newest to the oldest and then keeps showing the oldest.
    for (int press = 1; press <= 100; ++press) {
        const int expected = press <= 81 ? 100 - press : 19;
        EXPECT_EQ(history.Recall(Up), Line(expected)) << "up press " << press;
    }
    EXPECT_EQ(history.HistoryIndex(), 0u);
    // Down walks forward to the newest and then keeps showing it.
    for (int press = 1; press <= 100; ++press) {
        const int expected = press <= 80 ? 19 + press : 99;
        EXPECT_EQ(history.Recall(Down), Line(expected)) << "down press " << press;
    }
    EXPECT_EQ(history.HistoryIndex(), 80u);
}

TEST(CommandHistory, Scripts) {
    struct Step {
        std::optional<std::string> send; // a line sent, or a key press when absent
        std::uint16_t key = 0;
        std::optional<std::string> shown{}; // what the key press gives the input box
        std::int32_t size = 80;             // CommandBufferSize at the time of a send
    };
    struct Script {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> entries;
        std::size_t index;
    };
    const Script scripts[] = {
        {"empty history ignores the arrows", {{{}, Up}, {{}, Down}}, {}, 0},
        {"down right after a send leaves the input box",
         {{"a"}, {{}, Down}, {{}, Up, "a"}, {{}, Up, "a"}, {{}, Down, "a"}},
         {"a"},
         0},
        {"walk and other keys",
         {{"a"},
          {"b"},
          {"c"},
          {{}, Up, "c"},
          {{}, Up, "b"},
          {{}, 65},
          {{}, Down, "c"},
          {{}, Down, "c"}},
         {"a", "b", "c"},
         2},
        {"down after up from one past the newest",
         {{"a"}, {"b"}, {{}, Down}, {{}, Up, "b"}},
         {"a", "b"},
         1},
        {"size 0 keeps the newest line",
         {{"a", 0, {}, 0}, {"b", 0, {}, 0}, {"c", 0, {}, 0}},
         {"c"},
         1},
        {"negative size counts as 0",
         {{"a", 0, {}, -5}, {"b", 0, {}, -5}, {"c", 0, {}, -5}, {{}, Up, "c"}},
         {"c"},
         0},
        {"size 2 holds three",
         {{"a", 0, {}, 2}, {"b", 0, {}, 2}, {"c", 0, {}, 2}, {"d", 0, {}, 2}, {"e", 0, {}, 2}},
         {"c", "d", "e"},
         3},
        {"lowering the size does not shrink",
         {{"a"}, {"b"}, {"c"}, {"d"}, {"e"}, {"f", 0, {}, 2}, {"g", 0, {}, 2}},
         {"c", "d", "e", "f", "g"},
         5},
        {"empty lines are entries", {{""}, {{}, Up, ""}}, {""}, 0},
        {"a recalled line sent again is a new entry",
         {{"a"}, {"b"}, {{}, Up, "b"}, {{}, Up, "a"}, {"a"}, {{}, Up, "a"}, {{}, Up, "b"}},
         {"a", "b", "a"},
         1},
    };
    for (const auto& script : scripts) {
        SCOPED_TRACE(script.name);
        TCommandHistory history;
        for (std::size_t i = 0; i < script.steps.size(); ++i) {
            const Step& step = script.steps[i];
            if (step.send) {
                history.AddToHistory(*step.send, step.size);
            } else {
                EXPECT_EQ(history.Recall(step.key), step.shown) << "step " << i;
            }
        }
        EXPECT_EQ(history.CommandHistory(), script.entries);
        EXPECT_EQ(history.HistoryIndex(), script.index);
    }
}
