// The DDE unit's text rules (service name from the path, value lines) and the texts of a
// DDE error at start.
#include "app/Starttext.h"
#include "dde/DdeText.h"

#include <gtest/gtest.h>

using namespace velkor;

TEST(DdeText, ServiceNameFromPath) {
    const std::string longName(300, 'n');
    const struct {
        std::string path;
        std::string service;
    } cases[] = {
        {"C:\\Program Files\\velkor\\velkor.exe", "velkor"},
        {"C:\\dir.with.dots\\Velkor.EXE", "Velkor"},
        {"C:\\bin\\renamed.v2.exe", "renamed"},
        {"C:velkor.exe", "velkor"},
        {"\\\\server\\share\\chat.exe", "chat"},
        {"velkor", "velkor"},
        {"C:\\bin\\noext", "noext"},
        {"C:\\bin\\.hidden", ""},
        {"C:\\bin\\", ""},
        {"C:\\bin\\" + longName + ".exe", longName.substr(0, 255)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ServiceNameFromPath(c.path), c.service) << c.path;
}

TEST(DdeText, SplitLinesAndJoin) {
    using Lines = std::vector<std::string>;
    const struct {
        std::string text;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\r\ntwo", {"one", "two"}},
        {"one\r\ntwo\r\n", {"one", "two"}},
        {"one\ntwo\rthree", {"one", "two", "three"}},
        {"one\n\ntwo", {"one", "", "two"}},
        {"one\r\rtwo", {"one", "", "two"}},
        {"one\n\rtwo", {"one", "", "two"}}, // LF CR is two breaks, not one pair
        {"\r\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"#chan nick 0abc", {"#chan nick 0abc"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitLines(c.text), c.lines) << '"' << c.text << '"';
    EXPECT_EQ(JoinLines({}), "");
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(DdeText, UpToFirstZero) {
    using namespace std::string_view_literals;
    EXPECT_EQ(UpToFirstZero("abc\0def"sv), "abc");
    EXPECT_EQ(UpToFirstZero("\0abc"sv), "");
    EXPECT_EQ(UpToFirstZero("no zero"sv), "no zero");
}

TEST(DdeError, Messages) {
    const struct {
        unsigned code;
        const char* message;
    } cases[] = {
        {0x4007, "Error occurred when DDE ran out of memory ($04007)"},
        {0x4008, "Error occurred when DDE ran out of memory ($04008)"},
        {0x400A, "DDE Error - conversation not established ($0400A)"},
        {0x4006, "An error returned from DDE  ($04006)"},
        {0x400C, "An error returned from DDE  ($0400C)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DdeErrorMessage(c.code), c.message);
}

TEST(DdeError, StartupErrorText) {
    const void* address = reinterpret_cast<const void*>(0x4015A0);
    char expectedAddress[32];
    std::snprintf(expectedAddress, sizeof expectedAddress, "%p", address);
    EXPECT_EQ(StartupErrorText("EDdeError", "velkor.exe", address,
                               "DDE Error - conversation not established ($0400A)"),
              std::string("Exception EDdeError in module velkor.exe at ") + expectedAddress +
                  ".\nDDE Error - conversation not established ($0400A).");
    EXPECT_EQ(StartupErrorText("E", "m.exe", address, "Ends with a stop."),
              std::string("Exception E in module m.exe at ") + expectedAddress +
                  ".\nEnds with a stop.");
}
