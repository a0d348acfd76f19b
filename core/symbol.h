// The symbol table: every distinct spelling of a word is interned once and
// named by a positive 32-bit ID (ID n is cell n - 1 of the symbol block). A
// spelling interned after a case-insensitively equal one carries that one's
// ID as its alias, so words compare case-insensitively while keeping their
// spelling.
//
// Symbol entry cell: header 13, data1 alias (the canonical ID, or -1), data2
// node of the name as a string! (made on first use), data3 node of the
// NUL-terminated UTF-8 name (tail before the NUL).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"

namespace mox::symbol {

void init();  // the symbol block and its table; registers symbol!

// All may collect.
uint32_t make(const char* name);
uint32_t make_sized(const char* utf8, size_t length);
uint32_t make_insensitive(const char* name);
uint32_t from_string(const Cell* string);

// The canonical ID: the alias when there is one, else the ID itself.
uint32_t resolve(uint32_t id);
int32_t get_alias(uint32_t id);
// The entry, with its string! name made first. May collect.
Cell* get(uint32_t id);
// The entry as it stands (no name made).
Cell* entry(uint32_t id);
// The NUL-terminated UTF-8 name and its byte length.
const char* name_utf8(uint32_t id, size_t* length = nullptr);
uint32_t count();

}  // namespace mox::symbol
