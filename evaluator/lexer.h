// The lexer: Mox source text (UTF-8) to values.
//
// A table-driven state machine recognises one token at a time straight from
// the UTF-8 bytes; each token kind has a scanner (structure, validation) and
// a loader (value construction, lexer-load.cpp). Nested blocks, parens, maps
// and paths are built on one growable array of output cells with
// open-series markers; a closed series becomes one value by a single copy.
// Scans nest (a trace callback may load text): each scan owns the output
// cells above those of the scan that started it, and the active scans form
// a list that the collector walks.
//
// Errors are syntax errors (invalid, missing, bad-char, malconstruct) with
// the location "(line N)" and the failing text.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "datatypes/number-text.h"

namespace mox::lexer {

// Makes the output cells, the scratch buffer and the tables. Once at
// start-up, after the symbol table and the runtime words.
void init();

// Scans UTF-8 text into a new block! written to out (may collect); raises a
// syntax error on bad input, invalid UTF-8 included. out must be a cell the
// collector sees (stack, root block, collector::Root).
void load_utf8(const uint8_t* text, int32_t length, Cell* out);

// Trace events and their mask bits.
enum Event : int32_t {
    EVENT_PRESCAN = 1,
    EVENT_SCAN = 2,
    EVENT_LOAD = 4,
    EVENT_OPEN = 8,
    EVENT_CLOSE = 16,
    EVENT_ERROR = 32,
    EVENT_ALL = 0x3F,
};

// Scans a string! (from its index, length characters or -1 for all) or a
// binary! (bytes from its index). With one set and as_block clear the first
// value is stored alone, else a block of all values (appended to into when
// that is a block). load clear runs the scanners only (the scan mode); with
// store clear nothing is written to out. position receives the characters
// (bytes for a binary!) consumed. callback is a function! (or a cell the
// event hook understands) or nullptr. Returns the datatype the scan ended
// on (negative for an error in prescan/scan modes, 0 for none). prescan
// asks for the prescan mode (no scanners, no loaders). May collect; may
// raise.
int32_t scan_string(Cell* out, Cell* source, int32_t length, bool one, bool load, bool store,
                    bool as_block, int32_t* position, Cell* callback, Cell* into,
                    bool prescan = false);

// As scan_string over bytes that do not move while it runs (outside the
// series frames); position counts bytes. input is the value the callback
// sees as its input (may be nullptr without a callback). Without a
// callback, collections wait for the end of the scan: everything it makes
// stays reachable from its output.
int32_t scan_tokens(Cell* out, const uint8_t* start, int32_t length, bool one, bool load,
                    bool store, bool as_block, int32_t* position, Cell* callback, Cell* input,
                    Cell* into, bool prescan = false);

// Loads the whole string into a block held in target and answers its first
// value; none when the scan stopped early, and target becomes unset! for an
// empty result. May collect.
Cell* load_value(Cell* string, Cell* target);

// The trace callback's invocation: calls the Mox function with the five
// event arguments (event word, input, type, line, token) and answers its
// logic result; args then hold what the callback left in its arguments,
// so that an input it moved on is seen. Tests install their own.
using InvokeCallback = bool (*)(Cell* callback, Cell* args);
extern InvokeCallback invoke_callback;

// The event mask of a callback: the events named by a leading block of its
// body, else all.
int32_t callback_mask(const Cell* callback);

// The token type of a name's UTF-8 text (a word kind, or another type ID, 0
// for none, negative for an error): what word/scan-name answers. May
// collect.
int32_t scan_name(const uint8_t* utf8, int32_t length);

} // namespace mox::lexer
