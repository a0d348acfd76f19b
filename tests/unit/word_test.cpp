// The word datatypes: registration slots, make/to, form and mold of every
// kind with their part limits, comparison under every operator, index?, the
// name a word hands out, the value helpers and the start-up makers.
#include "datatypes/word.h"

#include <string>

#include "program/startup.h"
#include "word_fixture.h"

namespace mox {
namespace {

using test::integer_cell;
using test::word_cell;

class WordTest : public test::WordsTest {
  protected:
    // Molds (or forms) a value into a new string; returns the text and
    // stores the remaining limit.
    static std::string mold(Cell value, bool form = false, Cell* part = nullptr, int32_t limit = 0,
                            int32_t* left = nullptr) {
        Cell* buffer = string::push_new(16);
        Cell* v = stack::push(&value);
        int32_t rest = form ? datatype::get<A_FORM>(type_of(v))(v, buffer, part, limit)
                            : datatype::get<A_MOLD>(type_of(v))(v, buffer, false, false, false,
                                                                part, limit, 0);
        if (left) *left = rest;
        return test::utf8_of(buffer);
    }
    static Cell make(uint32_t type, Cell spec) {
        Cell* proto = stack::push_cell();
        make_datatype(proto, type);
        Cell* s = stack::push(&spec);
        return *datatype::get<A_MAKE>(type)(proto, s, static_cast<int32_t>(type));
    }
};

TEST_F(WordTest, RegistrationSlots) {
    for (uint32_t t : {TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT}) {
        for (uint32_t a : {A_MAKE, A_TO, A_FORM, A_COMPARE})
            EXPECT_EQ(datatype::slot_of(t, a), datatype::slot_of(TYPE_WORD, a)) << t << " " << a;
        EXPECT_NE(datatype::slot_of(t, A_MOLD), datatype::slot_of(TYPE_WORD, A_MOLD)) << t;
        EXPECT_EQ(datatype::slot_of(t, A_INDEX_Q) != nullptr, t != TYPE_REFINEMENT) << t;
        EXPECT_EQ(datatype::slot_of(t, A_APPEND), nullptr);
    }
    EXPECT_EQ(datatype::slot_of(TYPE_ISSUE, A_FORM), datatype::slot_of(TYPE_WORD, A_FORM));
    EXPECT_NE(datatype::slot_of(TYPE_ISSUE, A_MAKE), datatype::slot_of(TYPE_WORD, A_MAKE));
    EXPECT_EQ(datatype::slot_of(TYPE_ISSUE, A_INDEX_Q), nullptr);
    for (uint32_t a = 1; a <= ACTION_COUNT; a++)
        EXPECT_EQ(datatype::slot_of(TYPE_CONTEXT, a), nullptr);
    EXPECT_STREQ(datatype::name_table[TYPE_GET_WORD].name, "get-word!");
}

TEST_F(WordTest, MoldAndFormEachKind) {
    struct Case {
        uint32_t type;
        const char* text;
    };
    const Case cases[] = {
        {TYPE_WORD, "abc"},      {TYPE_SET_WORD, "abc:"},   {TYPE_LIT_WORD, "'abc"},
        {TYPE_GET_WORD, ":abc"}, {TYPE_REFINEMENT, "/abc"}, {TYPE_ISSUE, "#abc"},
    };
    for (const Case& c : cases) {
        int32_t left = 0;
        EXPECT_EQ(mold(word_cell("abc", c.type), false, nullptr, 100, &left), c.text);
        EXPECT_EQ(left, 100 - static_cast<int32_t>(std::string(c.text).size())) << c.text;
        EXPECT_EQ(mold(word_cell("abc", c.type), true), "abc");
    }
    // Non-ASCII names count characters, not bytes.
    int32_t left = 0;
    EXPECT_EQ(mold(word_cell("h\xC3\xA9llo", TYPE_SET_WORD), false, nullptr, 10, &left),
              "h\xC3\xA9llo:");
    EXPECT_EQ(left, 4);
}

TEST_F(WordTest, PartLimitCutsTheName) {
    Cell part = integer_cell(3);
    int32_t left = 0;
    EXPECT_EQ(mold(word_cell("abcdef"), true, &part, 3, &left), "abc");
    EXPECT_EQ(left, -3);
    // A set-word! molded with limit n returns n - 1 - the name's length.
    mold(word_cell("abcdef", TYPE_SET_WORD), false, &part, 10, &left);
    EXPECT_EQ(left, 3);
}

TEST_F(WordTest, MakeAndTo) {
    std::string name = test::fresh_name("mk");
    Cell w = *word::load(name.c_str());
    for (uint32_t target :
         {TYPE_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_LIT_WORD, TYPE_REFINEMENT, TYPE_ISSUE}) {
        Cell r = make(target, w);
        EXPECT_EQ(type_of(&r), target);
        EXPECT_EQ(r.data2, w.data2);
        EXPECT_EQ(r.data1, w.data1);
    }
    Cell dt;
    make_datatype(&dt, TYPE_INTEGER);
    Cell r = make(TYPE_WORD, dt);
    EXPECT_EQ(r.data2, symbol::make("integer!"));
    EXPECT_EQ(r.data1, context::global);
    Cell yes;
    make_logic(&yes, true);
    r = make(TYPE_SET_WORD, yes);
    EXPECT_EQ(type_of(&r), TYPE_SET_WORD);
    EXPECT_EQ(r.data2, symbol::make("true"));
    EXPECT_EQ(r.header & ~HEADER_TYPE_MASK, 0u);

    EXPECT_MOX_ERROR(err::bad_to_arg, make(TYPE_WORD, integer_cell(1)));
    // Text is scanned and must hold exactly one word.
    r = make(TYPE_WORD, *test::push_string("abc"));
    EXPECT_EQ(r.data2, symbol::make("abc"));
    EXPECT_MOX_ERROR(err::invalid_chars, make(TYPE_WORD, *test::push_string("two words")));
}

TEST_F(WordTest, IssueFromTextIsNotScanned) {
    Cell r = make(TYPE_ISSUE, *test::push_string("12"));
    EXPECT_EQ(type_of(&r), TYPE_ISSUE);
    EXPECT_EQ(r.data2, symbol::make("12"));
    EXPECT_EQ(r.data1, context::global);
    EXPECT_EQ(static_cast<int32_t>(r.data3), -1);
    Cell* s = test::push_string("xyz two words");
    s->data1 = 4;
    r = make(TYPE_ISSUE, *s);
    EXPECT_EQ(r.data2, symbol::make("two words"));
    Cell c;
    make_char(&c, 0xE9);
    r = make(TYPE_ISSUE, c);
    EXPECT_EQ(r.data2, symbol::make("\xC3\xA9"));
    r = make(TYPE_ISSUE, word_cell("wd", TYPE_REFINEMENT));
    EXPECT_EQ(type_of(&r), TYPE_ISSUE);
    EXPECT_EQ(r.data2, symbol::make("wd"));
    EXPECT_MOX_ERROR(err::bad_to_arg, make(TYPE_ISSUE, integer_cell(3)));
}

TEST_F(WordTest, CompareUnderEveryOperator) {
    struct Case {
        Cell a, b;
        int32_t op, expected; // expected: 0 equal, 1 not equal, -2, or an order sign
    };
    Cell foo = word_cell("foo"), FOO = word_cell("FOO");
    Cell lit_foo = word_cell("foo", TYPE_LIT_WORD), lit_FOO = word_cell("FOO", TYPE_LIT_WORD);
    Cell set_foo = word_cell("foo", TYPE_SET_WORD), issue_foo = word_cell("foo", TYPE_ISSUE);
    Cell bound_foo = foo;
    bound_foo.data1 = context::global;
    const Case cases[] = {
        {lit_foo, FOO, COMP_EQUAL, 0},
        {lit_foo, FOO, COMP_STRICT_EQUAL, 1},
        {foo, FOO, COMP_NOT_EQUAL, 0},
        {set_foo, FOO, COMP_FIND, 0},
        {foo, foo, COMP_STRICT_EQUAL, 0},
        {foo, set_foo, COMP_STRICT_EQUAL, 1},
        {foo, lit_foo, COMP_STRICT_EQUAL_WORD, 0},
        {foo, lit_FOO, COMP_STRICT_EQUAL_WORD, 1},
        {foo, set_foo, COMP_STRICT_EQUAL_WORD, 1},
        {foo, lit_FOO, COMP_EQUAL_WORD, 0},
        {foo, set_foo, COMP_EQUAL_WORD, 1},
        {set_foo, word_cell("FOO", TYPE_SET_WORD), COMP_EQUAL_WORD, 0},
        {foo, foo, COMP_SAME, 0},
        {foo, bound_foo, COMP_SAME, 1},
        {foo, FOO, COMP_SAME, 1},
        {foo, issue_foo, COMP_EQUAL, -2},
        {issue_foo, foo, COMP_EQUAL, -2},
        {issue_foo, word_cell("FOO", TYPE_ISSUE), COMP_EQUAL, 0},
        {foo, integer_cell(1), COMP_EQUAL, -2},
        {word_cell("abc"), word_cell("ABD"), COMP_LESSER, -1},
        {word_cell("b"), word_cell("a"), COMP_SORT, 1},
        {word_cell("a"), word_cell("B"), COMP_CASE_SORT, 1},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        int32_t r = datatype::get<A_COMPARE>(type_of(&a))(&a, &b, c.op);
        if (c.expected == -2)
            EXPECT_EQ(r, -2) << "op " << c.op;
        else if (c.op >= COMP_LESSER && c.op <= COMP_CASE_SORT)
            EXPECT_EQ(r < 0 ? -1 : r > 0 ? 1 : 0, c.expected) << "op " << c.op;
        else
            EXPECT_EQ(r != 0, c.expected != 0)
                << "op " << c.op << " types " << type_of(&a) << "/" << type_of(&b);
    }
}

TEST_F(WordTest, IndexOf) {
    Cell* args = stack::mark_native(nullptr);
    Cell w = word_cell("idx");
    w.data3 = 0;
    stack::push(&w);
    Cell* r = word::index_q();
    EXPECT_EQ(type_of(r), TYPE_INTEGER);
    EXPECT_EQ(get_integer(r), 1);
    stack::top = args;
    Cell u = word_cell("idx");
    stack::push(&u);
    EXPECT_EQ(type_of(word::index_q()), TYPE_NONE);
    stack::unwind_drop();
}

// The name a word hands out is a string of its own: changing it changes
// neither the word's mold nor its symbol's name.
TEST_F(WordTest, PushNameGivesACopy) {
    std::string name = test::fresh_name("nm");
    Cell w = word_cell(name.c_str());
    Cell* s = word::push_name(&w);
    EXPECT_EQ(test::utf8_of(s), name);
    string::append_utf8(s, "-changed", 8);
    EXPECT_EQ(test::utf8_of(s), name + "-changed");
    EXPECT_EQ(mold(w), name);
    Cell* again = word::push_name(&w);
    EXPECT_EQ(test::utf8_of(again), name);
    Cell cached = {TYPE_STRING, 0, symbol::get(w.data2)->data2, 0};
    EXPECT_EQ(test::utf8_of(stack::push(&cached)), name);
}

TEST_F(WordTest, GetSetAndTheirErrors) {
    std::string name = test::fresh_name("gs");
    Cell* w = stack::push(word::load(name.c_str()));
    EXPECT_MOX_ERROR(err::no_value, word::get(w));
    EXPECT_MOX_ERROR(err::no_value, word::get_checked(w));
    Cell v = integer_cell(3);
    word::set(w, &v);
    EXPECT_EQ(get_integer(word::get(w)), 3);
    EXPECT_EQ(get_integer(word::get_checked(w)), 3);

    // set-from-arguments: the value becomes the result.
    Cell* args = stack::mark_native(nullptr);
    stack::push(w);
    Cell seven = integer_cell(7);
    stack::push(&seven);
    Cell* r = word::set_from_arguments();
    EXPECT_EQ(get_integer(r), 7);
    EXPECT_EQ(get_integer(word::get_value(w)), 7);
    stack::top = args;
    Cell unset;
    make_unset(&unset);
    // The try frame of the check makes its own arguments.
    EXPECT_MOX_ERROR(err::need_value, {
        stack::push(w);
        stack::push(&unset);
        word::set_from_arguments();
    });
    stack::push(&unset);
    EXPECT_MOX_ERROR(err::need_value, word::set_from_top(w));
    stack::top = args;
    Cell nine = integer_cell(9);
    stack::push(&nine);
    word::set_from_top_reset(w);
    EXPECT_EQ(stack::top, args);
    EXPECT_EQ(get_integer(word::get_value(w)), 9);
    stack::unwind_drop();
}

TEST_F(WordTest, MakeAtInAndPushSymbol) {
    uint32_t s = symbol::make(test::fresh_name("at").c_str());
    Cell w;
    word::make_at(s, &w);
    EXPECT_EQ(type_of(&w), TYPE_WORD);
    EXPECT_EQ(w.data1, context::global);
    EXPECT_EQ(type_of(word::get_value(&w)), TYPE_UNSET);
    Cell* pushed = word::push_symbol(s);
    EXPECT_EQ(pushed->data3, w.data3);
    Cell* blk = stack::push_cell();
    test::make_block(blk, {});
    Cell* in = word::make_in(blk->data2, s);
    EXPECT_EQ(in->data3, w.data3);
    EXPECT_EQ(type_of(word::push_as_get_word(&w)), TYPE_GET_WORD);
    EXPECT_EQ(type_of(word::push_as_refinement(&w)), TYPE_REFINEMENT);
    EXPECT_EQ(type_of(word::push_as_issue(&w)), TYPE_ISSUE);
}

TEST_F(WordTest, StartUpMakers) {
    size_t before = memory::buffer_of(root.data2)->used_bytes() / sizeof(Cell);
    Cell* r = refinement::make_global("part");
    EXPECT_EQ(type_of(r), TYPE_REFINEMENT);
    EXPECT_EQ(r->data1, 0u);
    EXPECT_EQ(r->data2, symbol::make("part"));
    EXPECT_EQ(memory::buffer_of(root.data2)->used_bytes() / sizeof(Cell), before + 1);

    Cell* top = stack::top;
    Cell* issue = issue::make_rooted("ooo"); // rooting is off after start-up: pushed
    EXPECT_EQ(issue, top);
    EXPECT_EQ(type_of(issue), TYPE_ISSUE);
    EXPECT_EQ(static_cast<int32_t>(issue->data3), -1);
    boot_rooting = true;
    Cell* rooted = issue::make_rooted("ooo");
    Cell* loaded = word::load("rooted-word");
    boot_rooting = false;
    EXPECT_EQ(stack::top, top + 1);
    EXPECT_EQ(memory::buffer_of(root.data2)->used_bytes() / sizeof(Cell), before + 3);
    EXPECT_EQ(rooted->data2, issue->data2);
    EXPECT_EQ(loaded, memory::buffer_of(root.data2)->cells() + before + 2);

    // The runtime's own words.
    EXPECT_EQ(words::self, symbol::make("self"));
    EXPECT_EQ(words::bar, symbol::make("|"));
    EXPECT_EQ(words::global::on_change_star.data2, symbol::make("on-change*"));
    EXPECT_EQ(words::global::anon.data2, symbol::make("<anon>"));
    EXPECT_EQ(words::global::put_ed.data1, context::global);
    EXPECT_EQ(words::refinements::extern_.data2, symbol::make("extern"));
    EXPECT_EQ(type_of(&words::ooo), TYPE_ISSUE);
    EXPECT_EQ(words::changed, symbol::make("changed"));
}

} // namespace
} // namespace mox
