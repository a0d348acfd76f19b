// Shared by the string and series tests: strings made from UTF-8 text and
// read back.
#pragma once

#include <cstring>
#include <string>

#include "core/memory.h"
#include "core/stack.h"
#include "datatypes/string.h"
#include "runtime_fixture.h"

namespace mox::test {

// The runtime, with every datatype these tests dispatch to.
inline void boot_strings() { boot(); }

// A new string on the stack holding the UTF-8 text.
inline Cell* text(const char* utf8) {
    Cell* s = string::push_new(0);
    string::append_utf8(s, utf8, std::strlen(utf8));
    return s;
}

inline uint32_t unit_of(const Cell* s) { return memory::buffer_of(s)->unit(); }

inline Cell* int_cell(int32_t i) { return make_integer(stack::push_cell(), i); }

} // namespace mox::test
