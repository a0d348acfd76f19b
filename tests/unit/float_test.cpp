// float!: text forms against Python's %g and repr, rounding against the
// decimal module, tolerant equality, the arithmetic core and mixed result
// types, conversions and the range checks of every conversion to integer.
#include <cfloat>
#include <cmath>
#include <limits>

#include "core/collector.h"
#include "core/random.h"
#include "scalar_fixture.h"

namespace mox {
namespace {

using test::bits_to_double;
using test::double_bits;
using test::float_cell;
using test::int_cell;

// Every test starts with the precision flag on and leaves it as it was.
class FloatTest : public test::ScalarTest {
  protected:
    void SetUp() override {
        test::ScalarTest::SetUp();
        saved_pretty_ = float_::pretty_print_q;
        float_::pretty_print_q = true;
    }
    void TearDown() override {
        float_::pretty_print_q = saved_pretty_;
        test::ScalarTest::TearDown();
    }

  private:
    bool saved_pretty_ = true;
};

constexpr int NO_ERROR = -1;

struct FloatRoundCase {
    uint64_t value;
    int scale_kind; // 0 none, 1 integer!, 2 float!
    uint64_t scale_bits;
    int32_t scale_int;
    int mode;
    int result_kind; // 0 float!, 1 integer!, 2 overflow
    uint64_t result_bits;
    int32_t result_int;
};

struct FormCase {
    uint64_t bits;
    int kind;
    const char* pretty;
    const char* plain;
};

struct MoldCase {
    uint64_t bits;
    const char* text;
};

using test::MODE_CEILING;
using test::MODE_DOWN;
using test::MODE_EVEN;
using test::MODE_FLOOR;
using test::MODE_HALF_CEILING;
using test::MODE_HALF_DOWN;
using test::MODE_NONE;

#include "float_vectors.inc"

std::string form_text(double d, int kind) {
    char text[float_::TEXT_SIZE];
    int length = float_::form_float(d, kind, text);
    EXPECT_EQ(length, static_cast<int>(std::strlen(text)));
    return text;
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

TEST_F(FloatTest, FormMatchesPythonFormatting) {
    for (const FormCase& c : kForm) {
        double d = bits_to_double(c.bits);
        float_::pretty_print_q = true;
        EXPECT_EQ(form_text(d, c.kind), c.pretty) << std::hexfloat << d << " kind " << c.kind;
        float_::pretty_print_q = false;
        EXPECT_EQ(form_text(d, c.kind), c.plain) << std::hexfloat << d << " kind " << c.kind;
    }
}

TEST_F(FloatTest, FormSpecialsAndKinds) {
    struct Case {
        double value;
        int kind;
        const char* text;
    } cases[] = {
        {INFINITY, float_::KIND_FLOAT, "1.#INF"},
        {-INFINITY, float_::KIND_FLOAT, "-1.#INF"},
        {std::nan(""), float_::KIND_FLOAT, "1.#NaN"},
        {-std::nan(""), float_::KIND_PERCENT, "1.#NaN"},
        {0.1, float_::KIND_FLOAT, "0.1"},
        {1.0, float_::KIND_FLOAT, "1.0"},
        {1e20, float_::KIND_FLOAT, "1.0e20"},
        {1.5e-5, float_::KIND_FLOAT, "1.5e-5"},
        {1e-300, float_::KIND_FLOAT, "0.0"},
        {1e-300, float_::KIND_PERCENT, "0%"},
        {1e-300, float_::KIND_POINT, "0"},
        {50.0, float_::KIND_PERCENT, "50%"},
        {12.5, float_::KIND_PERCENT, "12.5%"},
        {3.0, float_::KIND_POINT, "3"},
        {0.1f, float_::KIND_FLOAT32, "0.1"},
        {0.1f, float_::KIND_PERCENT32, "0.1%"},
        {1.5, float_::KIND_TIME, "1.5"},
        {59.0, float_::KIND_TIME, "59"},
        {0.1 + 0.2, float_::KIND_TIME, "0.3"},
        {12.3456789, float_::KIND_TIME, "12.3457"},
    };
    for (const Case& c : cases) EXPECT_EQ(form_text(c.value, c.kind), c.text) << c.value;
}

TEST_F(FloatTest, PrecisionFlagDropsNoiseDigits) {
    EXPECT_EQ(form_text(0.1 + 0.7, float_::KIND_FLOAT), "0.8");
    EXPECT_EQ(test::formed(float_cell(0.1 + 0.2)), "0.3");
    float_::pretty_print_q = false;
    EXPECT_EQ(form_text(0.1 + 0.7, float_::KIND_FLOAT), "0.7999999999999999");
    EXPECT_EQ(form_text(1e-300, float_::KIND_FLOAT), "1.0e-300");
}

TEST_F(FloatTest, MoldIsTheShortestRoundTrip) {
    for (const MoldCase& c : kMold) {
        double d = bits_to_double(c.bits);
        EXPECT_EQ(test::molded(float_cell(d)), c.text) << std::hexfloat << d;
    }
    EXPECT_EQ(test::molded(float_cell(0.1 + 0.2)), "0.30000000000000004");
    EXPECT_EQ(test::molded(float_cell(INFINITY)), "1.#INF");
    EXPECT_EQ(test::molded(float_cell(-0.0)), "-0.0");
}

// ---------------------------------------------------------------------------
// Equality and comparison
// ---------------------------------------------------------------------------

TEST_F(FloatTest, TolerantEquality) {
    double one = 1.0;
    double ten_up = one, eleven_up = one;
    for (int i = 0; i < 10; i++) ten_up = std::nextafter(ten_up, 2.0);
    for (int i = 0; i < 11; i++) eleven_up = std::nextafter(eleven_up, 2.0);
    struct Case {
        double a, b;
        bool equal;
    } cases[] = {
        {0.1 + 0.2, 0.3, true},
        {one, ten_up, true},
        {one, eleven_up, false},
        {-one, -ten_up, true},
        {0.0, -0.0, true},
        {1e-17, -1e-17, true},
        {1e-300, 2e-300, true},
        {1e300, 1.0000000000001e300, false},
        {std::nan(""), std::nan(""), false},
        {INFINITY, INFINITY, true},
        {INFINITY, DBL_MAX, false},
        {-INFINITY, -DBL_MAX, false},
        {1.0, 1.0001, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_::almost_equal_q(c.a, c.b), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(float_::almost_equal_q(c.b, c.a), c.equal) << c.b << " " << c.a;
    }
    float f = 1.0f, f10 = f, f11 = f;
    for (int i = 0; i < 10; i++) f10 = std::nextafter(f10, 2.0f);
    for (int i = 0; i < 11; i++) f11 = std::nextafter(f11, 2.0f);
    EXPECT_TRUE(float_::almost_equal32_q(f, f10));
    EXPECT_FALSE(float_::almost_equal32_q(f, f11));
    EXPECT_FALSE(float_::almost_equal32_q(NAN, NAN));
    EXPECT_FALSE(float_::almost_equal32_q(INFINITY, FLT_MAX));
}

TEST_F(FloatTest, CompareCodes) {
    double nan = std::nan("");
    struct Case {
        Cell left, right;
        int32_t op;
        bool answer;
    } cases[] = {
        {float_cell(0.1 + 0.2), float_cell(0.3), COMP_EQUAL, true},
        {float_cell(0.1 + 0.2), float_cell(0.3), COMP_STRICT_EQUAL, false},
        {float_cell(0.1 + 0.2), float_cell(0.3), COMP_NOT_EQUAL, false},
        {float_cell(0.0), float_cell(-0.0), COMP_STRICT_EQUAL, true},
        {float_cell(0.0), float_cell(-0.0), COMP_SAME, false},
        {float_cell(nan), float_cell(nan), COMP_EQUAL, false},
        {float_cell(nan), float_cell(1.0), COMP_LESSER, false},
        {float_cell(nan), float_cell(1.0), COMP_LESSER_EQUAL, false},
        {float_cell(nan), float_cell(1.0), COMP_GREATER, false},
        {float_cell(nan), float_cell(1.0), COMP_GREATER_EQUAL, false},
        {float_cell(1.0), float_cell(nan), COMP_GREATER, false},
        {float_cell(1.0), float_cell(2.0), COMP_LESSER, true},
        {float_cell(3.0), int_cell(3), COMP_EQUAL, true},
        {float_cell(3.0), int_cell(3), COMP_STRICT_EQUAL, false},
        {float_cell(3.0), int_cell(2), COMP_GREATER, true},
        {float_cell(0.5), float_cell(0.5, TYPE_PERCENT), COMP_EQUAL, true},
        {float_cell(0.5), float_cell(0.5, TYPE_PERCENT), COMP_STRICT_EQUAL, false},
    };
    for (Case& c : cases) {
        bool answer = false;
        EXPECT_MOX_OK(answer = actions::compare_star(&c.left, &c.right, c.op));
        EXPECT_EQ(answer, c.answer) << get_float(&c.left) << " op " << c.op;
    }
    // percent! and time! values compare through float!'s routine.
    Cell time = float_cell(2.0, TYPE_TIME), one = float_cell(1.0);
    EXPECT_EQ(float_::compare(&time, &one, COMP_GREATER), 1);
    EXPECT_EQ(float_::compare(&time, &one, COMP_STRICT_EQUAL), 1);
    Cell f = float_cell(1.0), t = true_value;
    EXPECT_EQ(actions::compare(&f, &t, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_MOX_ERROR(err::invalid_compare, actions::compare_star(&f, &t, COMP_LESSER));
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

TEST_F(FloatTest, ArithmeticAndResultTypes) {
    double nan = std::nan("");
    // The left operand's module runs the operation (percent! and time!
    // values use float!'s).
    struct Case {
        Action action;
        Cell left, right;
        int error;
        uint32_t type;
        double value;
    } cases[] = {
        {A_REMAINDER, float_cell(5.5), int_cell(2), NO_ERROR, TYPE_FLOAT, 1.5},
        {A_REMAINDER, float_cell(-5.5), int_cell(2), NO_ERROR, TYPE_FLOAT, -1.5},
        {A_REMAINDER, float_cell(5.5), float_cell(INFINITY), NO_ERROR, TYPE_FLOAT, 5.5},
        {A_REMAINDER, float_cell(5.5), int_cell(0), NO_ERROR, TYPE_FLOAT, nan},
        {A_REMAINDER, float_cell(INFINITY), int_cell(2), NO_ERROR, TYPE_FLOAT, nan},
        {A_REMAINDER, float_cell(INFINITY), float_cell(INFINITY), NO_ERROR, TYPE_FLOAT, nan},
        {A_REMAINDER, float_cell(1.0), float_cell(nan), NO_ERROR, TYPE_FLOAT, nan},
        {A_DIVIDE, float_cell(1.0), int_cell(0), NO_ERROR, TYPE_FLOAT, INFINITY},
        {A_DIVIDE, float_cell(-1.0), int_cell(0), NO_ERROR, TYPE_FLOAT, -INFINITY},
        {A_DIVIDE, float_cell(0.0), int_cell(0), NO_ERROR, TYPE_FLOAT, nan},
        {A_MULTIPLY, float_cell(DBL_MAX), int_cell(2), NO_ERROR, TYPE_FLOAT, INFINITY},
        {A_ADD, float_cell(0.1), float_cell(0.2), NO_ERROR, TYPE_FLOAT, 0.1 + 0.2},
        {A_SUBTRACT, float_cell(1.0), test::char_cell('a'), NO_ERROR, TYPE_FLOAT, -96.0},
        {A_MULTIPLY, float_cell(0.5, TYPE_PERCENT), int_cell(2), NO_ERROR, TYPE_PERCENT, 1.0},
        {A_MULTIPLY, int_cell(2), float_cell(0.5, TYPE_PERCENT), NO_ERROR, TYPE_FLOAT, 1.0},
        {A_ADD, float_cell(1.5), float_cell(1.0, TYPE_TIME), NO_ERROR, TYPE_TIME, 2.5},
        {A_ADD, float_cell(1.0, TYPE_TIME), float_cell(0.5, TYPE_PERCENT), NO_ERROR, TYPE_TIME,
         1.5},
        {A_ADD, float_cell(0.5, TYPE_PERCENT), test::char_cell('a'), err::invalid_type, 0, 0},
        {A_ADD, float_cell(1.0, TYPE_TIME), test::char_cell('a'), err::invalid_type, 0, 0},
        {A_SUBTRACT, float_cell(1.0), Cell{TYPE_PAIR, 0, 1, 2}, err::not_related, 0, 0},
        {A_DIVIDE, float_cell(1.0), Cell{TYPE_POINT2D, 0, 0, 0}, err::not_related, 0, 0},
        {A_ADD, float_cell(1.0, TYPE_TIME), Cell{TYPE_PAIR, 0, 1, 2}, err::invalid_type, 0, 0},
        {A_SUBTRACT, float_cell(1.0, TYPE_TIME), Cell{TYPE_PAIR, 0, 1, 2}, err::invalid_type, 0, 0},
        {A_ADD, float_cell(1.0), true_value, err::invalid_type, 0, 0},
        {A_POWER, float_cell(2.0), int_cell(10), NO_ERROR, TYPE_FLOAT, 1024.0},
        {A_POWER, float_cell(4.0), float_cell(0.5), NO_ERROR, TYPE_FLOAT, 2.0},
        {A_POWER, float_cell(4.0), float_cell(0.5, TYPE_PERCENT), err::expect_arg, 0, 0},
    };
    for (const Case& c : cases) {
        Cell result;
        InPlaceFn fn = reinterpret_cast<InPlaceFn>(datatype::slot_of(
            type_of(&c.left) == TYPE_INTEGER ? TYPE_INTEGER : TYPE_FLOAT, c.action));
        int code = test::run_catching([&] { result = test::apply_fn(fn, c.left, c.right); });
        SCOPED_TRACE(testing::Message() << "action " << c.action << " " << get_float(&c.left)
                                        << " and type " << type_of(&c.right));
        EXPECT_EQ(code, c.error);
        if (code != NO_ERROR || c.error != NO_ERROR) continue;
        ASSERT_EQ(type_of(&result), c.type);
        if (std::isnan(c.value))
            EXPECT_TRUE(std::isnan(get_float(&result)));
        else
            EXPECT_EQ(get_float(&result), c.value);
    }
}

TEST_F(FloatTest, UnknownOperatorIsRefused) {
    EXPECT_MOX_ERROR(err::cannot_use, float_::do_math_op(1.0, 2.0, OP_XOR));
}

TEST_F(FloatTest, NegateAndAbsolute) {
    Cell zero = float_cell(0.0), neg = float_cell(-2.5, TYPE_PERCENT);
    Cell* r = actions::negate(&zero);
    EXPECT_FALSE(std::signbit(get_float(r)));
    r = float_::negate(&neg);
    EXPECT_EQ(type_of(r), TYPE_PERCENT);
    EXPECT_EQ(get_float(r), 2.5);
    Cell word = test::word_cell("absolute");
    stack::mark_native(&word);
    stack::push_cell();
    for (double d : {-0.0, -2.5, HUGE_VAL, -HUGE_VAL}) {
        *stack::arguments = float_cell(d, TYPE_TIME);
        Cell* a = float_::absolute();
        EXPECT_EQ(type_of(a), TYPE_TIME);
        EXPECT_EQ(double_bits(get_float(a)), double_bits(std::fabs(d))) << d;
    }
    test::end_call();
}

// ---------------------------------------------------------------------------
// Rounding
// ---------------------------------------------------------------------------

TEST_F(FloatTest, RoundMatchesDecimalModes) {
    for (const FloatRoundCase& c : kFloatRound) {
        double value = bits_to_double(c.value);
        Cell scale =
            c.scale_kind == 1 ? int_cell(c.scale_int) : float_cell(bits_to_double(c.scale_bits));
        Cell result;
        int code = test::run_catching([&] {
            result = test::round_value(float_cell(value), c.scale_kind ? &scale : nullptr, c.mode);
        });
        SCOPED_TRACE(testing::Message()
                     << "round " << value << " scale kind " << c.scale_kind << " "
                     << bits_to_double(c.scale_bits) << "/" << c.scale_int << " mode " << c.mode);
        if (c.result_kind == 2) {
            EXPECT_EQ(code, err::overflow);
            continue;
        }
        ASSERT_EQ(code, NO_ERROR);
        if (c.result_kind == 1) {
            ASSERT_EQ(type_of(&result), TYPE_INTEGER);
            EXPECT_EQ(get_integer(&result), c.result_int);
        } else {
            ASSERT_EQ(type_of(&result), TYPE_FLOAT);
            EXPECT_EQ(double_bits(get_float(&result)), c.result_bits) << get_float(&result);
        }
    }
}

TEST_F(FloatTest, RoundEdges) {
    Cell hundredth = float_cell(0.01), two = int_cell(2), one = int_cell(1);
    Cell tiny = float_cell(5e-324), zero = float_cell(0.0);
    Cell pct = float_cell(0.1, TYPE_PERCENT), money = Cell{TYPE_MONEY, 0, 0, 0};
    struct Case {
        double value;
        uint32_t type;
        const Cell* scale;
        int mode;
        int error;
        uint32_t result_type;
        double result;
    } cases[] = {
        {3.14159, TYPE_FLOAT, &hundredth, MODE_NONE, NO_ERROR, TYPE_FLOAT, 3.14},
        {7.3, TYPE_FLOAT, &two, MODE_NONE, NO_ERROR, TYPE_INTEGER, 8},
        {-1.7, TYPE_FLOAT, nullptr, MODE_DOWN, NO_ERROR, TYPE_FLOAT, -1.0},
        {-1.2, TYPE_FLOAT, nullptr, MODE_FLOOR, NO_ERROR, TYPE_FLOAT, -2.0},
        {-2.5, TYPE_FLOAT, nullptr, MODE_HALF_CEILING, NO_ERROR, TYPE_FLOAT, -2.0},
        {1e300, TYPE_FLOAT, nullptr, MODE_NONE, NO_ERROR, TYPE_FLOAT, 1e300},
        {DBL_MAX, TYPE_FLOAT, &two, MODE_NONE, err::overflow, 0, 0},
        {3e9, TYPE_FLOAT, &one, MODE_NONE, err::overflow, 0, 0},
        {-2147483648.4, TYPE_FLOAT, &one, MODE_NONE, NO_ERROR, TYPE_INTEGER, -2147483648.0},
        {2147483647.5, TYPE_FLOAT, &one, MODE_NONE, err::overflow, 0, 0},
        {2147483647.5, TYPE_FLOAT, &one, MODE_DOWN, NO_ERROR, TYPE_INTEGER, 2147483647.0},
        {std::nan(""), TYPE_FLOAT, &one, MODE_NONE, err::overflow, 0, 0},
        {INFINITY, TYPE_FLOAT, &one, MODE_NONE, err::overflow, 0, 0},
        {INFINITY, TYPE_FLOAT, nullptr, MODE_NONE, NO_ERROR, TYPE_FLOAT, INFINITY},
        {1e-320, TYPE_FLOAT, &tiny, MODE_NONE, NO_ERROR, TYPE_FLOAT, 1e-320},
        {1.7e-321, TYPE_FLOAT, &tiny, MODE_DOWN, NO_ERROR, TYPE_FLOAT, 1.7e-321},
        {2.5, TYPE_FLOAT, &zero, MODE_NONE, NO_ERROR, TYPE_FLOAT, 2.5},
        {0.12345, TYPE_PERCENT, nullptr, MODE_NONE, NO_ERROR, TYPE_PERCENT, 0.12},
        {0.12345, TYPE_PERCENT, &pct, MODE_NONE, NO_ERROR, TYPE_PERCENT, 0.123},
        {0.5, TYPE_FLOAT, &money, MODE_NONE, err::not_related, 0, 0},
    };
    for (const Case& c : cases) {
        Cell result;
        int code = test::run_catching(
            [&] { result = test::round_value(float_cell(c.value, c.type), c.scale, c.mode); });
        SCOPED_TRACE(testing::Message() << "round " << c.value << " mode " << c.mode);
        EXPECT_EQ(code, c.error);
        if (code != NO_ERROR || c.error != NO_ERROR) continue;
        ASSERT_EQ(type_of(&result), c.result_type);
        if (c.result_type == TYPE_INTEGER)
            EXPECT_EQ(get_integer(&result), c.result);
        else
            EXPECT_DOUBLE_EQ(get_float(&result), c.result);
    }
}

// ---------------------------------------------------------------------------
// Conversions and integer views
// ---------------------------------------------------------------------------

// float!'s routine, given the target type as the dispatcher passes it.
TEST_F(FloatTest, MakeAndTo) {
    // The table keeps series in C++ cells, out of the collector's sight.
    collector::Hold hold;
    Cell* text = string::push_new(4);
    string::concatenate_literal(text, "1.5");
    struct Case {
        uint32_t target;
        Cell spec;
        int error;
        double result;
    } cases[] = {
        {TYPE_FLOAT, int_cell(-7), NO_ERROR, -7.0},
        {TYPE_FLOAT, test::char_cell('A'), NO_ERROR, 65.0},
        {TYPE_FLOAT, float_cell(0.25, TYPE_PERCENT), NO_ERROR, 0.25},
        {TYPE_FLOAT, float_cell(90.0, TYPE_TIME), NO_ERROR, 90.0},
        {TYPE_PERCENT, float_cell(0.25), NO_ERROR, 0.25},
        {TYPE_FLOAT, test::block_cell({int_cell(1), int_cell(2)}), NO_ERROR, 100.0},
        {TYPE_FLOAT, test::block_cell({float_cell(1.5), int_cell(-5)}), NO_ERROR, 1.5e-5},
        {TYPE_FLOAT, test::block_cell({int_cell(3), float_cell(2.9)}), NO_ERROR, 300.0},
        {TYPE_FLOAT, test::block_cell({int_cell(1), float_cell(1e300)}), NO_ERROR, INFINITY},
        {TYPE_FLOAT, test::block_cell({int_cell(0), int_cell(1), int_cell(2)}, TYPE_BLOCK, 1),
         NO_ERROR, 100.0},
        {TYPE_FLOAT, test::block_cell({int_cell(1), int_cell(2)}, TYPE_PAREN), NO_ERROR, 100.0},
        {TYPE_FLOAT, test::block_cell({int_cell(1), int_cell(2), int_cell(3)}), err::bad_to_arg, 0},
        {TYPE_FLOAT, test::block_cell({int_cell(1)}), err::bad_to_arg, 0},
        {TYPE_FLOAT, test::block_cell({int_cell(1), true_value}), err::bad_to_arg, 0},
        {TYPE_FLOAT, test::block_cell({int_cell(1), int_cell(2)}, TYPE_BLOCK, 5), err::bad_to_arg,
         0},
        {TYPE_FLOAT, test::binary_cell({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), NO_ERROR, 1.0},
        {TYPE_FLOAT, test::binary_cell({0xC0, 0x00, 0, 0, 0, 0, 0, 0, 0xFF}), NO_ERROR, -2.0},
        {TYPE_FLOAT, test::binary_cell({}), NO_ERROR, 0.0},
        {TYPE_FLOAT, true_value, err::bad_to_arg, 0},
        {TYPE_FLOAT, *text, NO_ERROR, 1.5},
        {TYPE_FLOAT, Cell{TYPE_MONEY, 0, 0, 0}, NO_ERROR, 0.0},
    };
    for (bool make : {true, false}) {
        for (const Case& c : cases) {
            Cell proto = test::datatype_cell(c.target), spec = c.spec, result;
            auto fn = make ? &float_::make : &float_::to;
            int code = test::run_catching(
                [&] { result = *fn(&proto, &spec, static_cast<int32_t>(c.target)); });
            SCOPED_TRACE(testing::Message()
                         << "to " << c.target << " from type " << type_of(&c.spec));
            EXPECT_EQ(code, c.error);
            if (code != NO_ERROR || c.error != NO_ERROR) continue;
            ASSERT_EQ(type_of(&result), c.target);
            EXPECT_EQ(get_float(&result), c.result);
        }
    }
}

TEST_F(FloatTest, EvenAndOddOfAnyMagnitude) {
    struct Case {
        double value;
        int error;
        bool even;
    } cases[] = {
        {2.7, NO_ERROR, true},
        {3.2, NO_ERROR, false},
        {-3.9, NO_ERROR, false},
        {-0.5, NO_ERROR, true},
        {3000000001.0, NO_ERROR, false},
        {4294967297.0, NO_ERROR, false},
        {1e300, NO_ERROR, true},
        {-9007199254740991.0, NO_ERROR, false},
        {INFINITY, err::type_limit, false},
        {std::nan(""), err::type_limit, false},
    };
    for (const Case& c : cases) {
        Cell v = float_cell(c.value);
        bool even = false, odd = false;
        EXPECT_EQ(test::run_catching([&] { even = actions::even_q(&v); }), c.error) << c.value;
        EXPECT_EQ(test::run_catching([&] { odd = actions::odd_q(&v); }), c.error) << c.value;
        if (c.error != NO_ERROR) continue;
        EXPECT_EQ(even, c.even) << c.value;
        EXPECT_EQ(odd, !c.even) << c.value;
    }
}

TEST_F(FloatTest, RoundToIntAndRange) {
    int32_t r = 0;
    EXPECT_MOX_OK(r = float_::round_to_int(2.5));
    EXPECT_EQ(r, 3);
    EXPECT_MOX_OK(r = float_::round_to_int(0.49999999999999994));
    EXPECT_EQ(r, 0);
    EXPECT_MOX_OK(r = float_::round_to_int(2147483646.6));
    EXPECT_EQ(r, 2147483647);
    EXPECT_MOX_ERROR(err::type_limit, float_::round_to_int(2147483647.6));
    EXPECT_MOX_ERROR(err::type_limit, float_::round_to_int(std::nan("")));
    EXPECT_TRUE(float_::out_of_int_range_q(2147483648.0));
    EXPECT_FALSE(float_::out_of_int_range_q(-2147483648.0));
    EXPECT_TRUE(float_::out_of_int_range_q(-2147483648.5));
    EXPECT_TRUE(float_::NaN_q(std::nan("")));
    EXPECT_FALSE(float_::NaN_q(INFINITY));
    EXPECT_TRUE(float_::special_q(-INFINITY));
    EXPECT_TRUE(float_::NaN32_q(std::nanf("")));
}

TEST_F(FloatTest, Random) {
    Cell seed = float_cell(1.5);
    EXPECT_EQ(type_of(actions::random(&seed, true, false, false)), TYPE_UNSET);
    for (bool secure : {false, true})
        for (int i = 0; i < 200; i++) {
            Cell v = float_cell(-10.0, TYPE_PERCENT);
            Cell* r = float_::random(&v, false, secure, false);
            ASSERT_EQ(type_of(r), TYPE_PERCENT);
            ASSERT_LE(get_float(r), 0.0);
            ASSERT_GE(get_float(r), -10.0);
        }
    Cell halves = Cell{TYPE_FLOAT, 0, 0x12345678, 0x0F0F0F0F};
    actions::random(&halves, true, false, false);
    int32_t a = random::rand();
    random::seed(0x12345678 ^ 0x0F0F0F0F);
    EXPECT_EQ(random::rand(), a);
}

TEST_F(FloatTest, PushAndAppendFromHalves) {
    Cell* c = float_::push64(0x3FF00000, 0);
    EXPECT_EQ(get_float(c), 1.0);
    Cell block = test::block_cell({});
    collector::Root keep(&block);
    Cell* d = float_::append(block.data2, 0xC0000000, 0);
    EXPECT_EQ(type_of(d), TYPE_FLOAT);
    EXPECT_EQ(get_float(d), -2.0);
    stack::pop(1);
}

} // namespace
} // namespace mox
