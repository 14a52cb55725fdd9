// Command history of the input box: the lines sent, oldest first, and the up/down recall.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::chat {

class TCommandHistory {
  public:
    static constexpr std::uint16_t KeyUp = 38;   // virtual key code of the up arrow
    static constexpr std::uint16_t KeyDown = 40; // virtual key code of the down arrow

    // Records a sent line. The oldest entry goes first when the history already holds more
    // than commandBufferSize entries; a negative size counts as 0.
    void AddToHistory(std::string_view text, std::int32_t commandBufferSize);

    // The key press of the input box: the text the input box is to show, or std::nullopt
    // to leave it as it is (an empty history, another key, or a down arrow right after a
    // send, where there is no entry to show).
    std::optional<std::string> Recall(std::uint16_t key);

    const std::vector<std::string>& CommandHistory() const { return entries_; }
    std::size_t HistoryIndex() const { return index_; }

  private:
    std::vector<std::string> entries_;
    std::size_t index_ = 0; // 0 .. entries_.size(); the size means one past the newest
};

} // namespace velkor::chat
