// integer!: the arithmetic core against Python's exact integers, rounding
// against the decimal module, power, conversions and their range checks,
// comparison with the float family, text and random numbers.
#include <cmath>
#include <limits>

#include "core/collector.h"
#include "scalar_fixture.h"

namespace mox {
namespace {

using test::float_cell;
using test::int_cell;

class IntegerTest : public test::ScalarTest {};

constexpr int NO_ERROR = -1;

struct IntMathCase {
    int32_t a, b;
    int32_t op;
    int kind; // 0 integer!, 1 float!, else the error code
    int32_t i;
    uint64_t f;
};

struct IntRoundCase {
    int32_t value;
    bool has_scale;
    int32_t scale;
    int mode;
    int32_t result;
    int error;
};

using test::MODE_CEILING;
using test::MODE_DOWN;
using test::MODE_EVEN;
using test::MODE_FLOOR;
using test::MODE_HALF_CEILING;
using test::MODE_HALF_DOWN;
using test::MODE_NONE;

#include "integer_vectors.inc"

Action action_of(int32_t op) {
    const Action actions[] = {A_ADD,       A_SUBTRACT, A_MULTIPLY, A_DIVIDE,
                              A_REMAINDER, A_OR_T,     A_AND_T,    A_XOR_T};
    return actions[op];
}

void expect_math_result(const IntMathCase& c, int code, const Cell& result) {
    SCOPED_TRACE(testing::Message() << c.a << " op " << c.op << " " << c.b);
    if (c.kind >= 2) {
        EXPECT_EQ(code, c.kind);
        return;
    }
    ASSERT_EQ(code, NO_ERROR);
    if (c.kind == 0) {
        ASSERT_EQ(type_of(&result), TYPE_INTEGER);
        EXPECT_EQ(get_integer(&result), c.i);
    } else {
        ASSERT_EQ(type_of(&result), TYPE_FLOAT);
        EXPECT_EQ(test::double_bits(get_float(&result)), c.f);
    }
}

TEST_F(IntegerTest, ArithmeticMatchesExactIntegers) {
    for (const IntMathCase& c : kIntMath) {
        Cell result;
        int code = test::run_catching(
            [&] { result = test::apply2(action_of(c.op), int_cell(c.a), int_cell(c.b)); });
        expect_math_result(c, code, result);
    }
}

// The core itself: without a result cell, overflow and inexact division are
// not widened (char! arithmetic relies on that for division).
TEST_F(IntegerTest, CoreWithoutResultCellTruncates) {
    int32_t r = 0;
    EXPECT_MOX_OK(r = integer::do_math_op(7, 2, OP_DIV, nullptr));
    EXPECT_EQ(r, 3);
    EXPECT_MOX_OK(r = integer::do_math_op(-7, 2, OP_DIV, nullptr));
    EXPECT_EQ(r, -3);
    EXPECT_MOX_ERROR(err::zero_divide, integer::do_math_op(1, 0, OP_REM, nullptr));
    EXPECT_MOX_ERROR(err::overflow, integer::do_math_op(INT32_MIN, -1, OP_DIV, nullptr));
}

TEST_F(IntegerTest, MixedArithmeticRoutesByTheRightOperand) {
    struct Case {
        Action action;
        Cell right;
        int error;
        uint32_t type;
        double value;
    } cases[] = {
        {A_ADD, float_cell(0.5), NO_ERROR, TYPE_FLOAT, 7.5},
        {A_DIVIDE, float_cell(2.0), NO_ERROR, TYPE_FLOAT, 3.5},
        {A_DIVIDE, float_cell(0.0), NO_ERROR, TYPE_FLOAT, INFINITY},
        {A_MULTIPLY, float_cell(0.5, TYPE_PERCENT), NO_ERROR, TYPE_FLOAT, 3.5},
        {A_ADD, float_cell(1.5, TYPE_TIME), NO_ERROR, TYPE_TIME, 8.5},
        {A_ADD, test::char_cell('a'), NO_ERROR, TYPE_INTEGER, 104},
        {A_AND_T, float_cell(1.0), err::cannot_use, 0, 0},
        {A_ADD, true_value, err::invalid_type, 0, 0},
        {A_ADD, none_value, err::invalid_type, 0, 0},
        {A_DIVIDE, Cell{TYPE_PAIR, 0, 1, 2}, err::not_related, 0, 0},
        {A_SUBTRACT, Cell{TYPE_TUPLE, 0, 0, 0}, err::not_related, 0, 0},
        {A_DIVIDE, Cell{TYPE_TUPLE, 0, 0, 0}, err::not_related, 0, 0},
        {A_SUBTRACT, Cell{TYPE_DATE, 0, 0, 0}, err::not_related, 0, 0},
    };
    for (const Case& c : cases) {
        Cell result;
        int code =
            test::run_catching([&] { result = test::apply2(c.action, int_cell(7), c.right); });
        SCOPED_TRACE(testing::Message() << "action " << c.action << " right " << type_of(&c.right));
        EXPECT_EQ(code, c.error);
        if (code != NO_ERROR || c.error != NO_ERROR) continue;
        ASSERT_EQ(type_of(&result), c.type);
        if (c.type == TYPE_INTEGER)
            EXPECT_EQ(get_integer(&result), c.value);
        else
            EXPECT_EQ(get_float(&result), c.value);
    }
}

TEST_F(IntegerTest, NotRelatedNamesTheOperation) {
    Cell error = test::error_of([] {
        test::apply2(A_DIVIDE, int_cell(1), Cell{TYPE_PAIR, 0, 1, 2});
    });
    ASSERT_EQ(error::code_of(&error), err::not_related);
    EXPECT_EQ(error::field(&error, error::FIELD_ARG1)->data2, symbol::make("divide"));
    EXPECT_EQ(error::field(&error, error::FIELD_ARG2)->data1, static_cast<uint32_t>(TYPE_INTEGER));
}

TEST_F(IntegerTest, RoundMatchesDecimalModes) {
    for (const IntRoundCase& c : kIntRound) {
        Cell scale = int_cell(c.scale), result;
        int code = test::run_catching([&] {
            result = test::round_value(int_cell(c.value), c.has_scale ? &scale : nullptr, c.mode);
        });
        SCOPED_TRACE(testing::Message() << "round " << c.value << " to " << c.scale
                                        << (c.has_scale ? "" : " (none)") << " mode " << c.mode);
        if (c.error) {
            EXPECT_EQ(code, c.error);
            continue;
        }
        ASSERT_EQ(code, NO_ERROR);
        ASSERT_EQ(type_of(&result), TYPE_INTEGER);
        EXPECT_EQ(get_integer(&result), c.result);
    }
}

TEST_F(IntegerTest, RoundWithOtherScales) {
    Cell half = float_cell(0.5), zero = int_cell(0), money = Cell{TYPE_MONEY, 0, 0, 0};
    Cell r = test::round_value(int_cell(7), &half, MODE_NONE);
    EXPECT_EQ(type_of(&r), TYPE_FLOAT);
    EXPECT_EQ(get_float(&r), 7.0);
    r = test::round_value(int_cell(5), &zero, MODE_NONE);
    EXPECT_EQ(get_integer(&r), 5);
    EXPECT_MOX_ERROR(err::not_related, test::round_value(int_cell(7), &money, MODE_NONE));
}

TEST_F(IntegerTest, Power) {
    struct Case {
        int32_t base;
        Cell exponent;
        uint32_t type;
        double value;
    } cases[] = {
        {2, int_cell(10), TYPE_INTEGER, 1024},
        {2, int_cell(30), TYPE_INTEGER, 1073741824},
        {2, int_cell(31), TYPE_FLOAT, 2147483648.0},
        {-2, int_cell(31), TYPE_INTEGER, -2147483648.0},
        {-2, int_cell(32), TYPE_FLOAT, 4294967296.0},
        {3, int_cell(19), TYPE_INTEGER, 1162261467},
        {3, int_cell(20), TYPE_FLOAT, 3486784401.0},
        {46341, int_cell(2), TYPE_FLOAT, 2147488281.0},
        {46340, int_cell(2), TYPE_INTEGER, 2147395600},
        {65536, int_cell(1), TYPE_INTEGER, 65536},
        {2, int_cell(-1), TYPE_FLOAT, 0.5},
        {0, int_cell(0), TYPE_INTEGER, 1},
        {-1, int_cell(INT32_MAX), TYPE_INTEGER, -1},
        {4, float_cell(0.5), TYPE_FLOAT, 2.0},
    };
    for (const Case& c : cases) {
        Cell r;
        ASSERT_EQ(
            test::run_catching([&] { r = test::apply2(A_POWER, int_cell(c.base), c.exponent); }),
            NO_ERROR);
        SCOPED_TRACE(testing::Message() << c.base << " ** " << c.exponent.data2);
        ASSERT_EQ(type_of(&r), c.type);
        if (c.type == TYPE_INTEGER)
            EXPECT_EQ(get_integer(&r), c.value);
        else
            EXPECT_EQ(get_float(&r), c.value);
    }
    EXPECT_MOX_ERROR(err::expect_arg, test::apply2(A_POWER, int_cell(2), true_value));
}

TEST_F(IntegerTest, NegateAbsoluteAndBits) {
    Cell v = int_cell(-5);
    EXPECT_EQ(get_integer(actions::negate(&v)), 5);
    Cell min = int_cell(INT32_MIN);
    EXPECT_MOX_ERROR(err::overflow, actions::negate(&min));
    // absolute works on the running call's argument cell, which the try
    // frame of the check makes the next pushed cell.
    EXPECT_MOX_ERROR(err::overflow, stack::push(&min); integer::absolute());
    int32_t a = 0;
    EXPECT_MOX_OK(Cell m7 = int_cell(-7); stack::push(&m7); a = get_integer(integer::absolute()));
    EXPECT_EQ(a, 7);
    Cell zero = int_cell(0), c = int_cell(0x0F0F0F0F);
    EXPECT_EQ(get_integer(actions::complement(&zero)), -1);
    EXPECT_EQ(static_cast<uint32_t>(get_integer(actions::complement(&c))), 0xF0F0F0F0u);
    Cell even = int_cell(-4), odd = int_cell(INT32_MAX);
    EXPECT_TRUE(actions::even_q(&even));
    EXPECT_FALSE(actions::odd_q(&even));
    EXPECT_TRUE(actions::odd_q(&odd));
}

TEST_F(IntegerTest, FormAndMold) {
    struct Case {
        int32_t value;
        const char* text;
    } cases[] = {{0, "0"},
                 {7, "7"},
                 {-7, "-7"},
                 {1000000, "1000000"},
                 {INT32_MAX, "2147483647"},
                 {INT32_MIN, "-2147483648"}};
    for (const Case& c : cases) {
        EXPECT_EQ(test::formed(int_cell(c.value)), c.text);
        EXPECT_EQ(test::molded(int_cell(c.value), true), c.text);
    }
}

TEST_F(IntegerTest, GetIntBounds) {
    struct Case {
        Cell value;
        int error;
        int32_t result;
    } cases[] = {
        {float_cell(2147483647.0), NO_ERROR, INT32_MAX},
        {float_cell(-2147483648.0), NO_ERROR, INT32_MIN},
        {float_cell(-1.9), NO_ERROR, -1},
        {float_cell(1.9), NO_ERROR, 1},
        {float_cell(2147483648.0), err::out_of_range, 0},
        {float_cell(-2147483649.0), err::out_of_range, 0},
        {float_cell(std::nan("")), err::out_of_range, 0},
        {float_cell(INFINITY), err::out_of_range, 0},
        {float_cell(3e9, TYPE_PERCENT), err::out_of_range, 0},
        {int_cell(-12), NO_ERROR, -12},
    };
    for (const Case& c : cases) {
        int32_t r = 0;
        EXPECT_EQ(test::run_catching([&] { r = integer::get_int(&c.value); }), c.error)
            << get_float(&c.value);
        if (c.error == NO_ERROR) {
            EXPECT_EQ(r, c.result);
        }
    }
}

TEST_F(IntegerTest, MakeAndTo) {
    // The table keeps series in C++ cells, out of the collector's sight.
    collector::Hold hold;
    Cell ff = {TYPE_ISSUE, 0, symbol::make("FF"), 0xFFFFFFFF};
    Cell neg = {TYPE_ISSUE, 0, symbol::make("fffffffe"), 0xFFFFFFFF};
    Cell long_issue = {TYPE_ISSUE, 0, symbol::make("123456789"), 0xFFFFFFFF};
    Cell bad_issue = {TYPE_ISSUE, 0, symbol::make("FG"), 0xFFFFFFFF};
    Cell* text = string::push_new(4);
    string::concatenate_literal(text, "12");
    struct Case {
        bool make;
        Cell spec;
        int error;
        int32_t result;
    } cases[] = {
        {false, float_cell(1.9), NO_ERROR, 1},
        {false, float_cell(-1.9), NO_ERROR, -1},
        {false, float_cell(2147483647.0), NO_ERROR, INT32_MAX},
        {false, float_cell(3e9), err::type_limit, 0},
        {false, float_cell(-3e9), err::type_limit, 0},
        {false, float_cell(std::nan("")), err::type_limit, 0},
        {false, float_cell(-INFINITY), err::type_limit, 0},
        {false, float_cell(0.75, TYPE_PERCENT), NO_ERROR, 0},
        {false, float_cell(1.5, TYPE_TIME), NO_ERROR, 2},
        {false, float_cell(1.4, TYPE_TIME), NO_ERROR, 1},
        {false, float_cell(2147483647.0, TYPE_TIME), err::type_limit, 0},
        {false, float_cell(1e12, TYPE_TIME), err::type_limit, 0},
        {false, test::char_cell(0x3A9), NO_ERROR, 0x3A9},
        {false, test::binary_cell({0x01, 0x02}), NO_ERROR, 258},
        {false, test::binary_cell({0x01, 0x02, 0x03, 0x04, 0x05}), NO_ERROR, 0x01020304},
        {false, test::binary_cell({0xFF, 0xFF, 0xFF, 0xFE}), NO_ERROR, -2},
        {false, test::binary_cell({0x01, 0x02}, 1), NO_ERROR, 2},
        {false, test::binary_cell({}), NO_ERROR, 0},
        {false, test::binary_cell({0x01}, 3), NO_ERROR, 0},
        {false, ff, NO_ERROR, 255},
        {false, neg, NO_ERROR, -2},
        {false, long_issue, err::invalid_data, 0},
        {false, bad_issue, err::invalid_data, 0},
        {false, true_value, err::bad_to_arg, 0},
        {true, true_value, NO_ERROR, 1},
        {true, false_value, NO_ERROR, 0},
        {true, float_cell(-7.9), NO_ERROR, -7},
        {false, none_value, err::bad_to_arg, 0},
        {false, *text, NO_ERROR, 12},
        {false, Cell{TYPE_MONEY, 0, 0, 0}, NO_ERROR, 0},
    };
    for (const Case& c : cases) {
        Cell proto = test::datatype_cell(TYPE_INTEGER), spec = c.spec, result;
        int code = test::run_catching([&] {
            result = *(c.make ? actions::make(&proto, &spec) : actions::to(&proto, &spec));
        });
        SCOPED_TRACE(testing::Message() << (c.make ? "make" : "to") << " from type "
                                        << type_of(&c.spec) << " " << get_float(&c.spec));
        EXPECT_EQ(code, c.error);
        if (code != NO_ERROR || c.error != NO_ERROR) continue;
        ASSERT_EQ(type_of(&result), TYPE_INTEGER);
        EXPECT_EQ(get_integer(&result), c.result);
    }
}

TEST_F(IntegerTest, CompareWithNumbers) {
    struct Case {
        Cell right;
        int32_t op;
        int32_t result;
    } cases[] = {
        {float_cell(3.0), COMP_EQUAL, 0},
        {float_cell(3.0), COMP_STRICT_EQUAL, 1},
        {float_cell(3.0), COMP_FIND, 1},
        {float_cell(3.0000000000000004), COMP_EQUAL, 0},
        {float_cell(3.5), COMP_LESSER, -1},
        {float_cell(2.5), COMP_LESSER, 1},
        {float_cell(std::nan("")), COMP_LESSER, 1},
        {float_cell(3.0, TYPE_PERCENT), COMP_EQUAL, 0},
        {int_cell(3), COMP_STRICT_EQUAL, 0},
        {int_cell(-3), COMP_SORT, 1},
        {int_cell(4), COMP_LESSER, -1},
        {test::char_cell(3), COMP_EQUAL, 0},
        {test::char_cell(3), COMP_STRICT_EQUAL, 1},
        {none_value, COMP_EQUAL, COMPARE_NOT_COMPARABLE},
        {Cell{TYPE_MONEY, 0, 0, 0}, COMP_EQUAL, 1},
    };
    for (const Case& c : cases) {
        Cell left = int_cell(3), right = c.right;
        EXPECT_EQ(actions::compare(&left, &right, c.op), c.result)
            << "type " << type_of(&c.right) << " op " << c.op;
        EXPECT_EQ(get_integer(&left), 3);
    }
}

TEST_F(IntegerTest, Random) {
    Cell seed = int_cell(42);
    EXPECT_EQ(type_of(actions::random(&seed, true, false, false)), TYPE_UNSET);
    Cell a = int_cell(1000), b = int_cell(1000);
    int32_t first = get_integer(actions::random(&a, false, false, false));
    seed = int_cell(42);
    actions::random(&seed, true, false, false);
    EXPECT_EQ(get_integer(actions::random(&b, false, false, false)), first);

    struct Case {
        int32_t n, low, high;
    } cases[] = {{10, 1, 10}, {-5, -5, -1}, {1, 1, 1}, {INT32_MAX, 1, INT32_MAX}};
    for (bool secure : {false, true})
        for (const Case& c : cases)
            for (int i = 0; i < 100; i++) {
                Cell v = int_cell(c.n);
                int32_t r = get_integer(actions::random(&v, false, secure, false));
                ASSERT_GE(r, c.low) << c.n;
                ASSERT_LE(r, c.high) << c.n;
            }
    Cell zero = int_cell(0);
    EXPECT_EQ(get_integer(actions::random(&zero, false, false, false)), 0);
}

} // namespace
} // namespace mox
