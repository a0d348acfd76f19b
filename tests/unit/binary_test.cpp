// binary!: the base-2, 16, 58 and 64 decoders (against Python's base64 and
// binascii and a base-58 encoder, ext_vectors.inc), their failures, and the
// #{...} text form with its line layout.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/collector.h"
#include "core/unicode.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "evaluator/lexer.h"
#include "scalar_fixture.h"

namespace mox::test {
namespace {

#include "ext_vectors.inc"

struct BaseRow {
    int base;
    const char* text;
    const char* hex;
};
const BaseRow kBases[] = {MOX_BASE_ROWS};

using Decoder = node_t (*)(const uint8_t*, int32_t, int32_t);

Decoder decoder_of(int base) {
    switch (base) {
    case 2:
        return &binary::decode_base2;
    case 16:
        return &binary::decode_base16;
    case 58:
        return &binary::decode_base58;
    default:
        return &binary::decode_base64;
    }
}

std::string hex_of(node_t node) {
    static const char kHex[] = "0123456789ABCDEF";
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::string out;
    for (const uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p++) {
        out += kHex[*p >> 4];
        out += kHex[*p & 15];
    }
    return out;
}

// Decodes UTF-8 text as a string of the given unit (1, 2 or 4 bytes a
// character); "FAIL" when the decoder refuses it.
std::string decode(int base, const std::string& utf8, int unit = 1) {
    std::vector<uint32_t> points;
    for (size_t i = 0; i < utf8.size();) {
        uint32_t available = static_cast<uint32_t>(utf8.size() - i);
        int32_t cp = unicode::decode_utf8_char(reinterpret_cast<const uint8_t*>(utf8.data()) + i,
                                               &available);
        points.push_back(static_cast<uint32_t>(cp));
        i += available;
    }
    std::vector<uint8_t> units(points.size() * static_cast<size_t>(unit) + 1);
    for (size_t i = 0; i < points.size(); i++)
        string::put_char(units.data() + i * unit, static_cast<uint32_t>(unit), points[i]);
    node_t node = decoder_of(base)(units.data(), static_cast<int32_t>(points.size()), unit);
    return node ? hex_of(node) : "FAIL";
}

using BinaryTest = ScalarTest;

TEST_F(BinaryTest, DecodersMatchPython) {
    for (const BaseRow& r : kBases) {
        SCOPED_TRACE(std::to_string(r.base) + "#{" + r.text + "}");
        EXPECT_EQ(decode(r.base, r.text), r.hex);
    }
}

// The same texts held in 2- and 4-byte units decode alike.
TEST_F(BinaryTest, DecodersReadEveryUnitSize) {
    for (int unit : {2, 4}) {
        for (size_t i = 0; i < sizeof kBases / sizeof kBases[0]; i += 7) {
            const BaseRow& r = kBases[i];
            EXPECT_EQ(decode(r.base, r.text, unit), r.hex) << r.base << "#{" << r.text << "}";
        }
    }
}

TEST_F(BinaryTest, DecoderEdgeCases) {
    struct Row {
        int base;
        const char* text;
        const char* hex;
    };
    const Row rows[] = {
        // Comments run to the end of the line; blanks are skipped.
        {16, "0F ; a comment FF\n A0", "0FA0"},
        {16, "", ""},
        {16, "0f0", "FAIL"}, // an odd last digit is not dropped
        {16, "0G", "FAIL"},
        {16,
         "\xC3\x81"
         "1",
         "FAIL"}, // "Á" is not folded to "A"
        {2, "00000001 00000010", "0102"},
        {2, "0000000", "FAIL"},
        {2, "00000002", "FAIL"},
        {64, "SGk=", "4869"},
        {64, "SGk", "4869"}, // 3 values without padding: as if padded
        {64, "SA", "48"},    // 2 values without padding
        {64, "SGVsbG8", "48656C6C6F"},
        {64, "S", "FAIL"}, // a lone value
        {64, "SGVsb", "FAIL"},
        {64, "S=", "FAIL"},
        {64, "SGk=ignored", "4869"}, // "=" ends the data
        {64, "SG'k=", "4869"},
        {64, "SG*k", "FAIL"},
        {64, "SG\xC3\xA9k", "FAIL"}, // a character above 127
        {58, "", ""},
        {58, "11", "0000"},
        {58, "2g", "61"},
        {58, "a3gV", "626262"},
        {58, "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L",
         "00EB15231DFCEB60925886B67D065299925915AEB172C06647"},
        {58, "0", "FAIL"},
        {58, "I", "FAIL"},
    };
    for (const Row& r : rows) EXPECT_EQ(decode(r.base, r.text), r.hex) << r.base << " " << r.text;
    // Nor is the Latin-1 unit 0xC1 of a one-byte string.
    const uint8_t latin1[] = {0xC1, '1'};
    EXPECT_EQ(binary::decode_base16(latin1, 2, 1), 0u);
}

// Arbitrary code points in every unit size: the decoders answer a node or
// 0 and read nothing past the text (each text sits in a buffer of its exact
// size, so the sanitizer build sees any overread).
TEST_F(BinaryTest, DecodersTakeAnyText) {
    std::mt19937 rng(20261209);
    const uint32_t alphabet[] = {'0', '1', 'A',  'f',  '=',  ';',   '\n',     ' ',       '\'',
                                 'z', 0,   0x7F, 0x80, 0xFF, 0x100, 0x10FFFF, 0xFFFFFFFF};
    for (int round = 0; round < 3000; round++) {
        uint32_t unit = 1u << (round % 3);
        size_t n = rng() % 24;
        std::vector<uint8_t> units(n * unit);
        for (size_t i = 0; i < n; i++) {
            uint32_t cp = alphabet[rng() % (sizeof alphabet / sizeof alphabet[0])];
            if (unit == 1) cp &= 0xFF;
            if (unit == 2) cp &= 0xFFFF;
            string::put_char(units.data() + i * unit, unit, cp);
        }
        for (int base : {2, 16, 58, 64}) {
            node_t node =
                decoder_of(base)(units.data(), static_cast<int32_t>(n), static_cast<int32_t>(unit));
            if (node) {
                EXPECT_LE(memory::buffer_of(node)->used_bytes(), n);
            }
        }
    }
}

TEST_F(BinaryTest, ConstructorsKeepTheBytes) {
    const uint8_t bytes[] = {0, 1, 0xAB, 0xFF};
    Cell* b = binary::make_from_bytes(bytes, 4);
    EXPECT_EQ(type_of(b), TYPE_BINARY);
    EXPECT_EQ(binary::ms_length_q(b), 4);
    EXPECT_EQ(molded(*b), "#{0001ABFF}");
    b->data1 = 9; // a position past the tail counts as the tail
    EXPECT_EQ(binary::ms_length_q(b), 0);
    Cell empty;
    binary::make_cell(&empty, 64);
    collector::Root keep(&empty);
    EXPECT_EQ(binary::ms_length_q(&empty), 0);
    EXPECT_EQ(molded(empty), "#{}");
}

TEST_F(BinaryTest, MoldLayout) {
    std::vector<uint8_t> bytes(64);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<uint8_t>(i * 7);
    std::string hex;
    static const char kHex[] = "0123456789ABCDEF";
    for (uint8_t b : bytes) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    struct Row {
        uint32_t n;
        std::string text;
    };
    const Row rows[] = {
        {30, "#{" + hex.substr(0, 60) + "}"},
        {31, "#{\n    " + hex.substr(0, 62) + "\n}"},
        {64, "#{\n    " + hex.substr(0, 64) + "\n    " + hex.substr(64, 64) + "\n    }"},
    };
    for (const Row& r : rows) {
        Cell* b = binary::make_from_bytes(bytes.data(), r.n);
        EXPECT_EQ(molded(*b), r.text) << r.n;
        EXPECT_EQ(formed(*b), r.text) << r.n;
        // flat keeps one line.
        Cell* buffer = string::push_new(16);
        actions::mold(b, buffer, false, false, true, nullptr, 1000, 0);
        EXPECT_EQ(utf8_of(buffer), "#{" + hex.substr(0, r.n * 2) + "}");
        stack::pop(2);
    }
}

// Molds of every line layout load back through the lexer as the same bytes.
TEST_F(BinaryTest, MoldLoadsBack) {
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    for (uint32_t n : {0u, 1u, 30u, 31u, 32u, 64u, 100u}) {
        Cell* b = binary::make_from_bytes(bytes.data(), n);
        for (int32_t indent : {0, 2}) {
            Cell* buffer = string::push_new(16);
            actions::mold(b, buffer, false, false, false, nullptr, 1000, indent);
            std::string text = utf8_of(buffer);
            Cell* out = stack::push_cell();
            EXPECT_MOX_OK(lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                                           static_cast<int32_t>(text.size()), out));
            ASSERT_EQ(block::rs_length_q(out), 1) << text;
            Cell* loaded = stack::push(block::rs_head(out));
            EXPECT_EQ(binary::compare(b, loaded, COMP_STRICT_EQUAL), 0) << text;
        }
    }
}

// Each value goes onto the stack at once: the next allocation may collect.
Cell* pushed(Cell c) { return stack::push(&c); }

TEST_F(BinaryTest, Compare) {
    Cell* a = pushed(binary_cell({1, 2, 3}));
    Cell* b = pushed(binary_cell({1, 2, 3}));
    Cell* c = pushed(binary_cell({1, 2, 4}));
    Cell* d = pushed(binary_cell({1, 2}));
    Cell* high = pushed(binary_cell({0x80}));
    Cell* low = pushed(binary_cell({0x7F}));
    Cell i = int_cell(1);
    EXPECT_EQ(binary::compare(a, b, COMP_EQUAL), 0);
    EXPECT_NE(binary::compare(a, c, COMP_EQUAL), 0);
    EXPECT_NE(binary::compare(a, d, COMP_EQUAL), 0);
    EXPECT_NE(binary::compare(a, b, COMP_SAME), 0);
    EXPECT_EQ(binary::compare(a, a, COMP_SAME), 0);
    EXPECT_EQ(binary::compare(a, c, COMP_LESSER), -1);
    EXPECT_EQ(binary::compare(d, a, COMP_LESSER), -1);
    EXPECT_EQ(binary::compare(high, low, COMP_GREATER), 1); // bytes are unsigned
    EXPECT_EQ(binary::compare(a, &i, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

// The encoders against Python's base64 and big-integer base 58 (the decoder
// rows, with their blanks and optional padding taken out), then a seeded
// round trip through the decoders.
TEST_F(BinaryTest, EncodersMatchPython) {
    using Encoder = uint32_t (*)(char*, const uint8_t*, uint32_t);
    auto encode = [](int base, const std::vector<uint8_t>& data) {
        Encoder e = base == 2    ? &binary::encode_base2
                    : base == 16 ? &binary::encode_base16
                    : base == 58 ? &binary::encode_base58
                                 : &binary::encode_base64;
        std::string out(binary::encode_capacity(base, data.size()), '\0');
        out.resize(e(out.data(), data.data(), static_cast<uint32_t>(data.size())));
        return out;
    };
    auto bytes_of_hex = [](const std::string& hex) {
        std::vector<uint8_t> out;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return out;
    };
    for (const BaseRow& r : kBases) {
        std::string text;
        for (const char* p = r.text; *p; p++)
            if (static_cast<unsigned char>(*p) > ' ')
                text += r.base == 16 ? static_cast<char>(std::toupper(*p)) : *p;
        if (r.base == 64 && text.size() % 4 != 0) continue; // the row without its padding
        SCOPED_TRACE(std::to_string(r.base) + " " + r.hex);
        EXPECT_EQ(encode(r.base, bytes_of_hex(r.hex)), text);
    }
    // RFC 4648, section 10.
    const char* rfc[][3] = {{"", "", ""},
                            {"f", "Zg==", "66"},
                            {"fo", "Zm8=", "666F"},
                            {"foo", "Zm9v", "666F6F"},
                            {"foob", "Zm9vYg==", "666F6F62"},
                            {"fooba", "Zm9vYmE=", "666F6F6261"},
                            {"foobar", "Zm9vYmFy", "666F6F626172"}};
    for (auto& row : rfc) {
        std::vector<uint8_t> data(row[0], row[0] + std::strlen(row[0]));
        EXPECT_EQ(encode(64, data), row[1]);
        EXPECT_EQ(encode(16, data), row[2]);
    }
    EXPECT_EQ(encode(58, {0, 0}), "11");
    std::mt19937 rng(41);
    for (int round = 0; round < 200; round++) {
        std::vector<uint8_t> data(rng() % 70);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        for (int base : {2, 16, 58, 64}) {
            std::string text = encode(base, data);
            std::string hex;
            for (uint8_t b : data) hex += string::byte_to_hex(b).data();
            EXPECT_EQ(decode(base, text), hex) << base;
        }
    }
}

// Appending, inserting and changing under collections at every allocation:
// the value's bytes are gathered before the binary grows, so a value in the
// binary's own buffer and block values that must be formed come out whole.
TEST_F(BinaryTest, ChangesKeepTheirSources) {
    Cell* b = stack::push_cell();
    binary::make_cell(b, 0);
    Cell blk = binary_cell({1, 2, 3});
    Cell* three = stack::push(&blk);
    binary::insert(b, three, -1, false, 3, true);
    EXPECT_EQ(b->data1, 0u);
    EXPECT_EQ(molded(*b), "#{010203010203010203}");
    Cell* self = stack::push(b);
    self->data1 = 6;
    binary::insert(b, self, -1, false, 1, false);
    EXPECT_EQ(b->data1, 3u);
    b->data1 = 0;
    EXPECT_EQ(molded(*b), "#{010203010203010203010203}");
    Cell f = float_cell(1.5);
    binary::change(b, &f, 2, false, 2);
    EXPECT_EQ(b->data1, 6u);
    b->data1 = 0;
    EXPECT_EQ(molded(*b), "#{312E35312E3503010203010203010203}");
    Cell big = int_cell(300);
    EXPECT_MOX_ERROR(err::invalid_arg, binary::insert(b, &big, -1, false, 1, true));
    EXPECT_EQ(molded(*b), "#{312E35312E3503010203010203010203}");
}

} // namespace
} // namespace mox::test
