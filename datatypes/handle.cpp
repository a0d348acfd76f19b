// handle!: operating-system handles behind 32-bit indexes of the handle
// table, and their text.
#include "datatypes/handle.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "core/datatype.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/string.h"

namespace mox::handle {

namespace {

// The handle table: native values by index, and the index of each value.
// Values are interned, so the table grows only with distinct handles.
struct Table {
    std::vector<uintptr_t> values{0};
    std::unordered_map<uintptr_t, uint32_t> index{{0, 0}};
};

Table& table() {
    static Table t;
    return t;
}

uint32_t intern(uintptr_t value) {
    Table& t = table();
    auto it = t.index.find(value);
    if (it != t.index.end()) return it->second;
    auto i = static_cast<uint32_t>(t.values.size());
    t.values.push_back(value);
    t.index.emplace(value, i);
    return i;
}

constexpr const char* kClassNames[] = {"null", "fd", "monitor", "window", "font", "rich-text"};

} // namespace

uintptr_t value_of(const Cell* handle) {
    const Table& t = table();
    return handle->data2 < t.values.size() ? t.values[handle->data2] : 0;
}

Cell* make_cell(Cell* cell, uintptr_t value, uint32_t cls) {
    *cell = Cell{TYPE_HANDLE, cls, intern(value), 0xFFFFFFFF};
    return cell;
}

Cell* box(uintptr_t value, uint32_t cls) { return make_cell(stack::arguments, value, cls); }

Cell* make_in_block(Cell* block, uintptr_t value, uint32_t cls) {
    return make_cell(block::alloc_tail(block), value, cls);
}

Cell* push(uintptr_t value, uint32_t cls) { return make_cell(stack::push_cell(), value, cls); }

Cell* push_null() { return push(0, CLASS_NULL); }

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    char text[24];
    auto v = static_cast<unsigned long long>(value_of(value));
    int n = std::snprintf(text, sizeof text, v > 0xFFFFFFFFull ? "%016llXh" : "%08llXh", v);
    string::concatenate_literal(buffer, text);
    return limit - n;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (!all) {
        string::concatenate_literal(buffer, "handle!");
        return limit - 7;
    }
    string::concatenate_literal(buffer, "#[handle! ");
    limit = form(value, buffer, part, limit - 10);
    uint32_t cls = value->data1;
    if (cls > 0 && cls < std::size(kClassNames)) {
        string::append_char(buffer, ' ');
        string::concatenate_literal(buffer, kClassNames[cls]);
        limit -= 1 + static_cast<int32_t>(std::strlen(kClassNames[cls]));
    }
    string::append_char(buffer, ']');
    return limit - 1;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_HANDLE) return 1;
    auto a = static_cast<intptr_t>(value_of(value1)), b = static_cast<intptr_t>(value_of(value2));
    return (a > b) - (a < b);
}

void init() {
    datatype::register_type(
        TYPE_HANDLE, TYPE_INTEGER, "handle!",
        datatype::ActionSlots::none().set<A_FORM>(&form).set<A_MOLD>(&mold).set<A_COMPARE>(
            &compare));
}

} // namespace mox::handle
