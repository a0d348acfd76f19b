// Number text: what the lexer and the datatypes' to and make read alike.
// Nothing here allocates.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::lexer {

// Integer text: sign, digits, apostrophes skipped. *failure -1 for a bad
// character, -2 for overflow.
int32_t scan_integer(const uint8_t* p, int32_t count, uint32_t unit, int32_t* failure);
// Decimal text (a comma reads as a point); failure -1 and NaN.
double scan_float(const uint8_t* p, int32_t count, uint32_t unit, int32_t* failure);
// Money text into target; failure -1.
void scan_money(const uint8_t* p, int32_t count, uint32_t unit, int32_t* failure, Cell* target);

// Whether [start, end) is decimal-number text (sign, digits with single
// apostrophes between them, one point, an exponent), at most 312 bytes.
bool float_text_q(const uint8_t* start, const uint8_t* end);
// The double of checked decimal text, apostrophes removed; exp_adjust is
// added to the decimal exponent.
double float_of_text(const uint8_t* start, const uint8_t* end, int exp_adjust);

} // namespace mox::lexer
