// DdeText: the text rules of the DDE unit that need no platform: the service name taken
// from the executable's path, and the conversion between a server item's value and text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkor::chat {

// The part of `path` after its last ":" or "\", at most 255 characters, cut before its
// first full stop.
std::string ServiceNameFromPath(std::string_view path);

// The bytes up to the first zero byte, or all of them when there is none.
std::string_view UpToFirstZero(std::string_view bytes);

// Each CR, each LF and each CR LF pair ends a line; a break at the very end adds no empty
// line, and empty text gives no lines.
std::vector<std::string> SplitLines(std::string_view text);

// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

} // namespace velkor::chat
