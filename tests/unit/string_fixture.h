// Shared by the string and series tests: strings made from UTF-8 text and
// read back.
#pragma once

#include <cstring>
#include <string>

#include "core/memory.h"
#include "core/stack.h"
#include "core/unicode.h"
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

// The UTF-8 of a string from its index.
inline std::string utf8_of(const Cell* s) {
    std::string out;
    memory::SeriesBuffer* b = memory::buffer_of(s);
    uint32_t len = b->used_bytes() / b->unit();
    for (uint32_t i = s->data1; i < len; i++) {
        uint8_t bytes[4];
        uint32_t n = unicode::cp_to_utf8(string::abs_char_at(s, i), bytes);
        out.append(reinterpret_cast<char*>(bytes), n);
    }
    return out;
}

inline uint32_t unit_of(const Cell* s) { return memory::buffer_of(s)->unit(); }

inline Cell* int_cell(int32_t i) { return make_integer(stack::push_cell(), i); }

} // namespace mox::test
