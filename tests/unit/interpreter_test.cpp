// The interpreter's C++ interface: block and one-expression evaluation, the
// stack discipline of calls, calling values from C++, argument templates,
// and deep recursion ending in the catchable stack-overflow error.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/actions.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

class InterpreterTest : public RuntimeTest {};

// The global value of a word.
Cell* global(const char* name) { return word::get_value(word::load(name)); }

TEST_F(InterpreterTest, BlocksLeaveTheStackAsTheyFoundIt) {
    const char* cases[] = {"",
                           "1 2 3",
                           "x: y: 5 x + y",
                           "(1 + (2 * 3))",
                           "f: func [a] [a] f f 1",
                           "b: [1 2] b/2: 3 b"};
    for (const char* text : cases) {
        Cell* before = stack::top;
        EXPECT_MOX_OK({
            stack::Frame* frames = stack::ctop;
            Cell* code = load(text);
            Cell* mark = stack::top;
            Cell result = {TYPE_UNSET, 0, 0, 0};
            collector::Root keep(&result);
            interpreter::do_block(code, &result);
            EXPECT_EQ(stack::top, mark) << text;
            EXPECT_EQ(stack::ctop, frames) << text;
        });
        EXPECT_EQ(stack::top, before);
    }
}

TEST_F(InterpreterTest, EvalBlockPutsTheResultWhereAsked) {
    EXPECT_MOX_OK({
        Cell* code = load("1 + 2");
        // Without keep the value is pushed where the top stood.
        Cell* at = stack::top;
        interpreter::eval_block(code, false);
        EXPECT_EQ(stack::top, at + 1);
        EXPECT_EQ(mold(at), "3");
        // With keep it becomes the running call's result slot.
        stack::mark_native(nullptr);
        Cell* slot = make_none(stack::push_cell());
        Cell* working = stack::push_cell();
        interpreter::eval_block(code, true);
        EXPECT_EQ(mold(slot), "3");
        EXPECT_EQ(stack::top, working + 1);
        stack::unwind();
    });
}

TEST_F(InterpreterTest, EvalNextStepsOneExpressionAtATime) {
    EXPECT_MOX_OK({
        Cell* code = load("1 + 2 3 * 4");
        stack::mark_native(nullptr);
        Cell* slot = stack::push_cell();
        Cell* blk = stack::push(code);
        int32_t next = interpreter::eval_next(blk);
        EXPECT_EQ(next, 3);
        EXPECT_EQ(mold(slot), "3");
        blk->data1 = static_cast<uint32_t>(next);
        next = interpreter::eval_next(blk);
        EXPECT_EQ(next, 6);
        EXPECT_EQ(mold(slot), "12");
        blk->data1 = static_cast<uint32_t>(next);
        EXPECT_EQ(interpreter::eval_next(blk), 6);
        EXPECT_EQ(type_of(slot), TYPE_UNSET);
        stack::unwind();
    });
}

TEST_F(InterpreterTest, EvalSinglePushesOrSetsTheResult) {
    EXPECT_MOX_OK({
        Cell* code = load("2 * 3 + 1 99");
        Cell* at = stack::top;
        EXPECT_EQ(interpreter::eval_single(code, 0, interpreter::tail_of(code), true), 5);
        EXPECT_EQ(stack::top, at + 1);
        EXPECT_EQ(mold(at), "7");
    });
}

TEST_F(InterpreterTest, CallValueCallsEveryKindOfCallable) {
    eval("sub: func [a b] [a - b]  minus: make op! :sub");
    struct Case {
        const char* callable;
        int32_t a, b;
        const char* expected;
    } cases[] = {
        {"sub", 10, 3, "7"},       // function!
        {"subtract", 10, 3, "7"},  // action!
        {"minus", 10, 3, "7"},     // op! made from a function
        {"+", 1, 2, "3"},          // op! made from an action
        {"lesser?", 1, 2, "true"}, // native!
    };
    for (const Case& c : cases) {
        EXPECT_MOX_OK({
            Cell args[2];
            make_integer(&args[0], c.a);
            make_integer(&args[1], c.b);
            Cell result = {TYPE_UNSET, 0, 0, 0};
            collector::Root keep(&result);
            interpreter::call_value(global(c.callable), args, 2, &result);
            EXPECT_EQ(mold(&result), c.expected) << c.callable;
        });
    }
}

TEST_F(InterpreterTest, CallValueChecksItsArguments) {
    eval("two: func [a [integer!] b] [a]");
    Cell args[2];
    make_integer(&args[0], 1);
    Cell result;
    make_none(&result);
    EXPECT_MOX_ERROR(err::no_arg, interpreter::call_value(global("two"), args, 1, &result));
    string::make_at(&args[0], 1, 1);
    make_integer(&args[1], 1);
    collector::Root keep(&args[0]);
    EXPECT_MOX_ERROR(err::expect_arg, interpreter::call_value(global("two"), args, 2, &result));
    Cell number;
    make_integer(&number, 5);
    EXPECT_MOX_ERROR(err::invalid_type, interpreter::call_value(&number, args, 0, &result));
}

TEST_F(InterpreterTest, ExitsLeavingACallFromCppBecomeExceptions) {
    // A break reaches C++ code that cannot return it as the exception; with
    // no loop to take it, it is the break error.
    eval("brk: func [] [break]");
    Cell result;
    make_none(&result);
    EXPECT_MOX_ERROR(err::break_, interpreter::call_value(global("brk"), nullptr, 0, &result));
    EXPECT_EQ(stack::pending, 0u);
    // Through a comparator, the loop around the sort takes it.
    EXPECT_EQ(eval("loop 1 [sort/compare [2 1 3] func [a b] [break]] 7"), "7");
    EXPECT_EQ(eval("sort/compare [2 1 3] func [a b] [a > b]"), "[3 2 1]");
    EXPECT_EQ(eval("sort/compare \"bca\" func [a b] [a < b]"), "\"abc\"");
}

TEST_F(InterpreterTest, TemplateAndOpSourceKeepSeparateCells) {
    EXPECT_EQ(eval("f: func [a b] [a * 10 + b]  op-of-f: make op! :f  (1 op-of-f 2) + f 3 4"),
              "46");
    Cell* fn = global("f");
    Cell* extra = function::extra_of(fn);
    EXPECT_EQ(type_of(&extra[function::EXTRA_TEMPLATE]), TYPE_BLOCK);
    EXPECT_EQ(type_of(&extra[function::EXTRA_OP]), TYPE_FUNCTION);
    // Calls through either keep working once both are cached.
    EXPECT_EQ(eval("(5 op-of-f 6) + f 7 8"), "134");
}

// Text of a value nested n levels deep: open, the innermost text, close.
std::string nested(int n, const std::string& open, const std::string& inner,
                   const std::string& close) {
    std::string text;
    for (int i = 0; i < n; i++) text += open;
    text += inner;
    for (int i = 0; i < n; i++) text += close;
    return text;
}

TEST_F(InterpreterTest, DeepRecursionEndsInACatchableError) {
    const std::string cases[] = {
        "f: func [n] [f n + 1] f 1",
        "g: func [] [1 + g] g",
        "k: func [b] [do b]  r: func [] [k [r]]  r",
        nested(20000, "(", "1", ")"),
        "do " + nested(10000, "[do ", "1", "]"),
    };
    for (const std::string& text : cases) {
        EXPECT_EQ(eval(text), "error " + std::to_string(err::stack_overflow)) << text.substr(0, 40);
        // The stacks are usable again afterwards.
        EXPECT_EQ(eval("1 + 1"), "2");
    }
}

} // namespace
} // namespace mox::test
