// series!: navigation and clamping, element access, copying, reordering,
// removal, moves within and between series, the hash! index on poke, and
// owners that change a series while being told about a change.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/memory.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime_fixture.h"
#include "string_fixture.h"

namespace mox::test {

namespace {

Cell* char_cell(uint32_t cp) { return make_char(stack::push_cell(), cp); }

// Runs an in-place action on a copy of the series (and its argument) pushed
// as a call's arguments; returns the result cell.
Cell* in_place(InPlaceFn fn, const Cell* s, const Cell* arg = nullptr) {
    stack::mark_native(nullptr);
    stack::push(s);
    if (arg) stack::push(arg);
    return fn();
}

Cell* at_index(const char* t, uint32_t index) {
    Cell* s = text(t);
    s->data1 = index;
    return s;
}

std::string whole(Cell* s) {
    uint32_t saved = s->data1;
    s->data1 = 0;
    std::string out = utf8_of(s);
    s->data1 = saved;
    return out;
}

Cell* int_block(std::initializer_list<int32_t> values) {
    Cell* blk = stack::push_cell();
    block::make_at(blk, static_cast<int32_t>(values.size()));
    for (int32_t v : values) {
        Cell c;
        make_integer(&c, v);
        block::ms_append(blk, &c);
    }
    return blk;
}

std::vector<int32_t> ints_of(const Cell* blk) {
    std::vector<int32_t> out;
    memory::SeriesBuffer* b = memory::buffer_of(blk);
    for (Cell* c = b->cells(); c < b->cells_tail(); c++) out.push_back(get_integer(c));
    return out;
}

class SeriesTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { boot_strings(); }
};

// ---------------------------------------------------------------------------
// Navigation
// ---------------------------------------------------------------------------

TEST_F(SeriesTest, AtAndSkipClampToHeadAndTail) {
    struct Row {
        uint32_t index;
        bool at;
        int32_t offset;
        uint32_t result;
    } rows[] = {
        {0, true, 0, 0},          {0, true, 1, 0},   {0, true, 2, 1},  {0, true, 10, 3},
        {2, true, -1, 1},         {2, true, -5, 0},  {0, false, 2, 2}, {0, false, -1, 0},
        {1, false, 10, 3},        {3, false, -1, 2}, {2, false, 0, 2}, {0, true, INT32_MIN, 0},
        {3, false, INT32_MAX, 3},
    };
    for (const Row& r : rows) {
        Cell* s = at_index("abc", r.index);
        Cell* result = in_place(r.at ? &series::at : &series::skip, s, int_cell(r.offset));
        EXPECT_EQ(result->data1, r.result)
            << (r.at ? "at " : "skip ") << r.index << " " << r.offset;
    }
    EXPECT_MOX_ERROR(err::invalid_arg, in_place(&series::at, text("abc"), char_cell('a')));
}

TEST_F(SeriesTest, NextBackHeadTail) {
    EXPECT_EQ(in_place(&series::next, at_index("abc", 3))->data1, 3u);
    EXPECT_EQ(in_place(&series::next, at_index("abc", 1))->data1, 2u);
    EXPECT_EQ(in_place(&series::back, at_index("abc", 0))->data1, 0u);
    EXPECT_EQ(in_place(&series::back, at_index("abc", 2))->data1, 1u);
    EXPECT_EQ(in_place(&series::tail, at_index("abc", 1))->data1, 3u);
    EXPECT_EQ(in_place(&series::head, at_index("abc", 2))->data1, 0u);
    EXPECT_EQ(get_integer(in_place(&series::index_q, at_index("abc", 3))), 4);
    EXPECT_EQ(in_place(&series::head_q, at_index("abc", 0))->data1, 1u);
    EXPECT_EQ(in_place(&series::tail_q, at_index("abc", 2))->data1, 0u);
    EXPECT_EQ(in_place(&series::tail_q, at_index("abc", 3))->data1, 1u);
}

// A value whose index lies past a buffer shortened through another value.
TEST_F(SeriesTest, IndexPastAShortenedBuffer) {
    Cell* s = at_index("abcdef", 5);
    Cell* other = stack::push(s);
    other->data1 = 0;
    string::remove_chars(other, 1, 4);
    EXPECT_TRUE(series::ms_tail_q(s));
    EXPECT_EQ(in_place(&series::tail_q, s)->data1, 1u);
    EXPECT_EQ(type_of(series::pick(s, 1, nullptr)), uint32_t{TYPE_NONE});
    EXPECT_EQ(get_integer(in_place(&series::index_q, s)), 6);
    EXPECT_EQ(series::length_q(s), 0);
    EXPECT_EQ(s->data1, 2u);
    Cell* t = at_index("ab", 2);
    string::ms_truncate(t, 0);
    EXPECT_MOX_OK(series::clear(t));
    EXPECT_MOX_OK(series::reverse(t, nullptr, nullptr));
    EXPECT_MOX_OK(series::remove(t, nullptr, nullptr));
    EXPECT_EQ(type_of(series::take(t, nullptr, false, false)), uint32_t{TYPE_NONE});
}

// ---------------------------------------------------------------------------
// pick and poke
// ---------------------------------------------------------------------------

TEST_F(SeriesTest, PickOutsideIsNone) {
    struct Row {
        uint32_t index;
        int32_t n;
        uint32_t cp; // 0: none
    } rows[] = {{0, 0, 0},  {0, 1, 'a'}, {0, 3, 'c'},  {0, 4, 0}, {1, -1, 'a'},
                {1, -2, 0}, {1, 1, 'b'}, {3, -3, 'a'}, {3, 1, 0}, {0, INT32_MIN, 0}};
    for (const Row& r : rows) {
        Cell* v = series::pick(at_index("abc", r.index), r.n, nullptr);
        if (r.cp == 0) {
            EXPECT_EQ(type_of(v), uint32_t{TYPE_NONE}) << r.index << " " << r.n;
        } else {
            EXPECT_EQ(type_of(v), uint32_t{TYPE_CHAR});
            EXPECT_EQ(v->data2, r.cp) << r.index << " " << r.n;
        }
    }
}

TEST_F(SeriesTest, PokeBoundsAndWidening) {
    for (int32_t n : {0, 4, -1, INT32_MAX})
        EXPECT_MOX_ERROR(err::out_of_range, series::poke(text("abc"), n, char_cell('x'), nullptr));
    EXPECT_MOX_ERROR(err::invalid_arg, series::poke(text("abc"), 1, int_cell(65), nullptr));
    Cell* s = text("abc");
    series::poke(s, 2, char_cell(233), nullptr);
    EXPECT_EQ(unit_of(s), 1u);
    series::poke(s, 3, char_cell(0x3042), nullptr);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(utf8_of(s), "aéあ");
    Cell* b = at_index("abc", 2);
    series::poke(b, -1, char_cell('Z'), nullptr);
    EXPECT_EQ(whole(b), "aZc");
}

// The old value leaves the hash index before the new one is put in.
TEST_F(SeriesTest, PokeKeepsAHashIndexCurrent) {
    Cell* h = int_block({1, 2, 3});
    h->data3 = hashtable::init(3, h->data2, hashtable::KIND_HASH);
    set_type(h, TYPE_HASH);
    series::poke(h, 2, int_cell(9), nullptr);
    Cell two, nine;
    make_integer(&two, 2);
    make_integer(&nine, 9);
    EXPECT_EQ(hashtable::find(h->data3, &two, 0, 1, COMP_EQUAL, false, false), nullptr);
    Cell* hit = hashtable::find(h->data3, &nine, 0, 1, COMP_EQUAL, false, false);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit - memory::buffer_of(h)->cells(), 1);
    series::poke(h, 1, int_cell(9), nullptr);
    EXPECT_EQ(hashtable::find(h->data3, &nine, 0, 1, COMP_EQUAL, false, false) -
                  memory::buffer_of(h)->cells(),
              0);
    EXPECT_EQ(hashtable::find(h->data3, &nine, 1, 1, COMP_EQUAL, false, false) -
                  memory::buffer_of(h)->cells(),
              1);
    // Two distinct values now: the two 9s share one chained bucket.
    EXPECT_EQ(hashtable::record_of(h->data3)->count, 2);
}

// ---------------------------------------------------------------------------
// copy
// ---------------------------------------------------------------------------

TEST_F(SeriesTest, CopyPart) {
    struct Row {
        uint32_t index;
        int32_t part; // INT32_MIN: no /part
        const char* result;
    } rows[] = {
        {0, INT32_MIN, "abcdef"},
        {2, INT32_MIN, "cdef"},
        {0, 2, "ab"},
        {3, -2, "bc"},
        {4, 10, "ef"},
        {1, -5, "a"},
        {6, 3, ""},
        {0, 0, ""},
        {2, INT32_MIN + 1, "ab"},
    };
    for (const Row& r : rows) {
        Cell* s = at_index("abcdef", r.index);
        Cell* dest = stack::push_cell();
        series::copy(s, dest, r.part == INT32_MIN ? nullptr : int_cell(r.part), false, nullptr);
        EXPECT_EQ(utf8_of(dest), r.result) << r.index << " " << r.part;
        EXPECT_EQ(dest->data1, 0u);
    }
    Cell* s = at_index("abcdef", 1);
    Cell* end = stack::push(s);
    end->data1 = 4;
    Cell* dest = stack::push_cell();
    series::copy(s, dest, end, false, nullptr);
    EXPECT_EQ(utf8_of(dest), "bcd");
    EXPECT_NE(dest->data2, s->data2);
    EXPECT_MOX_ERROR(err::invalid_refine_arg,
                     series::copy(s, stack::push_cell(), text("xy"), false, nullptr));
    Cell* wide = text("a€");
    Cell* wcopy = stack::push_cell();
    series::copy(wide, wcopy, nullptr, false, nullptr);
    EXPECT_EQ(unit_of(wcopy), 2u);
    EXPECT_EQ(utf8_of(wcopy), "a€");
}

// ---------------------------------------------------------------------------
// reverse, take, remove, clear
// ---------------------------------------------------------------------------

TEST_F(SeriesTest, Reverse) {
    struct Row {
        const char* in;
        uint32_t index;
        int32_t part, skip; // 0: not given
        const char* out;
    } rows[] = {
        {"abcdef", 0, 0, 0, "fedcba"}, {"abcdef", 0, 0, 2, "efcdab"},
        {"abcdef", 0, 3, 0, "cbadef"}, {"abcdef", 2, 0, 0, "abfedc"},
        {"abcdef", 0, 6, 6, "abcdef"}, {"abcdef", 0, 9, 3, "defabc"},
        {"a€b", 0, 0, 0, "b€a"},       {"", 0, 0, 0, ""},
    };
    for (const Row& r : rows) {
        Cell* s = at_index(r.in, r.index);
        series::reverse(s, r.part ? int_cell(r.part) : nullptr,
                        r.skip ? int_cell(r.skip) : nullptr);
        EXPECT_EQ(whole(s), r.out) << r.in << " " << r.part << " " << r.skip;
    }
    EXPECT_MOX_ERROR(err::invalid_refine_arg, series::reverse(text("abcde"), nullptr, int_cell(2)));
    EXPECT_MOX_ERROR(err::out_of_range, series::reverse(text("abcd"), nullptr, int_cell(0)));
    EXPECT_MOX_ERROR(err::invalid_refine_arg, series::reverse(text("ab"), nullptr, text("x")));
    Cell* blk = int_block({1, 2, 3, 4});
    series::reverse(blk, nullptr, int_cell(2));
    EXPECT_EQ(ints_of(blk), (std::vector<int32_t>{3, 4, 1, 2}));
}

TEST_F(SeriesTest, TakePart) {
    struct Row {
        const char* in;
        uint32_t index;
        int32_t part; // INT32_MIN: no /part
        bool last;
        const char* taken; // nullptr: none
        const char* left;
    } rows[] = {
        {"abcdef", 0, 2, false, "ab", "cdef"},  {"abcdef", 0, 0, false, "", "abcdef"},
        {"abcdef", 3, -2, false, "bc", "adef"}, {"abcdef", 2, -5, false, "ab", "cdef"},
        {"abc", 3, -2, false, "bc", "a"},       {"abcdef", 0, 2, true, "ef", "abcd"},
        {"abcdef", 4, 10, false, "ef", "abcd"}, {"abcdef", 4, 10, true, "ef", "abcd"},
        {"abcdef", 0, -1, true, "", "abcdef"},  {"abc", 3, 2, false, nullptr, "abc"},
        {"", 0, INT32_MIN, false, nullptr, ""}, {"abc", 0, INT32_MIN, true, "c", "ab"},
    };
    for (const Row& r : rows) {
        Cell* s = at_index(r.in, r.index);
        Cell* got =
            series::take(s, r.part == INT32_MIN ? nullptr : int_cell(r.part), false, r.last);
        if (!r.taken) {
            EXPECT_EQ(type_of(got), uint32_t{TYPE_NONE}) << r.in << " " << r.part;
        } else {
            EXPECT_EQ(type_of(got), uint32_t{TYPE_STRING});
            EXPECT_EQ(utf8_of(got), r.taken) << r.in << " " << r.index << " " << r.part;
        }
        EXPECT_EQ(whole(s), r.left) << r.in << " " << r.index << " " << r.part;
    }
    Cell* s = at_index("abcdef", 1);
    Cell* to = stack::push(s);
    to->data1 = 4;
    EXPECT_EQ(utf8_of(series::take(s, to, false, false)), "bcd");
    EXPECT_EQ(whole(s), "aef");
    Cell* back = stack::push(s);
    back->data1 = 0;
    EXPECT_EQ(utf8_of(series::take(s, back, false, false)), "");
    EXPECT_EQ(whole(s), "aef");
}

TEST_F(SeriesTest, RemoveAndClear) {
    Cell* s = text("abcdef");
    series::remove(s, nullptr, nullptr);
    EXPECT_EQ(whole(s), "bcdef");
    series::remove(s, int_cell(2), nullptr);
    EXPECT_EQ(whole(s), "def");
    series::remove(s, int_cell(0), nullptr);
    series::remove(s, int_cell(-3), nullptr);
    EXPECT_EQ(whole(s), "def");
    series::remove(s, int_cell(50), nullptr);
    EXPECT_EQ(whole(s), "");

    Cell* r = text("a1b2c3");
    EXPECT_EQ(type_of(series::remove(r, nullptr, char_cell('z'))), uint32_t{TYPE_NONE});
    Cell* at = series::remove(r, nullptr, char_cell('B'));
    EXPECT_EQ(at->data1, 2u);
    EXPECT_EQ(whole(r), "a1c3");

    // /key removes the key and part values after it, up to the largest part.
    const struct {
        int32_t part;
        const char* left;
    } keyed[] = {{1, "a1c3"}, {2, "a13"}, {INT32_MAX - 1, "a1"}, {INT32_MAX, "a1"}};
    for (const auto& k : keyed) {
        Cell* saved = stack::top;
        Cell* t = text("a1b2c3");
        EXPECT_MOX_OK(series::remove(t, int_cell(k.part), char_cell('b')));
        EXPECT_EQ(whole(t), k.left) << "part " << k.part;
        stack::top = saved;
    }

    Cell* c = at_index("abcdef", 2);
    series::clear(c);
    EXPECT_EQ(whole(c), "ab");
    EXPECT_EQ(c->data1, 2u);
}

// ---------------------------------------------------------------------------
// move
// ---------------------------------------------------------------------------

TEST_F(SeriesTest, MoveWithinOneSeries) {
    struct Row {
        const char* in;
        uint32_t from, to;
        int32_t part; // 0: one unit
        const char* out;
    } rows[] = {
        {"abcde", 0, 2, 0, "bcade"},   {"abcde", 0, 4, 2, "abcde"}, {"abcde", 0, 3, 2, "cdeab"},
        {"abcde", 0, 5, 2, "cdeab"},   {"abcde", 3, 0, 0, "dabce"}, {"abcde", 3, 1, 2, "adebc"},
        {"abcdef", 0, 1, 3, "dabcef"}, {"abcde", 2, 2, 0, "abcde"}, {"abcde", 1, 9, 0, "acdeb"},
    };
    for (const Row& r : rows) {
        Cell* origin = at_index(r.in, r.from);
        Cell* target = stack::push(origin);
        target->data1 = r.to;
        series::move(origin, target, r.part ? int_cell(r.part) : nullptr);
        EXPECT_EQ(whole(origin), r.out) << r.in << " " << r.from << "->" << r.to << " " << r.part;
    }
    Cell* blk = int_block({1, 2, 3, 4, 5});
    Cell* target = stack::push(blk);
    target->data1 = 2;
    series::move(blk, target, nullptr);
    EXPECT_EQ(ints_of(blk), (std::vector<int32_t>{2, 3, 1, 4, 5}));
    target->data1 = 4;
    Cell* result = series::move(blk, target, int_cell(2));
    EXPECT_EQ(result, blk);
    EXPECT_EQ(ints_of(blk), (std::vector<int32_t>{2, 3, 1, 4, 5}));
}

TEST_F(SeriesTest, MoveBetweenSeries) {
    Cell* origin = text("abc");
    Cell* target = at_index("xyz", 1);
    series::move(origin, target, int_cell(2));
    EXPECT_EQ(whole(origin), "c");
    EXPECT_EQ(whole(target), "xabyz");

    Cell* euro = text("€b");
    Cell* narrow = text("xy");
    series::move(euro, narrow, nullptr);
    EXPECT_EQ(unit_of(narrow), 2u);
    EXPECT_EQ(whole(narrow), "€xy");
    EXPECT_EQ(whole(euro), "b");

    Cell* wide = text("a€");
    Cell* back = at_index("mn", 2);
    series::move(wide, back, nullptr);
    EXPECT_EQ(whole(back), "mna");
    EXPECT_EQ(whole(wide), "€");

    Cell* blk = int_block({1, 2});
    Cell* other = int_block({7});
    series::move(blk, other, nullptr);
    EXPECT_EQ(ints_of(other), (std::vector<int32_t>{1, 7}));
    EXPECT_EQ(ints_of(blk), (std::vector<int32_t>{2}));

    EXPECT_MOX_ERROR(err::move_bad, series::move(text("ab"), int_block({1}), nullptr));
    EXPECT_MOX_ERROR(err::move_bad, series::move(int_block({1}), text("ab"), nullptr));
    EXPECT_MOX_ERROR(err::expect_arg, series::move(text("ab"), int_cell(1), nullptr));
    Cell* empty = at_index("ab", 2);
    Cell* dest = text("xy");
    EXPECT_EQ(series::move(empty, dest, nullptr), dest);
    EXPECT_EQ(whole(dest), "xy");
}

// ---------------------------------------------------------------------------
// random
// ---------------------------------------------------------------------------

TEST_F(SeriesTest, RandomShufflesAndSeeds) {
    auto shuffled = [](const char* seed) {
        series::random(text(seed), true, false, false);
        Cell* s = text("abcdefghijklmnop");
        series::random(s, false, false, false);
        return whole(s);
    };
    std::string one = shuffled("seed");
    EXPECT_EQ(shuffled("seed"), one);
    std::string sorted_one = one;
    std::sort(sorted_one.begin(), sorted_one.end());
    EXPECT_EQ(sorted_one, "abcdefghijklmnop");
    EXPECT_NE(shuffled("other"), one);

    Cell* from = at_index("abcdef", 4);
    series::random(from, false, true, false);
    std::string w = whole(from);
    EXPECT_EQ(w.substr(0, 4), "abcd");
    for (int i = 0; i < 20; i++) {
        Cell* v = series::random(at_index("xyz", 1), false, false, true);
        EXPECT_TRUE(v->data2 == 'y' || v->data2 == 'z');
    }
    EXPECT_EQ(type_of(series::random(at_index("xyz", 3), false, false, true)), uint32_t{TYPE_NONE});
}

// ---------------------------------------------------------------------------
// Owners
// ---------------------------------------------------------------------------

std::vector<series::Change> events;
bool empty_on_before = false;

int32_t record_owner(Cell* value, series::Change event, const Cell*, int32_t, int32_t) {
    events.push_back(event);
    bool before = static_cast<int>(event) % 2 == 0;
    if (empty_on_before && before) string::ms_truncate(value, 1);
    return 1;
}

class OwnedSeriesTest : public SeriesTest {
  protected:
    void SetUp() override {
        SeriesTest::SetUp();
        saved_ = series::ownership;
        series::ownership.check = &record_owner;
        events.clear();
        empty_on_before = false;
    }
    void TearDown() override {
        series::ownership = saved_;
        SeriesTest::TearDown();
    }
    Cell* owned(const char* t) {
        Cell* s = text(t);
        memory::set_series_flags(s->data2, memory::SERIES_OWNED);
        return s;
    }

  private:
    series::OwnershipHooks saved_{};
};

TEST_F(OwnedSeriesTest, OwnersHearBeforeAndAfter) {
    using C = series::Change;
    Cell* s = owned("abcd");
    string::insert(s, text("x"), -1, false, 1, true);
    series::remove(s, nullptr, nullptr);
    series::reverse(s, nullptr, nullptr);
    series::poke(s, 1, char_cell('q'), nullptr);
    series::take(s, nullptr, false, false);
    series::clear(s);
    EXPECT_EQ(events, (std::vector<C>{C::append, C::appended, C::remove, C::removed, C::reverse,
                                      C::reversed, C::poke, C::poked, C::take, C::taken, C::clear,
                                      C::cleared}));
    events.clear();
    series::remove(text("abc"), nullptr, nullptr);
    EXPECT_TRUE(events.empty());
}

// An owner's handler that shortens the series before the change leaves
// every action inside the buffer.
TEST_F(OwnedSeriesTest, AHandlerThatShortensTheSeriesIsSafe) {
    empty_on_before = true;
    Cell* r = owned("abcdef");
    r->data1 = 3;
    series::remove(r, int_cell(2), nullptr);
    EXPECT_EQ(whole(r), "a");
    Cell* t = owned("abcdef");
    t->data1 = 2;
    Cell* got = series::take(t, int_cell(3), false, false);
    EXPECT_EQ(utf8_of(got), "");
    Cell* v = owned("abcdef");
    series::reverse(v, nullptr, nullptr);
    EXPECT_EQ(whole(v), "a");
    Cell* p = owned("abcdef");
    EXPECT_MOX_ERROR(err::out_of_range, series::poke(p, 4, char_cell('z'), nullptr));
    Cell* m = owned("abcdef");
    Cell* target = stack::push(m);
    target->data1 = 4;
    series::move(m, target, int_cell(2));
    EXPECT_EQ(whole(m), "a");
    Cell* c = owned("abcdef");
    c->data1 = 3;
    string::change(c, text("xyz"), -1, false, 1);
    EXPECT_EQ(whole(c), "axyz");
    Cell* tr = owned("  ab  ");
    string::trim(tr, false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(tr), "");
}

} // namespace
} // namespace mox::test
