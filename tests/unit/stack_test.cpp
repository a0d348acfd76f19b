// The evaluation stack: calling discipline, unwinding, overflow, the
// non-local exits (by exception and by return) and the call reports.
#include <string>

#include "core/context.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"
#include "string_fixture.h"

namespace mox {
namespace {

class StackTest : public test::RuntimeTest {
  protected:
    void TearDown() override {
        stack::pending = 0;
        test::RuntimeTest::TearDown();
    }

    // A global word whose value is set to the given cell.
    static Cell global(const char* name, const Cell& value) {
        Cell word = *word::load(name);
        word::set(&word, &value);
        return word;
    }

    // A function! (or native!) value with real, empty blocks behind it.
    static Cell callable(uint32_t type) {
        Cell c{type, memory::alloc_cells(2), memory::alloc_cells(2), memory::alloc_cells(5)};
        if (type == TYPE_NATIVE) c.data1 = 1;
        return c;
    }
};

TEST_F(StackTest, EveryCallLeavesExactlyItsResult) {
    Cell* caller_top = stack::top;
    Cell* args = stack::mark_native(nullptr);
    EXPECT_EQ(args, caller_top);
    make_integer(stack::push_cell(), 1);
    make_integer(stack::push_cell(), 2);
    make_integer(stack::push_cell(), 3); // scratch
    stack::set_last(stack::arguments + 1);
    stack::unwind();
    EXPECT_EQ(stack::top, caller_top + 1);
    EXPECT_EQ(get_integer(caller_top), 2);
}

TEST_F(StackTest, UnwindFormsRestoreTheCaller) {
    Cell* caller_args = stack::arguments;
    Cell* base = stack::top;
    stack::mark_native(nullptr);
    make_integer(stack::push_cell(), 7);
    stack::unwind_drop();
    EXPECT_EQ(stack::top, base);
    EXPECT_EQ(stack::arguments, caller_args);

    stack::mark_native(nullptr);
    make_integer(stack::push_cell(), 1);
    stack::mark_native(nullptr);
    make_integer(stack::push_cell(), 9);
    stack::unwind_last(); // the inner result replaces the outer one
    EXPECT_EQ(get_integer(stack::arguments), 9);
    stack::unwind();
    EXPECT_EQ(stack::top, base + 1);
}

// A function frame saves its context's values reference and every pop,
// normal or not, restores it: recursion leaves outer activations valid.
TEST_F(StackTest, FunctionFramesRestoreTheirContext) {
    Cell* fn = stack::push_cell();
    *fn = callable(TYPE_FUNCTION);
    node_t ctx = fn->data1;
    Cell* record = memory::buffer_of(ctx)->cells();
    record->header = TYPE_CONTEXT | FLAG_CONTEXT_ON_STACK;
    record->data2 = 0x1234;
    stack::Frame* base = stack::ctop;
    stack::mark_func(nullptr, ctx);
    record->data2 = 0x5678;
    stack::mark_func(nullptr, ctx);
    record->data2 = 0x9ABC;
    stack::unwind_ctx();
    EXPECT_EQ(record->data2, 0x5678u);
    stack::mark_func(nullptr, ctx);
    record->data2 = 0xDEF0;
    stack::mark_try(nullptr);
    stack::mark_func(nullptr, ctx);
    stack::unwind_to(stack::FRAME_TRY, false); // pops the function frames above the try
    EXPECT_EQ(record->data2, 0xDEF0u);
    stack::ctop = base + 1;
    stack::unwind_ctx();
    EXPECT_EQ(record->data2, 0x1234u);
}

TEST_F(StackTest, RunawayRecursionRaisesStackOverflowAndRecovers) {
    stack::Frame* ctop = stack::ctop;
    Cell* top = stack::top;
    EXPECT_MOX_ERROR(err::stack_overflow, for (;;) stack::mark_native(nullptr));
    EXPECT_EQ(stack::ctop, ctop);
    EXPECT_EQ(stack::top, top);
    EXPECT_MOX_ERROR(err::stack_overflow, for (;;) stack::push_cell());
    EXPECT_EQ(stack::top, top);
    // Evaluation goes on normally afterwards.
    stack::mark_native(nullptr);
    stack::unwind();
}

TEST_F(StackTest, BreakStopsAtTheLoopButNotAcrossTryAll) {
    // Inside plain try: the break leaves the loop.
    stack::mark_loop(nullptr);
    stack::mark_try(nullptr);
    stack::mark_native(nullptr);
    uint32_t code = 0;
    try {
        stack::throw_break(false, false);
    } catch (const stack::Unwind& u) {
        code = u.code;
    }
    EXPECT_EQ(code, stack::EXIT_BREAK);
    EXPECT_EQ(stack::top_frame()->type(), stack::FRAME_LOOP);
    stack::unwind();

    // Inside try/all: "no loop to break", raised where the break was made.
    stack::mark_loop(nullptr);
    stack::mark_try_all(nullptr);
    stack::mark_native(nullptr);
    stack::Frame* at_call = stack::ctop;
    EXPECT_MOX_ERROR(err::break_, stack::throw_break(false, false));
    EXPECT_EQ(stack::ctop, at_call);
    EXPECT_MOX_ERROR(err::continue_, stack::throw_break(false, true));
}

TEST_F(StackTest, ReturnOutsideAFunctionAndThrowWithoutCatchAreErrors) {
    stack::mark_native(nullptr);
    EXPECT_MOX_ERROR(err::return_, stack::throw_return(true));
    Cell one;
    make_integer(&one, 1);
    int32_t arg = 0;
    EXPECT_MOX_ERROR(err::throw_, {
        try {
            stack::throw_value(stack::EXIT_THROW, &one, nullptr);
        } catch (const stack::Unwind&) {
            arg = get_integer(error::field(stack::top - 1, error::FIELD_ARG1));
            throw;
        }
    });
    EXPECT_EQ(arg, 1);
}

TEST_F(StackTest, ThrowReachesTheCatchFrameWithValueAndName) {
    Cell* base = stack::top;
    stack::mark_catch(nullptr);
    stack::mark_native(nullptr);
    stack::mark_native(nullptr);
    Cell value, name;
    make_integer(&value, 42);
    name = *word::load("done");
    try {
        stack::throw_value(stack::EXIT_THROW, &value, &name);
        FAIL() << "no exit";
    } catch (const stack::Unwind& u) {
        EXPECT_EQ(u.code, stack::EXIT_THROW);
    }
    EXPECT_EQ(stack::top_frame()->type(), stack::FRAME_CATCH);
    EXPECT_EQ(stack::top, base + 2);
    EXPECT_EQ(get_integer(base), 42);
    EXPECT_EQ(base[1].data2, name.data2);
}

// A break raised by a call the interpreter made is passed on by return: no
// exception, the exit pending, the stacks already at the loop.
TEST_F(StackTest, ExitsFromInterpretedCallsTravelByReturn) {
    stack::mark_loop(nullptr);
    stack::Frame* loop = stack::ctop;
    for (int i = 0; i < 3; i++) {
        stack::mark_eval(nullptr);
        stack::mark_interp_native(nullptr);
        make_integer(stack::arguments, i);
        stack::throw_break(true, false); // break/return: carries the value
        ASSERT_EQ(stack::pending, stack::EXIT_BREAK);
        EXPECT_EQ(stack::ctop, loop);
        EXPECT_EQ(get_integer(stack::arguments), i);
        EXPECT_TRUE(stack::take_pending(stack::EXIT_BREAK));
        EXPECT_EQ(stack::pending, 0u);
    }
    stack::unwind();

    // Code that cannot pass it on turns it into the exception.
    stack::pending = stack::EXIT_CONTINUE;
    uint32_t code = 0;
    try {
        stack::raise_pending();
    } catch (const stack::Unwind& u) {
        code = u.code;
    }
    EXPECT_EQ(code, stack::EXIT_CONTINUE);
    EXPECT_EQ(stack::pending, 0u);
}

TEST_F(StackTest, ReturnStopsAtTheFunctionBody) {
    stack::mark_func_entry(nullptr, 0); // a body frame: return stops here
    Cell* result_slot = stack::arguments;
    (void)result_slot;
    stack::Frame* body = stack::ctop;
    stack::mark_loop(nullptr);
    stack::mark_native(nullptr);
    make_integer(stack::arguments, 5);
    uint32_t code = 0;
    try {
        stack::throw_return(true);
    } catch (const stack::Unwind& u) {
        code = u.code;
    }
    EXPECT_EQ(code, stack::EXIT_RETURN);
    EXPECT_EQ(stack::ctop, body);
    EXPECT_EQ(get_integer(stack::arguments), 5);

    stack::mark_native(nullptr);
    try {
        stack::throw_return(false); // exit
    } catch (const stack::Unwind& u) {
        code = u.code;
    }
    EXPECT_EQ(code, stack::EXIT_EXIT);
    EXPECT_EQ(type_of(stack::arguments), TYPE_UNSET);
}

// The "*** Stack: " text: level 1 names function! calls only, level 2 every
// named call; internal frames never appear.
TEST_F(StackTest, CallReportsByLevel) {
    Cell f = global("stack-test-f", callable(TYPE_FUNCTION));
    Cell g = global("stack-test-g", callable(TYPE_NATIVE));
    Cell body = *word::load("<body>");
    stack::Frame* base = stack::ctop;
    stack::mark_func(&f, 0);
    stack::mark_eval(&body);
    stack::mark_native(&g);
    stack::Frame* end = stack::ctop;

    auto calls = [&](int level) {
        Cell* text = test::text("");
        int32_t left = error::form_calls(level, end, text, 100);
        std::string s = test::utf8_of(text);
        EXPECT_EQ(left, 100 - static_cast<int32_t>(s.size()));
        return s;
    };
    EXPECT_EQ(calls(1), "stack-test-f");
    EXPECT_EQ(calls(2), "stack-test-f stack-test-g");

    Cell call;
    stack::get_call(&call);
    EXPECT_EQ(symbol::resolve(call.data2), symbol::resolve(g.data2));
    stack::ctop = base;
    stack::get_call(&call);
    EXPECT_EQ(std::string(symbol::name_utf8(call.data2)), "<not-found>");
}

TEST_F(StackTest, ErrorsBecomeTheResultOfTry) {
    Cell* args = stack::mark_native(nullptr);
    stack::mark_try(nullptr);
    try {
        fire(err::zero_divide);
    } catch (const stack::Unwind& u) {
        EXPECT_EQ(u.code, stack::EXIT_ERROR);
        stack::set_last_if_error();
    }
    EXPECT_EQ(stack::arguments, args);
    EXPECT_EQ(type_of(args), TYPE_ERROR);
    EXPECT_EQ(error::code_of(args), err::zero_divide);
    stack::unwind();
}

// A protected call gives the stacks back as they were, whatever its body
// left on them, and tells how the body ended.
TEST_F(StackTest, ProtectedCallsGiveTheStacksBack) {
    struct Case {
        const char* what;
        stack::Guard guard;
        void (*body)();
        uint32_t code;    // what protect returns
        int32_t error;    // the error's code, for an error
        uint32_t pending; // the exit pending afterwards
    };
    const Case cases[] = {
        {"ends normally, frames and cells left behind", stack::Guard::errors,
         [] {
             stack::mark_native(nullptr);
             make_integer(stack::push_cell(), 1);
         },
         0, -1, 0},
        {"error under a try frame", stack::Guard::errors,
         [] {
             stack::mark_native(nullptr);
             fire(err::zero_divide);
         },
         stack::EXIT_ERROR, err::zero_divide, 0},
        {"error under a try-all frame", stack::Guard::all, [] { fire(err::zero_divide); },
         stack::EXIT_ERROR, err::zero_divide, 0},
        {"a break cannot cross a try-all frame", stack::Guard::all,
         [] {
             stack::mark_native(nullptr);
             stack::throw_break(false, false);
         },
         stack::EXIT_ERROR, err::break_, 0},
        {"an exit left pending passes a try frame", stack::Guard::errors,
         [] { stack::pending = stack::EXIT_BREAK; }, 0, -1, stack::EXIT_BREAK},
        {"but not a try-all frame", stack::Guard::all, [] { stack::pending = stack::EXIT_BREAK; },
         0, -1, 0},
        {"a C++ exception stops at a try-all frame", stack::Guard::all,
         [] {
             stack::mark_native(nullptr);
             throw 5;
         },
         stack::EXIT_FOREIGN, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        make_integer(stack::push_cell(), 9);
        Cell* top = stack::top;
        Cell* args = stack::arguments;
        stack::Frame* ctop = stack::ctop;
        uint32_t seen = 0;
        int32_t error_code = -1;
        uint32_t code = stack::protect(c.guard, c.body, [&](uint32_t exit) {
            seen = exit;
            if (exit == stack::EXIT_ERROR) error_code = error::code_of(stack::top - 1);
        });
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(seen, c.code == stack::EXIT_FOREIGN ? 0 : c.code);
        EXPECT_EQ(error_code, c.error);
        EXPECT_EQ(stack::pending, c.pending);
        EXPECT_EQ(stack::top, top);
        EXPECT_EQ(stack::arguments, args);
        EXPECT_EQ(stack::ctop, ctop);
        EXPECT_EQ(get_integer(top - 1), 9);
        stack::pending = 0;
    }
}

// What the handler rethrows, and a C++ exception under a try frame, go on
// to the caller.
TEST_F(StackTest, ProtectedCallsPassOnWhatTheyDoNotTake) {
    Cell* top = stack::top;
    EXPECT_MOX_ERROR(err::zero_divide, stack::protect(
                                           stack::Guard::all, [] { fire(err::zero_divide); },
                                           [](uint32_t) { throw; }));
    stack::top = top;
    EXPECT_THROW(stack::protect(
                     stack::Guard::errors, [] { throw 5; }, [](uint32_t) {}),
                 int);
}

} // namespace
} // namespace mox
