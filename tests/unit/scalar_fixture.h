// Shared set-up of the scalar datatype tests (unset!, none!, logic!,
// integer!, char!, float!) and of the action dispatch tests: the runtime
// with its symbol table, global context and runtime words, the scalar
// registrations, and helpers that make values, run actions as a call would
// and read formed and molded text back.
#pragma once

#include <cstring>
#include <string>

#include "core/actions.h"
#include "core/cell.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/words.h"
#include "datatypes/char.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime_fixture.h"

// The helpers live in an inline namespace of their own: test files of other
// modules define helpers of the same names in mox::test.
namespace mox::test {
inline namespace scalars {

// The runtime, with the scalar datatypes.
inline void boot_scalars() { boot(); }

class ScalarTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { boot_scalars(); }
};

inline Cell int_cell(int32_t i) {
    Cell c;
    return *make_integer(&c, i);
}
inline Cell float_cell(double d, uint32_t type = TYPE_FLOAT) {
    Cell c;
    return *make_float(&c, d, type);
}
inline Cell char_cell(uint32_t cp) {
    Cell c;
    return *make_char(&c, cp);
}
inline Cell logic_cell(bool b) {
    Cell c;
    return *make_logic(&c, b);
}
inline Cell datatype_cell(uint32_t type) {
    Cell c;
    return *make_datatype(&c, type);
}

inline double bits_to_double(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
inline uint64_t double_bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// The global word of a spelling.
inline Cell word_cell(const char* name) { return *context::resolve_word(0, symbol::make(name)); }

// A series of bytes (a binary!) or of cells (a block! or path!) made by hand.
inline Cell binary_cell(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
    node_t node = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    uint8_t* p = b->head_ptr();
    for (uint8_t byte : bytes) *p++ = byte;
    b->tail = b->head + static_cast<uint32_t>(bytes.size());
    Cell c;
    return *make_series(&c, TYPE_BINARY, node, index);
}
inline Cell block_cell(std::initializer_list<Cell> cells, uint32_t type = TYPE_BLOCK,
                       uint32_t index = 0) {
    node_t node = memory::alloc_cells(static_cast<uint32_t>(cells.size() ? cells.size() : 1));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    Cell* p = b->cells();
    for (const Cell& c : cells) *p++ = c;
    b->tail = b->head + static_cast<uint32_t>(cells.size() * sizeof(Cell));
    Cell c;
    return *make_series(&c, type, node, index);
}

inline uint32_t length_of(const Cell* str) {
    memory::SeriesBuffer* b = memory::buffer_of(str);
    return b->used_bytes() / b->unit() - str->data1;
}

// The form or mold of a value through the dispatcher; also checks that the
// part limit comes back reduced by the characters written.
inline std::string text_action(Cell value, bool mold, bool all) {
    Cell* v = stack::push(&value);
    Cell* buffer = string::push_new(16);
    const int32_t limit = 1000;
    int32_t rest = mold ? actions::mold(v, buffer, false, all, false, nullptr, limit, 0)
                        : actions::form(v, buffer, nullptr, limit);
    std::string text = utf8_of(buffer);
    EXPECT_EQ(limit - rest, static_cast<int32_t>(length_of(buffer))) << text;
    stack::pop(2);
    return text;
}
inline std::string formed(Cell value) { return text_action(value, false, false); }
inline std::string molded(Cell value, bool all = false) { return text_action(value, true, all); }

// Pops a native frame pushed by a test together with its result cell.
inline void end_call() {
    stack::unwind();
    stack::pop(1);
}

// Runs an implementation that works in place on two argument cells, as an
// action's entry does, inside a native frame named by the word; returns the
// result.
inline Cell apply_fn(InPlaceFn fn, Cell left, Cell right, const char* name = "test-call") {
    Cell word = word_cell(name);
    stack::mark_native(&word);
    stack::push(&left);
    stack::push(&right);
    fn();
    Cell result = *stack::arguments;
    stack::unwind();
    stack::pop(1);
    return result;
}

// The same through the dispatcher: the implementation of the left operand's
// type.
inline Cell apply2(Action action, Cell left, Cell right, const char* name = "test-call") {
    return apply_fn(reinterpret_cast<InPlaceFn>(actions::lookup(&left, action)), left, right, name);
}

// The error raised by fn, for inspecting its arguments (an unset! cell when
// nothing was raised).
template <typename F> Cell error_of(F fn) {
    Cell error;
    make_unset(&error);
    stack::protect(stack::Guard::errors, fn, [&](uint32_t exit) {
        if (exit == stack::EXIT_ERROR) error = *(stack::top - 1);
    });
    return error;
}

// Rounding refinements as the table rows name them.
enum RoundMode {
    MODE_NONE,
    MODE_EVEN,
    MODE_DOWN,
    MODE_HALF_DOWN,
    MODE_FLOOR,
    MODE_CEILING,
    MODE_HALF_CEILING
};

// Rounds through the implementation of the value's own module (percent!
// and time! values use float!'s).
inline Cell round_value(Cell value, const Cell* scale, int mode) {
    Cell* n = stack::push(&value);
    Cell* s = scale ? stack::push(scale) : nullptr;
    auto fn = type_of(&value) == TYPE_INTEGER ? &integer::round : &float_::round;
    fn(n, s, mode == MODE_EVEN, mode == MODE_DOWN, mode == MODE_HALF_DOWN, mode == MODE_FLOOR,
       mode == MODE_CEILING, mode == MODE_HALF_CEILING);
    Cell result = *n;
    stack::pop(scale ? 2 : 1);
    return result;
}

} // namespace scalars
} // namespace mox::test
