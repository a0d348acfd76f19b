// Shared by the block and path tests: a small notation for writing blocks
// (words, set-words, lit-words, paths, integers, strings, #none, nested
// blocks and parens, a line break marking the next value with the new-line
// marker), read by read_values, and helpers that mold and form values.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "core/actions.h"
#include "core/memory.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/path.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"

namespace mox::test {

// ---------------------------------------------------------------------------
// Shared by the block and path tests
// ---------------------------------------------------------------------------

inline void setup_blocks() { boot(); }

namespace blocks_detail {

inline bool delimiter_q(char c) {
    return c == 0 || c == ' ' || c == '\n' || c == ']' || c == ')' || c == '[' || c == '(';
}

inline Cell* push_word(const std::string& name, uint32_t type) {
    Cell* w = stack::push(word::load(name.c_str()));
    return set_type(w, type);
}

inline Cell* read_block(const char*& p, char close, uint32_t type);

// One element of a path: an integer or a word.
inline Cell* push_path_element(const std::string& text) {
    if (!text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) != 0))
        return make_integer(stack::push_cell(), std::stoi(text));
    return push_word(text, TYPE_WORD);
}

inline Cell* read_token(const char*& p) {
    const char* start = p;
    while (!delimiter_q(*p)) p++;
    std::string token(start, p);
    if (token == "#none") return make_none(stack::push_cell());
    bool digits = token.find_first_not_of("-0123456789") == std::string::npos;
    if (digits && token != "-") return make_integer(stack::push_cell(), std::stoi(token));
    if (token.find_first_not_of("-0123456789.") == std::string::npos)
        return make_float(stack::push_cell(), std::stod(token));
    uint32_t type = TYPE_WORD;
    if (token[0] == '/') return push_word(token.substr(1), TYPE_REFINEMENT);
    if (token[0] == '\'') {
        type = TYPE_LIT_WORD;
        token.erase(0, 1);
    } else if (token[0] == ':') {
        type = TYPE_GET_WORD;
        token.erase(0, 1);
    } else if (token.size() > 1 && token.back() == ':') {
        type = TYPE_SET_WORD;
        token.pop_back();
    }
    if (token.find('/') == std::string::npos) return push_word(token, type);
    static const uint32_t path_of[] = {TYPE_PATH, TYPE_SET_PATH, TYPE_LIT_PATH, TYPE_GET_PATH};
    Cell* path = block::push_only_star(2);
    size_t from = 0;
    for (;;) {
        size_t slash = token.find('/', from);
        Cell* e = push_path_element(token.substr(from, slash - from));
        block::ms_append(path, e);
        stack::pop(1);
        if (slash == std::string::npos) break;
        from = slash + 1;
    }
    return set_type(path, path_of[type - TYPE_WORD]);
}

inline Cell* read_value(const char*& p) {
    if (*p == '[') return read_block(++p, ']', TYPE_BLOCK);
    if (*p == '(') return read_block(++p, ')', TYPE_PAREN);
    if (*p == '"') {
        const char* start = ++p;
        while (*p != '"') p++;
        Cell* s = string::load(reinterpret_cast<const uint8_t*>(start),
                               static_cast<uint32_t>(p - start), string::ENCODING_UTF8);
        p++;
        return s;
    }
    return read_token(p);
}

// Reads values up to close (or the end of the text) into a new block.
inline Cell* read_block(const char*& p, char close, uint32_t type) {
    Cell* blk = block::push_only_star(4);
    bool new_line = false;
    for (;;) {
        while (*p == ' ' || *p == '\n') new_line |= *p++ == '\n';
        if (*p == 0 || *p == close) break;
        Cell* v = read_value(p);
        if (new_line) v->header |= FLAG_NEW_LINE;
        new_line = false;
        block::ms_append(blk, v);
        stack::pop(1);
    }
    if (*p == close) p++;
    return set_type(blk, type);
}

} // namespace blocks_detail

using namespace blocks_detail;

inline Cell* read_values(const char* text, uint32_t type) {
    const char* p = text;
    return read_block(p, 0, type);
}

inline std::string text_of(const Cell* str) {
    memory::SeriesBuffer* b = string::buffer_of(str);
    const uint32_t unit = b->unit();
    std::string out;
    for (const uint8_t* q = b->head_ptr() + str->data1 * unit; q < b->tail_ptr(); q += unit) {
        uint32_t c = string::get_char(q, unit);
        if (c < 0x80)
            out += static_cast<char>(c);
        else
            out += '?';
    }
    return out;
}

inline std::string mold_of(Cell* value, bool only, bool flat, int32_t part, int32_t* left) {
    Cell* saved = stack::top;
    Cell* buffer = string::push_new(16);
    Cell limit;
    make_integer(&limit, part);
    int32_t rest = actions::mold(value, buffer, only, false, flat, part >= 0 ? &limit : nullptr,
                                 part >= 0 ? part : INT32_MAX, 0);
    if (left) *left = rest;
    std::string text = text_of(buffer);
    stack::top = saved;
    return text;
}

inline std::string mold_of(Cell* value) { return mold_of(value, false, false, -1, nullptr); }

inline std::string form_of(Cell* value) {
    Cell* saved = stack::top;
    Cell* buffer = string::push_new(16);
    actions::form(value, buffer, nullptr, INT32_MAX);
    std::string text = text_of(buffer);
    stack::top = saved;
    return text;
}
} // namespace mox::test
