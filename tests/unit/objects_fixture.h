// Shared by the object, typeset and error tests: Mox text loaded into blocks
// (and evaluated where the interpreter is needed), the text of form and mold
// as UTF-8, and the error a piece of code raises. The text helpers copy the
// value onto the stack first, so a field cell of a context may be passed.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/actions.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime_fixture.h"

namespace mox::test {

// Loads UTF-8 text into a block pushed on the stack. May collect.
inline Cell* load_block(const std::string& text) {
    Cell* out = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                     static_cast<int32_t>(text.size()), out);
    return out;
}

// Evaluates the text (bound to the global context) and pushes its value.
inline Cell* eval_text(const std::string& text) {
    Cell* blk = load_block(text);
    Cell* out = make_none(stack::push_cell());
    interpreter::do_block(blk, out);
    return out;
}

inline std::string molded(Cell* value, bool only = false, bool all = false, bool flat = false) {
    Cell* saved = stack::top;
    Cell* v = stack::push(value);
    Cell* buffer = string::push_new(16);
    actions::mold(v, buffer, only, all, flat, nullptr, INT32_MAX, 0);
    std::string text = utf8_of(buffer);
    stack::top = saved;
    return text;
}

inline std::string formed(Cell* value) {
    Cell* saved = stack::top;
    Cell* v = stack::push(value);
    Cell* buffer = string::push_new(16);
    actions::form(v, buffer, nullptr, INT32_MAX);
    std::string text = utf8_of(buffer);
    stack::top = saved;
    return text;
}

// The error a piece of code raises: its code (-1 when none) and the error
// value itself, pushed on the stack after the code ran.
struct Raised {
    int code = -1;
    Cell* error = nullptr;
};

inline Raised raised_by(const std::function<void()>& fn) {
    Raised r;
    Cell err{TYPE_NONE, 0, 0, 0};
    stack::protect(stack::Guard::errors, fn, [&](uint32_t exit) {
        if (exit != stack::EXIT_ERROR) return;
        err = *(stack::top - 1);
        r.code = error::code_of(&err);
    });
    r.error = stack::push(&err);
    return r;
}

} // namespace mox::test
