// The symbol table: every distinct spelling of a word is interned once and
// named by a positive 32-bit ID (ID n is cell n - 1 of the symbol block). A
// spelling interned after a case-insensitively equal one carries the ID of
// that word's canonical spelling as its alias, so words compare
// case-insensitively while keeping their spelling. An alias always names a
// symbol without an alias: resolving is one step whatever the order in
// which the spellings were interned.
//
// Symbol entry cell: header 13, data1 alias (the canonical ID, or -1), data2
// node of the name as a string! (made on first use), data3 node of the
// NUL-terminated UTF-8 name (tail before the NUL). Case beyond ASCII is not
// folded here: the table matches spellings byte for byte or with A-Z folded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"

namespace mox::symbol {

// Interning modes.
enum Mode : int32_t { MODE_KEEP = 0, MODE_INSENSITIVE = 1 };

// Makes the symbol block (held by the root block) and its hash table for
// 4000 symbols, and registers them with the collector. May collect.
void make_table();

// All may collect.
uint32_t make(const char* name);
uint32_t make_sized(const char* utf8, size_t length);
// Any case-insensitive match is returned as it is; used at start-up.
uint32_t make_insensitive(const char* name);
// The text of a string value from its index.
uint32_t from_string(Cell* string);
// Mode KEEP returns the spelling's own symbol, made with an alias when a
// case-insensitively equal one exists; mode INSENSITIVE returns any
// case-insensitive match. The bytes may lie in a series buffer.
uint32_t intern(const char* utf8, size_t length, int32_t mode);

// The canonical ID: the alias when there is one, else the ID itself.
uint32_t resolve(uint32_t id);
int32_t get_alias(uint32_t id);
// The entry, with its string! name made first. May collect.
Cell* get(uint32_t id);
// Makes the string! name of an entry when it has none. May collect.
void cache_name(uint32_t id);
// The entry as it stands (no name made); valid until the next allocation.
Cell* entry(uint32_t id);
// The NUL-terminated UTF-8 name and its byte length; valid until the next
// allocation.
const char* name_utf8(uint32_t id, size_t* length = nullptr);
uint32_t count();

// The symbol block and table nodes (collector roots).
extern node_t block;
extern node_t table;

} // namespace mox::symbol
