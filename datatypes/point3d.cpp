// point3D!: three 32-bit float coordinates written (x, y, z).
#include "datatypes/point3d.h"

#include <cstring>

#include "core/datatype.h"
#include "core/stack.h"
#include "datatypes/float.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"

namespace mox::point3D {

namespace {

uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

float component(const Cell* p, int i) { return point2D::component(p, i); }

} // namespace

Cell* make_cell(Cell* cell, float x, float y, float z) {
    *cell = Cell{TYPE_POINT3D, bits_of(x), bits_of(y), bits_of(z)};
    return cell;
}

Cell* push(float x, float y, float z) { return make_cell(stack::push_cell(), x, y, z); }

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    string::append_char(buffer, '(');
    int32_t n = 0;
    for (int i = 0; i < 3; i++) {
        if (i > 0) string::concatenate_literal(buffer, ", ");
        n += point2D::form_component(component(value, i), buffer);
    }
    string::append_char(buffer, ')');
    return limit - n - 6;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

// As point2D!'s, over three components; a pair! is not comparable.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_POINT3D) return COMPARE_NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_FIND:
        for (int i = 0; i < 3; i++) {
            if (!float_::almost_equal32_q(component(value1, i), component(value2, i))) return 1;
        }
        return 0;
    case COMP_STRICT_EQUAL:
        for (int i = 0; i < 3; i++) {
            if (component(value1, i) != component(value2, i)) return 1;
        }
        return 0;
    case COMP_SAME:
        return std::memcmp(&value1->data1, &value2->data1, 12) == 0 ? 0 : 1;
    default: {
        int i = 0;
        while (i < 2 && float_::almost_equal32_q(component(value1, i), component(value2, i))) i++;
        double d = static_cast<double>(component(value1, i)) - component(value2, i);
        return (d > 0) - (d < 0);
    }
    }
}

// The actions other than text and comparison are point2D!'s, which read the
// component count from the value's type.
void init() {
    datatype::register_type(TYPE_POINT3D, 0, "point3D!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&point2D::make)
                                .set<A_RANDOM>(&point2D::random)
                                .set<A_TO>(&point2D::make)
                                .set<A_FORM>(&point3D::form)
                                .set<A_MOLD>(&point3D::mold)
                                .set<A_EVAL_PATH>(&point2D::eval_path)
                                .set<A_COMPARE>(&point3D::compare)
                                .set<A_ABSOLUTE>(&point2D::absolute)
                                .set<A_ADD>(&point2D::add)
                                .set<A_DIVIDE>(&point2D::divide)
                                .set<A_MULTIPLY>(&point2D::multiply)
                                .set<A_NEGATE>(&point2D::negate)
                                .set<A_REMAINDER>(&point2D::remainder)
                                .set<A_ROUND>(&point2D::round)
                                .set<A_SUBTRACT>(&point2D::subtract)
                                .set<A_PICK>(&point2D::pick)
                                .set<A_REVERSE>(&point2D::reverse));
}

} // namespace mox::point3D
