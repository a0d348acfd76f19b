// What the layers below the evaluator need of it: evaluating a block,
// calling a function, loading text, and the position being evaluated. The
// evaluator fills the table at its start-up (interpreter::init and
// lexer::init), before any Mox code runs; core and the datatypes call
// through it instead of including the evaluator.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::interpreter {

// Call flags (apply).
constexpr uint32_t CALL_ALL = 1;   // every argument and refinement in spec order
constexpr uint32_t CALL_APPLY = 2; // arguments, then refinement! value + truth
constexpr uint32_t CALL_SAFER = 4; // one value per argument; unused refinements skipped

// The position: the cell of the block being evaluated, its index at the
// expression being evaluated (the "near" of error reports). While a block
// runs it points at the block's own copy on the evaluation stack; when none
// runs, at a cell of the root block holding none. Read it, never write it.
extern Cell* position;

} // namespace mox::interpreter

namespace mox::evaluator {

struct Hooks {
    void (*do_block)(const Cell* block, Cell* out);
    void (*call_value)(const Cell* callable, const Cell* args, int32_t count, Cell* out,
                       uint32_t flags, Cell* back);
    Cell* (*load_value)(Cell* string, Cell* target);
    void (*load_utf8)(const uint8_t* text, int32_t length, Cell* out);
    int32_t (*scan_name)(const uint8_t* utf8, int32_t length);
};
extern Hooks hooks;

// The evaluator's own functions of these names (interpreter.h, lexer.h) say
// what each does. All may collect.
inline void do_block(const Cell* block, Cell* out) { hooks.do_block(block, out); }
inline void call_value(const Cell* callable, const Cell* args, int32_t count, Cell* out,
                       uint32_t flags = 0, Cell* back = nullptr) {
    hooks.call_value(callable, args, count, out, flags, back);
}
inline Cell* load_value(Cell* string, Cell* target) { return hooks.load_value(string, target); }
inline void load_utf8(const uint8_t* text, int32_t length, Cell* out) {
    hooks.load_utf8(text, length, out);
}
inline int32_t scan_name(const uint8_t* utf8, int32_t length) {
    return hooks.scan_name(utf8, length);
}

} // namespace mox::evaluator
