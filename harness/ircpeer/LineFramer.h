// Cuts the byte stream from the IRC server into lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ircpeer {

class LineFramer {
  public:
    // A line longer than this without a line end is dropped and counted, so a broken
    // server cannot make the buffer grow without end.
    static constexpr std::size_t kMaxPending = 16384;

    // Adds received bytes and returns the lines they complete, without CR LF.
    // A line ends at LF; a CR before it is removed. Empty lines are skipped.
    std::vector<std::string> Feed(std::string_view bytes);

    // Bytes dropped from over-long lines since the last call (0 when none).
    std::size_t TakeDroppedBytes();

  private:
    std::string pending_;
    bool discarding_ = false;
    std::size_t dropped_ = 0;
};

} // namespace ircpeer
