// PARSE: the grammar dialect. A block of rules is matched against an input
// series (any string, a binary! or any block) by one iterative state
// machine: every open rule block and every pending keyword is an entry on
// an explicit rules stack (a block! a trace callback can see), so a deep
// grammar or a deeply nested input costs no native stack, and a limit on
// that stack ends runaway recursion with an error instead of a crash.
//
// parse.cpp holds the engine and the native; parse-match.cpp the matchers
// of one value at one position (literal matching, repetition of a single
// value, the scans of to and thru), which read the input's buffer directly.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::parse {

// Comparison modes: 0 folds case, 2 compares strictly (/case).
constexpr int32_t MODE_FOLD = 0;
constexpr int32_t MODE_STRICT = 2;

// Neither engine stack may hold more cells than this.
constexpr uint32_t STACK_LIMIT = 10000;

// Makes the input stack and the rules stack (once, at start-up). May collect.
void init();

// Runs the rules block over the input: mode 0 or 2, limit an absolute input
// index (0 for none), callback a function! cell or a none! cell. The result
// (logic!, or the block of a top-level collect) is written to out. Every
// cell given must be one the collector sees. A non-local exit raised by an
// action comes back with stack::pending set and out unchanged. May collect;
// may raise.
void process(const Cell* input, const Cell* rules, int32_t mode, int32_t limit,
             const Cell* callback, Cell* out);

// ---------------------------------------------------------------------------
// Matchers (parse-match.cpp). The input cell's index is an absolute unit
// index; end is the first index that may not be read (the tail, or the /part
// limit when it comes first). They read the buffer in place and return
// before anything allocates, except parse/compare on block input, which
// runs the compare action (may collect).
// ---------------------------------------------------------------------------

enum InputKind : int32_t { INPUT_STRING, INPUT_BINARY, INPUT_BLOCK };
InputKind kind_of(uint32_t type);

// Units of the input's whole buffer.
uint32_t total_of(const Cell* input);

// Matches the literal value at the input's index; returns the units it
// covers, or -1. An empty text matches everywhere and covers 0.
int32_t match_literal(Cell* input, Cell* value, int32_t mode, uint32_t end, Cell* scratch);

// Matches the value repeatedly from the input's index, at most max times (-1
// for no bound); returns the number of matches and puts the units they cover
// into *units. A value that cannot repeat (not a char!, bitset!, text or
// binary on string or binary input) matches 0 times.
int32_t repeat_value(Cell* input, Cell* value, int32_t mode, uint32_t end, int32_t max,
                     uint32_t* units, Cell* scratch);

// The first index from the input's index at which the value matches, with
// the units the match covers in *units, or -1. A value that cannot be searched
// for on string or binary input raises parse-rule.
int64_t search(Cell* input, Cell* value, int32_t mode, uint32_t end, uint32_t* units,
               Cell* scratch);

// The tight loops behind repeat_value on string and binary input: the units
// from the input's index, before limit, equal to cp (folded to upper case
// unless the comparison is strict) / in the bitset.
uint32_t repeat_char(const Cell* input, uint32_t cp, bool folding, uint32_t limit);
uint32_t repeat_charset(const Cell* input, const Cell* bitset, uint32_t limit);

// Whether element i of block input matches the value under the mode (the
// compare action; lit-words and lit-paths compare by spelling). scratch
// receives a copy of the element. May collect.
bool compare(Cell* input, uint32_t i, Cell* value, int32_t mode, Cell* scratch);

// The offset from position of the next `|` word in the block, or -1.
int32_t find_alternative(const Cell* block, int32_t position);

// Matches a datatype! or typeset! against binary input by scanning one value
// from the bytes at the index; returns the bytes it took, or -1. May collect.
int32_t match_datatype_binary(Cell* input, const Cell* types, uint32_t end, Cell* scratch);

} // namespace mox::parse

namespace mox::natives {

// parse input rules /case /part length /trace callback
void parse_star(int32_t case_, int32_t part, int32_t trace);
// Fills the natives table entry of parse.
void register_parse();

} // namespace mox::natives
