// Action dispatch: the switchboard between callers and the per-type action
// implementations of the registry (core/datatype.h). The direct forms look the
// implementation up for their first argument's type and call it; a type
// without the action raises script error expect-arg.
//
// The fast paths serve code that evaluates operators on values it already
// holds: integer arithmetic and comparison run without a frame; any other
// operands go through a native frame named by the operator's word and the
// action, so that an error names that word.
#pragma once

#include <cstdint>
#include <string>

#include "core/cell.h"
#include "core/datatype.h"

namespace mox::actions {

// ---------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------

// Set by the port datatype: the implementation of a port action served by a
// native actor table (the port's actor is a handle! naming one), else null.
extern ActionFn (*port_action)(const Cell* port, uint32_t action);

// The implementation of an action for a type (port! actors included);
// raises expect-arg when there is none.
ActionFn lookup_checked(uint32_t type, const Cell* value, uint32_t action);
ActionFn lookup(const Cell* value, uint32_t action);
// For the running call's first argument.
ActionFn lookup_arg(uint32_t action);
// The eval-path implementation (slot 7), raising the path errors: without a
// path bad-path-type2, inside one bad-path-type with the path cut after the
// element. May collect (the cut copy).
ActionFn lookup_path(const Cell* value, uint32_t action, const Cell* path, const Cell* element,
                     int32_t position);

template <Action A> inline typename ActionSig<A>::type lookup_as(const Cell* value) {
    return reinterpret_cast<typename ActionSig<A>::type>(lookup(value, A));
}

// Script error not-related: "incompatible argument for" word "of" type.
[[noreturn]] void fire_not_related(const Cell* word, uint32_t type);

// ---------------------------------------------------------------------------
// Direct forms
// ---------------------------------------------------------------------------

// A datatype! first argument selects the type it names, any other value its
// own type.
Cell* make(Cell* proto, Cell* spec);
Cell* to(Cell* proto, Cell* spec);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
// The mold of a value as UTF-8 text (all: the construction syntax), cut
// after limit characters: for text that leaves the runtime (the case
// runner's reports, test drivers). May collect.
std::string mold_utf8(const Cell* value, bool all = false, int32_t limit = INT32_MAX);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
// The direct comparison: the raw result (negative, 0, positive, or -2).
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// The comparison entry: the boolean answer of op, raising invalid-compare
// for an ordering of values that cannot be compared.
bool compare_star(Cell* value1, Cell* value2, int32_t op);

Cell* negate(Cell* number);
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* number);
bool odd_q(Cell* number);
Cell* complement(Cell* value);
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* clear(Cell* series);
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_q(Cell* series);
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* pick(Cell* series, int32_t index, Cell* boxed);
Cell* poke(Cell* series, int32_t index, Cell* data, Cell* boxed);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* create(Cell* port);
Cell* close(Cell* port);
Cell* delete_(Cell* file);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* open_q(Cell* port);
Cell* query(Cell* target);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* rename(Cell* from, Cell* to);
Cell* update(Cell* port);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as);

// ---------------------------------------------------------------------------
// Fast paths (op: OP_ADD, OP_SUB, OP_MUL, OP_OR, OP_AND, OP_XOR for math,
// COMP_EQUAL .. COMP_GREATER_EQUAL for comparisons; any other code ends the
// program with runtime error 101). word names the frame of the slow path.
// ---------------------------------------------------------------------------

// The result is a new cell pushed on the evaluation stack. May collect.
Cell* math(int32_t op, const Cell* word, const Cell* value1, const Cell* value2);
Cell* math_int(int32_t op, const Cell* word, const Cell* value, int32_t i);
// The left operand is the last stack cell, which the result replaces.
Cell* math_top(int32_t op, const Cell* word, const Cell* value);
Cell* math_top_int(int32_t op, const Cell* word, int32_t i);

// A new logic! cell pushed. May collect.
Cell* compare_values(int32_t op, const Cell* word, const Cell* value1, const Cell* value2);
Cell* compare_int(int32_t op, const Cell* word, const Cell* value, int32_t i);
// The last stack cell compared with the operand and replaced by the logic!.
Cell* compare_top(int32_t op, const Cell* word, const Cell* value);
Cell* compare_top_int(int32_t op, const Cell* word, int32_t i);
// The answer XOR negate; nothing is left on the stack.
bool compare_q(int32_t op, const Cell* word, const Cell* value1, const Cell* value2, bool negate);
bool compare_int_q(int32_t op, const Cell* word, const Cell* value, int32_t i, bool negate);
// The answer, also written as a logic! into the running call's result cell.
bool compare_last_q(int32_t op, const Cell* word, const Cell* value1, const Cell* value2);
bool compare_last_int_q(int32_t op, const Cell* word, const Cell* value, int32_t i);
// Compares the running call's first two arguments with compare_star and
// writes the logic! answer into the first (the result slot), which it
// returns.
Cell* compare_args(int32_t op);

} // namespace mox::actions
