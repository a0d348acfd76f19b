// block!: forming and molding (see block.h).
//
// Each value is copied onto the evaluation stack before its own form or mold
// runs: appending to the output may collect and move the block's buffer.
// The block's node stays on the cycle stack meanwhile, so a block that holds
// itself prints a placeholder and nesting deeper than the cycle stack raises
// too-deep instead of exhausting the native stack.
#include <algorithm>

#include "core/actions.h"
#include "core/cycles.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/string.h"

namespace mox::block {

namespace {

// Whether the text so far ends with a tab, a line feed or a carriage return.
bool ends_line_q(const Cell* buffer) {
    memory::SeriesBuffer* b = string::buffer_of(buffer);
    const uint32_t unit = b->unit();
    if (b->tail == b->head) return false;
    const uint32_t c = string::get_char(b->tail_ptr() - unit, unit);
    return c == '\t' || c == '\n' || c == '\r';
}

} // namespace

void append_ascii(Cell* string, const char* text) { string::concatenate_literal(string, text); }

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    if (cycles::detect_q(value, buffer, &limit, false, &append_ascii)) return limit;
    cycles::Scope walk(value->data2);
    const uint32_t first = std::min(value->data1, abs_length(value));
    for (uint32_t i = first; i < abs_length(value); i++) {
        if (part && limit < 1) break;
        if (i > first && !ends_line_q(buffer)) {
            string::append_char(buffer, ' ');
            limit--;
        }
        Cell* saved = stack::top;
        Cell* v = stack::push(ms_abs_at(value, i));
        limit = actions::form(v, buffer, part, limit);
        stack::top = saved;
    }
    return limit;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return mold_values(value, buffer, only, all, flat, part, limit, indent, '[', ']');
}

// A new-line marker on the first value opens the block: its values go one
// level deeper and the closing bracket gets a line of its own. A marker on
// any other value starts a new line at the current level.
int32_t mold_values(Cell* blk, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                    int32_t limit, int32_t indent, char open, char close) {
    if (cycles::detect_q(blk, buffer, &limit, true, &append_ascii)) return limit;
    cycles::Scope walk(blk->data2);
    if (!only && open) {
        string::append_char(buffer, static_cast<uint8_t>(open));
        limit--;
    }
    bool opened = false;
    const uint32_t first = std::min(blk->data1, abs_length(blk));
    for (uint32_t i = first; i < abs_length(blk); i++) {
        if (part && limit < 1) break;
        Cell* saved = stack::top;
        Cell* v = stack::push(ms_abs_at(blk, i));
        if (!flat && (v->header & FLAG_NEW_LINE)) {
            if (i == first && !only) {
                indent++;
                opened = true;
            }
            if (i != first || !only) {
                string::append_char(buffer, '\n');
                limit--;
            }
            limit = string::append_indent(buffer, indent, limit);
        } else if (i > first) {
            string::append_char(buffer, ' ');
            limit--;
        }
        limit = actions::mold(v, buffer, false, all, flat, part, limit, indent);
        stack::top = saved;
    }
    if (opened) {
        string::append_char(buffer, '\n');
        limit = string::append_indent(buffer, indent - 1, limit - 1);
    }
    if (!only && close) {
        string::append_char(buffer, static_cast<uint8_t>(close));
        limit--;
    }
    return limit;
}

} // namespace mox::block
