// Number text: the language's float texts and reads from tables, and the
// digits and reads of a million doubles checked against Python's correctly
// rounded repr, '%.*e' and float(), generated at test time by
// tests/dtoa/gen_vectors.py.

#include "core/dtoa.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>

namespace {

using namespace mox;

std::string form(double v, int ndigits = 0, bool point_zero = true) {
    char buf[dtoa::FORM_SIZE];
    int n = dtoa::form_float(v, ndigits, point_zero, buf);
    EXPECT_EQ(static_cast<size_t>(n), std::strlen(buf));
    return std::string(buf, n);
}

double read(const std::string& text, int adjust = 0, int* rest = nullptr) {
    int unused;
    return dtoa::string_to_double(text.data(), text.data() + text.size(), adjust,
                                  rest ? rest : &unused);
}

uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }

const double INF = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------------------
// Text forms
// ---------------------------------------------------------------------------

struct FormCase {
    double value;
    int ndigits;
    bool point_zero;
    const char* text;
};

TEST(DtoaForm, LanguageTextForms) {
    const FormCase cases[] = {
        // shortest round trip, ".0" kept: the mold of float!
        {0.1, 0, true, "0.1"},
        {1.0 / 3.0, 0, true, "0.3333333333333333"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {100.0, 0, true, "100.0"},
        {100.0, 0, false, "100"},
        {12.5, 0, true, "12.5"},
        {-2.5, 0, true, "-2.5"},
        {0.001, 0, true, "0.001"},
        {1e19, 0, true, "1.0e19"},
        {1e19, 0, false, "1e19"},
        {1e20, 0, true, "1.0e20"},
        {123456789012345680000.0, 0, true, "1.2345678901234568e20"},
        {1e-7, 0, true, "0.0000001"}, // point -6: still plain
        {2.5e-7, 0, true, "0.00000025"},
        {1e-8, 0, true, "1.0e-8"}, // point -7: exponent form
        {1.5e-8, 0, true, "1.5e-8"},
        {1.5e-5, 0, true, "0.000015"},
        {1e16, 0, true, "10000000000000000.0"}, // point 17
        {1e17, 0, true, "1.0e17"},              // point 18
        {-1e17, 0, false, "-1e17"},
        {12345678901234567.0, 0, true, "12345678901234568.0"},
        {5e-324, 0, true, "5.0e-324"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {2.2250738585072014e-308, 0, true, "2.2250738585072014e-308"},
        {9007199254740993.0, 0, true, "9007199254740992.0"},
        // specials
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 0, false, "0"},
        {-0.0, 6, false, "-0"},
        {INF, 0, true, "1.#INF"},
        {-INF, 0, true, "-1.#INF"},
        {NaN, 0, true, "1.#NaN"},
        {-NaN, 6, false, "1.#NaN"},
        // six digits, no ".0": the seconds of time!
        {3600.0, 6, false, "3600"},
        {1.0 / 3.0, 6, false, "0.333333"},
        {0.1 + 0.2, 6, false, "0.3"},
        {1234567.0, 6, false, "1234570"},
        {59.9999999, 6, false, "60"},
        {999999.5, 6, false, "1000000"}, // exact tie: 999999|5 rounds to even
        {1e-7 / 3.0, 6, false, "3.33333e-8"},
        {0.125, 2, false, "0.12"}, // exact ties go to even
        {0.375, 2, false, "0.38"},
        {2.5, 1, false, "2"},
        {1e23, 6, false, "1e23"},
        // 22 digits with ".0": money! conversion
        {0.1, 22, true, "0.1000000000000000055511"},
        {123.456, 22, true, "123.4560000000000030695"},
        {1.5, 22, true, "1.5"},
        {1e16, 22, true, "10000000000000000.0"},
        {-99999999999999999.0, 22, true, "-1.0e17"},
    };
    for (const FormCase& c : cases) {
        EXPECT_EQ(form(c.value, c.ndigits, c.point_zero), c.text)
            << "value " << c.value << " ndigits " << c.ndigits << " flag " << c.point_zero;
    }
}

TEST(DtoaForm, DigitsPointAndSign) {
    char digits[dtoa::DIGITS_SIZE];
    int point;
    bool negative;
    EXPECT_EQ(dtoa::shortest_digits(-1234.5, 0, true, digits, &point, &negative), 5);
    EXPECT_STREQ(digits, "12345");
    EXPECT_EQ(point, 4);
    EXPECT_TRUE(negative);
    EXPECT_EQ(dtoa::shortest_digits(0.00123, 0, true, digits, &point, &negative), 3);
    EXPECT_STREQ(digits, "123");
    EXPECT_EQ(point, -2);
    EXPECT_FALSE(negative);
    dtoa::shortest_digits(-INF, 0, true, digits, &point, &negative);
    EXPECT_STREQ(digits, "-1.#INF");
    EXPECT_EQ(point, dtoa::POINT_SPECIAL);
    dtoa::shortest_digits(-0.0, 0, true, digits, &point, &negative);
    EXPECT_STREQ(digits, "-0.0");
    EXPECT_EQ(point, dtoa::POINT_ZERO);
}

// The texts live in the caller's buffers: a result stays intact while others
// are made, and the longest texts fit the advertised sizes exactly.
TEST(DtoaForm, ResultsStayWithTheCaller) {
    char first[dtoa::FORM_SIZE], second[dtoa::FORM_SIZE];
    dtoa::form_float(0.1, 0, true, first);
    dtoa::form_float(-1.0 / 3.0, 22, true, second);
    char digits[dtoa::DIGITS_SIZE];
    int point;
    bool negative;
    dtoa::shortest_digits(INF, 0, true, digits, &point, &negative);
    dtoa::form_float(123.0, 0, false, second);
    EXPECT_STREQ(first, "0.1");
    EXPECT_STREQ(second, "123");
    EXPECT_STREQ(digits, "1.#INF");

    const double longest[] = {-1.0 / 3.0 * 1e-6, -1.0 / 3.0 * 1e-7, -1.0 / 3.0,
                              -1.0 / 3.0 * 1e16, -5e-324,           -1.7976931348623157e308};
    for (double v : longest) {
        for (int nd : {0, dtoa::MAX_DIGITS, 1000}) {
            char buf[dtoa::FORM_SIZE + 16];
            std::memset(buf, '#', sizeof buf);
            int n = dtoa::form_float(v, nd, true, buf);
            EXPECT_LT(n, dtoa::FORM_SIZE);
            EXPECT_EQ(buf[n], '\0');
            for (size_t i = dtoa::FORM_SIZE; i < sizeof buf; ++i) ASSERT_EQ(buf[i], '#');
        }
    }
    // Requests beyond MAX_DIGITS are clamped to it.
    EXPECT_EQ(form(-1.0 / 3.0 * 1e-6, 1000), "-0.000000333333333333333300602850874164");
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

struct ReadCase {
    const char* text;
    int adjust;
    double value;
    int rest;
};

TEST(DtoaRead, FormsAndUnconsumedCount) {
    const ReadCase cases[] = {
        {"0.1", 0, 0.1, 0},
        {"12.5", -2, 0.125, 0}, // the percent loader's adjustment
        {"50", -2, 0.5, 0},
        {"1.5e3", 0, 1500.0, 0},
        {"-.5", 0, -0.5, 0},
        {"+5.", 0, 5.0, 0},
        {"000123.4500", 0, 123.45, 0},
        {"1E-2", 0, 0.01, 0},
        {"1e+2", 0, 100.0, 0},
        {"9007199254740993", 0, 9007199254740992.0, 0}, // tie to even
        {"1e99999999999999999999", 0, INF, 0},
        {"-1e99999999999999999999", 0, -INF, 0},
        {"1e-99999999999999999999", 0, 0.0, 0},
        {"0e999999", 0, 0.0, 0},
        {"12abc", 0, 12.0, 3},
        {"1.5e3x", 0, 1500.0, 1},
        {"1e", 0, 1.0, 1},
        {"1e+", 0, 1.0, 2},
        {"1.#", 0, 1.0, 1},
        {"1.#X", 0, 1.0, 2},
        {"12.#INF", 0, 12.0, 4}, // two digits before the point: no special
        {"", 0, 0.0, 0},
        {".", 0, 0.0, 1},
        {"-", 0, 0.0, 1},
        {"abc", 0, 0.0, 3},
    };
    for (const ReadCase& c : cases) {
        int rest = -1;
        double v = read(c.text, c.adjust, &rest);
        EXPECT_EQ(bits(v), bits(c.value)) << '"' << c.text << "\" gave " << v;
        EXPECT_EQ(rest, c.rest) << '"' << c.text << '"';
    }
}

TEST(DtoaRead, SpecialForms) {
    const struct {
        const char* text;
        uint64_t bits;
        int rest;
    } cases[] = {
        {"1.#INF", 0x7FF0000000000000, 0},  {"-1.#INF", 0xFFF0000000000000, 0},
        {"+1.#inf", 0x7FF0000000000000, 0}, {"1.#I", 0x7FF0000000000000, 0},
        {"1.#INFx", 0x7FF0000000000000, 1}, {"1.#NaN", 0x7FF8000000000000, 0},
        {"-1.#nan", 0x7FF8000000000000, 0}, {"9.#N", 0x7FF8000000000000, 0},
    };
    for (const auto& c : cases) {
        int rest = -1;
        EXPECT_EQ(bits(read(c.text, 0, &rest)), c.bits) << c.text;
        EXPECT_EQ(rest, c.rest) << c.text;
    }
}

TEST(DtoaRead, NegativeZeroKeepsItsSign) {
    EXPECT_EQ(bits(read("-0")), bits(-0.0));
    EXPECT_EQ(bits(read("-0.000e5")), bits(-0.0));
    EXPECT_EQ(bits(read("-1e-400")), bits(-0.0));
}

// Texts far longer than any double needs: the read stays exact and linear
// in the digits beyond the cut.
TEST(DtoaRead, VeryLongTexts) {
    std::string ones = "1" + std::string(20000, '0') + "e-20000";
    EXPECT_EQ(read(ones), 1.0);
    std::string third = "0." + std::string(100000, '3');
    EXPECT_EQ(read(third), 1.0 / 3.0);
    // Just above the midpoint between 1 and its successor, by a digit far out.
    std::string above =
        "1.00000000000000011102230246251565404236316680908203125" + std::string(5000, '0') + "1";
    EXPECT_EQ(read(above), std::nextafter(1.0, 2.0));
    std::string exact =
        "1.00000000000000011102230246251565404236316680908203125" + std::string(5000, '0');
    EXPECT_EQ(read(exact), 1.0); // the exact midpoint goes to the even neighbour
}

// Every double reads back from its own text, here for doubles of every
// binade (the property holds independently of any oracle).
TEST(DtoaRead, TextRoundTrip) {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 200000; ++i) {
        uint64_t b = rng() & 0x7FFFFFFFFFFFFFFF;
        if (b >= 0x7FF0000000000000) continue;
        double v = std::bit_cast<double>(b);
        for (double x : {v, -v}) {
            std::string text = form(x);
            ASSERT_EQ(bits(read(text)), bits(x)) << text;
        }
    }
}

// ---------------------------------------------------------------------------
// Against Python
// ---------------------------------------------------------------------------

// The vector files, made at build time into the build folder (or taken from
// MOX_DTOA_VECTORS). Empty when they are missing.
std::string vector_dir() {
    std::string dir = MOX_DTOA_VECTORS_DIR;
    if (const char* env = std::getenv("MOX_DTOA_VECTORS"); env && *env) dir = env;
    return std::ifstream(dir + "/complete") ? dir : std::string();
}

class DtoaOracle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { dir_ = new std::string(vector_dir()); }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (dir_->empty()) GTEST_SKIP() << "the Python vectors were not generated";
    }
    static std::ifstream open(const char* file) { return std::ifstream(*dir_ + "/" + file); }
    static std::string* dir_;
};

std::string* DtoaOracle::dir_ = nullptr;

constexpr int MAX_REPORTED = 10;

TEST_F(DtoaOracle, ShortestDigitsMatchRepr) {
    std::ifstream in = open("shortest.txt");
    std::string line;
    long checked = 0, failed = 0;
    while (std::getline(in, line)) {
        unsigned long long b;
        char want[64];
        int want_point;
        ASSERT_EQ(std::sscanf(line.c_str(), "%llx %63s %d", &b, want, &want_point), 3) << line;
        double v = std::bit_cast<double>(static_cast<uint64_t>(b));
        for (double x : {v, -v}) {
            char digits[dtoa::DIGITS_SIZE];
            int point;
            bool negative;
            dtoa::shortest_digits(x, 0, true, digits, &point, &negative);
            bool ok = std::strcmp(digits, want) == 0 && point == want_point && negative == (x < 0);
            std::string text = form(x);
            bool round_trip = bits(read(text)) == bits(x);
            if ((!ok || !round_trip) && ++failed <= MAX_REPORTED) {
                ADD_FAILURE() << line << ": got " << digits << " " << point << ", text " << text;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 1000000);
    EXPECT_EQ(failed, 0);
}

TEST_F(DtoaOracle, FixedDigitsMatchPercentE) {
    std::ifstream in = open("fixed.txt");
    std::string line;
    long checked = 0, failed = 0;
    while (std::getline(in, line)) {
        unsigned long long b;
        int n, want_point;
        char want[64];
        ASSERT_EQ(std::sscanf(line.c_str(), "%llx %d %63s %d", &b, &n, want, &want_point), 4);
        char digits[dtoa::DIGITS_SIZE];
        int point;
        bool negative;
        dtoa::shortest_digits(std::bit_cast<double>(static_cast<uint64_t>(b)), n, true, digits,
                              &point, &negative);
        if ((std::strcmp(digits, want) != 0 || point != want_point) && ++failed <= MAX_REPORTED) {
            ADD_FAILURE() << line << ": got " << digits << " " << point;
        }
        ++checked;
    }
    EXPECT_GT(checked, 200000);
    EXPECT_EQ(failed, 0);
}

TEST_F(DtoaOracle, ReadsMatchFloat) {
    std::ifstream in = open("parse.txt");
    std::string line;
    long checked = 0, failed = 0;
    while (std::getline(in, line)) {
        size_t a = line.find(' '), b = line.rfind(' ');
        ASSERT_TRUE(a != std::string::npos && b > a) << line;
        std::string text = line.substr(0, a);
        int adjust = std::atoi(line.c_str() + a + 1);
        uint64_t want = std::strtoull(line.c_str() + b + 1, nullptr, 16);
        int rest = -1;
        double got = read(text, adjust, &rest);
        if ((bits(got) != want || rest != 0) && ++failed <= MAX_REPORTED) {
            ADD_FAILURE() << text.substr(0, 200) << " adjust " << adjust << ": got " << std::hex
                          << bits(got) << " want " << want << std::dec << " rest " << rest;
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000000);
    EXPECT_EQ(failed, 0);
}

// ---------------------------------------------------------------------------
// Angle reduction
// ---------------------------------------------------------------------------

double radians(double degrees) { return degrees * 3.141592653589793 / 180.0; }

TEST(NormalizeAngle, ReducedAngles) {
    const struct {
        double degrees;
        int mode;
        double expected;
    } cases[] = {
        {270, 2, -90},  {135, 0, -45}, {135, 1, 135},  {-135, 0, 45}, {100, 2, 80},
        {-100, 2, -80}, {450, 1, 90},  {-190, 1, 170}, {-190, 2, 10}, {-190, 0, -10},
        {720, 0, 0},    {90, 0, 90},   {180, 2, 0},    {-270, 1, 90},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(natives::normalize_angle(c.degrees, c.mode), radians(c.expected))
            << c.degrees << " mode " << c.mode;
    }
}

// The reduced angle gives the same tangent, cosine and sine as the original.
TEST(NormalizeAngle, KeepsTheFunctionValue) {
    for (double d = -1080.0; d <= 1080.0; d += 3.7) {
        double x = radians(d);
        double sin_r = natives::normalize_angle(d, 2), cos_r = natives::normalize_angle(d, 1);
        double tan_r = natives::normalize_angle(d, 0);
        EXPECT_NEAR(std::sin(sin_r), std::sin(x), 1e-12) << d;
        EXPECT_NEAR(std::cos(cos_r), std::cos(x), 1e-12) << d;
        EXPECT_NEAR(std::tan(tan_r), std::tan(x), 1e-9 * (1 + std::fabs(std::tan(x)))) << d;
        EXPECT_LE(std::fabs(sin_r), radians(90));
        EXPECT_LE(std::fabs(tan_r), radians(90));
        EXPECT_LE(std::fabs(cos_r), radians(180));
    }
}

} // namespace
