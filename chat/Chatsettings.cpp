// Chat settings: status texts and the reading of dialog entries.
#include "chat/Chatsettings.h"

#include <limits>

namespace velkor::chat {

std::string StatusLineText(const TChatSettings& settings) {
    std::string line = "Server: " + settings.ServerName;
    line += "   Channel: " + settings.ChannelName;
    line += "   Key: " + settings.KeyString;
    line += settings.EncryptionOn ? "   Encryption: On" : "   Encryption: Off";
    return line;
}

std::string InputStatusText(std::size_t length, std::size_t caret) {
    return std::to_string(length) + " : " + std::to_string(caret);
}

namespace {

int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

} // namespace

std::optional<std::int32_t> ParseInteger(std::string_view entry) {
    std::size_t pos = entry.find_first_not_of(' ');
    if (pos == std::string_view::npos) return std::nullopt;
    bool negative = false;
    int base = 10;
    if (entry[pos] == '$') {
        base = 16;
        ++pos;
    } else if (entry[pos] == '+' || entry[pos] == '-') {
        negative = entry[pos] == '-';
        ++pos;
    }
    if (pos == entry.size()) return std::nullopt;

    // Accumulate the magnitude in 64 bits and stop as soon as it leaves the 32-bit range,
    // so any number of leading zeros is fine and no overflow can occur.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; pos < entry.size(); ++pos) {
        const int digit = DigitValue(entry[pos], base);
        if (digit < 0) return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t ReadInteger(std::string_view entry, std::int32_t fallback) {
    return ParseInteger(entry).value_or(fallback);
}

TDialogText DialogText(TSettingDialog dialog) {
    switch (dialog) {
    case TSettingDialog::SetKey:
        return {"Encryption Key", "Key String"};
    case TSettingDialog::Channel:
        return {"Monitoring Channel", "Channel Name"};
    case TSettingDialog::BufferLines:
        return {"Display Buffer Size", "Size"};
    case TSettingDialog::CommandBuffer:
        return {"Command Buffer Size", "Size"};
    case TSettingDialog::ServerID:
        return {"DDEServer Name", "Server"};
    }
    return {};
}

std::string DialogStartText(const TChatSettings& settings, TSettingDialog dialog) {
    switch (dialog) {
    case TSettingDialog::SetKey:
        return settings.KeyString;
    case TSettingDialog::Channel:
        return settings.ChannelName;
    case TSettingDialog::BufferLines:
        return std::to_string(settings.DisplayBufferSize);
    case TSettingDialog::CommandBuffer:
        return std::to_string(settings.CommandBufferSize);
    case TSettingDialog::ServerID:
        return settings.ServerName;
    }
    return {};
}

void ApplyDialogEntry(TChatSettings& settings, TSettingDialog dialog,
                      const std::optional<std::string>& entry) {
    if (!entry) return;
    switch (dialog) {
    case TSettingDialog::SetKey:
        // An empty entry keeps the previous key.
        if (!entry->empty()) settings.KeyString = *entry;
        break;
    case TSettingDialog::Channel:
        settings.ChannelName = *entry;
        break;
    case TSettingDialog::BufferLines:
        settings.DisplayBufferSize = ReadInteger(*entry);
        break;
    case TSettingDialog::CommandBuffer:
        settings.CommandBufferSize = ReadInteger(*entry);
        break;
    case TSettingDialog::ServerID:
        settings.ServerName = *entry;
        break;
    }
}

} // namespace velkor::chat
