// time!, date!, money!, pair!, tuple! and the points through the
// interpreter: paths that set a field store the changed value back into its
// word, object field or block slot; the number-first operator forms; and
// the results of whole expressions, molded.
#include <gtest/gtest.h>

#include <string>

#include "core/error-codes.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

class NumtimeLangTest : public RuntimeTest {};

struct Case {
    const char* code;
    const char* mold; // nullptr when an error is expected
    int error;
};

void run_cases(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; i++) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.code);
        std::string text;
        Raised r = raised_by([&] { text = molded(eval_text(c.code)); });
        if (c.mold) {
            EXPECT_EQ(r.code, -1);
            EXPECT_EQ(text, c.mold);
        } else if (c.error == -1) {
            EXPECT_EQ(r.code, -1); // any text, no failure
        } else {
            EXPECT_EQ(r.code, c.error);
        }
    }
}

TEST_F(NumtimeLangTest, Time) {
    const Case cases[] = {
        {"make time! [1 2 3]", "1:02:03", 0},
        {"make time! [-1 30 0]", "-1:30:00", 0},
        {"make time! [1 -2 3]", nullptr, err::bad_to_arg},
        {"make time! [1 2 3 4]", nullptr, err::bad_to_arg},
        {"make time! [1.5 0 0]", nullptr, err::bad_to_arg},
        {"to time! \"12:30\"", "12:30:00", 0},
        {"to time! \"abc\"", nullptr, err::bad_to_arg},
        {"t: -1:30:15 reduce [t/hour t/minute t/second]", "[-1 30 -15.0]", 0},
        {"t: -1:30:00 t/hour: t/hour t", "-1:30:00", 0},
        {"t: -1:30:00 t/minute: t/minute t/second: t/second t", "-1:30:00", 0},
        {"t: 1:30:00 t/minute: 5 t", "1:05:00", 0},
        {"t: 1:30:00 t/hour: 1.5", nullptr, err::invalid_arg},
        {"pick 1:02:03 2", "2", 0},
        {"pick 1:02:03 4", nullptr, err::out_of_range},
        {"1:00:00 / 0:30:00", "2.0", 0},
        {"0:30:00 * 2", "1:00:00", 0},
        {"1:00:00 * 0:00:02", nullptr, err::not_related},
        {"odd? 0:00:02.9999999", "true", 0},
        {"even? 0:01:02", "true", 0},
        {"round 1:00:29.6", "1:00:30", 0},
        {"round/to 1:00:29 0:01:00", "1:00:00", 0},
        {"0:00:59.9999999", "0:01:00", 0},
        {"make time! 1e16", "2777777777777:46:40", 0},
        {"make time! [1 2 3.5]", "1:02:03.5", 0},
        {"to time! 90", "0:01:30", 0},
        {"negate 0:01:30", "-0:01:30", 0},
        {"0:00:00.0000001", "0:00:00", 0},
        {"0:00:05.25", "0:00:05.25", 0},
        {"make time! 1e300", nullptr, -1},
        {"t: make time! 1e300 t/hour", nullptr, err::type_limit},
    };
    run_cases(cases, std::size(cases));
}

TEST_F(NumtimeLangTest, Date) {
    const Case cases[] = {
        {"(make date! [2024 1 15]) = make date! [15 1 2024]", "true", 0},
        {"make date! [32 1 2024]", nullptr, err::bad_to_arg},
        {"to date! [32 1 2024]", "1-Feb-2024", 0},
        {"make date! [15 1 2024 10 30 0 1 0]", "15-Jan-2024/10:30:00+01:00", 0},
        {"make date! [15 1 2024 10:30 -3:30]", "15-Jan-2024/10:30:00-03:30", 0},
        {"make date! [15 1 2024 10:30 16:00]", nullptr, err::bad_to_arg},
        {"make date! [15 1 2024 24 0 0]", nullptr, err::bad_to_arg},
        {"make date! [15 1 99999]", nullptr, err::bad_to_arg},
        {"make date! [1 2]", nullptr, err::bad_to_arg},
        {"to date! 0", "1-Jan-1970/0:00:00", 0},
        {"to date! 86399", "1-Jan-1970/23:59:59", 0},
        {"to date! -1", "31-Dec-1969/23:59:59", 0},
        {"to integer! 19-Jan-2038/3:14:07", "2147483647", 0},
        {"to integer! 19-Jan-2038/3:14:08", nullptr, err::overflow},
        {"31-Jan-2024 + 1", "1-Feb-2024", 0},
        {"1-Mar-2024 - 1", "29-Feb-2024", 0},
        {"1-Mar-2023 - 1", "28-Feb-2023", 0},
        {"1-Jan-2024/23:00 + 2:00", "2-Jan-2024/1:00:00", 0},
        {"1-Mar-2024 - 1-Jan-2024", "60", 0},
        {"1 + 1-Jan-2024", "2-Jan-2024", 0},
        {"2:00 + 1-Jan-2024/23:00", "2-Jan-2024/1:00:00", 0},
        {"1-Jan-2024 + 1-Jan-2024", nullptr, err::not_related},
        {"1-Jan-2024 - 1:00 - 1-Jan-2024", "-1", 0},
        {"1-Jan-2024 + 1.5", nullptr, err::invalid_type},
        {"(make date! [31 12 16383]) + 1", nullptr, err::type_limit},
        {"(make date! [1 1 -16384]) - 1", nullptr, err::type_limit},
        {"make date! [1 1 -16384]", "1/Jan/-16384", 0},
        {"1-Jan-2024 + 1000000000", nullptr, err::type_limit},
        {"to date! [1 1 16000 0 2000000000 0]", nullptr, err::bad_to_arg},
        {"1-Jan-2024/0:10+05:30 + 0", "1-Jan-2024/0:10:00+05:30", 0},
        {"1-Jan-2024/0:10+05:30 - 0:20", "31-Dec-2023/23:50:00+05:30", 0},
        {"difference 2-Jan-2024/1:00 1-Jan-2024/23:00", "2:00:00", 0},
        {"1-Jan-2024/0:30+01:00 < 31-Dec-2023/23:31", "true", 0},
        {"1-Jan-2024/0:30+01:00 > 31-Dec-2023/23:29", "true", 0},
        {"1-Jan-2024/0:30+01:00 = 31-Dec-2023/23:30", "true", 0},
        {"d: 15-Jan-2024/10:30:00+01:00 reduce [d/year d/month d/day d/hour d/minute d/second "
         "d/zone d/weekday d/yearday d/julian d/isoweek d/week d/time d/date]",
         "[2024 1 15 10 30 0.0 1:00:00 1 15 15 3 3 10:30:00 15-Jan-2024]", 0},
        {"reduce [pick 1-Jan-2021 14 pick 1-Jan-2022 14 pick 31-Dec-2024 14]", "[53 52 1]", 0},
        {"d: 15-Jan-2024/10:00 d/zone: 2 d", "15-Jan-2024/10:00:00+02:00", 0},
        {"d: 15-Jan-2024/10:00 d/timezone: 2 d", "15-Jan-2024/12:00:00+02:00", 0},
        {"d: 15-Jan-2024/23:00 d/timezone: 5:30 d", "16-Jan-2024/4:30:00+05:30", 0},
        {"d: 15-Jan-2024/10:00 d/zone: 16:00 d", nullptr, err::invalid_arg},
        {"d: 15-Jan-2024 d/month: 13 d", "15-Jan-2025", 0},
        {"d: 15-Jan-2024 d/day: 32 d", "1-Feb-2024", 0},
        {"d: 29-Feb-2024 d/year: 2023 d", "1-Mar-2023", 0},
        {"d: 15-Jan-2024 d/year: 20000", nullptr, err::type_limit},
        {"d: 15-Jan-2024/10:00 d/time: none d", "15-Jan-2024", 0},
        {"d: 15-Jan-2024 d/zone", "none", 0},
        {"d: 1-Jan-2024/0:30+01:00 d/minute: 45 d", "1-Jan-2024/0:45:00+01:00", 0},
        {"d: 1-Jan-2024/0:10+05:30 d/hour: 23 d", "1-Jan-2024/23:10:00+05:30", 0},
        {"d: 15-Jan-2024 d/weekday: 7 d", "21-Jan-2024", 0},
        {"d: 15-Jan-2024 d/yearday: 60 d", "29-Feb-2024", 0},
        {"d: 15-Jan-2024 d/isoweek: 1 d", "1-Jan-2024", 0},
        {"d: 15-Jan-2024 d/week: 2 d", "7-Jan-2024", 0},
        {"d: 15-Jan-2024 d/month: \"x\"", nullptr, err::invalid_arg},
        {"pick 15-Jan-2024 15", nullptr, err::out_of_range},
        {"d: 15-Jan-2024 d/foo", nullptr, err::invalid_path},
        {"o: make object! [d: 15-Jan-2024] o/d/day: 20 o/d", "20-Jan-2024", 0},
        {"b: [15-Jan-2024] b/1/month: 2 b", "[15-Feb-2024]", 0},
        {"random/seed 1 d: random 1-Jan-2024/10:00 all [d < 2-Jan-2024 0.0 = remainder d/second "
         "24]",
         "true", 0},
    };
    run_cases(cases, std::size(cases));
}

TEST_F(NumtimeLangTest, Money) {
    const Case cases[] = {
        {"$1 / $3", "0.33333", 0},
        {"$1 / 3", "$0.33", 0},
        {"mold/all $1 / 3", "\"$0.33333\"", 0},
        {"$10 // $3", "$1.00", 0},
        {"-$10 // $3", "-$1.00", 0},
        {"USD$1 + EUR$1", nullptr, err::wrong_denom},
        {"USD$1 + $1", "USD$2.00", 0},
        {"$99999999999999999 + $1", nullptr, err::type_limit},
        {"$99999999999 * 1000000", "$99999999999000000.00", 0},
        {"$99999999999 * 10000000", nullptr, err::type_limit},
        {"$9999999999999999.9 * 100", nullptr, err::type_limit},
        {"$1 * $1", nullptr, err::invalid_type},
        {"$1 / 0", nullptr, err::zero_divide},
        {"$0 / $5", "0.0", 0},
        {"$1 < 1e20", "true", 0},
        {"$1 > 1e-6", "true", 0},
        {"make money! [USD 1.5]", "USD$1.50", 0},
        {"$12345678901234567 - $0.00001", "$12345678901234566.99", 0},
        {"-$5 + $5", "$0.00", 0},
        {"3 / $1", nullptr, err::invalid_type},
        {"3 * $1.5", "$4.50", 0},
        {"3 - $1", "$2.00", 0},
        {"0.5 * $3", "$1.50", 0},
        {"$0 + 0.3", "$0.30", 0},
        {"mold/all $0 + 0.3", "\"$0.30000\"", 0},
        {"to money! 0.1", "$0.10", 0},
        {"to money! 0.123456", nullptr, err::bad_make_arg},
        {"$0.10 = 0.1", "true", 0},
        {"$0.12345 < 0.123451", "true", 0},
        {"$1 = 1", "true", 0},
        {"1 < $2", "true", 0},
        {"round $2.5", "$3.00", 0},
        {"round/even $2.5", "$2.00", 0},
        {"round/even $3.5", "$4.00", 0},
        {"round/down -$2.7", "-$2.00", 0},
        {"round/floor -$2.2", "-$3.00", 0},
        {"round/ceiling -$2.7", "-$2.00", 0},
        {"round/half-down $2.5", "$2.00", 0},
        {"round/half-ceiling -$2.5", "-$2.00", 0},
        {"round/to $1.2345 0.01", "$1.23", 0},
        {"round/to $1.2355 $0.01", "$1.24", 0},
        {"round/to $17 5", "$15.00", 0},
        {"round/to $1 1:00", nullptr, err::not_related},
        {"to integer! $2147483647.99", "2147483647", 0},
        {"to integer! $2147483648", nullptr, err::type_limit},
        {"to integer! -$2147483648", "-2147483648", 0},
        {"to float! $1.5", "1.5", 0},
        {"to money! \"$12.50\"", "$12.50", 0},
        {"to money! \"abc\"", nullptr, err::bad_to_arg},
        {"make money! 'USD", "USD$0.00", 0},
        {"make money! 'XYZ", nullptr, err::bad_make_arg},
        {"make money! [USD 1 25000]", "USD$1.25", 0},
        {"make money! [-1 25000]", "-$1.25", 0},
        {"make money! [USD]", nullptr, err::bad_make_arg},
        {"make money! [1 100000]", nullptr, err::bad_make_arg},
        {"m: USD$5 reduce [m/code m/amount pick $5 1]", "[USD $5.00 none]", 0},
        {"m: $5 m/code: 'USD", nullptr, err::bad_path_set},
        {"pick $5 3", nullptr, err::out_of_range},
        {"reduce [even? $2.5 odd? $3]", "[true true]", 0},
        {"reduce [absolute -$3 negate $3]", "[$3.00 -$3.00]", 0},
        {"sort [EUR$1 $5 USD$1 $2]", "[$2.00 $5.00 EUR$1.00 USD$1.00]", 0},
        {"USD$1 < EUR$2", nullptr, err::wrong_denom},
        {"USD$1 == $1", "false", 0},
        {"m: $123.45 random/seed 7 r: random m all [r >= $0 r <= m]", "true", 0},
        {"form $1234567.5", "\"$1'234'567.50\"", 0},
    };
    run_cases(cases, std::size(cases));
}

TEST_F(NumtimeLangTest, PairAndTuple) {
    const Case cases[] = {
        {"3x4 * 2", "6x8", 0},
        {"3x3 / 2", "(1.5, 1.5)", 0},
        {"7x7 / 7", "1x1", 0},
        {"2147483647x1 + 1", "(2.147484e9, 2)", 0},
        {"10x20 * 0.5", "(5, 10)", 0},
        {"10x20 + 1.9", "11x21", 0},
        {"10x20 * 1.#NaN", nullptr, err::invalid_arg},
        {"10x20 + 1e300", nullptr, err::invalid_arg},
        {"2 * 3x4", "6x8", 0},
        {"2 - 3x4", "-1x-2", 0},
        {"2 / 3x4", nullptr, err::not_related},
        {"1.5 * 2x2", "(3, 3)", 0},
        {"1x2 + (0.5, 0.5)", "(1.5, 2.5)", 0},
        {"1x2 < 2x0", "true", 0},
        {"2147483647x0 > -1x0", "true", 0},
        {"1x2 = (1, 2)", "true", 0},
        {"to pair! \"3x4\"", "3x4", 0},
        {"to pair! \"abc\"", nullptr, err::bad_to_arg},
        {"to pair! (1.9, -2.9)", "1x-2", 0},
        {"to pair! (1e20, 1)", nullptr, err::invalid_arg},
        {"make pair! [1]", nullptr, err::malconstruct},
        {"make pair! [1 2.7]", "1x2", 0},
        {"p: 1x2 p/x: 5 p/y: p/x + 1 p", "5x6", 0},
        {"p: 1x2 p/x: 1.5", nullptr, err::invalid_type},
        {"reduce [pick 3x4 2 reverse 3x4 negate 3x4 absolute -3x4]", "[4 4x3 -3x-4 3x4]", 0},
        {"absolute -2147483648x0", nullptr, err::overflow},
        {"pick 3x4 3", nullptr, err::out_of_range},
        {"round/to 17x23 5", "15x25", 0},
        {"round/to 17x23 5x10", "15x20", 0},
        {"5x6 and 3x3", "1x2", 0},
        {"random/seed 3 r: random 10x-10 all [r/x >= 1 r/x <= 10 r/y <= -1 r/y >= -10]", "true", 0},
        {"200.100.50 + 100", "255.200.150", 0},
        {"1.2.3 - 5", "0.0.0", 0},
        {"1.2.3 * 1.5", "1.3.4", 0},
        {"2 - 1.2.3", nullptr, err::not_related},
        {"2 + 1.2.3", "3.4.5", 0},
        {"1.2.3 + 1.1.1.1", "2.3.4.1", 0},
        {"1.2.3 = 1.2.3.0", "true", 0},
        {"1.2.3 * 1.#NaN", "0.0.0", 0},
        {"1.2.3 / 0", nullptr, err::zero_divide},
        {"t: 1.2.3.4 t/4: none t", "1.2.3", 0},
        {"t: 1.2.3.4 t/2: 300 t", "1.255.3.4", 0},
        {"t: 1.2.3.4 t/13", nullptr, err::out_of_range},
        {"t: 1.2.3.4 t/1: 1.5", nullptr, err::invalid_type},
        {"to tuple! #FFF", "255.255.255", 0},
        {"to tuple! #F0A", "255.0.170", 0},
        {"to tuple! #12345678", "18.52.86.120", 0},
        {"to tuple! #12345", nullptr, err::invalid_data},
        {"to tuple! #GG0", nullptr, err::invalid_data},
        {"to tuple! [1 2]", "1.2.0", 0},
        {"to tuple! [1 256]", nullptr, err::bad_to_arg},
        {"to tuple! #{0102}", "1.2.0", 0},
        {"to tuple! \"1.2.3\"", "1.2.3", 0},
        {"complement 1.2.3", "254.253.252", 0},
        {"reverse 1.2.3.4", "4.3.2.1", 0},
        {"reverse/part 1.2.3.4 2", "2.1.3.4", 0},
        {"reverse/part 1.2.3 -1", nullptr, err::out_of_range},
        {"length? 1.2.3.4", "4", 0},
        {"o: make object! [c: 1.2.3] o/c/2: 9 o/c", "1.9.3", 0},
        {"log: none o: make object! [p: 1x2 on-change*: func [w old new] [log: reduce [w old "
         "new]]] "
         "o/p/x: 5 log",
         "[p 1x2 5x2]", 0},
    };
    run_cases(cases, std::size(cases));
}

TEST_F(NumtimeLangTest, Points) {
    const Case cases[] = {
        {"(1, 2) * 2.5", "(2.5, 5)", 0},
        {"(1, 2) + 1", "(2, 3)", 0},
        {"(1, 2) + 1x1", "(2, 3)", 0},
        {"(1, 2) / 0", "(1.#INF, 1.#INF)", 0},
        {"reverse (1, 2, 3)", "(3, 2, 1)", 0},
        {"reverse (1, 2)", "(2, 1)", 0},
        {"make point3D! [1 2]", nullptr, err::malconstruct},
        {"make point3D! 2x3", "(2, 3, 0)", 0},
        {"make point2D! 5", "(5, 5)", 0},
        {"(1, 2, 3) + 1x1", nullptr, err::invalid_type},
        {"p: (1, 2) p/y: 7 p", "(1, 7)", 0},
        {"p: (1, 2, 3) reduce [p/z pick p 1]", "[3.0 1.0]", 0},
        {"p: (1, 2) p/x: \"a\"", nullptr, err::invalid_type},
        {"round (1.4, 2.6)", "(1, 3)", 0},
        {"round/to (1.26, 2.34) 0.1", "(1.3, 2.3)", 0},
        {"round/to (17, 23) 5x10", "(15, 20)", 0},
        {"negate (1, -2)", "(-1, 2)", 0},
        {"absolute (-1, -2, 3)", "(1, 2, 3)", 0},
        {"(0.1, 0.2) = (0.1, 0.2)", "true", 0},
        {"(1, 2) < (1, 3)", "true", 0},
        {"random/seed (1, 2) a: random 100 random/seed (1, 2) a = random 100", "true", 0},
    };
    run_cases(cases, std::size(cases));
}

} // namespace
} // namespace mox::test
