// The text forms and equality of the small literal types: pair!, percent!,
// tuple!, time!, point2D! and point3D!.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "evaluator/lexer.h"
#include "scalar_fixture.h"

namespace mox::test {
namespace {

Cell pair_cell(int32_t x, int32_t y) {
    Cell c;
    return *pair::make_cell(&c, x, y);
}
Cell tuple_cell(std::initializer_list<uint8_t> bytes) {
    Cell c;
    return *tuple::make_cell(&c, std::data(bytes), static_cast<int32_t>(bytes.size()));
}
Cell time_cell(double seconds) {
    Cell c = int_cell(0);
    return *time::box(&c, seconds);
}
Cell percent_cell(double fraction) {
    Cell c;
    return *percent::make_cell(&c, fraction);
}
Cell point_cell(float x, float y) {
    Cell c;
    return *point2D::make_cell(&c, x, y);
}
Cell point3_cell(float x, float y, float z) {
    Cell c;
    return *point3D::make_cell(&c, x, y, z);
}

using CompoundTest = ScalarTest;

TEST_F(CompoundTest, TextForms) {
    struct Row {
        Cell value;
        const char* text;
    };
    const Row rows[] = {
        {pair_cell(10, 20), "10x20"},
        {pair_cell(-1, -2), "-1x-2"},
        {pair_cell(INT32_MIN, INT32_MAX), "-2147483648x2147483647"},
        {tuple_cell({1, 2, 3}), "1.2.3"},
        {tuple_cell({255, 255, 255, 0}), "255.255.255.0"},
        {tuple_cell({1, 2}), "1.2.0"}, // padded to three bytes
        {tuple_cell({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), "1.2.3.4.5.6.7.8.9.10.11.12"},
        {time_cell(3723), "1:02:03"},
        {time_cell(3723.5), "1:02:03.5"},
        {time_cell(-90), "-0:01:30"},
        {time_cell(0), "0:00:00"},
        {time_cell(0.0000001), "0:00:00"},
        {time_cell(5.25), "0:00:05.25"},
        {time_cell(360000), "100:00:00"},
        {time_cell(-5415), "-1:30:15"},
        {time_cell(59.9999999), "0:01:00"}, // carries instead of ":60"
        {time_cell(-3599.9999999), "-1:00:00"},
        {time_cell(59.9999), "0:00:59.9999"},
        {percent_cell(0.5), "50%"},
        {percent_cell(0), "0%"},
        {percent_cell(-0.025), "-2.5%"},
        {percent_cell(0.001), "0.1%"},
        {point_cell(1, 2.5f), "(1, 2.5)"},
        {point_cell(0.1f, 3), "(0.1, 3)"},
        {point_cell(-1.5f, INFINITY), "(-1.5, 1.#INF)"},
        {point3_cell(1, 2, 3), "(1, 2, 3)"},
        {point3_cell(0.5f, -0.25f, 1e10f), "(0.5, -0.25, 1e10)"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(molded(r.value), r.text);
        EXPECT_EQ(formed(r.value), r.text);
    }
}

TEST_F(CompoundTest, TupleCells) {
    Cell t = tuple_cell({1, 2, 3, 4});
    EXPECT_EQ(tuple::length_of(&t), 4);
    EXPECT_EQ((t.header & FLAG_TUPLE_SIZE_MASK) >> FLAG_TUPLE_SIZE_SHIFT, 4u);
    EXPECT_FALSE(tuple::all_zero_q(&t));
    Cell z = tuple_cell({0, 0, 0});
    EXPECT_TRUE(tuple::all_zero_q(&z));
    const uint8_t many[13] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    Cell cut;
    tuple::make_cell(&cut, many, 13);
    EXPECT_EQ(tuple::length_of(&cut), 12);
}

// Equality through the dispatcher, the way the round trip of the lexer's
// tests compares a reloaded value with the original.
TEST_F(CompoundTest, Equality) {
    struct Row {
        Cell a, b;
        int32_t op;
        bool equal;
    };
    const Row rows[] = {
        {pair_cell(1, 2), pair_cell(1, 2), COMP_EQUAL, true},
        {pair_cell(1, 2), pair_cell(2, 1), COMP_EQUAL, false},
        {pair_cell(3, 4), point_cell(3, 4), COMP_EQUAL, true},
        {tuple_cell({1, 2, 3}), tuple_cell({1, 2, 3, 0}), COMP_EQUAL, true},
        {tuple_cell({1, 2, 3}), tuple_cell({1, 2, 3, 0}), COMP_STRICT_EQUAL, true},
        {tuple_cell({1, 2, 3}), tuple_cell({1, 2, 4}), COMP_EQUAL, false},
        {time_cell(60), time_cell(60), COMP_STRICT_EQUAL, true},
        {time_cell(60), time_cell(61), COMP_EQUAL, false},
        {percent_cell(0.5), percent_cell(0.5), COMP_STRICT_EQUAL, true},
        {point_cell(0.1f, 1), point_cell(0.1f, 1), COMP_STRICT_EQUAL, true},
        {point_cell(1, 2), point_cell(1, 2.0001f), COMP_EQUAL, false},
        {point3_cell(1, 2, 3), point3_cell(1, 2, 3), COMP_SAME, true},
        {point3_cell(1, 2, 3), point3_cell(1, 2, 4), COMP_EQUAL, false},
    };
    for (const Row& r : rows) {
        Cell* a = stack::push(&r.a);
        Cell* b = stack::push(&r.b);
        EXPECT_EQ(actions::compare(a, b, r.op) == 0, r.equal) << molded(r.a) << " " << molded(r.b);
    }
    Cell* p = stack::push(&rows[0].a);
    Cell i = int_cell(1);
    Cell* n = stack::push(&i);
    EXPECT_EQ(actions::compare(p, n, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

TEST_F(CompoundTest, Ordering) {
    Cell a = pair_cell(1, 2), b = pair_cell(2, 0), c = pair_cell(2147483647, 0),
         d = pair_cell(-1, 0);
    EXPECT_EQ(pair::compare(&a, &b, COMP_LESSER), -1); // x decides
    EXPECT_EQ(pair::compare(&c, &d, COMP_GREATER), 1);
    Cell t1 = tuple_cell({1, 2, 3}), t2 = tuple_cell({1, 2, 3, 1});
    EXPECT_EQ(tuple::compare(&t1, &t2, COMP_LESSER), -1);
    Cell p1 = point_cell(1, 5), p2 = point_cell(1, 6);
    EXPECT_EQ(point2D::compare(&p1, &p2, COMP_LESSER), -1); // x equal, y decides
}

Cell date_cell(int32_t y, int32_t m, int32_t d, double seconds, int32_t zh, int32_t zm) {
    Cell c;
    return *date::make_cell(&c, y, m, d, seconds, zh, zm, true);
}

Cell money_cell(const char* currency, const char* digits, bool negative) {
    const auto* p = reinterpret_cast<const uint8_t*>(digits);
    const uint8_t* point = p + std::strcspn(digits, ".");
    const uint8_t* end = p + std::strlen(digits);
    Cell c;
    money::make_from_digits(&c, negative, reinterpret_cast<const uint8_t*>(currency), p,
                            point == end ? nullptr : point, end);
    return c;
}

// The molded text (mold/all) of each value loads back through the lexer as
// an equal value of the same type (times keep six significant digits of
// their seconds, so only times within that precision appear here).
TEST_F(CompoundTest, MoldsLoadBack) {
    const Cell values[] = {
        pair_cell(-7, 2147483647),
        tuple_cell({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
        time_cell(-5415.25),
        time_cell(360000),
        percent_cell(0.125),
        percent_cell(-2),
        point_cell(0.1f, -3e10f),
        point3_cell(1, 2.5f, -0.75f),
        date_cell(2024, 1, 15, 37800, 1, 0),
        date_cell(2024, 1, 1, 1800, 0, -15),
        date_cell(1999, 12, 31, 86399.5, -12, -45),
        money_cell("EUR", "1234567.12345", true),
        money_cell(nullptr, "0.00001", false),
        money_cell("USD", "99999999999999999.99999", false),
    };
    for (const Cell& v : values) {
        std::string text = molded(v, true);
        Cell* out = stack::push_cell();
        EXPECT_MOX_OK(lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                                       static_cast<int32_t>(text.size()), out));
        ASSERT_EQ(block::rs_length_q(out), 1) << text;
        Cell* original = stack::push(&v);
        Cell* loaded = stack::push(block::rs_head(out));
        EXPECT_EQ(type_of(loaded), type_of(original)) << text;
        EXPECT_EQ(actions::compare(original, loaded, COMP_EQUAL), 0) << text;
    }
}

} // namespace
} // namespace mox::test
