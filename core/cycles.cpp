// The cycle stack (see cycles.h): a fixed array of nodes between base and
// limit, top being the next free entry.
#include "core/cycles.h"

#include <cstring>

#include "core/collector.h"
#include "core/error-codes.h"
#include "core/sys-alloc.h"
#include "core/value.h"

namespace mox::cycles {

namespace {

node_t* base = nullptr;
node_t* top = nullptr;
node_t* limit = nullptr;

} // namespace

void init() {
    if (!base) {
        base = static_cast<node_t*>(sys_alloc(CAPACITY * sizeof(node_t)));
        limit = base + CAPACITY;
        collector::register_callback(mark);
    }
    top = base;
}

void push(node_t node) {
    *top++ = node;
    if (top == limit) {
        top = base;
        fire(err::too_deep);
    }
}

void pop() {
    if (top > base) top--;
}

void pop_n(uint32_t n) { top = n < depth() ? top - n : base; }

void reset() { top = base; }

bool find(node_t node) {
    for (node_t* e = base; e < top; e++) {
        if (*e == node) return true;
    }
    return false;
}

uint32_t depth() { return static_cast<uint32_t>(top - base); }

void mark() {
    for (node_t* e = base; e < top; e++) collector::mark_series_node(e);
}

bool detect_q(const Cell* value, Cell* out, int32_t* part, bool mold, AppendAscii append) {
    const uint32_t type = type_of(value);
    if (!find(type == TYPE_OBJECT ? value->data1 : value->data2)) return false;
    const char* text = "...";
    if (mold) {
        switch (type) {
        case TYPE_BLOCK:
        case TYPE_HASH:
            text = "[...]";
            break;
        case TYPE_PAREN:
            text = "(...)";
            break;
        case TYPE_MAP:
            text = "#[...]";
            break;
        case TYPE_OBJECT:
            text = "make object! [...]";
            break;
        default:
            break;
        }
    }
    append(out, text);
    *part -= static_cast<int32_t>(std::strlen(text));
    return true;
}

} // namespace mox::cycles
