// error! values: an object (type 34, class 1) whose fields name a category
// and an id of the error catalogue and carry up to three arguments, the
// place where it happened, the call stack and the script files being run.
//
// The catalogue is system/catalog/errors: one object per category (throw,
// note, syntax, script, math, access, reserved1, reserved2, user, internal)
// whose fields are code, type (the title) and then the ids, each holding its
// message (a string, a block of strings and argument words, or a word). An
// error's code is category x 100 + the id's position after code and type.
// New errors are copies of system/standard/error. Until the boot source has
// defined both, a built-in prototype and the id list of core/error-codes.h
// stand in, and reports show the id instead of its message.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/error-codes.h"
#include "core/stack.h"

namespace mox::error {

// Field positions of an error object.
enum Field : int32_t {
    FIELD_CODE = 0,
    FIELD_TYPE,
    FIELD_ID,
    FIELD_ARG1,
    FIELD_ARG2,
    FIELD_ARG3,
    FIELD_NEAR,
    FIELD_WHERE,
    FIELD_STACK,
    FIELD_FILES,
    FIELD_COUNT
};

// Builds the error of the catalogue code with its arguments (nullptr for an
// absent one), pushes it on the evaluation stack and returns it. May collect.
Cell* create(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The error's code.
int32_t code_of(const Cell* error);
// A field cell of the error: valid until the next allocation.
Cell* field(const Cell* error, int32_t index);
// The symbols of the type and id fields (0 when they hold no word).
uint32_t get_type(const Cell* error);
uint32_t get_id(const Cell* error);
// Copies the word into the where field when that is still none.
void set_where(Cell* error, const Cell* word);
// Turns a saved frame position in the stack field into the block of the
// active calls' words, and copies system/state/source-files into files when
// scripts are running. May collect.
void capture_stack(Cell* error);
// Saves the depth of the frame stack in the stack field, which
// capture_stack turns into the calls' words, unless it holds them already.
void save_stack(Cell* error);
// Appends the names of the calls below end to the text string, separated
// by single spaces; returns the limit less what was appended.
int32_t form_calls(int level, stack::Frame* end, Cell* text, int32_t limit);

// Appends the report text of the error (see error.cpp); returns the limit
// less what was appended. May collect.
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
// Appends a message block with the error's arguments filled in. May
// collect.
int32_t reduce_message(Cell* message, Cell* buffer, Cell* error, int32_t limit);

// Shows an error that no try frame caught and ends the process with -2.
[[noreturn]] void report_uncaught(Cell* error);
// Prints the error of the code (through print) where it must be shown
// without unwinding, as in an event handler. May collect.
void report_error(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3);

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers error! (34, after object!).
// Writes the report of an error! value (its form) and a line break to
// standard output. May collect.
void write_report(const Cell* error);

void init();

} // namespace mox::error
