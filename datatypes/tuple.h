// tuple!: 3 to 12 bytes written 1.2.3. The length sits in header bits
// 19-22, the bytes in order from data1 on (bytes beyond the length are 0).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::tuple {

constexpr int32_t MAX_LENGTH = 12;

// Writes a tuple! of the bytes into the cell (flags cleared); a length below
// 3 is padded with zero bytes to 3, one above 12 is cut to 12.
Cell* make_cell(Cell* cell, const uint8_t* bytes, int32_t length);

inline int32_t length_of(const Cell* t) {
    return static_cast<int32_t>((t->header & FLAG_TUPLE_SIZE_MASK) >> FLAG_TUPLE_SIZE_SHIFT);
}
inline const uint8_t* bytes_of(const Cell* t) {
    return reinterpret_cast<const uint8_t*>(&t->data1);
}
bool all_zero_q(const Cell* t);
// Pushes a tuple! of the bytes (lengths below 3 padded with zeros).
Cell* push(int32_t length, const uint8_t* bytes);
// The bytes as one little-endian colour word (first byte lowest); a
// 3-byte tuple's top byte is 0.
uint32_t to_color(const Cell* t);

// The arithmetic core on the running call's two arguments (the first a
// tuple!): each byte op the operand, clamped to 0-255.
Cell* do_math(int32_t op);

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* complement(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* boxed);
Cell* reverse(Cell* series, Cell* part, Cell* skip);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
// Byte-wise, a missing byte counting as 0 (so 1.2.3 equals 1.2.3.0); 0
// means equal.
int32_t compare(Cell* value1, Cell* value2, int32_t op);
int32_t length_q(Cell* t);

// Registers tuple!.
void init();

} // namespace mox::tuple
