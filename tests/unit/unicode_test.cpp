// Unicode: the UTF-8 automaton and validating decoder, loading and encoding
// string values in UTF-8, UTF-16 and Windows-1251, widening in place, case
// mapping and display widths. Case, width and code-page results are checked
// against Python's unicodedata and codecs (tests/unicode/oracle.py).
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/error.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

using memory::SeriesBuffer;
using Chars = std::vector<uint32_t>;

class UnicodeTest : public test::RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        test::boot();
        unicode::init_case_tables();
    }
};

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// A copy of the bytes with nothing after them, so that a read past the end
// is caught by AddressSanitizer.
std::vector<uint8_t> exact(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// The conversion buffer holds what was written and the pointer handed out
// is its data, not a stale copy.
void expect_in_scratch(const Cell* str, const void* out, size_t bytes) {
    ASSERT_NE(str->data3, 0u);
    SeriesBuffer* b = memory::buffer_of(str->data3);
    EXPECT_EQ(out, b->head_ptr());
    EXPECT_LE(bytes, static_cast<size_t>(b->end() - b->head_ptr()));
}

// A string value on the evaluation stack, where the collector sees it.
Cell* push_string(const Chars& chars, uint32_t unit, uint32_t index = 0) {
    node_t node = memory::alloc_units(static_cast<uint32_t>(chars.size()), unit);
    SeriesBuffer* b = memory::buffer_of(node);
    uint8_t* p = b->head_ptr();
    for (uint32_t c : chars) {
        if (unit == 1)
            *p = static_cast<uint8_t>(c);
        else if (unit == 2)
            *reinterpret_cast<uint16_t*>(p) = static_cast<uint16_t>(c);
        else
            *reinterpret_cast<uint32_t*>(p) = c;
        p += unit;
    }
    b->tail = b->head + static_cast<uint32_t>(chars.size()) * unit;
    Cell c{TYPE_STRING, index, node, 0};
    return stack::push(&c);
}

Chars chars_of(node_t node) {
    SeriesBuffer* b = memory::buffer_of(node);
    Chars out;
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p += b->unit()) {
        if (b->unit() == 1)
            out.push_back(*p);
        else if (b->unit() == 2)
            out.push_back(*reinterpret_cast<uint16_t*>(p));
        else
            out.push_back(*reinterpret_cast<uint32_t*>(p));
    }
    return out;
}

std::u16string repeat(const std::u16string& s, int n) {
    std::u16string out;
    while (n-- > 0) out += s;
    return out;
}

uint32_t unit_of(node_t node) { return memory::buffer_of(node)->unit(); }

// Runs fn, which must raise invalid-utf8, and returns the bytes of the
// binary! the error carries.
std::string invalid_utf8_bytes(const std::function<void()>& fn) {
    std::string bytes = "<nothing raised>";
    int code = test::run_catching([&] {
        try {
            fn();
        } catch (const stack::Unwind& u) {
            if (u.code == stack::EXIT_ERROR) {
                const Cell* arg = error::field(stack::top - 1, error::FIELD_ARG1);
                if (type_of(arg) == TYPE_BINARY) {
                    SeriesBuffer* b = memory::buffer_of(arg);
                    bytes.assign(reinterpret_cast<char*>(b->head_ptr() + arg->data1),
                                 reinterpret_cast<char*>(b->tail_ptr()));
                } else {
                    bytes = "<not a binary>";
                }
            }
            throw;
        }
    });
    EXPECT_EQ(code, err::invalid_utf8);
    return bytes;
}

// ---------------------------------------------------------------------------
// The automaton
// ---------------------------------------------------------------------------

// Well-formed UTF-8 as RFC 3629 defines it, written independently of the
// automaton's tables: the length of the sequence at p, or 0.
int wellformed_length(const uint8_t* p, size_t n) {
    auto in = [](uint8_t b, uint8_t lo, uint8_t hi) { return b >= lo && b <= hi; };
    if (n >= 1 && p[0] <= 0x7F) return 1;
    if (n >= 2 && in(p[0], 0xC2, 0xDF) && in(p[1], 0x80, 0xBF)) return 2;
    if (n >= 3) {
        bool second = (p[0] == 0xE0 && in(p[1], 0xA0, 0xBF)) ||
                      ((in(p[0], 0xE1, 0xEC) || in(p[0], 0xEE, 0xEF)) && in(p[1], 0x80, 0xBF)) ||
                      (p[0] == 0xED && in(p[1], 0x80, 0x9F));
        if (second && in(p[2], 0x80, 0xBF)) return 3;
    }
    if (n >= 4) {
        bool second = (p[0] == 0xF0 && in(p[1], 0x90, 0xBF)) ||
                      (in(p[0], 0xF1, 0xF3) && in(p[1], 0x80, 0xBF)) ||
                      (p[0] == 0xF4 && in(p[1], 0x80, 0x8F));
        if (second && in(p[2], 0x80, 0xBF) && in(p[3], 0x80, 0xBF)) return 4;
    }
    return 0;
}

TEST_F(UnicodeTest, AutomatonAcceptsExactlyWellFormedSequences) {
    // Every sequence of up to three bytes, and four-byte sequences over the
    // bytes on the class boundaries; zero bytes after them end any sequence.
    uint8_t s[5] = {};
    auto check = [&] {
        int32_t cp;
        const uint8_t* end = unicode::fast_decode_utf8_char(s, &cp);
        int length = wellformed_length(s, 4);
        if (length) {
            ASSERT_GE(cp, 0) << std::hex << int(s[0]) << " " << int(s[1]) << " " << int(s[2]);
            ASSERT_EQ(end - s, length);
        } else {
            ASSERT_EQ(cp, -1) << std::hex << int(s[0]) << " " << int(s[1]) << " " << int(s[2])
                              << " " << int(s[3]);
        }
    };
    for (uint32_t a = 0; a < 256; a++) {
        for (uint32_t b = 0; b < 256; b++) {
            for (uint32_t c = 0; c < 256; c++) {
                s[0] = static_cast<uint8_t>(a), s[1] = static_cast<uint8_t>(b);
                s[2] = static_cast<uint8_t>(c), s[3] = 0;
                check();
            }
        }
    }
    const uint8_t edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    for (uint32_t a = 0xF0; a < 0x100; a++)
        for (uint8_t b : edges)
            for (uint8_t c : edges)
                for (uint8_t d : edges) {
                    s[0] = static_cast<uint8_t>(a), s[1] = b, s[2] = c, s[3] = d;
                    check();
                }
}

TEST_F(UnicodeTest, AutomatonDecodesEveryScalarValue) {
    uint8_t buf[5] = {};
    for (uint32_t cp = 0; cp <= 0x10FFFF; cp++) {
        uint32_t n = unicode::cp_to_utf8(cp, buf);
        buf[n] = 0;
        int32_t got;
        const uint8_t* end = unicode::fast_decode_utf8_char(buf, &got);
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            ASSERT_EQ(got, -1) << std::hex << cp; // surrogates are not UTF-8
        } else {
            ASSERT_EQ(got, static_cast<int32_t>(cp)) << std::hex << cp;
            ASSERT_EQ(end, buf + n);
        }
    }
}

TEST_F(UnicodeTest, CountAndSkipStayInsideTheRange) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"; // a é € 😀 z
    const uint8_t* p = bytes_of(text);
    const uint8_t* end = p + text.size();
    EXPECT_EQ(unicode::count_utf8_chars(p, end), 5u);
    EXPECT_EQ(unicode::count_utf8_chars(p, p + 8), 4u); // 😀 cut after two bytes
    EXPECT_EQ(unicode::count_utf8_chars(p, p), 0u);
    struct Case {
        uint32_t n;
        long offset;
    } cases[] = {{0, 0}, {1, 1}, {2, 3}, {3, 6}, {4, 10}, {5, 11}, {99, 11}};
    for (const Case& c : cases)
        EXPECT_EQ(unicode::skip_utf8_chars(p, end, c.n) - p, c.offset) << c.n;
    EXPECT_EQ(unicode::skip_utf8_chars(p + 6, p + 8, 3) - p, 8);
}

TEST_F(UnicodeTest, SizesOfSequences) {
    struct Lead {
        uint8_t byte;
        uint32_t size;
    } leads[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2}, {0xDF, 2},
                 {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF7, 4}, {0xFF, 4}};
    for (const Lead& l : leads) EXPECT_EQ(unicode::utf8_char_size(l.byte), l.size) << int(l.byte);

    struct Cp {
        uint32_t cp;
        std::string utf8;
    } cps[] = {{0, std::string(1, '\0')},
               {0x7F, "\x7F"},
               {0x80, "\xC2\x80"},
               {0x7FF, "\xDF\xBF"},
               {0x800, "\xE0\xA0\x80"},
               {0xD800, "\xED\xA0\x80"},
               {0xFFFF, "\xEF\xBF\xBF"},
               {0x10000, "\xF0\x90\x80\x80"},
               {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
    for (const Cp& c : cps) {
        uint8_t out[4];
        uint32_t n = unicode::cp_to_utf8(c.cp, out);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.utf8) << std::hex << c.cp;
        EXPECT_EQ(unicode::cp_utf8_size(c.cp), n);
    }
    const uint32_t units[] = {0x41, 0xE9, 0x20AC, 0x1F600};
    auto* u = reinterpret_cast<const uint8_t*>(units);
    EXPECT_EQ(unicode::utf8_length(u, u + sizeof units, 4), 1u + 2 + 3 + 4);
    const uint16_t units2[] = {0x41, 0x20AC};
    auto* u2 = reinterpret_cast<const uint8_t*>(units2);
    EXPECT_EQ(unicode::utf8_length(u2, u2 + sizeof units2, 2), 4u);
}

TEST_F(UnicodeTest, CodePointsAboveTheRangeRaiseInvalidChar) {
    uint8_t out[4];
    const uint32_t big = 0x110000;
    const uint8_t units[4] = {0x00, 0x00, 0x11, 0x00};
    EXPECT_MOX_ERROR(err::invalid_char, unicode::cp_to_utf8(big, out));
    EXPECT_MOX_ERROR(err::invalid_char, unicode::cp_utf8_size(big));
    EXPECT_MOX_ERROR(err::invalid_char, unicode::cp_to_utf8_bounded(big, out, 4));
    EXPECT_MOX_ERROR(err::invalid_char, unicode::utf8_length(units, units + 4, 4));
}

TEST_F(UnicodeTest, BoundedEncodingWritesTheBytesThatFit) {
    for (int32_t room = -1; room <= 4; room++) {
        uint8_t out[4] = {0, 0, 0, 0};
        uint32_t n = unicode::cp_to_utf8_bounded(0x20AC, out, room);
        uint32_t expect = room < 1 ? 0 : std::min(room, 3);
        EXPECT_EQ(n, expect) << room;
        EXPECT_EQ(std::memcmp(out, "\xE2\x82\xAC", n), 0);
    }
}

// ---------------------------------------------------------------------------
// The validating decoder
// ---------------------------------------------------------------------------

TEST_F(UnicodeTest, ValidatingDecoderAcceptsAndMeasures) {
    struct Case {
        std::string bytes;
        uint32_t available;
        int32_t cp; // -1: needs more bytes
        uint32_t length;
    } cases[] = {
        {"A", 1, 0x41, 1},
        {"\xC3\xA9", 2, 0xE9, 2},
        {"\xC3", 1, -1, 0},         // truncated
        {"\xE2\x82", 2, -1, 0},     // truncated
        {"\xE2\x41", 2, -1, 0},     // not enough bytes to judge
        {"\xF0\x9F\x98", 3, -1, 0}, // truncated
        {"", 0, -1, 0},             // nothing available
        {"\xC0\x80", 2, 0, 2},      // overlong forms pass
        {"\xC1\xBF", 2, 0x7F, 2},
        {"\xE0\x80\x80", 3, 0, 3},
        {"\xED\xA0\x80", 3, 0xD800, 3}, // lead surrogates pass
        {"\xED\xAF\xBF", 3, 0xDBFF, 3},
        {"\xED\xB4\x80", 3, 0xDD00, 3}, // trail surrogates above U+DCFF pass
        {"\xED\xBF\xBF", 3, 0xDFFF, 3},
        {"\xEF\xBF\xBF", 3, 0xFFFF, 3},
        {"\xF0\x9F\x98\x80", 4, 0x1F600, 4},
        {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF, 4},
        {"\xF0\x80\x80\x80", 4, 0, 4},
        {"a\xFF", 2, 0x61, 1}, // only the first sequence is read
    };
    for (const Case& c : cases) {
        uint32_t n = c.available;
        int32_t cp = -2;
        EXPECT_MOX_OK(cp = unicode::decode_utf8_char(bytes_of(c.bytes), &n));
        EXPECT_EQ(cp, c.cp) << testing::PrintToString(c.bytes);
        EXPECT_EQ(n, c.cp < 0 ? c.available : c.length) << testing::PrintToString(c.bytes);
    }
}

// The error carries the bytes at the failing position: four, or fewer when
// fewer are left.
TEST_F(UnicodeTest, ValidatingDecoderRejectsWithTheBytes) {
    struct Case {
        std::string bytes;
        std::string carried;
    } cases[] = {
        {"\xED\xB0\x80", "\xED\xB0\x80"},   // U+DC00
        {"\xED\xB3\xBF!", "\xED\xB3\xBF!"}, // U+DCFF
        {"\x80", "\x80"},
        {"\xBFxyz", "\xBFxyz"},
        {"\xC3\x41", "\xC3\x41"},
        {"\xE2\x82\x41", "\xE2\x82\x41"},
        {"\xF0\x9F\x41\x80", "\xF0\x9F\x41\x80"},
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"}, // above U+10FFFF
        {"\xF7\xBF\xBF\xBF", "\xF7\xBF\xBF\xBF"},
        {"\xF8\x88\x80\x80\x80", "\xF8\x88\x80\x80"},
        {"\xFF", "\xFF"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> in = exact(c.bytes);
        uint32_t n = static_cast<uint32_t>(in.size());
        EXPECT_EQ(invalid_utf8_bytes([&] { unicode::decode_utf8_char(in.data(), &n); }), c.carried)
            << testing::PrintToString(c.bytes);
    }
}

TEST_F(UnicodeTest, EncodeDecodeRoundTripOverAllCodePoints) {
    uint8_t buf[4];
    for (uint32_t cp = 0; cp <= 0x10FFFF; cp++) {
        if (cp == 0xDC00) cp = 0xDD00; // the refused block, checked above
        uint32_t n = unicode::cp_to_utf8(cp, buf);
        uint32_t available = n;
        ASSERT_EQ(unicode::decode_utf8_char(buf, &available), static_cast<int32_t>(cp));
        ASSERT_EQ(available, n);
    }
}

// ---------------------------------------------------------------------------
// Loading UTF-8
// ---------------------------------------------------------------------------

TEST_F(UnicodeTest, LoadUtf8) {
    struct Case {
        const char* name;
        std::string bytes;
        bool crlf;
        Chars chars;
        uint32_t unit;
        int32_t remaining;
    } cases[] = {
        {"mark then text",
         "\xEF\xBB\xBF"
         "A",
         false,
         {0x41},
         1,
         0},
        {"mark alone", "\xEF\xBB\xBF", false, {}, 1, 0},
        {"mark needs three bytes", "\xEF\xBB", false, {}, 1, 2},
        {"truncated C3", "\xC3", false, {}, 1, 1},
        {"truncated after text", "ab\xE2\x82", false, {0x61, 0x62}, 1, 2},
        {"empty", "", false, {}, 1, 0},
        {"latin-1 stays narrow", "\xC3\xA9t\xC3\xA9", false, {0xE9, 0x74, 0xE9}, 1, 0},
        {"overlong NUL", std::string("\xC0\x80", 2), false, {0}, 1, 0},
        {"lead surrogate", "\xED\xA0\x80", false, {0xD800}, 2, 0},
        {"widening 1, 2, 4", "a\xE2\x82\xAC\xF0\x9F\x98\x80", false, {0x61, 0x20AC, 0x1F600}, 4, 0},
        {"line ends folded", "a\r\nb\rc", true, {0x61, 0x0A, 0x62, 0x0A, 0x63}, 1, 0},
        {"final CR", "a\r", true, {0x61, 0x0A}, 1, 0},
        {"CR kept without the flag", "a\r\nb\r", false, {0x61, 0x0D, 0x0A, 0x62, 0x0D}, 1, 0},
        {"CR CR LF", "\r\r\n", true, {0x0A, 0x0A}, 1, 0},
    };
    for (const Case& c : cases) {
        int32_t remaining = -7;
        std::vector<uint8_t> in = exact(c.bytes);
        node_t node =
            unicode::load_utf8(in.data(), static_cast<uint32_t>(in.size()), 0, &remaining, c.crlf);
        EXPECT_EQ(chars_of(node), c.chars) << c.name;
        EXPECT_EQ(unit_of(node), c.unit) << c.name;
        EXPECT_EQ(remaining, c.remaining) << c.name;
    }
}

TEST_F(UnicodeTest, LoadUtf8RaisesOnMalformedInput) {
    struct Case {
        std::string bytes;
        std::string carried;
    } cases[] = {
        {"ab\xED\xB0\x80", "\xED\xB0\x80"},
        {"ab\xED\xB0\x80xyz", "\xED\xB0\x80x"},
        {"x\xC3\x41", "\xC3\x41"}, // only the bytes that remain
        {"\xFF", "\xFF"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> in = exact(c.bytes);
        EXPECT_EQ(invalid_utf8_bytes([&] {
                      unicode::load_utf8(in.data(), static_cast<uint32_t>(in.size()), 0, nullptr,
                                         false);
                  }),
                  c.carried)
            << testing::PrintToString(c.bytes);
    }
}

TEST_F(UnicodeTest, LoadUtf8IntoATarget) {
    Cell* target = push_string({0x3B1, 0x3B2, 0x3B3, 0x3B4}, 2); // unit 2 stays unit 2
    const std::string ascii = "xy";
    node_t node = unicode::load_utf8(bytes_of(ascii), 2, target->data2, nullptr, false);
    EXPECT_EQ(node, target->data2);
    EXPECT_EQ(chars_of(node), (Chars{0x78, 0x79}));
    EXPECT_EQ(unit_of(node), 2u);

    // A longer, wider text grows the buffer and widens it.
    std::string longer;
    for (int i = 0; i < 40; i++) longer += "\xF0\x9F\x98\x80";
    node = unicode::load_utf8(bytes_of(longer), static_cast<uint32_t>(longer.size()), target->data2,
                              nullptr, false);
    EXPECT_EQ(node, target->data2);
    EXPECT_EQ(chars_of(target->data2), Chars(40, 0x1F600));
    EXPECT_EQ(unit_of(target->data2), 4u);

    // Malformed input leaves the target as it was.
    const std::string bad = "ok\xED\xB0\x80";
    invalid_utf8_bytes([&] {
        unicode::load_utf8(bytes_of(bad), static_cast<uint32_t>(bad.size()), target->data2, nullptr,
                           false);
    });
    EXPECT_EQ(chars_of(target->data2), Chars(40, 0x1F600));
}

// A reader of chunks hands the unconsumed bytes back with the next chunk; the
// text comes out whole wherever the cuts fall.
TEST_F(UnicodeTest, LoadUtf8InChunks) {
    const std::string text = "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80!";
    const Chars whole = {0x68, 0xE9, 0x20AC, 0x1F600, 0x21};
    for (size_t cut = 0; cut <= text.size(); cut++) {
        int32_t left = -1;
        Chars got = chars_of(
            unicode::load_utf8(bytes_of(text), static_cast<uint32_t>(cut), 0, &left, false));
        std::string rest = text.substr(cut - left);
        Chars tail = chars_of(unicode::load_utf8(bytes_of(rest), static_cast<uint32_t>(rest.size()),
                                                 0, &left, false));
        EXPECT_EQ(left, 0);
        got.insert(got.end(), tail.begin(), tail.end());
        EXPECT_EQ(got, whole) << "cut at " << cut;
    }
}

TEST_F(UnicodeTest, LoadUtf8FromABinaryReadsItsBytesInPlace) {
    const std::string text = "--\xE2\x82\xAC\r\nz";
    node_t node = memory::alloc_bytes(static_cast<uint32_t>(text.size()));
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + static_cast<uint32_t>(text.size());
    Cell binary{TYPE_BINARY, 2, node, 0};
    Cell* held = stack::push(&binary);
    node_t str = unicode::load_utf8_binary(held);
    EXPECT_EQ(chars_of(str), (Chars{0x20AC, 0x0D, 0x0A, 0x7A})); // line ends kept

    b = memory::buffer_of(held);
    str = unicode::load_utf8_bytes(b->head_ptr(), b->head_ptr() + 2);
    EXPECT_EQ(chars_of(str), (Chars{0x2D, 0x2D}));
}

// ---------------------------------------------------------------------------
// Encoding strings as UTF-8
// ---------------------------------------------------------------------------

TEST_F(UnicodeTest, ToUtf8FromEveryUnit) {
    struct Case {
        const char* name;
        Chars chars;
        uint32_t unit, index;
        int32_t length;
        bool crlf;
        std::string utf8;
    } cases[] = {
        {"latin-1", {0x61, 0xE9, 0x0A}, 1, 0, -1, false, "a\xC3\xA9\n"},
        {"latin-1 with CR LF", {0x61, 0x0A, 0x0A}, 1, 0, -1, true, "a\r\n\r\n"},
        {"ucs-2 from position",
         {0x61, 0x20AC, 0x62},
         2,
         1,
         -1,
         false,
         "\xE2\x82\xAC"
         "b"},
        {"ucs-2 limited", {0x20AC, 0x20AC, 0x20AC}, 2, 0, 2, false, "\xE2\x82\xAC\xE2\x82\xAC"},
        {"ucs-4", {0x1F600, 0x0A}, 4, 0, -1, true, "\xF0\x9F\x98\x80\r\n"},
        {"ucs-4 lone surrogate", {0xD800}, 4, 0, -1, false, "\xED\xA0\x80"},
        {"position past the tail", {0x61}, 1, 5, -1, false, ""},
        {"length above the rest", {0x61, 0x62}, 1, 0, 10, false, "ab"},
        {"length zero", {0x61, 0x62}, 1, 0, 0, false, ""},
    };
    for (const Case& c : cases) {
        Cell* s = push_string(c.chars, c.unit, c.index);
        int32_t length = c.length;
        const char* out = unicode::to_utf8_crlf(s, &length, c.crlf);
        EXPECT_EQ(std::string(out, static_cast<size_t>(length)), c.utf8) << c.name;
        EXPECT_EQ(out[length], '\0') << c.name;
        expect_in_scratch(s, out, static_cast<size_t>(length) + 1);
    }
}

TEST_F(UnicodeTest, ScratchBufferIsKeptAndGrown) {
    Cell* s = push_string({0x61, 0x62}, 1);
    int32_t length = -1;
    unicode::to_utf8(s, &length);
    node_t scratch = s->data3;
    length = -1;
    EXPECT_STREQ(unicode::to_utf8(s, &length), "ab");
    EXPECT_EQ(s->data3, scratch); // reused

    Chars many(300, 0x20AC);
    Cell* big = push_string(many, 2);
    big->data3 = s->data3; // a small buffer to start from
    length = -1;
    const char* out = unicode::to_utf8(big, &length);
    EXPECT_EQ(length, 900);
    EXPECT_EQ(std::memcmp(out + 897, "\xE2\x82\xAC", 4), 0); // with the NUL
    EXPECT_GE(memory::buffer_of(big->data3)->size, 901u);
}

TEST_F(UnicodeTest, ToUtf8OfACharacterAboveTheRangeRaises) {
    Cell* s = push_string({0x41, 0x110000}, 4);
    int32_t length = -1;
    EXPECT_MOX_ERROR(err::invalid_char, unicode::to_utf8(s, &length));
}

TEST_F(UnicodeTest, EncodeIntoCallersBuffer) {
    Cell* s = push_string({0x61, 0x20AC, 0x62}, 2);
    uint8_t out[16];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(unicode::encode_utf8_part(s, out, -1, true), 5u);
    EXPECT_EQ(std::memcmp(out,
                          "a\xE2\x82\xAC"
                          "b",
                          6),
              0);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(unicode::encode_utf8_part(s, out, 1, false), 1u);
    EXPECT_EQ(out[1], 0xEE);

    // The bounded form never cuts a character and keeps a byte for the NUL.
    struct Case {
        int32_t room;
        bool nul;
        std::string written;
    } cases[] = {{0, true, ""},
                 {1, true, ""},
                 {2, true, "a"},
                 {4, true, "a"},
                 {4, false, "a\xE2\x82\xAC"},
                 {5, true, "a\xE2\x82\xAC"},
                 {6, true,
                  "a\xE2\x82\xAC"
                  "b"},
                 {16, false,
                  "a\xE2\x82\xAC"
                  "b"}};
    for (const Case& c : cases) {
        std::memset(out, 0xEE, sizeof out);
        uint32_t n = unicode::encode_utf8_into(s, out, c.room, -1, c.nul);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.written) << c.room;
        size_t used = n + (c.nul && c.room > 0 ? 1 : 0);
        EXPECT_LE(used, static_cast<size_t>(c.room)) << c.room;
        if (c.nul && c.room > 0) {
            EXPECT_EQ(out[n], 0) << c.room;
        }
        EXPECT_EQ(out[used], 0xEE) << c.room;
    }
}

// ---------------------------------------------------------------------------
// UTF-16
// ---------------------------------------------------------------------------

TEST_F(UnicodeTest, ToUtf16WritesCrBeforeLf) {
    Cell* s = push_string({0x78, 0x0A, 0x79}, 1);
    int32_t length = -1;
    const char16_t* out = unicode::to_utf16(s, &length);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(length, 4);
    const uint8_t expect[] = {0x78, 0, 0x0D, 0, 0x0A, 0, 0x79, 0, 0, 0};
    EXPECT_EQ(std::memcmp(out, expect, sizeof expect), 0);
}

TEST_F(UnicodeTest, ToUtf16Part) {
    struct Case {
        const char* name;
        Chars chars;
        uint32_t unit, index;
        int32_t length;
        bool crlf;
        std::u16string utf16;
    } cases[] = {
        {"latin-1", {0x61, 0xE9}, 1, 0, -1, false, u"a\u00E9"},
        {"ucs-2 without CR", {0x61, 0x0A, 0x20AC}, 2, 0, -1, false, u"a\n\u20AC"},
        {"ucs-2 with CR", {0x0A, 0x0A}, 2, 0, -1, true, u"\r\n\r\n"},
        {"many line ends", Chars(20, 0x0A), 1, 0, -1, true, repeat(u"\r\n", 20)},
        {"pairs and CR", {0x1F600, 0x0A, 0x10FFFF}, 4, 0, -1, true, u"\U0001F600\r\n\U0010FFFF"},
        {"from position, limited", {0x61, 0x62, 0x63, 0x64}, 1, 1, 2, false, u"bc"},
        {"lone surrogate kept", {0xDC00}, 4, 0, -1, false, u"\xDC00"},
    };
    for (const Case& c : cases) {
        Cell* s = push_string(c.chars, c.unit, c.index);
        int32_t length = c.length;
        const char16_t* out = unicode::to_utf16_part(s, &length, c.crlf);
        ASSERT_NE(out, nullptr) << c.name;
        EXPECT_EQ(std::u16string(out, static_cast<size_t>(length)), c.utf16) << c.name;
        EXPECT_EQ(out[length], 0) << c.name;
        expect_in_scratch(s, out, (static_cast<size_t>(length) + 1) * 2);
    }
    Cell* s = push_string({0x41, 0x110000}, 4);
    int32_t length = -1;
    EXPECT_EQ(unicode::to_utf16_part(s, &length, false), nullptr);
    EXPECT_EQ(length, -1);
}

// Text from the system need not be well-formed UTF-16: a surrogate without
// its partner is kept as a character of its own and loading goes on.
TEST_F(UnicodeTest, LoadUtf16) {
    struct Case {
        const char* name;
        std::u16string units;
        bool cr;
        Chars chars;
        uint32_t unit;
    } cases[] = {
        {"ascii", u"ab", false, {0x61, 0x62}, 1},
        {"latin-1", u"\u00E9", false, {0xE9}, 1},
        {"bmp", u"a\u20AC", false, {0x61, 0x20AC}, 2},
        {"pair", u"a\U0001F600b", false, {0x61, 0x1F600, 0x62}, 4},
        {"lone lead at the end", u"a\xD800", false, {0x61, 0xD800}, 4},
        {"lead before a letter", u"\xD83Dx", false, {0xD83D, 0x78}, 4},
        {"lead before a lead", u"\xD83D\xD83D\xDE00", false, {0xD83D, 0x1F600}, 4},
        {"lone trail", u"\xDE00y", false, {0xDE00, 0x79}, 4},
        {"CR dropped", u"a\r\nb\r", true, {0x61, 0x0A, 0x62}, 1},
        {"CR kept", u"a\r\n", false, {0x61, 0x0D, 0x0A}, 1},
        {"CR dropped in ucs-4", u"\r\U0001F600\r", true, {0x1F600}, 4},
    };
    for (const Case& c : cases) {
        node_t node = unicode::load_utf16(c.units.data(), static_cast<uint32_t>(c.units.size()),
                                          nullptr, c.cr);
        EXPECT_EQ(chars_of(node), c.chars) << c.name;
        EXPECT_EQ(unit_of(node), c.unit) << c.name;
        EXPECT_TRUE(memory::buffer_of(node)->flags & memory::SERIES_UTF16) << c.name;
    }
    node_t empty = unicode::load_utf16(u"", 0, nullptr, false);
    EXPECT_EQ(chars_of(empty), Chars{});
    EXPECT_EQ(unit_of(empty), 2u);
}

TEST_F(UnicodeTest, LoadUtf16IntoATarget) {
    Cell* target = push_string({0x61}, 1);
    std::u16string text;
    for (int i = 0; i < 50; i++) text += u"\u20AC";
    node_t node = unicode::load_utf16(text.data(), 50, target, false);
    EXPECT_EQ(node, target->data2);
    EXPECT_EQ(chars_of(target->data2), Chars(50, 0x20AC));
    EXPECT_EQ(unit_of(target->data2), 2u);
    node = unicode::load_utf16(u"ok", 2, target, false);
    EXPECT_EQ(chars_of(target->data2), (Chars{0x6F, 0x6B}));
    EXPECT_EQ(unit_of(target->data2), 1u);
}

TEST_F(UnicodeTest, Utf16Helpers) {
    char16_t out[8];
    unicode::ascii_to_utf16("Err\xE9", out);
    EXPECT_EQ(std::u16string(out), u"Err\u00E9");
    struct Case {
        uint32_t cp;
        std::u16string units;
    } cases[] = {{0x41, u"A"},
                 {0xFFFF, u"\uFFFF"},
                 {0x10000, u"\U00010000"},
                 {0x10FFFF, u"\U0010FFFF"},
                 {0x110000, u""}};
    for (const Case& c : cases) {
        uint32_t n = unicode::cp_to_utf16(c.cp, out);
        EXPECT_EQ(std::u16string(out, n), c.units) << std::hex << c.cp;
    }
}

// ---------------------------------------------------------------------------
// Widening
// ---------------------------------------------------------------------------

TEST_F(UnicodeTest, WideningKeepsCharactersAndPositions) {
    struct Case {
        uint32_t from, to;
        memory::SeriesBuffer* (*widen)(memory::SeriesBuffer*);
    } cases[] = {{1, 2, unicode::latin1_to_ucs2},
                 {1, 4, unicode::latin1_to_ucs4},
                 {2, 4, unicode::ucs2_to_ucs4}};
    for (const Case& c : cases) {
        for (uint32_t len : {0u, 1u, 15u, 16u, 100u}) {
            Chars chars;
            for (uint32_t i = 0; i < len; i++)
                chars.push_back(0x41 + i % 26 + (c.from == 2 ? 0x300 : 0x80));
            Cell* s = push_string(chars, c.from, len / 2); // a full buffer: widening must expand
            SeriesBuffer* b = c.widen(memory::buffer_of(s));
            EXPECT_EQ(b, memory::buffer_of(s));
            EXPECT_EQ(b->unit(), c.to);
            EXPECT_EQ(chars_of(s->data2), chars) << c.from << "->" << c.to << " " << len;
            if (len) {
                int32_t n = 1;
                const char16_t* at = unicode::to_utf16_part(s, &n, false);
                EXPECT_EQ(static_cast<uint32_t>(at[0]), chars[len / 2]);
            }
        }
    }
}

TEST_F(UnicodeTest, WideningInsideARoomyBufferStaysPut) {
    node_t node = memory::alloc_series(64, 1, -1); // head in the middle
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), "abc", 3);
    b->tail = b->head + 3;
    Cell c{TYPE_STRING, 0, node, 0};
    Cell* s = stack::push(&c);
    SeriesBuffer* wide = unicode::latin1_to_ucs2(memory::buffer_of(s));
    EXPECT_EQ(chars_of(s->data2), (Chars{0x61, 0x62, 0x63}));
    EXPECT_EQ(wide->unit(), 2u);
    EXPECT_EQ(wide->used_bytes(), 6u);
}

// ---------------------------------------------------------------------------
// Case, width and Windows-1251 against Python
// ---------------------------------------------------------------------------

struct Oracle {
    std::map<uint32_t, uint32_t> upper, lower, cp1251;
    struct Run {
        uint32_t first, last;
        int width, cjk;
    };
    std::vector<Run> widths;
    bool loaded = false;
};

[[maybe_unused]] void read_all(FILE* f, std::string* text) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
}

// The oracle's output: a file made by the build when it names one, else the
// script run here (the native build).
std::string oracle_text() {
    std::string text;
#if defined(MOX_UNICODE_ORACLE)
    if (FILE* f = std::fopen(MOX_UNICODE_ORACLE, "rb")) {
        read_all(f, &text);
        std::fclose(f);
    }
#elif !defined(_WIN32)
    if (FILE* f = popen("python3 '" MOX_SOURCE_DIR "/tests/unicode/oracle.py'", "r")) {
        read_all(f, &text);
        pclose(f);
    }
#endif
    return text;
}

const Oracle& oracle() {
    static Oracle o;
    if (o.loaded) return o;
    o.loaded = true;
    std::istringstream in(oracle_text());
    std::string kind;
    while (in >> kind) {
        uint32_t a, b;
        in >> std::hex >> a >> b;
        if (kind == "U")
            o.upper[a] = b;
        else if (kind == "L")
            o.lower[a] = b;
        else if (kind == "C")
            o.cp1251[a] = b;
        else if (kind == "W") {
            int w, cjk;
            in >> std::dec >> w >> cjk;
            o.widths.push_back({a, b, w, cjk});
        }
        in >> std::hex;
    }
    return o;
}

#define REQUIRE_ORACLE()                                                                           \
    if (oracle().widths.empty()) {                                                                 \
        if (test_on_windows) GTEST_SKIP() << "oracle vectors not generated for this build";        \
        FAIL() << "python3 tests/unicode/oracle.py gave no output";                                \
    }

#ifdef _WIN32
constexpr bool test_on_windows = true;
#else
constexpr bool test_on_windows = false;
#endif

TEST_F(UnicodeTest, CaseMatchesUnicodeData) {
    REQUIRE_ORACLE();
    const Oracle& o = oracle();
    EXPECT_EQ(o.upper.size(), unicode::UPPER_BMP_COUNT + unicode::UPPER_ASTRAL_COUNT);
    EXPECT_EQ(o.lower.size(), unicode::LOWER_BMP_COUNT + unicode::LOWER_ASTRAL_COUNT);
    for (uint32_t cp = 0; cp <= 0x10FFFF; cp++) {
        auto up = o.upper.find(cp);
        auto low = o.lower.find(cp);
        ASSERT_EQ(unicode::change_case(cp, true), up == o.upper.end() ? cp : up->second)
            << "upper U+" << std::hex << cp;
        ASSERT_EQ(unicode::change_case(cp, false), low == o.lower.end() ? cp : low->second)
            << "lower U+" << std::hex << cp;
    }
}

// to_upper answers ASCII inline: every code point must fold exactly as the
// table routine folds it, and in ASCII only a-z change.
TEST_F(UnicodeTest, InlineUpperAgreesWithTables) {
    for (uint32_t cp = 0; cp <= 0x10FFFF; cp++)
        ASSERT_EQ(unicode::to_upper(cp), unicode::change_case(cp, true)) << "U+" << std::hex << cp;
    for (uint32_t cp = 0; cp < 0x80; cp++) {
        uint32_t expected = cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
        ASSERT_EQ(unicode::to_upper(cp), expected) << "U+" << std::hex << cp;
    }
}

TEST_F(UnicodeTest, WidthMatchesUnicodeData) {
    REQUIRE_ORACLE();
    uint32_t next = 0;
    for (const Oracle::Run& r : oracle().widths) {
        ASSERT_EQ(r.first, next);
        for (uint32_t cp = r.first; cp <= r.last; cp++) {
            ASSERT_EQ(unicode::char_width(cp), r.width) << "U+" << std::hex << cp;
            ASSERT_EQ(unicode::char_width_cjk(cp), r.cjk) << "cjk U+" << std::hex << cp;
        }
        next = r.last + 1;
    }
    EXPECT_EQ(next, 0x110000u);
}

TEST_F(UnicodeTest, Windows1251MatchesTheCodec) {
    REQUIRE_ORACLE();
    const Oracle& o = oracle();
    EXPECT_EQ(o.cp1251.size(), 127u);
    for (uint32_t byte = 0x80; byte < 0x100; byte++) {
        auto it = o.cp1251.find(byte);
        uint32_t expect = it == o.cp1251.end() ? byte : it->second; // 0x98 passes through
        EXPECT_EQ(unicode::cp1251_high[byte - 0x80], expect) << std::hex << byte;
    }
}

// ---------------------------------------------------------------------------
// Case and width rules
// ---------------------------------------------------------------------------

TEST_F(UnicodeTest, CaseListsHaveTheirShape) {
    struct List {
        const char* name;
        std::span<const unicode::CasePair> pairs;
        size_t count;
        uint32_t first, last;
    } lists[] = {
        {"upper bmp", unicode::upper_bmp, 1250, 0x61, 0xFF5A},
        {"lower bmp", unicode::lower_bmp, 1158, 0x41, 0xFF3A},
        {"upper astral", unicode::upper_astral, 225, 0x10428, 0x1E943},
        {"lower astral", unicode::lower_astral, 225, 0x10400, 0x1E921},
    };
    for (const List& l : lists) {
        EXPECT_EQ(l.pairs.size(), l.count) << l.name;
        EXPECT_EQ(l.pairs.front().cp, l.first) << l.name;
        EXPECT_EQ(l.pairs.back().cp, l.last) << l.name;
        for (size_t i = 1; i < l.pairs.size(); i++)
            ASSERT_LT(l.pairs[i - 1].cp, l.pairs[i].cp) << l.name;
    }
    struct Ranges {
        const char* name;
        std::span<const unicode::Range> ranges;
        unicode::Range first, last;
    } widths[] = {
        {"zero", unicode::zero_width_ranges, {0x300, 0x36F}, {0xE0100, 0xE01EF}},
        {"wide", unicode::wide_ranges, {0x1100, 0x115F}, {0x30000, 0x3FFFD}},
        {"ambiguous", unicode::ambiguous_ranges, {0xA1, 0xA1}, {0x100000, 0x10FFFD}},
    };
    for (const Ranges& r : widths) {
        EXPECT_EQ(r.ranges.front().first, r.first.first) << r.name;
        EXPECT_EQ(r.ranges.front().last, r.first.last) << r.name;
        EXPECT_EQ(r.ranges.back().first, r.last.first) << r.name;
        EXPECT_EQ(r.ranges.back().last, r.last.last) << r.name;
        for (size_t i = 0; i < r.ranges.size(); i++) {
            ASSERT_LE(r.ranges[i].first, r.ranges[i].last) << r.name;
            if (i) {
                ASSERT_GT(r.ranges[i].first, r.ranges[i - 1].last + 1) << r.name;
            }
        }
    }
}

TEST_F(UnicodeTest, CaseRules) {
    struct Case {
        uint32_t cp, upper, lower, toggled;
    } cases[] = {
        {0x61, 0x41, 0x61, 0x41},
        {0x41, 0x41, 0x61, 0x61},
        {0x31, 0x31, 0x31, 0x31},
        {0xDF, 0x53, 0xDF, 0x53}, // first character of "SS"
        {0x1F80, 0x1F08, 0x1F80, 0x1F08},
        {0xFB01, 0x46, 0xFB01, 0x46},
        {0x131, 0x49, 0x131, 0x49},
        {0x130, 0x130, 0x69, 0x69},
        {0x1E922, 0x1E900, 0x1E922, 0x1E900},
        {0x10400, 0x10400, 0x10428, 0x10428},
        {0x10428, 0x10400, 0x10428, 0x10400},
        {0x10000, 0x10000, 0x10000, 0x10000}, // below the astral keys
        {0x1F600, 0x1F600, 0x1F600, 0x1F600}, // above them
        {0x10FFFF, 0x10FFFF, 0x10FFFF, 0x10FFFF},
        {0xA794, 0xA794, 0xA794, 0xA794}, // upper case added after 11.0
        {0xA7C0, 0xA7C0, 0xA7C0, 0xA7C0}, // character added after 11.0
        {0x10570, 0x10570, 0x10570, 0x10570},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicode::change_case(c.cp, true), c.upper) << std::hex << c.cp;
        EXPECT_EQ(unicode::to_upper(c.cp), c.upper) << std::hex << c.cp;
        EXPECT_EQ(unicode::change_case(c.cp, false), c.lower) << std::hex << c.cp;
        EXPECT_EQ(unicode::toggle_case(c.cp), c.toggled) << std::hex << c.cp;
    }
}

TEST_F(UnicodeTest, WidthRules) {
    struct Case {
        uint32_t cp;
        int width, cjk;
    } cases[] = {{0x0000, 0, 0},  {0x0007, 1, 1},   {0x007F, 1, 1},   {0x009F, 1, 1},
                 {0x0041, 1, 1},  {0x00A1, 1, 2},   {0x0301, 0, 0},   {0x1160, 0, 0},
                 {0x0600, 0, 0},  {0x1171E, 0, 0},  {0x4E00, 2, 2},   {0xFF01, 2, 2},
                 {0x3FFFD, 2, 2}, {0x10FFFD, 1, 2}, {0x10FFFF, 1, 1}, {0x110000, 1, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(unicode::char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
    }
}

TEST_F(UnicodeTest, LoadWindows1251) {
    const std::string text = "A\xC0\xFF\r\n\x98";
    node_t node = unicode::load_cp1251(bytes_of(text), static_cast<uint32_t>(text.size()), 0, true);
    EXPECT_EQ(chars_of(node), (Chars{0x41, 0x410, 0x44F, 0x0A, 0x98}));
    EXPECT_EQ(unit_of(node), 2u);
    Cell* target = push_string({0x1F600}, 4);
    node = unicode::load_cp1251(bytes_of(text), 1, target->data2, false);
    EXPECT_EQ(chars_of(target->data2), (Chars{0x41}));
    EXPECT_EQ(unit_of(target->data2), 4u);
}

} // namespace
} // namespace mox
