// Shared set-up for unit tests that need the runtime: the whole runtime
// initialisation runs once per test binary, and helpers run code under a
// try frame so that a raised error becomes a test failure (or the expected
// result) instead of ending the process.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>

#include "core/actions.h"
#include "core/cell.h"
#include "core/collector.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "program/startup.h"

namespace mox::test {

// Initialises the runtime once; collections enabled afterwards.
inline void boot() {
    static bool done = false;
    if (done) return;
    done = true;
    mox::init();
    collector::active_q = true;
    boot_rooting = false;
}

// Runs fn under a try frame. Returns the error code raised, or -1 when fn
// returned normally. The stacks are back where they were either way.
inline int run_catching(const std::function<void()>& fn) {
    Cell* saved_top = stack::top;
    Cell* saved_args = stack::arguments;
    stack::Frame* saved_ctop = stack::ctop;
    stack::mark_try(nullptr);
    int code = -1;
    try {
        fn();
    } catch (const stack::Unwind& u) {
        code = u.code == stack::EXIT_ERROR ? error::code_of(stack::top - 1) : -2;
    }
    stack::ctop = saved_ctop;
    stack::arguments = saved_args;
    stack::top = saved_top;
    return code;
}

// The mold of a value as UTF-8 text (all: the construction syntax).
// May collect.
inline std::string mold(const Cell* value, bool all = false) {
    Cell* saved = stack::top;
    Cell* v = stack::push(value);
    Cell* buffer = string::push_new(32);
    actions::mold(v, buffer, false, all, false, nullptr, INT32_MAX, 0);
    int32_t length = -1;
    const char* p = unicode::to_utf8(buffer, &length);
    std::string text(p, static_cast<size_t>(length));
    stack::top = saved;
    return text;
}

// Loads UTF-8 source text into a block pushed on the stack. May collect.
inline Cell* load(const std::string& text) {
    Cell* out = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                     static_cast<int32_t>(text.size()), out);
    return out;
}

// Evaluates source text: the mold of its value, or "error N" with the code
// of the error it raised. May collect.
inline std::string eval(const std::string& text) {
    std::string out;
    int code = run_catching([&] {
        Cell* code = load(text);
        Cell result = {TYPE_UNSET, 0, 0, 0};
        collector::Root keep(&result);
        interpreter::do_block(code, &result);
        out = mold(&result);
    });
    return code == -1 ? out : "error " + std::to_string(code);
}

#define EXPECT_MOX_ERROR(code, ...)                                                                \
    EXPECT_EQ(::mox::test::run_catching([&] { __VA_ARGS__; }), (code))
#define EXPECT_MOX_OK(...) EXPECT_EQ(::mox::test::run_catching([&] { __VA_ARGS__; }), -1)

// Base for test suites that need the runtime.
class RuntimeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { boot(); }
    void SetUp() override {
        saved_top_ = stack::top;
        saved_args_ = stack::arguments;
        saved_ctop_ = stack::ctop;
    }
    void TearDown() override {
        stack::ctop = saved_ctop_;
        stack::arguments = saved_args_;
        stack::top = saved_top_;
    }

  private:
    Cell* saved_top_ = nullptr;
    Cell* saved_args_ = nullptr;
    stack::Frame* saved_ctop_ = nullptr;
};

} // namespace mox::test
