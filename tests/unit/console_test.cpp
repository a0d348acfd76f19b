// The output layer: the escape interpreter and batching on the console path
// (through a recording console device), the redirected path's UTF-8 bytes,
// the number printers, and what the write hooks receive.
#include "core/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/dyn-print.h"

namespace mox {
namespace {

// ---------------------------------------------------------------------------
// A recording console: every call becomes one line of the log, so that a
// test sees what happened and in which order.
// ---------------------------------------------------------------------------

struct Recorder {
    std::vector<std::u16string> writes;
    std::string log;
    platform::ScreenInfo info;
};
Recorder rec;

std::string hex4(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v);
    return b;
}

void fake_write(const char16_t* units, size_t count) {
    rec.writes.emplace_back(units, count);
    rec.log += "write ";
    for (size_t i = 0; i < count; i++) {
        char16_t u = units[i];
        if (u >= 0x20 && u < 0x7F)
            rec.log += static_cast<char>(u);
        else
            rec.log += "<" + hex4(u) + ">";
    }
    rec.log += "\n";
}
bool fake_info(platform::ScreenInfo* info) {
    *info = rec.info;
    return true;
}
void fake_cursor(int x, int y) {
    rec.log += "cursor " + std::to_string(x) + "," + std::to_string(y) + "\n";
    rec.info.cursor_x = x;
    rec.info.cursor_y = y;
}
void fake_attribute(uint16_t a) {
    rec.log += "attr " + hex4(a) + "\n";
    rec.info.attribute = a;
}
void fake_fill(int x, int y, uint32_t count, uint16_t a) {
    rec.log += "fill " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(count) +
               " " + hex4(a) + "\n";
}
constexpr platform::ConsoleDevice kFake{fake_write, fake_info, fake_cursor, fake_attribute,
                                        fake_fill};

std::string hooked; // everything the write hooks received
void record_hook(const char* utf8, size_t length, int flag) {
    EXPECT_EQ(flag, 0);
    hooked.append(utf8, length);
}

// A copy of the text in a heap block of exactly its size, so that a read past
// its end is caught by the address sanitizer.
template <typename Unit> std::unique_ptr<Unit[]> exact_copy(const std::u32string& text) {
    std::unique_ptr<Unit[]> p(new Unit[text.size() ? text.size() : 1]);
    for (size_t i = 0; i < text.size(); i++) p[i] = static_cast<Unit>(text[i]);
    return p;
}

std::u32string widen(const std::string& s) {
    std::u32string w;
    for (unsigned char c : s) w += c;
    return w;
}

class ConsolePath : public testing::Test {
  protected:
    void SetUp() override {
        rec = Recorder{};
        previous_ = console::set_device(&kFake);
        console::set_console_mode(true);
        rec.info.attribute = 0x07;
        console::keep_attribute(); // SGR 0 restores 0x07
        rec.info = kScreen;
        dyn_print::init();
        dyn_print::add(nullptr, record_hook);
        hooked.clear();
    }
    void TearDown() override {
        dyn_print::remove(nullptr, record_hook);
        console::set_device(previous_);
        console::init_output();
    }

    static constexpr platform::ScreenInfo kScreen{80, 25, 4, 2, 0x1F, 0, 0, 79, 24, 80, 50};

    // Writes the text in the given unit size on a fresh screen and returns
    // the log.
    std::string run(const std::string& text, uint32_t unit, bool line = false) {
        std::u32string w = widen(text);
        rec.info = kScreen;
        rec.log.clear();
        rec.writes.clear();
        switch (unit) {
        case 1: {
            auto p = exact_copy<uint8_t>(w);
            console::write_units(p.get(), w.size(), 1, line);
            break;
        }
        case 2: {
            auto p = exact_copy<uint16_t>(w);
            console::write_units(p.get(), w.size() * 2, 2, line);
            break;
        }
        default: {
            auto p = exact_copy<uint32_t>(w);
            console::write_units(p.get(), w.size() * 4, 4, line);
        }
        }
        return rec.log;
    }

  private:
    const platform::ConsoleDevice* previous_ = nullptr;
};

// ---------------------------------------------------------------------------
// Escape sequences (cursor at column 4, row 2 of an 80 x 25 buffer; current
// attribute 0x1F, attribute kept at start-up 0x07)
// ---------------------------------------------------------------------------

struct EscapeCase {
    const char* name;
    std::string text;
    std::string log;
};

TEST_F(ConsolePath, EscapeSequencesBecomeConsoleCalls) {
    const EscapeCase cases[] = {
        {"chained SGR", "\x1b[1;31;44mX", "attr 009C\nwrite X\n"},
        {"two SGR codes", "\x1b[1;32mX", "attr 009A\nwrite X\n"},
        {"SGR 0 restores the kept attribute", "\x1b[0m", "attr 0007\n"},
        {"bare m resets", "\x1b[m", "attr 0007\n"},
        {"reverse", "\x1b[7m", "attr 00F1\n"},
        {"underscore", "\x1b[4m", "attr 801F\n"},
        {"chain ending in a separator", "\x1b[1;31;m", "attr 009C\n"},
        {"five codes", "\x1b[0;1;34;41;7m", "attr 009C\n"},
        {"ESC without [ is a character",
         "a\x1b"
         "b",
         "write a\nwrite <001B>b\n"},
        {"lone ESC at the end", "a\x1b", "write a\nwrite <001B>\n"},
        {"column then row", "\x1b[5;3H", "cursor 5,3\n"},
        {"f is H", "\x1b[7;1f", "cursor 7,1\n"},
        {"home", "\x1b[H", "cursor 0,0\n"},
        {"clear to the end of the buffer", "\x1b[J", "fill 0,2 1840 0007\n"},
        {"clear above the cursor's row", "\x1b[1J", "fill 0,0 160 0007\n"},
        {"clear all", "\x1b[2J", "fill 0,0 2000 0007\ncursor 0,0\n"},
        {"other J does nothing", "\x1b[3J", ""},
        {"clear to the end of the row", "\x1b[K", "fill 4,2 76 0007\n"},
        {"clear to the cursor", "\x1b[1K", "fill 0,2 5 0007\ncursor 0,2\n"},
        {"clear the row", "\x1b[2K", "fill 0,2 80 0007\ncursor 0,2\n"},
        {"up, stops at row 0", "\x1b[3A", "cursor 4,0\n"},
        {"down, stops at the last row", "\x1b[30B", "cursor 4,24\n"},
        {"right, stops at the last column", "\x1b[100C", "cursor 79,2\n"},
        {"left, stops at column 0", "\x1b[9D", "cursor 0,2\n"},
        {"save and restore", "\x1b[s\x1b[10;10H\x1b[u", "cursor 10,10\ncursor 4,2\n"},
        {"parameters wrap at 65,535", "\x1b[65536;1H", "cursor 1,1\n"},
        {"unknown final is swallowed", "\x1b[5zX", "write X\n"},
        {"newline ends a sequence", "\x1b[3\nX", "write X\n"},
        {"cut off after parameters", "x\x1b[1;31", "write x\n"},
        {"cut off after the bracket", "x\x1b[", "write x\n"},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (const EscapeCase& c : cases) {
            EXPECT_EQ(run(c.text, unit), c.log) << c.name << " (unit " << unit << ")";
        }
    }
}

TEST_F(ConsolePath, InterpreterReadsOnlyTheUnitsGiven) {
    // The unit after the given range would complete the sequence; it must
    // not be looked at.
    const uint8_t text[] = {0x1B, '[', '3', '1', 'm'};
    rec.log.clear();
    EXPECT_EQ(console::ansi_escape(text, 4, 1), 4u);
    EXPECT_EQ(console::ansi_escape(text, 1, 1), 0u);
    EXPECT_EQ(console::ansi_escape(text, 5, 1), 5u);
    EXPECT_EQ(rec.log, "attr 001C\n");
}

TEST_F(ConsolePath, ScreenBufferReport) {
    std::string log = run("\x1b[?", 1);
    EXPECT_EQ(log, "write Screen buffer info:<000D><000A>\n"
                   "write    size______ 80x25<000D><000A>\n"
                   "write    cursor____ 4x2<000D><000A>\n"
                   "write    attribute_ 31 7<000D><000A>\n"
                   "write    left______ 0 top: 0<000D><000A>\n"
                   "write    right_____ 79 bottom: 24<000D><000A>\n"
                   "write    max_______ 80x50<000D><000A>\n");
}

TEST(SgrAttribute, MapsCodesToWindowsAttributes) {
    struct Case {
        uint16_t from;
        int code;
        uint16_t to;
    } cases[] = {
        {0x07, 1, 0x8F},  {0x07, 4, 0x8007}, {0x1E, 7, 0xE1},  {0x801E, 7, 0xE1}, {0x07, 30, 0x00},
        {0x07, 31, 0x04}, {0x07, 32, 0x02},  {0x07, 33, 0x06}, {0x07, 34, 0x01},  {0x07, 35, 0x05},
        {0x07, 36, 0x03}, {0x0F, 37, 0x0F},  {0x8F, 31, 0x8C}, {0x07, 39, 0x0F},  {0x07, 40, 0x07},
        {0x07, 41, 0x47}, {0x07, 42, 0x27},  {0x07, 43, 0x67}, {0x07, 44, 0x17},  {0x07, 45, 0x57},
        {0x07, 46, 0x37}, {0xF7, 47, 0xF7},  {0x8C, 44, 0x9C}, {0x07, 49, 0x87},  {0x07, 2, 0x07},
        {0x07, 38, 0x07}, {0x07, 100, 0x07},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(console::sgr_attribute(c.from, c.code), c.to)
            << "SGR " << c.code << " on " << hex4(c.from);
    }
}

// ---------------------------------------------------------------------------
// Batching and the hooks on the console path
// ---------------------------------------------------------------------------

TEST_F(ConsolePath, LongTextGoesOutIn510UnitBatches) {
    run(std::string(600, 'a'), 1);
    ASSERT_EQ(rec.writes.size(), 2u);
    EXPECT_EQ(rec.writes[0].size(), 510u);
    EXPECT_EQ(rec.writes[1].size(), 90u);

    run(std::string(600, 'a'), 2, true);
    ASSERT_EQ(rec.writes.size(), 2u);
    EXPECT_EQ(rec.writes[1], std::u16string(90, u'a') + u"\r\n");

    run(std::string(1020, 'a'), 4);
    ASSERT_EQ(rec.writes.size(), 2u);
    EXPECT_EQ(rec.writes[1].size(), 510u);
}

TEST_F(ConsolePath, HooksReceiveUtf8OfWhatIsShown) {
    const uint16_t ucs2[] = {u'\u00E9', 0x1B, '[', '3', '1', 'm', u'\u20AC'};
    console::write_ucs2_line(ucs2, sizeof ucs2);
    EXPECT_EQ(hooked, "\xC3\xA9\xE2\x82\xAC\r\n");

    hooked.clear();
    const uint32_t ucs4[] = {0x1F600, 'x'};
    rec.writes.clear();
    console::write_ucs4(ucs4, sizeof ucs4);
    ASSERT_EQ(rec.writes.size(), 1u);
    EXPECT_EQ(rec.writes[0], u"\U0001F600x");
    EXPECT_EQ(hooked, "\xF0\x9F\x98\x80x");

    hooked.clear();
    console::write_cstring("caf\xC3\xA9");
    EXPECT_EQ(rec.writes.back(), u"caf\u00E9");
    EXPECT_EQ(hooked, "caf\xC3\xA9");

    // A lone surrogate cannot go into UTF-8: the hooks see U+FFFD.
    hooked.clear();
    const uint16_t lone[] = {0xD800, 'a'};
    console::write_ucs2(lone, sizeof lone);
    EXPECT_EQ(hooked, "\xEF\xBF\xBD"
                      "a");
}

TEST_F(ConsolePath, BatchesNeverSplitASurrogatePair) {
    std::u32string text(509, U'a');
    text += U'\U0001F600';
    text += U'b';
    auto p = exact_copy<uint32_t>(text);
    rec.writes.clear();
    console::write_ucs4(p.get(), text.size() * 4);
    std::u16string all;
    for (const std::u16string& w : rec.writes) {
        ASSERT_FALSE(w.empty());
        EXPECT_FALSE(w.back() >= 0xD800 && w.back() <= 0xDBFF) << "batch ends in a high surrogate";
        all += w;
    }
    EXPECT_EQ(all, std::u16string(509, u'a') + u"\U0001F600b");
    EXPECT_EQ(hooked, std::string(509, 'a') + "\xF0\x9F\x98\x80"
                                              "b");
}

// ---------------------------------------------------------------------------
// Redirected path: UTF-8 bytes on standard output, escapes untouched
// ---------------------------------------------------------------------------

class RedirectedPath : public testing::Test {
  protected:
    void SetUp() override {
        console::set_console_mode(false);
        dyn_print::init();
        dyn_print::add(nullptr, record_batch);
        batches.clear();
        hooked.clear();
    }
    void TearDown() override {
        dyn_print::remove(nullptr, record_batch);
        console::init_output();
    }

    static std::vector<size_t> batches;
    static void record_batch(const char* utf8, size_t length, int flag) {
        batches.push_back(length);
        record_hook(utf8, length, flag);
    }

    // What the call writes to standard output, byte for byte (the test
    // framework's own capture reads back in text mode on Windows, which
    // would hide the CR of each CR LF).
    template <typename F> std::string captured(F write) {
        std::fflush(stdout);
        std::FILE* file = std::tmpfile();
        EXPECT_NE(file, nullptr);
        if (!file) return {};
        int saved = dup(1);
        dup2(fileno(file), 1);
        write();
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        std::string bytes;
        std::rewind(file);
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, n);
        std::fclose(file);
        return bytes;
    }
};
std::vector<size_t> RedirectedPath::batches;

TEST_F(RedirectedPath, WritesUtf8WithEscapesUntouched) {
    struct Case {
        const char* name;
        std::u32string text;
        uint32_t unit;
        bool line;
        std::string bytes;
    } cases[] = {
        {"escape passes through", U"\x1b[1;31;44mX", 1, true, "\x1b[1;31;44mX\r\n"},
        {"Latin-1", U"caf\u00E9", 1, false, "caf\xC3\xA9"},
        {"UCS-2", U"\u20AC\u00E9", 2, false, "\xE2\x82\xAC\xC3\xA9"},
        {"UCS-2 surrogate pair", std::u32string{0xD83D, 0xDE00}, 2, false, "\xF0\x9F\x98\x80"},
        {"UCS-2 lone surrogate", std::u32string{0xDC00, 'a'}, 2, false,
         "\xEF\xBF\xBD"
         "a"},
        {"UCS-4", U"\U0001F600\u00E9", 4, true, "\xF0\x9F\x98\x80\xC3\xA9\r\n"},
        {"UCS-4 past U+10FFFF", std::u32string{0x110000}, 4, false, "\xEF\xBF\xBD"},
        {"empty line", U"", 1, true, "\r\n"},
    };
    for (const Case& c : cases) {
        hooked.clear();
        std::string out = captured([&] {
            switch (c.unit) {
            case 1: {
                auto p = exact_copy<uint8_t>(c.text);
                console::write_units(p.get(), c.text.size(), 1, c.line);
                break;
            }
            case 2: {
                auto p = exact_copy<uint16_t>(c.text);
                console::write_units(p.get(), c.text.size() * 2, 2, c.line);
                break;
            }
            default: {
                auto p = exact_copy<uint32_t>(c.text);
                console::write_units(p.get(), c.text.size() * 4, 4, c.line);
            }
            }
        });
        EXPECT_EQ(out, c.bytes) << c.name;
        EXPECT_EQ(hooked, c.bytes) << c.name;
    }
}

TEST_F(RedirectedPath, BatchesPassOver1020Bytes) {
    std::u32string text(700, U'\u00E9'); // 1,400 bytes of UTF-8
    auto p = exact_copy<uint8_t>(text);
    std::string out = captured([&] { console::write_latin1_line(p.get(), text.size()); });
    std::string expected;
    for (size_t i = 0; i < text.size(); i++) expected += "\xC3\xA9";
    expected += "\r\n";
    EXPECT_EQ(out, expected);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0], 1022u); // the first batch past 1,020 bytes
    EXPECT_EQ(batches[1], 1400u - 1022u + 2u);
}

TEST_F(RedirectedPath, NumberPrinters) {
    struct Case {
        const char* name;
        void (*print)();
        const char* text;
    } cases[] = {
        {"int", [] { console::print_int(-2147483647 - 1); }, "-2147483648"},
        {"byte hex", [] { console::print_byte_hex(10); }, "0A"},
        {"hex", [] { console::print_hex(0xBEEF); }, "0000BEEF"},
        {"float", [] { console::print_float(1.0 / 3.0); }, "0.3333333333333333"},
        {"float 0.1", [] { console::print_float(0.1); }, "0.1"},
        {"float32", [] { console::print_float32(0.1f); }, "0.1"},
        {"float32 wide", [] { console::print_float32(16777217.0f); }, "1.677722e+07"},
    };
    for (const Case& c : cases) {
        hooked.clear();
        EXPECT_EQ(captured(c.print), c.text) << c.name;
        EXPECT_EQ(hooked, c.text) << c.name;
    }
}

TEST_F(RedirectedPath, CStringGoesOutAsItStands) {
    EXPECT_EQ(captured([] { console::write_cstring("*** \x1b[1mcaf\xC3\xA9\n"); }),
              "*** \x1b[1mcaf\xC3\xA9\n");
    EXPECT_EQ(hooked, "*** \x1b[1mcaf\xC3\xA9\n");
}

} // namespace
} // namespace mox
