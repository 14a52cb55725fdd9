// Inputquery: the modal input-query dialog of the settings commands: a caption, a prompt,
// a one-line field of at most 255 characters holding the current value fully selected,
// and the buttons "OK" (default) and "Cancel", centred on the screen.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace velkor {

inline constexpr int InputQueryFieldId = 100;
inline constexpr int InputQueryMaxLength = 255;

// The edited text when OK was pressed; nullopt for Cancel or the close box.
std::optional<std::string> InputQuery(HWND owner, const std::string& caption,
                                      const std::string& prompt, const std::string& value);

} // namespace velkor
