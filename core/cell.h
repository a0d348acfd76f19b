// The value cell: the one representation of every Mox value.
//
// A cell is 16 bytes, four 32-bit words, on the 32-bit and the 64-bit build alike:
//
//   header  bits 0-7 type ID (1 datatype! .. 54 event!), flag bits above it
//   data1   first payload word
//   data2   second payload word
//   data3   third payload word
//
// The payload words never hold a machine pointer. Whatever a word refers to is
// a 32-bit reference: a node (see memory.h), an offset into the reference
// space (see arena.h), or an index into a table (natives, actions, handles,
// external resources). That keeps the cell the same size on both builds and
// lets the collector find and rewrite every reference it must.
//
// Payload by datatype (unused words carry no meaning):
//
//   datatype!                     data1 type ID
//   logic!                        data1 0 false, 1 true
//   any series (block! string!    data1 head index in units, data2 series node,
//     path! binary! vector! ...)  data3 strings: conversion-buffer node,
//                                 hash!: hash table node, vector!: element type
//   char!                         data2 code point
//   integer!                      data2 signed 32-bit value
//   float! percent! time!         data2..data3 IEEE double (low word first)
//   symbol!                       data1 alias, data2 name string node,
//                                 data3 UTF-8 name node
//   context!                      data1 word table node, data2 values node or
//                                 on-stack values reference
//   word family                   data1 context node, data2 symbol ID,
//                                 data3 index in the context, -1 unbound
//   function! routine!            data1 context node, data2 spec node,
//                                 data3 extra block node
//   object! error! port!          data1 context node, data2 class ID,
//                                 data3 event record node or 0
//   typeset!                      bit array from data1
//   map!                          data1 head index, data2 data block node,
//                                 data3 hash table node
//   pair!                         data2 x, data3 y
//   point2D! point3D!             data1.. 32-bit floats x, y (, z)
//   handle!                       data1 class, data2 value, data3 record index
//   date!                         data1 packed date, data2..data3 seconds
//   image!                        data1 head index, data2 image node,
//                                 data3 height << 16 | width
//   money!                        bytes 4.. currency index, then 11 BCD bytes
//
// Doubles sit at 4-byte alignment inside series buffers, so they are always
// read and written with memcpy (get_float/set_float).
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace mox {

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes on every build");

using node_t = uint32_t; // reference of a node slot; 0 is no node

// Type IDs, in registration-number order.
enum Type : uint8_t {
    TYPE_NONE_ID = 0, // no type: a cell header of 0 marks a removed map! value
    TYPE_DATATYPE = 1,
    TYPE_UNSET = 2,
    TYPE_NONE = 3,
    TYPE_LOGIC = 4,
    TYPE_BLOCK = 5,
    TYPE_PAREN = 6,
    TYPE_STRING = 7,
    TYPE_FILE = 8,
    TYPE_URL = 9,
    TYPE_CHAR = 10,
    TYPE_INTEGER = 11,
    TYPE_FLOAT = 12,
    TYPE_SYMBOL = 13,
    TYPE_CONTEXT = 14,
    TYPE_WORD = 15,
    TYPE_SET_WORD = 16,
    TYPE_LIT_WORD = 17,
    TYPE_GET_WORD = 18,
    TYPE_REFINEMENT = 19,
    TYPE_ISSUE = 20,
    TYPE_NATIVE = 21,
    TYPE_ACTION = 22,
    TYPE_OP = 23,
    TYPE_FUNCTION = 24,
    TYPE_PATH = 25,
    TYPE_LIT_PATH = 26,
    TYPE_SET_PATH = 27,
    TYPE_GET_PATH = 28,
    TYPE_ROUTINE = 29,
    TYPE_BITSET = 30,
    TYPE_TRIPLE = 31,
    TYPE_OBJECT = 32,
    TYPE_TYPESET = 33,
    TYPE_ERROR = 34,
    TYPE_VECTOR = 35,
    TYPE_HASH = 36,
    TYPE_PAIR = 37,
    TYPE_PERCENT = 38,
    TYPE_TUPLE = 39,
    TYPE_MAP = 40,
    TYPE_BINARY = 41,
    TYPE_SERIES = 42,
    TYPE_TIME = 43,
    TYPE_TAG = 44,
    TYPE_EMAIL = 45,
    TYPE_HANDLE = 46,
    TYPE_DATE = 47,
    TYPE_PORT = 48,
    TYPE_MONEY = 49,
    TYPE_REF = 50,
    TYPE_POINT2D = 51,
    TYPE_POINT3D = 52,
    TYPE_IMAGE = 53,
    TYPE_EVENT = 54,
    TYPE_TOTAL = 55 // one past the last type ID
};

// Header flag bits.
constexpr uint32_t HEADER_TYPE_MASK = 0xFF;
constexpr uint32_t FLAG_CONTEXT_KIND_SHIFT = 11; // context record: bits 11-12
constexpr uint32_t FLAG_CONTEXT_KIND_MASK = 0x1800;
constexpr uint32_t FLAG_IMAGE_OWNED = 0x10000; // image! cell owned by an object
constexpr uint32_t FLAG_EVENT_BLOCK = 0x1000;  // event! cell holds a block
constexpr uint32_t FLAG_FIELD_SET = 0x2000;    // word cell of an object context
constexpr uint32_t FLAG_MONEY_SIGN = 0x4000;
constexpr uint32_t FLAG_TUPLE_SIZE_SHIFT = 19; // tuple!: bits 19-22
constexpr uint32_t FLAG_TUPLE_SIZE_MASK = 0x780000;
constexpr uint32_t FLAG_CONTEXT_ON_STACK = 0x400000; // context record only
constexpr uint32_t FLAG_CONTEXT_SELF = 0x1000000;    // context record only
constexpr uint32_t FLAG_ROUTINE_ARGS_SHIFT = 25;     // routine!: bits 25-29
constexpr uint32_t FLAG_NEW_LINE = 0x40000000;

// ---------------------------------------------------------------------------
// Cell helpers
// ---------------------------------------------------------------------------

inline uint32_t type_of(const Cell* c) { return c->header & HEADER_TYPE_MASK; }

// Replaces the type ID and keeps every flag bit.
inline Cell* set_type(Cell* c, uint32_t type) {
    c->header = (c->header & ~HEADER_TYPE_MASK) | type;
    return c;
}

inline Cell* clear_new_line(Cell* c) {
    c->header &= ~FLAG_NEW_LINE;
    return c;
}

// Copies the whole cell; a copy onto itself does nothing.
inline Cell* copy_cell(const Cell* src, Cell* dst) {
    if (src != dst) *dst = *src;
    return dst;
}

inline double get_float(const Cell* c) {
    double d;
    std::memcpy(&d, &c->data2, sizeof d);
    return d;
}

inline void set_float(Cell* c, double d) { std::memcpy(&c->data2, &d, sizeof d); }

inline int32_t get_integer(const Cell* c) { return static_cast<int32_t>(c->data2); }

// Writers that make a fresh value in a cell (flags cleared).
inline Cell* make_unset(Cell* c) {
    *c = Cell{TYPE_UNSET, 0, 0, 0};
    return c;
}
inline Cell* make_none(Cell* c) {
    *c = Cell{TYPE_NONE, 0, 0, 0};
    return c;
}
inline Cell* make_logic(Cell* c, bool b) {
    *c = Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0};
    return c;
}
inline Cell* make_integer(Cell* c, int32_t i) {
    *c = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(i), 0};
    return c;
}
inline Cell* make_float(Cell* c, double d, uint32_t type = TYPE_FLOAT) {
    c->header = type;
    c->data1 = 0;
    set_float(c, d);
    return c;
}
inline Cell* make_char(Cell* c, uint32_t cp) {
    *c = Cell{TYPE_CHAR, 0, cp, 0};
    return c;
}
inline Cell* make_datatype(Cell* c, uint32_t type) {
    *c = Cell{TYPE_DATATYPE, type, 0, 0};
    return c;
}
// A series value: head index in units and the series node.
inline Cell* make_series(Cell* c, uint32_t type, node_t node, uint32_t index = 0) {
    *c = Cell{type, index, node, 0};
    return c;
}

inline bool is_any_word(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
inline bool is_any_path(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// How a value of a series! type holds its buffer (data2): as cells (the
// any-block types), as characters with a conversion-buffer node in data3 (the
// any-string types), or as bytes (binary!, vector!, image!). bitset! and map!
// hold a buffer too but are not series. This is the one list of the series
// types: the collector marks by it, ownership flags by it, copies follow it.
enum class SeriesKind : uint8_t { none, cells, text, bytes };

namespace detail {
// A table rather than a chain of tests: the collector asks once per cell.
struct SeriesKinds {
    SeriesKind of[HEADER_TYPE_MASK + 1]{};
    constexpr SeriesKinds() {
        for (uint32_t t : {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_PATH, TYPE_LIT_PATH,
                           TYPE_SET_PATH, TYPE_GET_PATH})
            of[t] = SeriesKind::cells;
        for (uint32_t t : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF})
            of[t] = SeriesKind::text;
        for (uint32_t t : {TYPE_BINARY, TYPE_VECTOR, TYPE_IMAGE}) of[t] = SeriesKind::bytes;
    }
};
inline constexpr SeriesKinds kSeriesKinds{};
} // namespace detail

inline SeriesKind series_kind(uint32_t t) {
    return t <= HEADER_TYPE_MASK ? detail::kSeriesKinds.of[t] : SeriesKind::none;
}
inline bool is_series(uint32_t t) { return series_kind(t) != SeriesKind::none; }
inline bool is_any_block(uint32_t t) { return series_kind(t) == SeriesKind::cells; }
inline bool is_any_string(uint32_t t) { return series_kind(t) == SeriesKind::text; }

} // namespace mox
