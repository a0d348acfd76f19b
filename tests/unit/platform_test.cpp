// The platform layer as the runtime sees it: virtual memory, fault codes,
// the UTF-8 encoder, clock arithmetic, environment, directories, random
// bytes and the error box sent to standard error. Runs on the native build
// and under Wine.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/clock-math.h"
#include "platform/utf8.h"

namespace mox {
namespace {

using platform::clock_math::kMaxSleepMs;

// ---------------------------------------------------------------------------
// UTF-8
// ---------------------------------------------------------------------------

// The bytes are Python's (chr(cp).encode("utf-8", "surrogatepass")): every
// length boundary, and surrogates written like any other code point.
TEST(Utf8, EncodesEveryLengthAndSurrogates) {
    struct Case {
        uint32_t cp;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {0x0, {0x00}},
        {0x41, {0x41}},
        {0x7F, {0x7F}},
        {0x80, {0xC2, 0x80}},
        {0xE9, {0xC3, 0xA9}},
        {0x7FF, {0xDF, 0xBF}},
        {0x800, {0xE0, 0xA0, 0x80}},
        {0x20AC, {0xE2, 0x82, 0xAC}},
        {0xD800, {0xED, 0xA0, 0x80}},
        {0xDFFF, {0xED, 0xBF, 0xBF}},
        {0xFFFD, {0xEF, 0xBF, 0xBD}},
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}},
        {0x1F600, {0xF0, 0x9F, 0x98, 0x80}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
    };
    for (const Case& c : cases) {
        uint8_t out[4] = {};
        const int n = platform::encode_utf8(c.cp, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << std::hex << c.cp;
        char chars[4] = {};
        ASSERT_EQ(platform::encode_utf8(c.cp, chars), n);
        EXPECT_EQ(std::memcmp(chars, out, static_cast<size_t>(n)), 0) << std::hex << c.cp;
    }
}

// ---------------------------------------------------------------------------
// Clock arithmetic
// ---------------------------------------------------------------------------

TEST(ClockMath, ZoneField) {
    struct Case {
        int minutes;
        uint32_t field;
    } cases[] =
        {
            {0, 0x00},       {-210, 0x4E},     {345, 0x17},  {-30, 0x42}, {30, 0x02},
            {-45, 0x43},     {60, 0x04},       {-60, 0x44},  {-59, 0x43}, {14, 0x00},
            {-14, 0x00},     {840, 0x38},      {-720, 0x70}, {330, 0x16}, {-570, 0x66},
            {16 * 60, 0x3F}, {-16 * 60, 0x7F}, // beyond what the field holds: clamped
        };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::pack_zone(c.minutes), c.field) << c.minutes << " minutes";
    }
}

TEST(ClockMath, WaitMilliseconds) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        double seconds;
        uint32_t ms;
    } cases[] = {
        {0.25, 250},
        {1.5, 1500},
        {0.001, 1},
        {0.0, 1},
        {-0.0, 1},
        {-3.0, 1},
        {0.0004, 1},
        {std::numeric_limits<double>::denorm_min(), 1},
        {std::nan(""), 1},
        {-kInf, 1},
        {kInf, kMaxSleepMs},
        {1e300, kMaxSleepMs},
        {std::numeric_limits<double>::max(), kMaxSleepMs},
        {4294967.295, kMaxSleepMs},
        {4294967.0, 4294967000u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::clock_math::wait_milliseconds(c.seconds), c.ms) << c.seconds << " s";
    }
}

TEST(ClockMath, WaitWithDegenerateDurationsReturns) {
    for (double s : {std::nan(""), -std::numeric_limits<double>::infinity(), -1.0, 0.0}) {
        platform::wait(s);
    }
}

TEST(ClockMath, FileTimeTicksModulo10000) {
    // Oracle: the 64-bit remainder.
    std::mt19937_64 gen(20240601);
    auto check = [](uint64_t t) {
        EXPECT_EQ(platform::clock_math::ticks_mod_10000(static_cast<uint32_t>(t),
                                                        static_cast<uint32_t>(t >> 32)),
                  t % 10000)
            << std::hex << t;
    };
    for (uint64_t t : {0ull, 1ull, 9999ull, 10000ull, (1ull << 30) - 1, 1ull << 30, 1ull << 47,
                       (1ull << 47) - 1, ~0ull, 133612345678901234ull}) {
        check(t);
    }
    for (int i = 0; i < 10000; i++) check(gen());
}

TEST(Clock, TimeAndDateAreInRange) {
    double whole = platform::get_time(false);
    EXPECT_EQ(whole, std::floor(whole));
    EXPECT_GE(whole, 0.0);
    EXPECT_LT(whole, 86400.0);
    double precise = platform::get_time(true);
    EXPECT_GE(precise, 0.0);
    EXPECT_LT(precise, 86400.0);

    for (bool utc : {true, false}) {
        uint32_t d = platform::get_date(utc);
        uint32_t year = d >> 17, month = d >> 12 & 0x1F, day = d >> 7 & 0x1F;
        EXPECT_GE(year, 2024u);
        EXPECT_GE(month, 1u);
        EXPECT_LE(month, 12u);
        EXPECT_GE(day, 1u);
        EXPECT_LE(day, 31u);
        if (utc) {
            EXPECT_EQ(d & 0x7F, 0u);
        }
    }
}

// ---------------------------------------------------------------------------
// Virtual memory
// ---------------------------------------------------------------------------

TEST(VirtualMemory, ReserveCommitDecommit) {
    size_t page = platform::page_size();
    ASSERT_GE(page, 4096u);
    ASSERT_EQ(page & (page - 1), 0u);

    // Big reservations cost no memory (the 64-bit build reserves 4 GiB).
    const size_t big = sizeof(void*) > 4 ? size_t(0xFFFFFFFF) + 1 : size_t{256} << 20;
    void* range = platform::reserve(big);
    ASSERT_NE(range, nullptr);
    auto* p = static_cast<uint8_t*>(range) + 16 * page;
    ASSERT_TRUE(platform::commit(p, 2 * page));
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[2 * page - 1], 0);
    std::memset(p, 0xAB, 2 * page);
    platform::decommit(p, 2 * page);
    ASSERT_TRUE(platform::commit(p, 2 * page));
    EXPECT_EQ(p[0], 0) << "decommitted pages come back zero-filled";
    EXPECT_EQ(p[page], 0);
    platform::release(range, big);

    void* fresh = platform::alloc_virtual(3 * page, false);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(fresh) % page, 0u);
    std::memset(fresh, 1, 3 * page);
    EXPECT_TRUE(platform::free_virtual(fresh, 3 * page));
}

// ---------------------------------------------------------------------------
// Fault codes: each case faults in a child process whose handler exits with
// the code it was given.
// ---------------------------------------------------------------------------

[[noreturn]] void exit_with_code(int code, uintptr_t) { std::_Exit(code); }

// Both operands are opaque: a known dividend lets the compiler answer
// without dividing.
__attribute__((noinline, no_sanitize("undefined"))) int divide(int a, int b) {
    volatile int dividend = a, divisor = b;
    return dividend / divisor;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int recurse(int depth) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    return recurse(depth + 1) + pad[0];
}
#pragma GCC diagnostic pop

// The children re-run the binary from the start rather than fork: fault
// handlers and signal state of the parent stay out of them.
class Faults : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        saved_style = GTEST_FLAG_GET(death_test_style);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    static void TearDownTestSuite() { GTEST_FLAG_SET(death_test_style, saved_style); }
    static inline std::string saved_style;
};

TEST_F(Faults, AccessToDecommittedPage) {
    EXPECT_EXIT(
        {
            platform::install_fault_handler(exit_with_code);
            size_t page = platform::page_size();
            auto* range = static_cast<volatile uint8_t*>(platform::reserve(16 * page));
            platform::commit(const_cast<uint8_t*>(range), page);
            range[0] = 1;
            platform::decommit(const_cast<uint8_t*>(range), page);
            range[0] = 2;
        },
        testing::ExitedWithCode(1), "");
}

TEST_F(Faults, IntegerDivideByZero) {
    EXPECT_EXIT(
        {
            platform::install_fault_handler(exit_with_code);
            std::_Exit(divide(1, 0) == 0 ? 200 : 201);
        },
        testing::ExitedWithCode(13), "");
}

TEST_F(Faults, IllegalInstruction) {
    EXPECT_EXIT(
        {
            platform::install_fault_handler(exit_with_code);
            __builtin_trap();
        },
        testing::ExitedWithCode(17), "");
}

TEST_F(Faults, StackOverflow) {
    EXPECT_EXIT(
        {
            platform::record_stack_bounds();
            platform::install_fault_handler(exit_with_code);
            std::_Exit(recurse(0));
        },
        testing::ExitedWithCode(19), "");
}

#ifndef _WIN32
TEST_F(Faults, InterruptExitsQuietly) {
    EXPECT_EXIT(
        {
            platform::install_fault_handler(exit_with_code);
            std::raise(SIGINT);
            std::_Exit(3);
        },
        testing::ExitedWithCode(0), "^$");
}
#endif

// ---------------------------------------------------------------------------
// Process
// ---------------------------------------------------------------------------

TEST(Process, StackBoundsEncloseTheStack) {
    platform::record_stack_bounds();
    int local = 0;
    auto here = reinterpret_cast<uintptr_t>(&local);
    EXPECT_LT(platform::stack_low(), here);
    EXPECT_GT(platform::stack_high(), here);
}

TEST(Process, ArgumentVector) {
    // Oracle: the argument vector the C runtime gave main.
    const std::vector<std::string> expected = testing::internal::GetArgvs();
    platform::init_process();
    ASSERT_EQ(platform::arg_count(), static_cast<int>(expected.size()));
    const char* const* argv = platform::arg_vector();
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(argv[i], expected[i]) << i;
    EXPECT_EQ(argv[expected.size()], nullptr);
    // The whole line ends with the last argument (a plain ASCII name here).
    std::string last = expected.back().substr(expected.back().find_last_of("/\\") + 1);
    std::u16string line(platform::command_line());
    EXPECT_NE(line.find(std::u16string(last.begin(), last.end())), std::u16string::npos) << last;
}

TEST(Process, ErrorBoxToStandardError) {
    const char16_t* saved_name = u"MOX_ERROR_BOX";
    char16_t saved[64];
    int had = platform::get_env(saved_name, saved, 64);
    ASSERT_TRUE(platform::set_env(saved_name, u"stderr"));
    testing::internal::CaptureStderr();
    platform::show_error_box(u"Mox App Error",
                             u"*** Runtime Error 1: caf\u00E9\n*** at: 00000000h");
    std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(text, "Mox App Error: *** Runtime Error 1: caf\xC3\xA9\n*** at: 00000000h\n");
    platform::set_env(saved_name, had ? saved : nullptr);
}

TEST(Process, StandardOutputBytes) {
    testing::internal::CaptureStdout();
    platform::write_stdout("a\n\xC3\xA9", 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a\n\xC3\xA9");
}

// ---------------------------------------------------------------------------
// Environment, directories, random source
// ---------------------------------------------------------------------------

TEST(Environment, SetGetDelete) {
    const char16_t* name = u"MOX_PLATFORM_TEST";
    const std::u16string value = u"v\u00E4l\u20AC \U0001F600";
    ASSERT_TRUE(platform::set_env(name, value.c_str()));

    char16_t buf[32];
    int n = platform::get_env(name, buf, 32);
    ASSERT_EQ(n, static_cast<int>(value.size()));
    EXPECT_EQ(std::u16string(buf, n), value);
    EXPECT_EQ(buf[n], 0);

    // Too small: the size needed, with the terminating NUL.
    EXPECT_EQ(platform::get_env(name, buf, 3), static_cast<int>(value.size()) + 1);

    ASSERT_TRUE(platform::set_env(name, nullptr));
    EXPECT_EQ(platform::get_env(name, buf, 32), 0);
    EXPECT_EQ(platform::get_env(u"MOX_PLATFORM_TEST_NEVER_SET", buf, 32), 0);
}

TEST(Directories, CurrentDirectory) {
    int length = -1;
    char16_t* dir = platform::get_current_dir(&length);
    ASSERT_NE(dir, nullptr);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::char_traits<char16_t>::length(dir), static_cast<size_t>(length));
    EXPECT_TRUE(platform::set_current_dir(dir));
    EXPECT_FALSE(platform::set_current_dir(u"no such folder \u00E9"));
    int again = -1;
    char16_t* same = platform::get_current_dir(&again);
    EXPECT_EQ(std::u16string(same, again), std::u16string(dir, length));
    std::free(same);
    std::free(dir);
}

TEST(SecureRandom, FillsTheBuffer) {
    uint8_t a[64] = {}, b[64] = {};
    ASSERT_TRUE(platform::secure_random(a, sizeof a));
    ASSERT_TRUE(platform::secure_random(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    int zeros = 0;
    for (uint8_t x : a) zeros += x == 0;
    EXPECT_LT(zeros, 16);
}

} // namespace
} // namespace mox
