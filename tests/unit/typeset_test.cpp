// typeset!: the bit layout, making from type blocks, the text forms, the
// bitwise combinations, find, comparison and the global typeset words.
#include "datatypes/typeset.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/datatype.h"
#include "core/value.h"
#include "datatypes/word.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

class TypesetTest : public RuntimeTest {
  protected:
    // A block of datatype! values pushed on the stack.
    static Cell* types_block(std::initializer_list<uint32_t> types) {
        Cell* blk = block::push_only_star(4);
        for (uint32_t t : types) {
            Cell dt;
            make_datatype(&dt, t);
            block::ms_append(blk, &dt);
        }
        return blk;
    }
    static Cell* typeset_of(std::initializer_list<uint32_t> types) {
        Cell* spec = types_block(types);
        Cell* out = stack::push_cell();
        return typeset::make(out, spec, TYPE_TYPESET);
    }
    static std::vector<uint8_t> bytes(const Cell* ts) {
        const auto* p = reinterpret_cast<const uint8_t*>(&ts->data1);
        return std::vector<uint8_t>(p, p + 12);
    }
    // Runs do_bitwise as a call with the two arguments; the result is pushed.
    static Cell* call_bitwise(const Cell* a, const Cell* b, int32_t op) {
        Cell* saved_args = stack::arguments;
        stack::Frame* saved_ctop = stack::ctop;
        Cell* result = stack::push_cell();
        Cell* args = stack::mark_native(nullptr);
        *stack::push_cell() = *a;
        *stack::push_cell() = *b;
        *result = *typeset::do_bitwise(op);
        stack::ctop = saved_ctop;
        stack::arguments = saved_args;
        stack::top = result + 1;
        (void)args;
        return result;
    }
    static Cell* global_value(const char* name) {
        Cell w = *word::load(name);
        return context::symbol_value(context::global, w.data2);
    }
};

TEST_F(TypesetTest, BitOfTypeTIsMostSignificantFirstInByteTDiv8) {
    Cell* ts = typeset_of({TYPE_BLOCK, TYPE_INTEGER, TYPE_ERROR});
    std::vector<uint8_t> expected(12, 0);
    for (uint32_t t : {5u, 11u, 34u}) expected[t / 8] |= static_cast<uint8_t>(0x80 >> (t % 8));
    EXPECT_EQ(bytes(ts), expected);
    EXPECT_EQ(typeset::count(ts), 3);
    EXPECT_TRUE(typeset_has(ts, TYPE_INTEGER));
    EXPECT_FALSE(typeset_has(ts, TYPE_FLOAT));
}

TEST_F(TypesetTest, MoldAndFormListTypesInIdOrder) {
    struct Case {
        std::initializer_list<uint32_t> types;
        bool only;
        std::string text;
    } cases[] = {
        {{}, false, "make typeset! []"},
        {{}, true, ""},
        {{TYPE_INTEGER}, false, "make typeset! [integer!]"},
        {{TYPE_INTEGER, TYPE_BLOCK, TYPE_NONE}, false, "make typeset! [none! block! integer!]"},
        {{TYPE_INTEGER, TYPE_BLOCK}, true, "block! integer!"},
    };
    for (const Case& c : cases) {
        Cell* ts = typeset_of(c.types);
        EXPECT_EQ(molded(ts, c.only), c.text);
        if (!c.only) {
            EXPECT_EQ(formed(ts), c.text);
        }
    }
}

TEST_F(TypesetTest, MoldStopsWhenThePartLimitRunsOut) {
    Cell* ts = typeset_of({TYPE_INTEGER, TYPE_BLOCK, TYPE_STRING});
    Cell* buffer = string::push_new(16);
    Cell part;
    make_integer(&part, 20);
    int32_t left = typeset::mold(ts, buffer, false, false, false, &part, 20, 0);
    EXPECT_EQ(utf8_of(buffer), "make typeset! [block!");
    EXPECT_LT(left, 1);
}

TEST_F(TypesetTest, BitwiseCombinations) {
    struct Case {
        int32_t op;
        std::string text;
    } cases[] = {
        {5, "make typeset! [block! string! integer!]"}, // union
        {9, "make typeset! [block! string! integer!]"},
        {6, "make typeset! [string!]"}, // intersection
        {10, "make typeset! [string!]"},
        {7, "make typeset! [block! integer!]"}, // symmetric difference
        {12, "make typeset! [block! integer!]"},
        {11, "make typeset! [block!]"}, // first minus second
        {8, "make typeset! [block! string!]"},
    };
    for (const Case& c : cases) {
        Cell a = *typeset_of({TYPE_BLOCK, TYPE_STRING});
        Cell b = *typeset_of({TYPE_STRING, TYPE_INTEGER});
        EXPECT_EQ(molded(call_bitwise(&a, &b, c.op)), c.text) << c.op;
    }
}

TEST_F(TypesetTest, BitwiseTakesADatatypeAndRefusesOtherValues) {
    Cell a = *typeset_of({TYPE_BLOCK});
    Cell b;
    make_datatype(&b, TYPE_FLOAT);
    EXPECT_EQ(molded(call_bitwise(&a, &b, OP_OR)), "make typeset! [block! float!]");
    make_integer(&b, 3);
    Raised r = raised_by([&] { call_bitwise(&a, &b, OP_AND); });
    ASSERT_EQ(r.code, err::invalid_arg);
    EXPECT_EQ(molded(error::field(r.error, error::FIELD_ARG1)), "3");
}

TEST_F(TypesetTest, ComplementTwiceRestoresEveryBit) {
    Cell* ts = typeset_of({TYPE_INTEGER});
    ts->data3 |= 0x01000000; // a bit beyond the registered types
    Cell before = *ts;
    typeset::complement(ts);
    EXPECT_FALSE(typeset_has(ts, TYPE_INTEGER));
    EXPECT_TRUE(typeset_has(ts, TYPE_FLOAT));
    EXPECT_TRUE(typeset_has(ts, 0));
    typeset::complement(ts);
    EXPECT_EQ(bytes(ts), bytes(&before));
}

TEST_F(TypesetTest, DefaultTypesetHoldsEverythingButUnset) {
    Cell* blk = block::push_only_star(1);
    typeset::make_default_in(blk->data2);
    Cell ts = *block::ms_abs_at(blk, 0);
    for (uint32_t t = 1; t < 96; t++) EXPECT_EQ(typeset_has(&ts, t), t != TYPE_UNSET) << t;
}

TEST_F(TypesetTest, FindAnswersLogicAndNeedsADatatype) {
    Cell* ts = typeset_of({TYPE_INTEGER});
    Cell dt;
    make_datatype(&dt, TYPE_INTEGER);
    Cell* found = typeset::find(ts, &dt, nullptr, false, false, false, false, nullptr, nullptr,
                                false, false, false, false);
    EXPECT_EQ(molded(found), "true");
    make_datatype(&dt, TYPE_FLOAT);
    found = typeset::find(ts, &dt, nullptr, false, false, false, false, nullptr, nullptr, false,
                          false, false, false);
    EXPECT_EQ(molded(found), "false");
    Cell i;
    make_integer(&i, 1);
    EXPECT_MOX_ERROR(err::invalid_arg, typeset::find(ts, &i, nullptr, false, false, false, false,
                                                     nullptr, nullptr, false, false, false, false));
}

TEST_F(TypesetTest, CompareByMembersAndOrderByCountOnlyForSorting) {
    Cell* a = typeset_of({TYPE_INTEGER, TYPE_BLOCK});
    Cell* b = typeset_of({TYPE_BLOCK, TYPE_INTEGER});
    Cell* c = typeset_of({TYPE_BLOCK});
    EXPECT_EQ(typeset::compare(a, b, COMP_EQUAL), 0);
    EXPECT_EQ(typeset::compare(a, b, COMP_SAME), 0);
    EXPECT_NE(typeset::compare(a, c, COMP_EQUAL), 0);
    EXPECT_EQ(typeset::compare(a, c, COMP_LESSER), COMPARE_NOT_COMPARABLE);
    EXPECT_EQ(typeset::compare(a, c, COMP_SORT), 1);
    EXPECT_EQ(typeset::compare(c, a, COMP_CASE_SORT), -1);
    Cell i;
    make_integer(&i, 1);
    EXPECT_EQ(typeset::compare(a, &i, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

// The collector, ownership and copies go by the core's table of series
// kinds; the language's typesets must name the same types.
TEST_F(TypesetTest, CoreSeriesKindsAgreeWithTheTypesets) {
    Cell* series = global_value("series!");
    Cell* any_block = global_value("any-block!");
    Cell* any_string = global_value("any-string!");
    for (uint32_t t = 0; t <= HEADER_TYPE_MASK + 1; t++) {
        const bool in_series = t < 96 && typeset_has(series, t);
        const bool in_block = t < 96 && typeset_has(any_block, t);
        const bool in_string = t < 96 && typeset_has(any_string, t);
        const SeriesKind expected = in_block    ? SeriesKind::cells
                                    : in_string ? SeriesKind::text
                                    : in_series ? SeriesKind::bytes
                                                : SeriesKind::none;
        EXPECT_EQ(series_kind(t), expected) << t;
        EXPECT_EQ(is_series(t), in_series) << t;
        EXPECT_EQ(is_any_block(t), in_block) << t;
        EXPECT_EQ(is_any_string(t), in_string) << t;
    }
}

TEST_F(TypesetTest, MakeAndTo) {
    Cell* ts = typeset_of({TYPE_CHAR});
    Cell* out = stack::push_cell();
    EXPECT_EQ(molded(typeset::make(out, ts, TYPE_TYPESET)), "make typeset! [char!]");
    Cell* spec = types_block({TYPE_FLOAT});
    Cell nested = *typeset_of({TYPE_CHAR, TYPE_STRING});
    block::ms_append(spec, &nested);
    EXPECT_EQ(molded(typeset::make(out, spec, TYPE_TYPESET)),
              "make typeset! [string! char! float!]");
    Cell i;
    make_integer(&i, 3);
    block::ms_append(spec, &i);
    EXPECT_MOX_ERROR(err::invalid_arg, typeset::make(out, spec, TYPE_TYPESET));
    EXPECT_MOX_ERROR(err::bad_to_arg, typeset::make(out, &i, TYPE_TYPESET));
}

TEST_F(TypesetTest, SpecBlocksTakeWordsOfTypesAndSkipNestedBlocks) {
    Cell word_value = *word::load("integer");
    Cell holder = *word::load("typeset-test-holder");
    context::put(context::global, &holder, &word_value);
    Cell* spec = load_block("number! typeset-test-holder [string!]");
    Cell* out = stack::push_cell();
    typeset::from_spec(out, spec);
    EXPECT_EQ(molded(out), "make typeset! [integer! float! object! percent!]");
    Cell* bad = load_block("number! 12");
    Raised r = raised_by([&] { typeset::from_spec(out, bad); });
    ASSERT_EQ(r.code, err::invalid_type_spec);
    EXPECT_EQ(molded(error::field(r.error, error::FIELD_ARG1)), "12");
}

TEST_F(TypesetTest, GlobalTypesetWords) {
    const std::vector<uint32_t> any_word = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD};
    const std::vector<uint32_t> any_block = {TYPE_BLOCK,    TYPE_PAREN,    TYPE_HASH,    TYPE_PATH,
                                             TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH};
    const std::vector<uint32_t> any_string = {TYPE_STRING, TYPE_FILE,  TYPE_URL,
                                              TYPE_TAG,    TYPE_EMAIL, TYPE_REF};
    std::vector<uint32_t> series = {TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR};
    series.insert(series.end(), any_block.begin(), any_block.end());
    series.insert(series.end(), any_string.begin(), any_string.end());
    std::vector<uint32_t> all_word = any_word;
    all_word.push_back(TYPE_REFINEMENT);
    all_word.push_back(TYPE_ISSUE);
    struct Case {
        const char* name;
        std::vector<uint32_t> types;
    } cases[] = {
        {"number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}},
        {"any-word!", any_word},
        {"all-word!", all_word},
        {"any-block!", any_block},
        {"any-string!", any_string},
        {"any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}},
        {"any-function!", {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE}},
        {"series!", series},
        {"internal!", {TYPE_UNSET}},
    };
    for (const Case& c : cases) {
        Cell* v = global_value(c.name);
        ASSERT_NE(v, nullptr) << c.name;
        ASSERT_EQ(type_of(v), TYPE_TYPESET) << c.name;
        for (uint32_t t = 0; t < 96; t++) {
            bool member = std::find(c.types.begin(), c.types.end(), t) != c.types.end();
            EXPECT_EQ(typeset_has(v, t), member) << c.name << " " << t;
        }
    }
    Cell* any = global_value("any-type!");
    Cell* def = global_value("default!");
    Cell* immediate = global_value("immediate!");
    EXPECT_TRUE(typeset_has(immediate, TYPE_DATE));
    EXPECT_TRUE(typeset_has(immediate, TYPE_ISSUE));
    EXPECT_FALSE(typeset_has(immediate, TYPE_BLOCK));
    EXPECT_FALSE(typeset_has(def, TYPE_UNSET));
    for (uint32_t t = 1; t < TYPE_TOTAL; t++) {
        bool abstract =
            t == TYPE_SYMBOL || t == TYPE_CONTEXT || t == TYPE_TRIPLE || t == TYPE_SERIES;
        EXPECT_EQ(typeset_has(any, t), !abstract) << t;
    }
}

} // namespace
} // namespace mox::test
