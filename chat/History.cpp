// Command history: trimming on add and the arrow-key walk through the entries.
#include "chat/History.h"

#include <algorithm>

namespace velkor::chat {

void TCommandHistory::AddToHistory(std::string_view text, std::int32_t commandBufferSize) {
    const auto size = static_cast<std::size_t>(std::max<std::int32_t>(commandBufferSize, 0));
    if (entries_.size() > size) entries_.erase(entries_.begin());
    entries_.emplace_back(text);
    index_ = entries_.size();
}

std::optional<std::string> TCommandHistory::Recall(std::uint16_t key) {
    if (entries_.empty()) return std::nullopt;
    if (key == KeyUp) {
        if (index_ > 0) --index_;
    } else if (key == KeyDown) {
        if (index_ + 1 < entries_.size()) ++index_;
    } else {
        return std::nullopt;
    }
    if (index_ >= entries_.size()) return std::nullopt;
    return entries_[index_];
}

} // namespace velkor::chat
