// Raising errors (see value.h).
#include "core/value.h"

#include "datatypes/error.h"
#include "evaluator/stack.h"

namespace mox {

void fire(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell* error = error::create(code, arg1, arg2, arg3);
    stack::throw_error(error);
}

void fire_int(err::Code code, int32_t value) {
    Cell arg;
    make_integer(&arg, value);
    fire(code, &arg);
}

void fire_bad_make_arg(uint32_t type, const Cell* spec) {
    Cell dt;
    make_datatype(&dt, type);
    fire(err::bad_make_arg, &dt, spec);
}

}  // namespace mox
