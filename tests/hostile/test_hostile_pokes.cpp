// Hostile pokes into NONE: sizes from nothing to 16 MiB, blocks without a zero byte, other
// formats, unknown items, every byte value and line-break storms.
#include "tests/hostile/hostile_fixture.h"

#include <optional>
#include <vector>

namespace {

enum class Ack { Yes, No, Either };

std::string Bytes(int from, int to) {
    std::string s;
    for (int b = from; b <= to; ++b)
        s.push_back(static_cast<char>(b));
    return s;
}

std::string Repeat(std::string_view unit, std::size_t times) {
    std::string s;
    s.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        s += unit;
    return s;
}

bool Matches(Ack expected, bool acked) {
    return expected == Ack::Either || (expected == Ack::Yes) == acked;
}

constexpr std::size_t MiB = 1024 * 1024;

} // namespace

TEST_F(Hostile, PokesOfEverySize) {
    struct Row {
        const char* name;
        std::string data;
        DWORD timeoutMs;
        Ack ack;
        std::size_t shown; // characters the line adds to the display (0: nothing shown)
    };
    const std::string big = "#velkor big " + std::string(MiB, 'x') + '\0';
    const Row rows[] = {
        {"0 bytes", "", 5000, Ack::Either, 0},
        {"a zero byte", std::string(1, '\0'), 5000, Ack::Yes, 0},
        // Wrapping a line of a million characters keeps the window busy for seconds.
        {"1 MiB", big, 60000, Ack::Yes, 6 + MiB},
        // Wine cannot carry more than about 2 MB: the sender times out, the receiver's
        // GetMessage fails once. Either way the window must go on.
        {"3 MiB", "#velkor big " + std::string(3 * MiB, 'y') + '\0', 3000, Ack::Either, 0},
        {"16 MiB", "#velkor big " + std::string(16 * MiB, 'z') + '\0', 3000, Ack::Either, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClearDisplay();
        {
            DdemlClient client;
            ASSERT_TRUE(client.Connect());
            const TransactionResult r = client.Poke("NONE", row.data, CF_TEXT, row.timeoutMs);
            EXPECT_TRUE(Matches(row.ack, r.Acked()))
                << "status 0x" << std::hex << r.status << " error 0x" << r.error;
        }
        ASSERT_TRUE(App().Alive(30000));
        if (row.shown > 0) {
            // All of it, in paragraphs of at most 1024 characters, each with its break.
            EXPECT_GE(App().StoredLength(), row.shown + 1);
            EXPECT_LE(App().StoredLength(), row.shown + row.shown / 1024 + 2);
        } else if (row.ack != Ack::Either) {
            EXPECT_EQ(App().DisplayLength(), 0u);
        }
        EXPECT_LE(App().DisplayLength(), 2000000u);
        EXPECT_TRUE(PokeAndSee(row.name));
    }
    EXPECT_FALSE(App().MessageBoxWindow());
}

TEST_F(Hostile, RawPokesWithoutAZeroByteAreTakenAsSent) {
    RawDdeClient raw;
    ASSERT_TRUE(raw.Initiate());
    // Lengths across the allocator's alignment: the data ends where the block ends.
    for (std::size_t extra = 0; extra <= 17; ++extra) {
        const std::string text = "r" + std::string(extra, 'a' + static_cast<char>(extra % 26));
        SCOPED_TRACE(text);
        ClearDisplay();
        const auto reply = raw.Poke("", "#velkor raw " + text);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->message, static_cast<UINT>(WM_DDE_ACK));
        EXPECT_EQ(reply->status & 0x8000, 0x8000);
        EXPECT_EQ(App().DisplayLines(), std::vector<std::string>{"<raw> " + text});
    }
    EXPECT_TRUE(PokeAndSee("after unterminated"));
}

TEST_F(Hostile, OtherFormatsAreRefused) {
    const auto rtf = static_cast<UINT>(RegisterClipboardFormatA("Rich Text Format"));
    const auto own = static_cast<UINT>(RegisterClipboardFormatA("velkor hostile format"));
    struct Row {
        const char* name;
        UINT format;
        bool raw; // sent as a raw WM_DDE_POKE (GDI formats: DDEML would read the bytes as handles)
        Ack ack;
        std::u16string wide = {}; // UTF-16 text poked instead of the row's name
        std::string shown = {};   // and its line in code page 1252
    };
    const Row rows[] = {
        {"CF_TEXT (control)", CF_TEXT, true, Ack::Yes},
        {"CF_TEXT by DDEML (control)", CF_TEXT, false, Ack::Yes},
        {"format 0", 0, true, Ack::No},
        {"CF_BITMAP", CF_BITMAP, true, Ack::No},
        {"CF_METAFILEPICT", CF_METAFILEPICT, true, Ack::No},
        {"CF_OEMTEXT", CF_OEMTEXT, true, Ack::No},
        {"CF_DIB", CF_DIB, true, Ack::No},
        {"CF_PALETTE", CF_PALETTE, true, Ack::No},
        // Narrow bytes read as UTF-16 are CJK characters, without a form in code page 1252.
        {"CF_UNICODETEXT", CF_UNICODETEXT, false, Ack::No},
        {"CF_UNICODETEXT raw", CF_UNICODETEXT, true, Ack::No},
        {"CF_UNICODETEXT text", CF_UNICODETEXT, false, Ack::Yes, u"#velkor fmt caf\u00e9 \u20ac",
         "<fmt> caf\xE9 \x80"},
        {"CF_UNICODETEXT raw text", CF_UNICODETEXT, true, Ack::Yes, u"#velkor fmt \u00e9t\u00e9",
         "<fmt> \xE9t\xE9"},
        {"CF_UNICODETEXT no form", CF_UNICODETEXT, false, Ack::No, u"#velkor fmt \u4e2d"},
        {"CF_ENHMETAFILE", CF_ENHMETAFILE, true, Ack::No},
        {"Rich Text Format", rtf, false, Ack::No},
        {"a registered format", own, true, Ack::No},
        {"format 0xFFFF", 0xFFFF, true, Ack::No},
    };
    RawDdeClient raw;
    ASSERT_TRUE(raw.Initiate());
    DdemlClient client;
    ASSERT_TRUE(client.Connect());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClearDisplay();
        // Eight bytes and more: room for a handle of any GDI format.
        std::string text = std::string("#velkor fmt ") + row.name + '\0';
        if (!row.wide.empty())
            text.assign(reinterpret_cast<const char*>(row.wide.c_str()),
                        (row.wide.size() + 1) * sizeof(char16_t));
        bool acked = false;
        if (row.raw) {
            const auto reply = raw.Poke("", text, static_cast<short>(row.format));
            ASSERT_TRUE(reply) << "no answer";
            acked = Acked(reply);
        } else {
            acked = client.Poke("NONE", text, row.format).Acked();
        }
        EXPECT_EQ(acked, row.ack == Ack::Yes);
        EXPECT_EQ(App().DisplayLines().size(), row.ack == Ack::Yes ? 1u : 0u);
        if (!row.shown.empty()) {
            EXPECT_EQ(App().DisplayLines(), std::vector{row.shown});
        }
        ASSERT_TRUE(PokeAndSee(row.name));
    }
}

TEST_F(Hostile, UnknownItemsAreRefused) {
    struct Row {
        std::string item;
        bool raw;
        Ack ack;
    };
    const Row rows[] = {
        {"NONE", false, Ack::Yes}, // controls: the item and the empty name reach NONE
        {"", true, Ack::Yes},
        {"NONE", true, Ack::Yes},
        {"\"\"", false, Ack::Yes}, // what a script's /dde writes for the empty item
        {"\"\"", true, Ack::Yes},
        {"\"\"\"", false, Ack::No},
        {"NONE2", false, Ack::No},
        {"NON", false, Ack::No},
        {"NONE ", false, Ack::No},
        {"Display", false, Ack::No}, // components of the window that are not server items
        {"say", false, Ack::No},
        {"InputBox", false, Ack::No},
        {"velkor", true, Ack::No},
        {std::string(255, 'x'), false, Ack::No},
        {std::string(255, 'y'), true, Ack::No},
    };
    RawDdeClient raw;
    ASSERT_TRUE(raw.Initiate());
    DdemlClient client;
    ASSERT_TRUE(client.Connect());
    for (const Row& row : rows) {
        SCOPED_TRACE((row.raw ? "raw item \"" : "item \"") + row.item.substr(0, 12) + "\"");
        ClearDisplay();
        const std::string text = std::string("#velkor item shown") + '\0';
        bool acked = false;
        if (row.raw) {
            const auto reply = raw.Poke(row.item, text);
            ASSERT_TRUE(reply) << "no answer";
            acked = Acked(reply);
        } else {
            acked = client.Poke(row.item, text).Acked();
        }
        EXPECT_EQ(acked, row.ack == Ack::Yes);
        EXPECT_EQ(App().DisplayLines(), row.ack == Ack::Yes
                                            ? std::vector<std::string>{"<item> shown"}
                                            : std::vector<std::string>{});
        ASSERT_TRUE(PokeAndSee("item"));
    }
}

TEST_F(Hostile, BinaryBytesAndLineBreakStorms) {
    struct Row {
        const char* name;
        std::string data; // poked with a zero byte after it
        std::vector<std::string> shown;
    };
    const Row rows[] = {
        {"every byte value from 0", Bytes(0, 255), {}},
        {"bytes 1 to 255 in the text", "#velkor bin " + Bytes(1, 255), {"<bin> " + Bytes(1, 9)}},
        {"bytes 128 to 255", "#velkor hi " + Bytes(128, 255), {"<hi> " + Bytes(128, 255)}},
        {"control bytes in the fields",
         "#velkor " + Bytes(1, 9) + " x",
         {"<" + Bytes(1, 9) + "> x"}},
        {"CR LF storm before the fields", Repeat("\r\n", 50000) + "#velkor x y", {}},
        {"CR LF storm after the line",
         "#velkor storm first" + Repeat("\r\n", 50000) + "#velkor storm second",
         {"<storm> first"}},
        {"CR storm", Repeat("\r", 100000), {}},
        {"LF CR storm after the line", "#velkor lf first" + Repeat("\n\r", 50000), {"<lf> first"}},
        {"only spaces", Repeat(" ", 5000), {}},
    };
    DdemlClient client;
    ASSERT_TRUE(client.Connect());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClearDisplay();
        EXPECT_TRUE(client.Poke("NONE", row.data + '\0').Acked());
        const auto lines = App().DisplayLines();
        ASSERT_EQ(lines.size(), row.shown.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            // The high half goes through the ANSI code page both ways; compare lengths and
            // the ASCII part exactly.
            EXPECT_EQ(lines[i].size(), row.shown[i].size());
            const auto ascii = row.shown[i].find_first_of(Bytes(128, 255));
            EXPECT_EQ(lines[i].substr(0, ascii), row.shown[i].substr(0, ascii));
        }
        ASSERT_TRUE(PokeAndSee(row.name));
    }
    EXPECT_FALSE(App().MessageBoxWindow());
}
