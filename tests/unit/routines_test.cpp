// Routines and native bodies: making routine! values while the boot source
// loads, calling them through every road the interpreter offers (words,
// paths, apply, operators, C++), their reflection, and C++ bodies bound to
// ordinary functions by name, with the switch that leaves them unbound.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/actions.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/function.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "program/boot.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

class RoutinesTest : public RuntimeTest {};

// Evaluates text as the boot source would (make routine! allowed).
std::string eval_as_boot(const std::string& text) {
    boot::loading = true;
    std::string out = eval(text);
    boot::loading = false;
    return out;
}

// Slots: a, b, /scale, factor, /local, t. Gives a + b, times factor with
// /scale; allocates on the way so that stress runs move things around.
void sum_body() {
    Cell* a = stack::arguments;
    int32_t r = get_integer(a) + get_integer(a + 1);
    string::push_new(64);
    if (type_of(a + 2) != TYPE_LOGIC) fire(err::not_done);
    if (a[2].data1)
        r *= get_integer(a + 3);
    else if (type_of(a + 3) != TYPE_NONE)
        fire(err::not_done);
    if (type_of(a + 5) != TYPE_NONE) fire(err::not_done);
    make_integer(stack::arguments, r);
}

// Evaluates its block argument and gives its value, passing exits on.
void eval_body() { interpreter::eval_block(stack::arguments, true); }

// Raises an error from the middle of a call.
void failing_body() {
    Cell v = stack::arguments[0];
    fire(err::invalid_arg, &v);
}

void ten_times_body() { make_integer(stack::arguments, get_integer(stack::arguments) * 10); }

void register_test_bodies() {
    static bool done = false;
    if (done) return;
    done = true;
    routines::register_("test-sum", &sum_body);
    routines::register_("test-eval", &eval_body);
    routines::register_("test-fail", &failing_body);
}

class RoutineCalls : public RoutinesTest {
  protected:
    static void SetUpTestSuite() {
        RoutinesTest::SetUpTestSuite();
        register_test_bodies();
        ASSERT_EQ(
            eval_as_boot("rt-sum: make routine! [[\"Adds\" a [integer!] b [integer!] "
                         "/scale factor [integer!] /local t] test-sum] "
                         "rt-eval: make routine! [[code [block!]] test-eval] "
                         "rt-fail: make routine! [[v] test-fail] "
                         "rt-obj: make object! [f: make routine! [[code [block!]] test-eval]] 0"),
            "0");
    }
};

TEST_F(RoutineCalls, EveryRoadToACallReachesTheBody) {
    const struct {
        const char* code;
        const char* expected;
    } cases[] = {
        {"rt-sum 2 3", "5"},
        {"rt-sum/scale 2 3 4", "20"},
        {"rt-sum 1 rt-sum 2 3", "6"},
        {"apply :rt-sum [2 3]", "5"},
        {"apply :rt-sum [2 3 /scale true 10]", "50"},
        {"apply/all :rt-sum [2 3 true 10]", "50"},
        {"plus: make op! :shift-left 1 plus 5", "32"},
        {"rt-obj/f [7 + 8]", "15"},
        {"f: :rt-sum f 1 1", "2"},
        {"do reduce [:rt-sum 6 6]", "12"},
        {"rt-eval [1 + 2]", "3"},
        {"g: func [x] [rt-sum x x] g 21", "42"},
    };
    for (const auto& c : cases) EXPECT_EQ(eval(c.code), c.expected) << c.code;
}

TEST_F(RoutineCalls, ArgumentsAreCheckedAgainstTheSpec) {
    EXPECT_EQ(eval("rt-sum 1 \"x\""), "error " + std::to_string(err::expect_arg));
    EXPECT_EQ(eval("rt-sum 1"), "error " + std::to_string(err::no_arg));
    EXPECT_EQ(eval("rt-sum/nope 1 2"), "error " + std::to_string(err::no_refine));
}

TEST_F(RoutineCalls, ErrorsAndExitsLeaveTheStacksSound) {
    Cell* top = stack::top;
    stack::Frame* ctop = stack::ctop;
    EXPECT_EQ(eval("rt-fail 5"), "error " + std::to_string(err::invalid_arg));
    EXPECT_EQ(eval("try [rt-fail 5] 1"), "1");
    EXPECT_EQ(eval("loop 3 [rt-eval [break] 5] 7"), "7");
    EXPECT_EQ(eval("catch [rt-eval [throw 9] 1]"), "9");
    EXPECT_EQ(eval("h: func [] [rt-eval [return 4] 5] h"), "4");
    EXPECT_EQ(eval("x: 0 loop 3 [x: x + rt-eval [continue 1]] x"), "0");
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(stack::ctop, ctop);
}

TEST_F(RoutineCalls, ReflectionSeesTheSpecAndAPlaceholderBody) {
    EXPECT_EQ(eval("type? :rt-sum"), "routine!");
    EXPECT_EQ(eval("reflect :rt-eval 'spec"), "[code [block!]]");
    EXPECT_EQ(eval("reflect :rt-eval 'body"), "[]");
    EXPECT_EQ(eval("reflect :rt-sum 'words"), "[a b scale factor local t]");
    EXPECT_EQ(eval("mold :rt-eval"), "\"routine [code [block!]][]\"");
    EXPECT_EQ(eval("form :rt-eval"), "\"?routine?\"");
    EXPECT_EQ(eval("find any-function! routine!"), "true");
    EXPECT_EQ(eval(":rt-sum = :rt-sum"), "true");
    EXPECT_EQ(eval(":rt-sum = :rt-eval"), "false");
    // The header counts the word! arguments.
    Cell* r = word::get_value(word::load("rt-sum"));
    EXPECT_EQ((r->header >> FLAG_ROUTINE_ARGS_SHIFT) & 31, 4u); // a b factor t
}

TEST_F(RoutineCalls, CallValueFromCpp) {
    Cell* r = word::get_value(word::load("rt-sum"));
    EXPECT_MOX_OK({
        Cell args[2];
        make_integer(&args[0], 40);
        make_integer(&args[1], 2);
        Cell out;
        interpreter::call_value(r, args, 2, &out);
        EXPECT_EQ(mold(&out), "42");
    });
}

TEST_F(RoutinesTest, MakeRoutineOnlyWhileTheBootSourceLoads) {
    register_test_bodies();
    EXPECT_EQ(eval("make routine! [[a] test-sum]"), "error " + std::to_string(err::routines));
    const char* bad[] = {
        "make routine! [[a] no-such-body]",
        "make routine! [[a] \"test-sum\"]",
        "make routine! [[a]]",
        "make routine! [[a] test-sum extra]",
        "make routine! 5",
    };
    for (const char* code : bad)
        EXPECT_EQ(eval_as_boot(code), "error " + std::to_string(err::bad_make_arg)) << code;
    EXPECT_EQ(eval_as_boot("make routine! [[a a] test-sum]"),
              "error " + std::to_string(err::dup_vars));
    EXPECT_EQ(eval_as_boot("make routine! [[a \"doc\" [integer!]] test-sum]"),
              "error " + std::to_string(err::bad_func_def));
}

TEST_F(RoutinesTest, NativeBodiesReplaceTheMoxBodyOnlyWhenBound) {
    ASSERT_EQ(eval("nb-one: func [a [integer!]] [a + 1] nb-two: func [a] [a + 2] "
                   "nb-obj: make object! [m: func [a] [a + 3]] 0"),
              "0");
    routines::bind_native_body("nb-one", &ten_times_body);
    routines::bind_native_body("nb-obj/m", &ten_times_body);
    routines::bind_native_body("nb-missing", &ten_times_body);
    routines::bind_native_body("nb-one/x", &ten_times_body);
    routines::bind_native_bodies();
    EXPECT_EQ(eval("nb-one 5"), "50");
    EXPECT_EQ(eval("nb-obj/m 5"), "50");
    EXPECT_EQ(eval("nb-two 5"), "7");
    // The Mox spec still checks, and the Mox source is still there.
    EXPECT_EQ(eval("nb-one \"x\""), "error " + std::to_string(err::expect_arg));
    EXPECT_EQ(eval("reflect :nb-one 'body"), "[a + 1]");
    // A new function made from the same source runs its Mox body.
    EXPECT_EQ(eval("f: func reflect :nb-one 'spec reflect :nb-one 'body f 5"), "6");

    // Under the switch nothing more is bound.
    routines::mox_bodies = true;
    routines::bind_native_body("nb-two", &ten_times_body);
    routines::bind_native_bodies();
    routines::mox_bodies = false;
    EXPECT_EQ(eval("nb-two 5"), "7");
    // The request was used up: binding again later binds nothing.
    routines::bind_native_bodies();
    EXPECT_EQ(eval("nb-two 5"), "7");
}

} // namespace
} // namespace mox::test
