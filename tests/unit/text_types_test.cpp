// The string-based literal types: tag!, email!, ref!, url! and file! molds,
// and the percent-decoding of URL and file text; handle! and triple!, which
// only the runtime makes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/error-codes.h"
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/triple.h"
#include "datatypes/url.h"
#include "evaluator/lexer.h"
#include "scalar_fixture.h"

namespace mox::test {
namespace {

Cell* text_value(const char* utf8, uint32_t type) {
    Cell* s = string::push_new(0);
    string::append_utf8(s, utf8, std::strlen(utf8));
    return set_type(s, type);
}

std::string decoded(const char* utf8) {
    Cell* out = string::push_new(0);
    url::decode_utf8(reinterpret_cast<const uint8_t*>(utf8), std::strlen(utf8), out);
    std::string text = utf8_of(out);
    Cell* source = text_value(utf8, TYPE_STRING);
    Cell* again = string::push_new(0);
    url::decode(source, again);
    EXPECT_EQ(utf8_of(again), text) << utf8;
    return text;
}

using TextTypesTest = ScalarTest;

TEST_F(TextTypesTest, Molds) {
    struct Row {
        const char* text;
        uint32_t type;
        const char* mold;
        const char* form;
    };
    const Row rows[] = {
        {"a href=\"x\"", TYPE_TAG, "<a href=\"x\">", "<a href=\"x\">"},
        {"", TYPE_TAG, "<>", "<>"},
        {"joe@box.org", TYPE_EMAIL, "joe@box.org", "joe@box.org"},
        {"name", TYPE_REF, "@name", "name"},
        {"http://x/a b", TYPE_URL, "http://x/a%20b", "http://x/a b"},
        {"http://x/\xC3\xA9", TYPE_URL, "http://x/%C3%A9", "http://x/\xC3\xA9"},
        {"http://h/?q=1&r=a+b#top", TYPE_URL, "http://h/?q=1&r=a+b#top", "http://h/?q=1&r=a+b#top"},
        {"ftp://x/50%", TYPE_URL, "ftp://x/50%25", "ftp://x/50%"},
        {"abc", TYPE_FILE, "%abc", "abc"},
        {"dir/file.txt", TYPE_FILE, "%dir/file.txt", "dir/file.txt"},
        {"a b", TYPE_FILE, "%\"a b\"", "a b"},
        {"", TYPE_FILE, "%\"\"", ""},
        {"caf\xC3\xA9", TYPE_FILE, "%caf\xC3\xA9", "caf\xC3\xA9"},
        {"50%", TYPE_FILE, "%\"50%\"", "50%"},
        // Inside the quotes a caret is escaped; a double quote, which would
        // end the quotes, makes the name bare and percent-encoded.
        {"a^b c", TYPE_FILE, "%\"a^^b c\"", "a^b c"},
        {"say \"hi\"", TYPE_FILE, "%say%20%22hi%22", "say \"hi\""},
        {"tab\there", TYPE_FILE, "%\"tab^-here\"", "tab\there"},
    };
    for (const Row& r : rows) {
        Cell* v = text_value(r.text, r.type);
        EXPECT_EQ(molded(*v), r.mold);
        EXPECT_EQ(formed(*v), r.form);
    }
}

TEST_F(TextTypesTest, PercentDecoding) {
    struct Row {
        const char* text;
        const char* decoded;
    };
    const Row rows[] = {
        {"a%20b", "a b"},
        {"%C3%A9", "\xC3\xA9"},
        {"%c3%a9", "\xC3\xA9"},
        {"%C3", "%C3"}, // a cut sequence keeps its characters
        {"%C3%A", "%C3%A"},
        {"%zz", "%zz"},
        {"100%", "100%"},
        {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
        {"\xC3\xA9%21", "\xC3\xA9!"},
        {"", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(decoded(r.text), r.decoded) << r.text;
    // An escaped sequence that is not UTF-8.
    EXPECT_MOX_ERROR(err::invalid_utf8, decoded("%C3%28"));
    EXPECT_MOX_ERROR(err::invalid_utf8, decoded("%FF%FF%FF%FF"));
}

// The molded text of a file name loads back as the same name, whatever
// characters the name holds; a URL likewise.
TEST_F(TextTypesTest, MoldsLoadBack) {
    struct Row {
        const char* text;
        uint32_t type;
    };
    const Row rows[] = {
        {"a^b c", TYPE_FILE},
        {"say \"hi\"", TYPE_FILE},
        {"tab\there", TYPE_FILE},
        {"line\nfeed", TYPE_FILE},
        {"", TYPE_FILE},
        {"50%;x", TYPE_FILE},
        {"caf\xC3\xA9", TYPE_FILE},
        {"{braces}", TYPE_FILE},
        {"http://x/a b%", TYPE_URL},
        {"http://x/\xC3\xA9?q=\"1\"", TYPE_URL},
    };
    for (const Row& r : rows) {
        Cell* v = text_value(r.text, r.type);
        std::string text = molded(*v);
        Cell* out = stack::push_cell();
        EXPECT_MOX_OK(lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                                       static_cast<int32_t>(text.size()), out));
        ASSERT_EQ(block::rs_length_q(out), 1) << text;
        Cell* loaded = block::rs_head(out);
        EXPECT_EQ(type_of(loaded), r.type) << text;
        EXPECT_EQ(utf8_of(loaded), r.text) << text;
    }
}

// Arbitrary bytes decode or raise invalid-utf8; nothing is read past the
// text (an exact-size buffer, watched by the sanitizer build).
TEST_F(TextTypesTest, PercentDecodingTakesAnyBytes) {
    std::mt19937 rng(7);
    const uint8_t alphabet[] = {'%',  'C',  '3',  'A',  '9',  'F',  '0',  'z',  'a', 0xC3,
                                0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x80, 0xFF, 0};
    for (int round = 0; round < 3000; round++) {
        std::vector<uint8_t> bytes(rng() % 16);
        for (uint8_t& b : bytes) b = alphabet[rng() % sizeof alphabet];
        int code = run_catching([&] {
            Cell* out = string::push_new(0);
            url::decode_utf8(bytes.data(), bytes.size(), out);
            EXPECT_LE(static_cast<size_t>(string::ms_length_q(out)), bytes.size());
        });
        EXPECT_TRUE(code == -1 || code == err::invalid_utf8) << code;
    }
}

TEST_F(TextTypesTest, HandleCellsAndText) {
    Cell* null = handle::push_null();
    EXPECT_EQ(molded(*null), "handle!");
    EXPECT_EQ(molded(*null, true), "#[handle! 00000000h]");
    EXPECT_EQ(null->data3, 0xFFFFFFFFu);
    Cell* window = handle::push(0x30A2E, handle::CLASS_WINDOW);
    EXPECT_EQ(molded(*window, true), "#[handle! 00030A2Eh window]");
    EXPECT_EQ(formed(*window), "00030A2Eh");
    EXPECT_EQ(handle::value_of(window), uintptr_t{0x30A2E});
    // The cell keeps an index into the handle table, never the value itself:
    // the same value gives the same index, whatever its class.
    Cell* font = handle::push(0x30A2E, handle::CLASS_FONT);
    EXPECT_EQ(font->data2, window->data2);
    EXPECT_EQ(molded(*font, true), "#[handle! 00030A2Eh font]");
    if (sizeof(uintptr_t) == 8) {
        uintptr_t wide = static_cast<uintptr_t>(0x12345678ABCDull);
        Cell* w = handle::push(wide, handle::CLASS_FD);
        EXPECT_LT(w->data2, 0x10000u);
        EXPECT_EQ(handle::value_of(w), wide);
        EXPECT_EQ(formed(*w), "000012345678ABCDh");
    }
    // Compared by value, class aside; any other value is different.
    Cell* low = handle::push(5, handle::CLASS_FD);
    EXPECT_EQ(handle::compare(window, font, COMP_EQUAL), 0);
    EXPECT_EQ(handle::compare(low, window, COMP_LESSER), -1);
    EXPECT_EQ(handle::compare(window, low, COMP_LESSER), 1);
    Cell five = int_cell(5);
    EXPECT_EQ(handle::compare(low, &five, COMP_EQUAL), 1);
    Cell* boxed = stack::push_cell();
    stack::arguments = boxed;
    handle::box(7, handle::CLASS_MONITOR);
    EXPECT_EQ(molded(*boxed, true), "#[handle! 00000007h monitor]");
    Cell* blk = block::make_at(stack::push_cell(), 1);
    handle::make_in_block(blk, 9, handle::CLASS_RICH_TEXT);
    EXPECT_EQ(molded(*blk, true), "[#[handle! 00000009h rich-text]]");
}

TEST_F(TextTypesTest, TripleText) {
    Cell t = Cell{TYPE_TRIPLE, 1, static_cast<uint32_t>(-2), 3};
    EXPECT_EQ(molded(t), "make triple! [1 -2 3]");
    EXPECT_EQ(formed(t), "make triple! [1 -2 3]");
    Cell spec = int_cell(1);
    EXPECT_MOX_ERROR(err::expect_arg, actions::make(&t, &spec));
}

} // namespace
} // namespace mox::test
