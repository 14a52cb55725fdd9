// Chat settings: start values, status texts, integer entries and the settings dialogs.
#include "chat/Chatsettings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace velkor::chat;

TEST(ChatSettings, StartValues) {
    const TChatSettings s;
    EXPECT_EQ(s.KeyString, "Enter Key!");
    EXPECT_EQ(s.ChannelName, "#velkor");
    EXPECT_EQ(s.ServerName, "mirc");
    EXPECT_EQ(s.TopicName, "command");
    EXPECT_EQ(s.DisplayBufferSize, 200);
    EXPECT_EQ(s.CommandBufferSize, 80);
    EXPECT_FALSE(s.EncryptionOn);
}

TEST(ChatSettings, StatusLineText) {
    struct Row {
        TChatSettings settings;
        std::string expected;
    };
    const Row rows[] = {
        {{}, "Server: mirc   Channel: #velkor   Key: Enter Key!   Encryption: Off"},
        {{.EncryptionOn = true},
         "Server: mirc   Channel: #velkor   Key: Enter Key!   Encryption: On"},
        {{.KeyString = "k", .ChannelName = "", .ServerName = "", .EncryptionOn = true},
         "Server:    Channel:    Key: k   Encryption: On"},
        {{.KeyString = "sec ret", .ChannelName = "#a b", .ServerName = "mirc2"},
         "Server: mirc2   Channel: #a b   Key: sec ret   Encryption: Off"},
        // Sizes and topic are not part of the line.
        {{.TopicName = "x", .DisplayBufferSize = 5, .CommandBufferSize = 6},
         "Server: mirc   Channel: #velkor   Key: Enter Key!   Encryption: Off"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(StatusLineText(row.settings), row.expected);
    }
}

TEST(ChatSettings, InputStatusText) {
    EXPECT_EQ(InputStatusText(5, 5), "5 : 5");
    EXPECT_EQ(InputStatusText(0, 0), "0 : 0");
    EXPECT_EQ(InputStatusText(12, 3), "12 : 3");
}

TEST(ChatSettings, IntegerEntries) {
    struct Row {
        std::string entry;
        std::optional<std::int32_t> value;
    };
    const Row rows[] = {
        {" 50", 50},
        {"   -12", -12},
        {"50 ", std::nullopt},
        {"$20", 32},
        {"$ff", 255},
        {"$1A", 26},
        {"-7", -7},
        {"+7", 7},
        {"0", 0},
        {"-0", 0},
        {"0000000000000000000042", 42},
        {"$00000000000FF", 255},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"-2147483648", INT32_MIN},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"$7FFFFFFF", 2147483647},
        {"$80000000", std::nullopt},
        {"$FFFFFFFF", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"$", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"0x10", std::nullopt},
        {"-$10", std::nullopt},
        {"$-1", std::nullopt},
        {"$g", std::nullopt},
        {"- 1", std::nullopt},
        {"--1", std::nullopt},
        {"1 2", std::nullopt},
        {"5a", std::nullopt},
        {"\t5", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseInteger(row.entry), row.value) << '"' << row.entry << '"';
        EXPECT_EQ(ReadInteger(row.entry), row.value ? *row.value : 200) << '"' << row.entry << '"';
    }
    EXPECT_EQ(ReadInteger("x", 80), 80);
}

TEST(ChatSettings, DialogStartTextOfSizesIsDecimal) {
    const TChatSettings settings{.DisplayBufferSize = -5, .CommandBufferSize = 2147483647};
    EXPECT_EQ(DialogStartText(settings, TSettingDialog::BufferLines), "-5");
    EXPECT_EQ(DialogStartText(settings, TSettingDialog::CommandBuffer), "2147483647");
}

TEST(ChatSettings, DialogEntries) {
    struct Row {
        TSettingDialog dialog;
        std::optional<std::string> entry; // std::nullopt: cancelled
        TChatSettings expected;
    };
    using D = TSettingDialog;
    const Row rows[] = {
        {D::SetKey, "", {}},
        {D::SetKey, "secret", {.KeyString = "secret"}},
        {D::SetKey, " ", {.KeyString = " "}},
        {D::SetKey, std::nullopt, {}},
        {D::Channel, "", {.ChannelName = ""}},
        {D::Channel, "  #x ", {.ChannelName = "  #x "}},
        {D::Channel, std::nullopt, {}},
        {D::BufferLines, "letters", {.DisplayBufferSize = 200}},
        {D::BufferLines, " 50", {.DisplayBufferSize = 50}},
        {D::BufferLines, "50 ", {.DisplayBufferSize = 200}},
        {D::BufferLines, "$20", {.DisplayBufferSize = 32}},
        {D::BufferLines, "-3", {.DisplayBufferSize = -3}},
        {D::CommandBuffer, "letters", {.CommandBufferSize = 200}},
        {D::CommandBuffer, "0", {.CommandBufferSize = 0}},
        {D::CommandBuffer, std::nullopt, {.CommandBufferSize = 80}},
        {D::ServerID, "", {.ServerName = ""}},
        {D::ServerID, "mirc2", {.ServerName = "mirc2"}},
        {D::ServerID, std::nullopt, {}},
    };
    for (const auto& row : rows) {
        TChatSettings settings;
        ApplyDialogEntry(settings, row.dialog, row.entry);
        EXPECT_EQ(settings, row.expected)
            << static_cast<int>(row.dialog) << " \"" << row.entry.value_or("<cancel>") << '"';
    }
}
