// point2D!: a coordinate pair of 32-bit floats (data1 x, data2 y), written
// (x, y). point3D! keeps its third component in data3; the two types share
// the actions below, which read the component count from the value's type.
#pragma once

#include <cstdint>

#include <cstring>

#include "core/cell.h"

namespace mox::point2D {

// Writes a point2D! into the cell (flags cleared).
Cell* make_cell(Cell* cell, float x, float y);
inline float x_of(const Cell* p) {
    float f;
    std::memcpy(&f, &p->data1, 4);
    return f;
}
inline float y_of(const Cell* p) {
    float f;
    std::memcpy(&f, &p->data2, 4);
    return f;
}

Cell* push(float x, float y);
// Component i (0-2) of a point2D! or point3D!.
float component(const Cell* p, int32_t i);
void set_component(Cell* p, int32_t i, float f);

// The arithmetic core on the running call's two arguments (the first a
// point): add, subtract, multiply, divide, remainder per component in
// double precision, stored as 32-bit floats.
Cell* do_math(int32_t op);

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
Cell* absolute();
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* negate(Cell* number);
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
Cell* pick(Cell* value, int32_t index, Cell* boxed);
Cell* reverse(Cell* series, Cell* part, Cell* skip);

// Appends the text of one component as a point forms it. May collect.
int32_t form_component(float f, Cell* buffer);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers point2D!.
void init();

} // namespace mox::point2D
