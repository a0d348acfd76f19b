// Interpreter tracing: the event mask a callback declares, and a traced run
// framed by init and end, also when the traced code fails. The events of the
// interpreter's own sites are covered by tests/mox/trace.mox.
#include "evaluator/trace.h"

#include "core/context.h"
#include "core/symbol.h"
#include "datatypes/function.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

class TraceTest : public RuntimeTest {
  protected:
    // Runs the code traced by the callback the text makes; the error code
    // raised, or -1.
    int traced(const std::string& callback, const std::string& code) {
        Cell* fn = eval_text(callback);
        Cell* block = load_block(code);
        stack::arguments = make_none(stack::push_cell());
        return run_catching([&] { trace::run(block, fn); });
    }
};

TEST_F(TraceTest, MaskComesFromTheLeadingBlockOfTheBody) {
    struct Row {
        const char* callback;
        uint32_t mask;
    };
    const Row rows[] = {
        {"func [e c o v r f] [[push] true]", trace::PUSH},
        {"func [e c o v r f] [[init END bogus call] true]", trace::INIT | trace::END | trace::CALL},
        {"func [e c o v r f] [[] true]", 0},
        {"func [e c o v r f] [true]", trace::DEFAULT_MASK},
        {"func [e c o v r f] []", trace::DEFAULT_MASK},
        {"does [[push]]", trace::PUSH},
    };
    for (const Row& r : rows)
        EXPECT_EQ(trace::event_mask(eval_text(r.callback)), r.mask) << r.callback;
}

TEST_F(TraceTest, InitAndEndFrameTheRunAlsoOnError) {
    eval_text("trace-log: copy []");
    const std::string cb = "func [event code offset value [any-type!] ref [any-type!] frame] "
                           "[[init end] append trace-log event true]";
    EXPECT_EQ(traced(cb, "1 + 2"), -1);
    EXPECT_EQ(molded(eval_text("trace-log")), "[init end]");
    EXPECT_EQ(trace::active, 0u);
    EXPECT_EQ(trace::session, 0u);
    eval_text("clear trace-log");
    EXPECT_EQ(traced(cb, "1 / 0"), err::zero_divide);
    EXPECT_EQ(molded(eval_text("trace-log")), "[init end]");
    EXPECT_EQ(trace::active, 0u);
    EXPECT_EQ(trace::session, 0u);
}

TEST_F(TraceTest, CallbackErrorsReachTheTracedCaller) {
    EXPECT_EQ(traced("func [e c o v r f] [[init] 1 / 0]", "1"), err::zero_divide);
    EXPECT_EQ(trace::session, 0u);
}

// Functions of the boot image behave as compiled code: the tracer sees the
// call and its return, never the body.
TEST_F(TraceTest, BootImageFunctionsAreSingleCalls) {
    eval_text("trace-log: copy [] traced-lib: func [a] [a + 1]");
    const std::string cb = "func [e c o v [any-type!] r [any-type!] f] "
                           "[[call prolog epilog return] append trace-log e true]";
    EXPECT_EQ(traced(cb, "traced-lib 1"), -1);
    EXPECT_EQ(molded(eval_text("trace-log")), "[call prolog call return epilog return]");
    Cell* lib = context::symbol_value(context::global, symbol::make("traced-lib"));
    ASSERT_NE(lib, nullptr);
    lib->header |= function::FLAG_BOOT;
    eval_text("clear trace-log");
    EXPECT_EQ(traced(cb, "traced-lib 1"), -1);
    EXPECT_EQ(molded(eval_text("trace-log")), "[call return]");
}

} // namespace
} // namespace mox::test
