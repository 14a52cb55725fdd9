// Cuts the byte stream from the IRC server into lines.
#include "harness/ircpeer/LineFramer.h"

namespace ircpeer {

std::vector<std::string> LineFramer::Feed(std::string_view bytes) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        std::size_t lf = bytes.find('\n');
        std::string_view piece = bytes.substr(0, lf);
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
        if (discarding_) {
            dropped_ += piece.size();
        } else if (pending_.size() + piece.size() > kMaxPending) {
            dropped_ += pending_.size() + piece.size();
            pending_.clear();
            discarding_ = true;
        } else {
            pending_.append(piece);
        }
        if (lf == std::string_view::npos) break;
        if (!discarding_) {
            if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
            if (!pending_.empty()) lines.push_back(std::move(pending_));
        }
        pending_.clear();
        discarding_ = false;
    }
    return lines;
}

std::size_t LineFramer::TakeDroppedBytes() {
    std::size_t n = dropped_;
    dropped_ = 0;
    return n;
}

} // namespace ircpeer
