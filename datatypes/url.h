// url!: a string that names a resource (string cell, type 9, parent
// string!). Molds percent-encoded; the lexer decodes %XX escapes of url!
// and file! tokens through decode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"

namespace mox::url {

// Percent-decodes the text of source (from its index) and appends the result
// to target: %XX escapes become bytes, a run of escapes forming one UTF-8
// sequence becomes one character, everything else is copied. Malformed
// escaped UTF-8 raises access invalid-utf8. May collect.
void decode(Cell* source, Cell* target);
// The same over UTF-8 bytes (a token of the lexer). May collect.
void decode_utf8(const uint8_t* text, size_t length, Cell* target);

// Whether the URL table keeps the ASCII byte as it is.
bool url_char_q(uint8_t byte);

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers url! (after string!).
void init();

} // namespace mox::url
