// Number text: doubles to decimal digits and text, decimal text to doubles,
// both correctly rounded, and the degree reduction of the trigonometric
// natives.
//
// The module keeps no state between calls: every result is written into a
// buffer the caller provides, so a later conversion never overwrites text a
// caller still holds, and the functions are reentrant. The only tables are
// constants built at compile time.
#pragma once

#include <cstdint>

namespace mox::dtoa {

// Most digits a fixed-precision request produces; larger requests are
// clamped to it.
constexpr int MAX_DIGITS = 30;

// Buffer sizes, NUL included: digit strings and special texts of
// shortest_digits, and texts of form_float (the longest is a sign, "0.", six
// zeros and MAX_DIGITS digits).
constexpr int DIGITS_SIZE = MAX_DIGITS + 2;
constexpr int FORM_SIZE = 1 + 2 + 6 + MAX_DIGITS + 1;

// Decimal-point positions that mark the special texts.
constexpr int POINT_SPECIAL = 9999; // "1.#INF", "-1.#INF", "1.#NaN"
constexpr int POINT_ZERO = 9998;    // "0.0", "-0.0", "0", "-0"

// Writes the decimal digits of |value| into `digits` (DIGITS_SIZE chars,
// NUL-terminated) and returns their count. ndigits <= 0 asks for the shortest
// digits that read back as the same double (the one nearest the value when
// several qualify, ties to even); ndigits > 0 for the value correctly rounded
// to that many significant digits (ties to even), trailing zeros removed.
// *point receives the position of the decimal point (the exponent of the
// first digit plus one), *negative the sign. Infinities and NaN give
// POINT_SPECIAL and their text; zeros give POINT_ZERO and "0.0"/"-0.0" with
// point_zero, "0"/"-0" without. Special texts carry their own sign.
int shortest_digits(double value, int ndigits, bool point_zero, char* digits, int* point,
                    bool* negative);

// Writes the text of value into `out` (FORM_SIZE chars, NUL-terminated) and
// returns its length: plain decimal for points from -6 to 17, exponent form
// ("1.5e-8", "1.0e19") outside; point_zero keeps a ".0" on texts that would
// end without fraction digits. ndigits as for shortest_digits.
int form_float(double value, int ndigits, bool point_zero, char* out);
// Lays digits out as text: with exponent_form one digit, the rest after a
// ".", then "e" and the exponent point - 1; otherwise plain decimal text
// ("0." and zeros before a point below 1, zeros up to the point). point_zero
// keeps ".0" on a text with no fraction. Returns the length; out needs
// FORM_SIZE bytes.
int layout_digits(const char* digits, int n, int point, bool negative, bool exponent_form,
                  bool point_zero, char* out);

// Reads the decimal number in [start, end): optional sign, digits with an
// optional fraction, optional exponent; "1.#INF" and "1.#NaN" (any case,
// signed) give infinity and NaN. exp_adjust is added to the decimal exponent
// (-2 reads a percent). Returns the nearest double (ties to even) and sets
// *rest to the count of characters after the consumed number (the whole
// text when it holds no digits, and then the result is 0).
double string_to_double(const char* start, const char* end, int exp_adjust, int* rest);

} // namespace mox::dtoa

namespace mox::natives {

// An angle in degrees reduced for the trigonometric natives and returned in
// radians: mode 0 for the tangent (result in [-90, 90] degrees), 1 for the
// cosine ([-180, 180]), 2 for the sine ([-90, 90], mirrored about 90).
double normalize_angle(double degrees, int mode);

} // namespace mox::natives
