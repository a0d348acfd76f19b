// The exit path: codes, texts, and the fatal conditions of start-up.
#include "core/datatype.h"
#include "core/value.h"
#include "platform/platform.h"
#include "program/startup.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

// Exit statuses as the parent sees them: Windows keeps the whole 32-bit
// value, POSIX its low byte.
int status(int code) {
#ifdef _WIN32
    return code;
#else
    return code & 0xFF;
#endif
}

void boxes_to_stderr() { platform::set_env(u"MOX_ERROR_BOX", u"stderr"); }

TEST(ExitPathTest, RuntimeErrorTexts) {
    struct Case {
        int code;
        const char* text;
    } cases[] = {{1, "access violation"},
                 {6, "float denormal operan"},
                 {19, "stack error or overflow"},
                 {34, "Bus error"},
                 {94, "out of memory"},
                 {95, "no CATCH for THROW"},
                 {98, "assertion failed"},
                 {99, "unknown error"},
                 {100, "no value matched in CASE"},
                 {101, "no value matched in SWITCH"},
                 {35, "unknown error code!"},
                 {102, "unknown error code!"}};
    for (const Case& c : cases) EXPECT_STREQ(runtime_error_text(c.code), c.text) << c.code;
}

TEST(ExitPathDeathTest, FatalCodesShowTheBoxAndExitWithTheCode) {
    EXPECT_EXIT((boxes_to_stderr(), sys_quit(94, 0x1234)), testing::ExitedWithCode(status(94)),
                "Mox App Error: \\*\\*\\* Runtime Error 94: out of memory");
    EXPECT_EXIT((boxes_to_stderr(), sys_quit(95, 0xABCDEF)), testing::ExitedWithCode(status(95)),
                "at: 00ABCDEFh");
}

TEST(ExitPathDeathTest, CodeZeroExitsQuietly) {
    EXPECT_EXIT((boxes_to_stderr(), sys_quit(0, 0)), testing::ExitedWithCode(0), "^$");
}

// A registration with a wrong action count is a build fault of the runtime:
// it is reported and the process fails (it does not exit with 0).
TEST(ExitPathDeathTest, WrongActionCountFails) {
    test::boot();
    ActionFn slots[61] = {};
    EXPECT_EXIT(datatype::register_type(TYPE_EVENT, 0, "bad!", slots, 61),
                testing::ExitedWithCode(status(1)), "");
}

TEST(ExitPathDeathTest, UncaughtErrorShowsTheReportAndExitsMinusTwo) {
    test::boot();
    EXPECT_EXIT((boxes_to_stderr(), fire(err::zero_divide)), testing::ExitedWithCode(status(-2)),
                "Mox NoName App: \\*\\*\\* Math Error");
}

} // namespace
} // namespace mox
