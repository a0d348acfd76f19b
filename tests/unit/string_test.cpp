// string!: storage and widening, adding and changing text, conversion,
// molding, trimming, searching, comparison, sorting and the set operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/actions.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"
#include "string_fixture.h"

namespace mox::test {

namespace {

Cell* char_cell(uint32_t cp) { return make_char(stack::push_cell(), cp); }

Cell* word_cell(const char* name) {
    Cell* w = stack::push_cell();
    *w = Cell{TYPE_WORD, 0, symbol::make(name), 0xFFFFFFFFu};
    return w;
}

// A block of the given cells, on the stack.
Cell* block_of(std::initializer_list<Cell*> cells) {
    Cell* blk = stack::push_cell();
    block::make_at(blk, static_cast<int32_t>(cells.size()));
    for (Cell* c : cells) block::ms_append(blk, c);
    return blk;
}

std::string molded(Cell* s, bool all = false) {
    Cell* out = string::push_new(0);
    string::mold(s, out, false, all, false, nullptr, INT32_MAX, 0);
    return utf8_of(out);
}

class StringTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { boot_strings(); }
};

// ---------------------------------------------------------------------------
// Storage and widening
// ---------------------------------------------------------------------------

TEST_F(StringTest, AppendCharWidensAt128AndAbove0xFFFF) {
    struct Row {
        const char* start;
        uint32_t cp;
        uint32_t unit;
    } rows[] = {
        {"ab", 'c', 1},     {"ab", 127, 1}, {"ab", 233, 2},    {"ab", 0xFFFF, 2},
        {"ab", 0x1F600, 4}, {"é", 'a', 2},  {"é", 0x10000, 4}, {"\xF0\x9F\x98\x80", 'a', 4},
    };
    for (const Row& r : rows) {
        Cell* s = text(r.start);
        std::string before = utf8_of(s);
        string::append_char(s, r.cp);
        EXPECT_EQ(unit_of(s), r.unit) << r.start << " + " << r.cp;
        uint8_t bytes[4];
        std::string want =
            before + std::string(reinterpret_cast<char*>(bytes), unicode::cp_to_utf8(r.cp, bytes));
        EXPECT_EQ(utf8_of(s), want);
    }
}

TEST_F(StringTest, WritingAtAnIndexKeepsLatin1UpTo255) {
    Cell* s = text("abc");
    string::overwrite_char_at(s, 1, 233);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(utf8_of(s), "aéc");
    string::insert_char(s, 0, 255);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(utf8_of(s), "ÿaéc");
    string::overwrite_char_at(s, 3, 0x100);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(utf8_of(s), "ÿaéĀ");
    string::insert_char(s, 4, 0x1F600);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(utf8_of(s), "ÿaéĀ\xF0\x9F\x98\x80");
    string::overwrite_char(s, 5, 'z');
    EXPECT_EQ(utf8_of(s), "ÿaéĀ\xF0\x9F\x98\x80z");
}

TEST_F(StringTest, JoiningLeavesTheSourceAsItWas) {
    Cell* wide = text("Ā");
    Cell* narrow = text("xy");
    string::concatenate(wide, narrow);
    EXPECT_EQ(utf8_of(wide), "Āxy");
    EXPECT_EQ(unit_of(narrow), 1u);
    Cell* out = text("\xF0\x9F\x98\x80");
    string::form(narrow, out, nullptr, INT32_MAX);
    EXPECT_EQ(utf8_of(out), "\xF0\x9F\x98\x80xy");
    EXPECT_EQ(unit_of(narrow), 1u);
    string::concatenate(narrow, wide);
    EXPECT_EQ(unit_of(narrow), 2u);
    EXPECT_EQ(utf8_of(narrow), "xyĀxy");
}

TEST_F(StringTest, Utf8RoundTrips) {
    // Code point counts from Python: len(s) for each UTF-8 text.
    struct Row {
        const char* utf8;
        int32_t chars;
        uint32_t unit;
    } rows[] = {
        {"", 0, 1},
        {"plain ascii", 11, 1},
        {"caf\xC3\xA9", 4, 2},
        {"\xE2\x82\xAC"
         "100",
         4, 2},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 3, 2},
        {"a\xF0\x9F\x98\x80"
         "b",
         3, 4},
        {"\xF0\x90\x90\x80\xF0\x9D\x84\x9E", 2, 4},
        {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", 2, 4},
    };
    for (const Row& r : rows) {
        Cell* s = text(r.utf8);
        EXPECT_EQ(string::ms_length_q(s), r.chars) << r.utf8;
        EXPECT_EQ(unit_of(s), r.unit) << r.utf8;
        EXPECT_EQ(utf8_of(s), r.utf8);
        int32_t n = -1;
        EXPECT_STREQ(unicode::to_utf8(s, &n), r.utf8);
    }
}

TEST_F(StringTest, LoadingEncodedText) {
    const char* utf8 = "h\xC3\xA9llo";
    Cell* s = string::load(reinterpret_cast<const uint8_t*>(utf8), 6, string::ENCODING_UTF8);
    EXPECT_EQ(utf8_of(s), "héllo");
    const char16_t units[] = {u'a', 0x20AC, 0xD83D, 0xDE00};
    Cell* w = string::load_at(reinterpret_cast<const uint8_t*>(units), 4, nullptr,
                              string::ENCODING_UTF16LE);
    EXPECT_EQ(utf8_of(w), "a€\xF0\x9F\x98\x80");
    EXPECT_EQ(unit_of(w), 4u);

    Cell* blk = stack::push_cell();
    block::make_at(blk, 1);
    string::load_in(reinterpret_cast<const uint8_t*>("xyz"), 3, blk->data2, string::ENCODING_UTF8);
    EXPECT_EQ(utf8_of(memory::buffer_of(blk)->cells()), "xyz");

    Cell* bin = stack::push_cell();
    string::make_at(bin, 4, 1, TYPE_BINARY);
    const uint8_t bytes[] = {'o', 0xC3, 0xA9, 0xFF};
    memory::SeriesBuffer* b = memory::buffer_of(bin);
    std::memcpy(b->head_ptr(), bytes, 4);
    b->tail = b->head + 3;
    EXPECT_EQ(utf8_of(string::decode_utf8(bin, stack::push_cell())), "oé");
    memory::buffer_of(bin)->tail = memory::buffer_of(bin)->head + 4;
    EXPECT_MOX_ERROR(err::invalid_utf8, string::decode_utf8(bin, stack::push_cell()));
}

TEST_F(StringTest, StorageRoutines) {
    Cell* s = text("hello world");
    EXPECT_EQ(string::find_char(s, 'o'), 4);
    EXPECT_EQ(string::find_char(s, 'z'), -1);
    EXPECT_TRUE(string::has_char_q(s, 'W', false));
    EXPECT_FALSE(string::has_char_q(s, 'W', true));
    EXPECT_TRUE(string::match_literal_q(s, "hell"));
    EXPECT_FALSE(string::match_literal_q(s, "help"));
    string::remove_chars(s, 5, 100);
    EXPECT_EQ(utf8_of(s), "hello");
    string::remove_char(s, 0);
    EXPECT_EQ(utf8_of(s), "ello");
    string::concatenate_literal(s, "XY");
    string::rotate(s, 1, 2);
    EXPECT_EQ(utf8_of(s), "eXYllo");
    Cell* o = text("ab");
    string::overwrite(s, o, 4);
    EXPECT_EQ(utf8_of(s), "eXYlab");
    string::overwrite(s, o, 5);
    EXPECT_EQ(utf8_of(s), "eXYlaab");
    string::ms_truncate(s, 3);
    EXPECT_EQ(utf8_of(s), "eXY");
    string::append_char(s, 0x1F600);
    string::ms_reset(s);
    EXPECT_EQ(string::total_length(s), 0);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(string::append_indent(s, 2, 10), 2);
    EXPECT_EQ(utf8_of(s), "        ");

    Cell* narrow = text("aé");
    Cell* wide = stack::push_cell();
    *wide = Cell{TYPE_STRING, 0, string::convert_unit(narrow->data2, 4), 0};
    EXPECT_EQ(unit_of(wide), 4u);
    EXPECT_EQ(utf8_of(wide), "aé");
    string::convert_unit(text("xyz")->data2, 2, narrow->data2);
    EXPECT_EQ(unit_of(narrow), 2u);
    EXPECT_EQ(utf8_of(narrow), "xyz");
    Cell* one = stack::push_cell();
    string::ms_make_at(one, 0, 4);
    EXPECT_EQ(unit_of(one), 1u);
}

TEST_F(StringTest, MoveCharsWidensTheTarget) {
    Cell* from = text("a€b");
    Cell* to = text("xy");
    to->data1 = 1;
    from->data1 = 1;
    string::move_chars(from, to, 2);
    to->data1 = 0;
    from->data1 = 0;
    EXPECT_EQ(utf8_of(to), "x€by");
    EXPECT_EQ(utf8_of(from), "a");
}

TEST_F(StringTest, HexText) {
    EXPECT_STREQ(string::byte_to_hex(0).data(), "00");
    EXPECT_STREQ(string::byte_to_hex(0xAF).data(), "AF");
    struct Row {
        int32_t n;
        const char* full;
        const char* brief;
    } rows[] = {{0, "00000000", "00"},        {0x1E, "0000001E", "1E"},
                {255, "000000FF", "FF"},      {0x10FFFF, "0010FFFF", "10FFFF"},
                {-1, "FFFFFFFF", "FFFFFFFF"}, {-256, "FFFFFF00", "FFFFFF00"}};
    for (const Row& r : rows) {
        EXPECT_STREQ(string::to_hex(r.n, false).data(), r.full);
        EXPECT_STREQ(string::to_hex(r.n, true).data(), r.brief);
    }
    const char* num = "12.5e2";
    EXPECT_EQ(string::to_float(reinterpret_cast<const uint8_t*>(num),
                               reinterpret_cast<const uint8_t*>(num) + 6),
              1250.0);
}

TEST_F(StringTest, ChangeCase) {
    Cell* s = text("abcé");
    string::change_case(s, nullptr, true);
    EXPECT_EQ(utf8_of(s), "ABCÉ");
    Cell* t = text("ABC");
    string::change_case(t, int_cell(2), false);
    EXPECT_EQ(utf8_of(t), "abC");
    Cell* c = char_cell('q');
    string::change_case(c, nullptr, true);
    EXPECT_EQ(c->data2, uint32_t{'Q'});
}

// ---------------------------------------------------------------------------
// append, insert, change
// ---------------------------------------------------------------------------

TEST_F(StringTest, AppendFormsValuesWithoutSeparators) {
    Cell* s = text("a");
    Cell* blk = block_of({word_cell("b"), text("c"), int_cell(1)});
    string::insert(s, blk, -1, false, 1, true);
    EXPECT_EQ(utf8_of(s), "abc1");
    EXPECT_EQ(s->data1, 0u);

    Cell* e = text("");
    Cell* two = block_of({text("abc"), text("def")});
    string::insert(e, two, 4, false, 1, true);
    EXPECT_EQ(utf8_of(e), "abcd");

    Cell* x = text("x");
    Cell* tag = text("b");
    set_type(tag, TYPE_TAG);
    string::insert(x, tag, -1, false, 1, true);
    EXPECT_EQ(utf8_of(x), "x<b>");
    Cell* y = text("y");
    string::insert(y, tag, 2, false, 1, true);
    EXPECT_EQ(utf8_of(y), "y<b");

    Cell* z = text("z");
    string::insert(z, int_cell(42), -1, false, 3, true);
    EXPECT_EQ(utf8_of(z), "z424242");
    string::insert(z, char_cell(233), -1, false, 1, true);
    EXPECT_EQ(utf8_of(z), "z424242é");
    EXPECT_EQ(unit_of(z), 2u);
}

TEST_F(StringTest, InsertReturnsThePositionAfterTheText) {
    Cell* s = text("ab");
    string::insert(s, text("-"), -1, false, 3, false);
    EXPECT_EQ(s->data1, 3u);
    EXPECT_EQ(utf8_of(s), "ab");
    s->data1 = 0;
    EXPECT_EQ(utf8_of(s), "---ab");

    Cell* t = text("ab");
    t->data1 = 2;
    string::insert(t, text("cd"), 1, false, 1, false);
    EXPECT_EQ(t->data1, 3u);
    t->data1 = 0;
    EXPECT_EQ(utf8_of(t), "abc");
}

TEST_F(StringTest, ChangeReplacesAndReturnsAfter) {
    struct Row {
        const char* target;
        uint32_t at;
        const char* value;
        int32_t part;
        int32_t dup;
        const char* result;
        uint32_t index;
    } rows[] = {
        {"abc", 0, "xy", -1, 1, "xyc", 2},   {"abc", 0, "x", 2, 1, "xc", 1},
        {"abc", 1, "xyz", -1, 1, "axyz", 4}, {"abc", 3, "de", -1, 1, "abcde", 5},
        {"abc", 0, "", 2, 1, "c", 0},        {"abc", 1, "-", -1, 2, "a--", 3},
        {"abc", 0, "€", 1, 1, "€bc", 1},
    };
    for (const Row& r : rows) {
        Cell* s = text(r.target);
        s->data1 = r.at;
        string::change(s, text(r.value), r.part, false, r.dup);
        EXPECT_EQ(s->data1, r.index) << r.target << " <- " << r.value;
        s->data1 = 0;
        EXPECT_EQ(utf8_of(s), r.result) << r.target << " <- " << r.value;
    }
}

// A string added into its own buffer is read as it was before the change.
TEST_F(StringTest, SelfInsertionCopiesTheSourceFirst) {
    Cell* s = text("abc");
    Cell* same = stack::push(s);
    string::insert(s, same, -1, false, 1, true);
    EXPECT_EQ(utf8_of(s), "abcabc");

    Cell* t = text("abc");
    Cell* rest = stack::push(t);
    rest->data1 = 1;
    string::insert(t, rest, -1, false, 2, false);
    t->data1 = 0;
    EXPECT_EQ(utf8_of(t), "bcbcabc");

    Cell* u = text("abc");
    Cell* tail_part = stack::push(u);
    tail_part->data1 = 1;
    string::change(u, tail_part, -1, false, 1);
    u->data1 = 0;
    EXPECT_EQ(utf8_of(u), "bcc");

    Cell* v = text("abcdef");
    Cell* head = stack::push(v);
    v->data1 = 4;
    string::change(v, head, -1, false, 1);
    v->data1 = 0;
    EXPECT_EQ(utf8_of(v), "abcdabcdef");
}

TEST_F(StringTest, DupOverflowRaisesNoMemory) {
    Cell* s = text("ab");
    EXPECT_MOX_ERROR(err::no_memory, string::insert(s, text("xyz"), -1, false, 0x7FFFFFFF, true));
    EXPECT_EQ(utf8_of(s), "ab");
}

// ---------------------------------------------------------------------------
// make, to, take, swap, eval-path
// ---------------------------------------------------------------------------

TEST_F(StringTest, MakeAndTo) {
    Cell* m = string::make(nullptr, int_cell(10), TYPE_STRING);
    EXPECT_EQ(string::total_length(m), 0);
    EXPECT_GE(memory::buffer_of(m)->size, 10u);
    EXPECT_MOX_ERROR(err::out_of_range, string::make(nullptr, int_cell(-1), TYPE_STRING));

    Cell* blk = block_of({word_cell("a"), text("b"), char_cell('c')});
    EXPECT_EQ(utf8_of(string::to(nullptr, blk, TYPE_STRING)), "abc");
    EXPECT_EQ(utf8_of(string::to(nullptr, int_cell(-7), TYPE_STRING)), "-7");
    Cell* from = text("xyz");
    from->data1 = 1;
    Cell* copy = string::to(nullptr, from, TYPE_FILE);
    EXPECT_EQ(type_of(copy), uint32_t{TYPE_FILE});
    EXPECT_EQ(utf8_of(copy), "yz");
    EXPECT_NE(copy->data2, from->data2);
    Cell* refinement = word_cell("only");
    set_type(refinement, TYPE_REFINEMENT);
    EXPECT_EQ(utf8_of(string::to(nullptr, refinement, TYPE_STRING)), "only");
    EXPECT_EQ(utf8_of(string::to(nullptr, refinement, TYPE_FILE)), "/only");
    Cell none;
    make_none(&none);
    EXPECT_MOX_ERROR(err::bad_to_arg, string::to(nullptr, stack::push(&none), TYPE_STRING));
}

TEST_F(StringTest, TakeGivesACharWithoutPart) {
    Cell* s = text("abc");
    Cell* c = string::take(s, nullptr, false, false);
    EXPECT_EQ(type_of(c), uint32_t{TYPE_CHAR});
    EXPECT_EQ(c->data2, uint32_t{'a'});
    Cell* part = string::take(s, int_cell(1), false, false);
    EXPECT_EQ(type_of(part), uint32_t{TYPE_STRING});
    EXPECT_EQ(utf8_of(part), "b");
    Cell* last = string::take(s, nullptr, false, true);
    EXPECT_EQ(last->data2, uint32_t{'c'});
    EXPECT_EQ(type_of(string::take(s, nullptr, false, false)), uint32_t{TYPE_NONE});
}

TEST_F(StringTest, Swap) {
    Cell* a = text("ab");
    Cell* b = text("x€");
    b->data1 = 1;
    string::swap(a, b);
    EXPECT_EQ(utf8_of(a), "€b");
    b->data1 = 0;
    EXPECT_EQ(utf8_of(b), "xa");
    EXPECT_MOX_ERROR(err::invalid_arg, string::swap(a, int_cell(1)));
}

TEST_F(StringTest, EvalPath) {
    Cell* s = text("abc");
    EXPECT_EQ(string::eval_path(s, int_cell(2), nullptr, nullptr, nullptr, nullptr, 0, false, true,
                                false, false)
                  ->data2,
              uint32_t{'b'});
    string::eval_path(s, int_cell(1), char_cell('z'), nullptr, nullptr, nullptr, 0, false, false,
                      false, false);
    EXPECT_EQ(utf8_of(s), "zbc");
    EXPECT_EQ(string::eval_path(s, char_cell('b'), nullptr, nullptr, nullptr, nullptr, 0, false,
                                true, false, false)
                  ->data2,
              uint32_t{'c'});
    string::eval_path(s, char_cell('b'), char_cell('q'), nullptr, nullptr, nullptr, 0, false, false,
                      false, false);
    EXPECT_EQ(utf8_of(s), "zbq");
    EXPECT_MOX_ERROR(err::invalid_path,
                     string::eval_path(s, word_cell("w"), nullptr, nullptr, nullptr, nullptr, 0,
                                       false, true, false, false));
    EXPECT_MOX_ERROR(err::bad_path_set,
                     string::eval_path(s, char_cell('x'), char_cell('y'), nullptr, nullptr, nullptr,
                                       0, false, false, false, false));
}

// ---------------------------------------------------------------------------
// mold
// ---------------------------------------------------------------------------

// Every allowance at or below 0 is exhausted alike; one near the smallest
// integer must not wrap round to a large one when characters are charged.
TEST_F(StringTest, FormAndMoldWithAnExhaustedLimit) {
    Cell* values[] = {text("abc"), char_cell('x'), int_cell(-42),
                      block_of({text("b"), char_cell('c'), int_cell(7)})};
    for (int32_t limit : {INT32_MIN, INT32_MIN + 1, -1, 0}) {
        for (Cell* v : values) {
            Cell* saved = stack::top;
            Cell* part = int_cell(limit);
            Cell* out = string::push_new(8);
            int32_t left = 1;
            EXPECT_MOX_OK(left = actions::form(v, out, part, limit));
            EXPECT_LE(left, 0) << "form " << type_of(v) << " limit " << limit;
            EXPECT_MOX_OK(left = actions::mold(v, out, false, false, false, part, limit, 0));
            EXPECT_LE(left, 0) << "mold " << type_of(v) << " limit " << limit;
            stack::top = saved;
        }
    }
}

TEST_F(StringTest, MoldEscapesAndDelimiters) {
    struct Row {
        const char* in;
        const char* out;
    } rows[] = {
        {"", "\"\""},
        {"abc", "\"abc\""},
        {"a\nb", "\"a^/b\""},
        {"a\tb", "\"a^-b\""},
        {"^", "\"^^\""},
        {"say \"hi\"", "{say \"hi\"}"},
        {"a{b", "\"a{b\""},
        {"a}b", "\"a}b\""},
        {"\"{x}\"", "{\"{x}\"}"},
        {"\"{x", "{\"^{x}"},
        {"\"x}", "{\"x^}}"},
        {"\"{{x}", "{\"^{^{x^}}"},
        {"\"}{", "{\"^}^{}"},
        {"\"^", "{\"^^}"},
        {"1\n2\n3", "\"1^/2^/3\""},
        {"1\n2\n3\n4", "{1^/2^/3^/4}"},
        {"\x01\x08\x0B\x1A", "\"^A^H^K^Z\""},
        {"\x1B\x1C\x1D\x1F", "\"^[^\\^]^_\""},
        {"\x7F", "\"^~\""},
        {"\x1E", "\"^(1E)\""},
        {"\xC2\x80\xC2\x9F", "\"^(80)^(9F)\""},
        {"\xC3\xA9", "\"\xC3\xA9\""},
    };
    for (const Row& r : rows) EXPECT_EQ(molded(text(r.in)), r.out) << r.in;
    Cell* nul = text("a");
    string::overwrite_char_at(nul, 0, 0);
    EXPECT_EQ(molded(nul), "\"^@\"");
    EXPECT_EQ(molded(text("\xC3\xA9"), true), "\"^(E9)\"");
    EXPECT_EQ(molded(text("\xF0\x9F\x98\x80"), true), "\"^(1F600)\"");
    std::string fifty(50, 'x');
    EXPECT_EQ(molded(text(fifty.c_str())), "{" + fifty + "}");
    std::string forty_nine(49, 'x');
    EXPECT_EQ(molded(text(forty_nine.c_str())), "\"" + forty_nine + "\"");
}

TEST_F(StringTest, MoldPartAndAllowance) {
    Cell* s = text("abcdef");
    Cell* out = string::push_new(0);
    EXPECT_EQ(string::mold(s, out, false, false, false, int_cell(3), 3, 0), -2);
    EXPECT_EQ(utf8_of(out), "\"abc\"");
    s->data1 = 4;
    Cell* rest = string::push_new(0);
    EXPECT_EQ(string::mold(s, rest, false, false, false, nullptr, 100, 0), 96);
    EXPECT_EQ(utf8_of(rest), "\"ef\"");
}

// ---------------------------------------------------------------------------
// trim
// ---------------------------------------------------------------------------

TEST_F(StringTest, TrimVariants) {
    enum Mode { DEFAULT, HEAD, TAIL, HEAD_TAIL, LINES, ALL };
    struct Row {
        const char* in;
        Mode mode;
        const char* out;
    } rows[] = {
        {"  a  b  ", DEFAULT, "a  b"},
        {"\n  a  \n  b  \n\n", DEFAULT, "a\nb\n"},
        {"  a \t\n\t b\t", DEFAULT, "a\nb"},
        {"a\n\n\nb", DEFAULT, "a\n\n\nb"},
        {" \xC2\xA0x\xE3\x80\x80", DEFAULT, "x"},
        {"", DEFAULT, ""},
        {"  a  ", HEAD, "a  "},
        {"  a  ", TAIL, "  a"},
        {"  a  ", HEAD_TAIL, "a"},
        {"  a \n\n b  c\t", LINES, "a b c"},
        {" a b\tc\n\rd ", ALL, "abcd"},
    };
    for (const Row& r : rows) {
        Cell* s = text(r.in);
        bool head = r.mode == HEAD || r.mode == HEAD_TAIL,
             tail = r.mode == TAIL || r.mode == HEAD_TAIL;
        string::trim(s, head, tail, false, r.mode == LINES, r.mode == ALL, nullptr);
        EXPECT_EQ(utf8_of(s), r.out) << r.in;
    }
    Cell* w = text("abcbd");
    string::trim(w, false, false, false, false, false, text("b"));
    EXPECT_EQ(utf8_of(w), "acd");
    Cell* c = text("a-b-c");
    string::trim(c, false, false, false, false, false, char_cell('-'));
    EXPECT_EQ(utf8_of(c), "abc");
    Cell* from = text("  x  y  ");
    from->data1 = 3;
    string::trim(from, false, false, false, false, false, nullptr);
    from->data1 = 0;
    EXPECT_EQ(utf8_of(from), "  xy");
    EXPECT_MOX_ERROR(err::not_done,
                     string::trim(text("a"), false, false, true, false, false, nullptr));
}

// ---------------------------------------------------------------------------
// find, select, compare
// ---------------------------------------------------------------------------

struct FindRow {
    const char* series;
    uint32_t at;
    const char* value; // text, or a single character with is_char
    bool is_char;
    bool case_, last, reverse, tail, match;
    int32_t part, skip;
    int32_t result; // 1-based index, 0 for none
};

TEST_F(StringTest, FindTable) {
    FindRow rows[] = {
        {"abcabc", 0, "BC", false, false, false, false, false, false, 0, 0, 2},
        {"abcabc", 0, "BC", false, true, false, false, false, false, 0, 0, 0},
        {"abcabc", 0, "a", true, false, true, false, false, false, 0, 0, 4},
        {"abcabc", 0, "A", true, false, false, false, false, false, 0, 0, 1},
        {"abcabc", 0, "A", true, true, false, false, false, false, 0, 0, 0},
        {"abc", 3, "bc", false, false, false, true, false, false, 0, 0, 2},
        {"abc", 3, "abc", false, false, false, true, false, false, 0, 0, 1},
        {"abc", 2, "bc", false, false, false, true, false, false, 0, 0, 0},
        {"abcabc", 0, "bc", false, false, false, false, true, false, 0, 0, 4},
        {"abcabc", 0, "c", true, false, false, false, true, false, 0, 0, 4},
        {"abcabc", 1, "bc", false, false, false, false, false, true, 0, 0, 2},
        {"abcabc", 0, "bc", false, false, false, false, false, true, 0, 0, 0},
        {"abcabc", 0, "c", false, false, false, false, false, false, 2, 0, 0},
        {"abcabc", 0, "c", false, false, false, false, false, false, 3, 0, 3},
        {"abcabc", 0, "bca", false, false, false, false, false, false, 3, 0, 0},
        {"abcabc", 0, "b", true, false, false, false, false, false, 0, 2, 5},
        {"a1b2c3", 0, "c", true, false, false, false, true, false, 0, 2, 7},
        {"abcabc", 0, "abc", false, false, true, false, false, false, 0, 0, 4},
        {"ÉTÉ", 0, "été", false, false, false, false, false, false, 0, 0, 1},
        {"abc", 0, "abcd", false, false, false, false, false, false, 0, 0, 0},
        {"abc", 3, "c", true, false, false, false, false, false, 0, 0, 0},
        // /tail after a skip that reaches past the end stops at the tail.
        {"abcabc", 5, "c", true, false, false, false, true, false, 0, 3, 7},
        {"abc", 1, "b", true, false, false, false, true, false, 0, INT32_MAX, 4},
    };
    for (const FindRow& r : rows) {
        Cell* s = text(r.series);
        s->data1 = r.at;
        Cell* v = r.is_char ? char_cell(static_cast<uint8_t>(r.value[0])) : text(r.value);
        Cell* result = string::find(s, v, r.part ? int_cell(r.part) : nullptr, false, r.case_,
                                    false, false, nullptr, r.skip ? int_cell(r.skip) : nullptr,
                                    r.last, r.reverse, r.tail, r.match);
        int32_t got = type_of(result) == TYPE_NONE ? 0 : static_cast<int32_t>(result->data1) + 1;
        EXPECT_EQ(got, r.result) << r.series << " / " << r.value;
    }
}

TEST_F(StringTest, FindOtherValues) {
    Cell* s = text("abc");
    EXPECT_EQ(type_of(string::find(s, int_cell(1), nullptr, false, false, false, false, nullptr,
                                   nullptr, false, false, false, false)),
              uint32_t{TYPE_NONE});
    Cell* n = text("a12b");
    EXPECT_EQ(string::find(n, int_cell(12), nullptr, false, false, false, false, nullptr, nullptr,
                           false, false, false, false)
                  ->data1,
              1u);
    Cell* w = text("a words");
    EXPECT_EQ(string::find(w, word_cell("WORD"), nullptr, false, false, false, false, nullptr,
                           nullptr, false, false, false, false)
                  ->data1,
              2u);

    Cell* bin = stack::push_cell();
    string::make_at(bin, 2, 1, TYPE_BINARY);
    uint8_t bytes[] = {1, 2};
    memory::SeriesBuffer* b = memory::buffer_of(bin);
    std::memcpy(b->head_ptr(), bytes, 2);
    b->tail = b->head + 2;
    EXPECT_EQ(string::find(bin, int_cell(2), nullptr, false, false, false, false, nullptr, nullptr,
                           false, false, false, false)
                  ->data1,
              1u);
    EXPECT_MOX_ERROR(err::invalid_arg, string::find(s, bin, nullptr, false, false, false, false,
                                                    nullptr, nullptr, false, false, false, false));
}

TEST_F(StringTest, FindErrors) {
    Cell* s = text("abc");
    Cell* v = text("b");
    EXPECT_MOX_ERROR(err::out_of_range,
                     string::find(s, v, nullptr, false, false, false, false, nullptr, int_cell(0),
                                  false, false, false, false));
    EXPECT_MOX_ERROR(err::not_done, string::find(s, v, nullptr, false, false, false, true, nullptr,
                                                 nullptr, false, false, false, false));
    EXPECT_MOX_ERROR(err::invalid_refine_arg,
                     string::find(s, v, text("abc"), false, false, false, false, nullptr, nullptr,
                                  false, false, false, false));
}

TEST_F(StringTest, Select) {
    Cell* s = text("abc");
    Cell* c = string::select(s, char_cell('b'), nullptr, false, false, false, false, nullptr,
                             nullptr, false, false);
    EXPECT_EQ(type_of(c), uint32_t{TYPE_CHAR});
    EXPECT_EQ(c->data2, uint32_t{'c'});
    EXPECT_EQ(type_of(string::select(s, char_cell('c'), nullptr, false, false, false, false,
                                     nullptr, nullptr, false, false)),
              uint32_t{TYPE_NONE});
    EXPECT_EQ(string::select(s, text("AB"), nullptr, false, false, false, false, nullptr, nullptr,
                             false, false)
                  ->data2,
              uint32_t{'c'});
}

TEST_F(StringTest, CompareFoldsThroughUpperCase) {
    struct Row {
        const char* a;
        const char* b;
        int32_t op;
        int32_t result;
    } rows[] = {
        {"abc", "ABD", COMP_EQUAL, -1},
        {"abc", "ABC", COMP_EQUAL, 0},
        {"abc", "ABC", COMP_STRICT_EQUAL, 1},
        {"abc", "abc", COMP_STRICT_EQUAL, 0},
        {"ab", "abc", COMP_LESSER, -1},
        {"abc", "ab", COMP_LESSER, 1},
        {"", "a", COMP_LESSER, -1},
        {"a", "", COMP_LESSER, 1},
        {"", "", COMP_EQUAL, 0},
        {"abc", "abd", COMP_LESSER, -1},
        {"B", "a", COMP_SORT, 1},
        {"B", "a", COMP_CASE_SORT, -1},
        {"été", "ÉTÉ", COMP_EQUAL, 0},
        {"ǆ", "Ǆ", COMP_EQUAL, 0},
        // Folding maps each character to its one upper-case character: the
        // sharp s takes the first letter of its full upper case.
        {"ß", "S", COMP_EQUAL, 0},
        {"ß", "SS", COMP_EQUAL, 1},
        {"ab", "abc", COMP_FIND, 1},
    };
    for (const Row& r : rows)
        EXPECT_EQ(string::compare(text(r.a), text(r.b), r.op), r.result)
            << r.a << " vs " << r.b << " op " << r.op;

    Cell* s = text("abc");
    Cell* same = stack::push(s);
    EXPECT_EQ(string::compare(s, same, COMP_SAME), 0);
    same->data1 = 1;
    EXPECT_EQ(string::compare(s, same, COMP_SAME), -1);
    EXPECT_EQ(string::compare(s, text("abc"), COMP_SAME), -1);

    Cell* file = text("abc");
    set_type(file, TYPE_FILE);
    EXPECT_EQ(string::compare(s, file, COMP_EQUAL), 0);
    EXPECT_EQ(string::compare(s, file, COMP_LESSER), COMPARE_NOT_COMPARABLE);
    EXPECT_EQ(string::compare(s, int_cell(1), COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

TEST_F(StringTest, MatchHelpers) {
    Cell* s = text("<b>old");
    Cell* tag = text("B");
    set_type(tag, TYPE_TAG);
    EXPECT_TRUE(string::tag_bracketed_q(s, 1));
    EXPECT_TRUE(string::match_value_q(s, tag, COMP_EQUAL));
    EXPECT_FALSE(string::match_value_q(s, tag, COMP_STRICT_EQUAL));
    EXPECT_TRUE(string::match_value_q(s, text("<B"), COMP_EQUAL));
    EXPECT_TRUE(string::match_value_q(s, char_cell('<'), COMP_EQUAL));
    EXPECT_FALSE(string::match_value_q(s, int_cell(1), COMP_EQUAL));

    Cell* bits = stack::push_cell();
    *bits = Cell{TYPE_BITSET, 0, memory::alloc_bytes(16), 0};
    memory::SeriesBuffer* b = memory::buffer_of(bits);
    std::memset(b->head_ptr(), 0, 16);
    b->head_ptr()['<' >> 3] |= 0x80 >> ('<' & 7);
    b->tail = b->head + 16;
    EXPECT_TRUE(string::char_in_bitset_q(s, bits));
    Cell* wide = text("Ā");
    EXPECT_FALSE(string::char_in_bitset_q(wide, bits));
    memory::set_series_flags(bits->data2, memory::SERIES_COMPLEMENT);
    EXPECT_TRUE(string::char_in_bitset_q(wide, bits));
}

// ---------------------------------------------------------------------------
// sort
// ---------------------------------------------------------------------------

std::string sorted(const char* in, bool case_, int32_t skip, bool all, bool reverse, bool stable,
                   int32_t compare_at = 0) {
    Cell* s = text(in);
    string::sort(s, case_, skip ? int_cell(skip) : nullptr,
                 compare_at ? int_cell(compare_at) : nullptr, nullptr, all, reverse, stable);
    return utf8_of(s);
}

TEST_F(StringTest, SortOrders) {
    EXPECT_EQ(sorted("cab", false, 0, false, false, false), "abc");
    EXPECT_EQ(sorted("cab", false, 0, false, true, false), "cba");
    EXPECT_EQ(sorted("bCa", false, 0, false, false, false), "abC");
    EXPECT_EQ(sorted("bCa", true, 0, false, false, false), "Cab");
    EXPECT_EQ(sorted("c3a1b2", false, 2, false, false, false), "a1b2c3");
    EXPECT_EQ(sorted("a3b1c2", false, 2, false, false, false, 2), "b1c2a3");
    EXPECT_EQ(sorted("a2a1", false, 2, true, false, false), "a1a2");
    EXPECT_EQ(sorted("é€a", false, 0, false, false, false), "aé€");
    EXPECT_EQ(sorted("\xF0\x9F\x98\x80"
                     "ba",
                     false, 0, false, false, false),
              "ab\xF0\x9F\x98\x80");
}

// Equal keys keep their order with /stable, with or without /case.
TEST_F(StringTest, StableSortKeepsEqualRecordsInOrder) {
    EXPECT_EQ(sorted("b2a1B1a0", false, 2, false, false, true), "a1a0b2B1");
    EXPECT_EQ(sorted("b2a1B1a0", true, 2, false, false, true), "B1a1a0b2");
    EXPECT_EQ(sorted("b2a1B1a0", false, 2, false, true, true), "b2B1a1a0");
    std::string many;
    for (int i = 0; i < 300; i++) {
        many += static_cast<char>('a' + (i * 7) % 3);
        many += static_cast<char>('0' + i % 10);
    }
    std::string got = sorted(many.c_str(), false, 2, false, false, true);
    std::vector<std::string> want[3];
    for (size_t i = 0; i < many.size(); i += 2) want[many[i] - 'a'].push_back(many.substr(i, 2));
    std::string expect;
    for (auto& v : want)
        for (auto& r : v) expect += r;
    EXPECT_EQ(got, expect);
}

TEST_F(StringTest, SortPartAndErrors) {
    Cell* s = text("dcba");
    string::sort(s, false, nullptr, nullptr, int_cell(2), false, false, false);
    EXPECT_EQ(utf8_of(s), "cdba");
    Cell* t = text("dcba");
    t->data1 = 4;
    string::sort(t, false, nullptr, nullptr, int_cell(-2), false, false, false);
    EXPECT_EQ(t->data1, 2u);
    t->data1 = 0;
    EXPECT_EQ(utf8_of(t), "dcab");
    EXPECT_MOX_ERROR(err::invalid_refine_arg, string::sort(text("abc"), false, int_cell(2), nullptr,
                                                           nullptr, false, false, false));
    EXPECT_MOX_ERROR(err::bad_refines, string::sort(text("abc"), false, nullptr, nullptr, nullptr,
                                                    true, false, false));
    EXPECT_MOX_ERROR(err::out_of_range, string::sort(text("abcd"), false, int_cell(2), int_cell(3),
                                                     nullptr, false, false, false));
    EXPECT_MOX_ERROR(err::invalid_refine_arg, string::sort(text("abcd"), false, nullptr, text("x"),
                                                           nullptr, false, false, false));
}

// A comparator that changes the series it sorts (here a stand-in for Mox
// code): it first grows and widens it, so the buffer moves, then cuts it
// below the sorted range. The sort must stay inside its own memory.
Cell* sorted_string = nullptr;
int comparator_calls = 0;
Cell* meddling_comparator(Cell* function, Cell* a, Cell* b) {
    if (comparator_calls++ < 10) {
        for (int i = 0; i < 40; i++) string::append_char(sorted_string, 0x1F600);
    } else {
        string::remove_chars(sorted_string, 0, 7);
    }
    return make_logic(stack::push_cell(), a->data2 > b->data2);
}

TEST_F(StringTest, SortSurvivesAComparatorThatChangesTheSeries) {
    auto saved = block::call_comparator;
    block::call_comparator = &meddling_comparator;
    Cell* fn = stack::push_cell();
    *fn = Cell{TYPE_FUNCTION, 0, 0, 0};
    for (bool stable : {true, false}) {
        Cell* s = text("zyxwvutsrqponmlkjihgfedcba");
        sorted_string = s;
        comparator_calls = 0;
        EXPECT_MOX_OK(string::sort(s, false, nullptr, fn, nullptr, false, false, stable));
        EXPECT_EQ(unit_of(s), 4u);
        int32_t len = string::total_length(s);
        for (int32_t i = 0; i < len; i++)
            EXPECT_LE(string::abs_char_at(s, static_cast<uint32_t>(i)), 0x1F600u);
    }
    block::call_comparator = saved;
}

// ---------------------------------------------------------------------------
// Set operations
// ---------------------------------------------------------------------------

TEST_F(StringTest, SetOperations) {
    struct Row {
        const char* a;
        const char* b;
        int32_t op;
        bool case_;
        int32_t skip;
        const char* result;
    } rows[] = {
        {"abc", "bcd", series::SET_UNION, false, 0, "abcd"},
        {"abc", "bcd", series::SET_INTERSECT, false, 0, "bc"},
        {"abc", "bcd", series::SET_EXCLUDE, false, 0, "a"},
        {"abc", "bcd", series::SET_DIFFERENCE, false, 0, "ad"},
        {"aAbBa", "", series::SET_UNIQUE, false, 0, "ab"},
        {"aAbBa", "", series::SET_UNIQUE, true, 0, "aAbB"},
        {"abc", "BCD", series::SET_INTERSECT, false, 0, "bc"},
        {"abc", "BCD", series::SET_INTERSECT, true, 0, ""},
        {"a1b2a3", "", series::SET_UNIQUE, false, 2, "a1b2"},
        {"a1b2", "b9c3", series::SET_UNION, false, 2, "a1b2c3"},
        {"é", "É€", series::SET_UNION, false, 0, "é€"},
    };
    for (const Row& r : rows) {
        Cell* a = text(r.a);
        Cell* b = text(r.b);
        string::do_set_op(a, b, r.case_, r.skip ? int_cell(r.skip) : nullptr, r.op);
        EXPECT_EQ(a->data1, 0u);
        EXPECT_EQ(utf8_of(a), r.result) << r.a << " op " << r.op << " " << r.b;
    }
    EXPECT_MOX_ERROR(err::invalid_refine_arg, string::do_set_op(text("ab"), text("b"), false,
                                                                int_cell(0), series::SET_UNION));
}

} // namespace
} // namespace mox::test
