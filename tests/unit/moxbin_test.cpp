// Tests of the Moxbin codec: exact bytes of the compact and fixed-width
// forms (doubles checked against Python's struct.pack), round trips of every
// savable datatype through both forms (also with a collection at every
// allocation), sharing and self-reference, compressed bodies, and malformed
// documents giving clear errors with the failing byte's offset. A reader
// written in Python from the format's tables decodes what the encoder writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/actions-entry.h"
#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/image-store.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "io/lz.h"
#include "io/moxbin.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

using Bytes = std::vector<uint8_t>;

class MoxbinTest : public RuntimeTest {};

// The first value of a loaded or decoded block, copied to the stack so that
// it stays valid across allocations.
Cell* first(Cell* blk) { return stack::push(block::ms_abs_at(blk, 0)); }

Bytes bytes_of(const Cell* binary) {
    memory::SeriesBuffer* b = memory::buffer_of(binary->data2);
    return Bytes(b->head_ptr(), b->tail_ptr());
}

Bytes encoded(const Cell* value, bool compact) {
    Cell* out = make_none(stack::push_cell());
    compact ? moxbin::encode_cp(value, out) : moxbin::encode(value, out);
    Bytes b = bytes_of(out);
    stack::pop(1);
    return b;
}

// The records of a one-value compact document without symbols.
Bytes records(const Bytes& doc) { return Bytes(doc.begin() + 10, doc.end()); }

// Decodes into a new block pushed on the stack.
Cell* decoded(const Bytes& doc) {
    Cell* target = stack::push_cell();
    block::make_at(target, 4);
    moxbin::decode(doc.data(), int64_t(doc.size()), target, true);
    return target;
}

// The error code raised by decoding (-1 when none), and the offset carried
// by mb-invalid-record.
int decode_error(const Bytes& doc, int32_t* offset = nullptr) {
    return run_catching([&] {
        try {
            decoded(doc);
        } catch (const stack::Unwind&) {
            if (offset) {
                Cell* arg = error::field(stack::top - 1, error::FIELD_ARG1);
                *offset = type_of(arg) == TYPE_INTEGER ? get_integer(arg) : -1;
            }
            throw;
        }
    });
}

Bytes doc_of(std::initializer_list<uint8_t> recs) {
    Bytes d = {'M', 'O', 'X', 'B', 'I', 'N', 2, 1, 1, uint8_t(recs.size())};
    d.insert(d.end(), recs);
    return d;
}

TEST_F(MoxbinTest, CompactBytesOfScalars) {
    struct Case {
        const char* text;
        Bytes recs;
    } cases[] = {
        {"63", {0xBF}},
        {"64", {0x0B, 0x80, 0x01}},
        {"-1", {0x0B, 0x01}},
        {"1.0", {0x4C, 0x02}},
        // Doubles as Python's struct.pack('<d', x) writes them.
        {"1.5", {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F}},
        {"-0.0", {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
        {"1e300", {0x0C, 0x9C, 0x75, 0x00, 0x88, 0x3C, 0xE4, 0x37, 0x7E}},
        {"12%", {0x66, 0x18}},
        {"12.5%", {0x26, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x3F}},
        {"#\"a\"", {0x0A, 0x61}},
        {"3x-4", {0x25, 0x06, 0x07}},
        {"1.2.3", {0x27, 1, 2, 3}},
        {"1.2.3.4", {0x67, 4, 1, 2, 3, 4}},
        {"\"ab\"", {0x07, 0x08, 'a', 'b'}},
        {"#{0102}", {0x29, 0x02, 1, 2}},
    };
    for (auto& c : cases) {
        Cell* v = load(c.text);
        Bytes doc = encoded(block::ms_abs_at(v, 0), true);
        ASSERT_GE(doc.size(), 10u);
        EXPECT_EQ(Bytes(doc.begin(), doc.begin() + 8), (Bytes{'M', 'O', 'X', 'B', 'I', 'N', 2, 1}))
            << c.text;
        EXPECT_EQ(doc[8], 1) << c.text;
        EXPECT_EQ(doc[9], c.recs.size()) << c.text;
        EXPECT_EQ(records(doc), c.recs) << c.text;
    }
    Cell t;
    make_logic(&t, true);
    EXPECT_EQ(records(encoded(&t, true)), Bytes{0xC2});
    make_logic(&t, false);
    EXPECT_EQ(records(encoded(&t, true)), Bytes{0xC3});
}

TEST_F(MoxbinTest, SharedStringIsWrittenOnceWithPathZeroZero) {
    Cell* v = load("[\"abc\"]");
    Cell* blk = first(v);
    // On the stack, so that the collector updates it if appending moves things.
    Cell* s = stack::push(block::ms_abs_at(blk, 0));
    block::ms_append(blk, s);
    Bytes doc = encoded(blk, true);
    EXPECT_EQ(records(doc),
              (Bytes{0x05, 0x02, 0x07, 0x0C, 'a', 'b', 'c', 0xC1, 0x07, 0x02, 0x00, 0x00}));
    Cell* out = decoded(doc);
    Cell* b2 = first(out);
    EXPECT_EQ(block::ms_abs_at(b2, 0)->data2, block::ms_abs_at(b2, 1)->data2);
    EXPECT_EQ(mold(b2, true), "[\"abc\" \"abc\"]");
}

TEST_F(MoxbinTest, FixedFormLayout) {
    // [1.5]: block header, head, count, one padding word, then the float's
    // header, high and low words.
    Cell* v = load("[1.5]");
    Bytes doc = encoded(block::ms_abs_at(v, 0), false);
    ASSERT_EQ(doc.size(), 16u + 12 + 4 + 12);
    EXPECT_EQ(doc[7], 0);
    Bytes recs(doc.begin() + 16, doc.end());
    EXPECT_EQ(recs, (Bytes{5, 0, 0,  0, 0, 0, 0,    0,    1,    0,    0, 0, 0, 0,
                           0, 0, 12, 0, 0, 0, 0x00, 0x00, 0xF8, 0x3F, 0, 0, 0, 0}));
    // A string of five one-byte units: three bytes of padding.
    Cell* s = load("\"abcde\"");
    Bytes sdoc = encoded(block::ms_abs_at(s, 0), false);
    EXPECT_EQ(Bytes(sdoc.begin() + 16, sdoc.end()),
              (Bytes{7, 1, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 0, 0, 0}));
}

// An object made from set-words without evaluation, pushed.
Cell* make_object(const std::string& spec) {
    Cell* text = load(spec);
    Cell* body = first(text);
    Cell* none = make_none(stack::push_cell());
    return stack::push(object::make_from_spec(body, none, true));
}

// Values the lexer cannot write, made directly.
void push_made_values(Cell* blk) {
    Cell* saved = stack::top;
    Cell c;
    collector::Root keep(&c);
    make_datatype(&c, TYPE_BLOCK), block::ms_append(blk, &c);
    make_unset(&c), block::ms_append(blk, &c);
    make_none(&c), block::ms_append(blk, &c);
    make_logic(&c, true), block::ms_append(blk, &c);
    c = Cell{TYPE_TYPESET, 0x12345678, 0x80, 0}, block::ms_append(blk, &c);
    point2D::make_cell(&c, 1.5f, -2.25f), block::ms_append(blk, &c);
    point3D::make_cell(&c, 1.5f, -2.25f, 1e20f), block::ms_append(blk, &c);
    const uint8_t bits[] = {0x80, 0x41, 0xFF};
    bitset::make_from_bytes(&c, bits, 3, false), block::ms_append(blk, &c);
    bitset::make_from_bytes(&c, bits, 3, true), block::ms_append(blk, &c);
    for (auto [type, size] : {std::pair{TYPE_INTEGER, 1u},
                              {TYPE_INTEGER, 2u},
                              {TYPE_INTEGER, 4u},
                              {TYPE_CHAR, 4u},
                              {TYPE_FLOAT, 4u},
                              {TYPE_FLOAT, 8u},
                              {TYPE_PERCENT, 8u}}) {
        vector::make_cell(&c, 3, type, size);
        memory::SeriesBuffer* b = memory::buffer_of(c.data2);
        for (uint32_t i = 0; i < 3 * size; i++) b->head_ptr()[i] = uint8_t(i * 7 + 1);
        if (type == TYPE_FLOAT || type == TYPE_PERCENT)
            for (uint32_t i = 0; i < 3 * size; i++)
                b->head_ptr()[i] = uint8_t(0x3F + (i % size == size - 1 ? 0 : 1));
        if (type == TYPE_CHAR) {
            const uint32_t cps[3] = {0x41, 0x10FFFF, 0x1F600};
            std::memcpy(b->head_ptr(), cps, 12);
        }
        b->tail = b->head + 3 * size;
        block::ms_append(blk, &c);
    }
    Cell* items = load("[a 1 \"k\" [x] 2.5 #\"c\"]");
    c = *block::ms_abs_at(items, 0);
    map::make_cell(&c, &c, 0), block::ms_append(blk, &c);
    Cell* hitems = load("[a b c 1 2 3]");
    c = *block::ms_abs_at(hitems, 0);
    hash::make_cell(&c), block::ms_append(blk, &c);
    Cell* o = make_object("[p: 1 q: \"s\" r: [a]]");
    c = *object::get_word(o->data1, 1);
    block::ms_append(blk, &c);
    block::ms_append(blk, o);
    const uint8_t px[] = {1,  2,  3,  4,  5,  6,    7, 8,    9, 10,
                          11, 12, 13, 14, 15, 0xFF, 0, 0x80, 0, 0x7F};
    image::make_from_pixels(&c, px, 5, 1, 20, 0), block::ms_append(blk, &c);
    c.data1 = 3, block::ms_append(blk, &c);
    image::make_from_pixels(&c, px, 0, 0, 0, 0), block::ms_append(blk, &c);
    stack::top = saved;
}

const char* const SAMPLE =
    "[1 -5 100000 2147483647 -2147483648 0 63 64 1.0 1.5 -0.0 1e300 -2.5e-300 12% 12.5% -0.5% "
    "10:20:30 10:20:30.5 -1:00 #\"a\" #\"^(10FFFF)\" #\"^(00)\" 3x4 -7x2147483647 1.2.3 "
    "1.2.3.4.5.6.7.8.9.10.11.12 $1.50 -$2.00 EUR$3.25 25-Dec-2026 25-Dec-2026/10:20:30+02:00 "
    "29-Feb-2024/0:00 \"abc\" \"\u00FCn\u00EF\" \"\U0001D11Ex\" \"\" %file.txt http://x.y/z <tag "
    "a=1> a@b.c "
    "@ref #{DEADBEEF} #{} [a b [c d] []] (paren 1) a/b/c 'a/b :a/b a/b: word set: 'lit :get /ref "
    "#issue [\n new line] Word WORD]";

Cell* sample() {
    Cell* v = load(SAMPLE);
    Cell* blk = first(v);
    push_made_values(blk);
    return blk;
}

TEST_F(MoxbinTest, EveryDatatypeRoundTripsThroughBothForms) {
    Cell* blk = sample();
    std::string original = mold(blk, true);
    for (bool compact : {true, false}) {
        Bytes doc = encoded(blk, compact);
        Cell* out = decoded(doc);
        ASSERT_EQ(block::abs_length(out), 1u);
        std::string got = mold(block::ms_abs_at(out, 0), true);
        EXPECT_EQ(got, original) << compact;
        // Value by value, so that a difference names its datatype.
        Cell* b2 = first(out);
        ASSERT_EQ(block::abs_length(b2), block::abs_length(blk));
        for (uint32_t i = 0; i < block::abs_length(blk); i++) {
            Cell a = *block::ms_abs_at(blk, i), b = *block::ms_abs_at(b2, i);
            EXPECT_EQ(type_of(&a), type_of(&b)) << i;
            EXPECT_EQ(a.header & FLAG_NEW_LINE, b.header & FLAG_NEW_LINE) << i;
            std::string ma = mold(block::ms_abs_at(blk, i), true);
            EXPECT_EQ(ma, mold(block::ms_abs_at(b2, i), true)) << i;
        }
        // A decoded value encodes to a document of the same size (objects
        // take fresh class IDs, the lexer's words are not yet bound) that
        // decodes to an equal value.
        Bytes again = encoded(b2, compact);
        EXPECT_EQ(again.size(), doc.size());
        Cell* b3 = first(decoded(again));
        EXPECT_EQ(mold(b3, true), original);
    }
}

TEST_F(MoxbinTest, RoundTripsUnderCollectionAtEveryAllocation) {
    Cell* blk = sample();
    std::string original = mold(blk, true);
    bool saved = collector::stress;
    collector::stress = true;
    for (bool compact : {true, false}) {
        EXPECT_MOX_OK({
            Bytes doc = encoded(blk, compact);
            Cell* out = decoded(doc);
            EXPECT_EQ(mold(block::ms_abs_at(out, 0), true), original);
        });
    }
    collector::stress = saved;
}

TEST_F(MoxbinTest, HeadIndexNewLineAndUnitWidths) {
    Cell* v = load("[a b c d]");
    Cell* blk = first(v);
    blk->data1 = 2;
    Cell* s = load("[\"x\u00E9\" \"\u0100b\" \"\U0001F600\"]");
    Cell* strs = first(s);
    for (bool compact : {true, false}) {
        Cell* out = decoded(encoded(blk, compact));
        EXPECT_EQ(block::ms_abs_at(out, 0)->data1, 2u);
        EXPECT_EQ(mold(block::ms_abs_at(out, 0), true), "[c d]");
        Cell* sout = first(decoded(encoded(strs, compact)));
        for (uint32_t i = 0; i < 3; i++) {
            EXPECT_EQ(memory::buffer_of(block::ms_abs_at(strs, i)->data2)->unit(),
                      memory::buffer_of(block::ms_abs_at(sout, i)->data2)->unit());
            std::string ma = mold(block::ms_abs_at(strs, i), true);
            EXPECT_EQ(ma, mold(block::ms_abs_at(sout, i), true));
        }
    }
}

TEST_F(MoxbinTest, BlockHoldingItselfKeepsTheCycle) {
    Cell* v = load("[a]");
    Cell* blk = first(v);
    Cell self = *blk;
    block::ms_append(blk, &self);
    for (bool compact : {true, false}) {
        Bytes doc = encoded(blk, compact);
        Cell* out = first(decoded(doc));
        ASSERT_EQ(block::abs_length(out), 2u);
        EXPECT_EQ(block::ms_abs_at(out, 1)->data2, out->data2);
    }
}

TEST_F(MoxbinTest, ObjectsAndWordsBoundToThem) {
    Cell* obj = make_object("[a: 1 b: \"text\" c: [x y] d: none]");
    std::string original = mold(obj, true);
    // The object inside a block twice, a word bound to it, and the object
    // holding a word of its own context.
    Cell* blk = stack::push_cell();
    block::make_at(blk, 4);
    block::ms_append(blk, obj);
    block::ms_append(blk, obj);
    Cell w = *object::get_word(obj->data1, 1);
    block::ms_append(blk, &w);
    *context::value_ptr(obj->data1, 3) = w;
    for (bool compact : {true, false}) {
        Cell* out = first(decoded(encoded(blk, compact)));
        ASSERT_EQ(block::abs_length(out), 3u);
        Cell o1 = *block::ms_abs_at(out, 0), o2 = *block::ms_abs_at(out, 1),
             word = *block::ms_abs_at(out, 2);
        ASSERT_EQ(type_of(&o1), TYPE_OBJECT);
        EXPECT_EQ(o1.data1, o2.data1) << "one context for both";
        EXPECT_NE(o1.data2, obj->data2) << "a fresh class";
        EXPECT_EQ(o1.data2, o2.data2);
        EXPECT_EQ(word.data1, o1.data1);
        EXPECT_EQ(word.data3, 1u);
        Cell* inner = context::value_ptr(o1.data1, 3);
        EXPECT_EQ(inner->data1, o1.data1);
        EXPECT_EQ(mold(context::value_ptr(block::ms_abs_at(out, 0)->data1, 1), true), "\"text\"");
    }
    // A word of an object saved alone carries the whole object.
    for (bool compact : {true, false}) {
        Cell* out = decoded(encoded(&w, compact));
        ASSERT_EQ(block::abs_length(out), 1u);
        Cell word = *block::ms_abs_at(out, 0);
        ASSERT_EQ(type_of(&word), TYPE_WORD);
        Cell* owner = context::owner_of(word.data1);
        ASSERT_EQ(type_of(owner), TYPE_OBJECT);
        EXPECT_NE(owner->data2, obj->data2);
        std::string got = mold(owner, true);
        EXPECT_EQ(got, original.substr(0, original.find("d:")) + got.substr(got.find("d:"))) << got;
        EXPECT_EQ(mold(context::value_ptr(word.data1, word.data3), true), "\"text\"");
    }
}

TEST_F(MoxbinTest, BootImageDefinitionsWithUnknownLength) {
    // 0xC4 word value: a global definition, not left in the target; then one
    // plain value that is. The buffer is padded as the program's data is.
    const char name[] = "moxbin-boot-probe";
    Bytes doc = {'M', 'O', 'X', 'B', 'I', 'N', 1, 5, 1, 5, 1, uint8_t(sizeof name), 0, 0, 0, 0};
    doc.insert(doc.end(), name, name + sizeof name);
    for (uint8_t b : {0xC4, 0x0F, 0x00, 0x8A, 0xBF}) doc.push_back(b);
    Bytes padded = doc;
    padded.resize(doc.size() + 32, 0xEE);
    Cell* target = stack::push_cell();
    block::make_at(target, 2);
    make_none(block::alloc_tail(target));
    int32_t base = -1;
    EXPECT_MOX_OK(base = moxbin::boot_load(padded.data(), target));
    EXPECT_TRUE(moxbin::codec_q);
    EXPECT_EQ(base, 1);
    ASSERT_EQ(block::abs_length(target), 2u);
    EXPECT_EQ(get_integer(block::ms_abs_at(target, 1)), 63);
    Cell* value = context::symbol_value(context::global, symbol::make(name));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(type_of(value), TYPE_INTEGER);
    EXPECT_EQ(get_integer(value), 10);
    // The same document through the language codec: definitions refused.
    EXPECT_EQ(decode_error(doc), err::mb_invalid_record);
}

TEST_F(MoxbinTest, UnsavableTypesRaiseNoCodec) {
    for (uint32_t t : {TYPE_ROUTINE, TYPE_TRIPLE, TYPE_HANDLE, TYPE_PORT, TYPE_EVENT}) {
        Cell c{t, 0, 0, 0};
        EXPECT_MOX_ERROR(err::no_codec, encoded(&c, true)) << t;
        EXPECT_MOX_ERROR(err::no_codec, encoded(&c, false)) << t;
        EXPECT_EQ(decode_error(doc_of({uint8_t(t)})), err::no_codec) << t;
    }
}

TEST_F(MoxbinTest, NotMoxbinRaisesInvalidData) {
    EXPECT_EQ(decode_error(Bytes{'M', 'O', 'X', 'B', 'I', 'X', 2, 1, 1, 1, 0xBF}),
              err::invalid_data);
    EXPECT_EQ(decode_error(Bytes{'M', 'O', 'X'}), err::invalid_data);
    // Fixed form with fewer than 8 bytes after the flags.
    EXPECT_EQ(decode_error(Bytes{'M', 'O', 'X', 'B', 'I', 'N', 2, 0, 1, 0, 0}), err::invalid_data);
}

#ifndef _WIN32
// At start-up an image that is not Moxbin, or whose compressed body is
// corrupt, ends the process with a failure status after its message.
TEST_F(MoxbinTest, UndecodableBootImageEndsWithFailure) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Bytes bad = {'M', 'O', 'X', 'B', 'I', 'X', 1, 1, 1, 1, 0xBF, 0, 0, 0,
                 0,   0,   0,   0,   0,   0,   0, 0, 0, 0, 0,    0, 0, 0};
    EXPECT_EXIT(moxbin::decode(bad.data(), -1, stack::push_cell(), false),
                testing::ExitedWithCode(1), "");
    Bytes corrupt = {'M', 'O', 'X', 'B', 'I', 'N', 1, 3, 4, 0, 0, 0, 200, 0, 0, 0,
                     0,   0,   0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0,   0, 0, 0};
    EXPECT_EXIT(moxbin::decode(corrupt.data(), -1, stack::push_cell(), false),
                testing::ExitedWithCode(1), "");
}
#endif

TEST_F(MoxbinTest, MalformedRecordsNameTheirOffset) {
    struct Case {
        const char* what;
        Bytes doc;
        int32_t offset;
    } cases[] = {
        {"type 0", doc_of({0x00}), 11},
        {"logic! type byte", doc_of({0x04}), 11},
        {"unknown lead", doc_of({0xC5}), 11},
        {"shared one-byte lead", doc_of({0xC1, 0x80}), 12},
        {"definition in the codec", doc_of({0xC4, 0x0F, 0}), 11},
        {"varint fifth byte", doc_of({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}), 16},
        {"truncated double", doc_of({0x0C, 0, 0}), 12},
        {"char beyond Unicode", doc_of({0x0A, 0x80, 0x80, 0xC4, 0x00}), 11},
        {"string unit 3", doc_of({0x07, 0x07, 'a'}), 12},
        {"code unit beyond Unicode", doc_of({0x07, 0x06, 0x00, 0x00, 0x11, 0x00}), 13},
        {"string longer than the document", doc_of({0x07, 0xFC, 0xFF, 0xFF, 0xFF, 0x07}), 17},
        {"block count beyond the bytes", doc_of({0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x07}), 12},
        {"typeset above 12", doc_of({0x21, 13}), 11},
        {"tuple length 0", doc_of({0x67, 0}), 11},
        {"bad date month", doc_of({0x2F, 0x00, 0x00, 0x00, 0x00}), 11},
        {"time flag without bit 6", doc_of({0x2F, 0x80, 0x10, 0x01, 0x00}), 11},
        {"vector of logic", doc_of({0x23, 4 << 2, 0}), 11},
        {"odd map count", doc_of({0x28, 0x01, 0x80}), 11},
        {"map key of block", doc_of({0x28, 0x02, 0x05, 0x00, 0x80}), 11},
        {"path into nothing", doc_of({0xFF, 0x01, 0x05}), 11},
        {"path of no steps", doc_of({0xFF, 0x00}), 11},
        {"shared string naming an integer",
         doc_of({0x05, 0x02, 0x80, 0xC1, 0x07, 0x02, 0x00, 0x00}), 15},
        {"symbol without a table", doc_of({0x0F, 0x00}), 12},
        {"money currency", doc_of({0x31, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 11},
        {"money digit", doc_of({0x31, 0, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 11},
        {"object without its context", doc_of({0x20, 0x00, 0x05}), 13},
        {"object of a function context", doc_of({0x20, 0x00, 0x0E, 0x01, 0x00}), 13},
        {"object context on the stack", doc_of({0x20, 0x00, 0x0E, 0x06, 0x00}), 13},
        {"bound word owned by a block", doc_of({0x4F, 0x00, 0x00, 0x05, 0x00}), 12},
        {"image side above 65535", doc_of({0x35, 0x80, 0x80, 0x04, 0x01}), 11},
        {"image pixels beyond the document", doc_of({0x35, 0x01, 0x02, 1, 2, 3, 4}), 14},
        {"image head beyond its pixels", doc_of({0x75, 0x02, 0x01, 0x01, 1, 2, 3, 4}), 11},
        {"shared image naming an integer", doc_of({0x05, 0x02, 0x80, 0xC1, 0x35, 0x02, 0x00, 0x00}),
         15},
    };
    for (auto& c : cases) {
        int32_t offset = 0;
        EXPECT_EQ(decode_error(c.doc, &offset), err::mb_invalid_record) << c.what;
        EXPECT_EQ(offset, c.offset) << c.what;
    }
    // A names area whose last name has no NUL.
    Bytes doc = {'M', 'O', 'X', 'B', 'I', 'N', 2, 5, 1, 2, 1, 2, 0, 0, 0, 0, 'a', 'b', 0x0F, 0x00};
    EXPECT_EQ(decode_error(doc), err::mb_invalid_record);
    doc[17] = 0;
    EXPECT_EQ(decode_error(doc), -1);
    // Records length beyond the document.
    EXPECT_EQ(decode_error(Bytes{'M', 'O', 'X', 'B', 'I', 'N', 2, 1, 1, 9, 0xBF}),
              err::mb_invalid_record);
}

TEST_F(MoxbinTest, EveryTruncationAndBitFlipIsRejectedCleanly) {
    Cell* blk = sample();
    for (bool compact : {true, false}) {
        Bytes doc = encoded(blk, compact);
        for (size_t n = 0; n < doc.size(); n += 3) {
            int code = decode_error(Bytes(doc.begin(), doc.begin() + n));
            EXPECT_TRUE(code == err::mb_invalid_record || code == err::invalid_data)
                << n << " " << code;
        }
        for (size_t i = 8; i < doc.size(); i++) {
            Bytes b = doc;
            b[i] ^= uint8_t(1 << (i % 8));
            int code = decode_error(b);
            EXPECT_TRUE(code == -1 || code == err::mb_invalid_record || code == err::no_codec ||
                        code == err::invalid_data)
                << i << " " << code;
        }
    }
}

TEST_F(MoxbinTest, NestingIsBoundedBothWays) {
    Cell* blk = stack::push_cell();
    block::make_at(blk, 1);
    Cell* inner = stack::push(blk);
    for (int i = 0; i < moxbin::MAX_DEPTH + 10; i++) {
        Cell* next = stack::push_cell();
        block::make_at(next, 1);
        block::ms_append(inner, next);
        *inner = *next;
        stack::pop(1);
    }
    EXPECT_MOX_ERROR(err::too_deep, encoded(blk, true));
    Bytes doc = {'M', 'O', 'X', 'B', 'I', 'N', 2, 1, 1, 0x84, 0x3E};
    for (int i = 0; i < 4000; i++) doc.push_back(0x05), doc.push_back(0x01);
    doc.push_back(0x80);
    EXPECT_EQ(decode_error(doc), err::mb_invalid_record);
}

TEST_F(MoxbinTest, CompressedBodyDecodes) {
    Cell* blk = sample();
    Bytes doc = encoded(blk, true);
    Bytes body(doc.begin() + 8, doc.end());
    Bytes packed(body.size());
    int32_t n = lz::compress(body.data(), int32_t(body.size()), packed.data());
    ASSERT_GT(n, 0);
    Bytes cdoc(doc.begin(), doc.begin() + 8);
    cdoc[7] |= 2;
    cdoc.insert(cdoc.end(), packed.begin(), packed.begin() + n);
    Cell* out = decoded(cdoc);
    std::string expected = mold(blk, true);
    EXPECT_EQ(mold(block::ms_abs_at(out, 0), true), expected);
    cdoc[20] ^= 0xFF;
    int code = decode_error(cdoc);
    EXPECT_TRUE(code == err::invalid_data || code == err::mb_invalid_record) << code;
    cdoc.resize(cdoc.size() - 1);
    EXPECT_EQ(decode_error(cdoc), err::invalid_data);
}

// Evaluates text in the global context and pushes its value.
Cell* evaluated(const std::string& text) {
    Cell* code = load(text);
    Cell* result = make_unset(stack::push_cell());
    interpreter::do_block(code, result);
    return stack::push(result);
}

// Sets a global word to the value, so that code can reach it.
void define(const char* name, const Cell* value) {
    Cell* word = stack::push(word::load(name));
    word::set(word, value);
    stack::pop(1);
}

std::string eval_mold(const std::string& text) {
    std::string out;
    int code = run_catching([&] { out = mold(evaluated(text), true); });
    return code == -1 ? out : "error " + std::to_string(code);
}

// An image record: the head index in pixels, the sides and the straight
// BGRA pixels; a second image over the same pixels is a shared record and
// decodes to an image over one set of pixels again.
TEST_F(MoxbinTest, ImageRecordsInBothForms) {
    const Bytes pixels = {0x03, 0x02, 0x01, 0xFF, 0x06, 0x05, 0x04, 0x00};
    Cell* img = evaluated("make image! [2x1 #{010203040506} #{00FF}]");
    img->data1 = 1;
    Bytes compact = encoded(img, true);
    Bytes want = {0x75, 0x01, 0x02, 0x01};
    want.insert(want.end(), pixels.begin(), pixels.end());
    EXPECT_EQ(records(compact), want);
    Bytes fixed = encoded(img, false);
    want = {53, 0, 0, 0, 1, 0, 0, 0, 2, 0, 1, 0};
    want.insert(want.end(), pixels.begin(), pixels.end());
    EXPECT_EQ(Bytes(fixed.begin() + 16, fixed.end()), want);
    for (const Bytes& doc : {compact, fixed}) {
        Cell* out = first(decoded(doc));
        EXPECT_EQ(out->data1, 1u);
        EXPECT_EQ(out->data3, img->data3);
        EXPECT_EQ(mold(out, true), mold(img, true));
    }
    Cell* blk = evaluated("mb-j: make image! 2x2 reduce [mb-j next mb-j make image! 0x0 mb-j]");
    Bytes recs = records(encoded(blk, true));
    ASSERT_GT(recs.size(), 21u);
    // After the block's lead and count and the first image's 19 bytes.
    EXPECT_EQ(Bytes(recs.begin() + 21, recs.end()),
              (Bytes{0xC1, 0x75, 0x01, 0x02, 0x00, 0x00, 0x35, 0x00, 0x00, 0xC1, 0x35, 0x02, 0x00,
                     0x00}));
    for (bool c : {true, false}) {
        Cell* out = first(decoded(encoded(blk, c)));
        define("mb-out", out);
        EXPECT_EQ(eval_mold("poke mb-out/1 4 1.2.3 reduce [same? mb-out/1 mb-out/4 index? "
                            "mb-out/2 pick mb-out/2 3 mb-out/3/size]"),
                  "[#(true) 2 1.2.3.0 0x0]")
            << c;
    }
}

TEST_F(MoxbinTest, CallablesAndErrorsRoundTripThroughBothForms) {
    // Each value is saved, decoded, given to the word mb-value, and the
    // check is run on it: its result must be the one the original gives.
    struct Case {
        const char* make;
        const char* check;
    } cases[] = {
        {"func [a b /c d [integer!] /local e] [e: a + b either c [e * d] [e]]",
         "reduce [mb-value 1 2 mb-value/c 3 4 5 mold :mb-value]"},
        {"func [n] [either n < 2 [n] [n * mb-value n - 1]]", "mb-value 6"},
        {":append", "mb-value [1] 2"},
        {":if", "mb-value true [7]"},
        {":+", "reduce [1 mb-value 2 mold :mb-value]"},
        {"make op! func [a b] [a * 10 + b]", "reduce [2 mb-value 3 mold :mb-value]"},
        {"make op! :subtract", "reduce [5 mb-value 2 mold :mb-value]"},
        {"try [1 / 0]", "reduce [mb-value/id mb-value/type mb-value/arg1 mold mb-value/near]"},
        {"make error! \"saved\"", "reduce [mb-value/id mb-value/arg1 form mb-value]"},
        {"reduce [:if func [x] [x + 1] :append]", "reduce [mb-value/2 41 length? mb-value]"},
    };
    for (auto& c : cases) {
        for (bool compact : {true, false}) {
            Cell* base = stack::top;
            std::string expected, got, again;
            ASSERT_EQ(run_catching([&] {
                          Cell* v = evaluated(c.make);
                          define("mb-value", v);
                          expected = eval_mold(c.check);
                          Bytes doc = encoded(v, compact);
                          Cell* out = decoded(doc);
                          ASSERT_EQ(block::abs_length(out), 1u);
                          Cell* d = first(out);
                          EXPECT_EQ(type_of(d), type_of(v)) << c.make;
                          EXPECT_EQ(mold(d, true), mold(v, true)) << c.make;
                          define("mb-value", d);
                          got = eval_mold(c.check);
                          // Encoded again: the same document (the fixed form
                          // writes a word's global index, which an unbound
                          // word gains when decoded).
                          Bytes again = encoded(d, compact);
                          if (compact)
                              EXPECT_EQ(again, doc) << c.make;
                          else
                              EXPECT_EQ(again.size(), doc.size()) << c.make;
                      }),
                      -1)
                << c.make;
            EXPECT_EQ(got, expected) << c.make << (compact ? " compact" : " fixed");
            EXPECT_EQ(expected.rfind("error", 0), std::string::npos) << expected;
            stack::top = base;
        }
    }
}

TEST_F(MoxbinTest, FunctionsKeepTheirContextAndSharing) {
    // One function twice, a word of its context alone, and an op made from
    // it: all share the one decoded context.
    Cell* fn = evaluated("func [x /y z] [x + 1]");
    Cell* blk = stack::push_cell();
    block::make_at(blk, 4);
    block::ms_append(blk, fn);
    block::ms_append(blk, fn);
    Cell x = *block::ms_abs_at(&function::extra_of(fn)[function::EXTRA_BODY], 0);
    ASSERT_EQ(x.data1, fn->data1);
    block::ms_append(blk, &x);
    for (bool compact : {true, false}) {
        Cell* out = first(decoded(encoded(blk, compact)));
        ASSERT_EQ(block::abs_length(out), 3u);
        Cell f1 = *block::ms_abs_at(out, 0), f2 = *block::ms_abs_at(out, 1),
             w = *block::ms_abs_at(out, 2);
        ASSERT_EQ(type_of(&f1), TYPE_FUNCTION);
        EXPECT_EQ(f1.data1, f2.data1);
        EXPECT_NE(f1.data1, fn->data1);
        EXPECT_EQ(w.data1, f1.data1);
        EXPECT_EQ(w.data3, 0u);
        Cell body = function::extra_of(&f1)[function::EXTRA_BODY];
        EXPECT_EQ(block::ms_abs_at(&body, 0)->data1, f1.data1) << "the body is bound to it";
        EXPECT_EQ(context::owner_of(f1.data1)->data2, f1.data2);
    }
    // The word saved alone brings its whole function.
    for (bool compact : {true, false}) {
        Cell* out = decoded(encoded(&x, compact));
        Cell w = *block::ms_abs_at(out, 0);
        ASSERT_EQ(type_of(&w), TYPE_WORD);
        Cell* owner = context::owner_of(w.data1);
        ASSERT_EQ(type_of(owner), TYPE_FUNCTION);
        EXPECT_EQ(mold(owner, true), "func [x /y z][x + 1]");
    }
    // A word of an error's context is written as a global word.
    Cell* e = evaluated("make error! 400");
    Cell ew = *context::symbol_at(e->data1, error::FIELD_ARG1);
    set_type(&ew, TYPE_WORD);
    ew.data1 = e->data1;
    ew.data3 = error::FIELD_ARG1;
    for (bool compact : {true, false}) {
        Cell w = *block::ms_abs_at(decoded(encoded(&ew, compact)), 0);
        EXPECT_EQ(w.data1, context::global) << compact;
        EXPECT_EQ(mold(&w, true), "arg1");
    }
}

TEST_F(MoxbinTest, FixedFormOpCarriesTheWrappedType) {
    // function! is 24: the wrapped type's bits include bit 19, which an
    // op! record never reads as "shared".
    Cell* op = evaluated("make op! func [a b] [a - b]");
    Bytes doc = encoded(op, false);
    Bytes header = {TYPE_OP, 0, TYPE_FUNCTION, 0};
    auto at = std::search(doc.begin(), doc.end(), header.begin(), header.end());
    ASSERT_NE(at, doc.end());
    ASSERT_EQ((at - doc.begin()) % 4, 0);
    Cell* out = first(decoded(doc));
    EXPECT_EQ(type_of(out), TYPE_OP);
    EXPECT_EQ(native::op_source_type(out), uint32_t(TYPE_FUNCTION));
    // A header naming another wrapped type than the record that follows.
    at[2] = TYPE_ACTION;
    EXPECT_EQ(decode_error(doc), err::mb_invalid_record);
}

TEST_F(MoxbinTest, CallableAndErrorRecordsAreChecked) {
    // A native or action number must name a filled slot; action slot 8 is
    // empty. Its spec must have the shape of the one the slot was made with
    // (its routine trusts the arguments' kinds and types): action 1's spec
    // is not empty, and the real action round-trips.
    ASSERT_EQ(actions_entry::lookup(8), nullptr);
    ASSERT_NE(actions_entry::lookup(1), nullptr);
    EXPECT_EQ(decode_error(doc_of({0x16, 0x01, 0x05, 0x00})), err::mb_invalid_record);
    EXPECT_EQ(type_of(first(decoded(encoded(evaluated(":make"), true)))), TYPE_ACTION);
    struct Case {
        const char* what;
        Bytes doc;
        int32_t offset;
    } cases[] = {
        {"action slot 8", doc_of({0x16, 0x08, 0x05, 0x00}), 11},
        {"action 0", doc_of({0x16, 0x00, 0x05, 0x00}), 11},
        {"action past the table", doc_of({0x16, 0x3F, 0x05, 0x00}), 11},
        {"native 0", doc_of({0x15, 0x00, 0x05, 0x00}), 11},
        {"native past the table", doc_of({0x15, 0xFF, 0x01, 0x05, 0x00}), 11},
        {"action spec not a block", doc_of({0x16, 0x01, 0x80}), 11},
        {"action spec with a head index", doc_of({0x16, 0x01, 0x45, 0x01, 0x01, 0x80}), 11},
        {"error code outside the catalogue", doc_of({0x22, 0xE7, 0x07}), 12},
        {"op of an integer", doc_of({0x17, 0x80}), 12},
        {"op of an action whose spec does not fit its slot", doc_of({0x17, 0x16, 0x01, 0x05, 0x00}),
         12},
        {"function context not on the stack", doc_of({0x18, 0x00, 0x00, 0x0E, 0x01, 0x00}), 14},
        {"function context of an object", doc_of({0x18, 0x00, 0x00, 0x0E, 0x06, 0x00}), 14},
        {"function body not a block",
         doc_of({0x18, 0x00, 0x00, 0x0E, 0x05, 0x00, 0x05, 0x00, 0x80}), 19},
        {"function spec longer than said",
         doc_of({0x18, 0x00, 0x00, 0x0E, 0x05, 0x00, 0x05, 0x01, 0x07, 0x00, 0x05, 0x00}), 17},
        {"object handler word outside its context",
         doc_of({0x60, 0x00, 0x80, 0x80, 0x28, 0xFF, 0xFF, 0x07, 0x0E, 0x02, 0x00}), 11},
        {"function spec that make refuses",
         doc_of({0x18, 0x01, 0x00, 0x0E, 0x05, 0x00, 0x05, 0x01, 0x80, 0x05, 0x00}), 11},
    };
    for (auto& c : cases) {
        int32_t offset = 0;
        EXPECT_EQ(decode_error(c.doc, &offset), err::mb_invalid_record) << c.what;
        EXPECT_EQ(offset, c.offset) << c.what;
    }
    // Mutations of real records: the function's context words swapped
    // (the spec names a and b in that order), and an error's stack field
    // given a number (a frame position, never a saved value).
    Cell* fn = evaluated("func [a b] [a]");
    Bytes doc = encoded(fn, true);
    Bytes ctx = {0x0E, 0x05, 0x02, 0x00, 0x01};
    auto at = std::search(doc.begin(), doc.end(), ctx.begin(), ctx.end());
    ASSERT_NE(at, doc.end());
    EXPECT_EQ(decode_error(doc), -1);
    std::swap(at[3], at[4]);
    EXPECT_EQ(decode_error(doc), err::mb_invalid_record);
    Cell* e = evaluated("make error! 400");
    doc = encoded(e, true);
    ASSERT_EQ(doc.back(), 0x03);
    EXPECT_EQ(decode_error(doc), -1);
    doc.back() = 0x80;
    EXPECT_EQ(decode_error(doc), err::mb_invalid_record);
    // A path into an error counts from arg1; a shared block must name
    // cells, not a string's bytes.
    EXPECT_EQ(
        decode_error(doc_of({0x05, 0x02, 0x07, 0x08, 'a', 'b', 0xC1, 0x05, 0x02, 0x00, 0x00})),
        err::mb_invalid_record);
}

TEST_F(MoxbinTest, ContextRecordDecodesToAFreshObject) {
    // [context! object kind, values follow; word a = 5] with its symbol.
    Bytes doc = {'M', 'O', 'X', 'B', 'I', 'N', 2,    5,    1,    5,    1,   2,
                 0,   0,   0,   0,   'a', 0,   0x0E, 0x12, 0x01, 0x00, 0x85};
    Cell* out = decoded(doc);
    ASSERT_EQ(block::abs_length(out), 1u);
    Cell* o = first(out);
    ASSERT_EQ(type_of(o), TYPE_OBJECT);
    EXPECT_EQ(mold(o, true), "make object! [\n    a: 5\n]");
    doc[19] = 0x11; // a function context
    EXPECT_EQ(decode_error(doc), err::mb_invalid_record);
    // The record cell itself is no value of the language.
    Cell c = *context::record_of(o->data1);
    EXPECT_MOX_ERROR(err::no_codec, encoded(&c, true));
}

// Where the records of a compact document start: after the value count,
// the records length and the symbol table.
size_t records_start(const Bytes& doc) {
    size_t i = 8;
    auto varint = [&] {
        uint32_t v = 0;
        for (int shift = 0;; shift += 7) {
            uint8_t b = doc.at(i++);
            v |= uint32_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
    };
    varint();
    varint();
    if (doc[7] & 4) {
        uint32_t count = varint();
        uint32_t size = varint();
        i += 4 * size_t(count) + size;
    }
    return i;
}

TEST_F(MoxbinTest, NativeAndActionNumbersMatchTheBootSource) {
    // Every `name: make native! [[spec] id]` and `make action!` of the boot
    // files: the value of name carries that id, and the encoder writes it
    // as the record's table number.
    int seen = 0;
    for (const char* file :
         {"actions", "natives", "more-natives", "system-natives", "io", "parse", "operators"}) {
        std::ifstream in(std::string(MOX_SOURCE_DIR) + "/library/boot/" + file + ".mox",
                         std::ios::binary);
        if (!in) continue;
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Cell* code = load(text);
        for (uint32_t i = 0; i + 3 < block::abs_length(code); i++) {
            Cell item[4];
            for (uint32_t k = 0; k < 4; k++) item[k] = *block::ms_abs_at(code, i + k);
            if (type_of(&item[0]) != TYPE_SET_WORD || type_of(&item[1]) != TYPE_WORD ||
                mold(&item[1], true) != "make" || type_of(&item[3]) != TYPE_BLOCK)
                continue;
            std::string kind = mold(&item[2], true);
            if (kind != "native!" && kind != "action!") continue;
            ASSERT_EQ(block::abs_length(&item[3]), 2u) << mold(&item[0], true);
            int32_t id = get_integer(block::ms_abs_at(&item[3], 1));
            Cell w = item[0];
            set_type(&w, TYPE_WORD);
            Cell* value = stack::push(word::get_value(&w));
            if (type_of(value) == TYPE_OP) continue;
            ASSERT_EQ(type_of(value), kind == "native!" ? TYPE_NATIVE : TYPE_ACTION)
                << mold(&w, true);
            EXPECT_EQ(int32_t(value->data1), id) << mold(&w, true);
            Bytes doc = encoded(value, true);
            // The first record: the lead, then the table number as a varint.
            size_t r = records_start(doc);
            ASSERT_LT(r + 2, doc.size());
            EXPECT_EQ(doc[r], kind == "native!" ? TYPE_NATIVE : TYPE_ACTION) << mold(&w, true);
            uint32_t number = doc[r + 1] & 0x7F;
            if (doc[r + 1] & 0x80) number |= uint32_t(doc[r + 2]) << 7;
            EXPECT_EQ(int32_t(number), id) << mold(&w, true);
            Cell* back = first(decoded(doc));
            EXPECT_EQ(int32_t(back->data1), id) << mold(&w, true);
            EXPECT_EQ(type_of(back), type_of(value));
            seen++;
            stack::top = value;
        }
    }
    EXPECT_GT(seen, 100);
}

#ifndef _WIN32
// What the Python reader makes of a compact document ("malformed" and its
// status when it refuses it).
std::string python_read(const Bytes& doc) {
    std::string path = testing::TempDir() + "mox-moxbin-" + std::to_string(getpid()) + ".bin";
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(doc.data()), std::streamsize(doc.size()));
    }
    std::string cmd =
        std::string("python3 ") + MOX_SOURCE_DIR + "/tests/unit/moxbin_reader.py < " + path;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return "no pipe";
    std::string got;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) got.append(buf, n);
    int status = pclose(pipe);
    std::remove(path.c_str());
    return status == 0 ? got : "malformed " + std::to_string(status);
}

TEST_F(MoxbinTest, PythonReaderDecodesOurCompactForm) {
    if (std::system("python3 -c 'import struct' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    Cell* v = load("[1 -70000 1.5 2.0 12% \"h\u00E9\" [w: 'x] #\"z\" #{0A0B} 63 64 (p)]");
    Cell* blk = first(v);
    Cell t;
    make_logic(&t, true);
    block::ms_append(blk, &t);
    make_none(&t);
    block::ms_append(blk, &t);
    Bytes doc = encoded(blk, true);
    EXPECT_EQ(
        python_read(doc),
        "block[int(1) int(-70000) float(1.5) float(2.0) percent(0.12) string('hé') "
        "block[set-word(w) lit-word(x)] char(122) binary(0a0b) int(63) int(64) paren[word(p)] "
        "logic(True) none]\n");
}

// Callables, errors, bound words and shared records as the reader lays
// them out: the function's context words, spec and body; words of the
// function's body naming it by path (the block at 0, the function at 1).
TEST_F(MoxbinTest, PythonReaderFollowsCallableRecords) {
    if (std::system("python3 -c 'import struct' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    Cell* blk = evaluated("mb-f: func [a b] [a + b] reduce [:mb-f make op! :mb-f :subtract "
                          "make error! 400 :mb-f]");
    Bytes doc = encoded(blk, true);
    std::string got = python_read(doc);
    std::string subtract = std::to_string(A_SUBTRACT);
    std::string types = "block[word(scalar!) word(vector!)]";
    EXPECT_EQ(got, "block[func2/3 ctx1(a b) block[word(a) word(b)] "
                   "block[word(a@0->0.0) word(+) word(b@1->0.0)] "
                   "op(shared-24(0.0)) "
                   "action" +
                       subtract +
                       "block[string('Returns the difference between two values') "
                       "word(value1) " +
                       types + " word(value2) " + types + " set-word(return) " + types +
                       "] error400(none none none none none none) shared-24(0.0)]\n");
}

// Images: the compact record as the Python reader reads it, sharing included.
TEST_F(MoxbinTest, PythonReaderReadsImageRecords) {
    if (std::system("python3 -c 'import struct' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    Cell* blk = evaluated("mb-i: make image! [2x1 #{010203040506} #{00FF}] "
                          "reduce [next mb-i mb-i make image! 0x0]");
    EXPECT_EQ(python_read(encoded(blk, true)),
              "block[image(2x1@1 030201ff06050400) shared-53(0.0) image(0x0@0 )]\n");
}
#endif

} // namespace
} // namespace mox::test
