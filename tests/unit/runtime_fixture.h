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

// Starts the runtime once per test binary.
inline void boot() { mox::start(); }

// The UTF-8 text of a string from its index.
using unicode::utf8_of;

// Runs fn under a try frame. Returns the error code raised, or -1 when fn
// returned normally. The stacks are back where they were either way.
inline int run_catching(const std::function<void()>& fn) {
    int code = -1;
    stack::protect(stack::Guard::errors, fn, [&](uint32_t exit) {
        code = exit == stack::EXIT_ERROR ? error::code_of(stack::top - 1) : -2;
    });
    return code;
}

// The mold of a value as UTF-8 text (all: the construction syntax).
// May collect.
inline std::string mold(const Cell* value, bool all = false) {
    return actions::mold_utf8(value, all);
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
