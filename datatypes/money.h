// money!: an exact decimal amount with an optional currency.
//
// The header holds type 49 and the sign in bit 14 (FLAG_MONEY_SIGN); byte 4
// of the cell is the currency index (0 none, else the 1-based position in
// the currency list); bytes 5-15 hold 22 BCD digits, most significant first,
// high nibble before low nibble: positions 1-17 the integer part, 18-22 the
// fraction. Zero may carry the sign bit; every test treats it as zero.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::money {

constexpr int32_t DIGITS = 22;
constexpr int32_t INT_DIGITS = 17;
constexpr int32_t FRAC_DIGITS = 5;

// The currency list: 1-based positions; names are three upper-case letters.
int32_t currency_count();
const char* currency_name(int32_t index);
// 1-based position of a three-letter code (any case), or -1.
int32_t find_currency(const uint8_t* code, int32_t length);

inline uint8_t currency_of(const Cell* m) { return reinterpret_cast<const uint8_t*>(m)[4]; }
int32_t get_sign(const Cell* m);
void set_sign(Cell* m, int32_t sign);
// Digit at position 1..22.
int32_t get_digit(const Cell* m, int32_t position);
void set_digit(Cell* m, int32_t position, int32_t digit);
// -1, 0 or 1; all-zero digits give 0 whatever the sign bit.
int32_t sign_q(const Cell* m);
bool zero_q(const Cell* m);

// Writes a money! into the cell from literal text: currency (three letters)
// or nullptr, the integer digits from start, the decimal point at point (or
// nullptr) and the end. Apostrophes are skipped; at most 17 integer digits
// and 5 fraction digits are taken (further fraction digits are cut). Returns
// nullptr, writing nothing, for an unknown currency, a character that is not
// a digit or apostrophe, or more than 17 integer digits.
Cell* make_from_digits(Cell* cell, bool negative, const uint8_t* currency, const uint8_t* start,
                       const uint8_t* point, const uint8_t* end);

// Fraction digits form and plain mold show: system/options/money-digits
// (2 when it is not an integer; clamped to 0-5).
int32_t form_digits();

// Conversions: an integer exactly; a float by its shortest round-trip
// digits (bad-make-arg beyond the range, below 0.00001, infinite or NaN,
// and with strict for digits past the fifth fraction digit, which are cut
// otherwise); to-integer cuts the fraction (type-limit beyond 32 bits);
// to-float reads the exact decimal text.
Cell* from_integer(Cell* out, int32_t n);
Cell* from_float(Cell* out, double x, bool strict);
int32_t to_integer(const Cell* m);
double to_float(const Cell* m);
bool negative_q(const Cell* m);
bool positive_q(const Cell* m);

// The arithmetic core on the running call's two arguments (money!, integer!,
// float! or percent!, at least one money!): add, subtract, multiply, divide,
// remainder; the result is left in the first. Money divided by money is a
// float!.
Cell* do_math(int32_t op);

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
Cell* pick(Cell* value, int32_t index, Cell* boxed);
Cell* absolute();
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* negate(Cell* number);
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* number);
bool odd_q(Cell* number);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers money!.
void init();

} // namespace mox::money
