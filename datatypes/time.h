// time!: a duration or time of day, the seconds as a double in the float!
// payload (data2..data3). A child of float!, whose arithmetic, comparison
// and rounding it reuses; it adds its construction, its text form h:mm:ss
// (which date! also uses for the time of day it embeds), its three fields
// and the rules that keep it apart from date! in arithmetic.
//
// The module also holds what the immediate datatypes (time!, date!, pair!,
// tuple!, money!, the points) share: raising with a datatype argument,
// loading a value from text, and storing a value changed by a set-path back
// into the place it was read from.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/error-codes.h"

namespace mox::time {

// Writes type 43 and the seconds into the cell, keeping its flag bits.
Cell* box(Cell* cell, double seconds);
// Pushes a time! on the evaluation stack.
Cell* push(double seconds);
// Appends a time! to the block. May collect.
Cell* make_in_block(node_t block, double seconds);

// Appends the text of a number of seconds ("-1:02:03.5"); returns limit
// minus the characters appended. May collect.
int32_t form_seconds(double seconds, Cell* buffer, int32_t limit);

// The fields as a time! reads them: hours truncated toward zero (type-limit
// beyond the 32-bit range or for NaN), minutes of the magnitude, seconds
// with the sign.
int32_t hour_of(double seconds);
int32_t minute_of(double seconds);
double second_of(double seconds);
// Field 1 (hour), 2 (minute) or 3 (second) set to v: the magnitude takes
// the new field, and the result is negative when the seconds were or when
// v is, so that setting a field to what it reads changes nothing.
double set_field(double seconds, int32_t field, double v);

// Shared by the immediate datatypes.
[[noreturn]] void fire_typed(err::Code code, uint32_t type, const Cell* arg2 = nullptr);
// True when element is a word of the symbol (case-insensitive).
bool word_is(const Cell* element, uint32_t symbol);
// Loads the text as one value; true (the value in out) when it is a single
// value of the type. May collect.
bool load_text(Cell* spec, uint32_t type, Cell* out);
// The value under the system object at a path of field symbols (such as
// locale, months), or null when a step is missing or not an object.
Cell* system_field(const uint32_t* symbols, int32_t count);
// A set-path changes a copy of an immediate value; this stores the copy back
// into its place: the object field (telling the object, with notify), the
// word at the path's head, or the series slot it was picked from. May
// collect (the object's handler runs).
void store_back(Cell* value, Cell* gparent, Cell* previous, bool notify);

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* number);
bool odd_q(Cell* number);
Cell* pick(Cell* value, int32_t index, Cell* boxed);

// Registers time! (after float!).
void init();

} // namespace mox::time
