// The chat window's line paths: the decision on a typed line, the reading of a line poked
// by the IRC client, and the trim-and-scroll rule of the display.
#pragma once

#include "Chatsettings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The line codec step in either direction: (text, key) -> text; the empty text on refusal.
using TLineTransform = std::function<std::string(const std::string& text, const std::string& key)>;

inline constexpr std::size_t WireLimit = 256;       // longest message the IRC client is given
inline constexpr std::size_t CodecLineLimit = 1024; // longest line the codec can encipher
inline constexpr std::string_view OverLimitMessage =
    "Your message exceeds IRC limits, please restate";

// What SendClick does with a typed line. Accepted: poke Command, AddToDisplay(Echo), add the
// typed line to the history and clear the input box. Refused: show OverLimitMessage and
// change nothing; the input box keeps its text.
struct TSendDecision {
    bool Accepted = false;
    std::string Command;
    std::string Echo;
};

TSendDecision DecideSend(const std::string& line, const TChatSettings& settings,
                         const TLineTransform& encrypt);

// A poke of the IRC client: channel, space, nick, space, message text.
struct TPokedLine {
    std::string Channel;
    std::string Nick;
    std::string Text;
};

TPokedLine SplitPokedLine(std::string_view data);

// Channel names compare without regard to the case of ASCII letters; other bytes must match.
bool SameChannel(std::string_view a, std::string_view b);

// The display line for a poke ("<nick> text"), or std::nullopt when the poke is dropped:
// another channel, or with encryption on a text that does not start with "0", "1" or "2".
std::optional<std::string> IncomingDisplayLine(std::string_view data, const TChatSettings& settings,
                                               const TLineTransform& decrypt);

// The display as AddToDisplay sees it; the rich-text control implements it on Windows.
class TChatDisplay {
  public:
    virtual ~TChatDisplay() = default;
    virtual std::int32_t LineCount() const = 0; // without the empty position after the last break
    virtual void DeleteFirstLine() = 0;
    virtual void AppendLine(std::string_view text) = 0; // the display adds a line break after it
    virtual void ScrollLines(std::int32_t lines) = 0;
};

// Lines to delete from the top before an append: one when the count exceeds the size, so a
// display that grows line by line holds at most size + 1 lines (a size below 0 counts as 0).
constexpr std::int32_t DisplayLinesToDelete(std::int32_t lineCount,
                                            std::int32_t displayBufferSize) {
    const std::int32_t size = displayBufferSize < 0 ? 0 : displayBufferSize;
    return lineCount > size ? 1 : 0;
}

// Appends a text as a new last line, trimming first and then scrolling the view down by as
// many lines as the append produced. An empty text adds nothing.
void AddToDisplay(TChatDisplay& display, std::string_view text, std::int32_t displayBufferSize);
