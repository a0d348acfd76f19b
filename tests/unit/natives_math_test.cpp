// The trigonometric, logarithmic and root natives against Python's math
// module (math_vectors.inc, made by math_oracle.py). C libraries differ in
// the last digits (the Windows one by up to about 1e-14 relative, near pi
// and for large powers), so results need only agree to 1e-12 relative,
// which still tells a wrong formula or angle rule at once; NaN, infinities
// and the zeros the natives make exact must match exactly.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/natives.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

struct MathCase {
    int32_t native;
    bool radians;
    uint64_t x;
    uint64_t y;
    uint64_t result;
};
#include "math_vectors.inc"

constexpr int32_t ARCTANGENT2 = 61;

double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

bool close(double got, double want) {
    if (std::isnan(want)) return std::isnan(got);
    if (std::isinf(want) || want == 0.0) return got == want;
    return std::fabs(got - want) <= 1e-12 * std::fabs(want);
}

class MathNativesTest : public RuntimeTest {};

TEST_F(MathNativesTest, AgreeWithPythonsMathModule) {
    for (const MathCase& c : kMathCases) {
        Cell* saved = stack::top;
        Cell* args = make_float(stack::push_cell(), from_bits(c.x));
        if (c.native == ARCTANGENT2) make_float(stack::push_cell(), from_bits(c.y));
        stack::arguments = args;
        const int32_t refs[1] = {c.radians ? 1 : -1};
        natives::lookup(c.native)(refs);
        ASSERT_EQ(type_of(args), uint32_t{TYPE_FLOAT});
        EXPECT_TRUE(close(get_float(args), from_bits(c.result)))
            << "native " << c.native << (c.radians ? "/radians " : " ") << from_bits(c.x) << " "
            << from_bits(c.y) << ": got " << get_float(args) << ", want " << from_bits(c.result);
        stack::top = saved;
    }
}

// Integer and percent arguments take the same path as their float value.
TEST_F(MathNativesTest, IntegersAndPercentsAreConvertedFirst) {
    struct Row {
        int32_t native;
        Cell arg;
        double want;
    };
    Cell percent;
    make_float(&percent, 0.25, TYPE_PERCENT);
    Cell four;
    make_integer(&four, 4);
    const Row rows[] = {{67, percent, 0.5},
                        {67, four, 2.0},
                        {63, four, 2.0},
                        {66, four, std::pow(2.718281828459045, 4.0)}};
    for (const Row& r : rows) {
        Cell* saved = stack::top;
        Cell* args = stack::push(&r.arg);
        stack::arguments = args;
        const int32_t refs[1] = {-1};
        natives::lookup(r.native)(refs);
        EXPECT_EQ(type_of(args), uint32_t{TYPE_FLOAT}) << r.native;
        EXPECT_EQ(get_float(args), r.want) << r.native;
        stack::top = saved;
    }
}

} // namespace
} // namespace mox::test
