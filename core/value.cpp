// Raising errors (see value.h).
#include "core/value.h"

#include <cstdio>
#include <cstdlib>

#include "core/stack.h"

namespace mox {

namespace raising {
namespace {
[[noreturn]] void too_early() {
    std::fputs("mox: an error was raised before the error datatype was set up\n", stderr);
    std::abort();
}
} // namespace

Hooks hooks = {
    [](err::Code, const Cell*, const Cell*, const Cell*) -> Cell* { too_early(); },
    [](const Cell*, int32_t, Cell*) { too_early(); },
    [](Cell*) { too_early(); },
    [](Cell*) { too_early(); },
};
} // namespace raising

void fire(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell* error = raising::hooks.create(code, arg1, arg2, arg3);
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

void fire_expect_arg(int32_t index, uint32_t type) {
    Cell call, datatype, word;
    stack::get_call(&call);
    make_datatype(&datatype, type);
    raising::hooks.argument_word(&call, index, &word);
    fire(err::expect_arg, &call, &datatype, &word);
}

const Cell* type_check(const Cell* typeset, int32_t index, const Cell* value) {
    if (!typeset_has(typeset, type_of(value))) fire_expect_arg(index, type_of(value));
    return value;
}

int32_t type_check_at(const Cell* typeset, int32_t index) {
    if (index == -1) return -1;
    type_check(typeset, index, stack::arguments + index);
    return index;
}

void type_check_refinement(const Cell* refinement, const Cell* typeset, int32_t index,
                           const Cell* value) {
    if (refinement->data1 != 0) type_check(typeset, index, value);
}

const Cell* check_set_arg(int32_t index, const Cell* value) {
    if (type_of(value) == TYPE_UNSET) fire_expect_arg(index, TYPE_UNSET);
    return value;
}

} // namespace mox
