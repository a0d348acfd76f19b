// block!: storage, modification, search, comparison, sorting and molding.
//
// Blocks are written in a small test notation read by read_values below
// (words, set-words, lit-words, paths, integers, strings, #none, nested
// blocks and parens, a line break marking the next value with the new-line
// marker), and checked through their molded text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "block_fixture.h"
#include "core/actions.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"

namespace mox::test {

namespace {

Cell* read(const char* text) { return read_values(text, TYPE_BLOCK); }

// The molded text of the values from the head, without the outer brackets
// (a hash! is shown as a block: its datatype is not registered here).
std::string values_of(Cell* blk) {
    Cell* saved = stack::top;
    Cell* head = stack::push(blk);
    head->data1 = 0;
    if (type_of(head) == TYPE_HASH) set_type(head, TYPE_BLOCK);
    std::string text = mold_of(head, true, true, -1, nullptr);
    stack::top = saved;
    return text;
}

Cell* integer_cell(int32_t i) { return make_integer(stack::push_cell(), i); }

// A hash! over a block of the notation.
Cell* read_hash(const char* text) {
    Cell* h = read(text);
    set_type(h, TYPE_HASH);
    h->data3 = 0;
    h->data3 =
        hashtable::init(static_cast<int32_t>(block::abs_length(h)), h->data2, hashtable::KIND_HASH);
    return h;
}

class BlockTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { setup_blocks(); }
    void SetUp() override {
        RuntimeTest::SetUp();
        saved_comparator_ = block::call_comparator;
        saved_loader_ = block::load_text;
    }
    void TearDown() override {
        EXPECT_EQ(cycles::depth(), 0u);
        block::call_comparator = saved_comparator_;
        block::load_text = saved_loader_;
        RuntimeTest::TearDown();
    }

  private:
    block::CallFunction2 saved_comparator_ = nullptr;
    block::LoadText saved_loader_ = nullptr;
};

// ---------------------------------------------------------------------------
// Molding and forming
// ---------------------------------------------------------------------------

struct MoldCase {
    const char* values;
    bool only, flat;
    const char* expected;
};

TEST_F(BlockTest, MoldLayout) {
    const MoldCase cases[] = {
        {"", false, false, "[]"},
        {"a b", false, false, "[a b]"},
        {"1 \"s\" -2 #none", false, false, "[1 \"s\" -2 none]"},
        {"a [b [c]] d", false, false, "[a [b [c]] d]"},
        {"(a b) [c (d)]", false, false, "[(a b) [c (d)]]"},
        {"a/b 'a/b a/b: :a/b", false, false, "[a/b 'a/b a/b: :a/b]"},
        // A marker on the first value opens the block one level deeper.
        {"\na b", false, false, "[\n    a b\n]"},
        {"\na\nb", false, false, "[\n    a\n    b\n]"},
        // A marker on a later value starts a line at the current level.
        {"a\nb", false, false, "[a\nb]"},
        {"x [\na b]", false, false, "[x [\n    a b\n]]"},
        {"\nx [\na]", false, false, "[\n    x [\n        a\n    ]\n]"},
        {"[\n[\na]]", false, false, "[[\n    [\n        a\n    ]\n]]"},
        {"(\na)", false, false, "[(\n    a\n)]"},
        {"a [b]", true, false, "a [b]"},
        {"\na\nb", true, false, "a\nb"},
        {"\na [\nb]", false, true, "[a [b]]"},
    };
    for (const MoldCase& c : cases) {
        Cell* saved = stack::top;
        int32_t left = 0;
        std::string text = mold_of(read(c.values), c.only, c.flat, -1, &left);
        EXPECT_EQ(text, c.expected) << "values: " << c.values;
        // Every character, indentation included, costs one of the allowance.
        EXPECT_EQ(left, INT32_MAX - static_cast<int32_t>(text.size())) << c.values;
        stack::top = saved;
    }
}

TEST_F(BlockTest, MoldAllPassesOn) {
    Cell* b = read("a [#none]");
    Cell* buffer = string::push_new(16);
    actions::mold(b, buffer, false, true, false, nullptr, INT32_MAX, 0);
    EXPECT_EQ(text_of(buffer), "[a [#(none)]]");
}

TEST_F(BlockTest, MoldFromIndex) {
    Cell* b = read("a b c");
    b->data1 = 1;
    EXPECT_EQ(mold_of(b), "[b c]");
    b->data1 = 7; // past the tail: molds as empty
    EXPECT_EQ(mold_of(b), "[]");
}

TEST_F(BlockTest, MoldPartStopsEarly) {
    Cell* b = block::push_only_star(1000);
    for (int32_t i = 0; i < 1000; i++) block::ms_append(b, integer_cell(i)), stack::pop(1);
    int32_t left = 0;
    std::string text = mold_of(b, false, false, 6, &left);
    EXPECT_EQ(text.substr(0, 6), "[0 1 2");
    EXPECT_LT(text.size(), 12u);
    EXPECT_LT(left, 1);
    // The allowance is checked before each value and may end inside one.
    // A value's own mold stops at the allowance too.
    EXPECT_EQ(mold_of(read("abc def"), false, false, 2, nullptr), "[a]");
    EXPECT_EQ(mold_of(read("a b"), false, false, 0, nullptr), "[]");
}

TEST_F(BlockTest, FormSeparatesWithSpaces) {
    EXPECT_EQ(form_of(read("a \"b\" [c]")), "a b c");
    EXPECT_EQ(form_of(read("a [b [c d]] e")), "a b c d e");
    EXPECT_EQ(form_of(read("")), "");
    // No space after a value whose text ends a line.
    Cell* b = read("\"x\n\" y \"z\t\" w");
    EXPECT_EQ(form_of(b), "x\ny z\tw");
}

TEST_F(BlockTest, SelfContainingBlocks) {
    Cell* b = read("a");
    block::ms_append(b, b);
    EXPECT_EQ(mold_of(b), "[a [...]]");
    EXPECT_EQ(form_of(b), "a ...");
    Cell* p = read_values("x", TYPE_PAREN);
    block::ms_append(p, p);
    EXPECT_EQ(mold_of(p), "(x (...))");
    // Two references to one block are no cycle.
    Cell* inner = read("x");
    Cell* twice = read("");
    block::ms_append(twice, inner);
    block::ms_append(twice, inner);
    EXPECT_EQ(mold_of(twice), "[[x] [x]]");
}

// A block nested depth levels deep, innermost [x].
Cell* nest(int32_t depth) {
    Cell* inner = read("x");
    for (int32_t i = 0; i < depth; i++) {
        Cell* outer = block::push_only_star(1);
        block::ms_append(outer, inner);
        *inner = *outer;
        stack::pop(1);
    }
    return inner;
}

TEST_F(BlockTest, DeepNestingRaisesTooDeep) {
    // Under the collector's stress mode every level costs a collection of
    // all the levels made so far; a smaller depth still passes the cycle
    // stack's capacity many times over.
    const int32_t depth = collector::stress ? 4000 : 100000;
    Cell* deep = nest(depth);
    Cell* other = nest(depth);
    EXPECT_MOX_ERROR(err::too_deep, mold_of(deep));
    EXPECT_MOX_ERROR(err::too_deep, form_of(deep));
    EXPECT_MOX_ERROR(err::too_deep, block::compare(deep, other, COMP_EQUAL));
    Cell* dest = make_unset(stack::push_cell());
    EXPECT_MOX_ERROR(err::too_deep, block::copy(deep, dest, nullptr, true, nullptr));
    EXPECT_MOX_ERROR(err::too_deep, block::clone(deep, true, false));
    EXPECT_EQ(cycles::depth(), 0u);
    // Within the cycle stack's capacity everything works.
    Cell* fine = nest(400);
    std::string text = mold_of(fine);
    EXPECT_EQ(text, std::string(401, '[') + "x" + std::string(401, ']'));
    EXPECT_EQ(block::compare(fine, nest(400), COMP_EQUAL), 0);
}

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

int sign(int32_t r) { return (r > 0) - (r < 0); }

struct CompareCase {
    const char* a;
    const char* b;
    int32_t op;
    int expected; // sign of the result; 2 for "not equal", 9 for not comparable (-2)
};

TEST_F(BlockTest, CompareUnderEachOperator) {
    const CompareCase cases[] = {
        {"1 2", "1 2", COMP_EQUAL, 0},
        {"1 2", "1 3", COMP_EQUAL, 2},
        {"1 2", "1 3", COMP_NOT_EQUAL, 2},
        {"1 2", "1 2 3", COMP_EQUAL, 2},
        {"1 2", "1 3", COMP_LESSER, -1},
        {"1 3", "1 2", COMP_GREATER, 1},
        {"1 2", "1 2 3", COMP_LESSER, -1},
        {"", "1", COMP_LESSER, -1},
        {"1", "", COMP_SORT, 1},
        {"a", "A", COMP_EQUAL, 0},
        {"a", "A", COMP_STRICT_EQUAL, 2},
        {"a", "'a", COMP_EQUAL, 0},
        {"a", "'a", COMP_STRICT_EQUAL, 2},
        {"a", "'a", COMP_STRICT_EQUAL_WORD, 0},
        {"a", "'A", COMP_STRICT_EQUAL_WORD, 2},
        {"a", "'A", COMP_EQUAL_WORD, 0},
        {"a", "b", COMP_FIND, 2},
        {"1", "1.0", COMP_EQUAL, 0},
        {"\"abc\"", "\"ABC\"", COMP_EQUAL, 0},
        {"\"abc\"", "\"ABC\"", COMP_STRICT_EQUAL, 2},
        // Values of unrelated types order by their type IDs.
        {"1", "a", COMP_SORT, -1},
        {"a", "\"s\"", COMP_SORT, 1},
        {"a", "B", COMP_SORT, -1},
        {"a", "B", COMP_CASE_SORT, 1},
        {"[1 [2]]", "[1 [2]]", COMP_EQUAL, 0},
        {"[1 [2]]", "[1 [3]]", COMP_LESSER, -1},
        {"(1)", "[1]", COMP_EQUAL, 2},
    };
    for (const CompareCase& c : cases) {
        Cell* saved = stack::top;
        int32_t r = block::compare(read(c.a), read(c.b), c.op);
        if (c.expected == 2)
            EXPECT_NE(r, 0) << c.a << " vs " << c.b << " op " << c.op;
        else
            EXPECT_EQ(sign(r), c.expected) << c.a << " vs " << c.b << " op " << c.op;
        stack::top = saved;
    }
}

TEST_F(BlockTest, CompareKindsAndIdentity) {
    Cell* b = read("1 2");
    Cell* p = read_values("1 2", TYPE_PAREN);
    EXPECT_EQ(block::compare(b, p, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_EQ(block::compare(b, p, COMP_LESSER), COMPARE_NOT_COMPARABLE);
    // path! and lit-path! compare as one type only under the word variants.
    Cell* path = read_values("a b", TYPE_PATH);
    Cell* lit = read_values("a b", TYPE_LIT_PATH);
    EXPECT_EQ(block::compare(path, lit, COMP_EQUAL_WORD), 0);
    EXPECT_EQ(block::compare(path, lit, COMP_STRICT_EQUAL_WORD), 0);
    EXPECT_EQ(block::compare(path, lit, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    // same? asks for the same series at the same index.
    Cell* again = stack::push(b);
    Cell* twin = read("1 2");
    EXPECT_EQ(block::compare(b, again, COMP_SAME), 0);
    EXPECT_EQ(block::compare(b, twin, COMP_SAME), -1);
    again->data1 = 1;
    EXPECT_EQ(block::compare(b, again, COMP_SAME), -1);
    // The comparison entry raises only for orderings.
    EXPECT_FALSE(actions::compare_star(b, p, COMP_EQUAL));
    EXPECT_MOX_ERROR(err::invalid_compare, actions::compare_star(b, p, COMP_LESSER));
}

TEST_F(BlockTest, CompareSelfContainingBlocks) {
    Cell* a = read("x");
    block::ms_append(a, a);
    Cell* b = read("x");
    block::ms_append(b, b);
    EXPECT_EQ(block::compare(a, b, COMP_EQUAL), 0);
}

// ---------------------------------------------------------------------------
// find and select
// ---------------------------------------------------------------------------

struct Find {
    int32_t part = -1000; // -1000: no /part
    bool only = false, case_ = false, same = false;
    int32_t skip = 0; // 0: no /skip
    bool last = false, reverse = false, tail = false, match = false;
};

// The 0-based index of find's result, or -1 for none.
int32_t find_in(Cell* series, Cell* value, const Find& f) {
    Cell* saved = stack::top;
    Cell* part = f.part == -1000 ? nullptr : integer_cell(f.part);
    Cell* skip = f.skip ? integer_cell(f.skip) : nullptr;
    Cell* r = block::find(series, value, part, f.only, f.case_, f.same, false, nullptr, skip,
                          f.last, f.reverse, f.tail, f.match);
    int32_t at = type_of(r) == TYPE_NONE ? -1 : static_cast<int32_t>(r->data1);
    if (at >= 0) {
        EXPECT_EQ(r->data2, series->data2);
    }
    stack::top = saved;
    return at;
}

struct FindCase {
    const char* series;
    uint32_t index;
    const char* value; // the first value of the notation is searched
    Find f;
    int32_t expected;
};

Find with(void (*set)(Find&)) {
    Find f;
    set(f);
    return f;
}

TEST_F(BlockTest, FindTable) {
    const FindCase cases[] = {
        {"a b c", 0, "b", {}, 1},
        {"a b c", 0, "b", with([](Find& f) { f.tail = true; }), 2},
        {"a b c", 0, "d", {}, -1},
        {"a b c", 2, "a", {}, -1},
        {"a b a", 0, "a", with([](Find& f) { f.last = true; }), 2},
        {"a b a", 3, "a", with([](Find& f) { f.reverse = true; }), 2},
        {"a b a", 2, "a", with([](Find& f) { f.reverse = true; }), 0},
        {"a b a", 0, "a", with([](Find& f) { f.reverse = true; }), -1},
        {"a b a c", 0, "a", with([](Find& f) {
             f.last = true;
             f.tail = true;
         }),
         3},
        // A block value is a sequence unless /only.
        {"a b c", 0, "[b c]", {}, 1},
        {"a b c", 0, "[b c]", with([](Find& f) { f.tail = true; }), 3},
        {"a b c", 0, "[c d]", {}, -1},
        {"a b c", 0, "[b c]", with([](Find& f) { f.only = true; }), -1},
        {"a [b c]", 0, "[b c]", with([](Find& f) { f.only = true; }), 1},
        {"a b c b c", 0, "[b c]", with([](Find& f) { f.last = true; }), 3},
        // /skip looks at record heads only.
        {"a 1 b 2", 0, "b", with([](Find& f) { f.skip = 2; }), 2},
        {"a b b 2", 0, "b", with([](Find& f) { f.skip = 2; }), 2},
        {"1 a 2 b", 0, "b", with([](Find& f) { f.skip = 2; }), -1},
        {"a 1 b 2", 0, "a", with([](Find& f) {
             f.skip = 2;
             f.tail = true;
         }),
         2},
        {"a b c", 0, "c", with([](Find& f) { f.part = 2; }), -1},
        {"a b c", 0, "b", with([](Find& f) { f.part = 2; }), 1},
        {"a b c", 1, "c", with([](Find& f) { f.part = 2; }), 2},
        {"a b c", 0, "a", with([](Find& f) { f.part = 0; }), -1},
        {"a b", 0, "b", with([](Find& f) { f.match = true; }), -1},
        {"a b", 0, "a", with([](Find& f) { f.match = true; }), 0},
        {"a A", 0, "A", {}, 0},
        {"a A", 0, "A", with([](Find& f) { f.case_ = true; }), 1},
        {"1 1.0", 0, "1.0", {}, 1},
        {"\"x\" \"X\"", 0, "\"X\"", {}, 0},
        {"\"x\" \"X\"", 0, "\"X\"", with([](Find& f) { f.case_ = true; }), 1},
        {"", 0, "a", {}, -1},
        {"a b", 0, "[]", {}, -1},
    };
    for (const FindCase& c : cases) {
        Cell* saved = stack::top;
        Cell* series = read(c.series);
        series->data1 = c.index;
        Cell* value = stack::push(block::ms_abs_at(read(c.value), 0));
        EXPECT_EQ(find_in(series, value, c.f), c.expected)
            << "find " << c.value << " in [" << c.series << "] at " << c.index;
        stack::top = saved;
    }
}

TEST_F(BlockTest, FindDatatypesAndIdentity) {
    Cell* b = read("1 a \"s\"");
    Cell dt;
    make_datatype(&dt, TYPE_STRING);
    Cell* string_type = stack::push(&dt);
    EXPECT_EQ(find_in(b, string_type, {}), 2);
    Find only;
    only.only = true;
    EXPECT_EQ(find_in(b, string_type, only), -1);
    block::ms_append(b, string_type);
    EXPECT_EQ(find_in(b, string_type, only), 3);
    // A typeset matches any of its types.
    Cell* set = stack::push_cell();
    *set = Cell{TYPE_TYPESET, 0, 0, 0};
    reinterpret_cast<uint8_t*>(&set->data1)[TYPE_WORD >> 3] |= 0x80 >> (TYPE_WORD & 7);
    EXPECT_EQ(find_in(b, set, {}), 1);
    // /same wants the very series; without it an equal block matches.
    Cell* inner = read("1");
    Cell* holder = read("x");
    block::ms_append(holder, inner);
    Cell* twin = read("1");
    Find same;
    same.only = same.same = true;
    EXPECT_EQ(find_in(holder, twin, same), -1);
    EXPECT_EQ(find_in(holder, inner, same), 1);
    EXPECT_EQ(find_in(holder, twin, only), 1);
}

TEST_F(BlockTest, FindRefinementErrors) {
    Cell* b = read("a b");
    Cell* v = stack::push(word::load("a"));
    EXPECT_MOX_ERROR(err::out_of_range, find_in(b, v, with([](Find& f) { f.skip = -1; })));
    Cell* bad = read("x");
    EXPECT_MOX_ERROR(err::invalid_refine_arg,
                     block::find(b, v, bad, false, false, false, false, nullptr, nullptr, false,
                                 false, false, false));
    EXPECT_MOX_ERROR(err::invalid_refine_arg,
                     block::find(b, v, nullptr, false, false, false, false, nullptr, bad, false,
                                 false, false, false));
    // A position in the same block limits the search, itself included.
    Cell* at = stack::push(b);
    at->data1 = 1;
    Cell* last = stack::push(word::load("b"));
    Cell* r = block::find(b, last, at, false, false, false, false, nullptr, nullptr, false, false,
                          false, false);
    EXPECT_EQ(r->data1, 1u);
}

// The same search in a string of the letters, with the letter as a char!:
// blocks step and bound their searches as strings do.
int32_t find_in_text(const std::string& letters, uint32_t index, char letter, const Find& f) {
    Cell* saved = stack::top;
    Cell* str = string::push_new(16);
    string::append_utf8(str, letters.data(), letters.size());
    str->data1 = index;
    Cell* value = make_char(stack::push_cell(), static_cast<uint32_t>(letter));
    Cell* part = f.part == -1000 ? nullptr : integer_cell(f.part);
    Cell* skip = f.skip ? integer_cell(f.skip) : nullptr;
    Cell* r = string::find(str, value, part, false, false, false, false, nullptr, skip, f.last,
                           f.reverse, f.tail, f.match);
    int32_t at = type_of(r) == TYPE_NONE ? -1 : static_cast<int32_t>(r->data1);
    stack::top = saved;
    return at;
}

// Every row runs on a block, on a hash! (through its index) and, as a
// cross-check, on the string of the same letters.
TEST_F(BlockTest, FindStepsOnTheRecordGridWithinItsRange) {
    struct Case {
        const char* letters;
        uint32_t index;
        char value;
        Find f;
        int32_t expected;
    };
    // skip 0: none; part -1000: none.
    auto opts = [](int32_t skip, bool last, bool reverse, int32_t part = -1000, bool tail = false) {
        Find f;
        f.skip = skip;
        f.last = last;
        f.reverse = reverse;
        f.part = part;
        f.tail = tail;
        return f;
    };
    const Case cases[] = {
        // /last and /reverse with /skip step on records counted from the
        // start of the range, not from its end.
        {"axbxay", 0, 'a', opts(2, true, false), 4},
        {"axbxay", 0, 'b', opts(2, true, false), 2},
        {"axbxay", 0, 'x', opts(2, true, false), -1},
        {"axbxay", 2, 'a', opts(2, true, false), 4},
        {"axbxay", 6, 'b', opts(2, false, true), 2},
        {"axbxay", 6, 'a', opts(2, false, true), 4},
        {"axbxay", 4, 'a', opts(2, false, true), 0},
        {"axbxay", 6, 'y', opts(2, false, true), -1},
        {"axxbxxa", 0, 'b', opts(3, false, false), 3},
        // /reverse/part looks at the cells just before the position.
        {"aab", 1, 'b', opts(0, false, true, 5), -1},
        {"aab", 2, 'a', opts(0, false, true, 1), 1},
        {"baab", 3, 'b', opts(0, false, true, 2), -1},
        {"baab", 3, 'b', opts(0, false, true, 3), 0},
        // /last/part: the last match inside the part, even when another lies
        // after it.
        {"abab", 0, 'b', opts(0, true, false, 3), 1},
        {"abab", 1, 'a', opts(0, true, false, 1), -1},
        // A skip near the largest integer steps past the end.
        {"abc", 1, 'z', opts(INT32_MAX, false, false), -1},
        {"abc", 2, 'c', opts(INT32_MAX, false, false), 2},
        {"abc", 0, 'a', opts(INT32_MAX, true, false), 0},
        {"abc", 3, 'a', opts(INT32_MAX, false, true), 0},
        {"abc", 1, 'b', opts(INT32_MAX, false, false, -1000, true), 3},
    };
    for (const Case& c : cases) {
        std::string notation;
        for (char ch : std::string(c.letters)) notation += std::string(1, ch) + " ";
        const std::string name(1, c.value);
        for (bool hashed : {false, true}) {
            Cell* saved = stack::top;
            Cell* series = hashed ? read_hash(notation.c_str()) : read(notation.c_str());
            series->data1 = c.index;
            Cell* value = stack::push(word::load(name.c_str()));
            EXPECT_EQ(find_in(series, value, c.f), c.expected)
                << (hashed ? "hash " : "block ") << c.letters << " at " << c.index << " for "
                << c.value;
            stack::top = saved;
        }
        EXPECT_EQ(find_in_text(c.letters, c.index, c.value, c.f), c.expected)
            << "string " << c.letters << " at " << c.index << " for " << c.value;
    }
}

std::string select_in(const char* series, const char* value, const Find& f) {
    Cell* saved = stack::top;
    Cell* s = read(series);
    Cell* v = stack::push(block::ms_abs_at(read(value), 0));
    Cell* skip = f.skip ? integer_cell(f.skip) : nullptr;
    Cell* r = block::select(s, v, nullptr, f.only, f.case_, false, false, nullptr, skip, f.last,
                            f.reverse);
    std::string text = mold_of(r);
    stack::top = saved;
    return text;
}

TEST_F(BlockTest, SelectTable) {
    EXPECT_EQ(select_in("a 1 b 2", "b", {}), "2");
    EXPECT_EQ(select_in("a", "a", {}), "none");
    EXPECT_EQ(select_in("a 1 b 2", "c", {}), "none");
    EXPECT_EQ(select_in("a 1 b 2", "b", with([](Find& f) { f.skip = 2; })), "2");
    EXPECT_EQ(select_in("1 b b 2", "b", with([](Find& f) { f.skip = 2; })), "2");
    EXPECT_EQ(select_in("a b c d", "[b c]", {}), "d");
    EXPECT_EQ(select_in("a [b c] d", "[b c]", with([](Find& f) { f.only = true; })), "d");
    EXPECT_EQ(select_in("a 1 a 2", "a", with([](Find& f) { f.last = true; })), "2");
    EXPECT_EQ(select_in("a 1 A 2", "A", with([](Find& f) { f.case_ = true; })), "2");
}

TEST_F(BlockTest, SelectWordAndValue) {
    Cell* b = read("x: 1 'y 2 :z 3 w 4 /r 5");
    struct {
        const char* word;
        const char* expected;
    } cases[] = {{"x", "1"}, {"Y", "2"}, {"z", "3"}, {"w", "4"}, {"r", "none"}, {"q", "none"}};
    for (auto& c : cases) {
        Cell* w = stack::push(word::load(c.word));
        Cell* r = stack::push(block::select_word(b, w, false));
        EXPECT_EQ(mold_of(r), c.expected) << c.word;
        stack::pop(2);
    }
    Cell* upper = stack::push(word::load("Y"));
    EXPECT_EQ(type_of(block::select_word(b, upper, true)), TYPE_NONE);
    Cell* three = integer_cell(3);
    EXPECT_EQ(type_of(block::select_value(b, three)), TYPE_WORD);
    Cell* five = integer_cell(5);
    EXPECT_EQ(type_of(block::select_value(b, five)), TYPE_NONE);
}

// ---------------------------------------------------------------------------
// append, insert, change
// ---------------------------------------------------------------------------

struct InsertCase {
    const char* series;
    uint32_t index;
    const char* value; // a single value unless block_value
    bool block_value;
    int32_t part, dup;
    bool only, append;
    const char* expected;
    uint32_t result_index;
};

TEST_F(BlockTest, InsertAndAppend) {
    const InsertCase cases[] = {
        {"a", 0, "x", false, -1, 3, false, false, "x x x a", 3},
        {"a b", 1, "x", false, -1, 1, false, false, "a x b", 2},
        {"a b", 2, "x", false, -1, 1, false, false, "a b x", 3},
        {"", 0, "a b c", true, 5, 1, false, true, "a b c", 0},
        {"", 0, "a b c", true, -1, 1, false, true, "a b c", 0},
        {"", 0, "a b c", true, 2, 1, false, true, "a b", 0},
        {"x", 0, "a b", true, -1, 3, false, true, "x a b a b a b", 0},
        {"x", 1, "a b", true, 1, 2, false, false, "x a a", 3},
        {"x", 0, "a b", true, -1, 1, true, true, "x [a b]", 0},
        {"q", 0, "a b", true, -1, 1, false, false, "a b q", 2},
        // An empty block adds nothing; with /only it is one value.
        {"a", 1, "", true, -1, 1, false, true, "a", 0},
        {"a", 0, "", true, -1, 1, true, true, "a []", 0},
        // A /dup count below 1 does nothing.
        {"a", 0, "x", false, -1, 0, false, false, "a", 0},
    };
    for (const InsertCase& c : cases) {
        Cell* saved = stack::top;
        Cell* s = read(c.series);
        s->data1 = c.index;
        Cell* v = read(c.value);
        if (!c.block_value) *v = *block::ms_abs_at(v, 0);
        Cell* r = block::insert(s, v, c.part, c.only, c.dup, c.append);
        EXPECT_EQ(values_of(s), c.expected) << c.series << " <- " << c.value;
        EXPECT_EQ(r->data1, c.result_index) << c.series << " <- " << c.value;
        stack::top = saved;
    }
}

TEST_F(BlockTest, InsertIntoItselfCopiesTheSourceFirst) {
    Cell* b = read("a b c");
    Cell* next = stack::push(b);
    next->data1 = 1;
    block::insert(b, next, -1, false, 1, false);
    EXPECT_EQ(values_of(b), "b c a b c");
    EXPECT_EQ(b->data1, 2u);

    Cell* c = read("a b c");
    block::insert(c, c, -1, false, 1, true);
    EXPECT_EQ(values_of(c), "a b c a b c");

    Cell* d = read("a b c");
    Cell* tail = stack::push(d);
    tail->data1 = 3;
    Cell* from = stack::push(d);
    from->data1 = 1;
    block::insert(tail, from, -1, false, 2, false);
    EXPECT_EQ(values_of(d), "a b c b c b c");
}

TEST_F(BlockTest, InsertOverflowChangesNothing) {
    Cell* b = read("a b");
    Cell* v = read("x y");
    EXPECT_MOX_ERROR(err::no_memory, block::insert(b, v, -1, false, 0x40000000, true));
    EXPECT_MOX_ERROR(err::no_memory, block::change(b, v, -1, false, 0x40000000));
    EXPECT_EQ(values_of(b), "a b");
}

struct ChangeCase {
    const char* series;
    uint32_t index;
    const char* value;
    bool block_value;
    int32_t part, dup;
    bool only;
    const char* expected;
    uint32_t result_index;
};

TEST_F(BlockTest, Change) {
    const ChangeCase cases[] = {
        {"a b c", 0, "x y", true, -1, 1, false, "x y c", 2},
        {"a b c", 0, "x", false, 2, 1, false, "x c", 1},
        {"a b c", 1, "x y z w", true, -1, 1, false, "a x y z w", 5},
        {"a b c", 3, "x", false, -1, 1, false, "a b c x", 4},
        {"a b c", 0, "x y", true, -1, 1, true, "[x y] b c", 1},
        {"a b c", 0, "x", false, -1, 2, false, "x x c", 2},
        {"a b c", 0, "x y", true, 1, 2, false, "x y x y b c", 4},
        {"a b c", 1, "", true, 1, 1, false, "a c", 1},
        {"a b c", 0, "x", false, 0, 1, false, "x a b c", 1},
    };
    for (const ChangeCase& c : cases) {
        Cell* saved = stack::top;
        Cell* s = read(c.series);
        s->data1 = c.index;
        Cell* v = read(c.value);
        if (!c.block_value) *v = *block::ms_abs_at(v, 0);
        Cell* r = block::change(s, v, c.part, c.only, c.dup);
        EXPECT_EQ(values_of(s), c.expected) << c.series << " <- " << c.value;
        EXPECT_EQ(r->data1, c.result_index) << c.series << " <- " << c.value;
        stack::top = saved;
    }
}

TEST_F(BlockTest, ChangeWithPartsOfItself) {
    struct {
        uint32_t at, from;
        int32_t part;
        const char* expected;
    } cases[] = {
        {0, 1, -1, "b c d d"},                             // source after the changed range
        {0, 2, -1, "c d c d"}, {2, 0, 1, "a b a b c d d"}, // source before it, growing
        {1, 1, -1, "a b c d"}, {0, 3, 3, "d d"},
    };
    for (auto& c : cases) {
        Cell* saved = stack::top;
        Cell* b = read("a b c d");
        b->data1 = c.at;
        Cell* src = stack::push(b);
        src->data1 = c.from;
        block::change(b, src, c.part, false, 1);
        EXPECT_EQ(values_of(b), c.expected) << c.at << " " << c.from;
        stack::top = saved;
    }
}

// ---------------------------------------------------------------------------
// put, swap, trim, take, remove, reverse
// ---------------------------------------------------------------------------

TEST_F(BlockTest, Put) {
    struct {
        const char* series;
        const char* key;
        const char* value;
        const char* expected;
    } cases[] = {
        {"a 1", "b", "2", "a 1 b 2"}, {"a 1", "a", "1", "a 1"},         {"a 1", "a", "3", "a 3"},
        {"a", "a", "1", "a 1"},       {"a 1 A 2", "A", "9", "a 9 A 2"},
    };
    for (auto& c : cases) {
        Cell* saved = stack::top;
        Cell* s = read(c.series);
        Cell* k = stack::push(block::ms_abs_at(read(c.key), 0));
        Cell* v = stack::push(block::ms_abs_at(read(c.value), 0));
        Cell* r = block::put(s, k, v, false);
        EXPECT_EQ(values_of(s), c.expected);
        EXPECT_EQ(r, v);
        stack::top = saved;
    }
    Cell* s = read("a 1 A 2");
    Cell* k = stack::push(word::load("A"));
    block::put(s, k, integer_cell(9), true);
    EXPECT_EQ(values_of(s), "a 1 A 9");
}

TEST_F(BlockTest, Swap) {
    Cell* a = read("a b");
    Cell* b = read("c d");
    b->data1 = 1;
    block::swap(a, b);
    EXPECT_EQ(values_of(a), "d b");
    EXPECT_EQ(values_of(b), "c a");
    Cell* at_tail = stack::push(b);
    at_tail->data1 = 2;
    block::swap(a, at_tail);
    EXPECT_EQ(values_of(a), "d b");
    EXPECT_MOX_ERROR(err::invalid_arg, block::swap(a, integer_cell(1)));
    // Within one block.
    Cell* c = read("x y z");
    Cell* last = stack::push(c);
    last->data1 = 2;
    block::swap(c, last);
    EXPECT_EQ(values_of(c), "z y x");
}

TEST_F(BlockTest, TrimDropsNones) {
    Cell* b = read("#none a #none #none b #none");
    block::trim(b, false, false, false, false, false, nullptr);
    EXPECT_EQ(values_of(b), "a b");
    Cell* c = read("#none a #none");
    c->data1 = 1;
    block::trim(c, false, false, false, false, false, nullptr);
    EXPECT_EQ(values_of(c), "none a");
}

struct TakeCase {
    const char* series;
    uint32_t index;
    int32_t part; // INT32_MIN: no /part
    bool last;
    const char* taken;
    const char* left;
};

TEST_F(BlockTest, Take) {
    const TakeCase cases[] = {
        {"a b", 0, INT32_MIN, false, "a", "b"},
        {"a b", 0, INT32_MIN, true, "b", "a"},
        {"", 0, INT32_MIN, false, "none", ""},
        {"a b c", 0, 2, false, "[a b]", "c"},
        {"a b c", 1, 5, false, "[b c]", "a"},
        {"a b c", 0, 2, true, "[b c]", "a"},
        // A part of 0 takes nothing.
        {"a b c", 1, 0, false, "[]", "a b c"},
        {"a b c", 1, 0, true, "[]", "a b c"},
        // A negative part takes the values before the position, as many as
        // there are.
        {"a b c", 2, -2, false, "[a b]", "c"},
        {"a b c", 1, -5, false, "[a]", "b c"},
        {"a b c", 3, -2, false, "[b c]", "a"},
        {"a b c", 0, -2, false, "[]", "a b c"},
        {"a b c", 2, -1, true, "[]", "a b c"},
        {"a b", 2, 1, false, "none", "a b"},
    };
    for (const TakeCase& c : cases) {
        Cell* saved = stack::top;
        Cell* s = read(c.series);
        Cell* whole = stack::push(s);
        s->data1 = c.index;
        Cell* part = c.part == INT32_MIN ? nullptr : integer_cell(c.part);
        Cell* r = block::take(s, part, false, c.last);
        EXPECT_EQ(mold_of(r), c.taken) << c.series << " at " << c.index << " part " << c.part;
        EXPECT_EQ(values_of(whole), c.left) << c.series << " at " << c.index;
        stack::top = saved;
    }
}

TEST_F(BlockTest, TakeDeepCopiesSeries) {
    Cell* s = read("[x] \"t\" y");
    Cell* inner = stack::push(block::ms_abs_at(s, 0));
    Cell* r = block::take(s, integer_cell(2), true, false);
    EXPECT_EQ(mold_of(r), "[[x] \"t\"]");
    EXPECT_NE(block::ms_abs_at(r, 0)->data2, inner->data2);
    Cell* one = read("[z]");
    Cell* inner_one = stack::push(block::ms_abs_at(one, 0));
    Cell* value = block::take(one, nullptr, true, false);
    EXPECT_EQ(type_of(value), TYPE_BLOCK);
    EXPECT_NE(value->data2, inner_one->data2);
}

TEST_F(BlockTest, InheritedSeriesActions) {
    Cell* b = read("a b c d");
    actions::remove(b, nullptr, nullptr);
    EXPECT_EQ(values_of(b), "b c d");
    actions::reverse(b, nullptr, nullptr);
    EXPECT_EQ(values_of(b), "d c b");
    Cell* p = read_values("a b c", TYPE_PAREN);
    actions::reverse(p, nullptr, nullptr);
    EXPECT_EQ(mold_of(p), "(c b a)");
    Cell* found = stack::push(block::ms_head(read("q")));
    EXPECT_EQ(block::remove_value(b, found, false), 0);
    Cell* c = read("a b c b");
    c->data1 = 2;
    Cell* w = stack::push(word::load("b"));
    EXPECT_EQ(block::remove_value(c, w, false), 1);
    EXPECT_EQ(values_of(c), "a b c");
    EXPECT_EQ(block::remove_value(c, w, true), 2);
    EXPECT_EQ(values_of(c), "a c");
}

// ---------------------------------------------------------------------------
// Path access
// ---------------------------------------------------------------------------

std::string path_get(Cell* parent, Cell* key) {
    Cell* r = block::eval_path(parent, key, nullptr, nullptr, nullptr, nullptr, 0, false, true,
                               true, false);
    return mold_of(stack::push(r));
}

TEST_F(BlockTest, EvalPath) {
    Cell* b = read("a 1 b: 2 \"k\" 3 [x] 4");
    EXPECT_EQ(path_get(b, integer_cell(2)), "1");
    EXPECT_EQ(path_get(b, integer_cell(9)), "none");
    EXPECT_EQ(path_get(b, stack::push(word::load("b"))), "2");
    EXPECT_EQ(path_get(b, stack::push(word::load("B"))), "2");
    EXPECT_EQ(path_get(b, stack::push(word::load("c"))), "none");
    EXPECT_EQ(path_get(b, stack::push(block::ms_abs_at(read("\"k\""), 0))), "3");
    EXPECT_EQ(path_get(b, stack::push(block::ms_abs_at(read("[x]"), 0))), "4");

    Cell* key = stack::push(word::load("a"));
    Cell* value = integer_cell(5);
    block::eval_path(b, key, value, nullptr, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(values_of(b), "a 5 b: 2 \"k\" 3 [x] 4");
    block::eval_path(b, integer_cell(1), value, nullptr, nullptr, nullptr, 0, false, false, true,
                     false);
    EXPECT_EQ(values_of(b), "5 5 b: 2 \"k\" 3 [x] 4");
    Cell* missing = stack::push(word::load("zz"));
    Cell* path = read_values("b zz", TYPE_PATH);
    EXPECT_MOX_ERROR(err::bad_path_set, block::eval_path(b, missing, value, path, nullptr, nullptr,
                                                         1, false, false, true, false));
    Cell* last = stack::push(word::load("x"));
    Cell* tail = read("p x");
    EXPECT_MOX_ERROR(err::out_of_range, block::eval_path(tail, last, value, path, nullptr, nullptr,
                                                         1, false, false, true, false));
}

// ---------------------------------------------------------------------------
// make, to, copy
// ---------------------------------------------------------------------------

TEST_F(BlockTest, MakeAndTo) {
    Cell dt;
    Cell* proto = stack::push(make_datatype(&dt, TYPE_BLOCK));
    Cell* ten = integer_cell(10);
    Cell* made = block::make(proto, ten, TYPE_BLOCK);
    EXPECT_EQ(mold_of(made), "[]");
    EXPECT_GE(block::buffer_of(made)->size, 10 * sizeof(Cell));
    Cell* src = read("a b c");
    src->data1 = 1;
    Cell* copy = block::make(proto, src, TYPE_PAREN);
    EXPECT_EQ(mold_of(copy), "(b c)");
    EXPECT_NE(copy->data2, src->data2);
    Cell* neg = block::make(proto, integer_cell(-4), TYPE_BLOCK);
    EXPECT_EQ(mold_of(neg), "[]");
    Cell* text = stack::push(block::ms_abs_at(read("\"x\""), 0));
    EXPECT_MOX_ERROR(err::bad_make_arg, block::make(proto, text, TYPE_BLOCK));

    EXPECT_EQ(mold_of(block::to(proto, integer_cell(5), TYPE_BLOCK)), "[5]");
    // Text goes through the loader; the result takes the requested type.
    block::LoadText lexer_hook = block::load_text;
    block::load_text = [](Cell* text, Cell* out) {
        block::make_at(out, 1);
        block::ms_append(out, text);
    };
    Cell* source = stack::push(block::ms_abs_at(read("\"t\""), 0));
    EXPECT_EQ(mold_of(block::to(proto, source, TYPE_PAREN)), "(\"t\")");
    EXPECT_EQ(mold_of(block::to(proto, read("x y"), TYPE_PAREN)), "(x y)");
    block::load_text = lexer_hook;
    Cell* set = stack::push_cell();
    *set = Cell{TYPE_TYPESET, 0, 0, 0};
    for (uint32_t t : {TYPE_INTEGER, TYPE_BLOCK})
        reinterpret_cast<uint8_t*>(&set->data1)[t >> 3] |= 0x80 >> (t & 7);
    EXPECT_EQ(mold_of(block::to(proto, set, TYPE_BLOCK)), "[block! integer!]");
}

std::string copy_with_part(const char* series, uint32_t index, Cell* part) {
    Cell* saved = stack::top;
    Cell* s = read(series);
    s->data1 = index;
    Cell* dest = make_unset(stack::push_cell());
    block::copy(s, dest, part, false, nullptr);
    std::string text = mold_of(dest);
    stack::top = saved;
    return text;
}

TEST_F(BlockTest, CopyPart) {
    EXPECT_EQ(copy_with_part("a b c d e f", 0, nullptr), "[a b c d e f]");
    EXPECT_EQ(copy_with_part("a b c d e f", 2, integer_cell(2)), "[c d]");
    EXPECT_EQ(copy_with_part("a b c d e f", 2, integer_cell(-2)), "[a b]");
    EXPECT_EQ(copy_with_part("a b c d e f", 1, integer_cell(-5)), "[a]");
    EXPECT_EQ(copy_with_part("a b c", 1, integer_cell(10)), "[b c]");
    Cell* pair = stack::push_cell();
    *pair = Cell{TYPE_PAIR, 0, 2, 4};
    EXPECT_EQ(copy_with_part("a b c d e f", 0, pair), "[b c]");
    *pair = Cell{TYPE_PAIR, 0, 4, 2};
    EXPECT_EQ(copy_with_part("a b c d e f", 0, pair), "[]");
    Cell* s = read("a b c");
    Cell* at = stack::push(s);
    at->data1 = 2;
    Cell* dest = make_unset(stack::push_cell());
    block::copy(s, dest, at, false, nullptr);
    EXPECT_EQ(mold_of(dest), "[a b]");
    EXPECT_MOX_ERROR(err::invalid_refine_arg, block::copy(s, dest, read("x"), false, nullptr));
}

// A pair part takes one rule for blocks and strings: x counts from 1 at the
// position, a negative x back from it, so 0 is the cell before it.
TEST_F(BlockTest, CopyPartPairIsOneRuleForBlocksAndStrings) {
    const struct {
        uint32_t index;
        int32_t x, y;
        const char* expected;
    } cases[] = {
        {0, 2, 4, "bc"},   {2, 0, 2, "bc"}, {2, 0, 0, ""},       {0, 0, 3, "abc"},
        {3, -2, 1, "bcd"}, {3, 1, 3, "de"}, {1, -5, 0, "abcde"}, {4, 1, 9, "ef"},
    };
    for (const auto& c : cases) {
        Cell* saved = stack::top;
        Cell* pair = stack::push_cell();
        *pair = Cell{TYPE_PAIR, 0, static_cast<uint32_t>(c.x), static_cast<uint32_t>(c.y)};
        std::string cells;
        for (const char* p = c.expected; *p; p++)
            cells += std::string(cells.empty() ? "" : " ") + *p;
        EXPECT_EQ(copy_with_part("a b c d e f", c.index, pair), "[" + cells + "]")
            << "block at " << c.index << " part " << c.x << "x" << c.y;
        Cell* str = string::push_new(8);
        string::append_utf8(str, "abcdef", 6);
        str->data1 = c.index;
        Cell* dest = make_unset(stack::push_cell());
        actions::copy(str, dest, pair, false, nullptr);
        EXPECT_EQ(text_of(dest), c.expected)
            << "string at " << c.index << " part " << c.x << "x" << c.y;
        stack::top = saved;
    }
}

TEST_F(BlockTest, CopyDeepAndTypes) {
    Cell* s = read("\n[a [b]] \"t\" (c)");
    Cell* dest = make_unset(stack::push_cell());
    block::copy(s, dest, nullptr, true, nullptr);
    EXPECT_EQ(mold_of(dest), mold_of(s));
    Cell* outer = stack::push(block::ms_abs_at(dest, 0));
    EXPECT_NE(outer->data2, block::ms_abs_at(s, 0)->data2);
    EXPECT_NE(block::ms_abs_at(outer, 1)->data2,
              block::ms_abs_at(block::ms_abs_at(s, 0), 1)->data2);
    EXPECT_NE(block::ms_abs_at(dest, 1)->data2, block::ms_abs_at(s, 1)->data2);
    EXPECT_TRUE(block::ms_abs_at(dest, 0)->header & FLAG_NEW_LINE);
    // Changing the copy leaves the source alone.
    block::insert(outer, integer_cell(1), -1, false, 1, true);
    EXPECT_EQ(mold_of(s), "[\n    [a [b]] \"t\" (c)\n]");

    // /types copies only the cells of the given types.
    Cell dt;
    Cell* only_strings = stack::push(make_datatype(&dt, TYPE_STRING));
    Cell* typed = make_unset(stack::push_cell());
    block::copy(s, typed, nullptr, false, only_strings);
    EXPECT_EQ(block::ms_abs_at(typed, 0)->data2, block::ms_abs_at(s, 0)->data2);
    EXPECT_NE(block::ms_abs_at(typed, 1)->data2, block::ms_abs_at(s, 1)->data2);
    EXPECT_EQ(block::ms_abs_at(typed, 2)->data2, block::ms_abs_at(s, 2)->data2);

    // A block that holds itself cannot be copied deeply.
    Cell* self = read("x");
    block::ms_append(self, self);
    EXPECT_MOX_ERROR(err::no_cycle, block::copy(self, dest, nullptr, true, nullptr));
    EXPECT_MOX_ERROR(err::no_cycle, block::clone(self, true, false));
    // Shared, not cyclic: copied twice.
    Cell* inner = read("y");
    Cell* twice = read("");
    block::ms_append(twice, inner);
    block::ms_append(twice, inner);
    block::copy(twice, dest, nullptr, true, nullptr);
    EXPECT_EQ(mold_of(dest), "[[y] [y]]");
}

TEST_F(BlockTest, CloneKeepsFlagsAndKinds) {
    Cell* s = read("a (b [c]) \n[d] x/y");
    s->data1 = 1;
    Cell* shallow = block::clone(s, false, false);
    EXPECT_EQ(mold_of(shallow), "[(b [c])\n[d] x/y]");
    Cell* deep = block::clone(s, true, false);
    EXPECT_EQ(block::ms_abs_at(deep, 0)->data2, block::ms_abs_at(s, 1)->data2);
    EXPECT_NE(block::ms_abs_at(deep, 1)->data2, block::ms_abs_at(s, 2)->data2);
    EXPECT_TRUE(block::ms_abs_at(deep, 1)->header & FLAG_NEW_LINE);
    Cell* any = block::clone(s, true, true);
    EXPECT_NE(block::ms_abs_at(any, 0)->data2, block::ms_abs_at(s, 1)->data2);
    EXPECT_NE(block::ms_abs_at(any, 2)->data2, block::ms_abs_at(s, 3)->data2);
    EXPECT_EQ(type_of(block::ms_abs_at(any, 2)), TYPE_PATH);
}

// ---------------------------------------------------------------------------
// sort
// ---------------------------------------------------------------------------

struct SortOptions {
    bool case_ = false;
    int32_t skip = 0;
    Cell* compare = nullptr;
    int32_t part = INT32_MIN;
    bool all = false, reverse = false, stable = false;
};

Cell* sort_with(Cell* s, const SortOptions& o) {
    Cell* skip = o.skip ? integer_cell(o.skip) : nullptr;
    Cell* part = o.part == INT32_MIN ? nullptr : integer_cell(o.part);
    return block::sort(s, o.case_, skip, o.compare, part, o.all, o.reverse, o.stable);
}

SortOptions sorting(void (*set)(SortOptions&)) {
    SortOptions o;
    set(o);
    return o;
}

TEST_F(BlockTest, SortTable) {
    struct {
        const char* values;
        SortOptions o;
        const char* expected;
    } cases[] = {
        {"3 1 2", {}, "1 2 3"},
        {"3 1 2", sorting([](SortOptions& o) { o.reverse = true; }), "3 2 1"},
        {"c 3 a 1 b 2", sorting([](SortOptions& o) { o.skip = 2; }), "a 1 b 2 c 3"},
        {"b 2 a 9 a 1", sorting([](SortOptions& o) {
             o.skip = 2;
             o.all = true;
         }),
         "a 1 a 9 b 2"},
        {"\"b\" \"A\" \"c\"", {}, "\"A\" \"b\" \"c\""},
        {"b A a B", sorting([](SortOptions& o) { o.case_ = true; }), "A B a b"},
        {"b 1 \"s\" 2.5", {}, "\"s\" 1 2.5 b"},
        {"3 2 1", sorting([](SortOptions& o) { o.part = 2; }), "2 3 1"},
        {"3 2 1", sorting([](SortOptions& o) { o.part = 0; }), "3 2 1"},
        {"[b] [a 1] [a]", {}, "[a] [a 1] [b]"},
        {"", {}, ""},
    };
    for (auto& c : cases) {
        Cell* saved = stack::top;
        Cell* s = read(c.values);
        sort_with(s, c.o);
        EXPECT_EQ(values_of(s), c.expected) << c.values;
        stack::top = saved;
    }
}

TEST_F(BlockTest, SortCompareOffsetAndNegativePart) {
    Cell* s = read("c 1 a 3 b 2");
    SortOptions o;
    o.skip = 2;
    o.compare = integer_cell(2);
    sort_with(s, o);
    EXPECT_EQ(values_of(s), "c 1 b 2 a 3");

    Cell* t = read("3 2 1 0");
    t->data1 = 2;
    sort_with(t, sorting([](SortOptions& o) { o.part = -2; }));
    EXPECT_EQ(values_of(t), "2 3 1 0");
    EXPECT_EQ(t->data1, 0u);
    Cell* u = read("3 2 1 0");
    u->data1 = 1;
    sort_with(u, sorting([](SortOptions& o) { o.part = -2; }));
    EXPECT_EQ(values_of(u), "3 2 1 0");
    EXPECT_EQ(u->data1, 0u);
}

TEST_F(BlockTest, SortErrors) {
    Cell* s = read("a 1 b 2 c 3");
    EXPECT_MOX_ERROR(err::bad_refines, sort_with(s, sorting([](SortOptions& o) { o.all = true; })));
    EXPECT_MOX_ERROR(err::invalid_refine_arg,
                     sort_with(s, sorting([](SortOptions& o) { o.skip = 4; })));
    EXPECT_MOX_ERROR(err::invalid_refine_arg,
                     sort_with(s, sorting([](SortOptions& o) { o.skip = -1; })));
    EXPECT_MOX_ERROR(err::invalid_refine_arg,
                     sort_with(s, sorting([](SortOptions& o) { o.skip = 12; })));
    SortOptions o;
    o.compare = integer_cell(1);
    EXPECT_MOX_ERROR(err::bad_refines, sort_with(s, o));
    o.skip = 2;
    o.compare = integer_cell(3);
    EXPECT_MOX_ERROR(err::out_of_range, sort_with(s, o));
    o.compare = integer_cell(1);
    o.all = true;
    EXPECT_MOX_ERROR(err::bad_refines, sort_with(s, o));
    o.all = false;
    o.compare = read("x");
    EXPECT_MOX_ERROR(err::invalid_refine_arg, sort_with(s, o));
    EXPECT_EQ(values_of(s), "a 1 b 2 c 3");
}

// The stable sort keeps records with equal keys in input order; checked
// against std::stable_sort over the same keys.
TEST_F(BlockTest, StableSortMatchesStdStableSort) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 4; round++) {
        const int n = round == 0 ? 7 : 1500;
        std::vector<std::pair<int, int>> records;
        Cell* s = block::push_only_star(2 * n);
        for (int i = 0; i < n; i++) {
            int key = static_cast<int>(rng() % (round + 3));
            records.push_back({key, i});
            block::ms_append(s, integer_cell(key));
            block::ms_append(s, integer_cell(i));
            stack::pop(2);
        }
        SortOptions o;
        o.skip = 2;
        o.stable = true;
        o.reverse = round == 3;
        sort_with(s, o);
        std::stable_sort(records.begin(), records.end(), [&](auto& a, auto& b) {
            return o.reverse ? a.first > b.first : a.first < b.first;
        });
        for (int i = 0; i < n; i++) {
            ASSERT_EQ(get_integer(block::ms_abs_at(s, 2 * i)), records[i].first) << i;
            ASSERT_EQ(get_integer(block::ms_abs_at(s, 2 * i + 1)), records[i].second) << i;
        }
        stack::pop(1);
    }
}

TEST_F(BlockTest, QuickSortSortsLargeInput) {
    std::mt19937 rng(99);
    std::vector<int> expected;
    Cell* s = block::push_only_star(5000);
    for (int i = 0; i < 5000; i++) {
        int v = static_cast<int>(rng() % 1000) - 500;
        expected.push_back(v);
        block::ms_append(s, integer_cell(v));
        stack::pop(1);
    }
    sort_with(s, {});
    std::sort(expected.begin(), expected.end());
    for (int i = 0; i < 5000; i++) ASSERT_EQ(get_integer(block::ms_abs_at(s, i)), expected[i]);
}

// User comparators run through the interpreter's hook; these stand in for
// Mox functions.
Cell* greater_than(Cell* fn, Cell* a, Cell* b) {
    return logic::push(get_integer(a) > get_integer(b));
}

int comparator_calls = 0;

// Allocates, collects and empties the block being sorted on its third call.
Cell* meddling(Cell* fn, Cell* a, Cell* b) {
    Cell* target = fn + 1; // the sorted block sits right after the function
    for (int i = 0; i < 20; i++) block::push_only_star(64);
    collector::do_cycle();
    if (++comparator_calls == 3) block::ms_clear_at(target, 0);
    if (comparator_calls == 5) block::ms_append(target, integer_cell(77));
    return make_integer(stack::push_cell(), get_integer(a) - get_integer(b));
}

Cell* failing(Cell* fn, Cell* a, Cell* b) {
    if (++comparator_calls == 4) fire(err::invalid_compare, a, b);
    return make_none(stack::push_cell());
}

Cell* records_in_blocks(Cell* fn, Cell* a, Cell* b) {
    EXPECT_EQ(type_of(a), TYPE_BLOCK);
    EXPECT_EQ(block::rs_length_q(a), 2);
    return make_integer(stack::push_cell(),
                        get_integer(block::ms_abs_at(b, 1)) - get_integer(block::ms_abs_at(a, 1)));
}

TEST_F(BlockTest, SortWithUserComparator) {
    Cell* fn = stack::push_cell();
    *fn = Cell{TYPE_FUNCTION, 0, 0, 0};
    Cell* s = read("1 3 2");
    block::call_comparator = &greater_than;
    SortOptions o;
    o.compare = fn;
    sort_with(s, o);
    EXPECT_EQ(values_of(s), "3 2 1");
    o.reverse = true;
    sort_with(s, o);
    EXPECT_EQ(values_of(s), "1 2 3");

    // With /all and /skip the function receives whole records as blocks.
    Cell* r = read("a 1 b 3 c 2");
    block::call_comparator = &records_in_blocks;
    SortOptions all;
    all.compare = fn;
    all.skip = 2;
    all.all = true;
    sort_with(r, all);
    EXPECT_EQ(values_of(r), "a 1 c 2 b 3");
}

int sort_depth = 0;

// Sorts records of its own with /all before answering, and checks that the
// two records it was handed are still the ones it was given.
Cell* sorting_records(Cell* fn, Cell* a, Cell* b) {
    const std::string first = mold_of(a), second = mold_of(b);
    if (sort_depth == 0) {
        sort_depth++;
        Cell* inner = read("z 9 y 8 x 7 w 6");
        SortOptions all;
        all.compare = fn;
        all.skip = 2;
        all.all = true;
        sort_with(inner, all);
        EXPECT_EQ(values_of(inner), "w 6 x 7 y 8 z 9");
        sort_depth--;
    }
    EXPECT_EQ(mold_of(a), first);
    EXPECT_EQ(mold_of(b), second);
    return records_in_blocks(fn, a, b);
}

TEST_F(BlockTest, SortInsideAComparatorKeepsTheOuterRecords) {
    Cell* fn = stack::push_cell();
    *fn = Cell{TYPE_FUNCTION, 0, 0, 0};
    block::call_comparator = &sorting_records;
    SortOptions all;
    all.compare = fn;
    all.skip = 2;
    all.all = true;
    for (bool stable : {false, true}) {
        Cell* r = read("a 1 b 3 c 2 d 0");
        all.stable = stable;
        EXPECT_MOX_OK(sort_with(r, all));
        EXPECT_EQ(values_of(r), "d 0 a 1 c 2 b 3");
    }
}

TEST_F(BlockTest, SortSurvivesComparatorThatChangesTheBlock) {
    Cell* fn = stack::push_cell();
    *fn = Cell{TYPE_FUNCTION, 0, 0, 0};
    Cell* s = block::push_only_star(40);
    for (int i = 40; i > 0; i--) block::ms_append(s, integer_cell(i)), stack::pop(1);
    SortOptions o;
    o.compare = fn;
    for (bool stable : {false, true}) {
        comparator_calls = 0;
        block::call_comparator = &meddling;
        o.stable = stable;
        sort_with(s, o);
        // The block was emptied, then got one value; the sort wrote back
        // only into cells that exist.
        EXPECT_EQ(block::abs_length(s), 1u);
        for (int i = 40; i > 0; i--) block::ms_append(s, integer_cell(i)), stack::pop(1);
    }
}

TEST_F(BlockTest, SortErrorFromComparatorLeavesBlock) {
    Cell* fn = stack::push_cell();
    *fn = Cell{TYPE_FUNCTION, 0, 0, 0};
    Cell* s = read("5 4 3 2 1 9 8 7");
    block::call_comparator = &failing;
    comparator_calls = 0;
    SortOptions o;
    o.compare = fn;
    EXPECT_MOX_ERROR(err::invalid_compare, sort_with(s, o));
    EXPECT_EQ(values_of(s), "5 4 3 2 1 9 8 7");
}

// ---------------------------------------------------------------------------
// Set operations
// ---------------------------------------------------------------------------

std::string set_op(const char* a, const char* b, int32_t op, bool case_, int32_t skip) {
    Cell* saved = stack::top;
    Cell* s1 = read(a);
    Cell* s2 = read(b);
    Cell* size = skip ? integer_cell(skip) : nullptr;
    block::do_set_op(s1, op == series::SET_UNIQUE ? nullptr : s2, case_, size, op);
    EXPECT_EQ(type_of(s1), TYPE_BLOCK);
    std::string text = values_of(s1);
    stack::top = saved;
    return text;
}

TEST_F(BlockTest, SetOperations) {
    using namespace series;
    struct {
        const char* a;
        const char* b;
        int32_t op;
        bool case_;
        int32_t skip;
        const char* expected;
    } cases[] = {
        {"a b", "b c", SET_UNION, false, 0, "a b c"},
        {"a b", "b c", SET_DIFFERENCE, false, 0, "a c"},
        {"a b c", "b c d", SET_INTERSECT, false, 0, "b c"},
        {"a b c", "b", SET_EXCLUDE, false, 0, "a c"},
        {"a A b a", "", SET_UNIQUE, false, 0, "a b"},
        {"a A b a", "", SET_UNIQUE, true, 0, "a A b"},
        {"a b", "B", SET_EXCLUDE, false, 0, "a"},
        {"a b", "B", SET_EXCLUDE, true, 0, "a b"},
        {"a b a", "a", SET_UNION, false, 0, "a b"},
        {"[1] x [1]", "[1] y", SET_UNION, false, 0, "[1] x y"},
        {"[1] x", "[1]", SET_EXCLUDE, false, 0, "x"},
        {"a 1 b 2", "b 3 c 4", SET_UNION, false, 2, "a 1 b 2 c 4"},
        {"a 1 b 2", "1 b c 4", SET_INTERSECT, false, 2, ""},
        {"a 1 b 2 a 5", "", SET_UNIQUE, false, 2, "a 1 b 2"},
        {"", "", SET_UNION, false, 0, ""},
    };
    for (auto& c : cases)
        EXPECT_EQ(set_op(c.a, c.b, c.op, c.case_, c.skip), c.expected)
            << c.a << " / " << c.b << " op " << c.op;
    EXPECT_MOX_ERROR(err::invalid_refine_arg, set_op("a", "b", series::SET_UNION, false, -1));
}

TEST_F(BlockTest, SetOperationWithHash) {
    Cell* a = read("a b c");
    Cell* h = read_hash("b x");
    block::do_set_op(a, h, false, nullptr, series::SET_INTERSECT);
    EXPECT_EQ(type_of(a), TYPE_HASH);
    EXPECT_NE(a->data3, 0u);
    EXPECT_EQ(values_of(a), "b");
    Cell* key = stack::push(word::load("b"));
    Find f;
    EXPECT_EQ(find_in(a, key, f), 0);
}

// ---------------------------------------------------------------------------
// hash!: the index follows every change
// ---------------------------------------------------------------------------

// Every value of the hash! is found at its position through the index, and
// the hashed search agrees with a linear one.
void expect_indexed(Cell* h) {
    Cell* saved = stack::top;
    Cell* plain = stack::push(h);
    set_type(plain, TYPE_BLOCK);
    Cell* from = stack::push(h);
    from->data1 = 0;
    for (uint32_t i = 0; i < block::abs_length(h); i++) {
        Cell* v = stack::push(block::ms_abs_at(h, i));
        from->data1 = 0;
        plain->data1 = 0;
        Find f;
        f.only = true;
        EXPECT_EQ(find_in(from, v, f), find_in(plain, v, f)) << "value " << i;
        stack::pop(1);
    }
    stack::top = saved;
}

TEST_F(BlockTest, HashIndexFollowsChanges) {
    Cell* h = read_hash("a b c d");
    expect_indexed(h);
    Cell* x = stack::push(word::load("x"));
    h->data1 = 1;
    block::insert(h, x, -1, false, 1, false);
    expect_indexed(h);
    block::insert(h, read("p q"), -1, false, 2, true);
    expect_indexed(h);
    block::insert_value(h, stack::push(word::load("z")), true, false);
    expect_indexed(h);
    h->data1 = 2;
    block::change(h, read("m n o"), 1, false, 1);
    expect_indexed(h);
    Cell* other = stack::push(h);
    other->data1 = 5;
    h->data1 = 0;
    block::swap(h, other);
    expect_indexed(h);
    block::put(h, stack::push(word::load("c")), integer_cell(7), false);
    block::put(h, stack::push(word::load("new")), integer_cell(8), false);
    expect_indexed(h);
    EXPECT_EQ(block::remove_value(h, stack::push(word::load("b")), true), 2);
    expect_indexed(h);
    sort_with(h, {});
    expect_indexed(h);
    block::ms_append(h, make_none(stack::push_cell()));
    block::trim(h, false, false, false, false, false, nullptr);
    expect_indexed(h);
    h->data1 = 0;
    EXPECT_EQ(values_of(h), "7 8 a c m n new o p p q q z");
}

// ---------------------------------------------------------------------------
// Storage routines
// ---------------------------------------------------------------------------

TEST_F(BlockTest, StorageRoutines) {
    Cell* b = read("a b c");
    EXPECT_EQ(block::ms_length_q(b), 3);
    EXPECT_FALSE(block::ms_next(b));
    EXPECT_FALSE(block::ms_next(b));
    EXPECT_TRUE(block::ms_next(b));
    EXPECT_TRUE(block::ms_next(b));
    EXPECT_EQ(b->data1, 3u);
    b->data1 = 9;
    EXPECT_EQ(block::ms_length_q(b), -6);
    EXPECT_EQ(block::rs_length_q(b), 0);
    EXPECT_EQ(block::rs_head(b), block::ms_tail(b));
    EXPECT_EQ(b->data1, 9u);
    EXPECT_EQ(block::ms_head(b), block::ms_tail(b));
    EXPECT_EQ(b->data1, 3u);
    b->data1 = 1;
    block::ms_clear(b);
    EXPECT_EQ(values_of(b), "a");
    block::ms_append_block(b, read("x y"));
    EXPECT_EQ(values_of(b), "a x y");
    block::ms_append_block(b, b);
    EXPECT_EQ(values_of(b), "a x y x y");
    block::ms_remove_last(b);
    block::ms_clear_at(b, 2);
    EXPECT_EQ(values_of(b), "a x");
    block::insert_block(b, read("p q"));
    EXPECT_EQ(values_of(b), "a p q x");
    EXPECT_EQ(b->data1, 3u);
    block::insert_value(b, stack::push(word::load("h")), true, true);
    EXPECT_EQ(values_of(b), "h a p q x");
    EXPECT_EQ(b->data1, 1u);

    Cell* fixed = block::make_fixed(stack::push_cell(), 4, false);
    EXPECT_EQ(block::abs_length(fixed), 0u);
    EXPECT_EQ(type_of(block::buffer_of(fixed)->cells() + 3), TYPE_UNSET);
    Cell* parent = read("p");
    Cell* made = block::make_in(parent, 3);
    EXPECT_EQ(type_of(made), TYPE_BLOCK);
    EXPECT_EQ(values_of(parent), "p []");
    Cell* loose = block::make_in(nullptr, 2);
    collector::do_cycle();
    EXPECT_EQ(block::abs_length(loose), 0u);
}

TEST_F(BlockTest, StackRoutinesForCompiledCode) {
    Cell* saved_args = stack::arguments;
    Cell* b = read("a");
    Cell* v = stack::push(word::load("v"));
    stack::arguments = v;
    block::append_last();
    EXPECT_EQ(values_of(b), "a v");
    block::insert_last();
    EXPECT_EQ(values_of(b), "v a v");
    Cell* c = read("q");
    stack::push(word::load("w"));
    stack::arguments = c;
    block::append_second();
    EXPECT_EQ(values_of(c), "q w");
    stack::arguments = saved_args;
}

// ---------------------------------------------------------------------------
// Node relocation
// ---------------------------------------------------------------------------

// Fills every node frame, so that the nodes made next go to a new frame of
// their own; returns the block holding the filler.
Cell* fill_node_frames() {
    Cell* filler = block::push_only_star(20000);
    const arena::ref32 last = memory::record.node_last;
    while (memory::record.node_last == last) block::make_in(filler, 1);
    return filler;
}

// Appends to the first nested block of b and of that block's first nested
// block, so that a copy sharing either shows it.
void spoil_nested(Cell* b) {
    Cell* inner = stack::push(block::ms_abs_at(b, 0));
    Cell* deeper = stack::push(block::ms_abs_at(inner, 1));
    block::ms_append(inner, integer_cell(0));
    block::ms_append(deeper, integer_cell(0));
}

// Each operation runs on values whose nodes sit alone in the newest node
// frame while an older frame has just been emptied: in stress mode its
// first collection frees the filler and its second moves every node of the
// values, so the operation sees its nodes relocate while it works.
TEST_F(BlockTest, OperationsSurviveNodeRelocation) {
    struct Case {
        const char* name;
        const char* data;
        std::function<Cell*(Cell*)> op;
        const char* expected;
    };
    const Case cases[] = {
        {"mold", "\n[\"x\" [y \"z\"]] w",
         [](Cell* b) {
             Cell* text = string::push_new(1);
             actions::mold(b, text, false, false, false, nullptr, INT32_MAX, 0);
             return text;
         },
         "{[^/    [\"x\" [y \"z\"]] w^/]}"},
        {"insert itself", "a [b] \"c\"",
         [](Cell* b) {
             Cell* from = stack::push(b);
             from->data1 = 1;
             for (int i = 0; i < 6; i++) block::insert(b, from, -1, false, 2, true);
             b->data1 = 0;
             block::clip_index(b);
             Cell* dest = make_unset(stack::push_cell());
             Cell* part = integer_cell(5);
             return block::copy(b, dest, part, false, nullptr);
         },
         "[a [b] \"c\" [b] \"c\"]"},
        {"change itself", "a b c d",
         [](Cell* b) {
             Cell* src = stack::push(b);
             src->data1 = 1;
             return block::change(b, src, -1, false, 40), b->data1 = 0, b;
         },
         nullptr},
        {"copy deep", "[a [\"b\"]] (c)",
         [](Cell* b) {
             Cell* copy = block::copy(b, make_unset(stack::push_cell()), nullptr, true, nullptr);
             spoil_nested(b);
             return copy;
         },
         "[[a [\"b\"]] (c)]"},
        {"clone deep", "[a [b]] x/y",
         [](Cell* b) {
             Cell* copy = block::clone(b, true, true);
             spoil_nested(b);
             return copy;
         },
         "[[a [b]] x/y]"},
        {"take deep", "[a] \"b\" c",
         [](Cell* b) { return block::take(b, integer_cell(2), true, false); }, "[[a] \"b\"]"},
        {"union", "a [b] \"c\" d",
         [](Cell* b) {
             Cell* other = read("\"C\" e [b]");
             return block::do_set_op(b, other, false, nullptr, series::SET_UNION);
         },
         "[a [b] \"c\" d e]"},
        {"find sequence", "x \"a\" [b] \"a\" [b] y",
         [](Cell* b) {
             Cell* seq = read("\"a\" [b] y");
             return block::find(b, seq, nullptr, false, false, false, false, nullptr, nullptr,
                                false, false, false, false);
         },
         "[\"a\" [b] y]"},
        {"sort", "[c] \"b\" [a] \"a\" [b]",
         [](Cell* b) {
             return block::sort(b, false, nullptr, nullptr, nullptr, false, false, true);
         },
         "[[a] [b] [c] \"a\" \"b\"]"},
    };
    const bool saved = collector::stress;
    for (const Case& c : cases) {
        Cell* top = stack::top;
        const int32_t moved = collector::stats.nodes_cycles;
        collector::stress = false;
        Cell* filler = fill_node_frames();
        Cell* data = read(c.data);
        block::ms_clear_at(filler, 0);
        collector::stress = true;
        Cell* result = c.op(data);
        collector::do_cycle();
        collector::stress = saved;
        EXPECT_GT(collector::stats.nodes_cycles, moved) << c.name;
        if (c.expected) {
            std::string text = mold_of(result);
            EXPECT_EQ(text, c.expected) << c.name;
        } else {
            EXPECT_EQ(block::abs_length(result), 3u * 40) << c.name;
        }
        stack::top = top;
    }
}

} // namespace
} // namespace mox::test
