// system/state/interpreted?: boot functions stand for compiled code, so it
// answers false while only they (and the literal blocks of their bodies)
// run, and true as soon as code made at run time is on the stack.
#include "core/context.h"
#include "core/symbol.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

class InterpretedTest : public RuntimeTest {
  protected:
    // Makes a function from the text under the global word and marks it as
    // a function of the boot image (the value and its context's owner cell,
    // as making it while the boot source loads would).
    void boot_function(const char* name, const std::string& text) {
        eval_text(std::string(name) + ": " + text);
        Cell* fn = context::symbol_value(context::global, symbol::make(name));
        ASSERT_NE(fn, nullptr);
        ASSERT_EQ(type_of(fn), TYPE_FUNCTION);
        fn->header |= function::FLAG_BOOT;
        context::owner_of(fn->data1)->header |= function::FLAG_BOOT;
    }

    // Calls the global function straight from C++ (no evaluation frame of
    // its own below it) with the argument cells given; the molded result.
    std::string call(const char* name, Cell* args = nullptr, int32_t count = 0) {
        Cell* fn = stack::push(context::symbol_value(context::global, symbol::make(name)));
        Cell* out = stack::push_cell();
        make_none(out);
        int code = run_catching([&] { interpreter::call_value(fn, args, count, out); });
        EXPECT_EQ(code, -1) << name;
        return molded(out);
    }
};

TEST_F(InterpretedTest, BootBodiesAreCompiledCode) {
    boot_function("lc-probe-plain", "func [] [system/state/interpreted?]");
    boot_function("lc-probe-nested",
                  "func [] [if true [either true [reduce [(system/state/interpreted?)]] [0]]]");
    EXPECT_EQ(call("lc-probe-plain"), "false");
    EXPECT_EQ(call("lc-probe-nested"), "[false]");
    boot_function("lc-probe-a", "func [] [if true [system/state/interpreted?]]");
    EXPECT_EQ(call("lc-probe-a"), "false");
    boot_function("lc-probe-b", "func [] [reduce [(system/state/interpreted?)]]");
    EXPECT_EQ(call("lc-probe-b"), "[false]");
    boot_function("lc-probe-c", "func [] [either true [system/state/interpreted?] [0]]");
    EXPECT_EQ(call("lc-probe-c"), "false");
}

TEST_F(InterpretedTest, CodeMadeAtRunTimeIsInterpreted) {
    boot_function("lc-probe-do", "func [code] [do code]");
    Cell* code = stack::push(load_block("system/state/interpreted?"));
    EXPECT_EQ(call("lc-probe-do", code, 1), "true");

    // A boot function running under a user function.
    boot_function("lc-probe-inner", "func [] [system/state/interpreted?]");
    eval_text("lc-probe-user: func [] [lc-probe-inner]");
    EXPECT_EQ(call("lc-probe-user"), "true");

    // Top-level code that is not the boot image's.
    EXPECT_EQ(molded(eval_text("lc-probe-inner")), "true");
}

} // namespace
} // namespace mox::test
