// error! values: an object whose fields name a category and an id of the
// error catalogue and carry up to three arguments, the place where it
// happened, the call stack and the script files being run.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/error-codes.h"

namespace mox::error {

// Field positions of an error object.
enum Field : int32_t {
    FIELD_CODE = 0, FIELD_TYPE, FIELD_ID, FIELD_ARG1, FIELD_ARG2, FIELD_ARG3, FIELD_NEAR,
    FIELD_WHERE, FIELD_STACK, FIELD_FILES, FIELD_COUNT
};
constexpr int32_t stack_field_index() { return FIELD_STACK; }

// Builds the error of the catalogue code with its arguments (nullptr for an
// absent one), pushes it on the evaluation stack and returns it. May collect.
Cell* create(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The error's code; one of its fields.
int32_t code_of(const Cell* error);
Cell* field(const Cell* error, int32_t index);
// Copies the word into the where field when that is still none.
void set_where(Cell* error, const Cell* word);
// Shows an error that no try frame caught and ends the process with -2.
[[noreturn]] void report_uncaught(Cell* error);

}  // namespace mox::error
