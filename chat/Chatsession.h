// Chatsession: the chat window's two line paths on its settings and its cipher component: a
// typed line becomes what goes to the IRC client, the echo and the history entry, or the
// refusal; a line poked by the IRC client becomes the display line, or nothing.
#pragma once

#include "chat/Chatlines.h"
#include "crypto/Ideaunit.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::chat {

// What the send action does with a typed line. Accepted: poke Command to the IRC client,
// AddToDisplay(Echo), AddToHistory(History), clear the input box. Refused: show Refusal;
// nothing is sent, echoed or recorded and the input box keeps its text.
struct TOutgoingLine {
    bool Accepted = false;
    std::string Command;
    std::string Echo;
    std::string History;
    std::string_view Refusal;
};

class TChatSession {
  public:
    // Reads the settings as they are at each call; borrows the cipher for each line.
    // `toAnsi` shows plain UTF-8 lines in the ANSI code page (see IncomingDisplayLine).
    TChatSession(const TChatSettings& settings, TIDEA& cipher, TAnsiFromUtf16 toAnsi = {});

    TOutgoingLine Outgoing(const std::string& line);
    // The input box's text as the lines that go out, each on its own path in order (see
    // InputLines); or, when one of them is refused, that one alone and nothing goes.
    std::vector<TOutgoingLine> OutgoingLines(const std::string& input);
    // The display line of a poke ("<nick> text"), or nullopt when the poke is dropped.
    std::optional<std::string> Incoming(std::string_view poked);

  private:
    const TChatSettings& settings_;
    TIDEA& cipher_;
    TAnsiFromUtf16 toAnsi_;
};

} // namespace velkor::chat
