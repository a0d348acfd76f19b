// unset!, none!, logic! and char!: text forms, comparison codes,
// conversions, truth tests, the logic operators and character arithmetic.
#include <cmath>
#include <limits>

#include "core/collector.h"
#include "scalar_fixture.h"

namespace mox {
namespace {

using test::char_cell;
using test::float_cell;
using test::int_cell;
using test::logic_cell;

class ScalarTest : public test::ScalarTest {};

constexpr int NO_ERROR = -1;

// ---------------------------------------------------------------------------
// unset!, none!, logic!
// ---------------------------------------------------------------------------

TEST_F(ScalarTest, UnitTypesFormAndMold) {
    struct Case {
        Cell value;
        bool mold, all;
        const char* text;
    } cases[] = {
        {unset_value, false, false, ""},       {unset_value, true, false, "unset"},
        {unset_value, true, true, "#(unset)"}, {none_value, false, false, "none"},
        {none_value, true, false, "none"},     {none_value, true, true, "#(none)"},
        {true_value, false, false, "true"},    {false_value, false, false, "false"},
        {true_value, true, false, "true"},     {true_value, true, true, "#(true)"},
        {false_value, true, true, "#(false)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(test::text_action(c.value, c.mold, c.all), c.text)
            << "type " << type_of(&c.value) << " mold " << c.mold << " all " << c.all;
}

TEST_F(ScalarTest, UnitTypesCompareOnlyForEquality) {
    // Each type's own compare: under the equality tests, the sort modes,
    // same? and find the values compare; under every other code they cannot
    // be compared.
    const bool unordered[13] = {true, true, true, false, false, false, false,
                                true, true, true, false, false, true};
    Cell values[][2] = {
        {none_value, none_value}, {unset_value, unset_value}, {true_value, true_value}};
    for (auto& pair : values)
        for (int32_t op = 0; op <= COMP_FIND; op++)
            EXPECT_EQ(datatype::get<A_COMPARE>(type_of(&pair[0]))(&pair[0], &pair[1], op),
                      unordered[op] ? 0 : COMPARE_NOT_COMPARABLE)
                << "type " << type_of(&pair[0]) << " op " << op;

    // false sorts before true; a value of another type is never comparable.
    Cell f = false_value, t = true_value, none = none_value, unset = unset_value;
    Cell zero = int_cell(0);
    for (int32_t op : {COMP_SORT, COMP_CASE_SORT, COMP_SAME, COMP_FIND})
        EXPECT_EQ(logic::compare(&f, &t, op), -1) << op;
    EXPECT_EQ(logic::compare(&t, &f, COMP_EQUAL), 1);
    EXPECT_EQ(none::compare(&none, &unset, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_EQ(unset::compare(&unset, &none, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_EQ(logic::compare(&f, &zero, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

TEST_F(ScalarTest, OrderingUnitTypesIsRefusedWhileEqualityAnswers) {
    Cell none = none_value, f = false_value, t = true_value;
    bool answer = false;
    EXPECT_MOX_OK(answer = actions::compare_star(&none, &none, COMP_EQUAL));
    EXPECT_TRUE(answer);
    EXPECT_MOX_OK(answer = actions::compare_star(&none, &f, COMP_EQUAL));
    EXPECT_FALSE(answer);
    EXPECT_MOX_OK(answer = actions::compare_star(&none, &f, COMP_NOT_EQUAL));
    EXPECT_TRUE(answer);
    EXPECT_MOX_ERROR(err::invalid_compare, actions::compare_star(&none, &none, COMP_LESSER));
    EXPECT_MOX_ERROR(err::invalid_compare, actions::compare_star(&f, &t, COMP_LESSER));
}

TEST_F(ScalarTest, LogicMakeConvertsNumbersToDoesNot) {
    Cell* empty = string::push_new(4);
    struct Case {
        bool make;
        Cell spec;
        bool expected;
    } cases[] = {
        {false, int_cell(0), true},
        {true, int_cell(0), false},
        {true, int_cell(-7), true},
        {true, float_cell(0.0), false},
        {true, float_cell(-0.0), false},
        {true, float_cell(0.0, TYPE_PERCENT), false},
        {true, float_cell(1e-300), true},
        {true, float_cell(std::nan("")), true},
        {false, none_value, false},
        {true, none_value, false},
        {false, *empty, true},
        {false, false_value, false},
        {false, true_value, true},
        {false, unset_value, true},
    };
    for (const Case& c : cases) {
        Cell proto = test::datatype_cell(TYPE_LOGIC), spec = c.spec;
        Cell* r = c.make ? actions::make(&proto, &spec) : actions::to(&proto, &spec);
        ASSERT_EQ(type_of(r), TYPE_LOGIC);
        EXPECT_EQ(r->data1 == 1, c.expected)
            << (c.make ? "make" : "to") << " from type " << type_of(&c.spec);
    }
}

TEST_F(ScalarTest, MakeUnsetAndNoneIgnoreTheSpec) {
    Cell proto = test::datatype_cell(TYPE_NONE), spec = int_cell(3);
    EXPECT_EQ(type_of(actions::make(&proto, &spec)), TYPE_NONE);
    proto = test::datatype_cell(TYPE_UNSET);
    EXPECT_EQ(type_of(actions::to(&proto, &spec)), TYPE_UNSET);
}

TEST_F(ScalarTest, NoneAnswersTheSeriesActionsWithNone) {
    Cell v = none_value, one = int_cell(1);
    Cell* s = stack::push(&v);
    EXPECT_EQ(type_of(actions::find(s, &one, nullptr, false, false, false, false, nullptr, nullptr,
                                    false, false, false, false)),
              TYPE_NONE);
    EXPECT_EQ(type_of(actions::select(s, &one, nullptr, false, false, false, false, nullptr,
                                      nullptr, false, false)),
              TYPE_NONE);
    EXPECT_EQ(type_of(actions::take(s, nullptr, false, false)), TYPE_NONE);
    EXPECT_EQ(type_of(actions::remove(s, nullptr, nullptr)), TYPE_NONE);
    EXPECT_EQ(type_of(actions::clear(s)), TYPE_NONE);
    EXPECT_EQ(actions::length_q(s), -1);
}

TEST_F(ScalarTest, LogicOperators) {
    struct Case {
        bool a, b, and_, or_, xor_;
    } cases[] = {{false, false, false, false, false},
                 {false, true, false, true, true},
                 {true, false, false, true, true},
                 {true, true, true, true, false}};
    for (const Case& c : cases) {
        Cell a = logic_cell(c.a), b = logic_cell(c.b);
        EXPECT_EQ(test::apply2(A_AND_T, a, b).data1, c.and_ ? 1u : 0u) << c.a << c.b;
        EXPECT_EQ(test::apply2(A_OR_T, a, b).data1, c.or_ ? 1u : 0u) << c.a << c.b;
        EXPECT_EQ(test::apply2(A_XOR_T, a, b).data1, c.xor_ ? 1u : 0u) << c.a << c.b;
    }
    Cell t = true_value;
    EXPECT_EQ(actions::complement(&t)->data1, 0u);
    EXPECT_EQ(actions::complement(&t)->data1, 1u);
}

TEST_F(ScalarTest, LogicOperatorWithANonLogicRaisesExpectArg) {
    Cell error = test::error_of([] { test::apply2(A_AND_T, true_value, int_cell(1), "and~"); });
    ASSERT_EQ(type_of(&error), TYPE_ERROR);
    EXPECT_EQ(error::code_of(&error), err::expect_arg);
    Cell* word = error::field(&error, error::FIELD_ARG1);
    EXPECT_EQ(word->data2, symbol::make("and~"));
    Cell* type = error::field(&error, error::FIELD_ARG2);
    EXPECT_EQ(type_of(type), TYPE_DATATYPE);
    EXPECT_EQ(type->data1, static_cast<uint32_t>(TYPE_INTEGER));
}

TEST_F(ScalarTest, Truthiness) {
    Cell odd_logic = {TYPE_LOGIC, 2, 0, 0};
    Cell* empty = string::push_new(4);
    struct Case {
        Cell value;
        bool truth;
    } cases[] = {{none_value, false},  {false_value, false}, {odd_logic, false},
                 {true_value, true},   {int_cell(0), true},  {float_cell(0.0), true},
                 {char_cell(0), true}, {*empty, true},       {unset_value, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(logic::truthy(&c.value), c.truth) << type_of(&c.value);
        EXPECT_EQ(logic::test_value(&c.value, false, nullptr), c.truth) << type_of(&c.value);
        stack::push(&c.value);
        EXPECT_EQ(logic::top_true_q(), c.truth);
        EXPECT_EQ(logic::top_false_q(), !c.truth);
        stack::pop(1);
    }
}

TEST_F(ScalarTest, StrictTruthTestsRefuseUnset) {
    Cell word = test::word_cell("cond");
    Cell unset = unset_value;
    EXPECT_MOX_ERROR(err::no_value, logic::test_value(&unset, true, &word));
    Cell error = test::error_of([&] { logic::test_value(&unset, true, &word); });
    EXPECT_EQ(error::field(&error, error::FIELD_ARG1)->data2, word.data2);

    // true? and false? test the running call's result cell; the try frame
    // of the check makes the next pushed cell that cell.
    EXPECT_MOX_ERROR(err::no_return, make_unset(stack::push_cell()); logic::true_q());
    bool answer = true;
    EXPECT_MOX_OK(make_unset(stack::push_cell()); answer = logic::false_q());
    EXPECT_FALSE(answer);
    EXPECT_MOX_OK(make_none(stack::push_cell()); answer = logic::true_q());
    EXPECT_FALSE(answer);
    EXPECT_MOX_OK(make_none(stack::push_cell()); answer = logic::false_q());
    EXPECT_TRUE(answer);
}

TEST_F(ScalarTest, LogicRandom) {
    Cell v = true_value;
    EXPECT_EQ(type_of(actions::random(&v, true, false, false)), TYPE_UNSET);
    for (bool secure : {false, true}) {
        int trues = 0;
        for (int i = 0; i < 400; i++) {
            Cell x = false_value;
            Cell* r = actions::random(&x, false, secure, false);
            ASSERT_EQ(type_of(r), TYPE_LOGIC);
            ASSERT_LE(r->data1, 1u);
            trues += r->data1;
        }
        // Even odds: 400 draws land far inside these bounds.
        EXPECT_GT(trues, 120) << secure;
        EXPECT_LT(trues, 280) << secure;
    }
}

// ---------------------------------------------------------------------------
// char!
// ---------------------------------------------------------------------------

TEST_F(ScalarTest, CharMakeAndTo) {
    // The table keeps series in C++ cells, out of the collector's sight.
    collector::Hold hold;
    Cell* empty = string::push_new(4);
    Cell* abc = string::push_new(4);
    string::concatenate_literal(abc, "abc");
    Cell abc_at_2 = *abc, abc_at_tail = *abc;
    abc_at_2.data1 = 1;
    abc_at_tail.data1 = 3;
    struct Case {
        Cell spec;
        int error;
        uint32_t cp;
    } cases[] = {
        {int_cell(65), NO_ERROR, 'A'},
        {int_cell(1114111), NO_ERROR, 0x10FFFF},
        {int_cell(0), NO_ERROR, 0},
        {int_cell(1114112), err::out_of_range, 0},
        {int_cell(-1), err::out_of_range, 0},
        {int_cell(INT32_MIN), err::out_of_range, 0},
        {char_cell('z'), NO_ERROR, 'z'},
        {float_cell(65.9), NO_ERROR, 'A'},
        {float_cell(-0.5), NO_ERROR, 0},
        {float_cell(0.5, TYPE_PERCENT), NO_ERROR, 0},
        {float_cell(1114112.0), err::out_of_range, 0},
        {float_cell(1e20), err::out_of_range, 0},
        {float_cell(-1e20), err::out_of_range, 0},
        {float_cell(std::nan("")), err::out_of_range, 0},
        {float_cell(INFINITY), err::out_of_range, 0},
        {abc_at_2, NO_ERROR, 'b'},
        {*empty, err::bad_to_arg, 0},
        {abc_at_tail, err::bad_to_arg, 0},
        {test::binary_cell({0xCE, 0xA9}), NO_ERROR, 0x3A9},
        {test::binary_cell({0xE2, 0x82, 0xAC, 0x41}), NO_ERROR, 0x20AC},
        {test::binary_cell({0x41, 0x42}, 1), NO_ERROR, 'B'},
        {test::binary_cell({0xF0, 0x9F, 0x98, 0x80}), NO_ERROR, 0x1F600},
        {test::binary_cell({}), err::bad_to_arg, 0},
        {test::binary_cell({0x41}, 1), err::bad_to_arg, 0},
        {test::binary_cell({0x41}, 5), err::bad_to_arg, 0},
        {test::binary_cell({0xCE}), err::bad_to_arg, 0},
        {test::binary_cell({0xE2, 0x82}), err::bad_to_arg, 0},
        {test::binary_cell({0xF0, 0x9F, 0x98}), err::bad_to_arg, 0},
        {test::binary_cell({0xFF, 0x41}), err::invalid_utf8, 0},
        {true_value, err::bad_to_arg, 0},
        {none_value, err::bad_to_arg, 0},
    };
    for (bool make : {true, false}) {
        for (const Case& c : cases) {
            Cell proto = test::datatype_cell(TYPE_CHAR), spec = c.spec;
            Cell result;
            int code = test::run_catching([&] {
                result = *(make ? actions::make(&proto, &spec) : actions::to(&proto, &spec));
            });
            SCOPED_TRACE(testing::Message() << "spec type " << type_of(&c.spec) << " data2 "
                                            << c.spec.data2 << " index " << c.spec.data1);
            EXPECT_EQ(code, c.error);
            if (code == NO_ERROR && c.error == NO_ERROR) {
                EXPECT_EQ(type_of(&result), TYPE_CHAR);
                EXPECT_EQ(result.data2, c.cp);
            }
        }
    }
}

TEST_F(ScalarTest, CharArithmetic) {
    struct Case {
        Action action;
        Cell left, right;
        int error;
        uint32_t cp;
    } cases[] = {
        {A_ADD, char_cell('a'), int_cell(1), NO_ERROR, 'b'},
        {A_ADD, char_cell('a'), char_cell('b'), NO_ERROR, 'a' + 'b'},
        {A_SUBTRACT, char_cell('a'), int_cell(97), NO_ERROR, 0},
        {A_SUBTRACT, char_cell('a'), int_cell(98), err::overflow, 0},
        {A_MULTIPLY, char_cell('A'), int_cell(2), NO_ERROR, 0x82},
        {A_MULTIPLY, char_cell(0x10000), int_cell(0x10000), err::overflow, 0},
        {A_MULTIPLY, char_cell(0x10000), int_cell(65536 * 16), err::overflow, 0},
        {A_DIVIDE, char_cell('d'), int_cell(2), NO_ERROR, '2'},
        {A_DIVIDE, char_cell(7), int_cell(2), NO_ERROR, 3},
        {A_DIVIDE, char_cell('a'), int_cell(0), err::zero_divide, 0},
        {A_REMAINDER, char_cell('a'), int_cell(10), NO_ERROR, 7},
        {A_REMAINDER, char_cell('a'), int_cell(0), err::zero_divide, 0},
        {A_ADD, char_cell('a'), float_cell(1.9), NO_ERROR, 'b'},
        {A_ADD, char_cell('a'), float_cell(-1.9), NO_ERROR, '`'},
        {A_ADD, char_cell('a'), float_cell(1e10), err::overflow, 0},
        {A_SUBTRACT, char_cell('a'), float_cell(-1e300), err::overflow, 0},
        {A_ADD, char_cell('a'), float_cell(std::nan("")), err::overflow, 0},
        {A_ADD, char_cell('a'), float_cell(INFINITY), err::overflow, 0},
        {A_ADD, char_cell(0x10FFFF), int_cell(1), err::overflow, 0},
        {A_ADD, char_cell(0x10FFFE), int_cell(1), NO_ERROR, 0x10FFFF},
        {A_AND_T, char_cell('a'), int_cell(0x5F), NO_ERROR, 'A'},
        {A_OR_T, char_cell('A'), int_cell(0x20), NO_ERROR, 'a'},
        {A_XOR_T, char_cell('a'), int_cell(0x20), NO_ERROR, 'A'},
        {A_ADD, char_cell('a'), float_cell(0.5, TYPE_PERCENT), err::invalid_type, 0},
        {A_ADD, char_cell('a'), true_value, err::invalid_type, 0},
    };
    for (const Case& c : cases) {
        Cell result;
        int code = test::run_catching([&] { result = test::apply2(c.action, c.left, c.right); });
        SCOPED_TRACE(testing::Message() << "action " << c.action << " left " << c.left.data2
                                        << " right type " << type_of(&c.right));
        EXPECT_EQ(code, c.error);
        if (code == NO_ERROR && c.error == NO_ERROR) {
            EXPECT_EQ(type_of(&result), TYPE_CHAR);
            EXPECT_EQ(result.data2, c.cp);
        }
    }
}

TEST_F(ScalarTest, CharText) {
    struct Case {
        uint32_t cp;
        bool all;
        const char* mold;
    } cases[] = {
        {'A', false, "#\"A\""},           {0x09, false, "#\"^-\""},
        {0x0A, false, "#\"^/\""},         {'^', false, "#\"^^\""},
        {'"', false, "#\"^\"\""},         {0x00, false, "#\"^@\""},
        {0x01, false, "#\"^A\""},         {0x1B, false, "#\"^[\""},
        {0x1C, false, "#\"^\\\""},        {0x1F, false, "#\"^_\""},
        {0x7F, false, "#\"^~\""},         {0x1E, false, "#\"^(1E)\""},
        {0x85, false, "#\"^(85)\""},      {0xE9, false, "#\"\xC3\xA9\""},
        {0xE9, true, "#\"^(E9)\""},       {0x3A9, true, "#\"^(3A9)\""},
        {0x1F600, true, "#\"^(1F600)\""}, {0x1F600, false, "#\"\xF0\x9F\x98\x80\""},
    };
    for (const Case& c : cases) EXPECT_EQ(test::molded(char_cell(c.cp), c.all), c.mold) << c.cp;
    EXPECT_EQ(test::formed(char_cell('A')), "A");
    EXPECT_EQ(test::formed(char_cell(0xE9)), "\xC3\xA9");
    EXPECT_EQ(test::formed(char_cell(0x1F600)), "\xF0\x9F\x98\x80");
}

TEST_F(ScalarTest, CharCompareByCodePoint) {
    Cell a = char_cell('a'), upper = char_cell('A'), b = char_cell('b'), n97 = int_cell(97);
    Cell* str = string::push_new(4);
    EXPECT_NE(actions::compare(&a, &upper, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare(&a, &n97, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare(&a, &n97, COMP_STRICT_EQUAL), 1);
    EXPECT_EQ(actions::compare(&a, &n97, COMP_FIND), 1);
    EXPECT_EQ(actions::compare(&a, &b, COMP_LESSER), -1);
    EXPECT_EQ(actions::compare(&b, &a, COMP_SORT), 1);
    EXPECT_EQ(actions::compare(&a, str, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_FALSE(actions::compare_star(&a, &n97, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare_star(&a, &n97, COMP_EQUAL));
}

TEST_F(ScalarTest, CharInheritsIntegerActions) {
    for (int i = 0; i < 200; i++) {
        Cell c = char_cell('z');
        Cell* r = actions::random(&c, false, false, false);
        ASSERT_EQ(type_of(r), TYPE_CHAR);
        ASSERT_GE(r->data2, 1u);
        ASSERT_LE(r->data2, static_cast<uint32_t>('z'));
    }
    Cell b = char_cell('b'), c = char_cell('c');
    EXPECT_TRUE(actions::even_q(&b));
    EXPECT_TRUE(actions::odd_q(&c));
    Cell word = test::word_cell("negate");
    stack::mark_native(&word);
    EXPECT_MOX_ERROR(err::expect_arg, actions::negate(&b));
    EXPECT_MOX_ERROR(err::expect_arg, actions::complement(&b));
    test::end_call();
}

} // namespace
} // namespace mox
