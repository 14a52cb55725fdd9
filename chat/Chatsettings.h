// Chat settings of the main window, the status bar texts built from them, and the rules
// by which the settings dialogs turn an entry into a new setting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velkor::chat {

// One set per window; every member starts at the value the program starts with.
struct TChatSettings {
    std::string KeyString = "Enter Key!";
    std::string ChannelName = "#velkor";
    std::string ServerName = "mirc";
    std::string TopicName = "command";
    std::int32_t DisplayBufferSize = 200;
    std::int32_t CommandBufferSize = 80;
    bool EncryptionOn = false; // mirrors the check mark of the menu item "&On"

    bool operator==(const TChatSettings&) const = default;
};

// Text of status panel 1, as UpdateStatusLine writes it.
std::string StatusLineText(const TChatSettings& settings);

// Text of status panel 0: input length and caret position, e.g. "5 : 5".
std::string InputStatusText(std::size_t length, std::size_t caret);

// An entry is an integer when it is, after leading spaces, an optional sign and decimal
// digits or "$" and hexadecimal digits, with nothing after, within the signed 32-bit range.
std::optional<std::int32_t> ParseInteger(std::string_view entry);

// Value that the size dialogs give an entry that is not an integer.
inline constexpr std::int32_t SizeEntryFallback = 200;

std::int32_t ReadInteger(std::string_view entry, std::int32_t fallback = SizeEntryFallback);

enum class TSettingDialog { SetKey, Channel, BufferLines, CommandBuffer, ServerID };

struct TDialogText {
    std::string_view Caption;
    std::string_view Prompt;
};

TDialogText DialogText(TSettingDialog dialog);

// What the dialog's edit field holds when it opens.
std::string DialogStartText(const TChatSettings& settings, TSettingDialog dialog);

// Applies a confirmed entry; std::nullopt stands for Cancel and changes nothing.
void ApplyDialogEntry(TChatSettings& settings, TSettingDialog dialog,
                      const std::optional<std::string>& entry);

} // namespace velkor::chat
