// What the lexer's files share: the scan state, the output cells and the
// entry points of the loaders. Not for use outside evaluator/lexer*.cpp.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "evaluator/lexer-tables.h"

namespace mox::lexer {

// Error kinds besides a datatype.
constexpr int32_t ERR_BAD_CHAR = -1;
constexpr int32_t ERR_CONSTRUCT = -2;
constexpr int32_t ERR_MISSING = -3;  // an unclosed series at the end
constexpr int32_t ERR_UNOPENED = -4; // a closer without its opener

// Token flag bits from the class table.
constexpr uint32_t F_WIDE = 0x40000000; // lead byte of a 2- or 3-byte sequence
constexpr uint32_t F_ASTRAL = 0x80000000;
constexpr uint32_t F_CARET = 0x20000000;
constexpr uint32_t F_POINT = 0x10000000;
constexpr uint32_t F_COMMA = 0x08000000;
constexpr uint32_t F_COLON = 0x04000000;
constexpr uint32_t F_QUOTE = 0x02000000;
constexpr uint32_t F_EXP = 0x01000000;
constexpr uint32_t F_HASH = 0x00800000;
constexpr uint32_t F_NUL = 0x00400000;
constexpr uint32_t F_SIGN = 0x00200000;
constexpr uint32_t F_LESS = 0x00100000;
constexpr uint32_t F_GREATER = 0x00080000;
constexpr uint32_t F_PERCENT = 0x00040000;
constexpr uint32_t F_HIGH = 0x00020000; // any byte above 127

// An open series on the output cells: header MARKER (plus the new-line
// flag of its opener), data1 the index of the enclosing marker plus one (0
// for none), data2 the type being built (points: 51, the commas counted in
// the upper half), data3 the byte offset of the opening delimiter.
constexpr uint32_t MARKER = TYPE_TRIPLE;

// One active scan, on the native stack, linked into the list of scans.
struct Scan {
    Scan* prev;
    uint32_t base; // first output cell of this scan
    const uint8_t* start;
    const uint8_t* end;
    const uint8_t* pos;
    // The current token.
    const uint8_t* tok_start;
    const uint8_t* tok_end;
    uint32_t kind;
    uint32_t tok_type; // datatype of the state the token ended in, 0 none
    uint32_t flags;
    int32_t tok_line;
    int32_t line;
    uint32_t marker; // innermost open marker + 1, 0 for none
    uint8_t next_state;
    bool new_line; // a line feed was skipped since the last token
    bool load;
    bool prescan;
    bool quiet; // errors end the scan instead of raising (scan, prescan)
    bool one;
    bool stop;
    int32_t result; // the datatype or error kind the scan ended on
    // Braced strings.
    int32_t brace_depth;
    const uint8_t* brace_start;
    int32_t brace_line;
    // The point literal in progress.
    const uint8_t* point_start;
    // The trace callback.
    Cell callback;
    Cell input;
    int32_t mask;
    bool has_callback;
    const uint8_t* counted_to; // the characters before it are counted
    uint32_t counted;
    // Where the callback moved the input during the last event, or null.
    const uint8_t* moved_to;
};

// The output cells shared by every active scan.
extern Cell* out_cells;
extern uint32_t out_top;

// A new output cell (none!), with the new-line flag when a line feed came
// before its token. Pointers into the output cells stay valid until the
// next push.
Cell* push_value(Scan* s);
// Raises the syntax error for the kind (a datatype or ERR_*) at the token;
// in the quiet modes (scan, prescan) and after a callback declined the
// error it records the kind and ends the scan instead.
[[noreturn]] void fail(Scan* s, int32_t kind);
// A closed map or comma point from the cells above the innermost marker
// (lexer-load.cpp). May collect.
void close_map(Scan* s);
void close_point(Scan* s);
// The type ID of a datatype name ("integer!"), or 0.
int32_t datatype_by_name(const char* name);

// Loaders: build the token's value in a new output cell. May collect.
void load_token(Scan* s);
// Scanners that validate without building (the scan mode).
void check_token(Scan* s);
// The datatype a word token is heading for from its marks alone (a
// leading ' or :, a final :), before the scanner checks it.
uint32_t word_token_type(const Scan* s);

// Decodes text with ^ escapes (escapes set) into code points. With out
// null, only counts. Returns false when an escape is malformed.
bool decode_text(const uint8_t* p, const uint8_t* e, bool escapes, uint8_t* out, uint32_t unit,
                 uint32_t* count, uint32_t* max);
// Loads [p, e) as a string-like value of the type into cell (escapes
// decoded when asked); returns false on a malformed escape. May collect.
bool load_text(Cell* cell, const uint8_t* p, const uint8_t* e, bool escapes, uint32_t type);

// Strict UTF-8 decode of the sequence at *p (no overlong forms, no
// surrogates, nothing above U+10FFFF), advancing *p; -1 when malformed.
int32_t utf8_decode(const uint8_t** p, const uint8_t* end);
// The offset of the first malformed UTF-8 sequence in [p, end), or -1.
int64_t invalid_utf8_at(const uint8_t* p, const uint8_t* end);

// Whether the byte ends a token (blank, line feed, brackets, quote, ;, end).
bool delimiter_q(const uint8_t* p, const uint8_t* end);

} // namespace mox::lexer
