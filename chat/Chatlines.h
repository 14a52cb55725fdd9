// The chat window's line paths: the decision on a typed line, the reading of a line poked
// by the IRC client, and the trim-and-scroll rule of the display.
#pragma once

#include "chat/Chatsettings.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::chat {

// The line codec step in either direction: (text, key) -> text; the empty text on refusal.
using TLineTransform = std::function<std::string(const std::string& text, const std::string& key)>;

inline constexpr std::size_t WireLimit = 256;       // longest message the IRC client is given
inline constexpr std::size_t CodecLineLimit = 1024; // longest line the codec can encipher
inline constexpr std::string_view OverLimitMessage =
    "Your message exceeds IRC limits, please restate";

// What SendClick does with a typed line. Accepted: poke Command, AddToDisplay(Echo), add the
// typed line to the history and clear the input box. Refused: show OverLimitMessage and
// change nothing; the input box keeps its text. A line holding CR or LF is refused too:
// mIRC would run each of its lines as a command of its own, unenciphered.
struct TSendDecision {
    bool Accepted = false;
    std::string Command;
    std::string Echo;
};

TSendDecision DecideSend(const std::string& line, const TChatSettings& settings,
                         const TLineTransform& encrypt);

// The lines of what reached the input box (typed, pasted, dropped or set): CR, LF and CR LF
// end a line, so that each goes out on its own. A text without a line break is its one
// line, even when empty; of a text with breaks, the empty lines are skipped.
std::vector<std::string> InputLines(std::string_view text);

// Asked once before more than one line goes out: "Send N lines?".
std::string SendLinesQuestion(std::size_t count);

// A poke of the IRC client: channel, space, nick, space, message text.
struct TPokedLine {
    std::string Channel;
    std::string Nick;
    std::string Text;
};

TPokedLine SplitPokedLine(std::string_view data);

// Channel names compare without regard to the case of ASCII letters; other bytes must match.
bool SameChannel(std::string_view a, std::string_view b);

// UTF-16 text to the ANSI code page; std::nullopt when a character has no form there.
using TAnsiFromUtf16 = std::function<std::optional<std::string>(std::u16string_view text)>;

// The UTF-16 form of text that is valid UTF-8 (shortest forms, no surrogates) and holds a
// character beyond ASCII; std::nullopt for any other text.
std::optional<std::u16string> Utf8BeyondAscii(std::string_view text);

// The display line for a poke ("<nick> text"), or std::nullopt when the poke is dropped:
// another channel, or with encryption on a text that does not start with "0", "1" or "2".
// Plain text that Utf8BeyondAscii decodes is shown in the ANSI code page through `toAnsi`
// when every character has a form there, else as it came.
std::optional<std::string> IncomingDisplayLine(std::string_view data, const TChatSettings& settings,
                                               const TLineTransform& decrypt,
                                               const TAnsiFromUtf16& toAnsi = {});

// The display as AddToDisplay sees it; the rich-text control implements it on Windows.
// Character positions count a line break as the display stores it.
class TChatDisplay {
  public:
    virtual ~TChatDisplay() = default;
    virtual std::int32_t LineCount() const = 0; // without the empty position after the last break
    virtual void DeleteFirstLine() = 0;
    // Lines 0 to count - 1 go; all of them when count is LineCount() or more.
    virtual void DeleteFirstLines(std::int32_t count) = 0;
    // Appends the text and a line break; a text longer than the room left is cut to fit.
    virtual void AppendLine(std::string_view text) = 0;
    virtual void ScrollLines(std::int32_t lines) = 0;
    virtual std::int64_t TextLength() const = 0;
    virtual std::int64_t LineStart(std::int32_t line) const = 0; // 0 <= line < LineCount()
    virtual std::int64_t TextLimit() const = 0;                  // most characters it holds
    // Puts `text` (no line break) in front of the character at `position`.
    virtual void InsertText(std::int64_t position, std::string_view text) = 0;
};

// Lines to delete from the top before an append: one when the count exceeds the size, so a
// display that grows line by line holds at most size + 1 lines (a size below 0 counts as 0).
constexpr std::int32_t DisplayLinesToDelete(std::int32_t lineCount,
                                            std::int32_t displayBufferSize) {
    const std::int32_t size = displayBufferSize < 0 ? 0 : displayBufferSize;
    return lineCount > size ? 1 : 0;
}

// Longest paragraph the display is given: the rich-text control wraps a paragraph in time
// that grows with the square of its length (a poked line of 50,000 characters held the
// window for half a minute), and no IRC line comes near it.
inline constexpr std::size_t DisplayParagraphLimit = 1024;

// The text with a line break (CR LF) after every `longest` characters of a line that is
// longer; CR, LF and CR LF end a line. Nothing of the text is lost.
std::string BreakLongLines(std::string_view text, std::size_t longest);

// Characters an append of `text` is charged against the display's limit: its bytes and a
// CR LF, never less than the display stores for it.
constexpr std::int64_t DisplayAppendCost(std::string_view text) {
    return static_cast<std::int64_t>(text.size()) + 2;
}

// The character budget: the fewest oldest lines to delete so that `needed` more characters
// fit within `limit`. Line i starts at `lineStart(i)` (ascending, 0 <= i < lineCount) and
// the text is `textLength` characters long. All the lines when even an empty display is
// too small.
std::int32_t DisplayLinesToDropForRoom(std::int32_t lineCount, std::int64_t textLength,
                                       std::int64_t needed, std::int64_t limit,
                                       const std::function<std::int64_t(std::int32_t)>& lineStart);

// Appends a text as a new last line, trimming first and then scrolling the view down by as
// many lines as the append produced. An empty text adds nothing. The trim removes one line
// when the count exceeds the size and then, when the text would pass the display's character
// limit, as many of the oldest lines as make room for it. Lines longer than
// DisplayParagraphLimit are continued on the next line.
// Returns where the text begins and how many characters the trim took from the top.
struct TDisplayAppend {
    std::int64_t start = 0;
    std::int64_t removed = 0;
};
TDisplayAppend AddToDisplay(TChatDisplay& display, std::string_view text,
                            std::int32_t displayBufferSize);

// Where the echoes of lines still on their way to the IRC client are in the display, so
// that a line that fails is marked in its own echo line. Positions count characters as the
// display stores them; the display's trims and clears are told here.
class TEchoPositions {
  public:
    void Echoed(std::uint64_t id, std::int64_t position);
    void Removed(std::int64_t characters); // that many characters went from the top
    // The echo's position now, or std::nullopt when its text has gone; forgets the echo.
    std::optional<std::int64_t> Take(std::uint64_t id);
    // `characters` were inserted at `position`: later echoes move on.
    void Inserted(std::int64_t position, std::int64_t characters);
    std::size_t Size() const { return absolute_.size(); }

  private:
    std::int64_t removed_ = 0;
    std::map<std::uint64_t, std::int64_t> absolute_; // positions counted from the first text
};

// Reports the outcome of a typed line whose echo `echo` went to the display (or was empty):
// a delivered line (empty `mark`) is forgotten; a line that failed gets `mark` (the DDE
// unit's NotSentMark, "[NOT SENT: reason] ") in front of its echo,
// or, when the echo is no longer shown (trimmed, cleared or never shown), the marked echo
// is appended as a new line. Nothing typed is lost without a mark.
void ReportDelivery(TChatDisplay& display, TEchoPositions& echoes, std::uint64_t id,
                    std::string_view echo, std::string_view mark, std::int32_t displayBufferSize);

} // namespace velkor::chat
