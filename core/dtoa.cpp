// Number text: correctly rounded conversions between doubles and decimal
// text, the language's float text forms, and the degree reduction of the
// trigonometric natives.
//
// Shortest digits come from the Schubfach method (the rounding interval of
// the double, scaled by a 128-bit power of ten, holds the candidates; no
// iteration). Fixed-precision digits reuse it when its answer decides the
// rounding and otherwise divide big integers exactly. Reading takes the
// floating-point fast path for small exact cases, then a 128-bit product
// with an error bound (the Eisel-Lemire method), and only when that bound
// straddles a rounding boundary compares the decimal with the boundary in
// big integers. Nothing here keeps state between calls.

#include "core/dtoa.h"

#include <array>
#include <bit>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace mox::dtoa {

namespace {

// ---------------------------------------------------------------------------
// Double layout and 128-bit arithmetic
// ---------------------------------------------------------------------------

constexpr int FRACTION_BITS = 52;
constexpr uint64_t FRACTION_MASK = (uint64_t{1} << FRACTION_BITS) - 1;
constexpr uint64_t HIDDEN_BIT = uint64_t{1} << FRACTION_BITS;
constexpr uint64_t SIGN_BIT = uint64_t{1} << 63;
constexpr uint64_t INFINITY_BITS = 0x7FF0000000000000;
constexpr uint64_t QUIET_NAN_BITS = 0x7FF8000000000000;
constexpr int EXPONENT_BIAS = 1075; // value = significand * 2^(biased - 1075)
constexpr int MIN_EXPONENT = -1074; // exponent of the subnormal significand

struct U128 {
    uint64_t hi, lo;
};

inline U128 multiply_64(uint64_t a, uint64_t b) {
#ifdef __SIZEOF_INT128__
    __extension__ typedef unsigned __int128 wide;
    wide p = static_cast<wide>(a) * b;
    return {static_cast<uint64_t>(p >> 64), static_cast<uint64_t>(p)};
#else
    uint64_t a0 = static_cast<uint32_t>(a), a1 = a >> 32;
    uint64_t b0 = static_cast<uint32_t>(b), b1 = b >> 32;
    uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    uint64_t mid = (p00 >> 32) + static_cast<uint32_t>(p01) + static_cast<uint32_t>(p10);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32),
            (mid << 32) | static_cast<uint32_t>(p00)};
#endif
}

// Integer logarithms by fixed-point multiplication; each is exact over a
// range wider than the exponents of doubles and of the power table.
constexpr int floor_log10_pow2(int e) { return (e * 315653) >> 20; }
constexpr int floor_log10_three_quarters_pow2(int e) { return (e * 315653 - 131237) >> 20; }
constexpr int floor_log2_pow10(int e) { return (e * 1741647) >> 19; }

// ---------------------------------------------------------------------------
// Powers of five
// ---------------------------------------------------------------------------
//
// Entry e holds floor(5^e * 2^(127 - floor(log2 5^e))): the 128 leading bits
// of 5^e (equally of 10^e), rounded down, with the top bit set. Reading uses
// them as they are; formatting adds one to get an upper bound.

constexpr int POW5_MIN = -342; // below it every decimal of 19 digits underflows
constexpr int POW5_MAX = 324;  // largest power formatting scales by

// A little-endian limb array for the compile-time table.
struct TableLimbs {
    uint32_t limb[32] = {};
    int size = 1;

    constexpr uint32_t at(int i) const { return i >= 0 && i < size ? limb[i] : 0; }

    // 32 bits starting at bit pos (which may be negative).
    constexpr uint32_t bits32(int pos) const {
        int i = pos >= 0 ? pos / 32 : -((31 - pos) / 32);
        int offset = pos - i * 32;
        uint64_t pair = uint64_t{at(i + 1)} << 32 | at(i);
        return static_cast<uint32_t>(pair >> offset);
    }

    constexpr U128 top128() const {
        int base = 32 * (size - 1) + std::bit_width(limb[size - 1]) - 128;
        return {uint64_t{bits32(base + 96)} << 32 | bits32(base + 64),
                uint64_t{bits32(base + 32)} << 32 | bits32(base)};
    }

    constexpr void multiply(uint32_t m) {
        uint64_t carry = 0;
        for (int i = 0; i < size; ++i) {
            uint64_t p = uint64_t{limb[i]} * m + carry;
            limb[i] = static_cast<uint32_t>(p);
            carry = p >> 32;
        }
        if (carry) limb[size++] = static_cast<uint32_t>(carry);
    }

    // Floor division: floor(floor(x / a) / b) = floor(x / (a b)), so
    // repeated division stays exact.
    constexpr void divide(uint32_t d) {
        uint64_t rem = 0;
        for (int i = size - 1; i >= 0; --i) {
            uint64_t cur = rem << 32 | limb[i];
            limb[i] = static_cast<uint32_t>(cur / d);
            rem = cur % d;
        }
        while (size > 1 && limb[size - 1] == 0) --size;
    }
};

struct Pow5Table {
    U128 entry[POW5_MAX - POW5_MIN + 1];
};

constexpr Pow5Table make_pow5_table() {
    Pow5Table t{};
    TableLimbs power; // 5^e exactly
    power.limb[0] = 1;
    for (int e = 0; e <= POW5_MAX; ++e) {
        if (e > 0) power.multiply(5);
        t.entry[e - POW5_MIN] = power.top128();
    }
    // floor(2^960 / 5^m) keeps more than 128 significant bits for every m
    // down to POW5_MIN, so its leading bits are those of 5^-m, rounded down.
    TableLimbs reciprocal;
    reciprocal.limb[30] = 1;
    reciprocal.size = 31;
    for (int m = 1; m <= -POW5_MIN; ++m) {
        reciprocal.divide(5);
        t.entry[-m - POW5_MIN] = reciprocal.top128();
    }
    return t;
}

constexpr Pow5Table POW5 = make_pow5_table();

inline U128 pow5_floor(int e) { return POW5.entry[e - POW5_MIN]; }

// An upper bound of 10^e in the same scaling: the rounded-down entry plus one.
inline U128 pow10_ceiling(int e) {
    U128 g = pow5_floor(e);
    return {g.hi + (g.lo == ~uint64_t{0}), g.lo + 1};
}

// ---------------------------------------------------------------------------
// Big integers
// ---------------------------------------------------------------------------
//
// Only the exact paths use them: fixed-precision digits that the shortest
// digits cannot decide, and reading text whose 128-bit estimate lies within
// its error bound of a rounding boundary. The capacity covers the largest
// case, about 2,700 bits: a reading of MAX_SIGNIFICANT digits, or a 55-bit
// midpoint times 5^1124, compared near the subnormal end.

struct Big {
    static constexpr int CAPACITY = 128;
    int size = 0; // limbs in use, the top one non-zero (0 for zero)
    uint32_t limb[CAPACITY];

    explicit Big(uint64_t v = 0) {
        if (v) limb[size++] = static_cast<uint32_t>(v);
        if (v >> 32) limb[size++] = static_cast<uint32_t>(v >> 32);
    }

    bool is_zero() const { return size == 0; }

    int bit_length() const { return size ? 32 * (size - 1) + std::bit_width(limb[size - 1]) : 0; }

    // this = this * m + add.
    void multiply_add(uint32_t m, uint32_t add) {
        uint64_t carry = add;
        for (int i = 0; i < size; ++i) {
            uint64_t p = uint64_t{limb[i]} * m + carry;
            limb[i] = static_cast<uint32_t>(p);
            carry = p >> 32;
        }
        if (carry) {
            assert(size < CAPACITY);
            limb[size++] = static_cast<uint32_t>(carry);
        }
    }

    void multiply_pow5(int e) {
        constexpr uint32_t POW5_13 = 1220703125; // the largest power of 5 in a limb
        for (; e >= 13; e -= 13) multiply_add(POW5_13, 0);
        uint32_t rest = 1;
        for (; e > 0; --e) rest *= 5;
        if (rest > 1) multiply_add(rest, 0);
    }

    void shift_left(int bits) {
        if (is_zero() || bits == 0) return;
        int words = bits / 32, offset = bits % 32;
        assert(size + words + 1 <= CAPACITY);
        limb[size + words] = 0;
        for (int i = size - 1; i >= 0; --i) {
            uint64_t v = uint64_t{limb[i]} << offset;
            limb[i + words + 1] |= static_cast<uint32_t>(v >> 32);
            limb[i + words] = static_cast<uint32_t>(v);
        }
        for (int i = 0; i < words; ++i) limb[i] = 0;
        size += words + 1;
        if (limb[size - 1] == 0) --size;
    }

    void multiply_pow10(int e) {
        multiply_pow5(e);
        shift_left(e);
    }

    // this >> shift, which the caller knows to fit in 64 bits.
    uint64_t bits_from(int shift) const {
        uint64_t r = 0;
        for (int i = size - 1; i >= 0; --i) {
            int pos = 32 * i - shift; // where limb i lands in the result
            if (pos <= -32) break;
            r |= pos >= 0 ? uint64_t{limb[i]} << pos : uint64_t{limb[i]} >> -pos;
        }
        return r;
    }

    // this -= m * b; the caller knows the result is not negative.
    void subtract_multiple(const Big& b, uint32_t m) {
        uint64_t carry = 0, borrow = 0;
        for (int i = 0; i < size; ++i) {
            uint64_t p = (i < b.size ? uint64_t{b.limb[i]} * m : 0) + carry;
            carry = p >> 32;
            uint64_t d = uint64_t{limb[i]} - static_cast<uint32_t>(p) - borrow;
            limb[i] = static_cast<uint32_t>(d);
            borrow = d >> 63;
        }
        assert(carry == 0 && borrow == 0);
        while (size > 0 && limb[size - 1] == 0) --size;
    }
};

int compare(const Big& a, const Big& b) {
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    for (int i = a.size - 1; i >= 0; --i) {
        if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
    }
    return 0;
}

// The next decimal digit of r / s, given r < 10 s; r keeps the remainder.
// The estimate from the leading 60 bits of s is low by at most one.
int quotient_digit(Big& r, const Big& s) {
    int shift = s.bit_length() > 60 ? s.bit_length() - 60 : 0;
    uint64_t top_r = r.bits_from(shift), top_s = s.bits_from(shift);
    uint32_t q = static_cast<uint32_t>(shift ? top_r / (top_s + 1) : top_r / top_s);
    if (q) r.subtract_multiple(s, q);
    while (compare(r, s) >= 0) {
        r.subtract_multiple(s, 1);
        ++q;
    }
    assert(q < 10);
    return static_cast<int>(q);
}

// ---------------------------------------------------------------------------
// Writing integers
// ---------------------------------------------------------------------------

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::array<uint64_t, 20> POWERS_OF_TEN = [] {
    std::array<uint64_t, 20> p{1};
    for (int i = 1; i < 20; ++i) p[i] = p[i - 1] * 10;
    return p;
}();

// floor(log10 v) + 1 (1 for zero): (bits * 1233) >> 12 is floor(bits *
// log10 2), which the digit count reaches or passes by one.
int decimal_length(uint64_t v) {
    int t = (std::bit_width(v | 1) * 1233) >> 12;
    return t + 1 - ((v | 1) < POWERS_OF_TEN[t]);
}

// Writes v in decimal at out and returns the count of characters.
int write_decimal(uint64_t v, char* out) {
    int n = decimal_length(v);
    char* p = out + n;
    while (v >= 100) {
        std::memcpy(p -= 2, DIGIT_PAIRS + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10)
        std::memcpy(p -= 2, DIGIT_PAIRS + 2 * v, 2);
    else
        *--p = static_cast<char>('0' + v);
    return n;
}

int write_signed(int v, char* out) {
    if (v >= 0) return write_decimal(static_cast<uint64_t>(v), out);
    *out = '-';
    return 1 + write_decimal(static_cast<uint64_t>(-static_cast<int64_t>(v)), out + 1);
}

// ---------------------------------------------------------------------------
// Shortest digits
// ---------------------------------------------------------------------------

// A decimal significand * 10^exponent; exact tells that it equals the double
// (an integer below 2^53), not merely rounds to it.
struct Decimal {
    uint64_t significand;
    int exponent;
    bool exact;
};

// floor(g * cp / 2^128), made odd when the product is not an integer: the
// rounding to odd keeps enough of the discarded part to compare the scaled
// value with the candidates and with their midpoint.
uint64_t round_to_odd(U128 g, uint64_t cp) {
    U128 x = multiply_64(g.lo, cp);
    U128 y = multiply_64(g.hi, cp);
    uint64_t z = y.lo + x.hi;
    uint64_t integral = y.hi + (z < y.lo);
    return integral | (z > 1);
}

// The shortest decimal in the rounding interval of the positive finite
// double with these bits, nearest to it among the shortest (ties to even).
// With v = c 2^q and the interval scaled by 10^-k to a width between 1 and
// 10, it holds at most one multiple of 10 (a shorter candidate, tried first)
// and at least one of the two integers beside the scaled value. Everything is
// kept four times larger so that the interval's lower half below a power of
// two, a quarter of a unit instead of a half, stays integral.
Decimal to_decimal(uint64_t bits) {
    uint64_t fraction = bits & FRACTION_MASK;
    int biased = static_cast<int>(bits >> FRACTION_BITS);
    uint64_t c = biased ? fraction | HIDDEN_BIT : fraction;
    int q = biased ? biased - EXPONENT_BIAS : MIN_EXPONENT;
    if (q <= 0 && q > -FRACTION_BITS - 1) {
        uint64_t integer = c >> -q;
        if (integer << -q == c) return {integer, 0, true};
    }
    bool accept_bounds = (c & 1) == 0;
    bool lower_closer = fraction == 0 && biased > 1;
    int k = lower_closer ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
    int h = q + floor_log2_pow10(-k) + 1; // between 1 and 4
    U128 g = pow10_ceiling(-k);
    uint64_t cb = c << 2;
    uint64_t vb = round_to_odd(g, cb << h);
    uint64_t vb_lower = round_to_odd(g, (cb - 2 + lower_closer) << h);
    uint64_t vb_upper = round_to_odd(g, (cb + 2) << h);
    uint64_t lower = vb_lower + !accept_bounds;
    uint64_t upper = vb_upper - !accept_bounds;
    uint64_t s = vb >> 2;
    if (s >= 10) {
        uint64_t sp = s / 10;
        bool down_inside = lower <= 40 * sp;
        bool up_inside = 40 * sp + 40 <= upper;
        if (down_inside != up_inside) return {sp + up_inside, k + 1, false};
    }
    bool down_inside = lower <= 4 * s;
    bool up_inside = 4 * s + 4 <= upper;
    if (down_inside != up_inside) return {s + up_inside, k, false};
    uint64_t mid = 4 * s + 2;
    bool round_up = vb > mid || (vb == mid && (s & 1));
    return {s + round_up, k, false};
}

// Writes the significand without its trailing zeros; returns the count and
// sets *point.
int write_significand(Decimal d, char* digits, int* point) {
    while (d.significand % 100000000 == 0) {
        d.significand /= 100000000;
        d.exponent += 8;
    }
    for (int zeros : {4, 2, 1}) {
        uint64_t unit = POWERS_OF_TEN[zeros];
        if (d.significand % unit == 0) {
            d.significand /= unit;
            d.exponent += zeros;
        }
    }
    int n = write_decimal(d.significand, digits);
    *point = d.exponent + n;
    return n;
}

// ---------------------------------------------------------------------------
// Fixed-precision digits
// ---------------------------------------------------------------------------

int strip_zeros(const char* digits, int n) {
    while (n > 1 && digits[n - 1] == '0') --n;
    return n;
}

// Adds one unit in the last of the n digits; a carry out of the first digit
// leaves "1" and moves the point. Returns the count without trailing zeros.
int round_up_digits(char* digits, int n, int* point) {
    int i = n - 1;
    while (i >= 0 && digits[i] == '9') --i;
    if (i < 0) {
        digits[0] = '1';
        ++*point;
        return 1;
    }
    ++digits[i];
    return i + 1;
}

// v = f 2^e correctly rounded to n digits by exact division: r / s starts as
// v / 10^k with k = floor(log10 v) and gives one digit per step.
int exact_fixed_digits(uint64_t f, int e, int n, char* digits, int* point) {
    int k = floor_log10_pow2(e + std::bit_width(f) - 1); // floor(log10 v) or one less
    Big r(f), s(1);
    if (e >= 0)
        r.shift_left(e);
    else
        s.shift_left(-e);
    if (k >= 0)
        s.multiply_pow10(k);
    else
        r.multiply_pow10(-k);
    Big s10 = s;
    s10.multiply_add(10, 0);
    if (compare(r, s10) >= 0) {
        ++k;
        s = s10;
    }
    *point = k + 1;
    int count = 0;
    while (count < n) {
        digits[count++] = static_cast<char>('0' + quotient_digit(r, s));
        if (r.is_zero()) return strip_zeros(digits, count);
        if (count < n) r.multiply_add(10, 0);
    }
    r.shift_left(1);
    int half = compare(r, s);
    if (half > 0 || (half == 0 && (digits[n - 1] & 1))) return round_up_digits(digits, n, point);
    return strip_zeros(digits, n);
}

// The digits of a positive finite double rounded to n significant digits.
// For normal doubles and n <= 15, the shortest digits lie within half an ulp
// of the value, less than half a unit of its n-th digit: when they have n
// digits or fewer they are the rounded value, and when longer they round the
// same way as the value, since a midpoint between n-digit decimals lying
// between them and the value would have been a shorter or nearer candidate;
// only shortest digits ending exactly on such a midpoint leave it open.
// Integers below 2^53 are their own digits and always decide.
int fixed_digits(uint64_t bits, int n, char* digits, int* point) {
    int biased = static_cast<int>(bits >> FRACTION_BITS);
    if (biased != 0) {
        Decimal d = to_decimal(bits);
        if (d.exact || n <= 15) {
            int count = write_significand(d, digits, point);
            if (count <= n) return count;
            char next = digits[n];
            if (next != '5' || count > n + 1) {
                if (next >= '5') return round_up_digits(digits, n, point);
                return strip_zeros(digits, n);
            }
            if (d.exact) {
                if (digits[n - 1] & 1) return round_up_digits(digits, n, point);
                return strip_zeros(digits, n);
            }
        }
        return exact_fixed_digits((bits & FRACTION_MASK) | HIDDEN_BIT, biased - EXPONENT_BIAS, n,
                                  digits, point);
    }
    return exact_fixed_digits(bits & FRACTION_MASK, MIN_EXPONENT, n, digits, point);
}

int copy_text(const char* text, char* out) {
    int n = static_cast<int>(std::strlen(text));
    std::memcpy(out, text, n + 1);
    return n;
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Significant digits beyond this many only tell that the decimal lies above
// the one they are cut from: no midpoint between doubles has more than 768.
constexpr int MAX_SIGNIFICANT = 800;

// The digits of a number text: its integer part and its fraction part.
struct DigitSpans {
    const char* int_begin;
    const char* int_end;
    const char* frac_begin;
    const char* frac_end;
};

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The first 19 significant digits as an integer (value ~ w * 10^(point -
// used)); truncated when a non-zero digit follows them. used is 0 when every
// digit is zero.
struct LeadingDigits {
    uint64_t w = 0;
    int used = 0;
    bool truncated = false;
    int64_t point = 0; // digits before the decimal point, from the first significant one
};

LeadingDigits leading_digits(const DigitSpans& t) {
    LeadingDigits lead;
    const char* p = t.int_begin;
    const char* f = t.frac_begin;
    while (p < t.int_end && *p == '0') ++p;
    lead.point = t.int_end - p;
    if (p == t.int_end) {
        while (f < t.frac_end && *f == '0') ++f;
        lead.point = -(f - t.frac_begin);
    }
    auto take = [&lead](const char* a, const char* end) {
        for (; a < end; ++a) {
            if (lead.used < 19) {
                lead.w = lead.w * 10 + static_cast<uint64_t>(*a - '0');
                ++lead.used;
            } else if (*a != '0') {
                lead.truncated = true;
            }
        }
    };
    take(p, t.int_end);
    take(f, t.frac_end);
    return lead;
}

// The significant digits of a text, trailing zeros removed: value =
// digits * 10^exponent, cut after MAX_SIGNIFICANT digits (then sticky).
struct DecimalText {
    char digits[MAX_SIGNIFICANT];
    int stored = 0;
    int64_t count = 0; // significant digits including those cut
    int64_t exponent = 0;
    bool sticky = false;
};

// Collects every significant digit for the exact comparison; exponent is the
// written exponent with the caller's adjustment.
void collect_digits(const DigitSpans& t, int64_t exponent, DecimalText& d) {
    int64_t index = 0, first = -1, last = -1;
    auto take = [&](const char* p, const char* end) {
        for (; p < end; ++p, ++index) {
            if (*p == '0' && first < 0) continue;
            if (first < 0) first = index;
            if (*p != '0') last = index;
            if (index - first < MAX_SIGNIFICANT) d.digits[index - first] = *p;
        }
    };
    take(t.int_begin, t.int_end);
    take(t.frac_begin, t.frac_end);
    d.count = last - first + 1;
    d.stored = static_cast<int>(d.count < MAX_SIGNIFICANT ? d.count : MAX_SIGNIFICANT);
    d.sticky = d.count > MAX_SIGNIFICANT;
    // index now counts every digit; those after `last` are zeros.
    d.exponent = exponent - (t.frac_end - t.frac_begin) + (index - 1 - last);
}

constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// w * 10^q by one exact floating operation when both factors are exact
// doubles. Only where double arithmetic rounds once: with extended precision
// (x87) the product would be rounded twice.
bool exact_fast_path(uint64_t w, int q, double* result) {
    constexpr uint64_t EXACT_LIMIT = uint64_t{1} << 53;
    if (FLT_EVAL_METHOD != 0 || w > EXACT_LIMIT || q < -22 || q > 22 + 15) return false;
    if (q > 22) {
        uint64_t scale = POWERS_OF_TEN[q - 22];
        if (w > EXACT_LIMIT / scale) return false;
        w *= scale;
        q = 22;
    }
    double x = static_cast<double>(w);
    *result = q >= 0 ? x * EXACT_POWERS_OF_TEN[q] : x / EXACT_POWERS_OF_TEN[-q];
    return true;
}

// A 192-bit unsigned integer, little-endian.
struct U192 {
    uint64_t w[3];
};

int compare(const U192& a, const U192& b) {
    for (int i = 2; i >= 0; --i) {
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    }
    return 0;
}

U192 add(U192 a, const U192& b) {
    uint64_t carry = 0;
    for (int i = 0; i < 3; ++i) {
        uint64_t s = a.w[i] + carry;
        carry = s < carry;
        a.w[i] = s + b.w[i];
        carry += a.w[i] < s;
    }
    return a;
}

// The double nearest w * 10^q (w > 0, q within the table), or, when the
// product's error bound straddles a rounding boundary, the candidate below
// the value for the exact comparison. P = w T (both normalised) is a lower
// bound of the scaled value W: W - P < w when T is rounded down, < 2^133 when
// w was cut from a longer decimal (W < (w + 1)(T + 1)), and 0 when both are
// exact. With R the bits of P below the last kept bit and H half of that
// bit: R > H rounds up whatever the error (a carry into the kept bits leaves
// less than H below them), R + bound <= H rounds down, and between the two
// only the exact comparison decides.
struct Estimate {
    uint64_t bits;
    bool decided;
};

Estimate estimate_double(uint64_t w, int q, bool truncated) {
    int lz = std::countl_zero(w);
    uint64_t wn = w << lz;
    U128 t = pow5_floor(q);
    U128 low = multiply_64(wn, t.lo);
    U128 high = multiply_64(wn, t.hi);
    U192 p{{low.lo, high.lo + low.hi, high.hi + (high.lo + low.hi < high.lo)}};
    int top = 190 + static_cast<int>(p.w[2] >> 63); // leading bit of P
    int scale = floor_log2_pow10(q) - 127 - lz;     // value = P * 2^scale
    int lsb = top + scale >= -1022 ? top - 52 : MIN_EXPONENT - scale;
    if (lsb > 190) return {lsb == 191 ? p.w[2] >> 63 : 0, false};
    int low_bits = lsb - 128; // at least 10: lsb >= top - 52 >= 138
    uint64_t m = p.w[2] >> low_bits;
    U192 rest{{p.w[0], p.w[1], p.w[2] & ((uint64_t{1} << low_bits) - 1)}};
    U192 half{{0, 0, uint64_t{1} << (low_bits - 1)}};
    int against_half = compare(rest, half);
    bool exact = !truncated && q >= 0 && q <= 55; // 5^55 < 2^128: T is 5^q
    bool decided = true, up;
    if (exact) {
        up = against_half > 0 || (against_half == 0 && (m & 1));
    } else {
        U192 bound = truncated ? U192{{0, 0, uint64_t{1} << 5}} : U192{{0, 1, 0}};
        up = against_half > 0;
        decided = up || compare(add(rest, bound), half) <= 0;
    }
    m += up;
    uint64_t bits = m;
    if (lsb == top - 52) {
        bits = (static_cast<uint64_t>(top + scale + 1022) << FRACTION_BITS) + m;
        if (top + scale + 1023 >= 2047 || bits > INFINITY_BITS) bits = INFINITY_BITS;
    }
    return {bits, decided};
}

// Compares digits * 10^q (a little more when sticky) with n * 2^s.
int compare_scaled(const Big& digits, int q, bool sticky, uint64_t n, int s) {
    Big x = digits, y(n);
    if (q >= 0)
        x.multiply_pow5(q);
    else
        y.multiply_pow5(-q);
    if (q >= s)
        x.shift_left(q - s);
    else
        y.shift_left(s - q);
    int c = compare(x, y);
    return c == 0 && sticky ? 1 : c;
}

// Settles the candidate by comparing the decimal with the midpoints to its
// neighbours, stepping while it lies beyond one (ties to even).
uint64_t correct_double(const DecimalText& d, uint64_t candidate) {
    Big digits;
    const char* p = d.digits;
    for (int left = d.stored; left > 0;) {
        int chunk = left < 9 ? left : 9;
        uint32_t value = 0, power = 1;
        for (int i = 0; i < chunk; ++i, ++p) {
            value = value * 10 + static_cast<uint32_t>(*p - '0');
            power *= 10;
        }
        digits.multiply_add(power, value);
        left -= chunk;
    }
    int q = static_cast<int>(d.exponent + (d.count - d.stored));
    uint64_t b = candidate;
    for (;;) {
        if (b >= INFINITY_BITS) return INFINITY_BITS;
        uint64_t fraction = b & FRACTION_MASK;
        int biased = static_cast<int>(b >> FRACTION_BITS);
        uint64_t m = biased ? fraction | HIDDEN_BIT : fraction;
        int e = biased ? biased - EXPONENT_BIAS : MIN_EXPONENT;
        int above = compare_scaled(digits, q, d.sticky, 2 * m + 1, e - 1);
        if (above > 0) {
            ++b;
            continue;
        }
        if (above == 0) return b + (m & 1);
        if (b == 0) return b;
        bool closer = fraction == 0 && biased > 1;
        int below = closer ? compare_scaled(digits, q, d.sticky, 4 * m - 1, e - 2)
                           : compare_scaled(digits, q, d.sticky, 2 * m - 1, e - 1);
        if (below < 0) {
            --b;
            continue;
        }
        if (below == 0) return (m & 1) ? b - 1 : b;
        return b;
    }
}

// The double nearest digits * 10^exponent, before its sign.
double decimal_to_double(const DigitSpans& t, int64_t exponent) {
    LeadingDigits lead = leading_digits(t);
    if (lead.used == 0) return 0.0;
    int64_t point = lead.point + exponent; // value in [10^(point-1), 10^point)
    if (point > 310) return std::bit_cast<double>(INFINITY_BITS);
    if (point <= -324) return 0.0;
    int q = static_cast<int>(point - lead.used);
    double result;
    if (!lead.truncated && exact_fast_path(lead.w, q, &result)) return result;
    Estimate est = estimate_double(lead.w, q, lead.truncated);
    if (est.decided) return std::bit_cast<double>(est.bits);
    DecimalText d;
    collect_digits(t, exponent, d);
    return std::bit_cast<double>(correct_double(d, est.bits));
}

// "#I" or "#N" after "d.": the special values; returns the characters used
// (the whole "#INF" or "#NaN" when present), 0 when the text is no special.
int scan_special(const char* s, const char* end, bool negative, double* value) {
    if (end - s < 2 || s[0] != '#') return 0;
    char kind = static_cast<char>(s[1] | 0x20);
    const char* tail = kind == 'i' ? "nf" : kind == 'n' ? "an" : nullptr;
    if (!tail) return 0;
    *value = kind == 'i' ? std::bit_cast<double>(INFINITY_BITS | (negative ? SIGN_BIT : 0))
                         : std::bit_cast<double>(QUIET_NAN_BITS);
    bool whole = end - s >= 4 && (s[2] | 0x20) == tail[0] && (s[3] | 0x20) == tail[1];
    return whole ? 4 : 2;
}

} // namespace

// ---------------------------------------------------------------------------
// Interface
// ---------------------------------------------------------------------------

int shortest_digits(double value, int ndigits, bool point_zero, char* digits, int* point,
                    bool* negative) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    *negative = (bits & SIGN_BIT) != 0;
    bits &= ~SIGN_BIT;
    if (bits >= INFINITY_BITS) {
        *point = POINT_SPECIAL;
        if (bits > INFINITY_BITS) {
            *negative = false;
            return copy_text("1.#NaN", digits);
        }
        return copy_text(*negative ? "-1.#INF" : "1.#INF", digits);
    }
    if (bits == 0) {
        *point = POINT_ZERO;
        if (point_zero) return copy_text(*negative ? "-0.0" : "0.0", digits);
        return copy_text(*negative ? "-0" : "0", digits);
    }
    int n = ndigits <= 0
                ? write_significand(to_decimal(bits), digits, point)
                : fixed_digits(bits, ndigits < MAX_DIGITS ? ndigits : MAX_DIGITS, digits, point);
    digits[n] = '\0';
    return n;
}

int layout_digits(const char* digits, int n, int point, bool negative, bool exponent_form,
                  bool point_zero, char* out) {
    char* p = out;
    if (negative) *p++ = '-';
    if (exponent_form) {
        *p++ = digits[0];
        if (n > 1 || point_zero) *p++ = '.';
        if (n > 1) {
            std::memcpy(p, digits + 1, n - 1);
            p += n - 1;
        } else if (point_zero) {
            *p++ = '0';
        }
        *p++ = 'e';
        p += write_signed(point - 1, p);
    } else if (point < 1) {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', -point);
        p += -point;
        std::memcpy(p, digits, n);
        p += n;
    } else if (n <= point) {
        std::memcpy(p, digits, n);
        std::memset(p + n, '0', point - n);
        p += point;
        if (point_zero) {
            *p++ = '.';
            *p++ = '0';
        }
    } else {
        std::memcpy(p, digits, point);
        p += point;
        *p++ = '.';
        std::memcpy(p, digits + point, n - point);
        p += n - point;
    }
    *p = '\0';
    return static_cast<int>(p - out);
}

int form_float(double value, int ndigits, bool point_zero, char* out) {
    char digits[DIGITS_SIZE];
    int point;
    bool negative;
    int n = shortest_digits(value, ndigits, point_zero, digits, &point, &negative);
    if (point >= POINT_ZERO) return copy_text(digits, out);
    return layout_digits(digits, n, point, negative, point >= 18 || point < -6, point_zero, out);
}

double string_to_double(const char* start, const char* end, int exp_adjust, int* rest) {
    const char* s = start;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) negative = *s++ == '-';
    const char* int_begin = s;
    while (s < end && is_digit(*s)) ++s;
    const char* int_end = s;
    const char* frac_begin = s;
    const char* frac_end = s;
    if (s < end && *s == '.') {
        double special;
        int used = int_end - int_begin == 1 ? scan_special(s + 1, end, negative, &special) : 0;
        if (used) {
            *rest = static_cast<int>(end - (s + 1 + used));
            return special;
        }
        frac_begin = s + 1;
        frac_end = frac_begin;
        while (frac_end < end && is_digit(*frac_end)) ++frac_end;
        if (int_end > int_begin || frac_end > frac_begin) s = frac_end;
    }
    if (int_end == int_begin && frac_end == frac_begin) {
        *rest = static_cast<int>(end - start);
        return 0.0;
    }
    // Exponents are saturated far beyond any finite or non-zero result.
    constexpr int64_t EXPONENT_LIMIT = int64_t{1} << 40;
    int64_t exponent = 0;
    if (s < end && (*s == 'e' || *s == 'E')) {
        const char* t = s + 1;
        bool exponent_negative = false;
        if (t < end && (*t == '+' || *t == '-')) exponent_negative = *t++ == '-';
        if (t < end && is_digit(*t)) {
            for (; t < end && is_digit(*t); ++t) {
                if (exponent < EXPONENT_LIMIT) exponent = exponent * 10 + (*t - '0');
            }
            if (exponent_negative) exponent = -exponent;
            s = t;
        }
    }
    *rest = static_cast<int>(end - s);
    double magnitude =
        decimal_to_double({int_begin, int_end, frac_begin, frac_end}, exponent + exp_adjust);
    return negative ? -magnitude : magnitude;
}

} // namespace mox::dtoa

namespace mox::natives {

double normalize_angle(double degrees, int mode) {
    double x = std::fmod(degrees, 360.0);
    if (x > 180.0 || x < -180.0) x = x >= 0.0 ? x - 360.0 : x + 360.0;
    if (x > 90.0 || x < -90.0) {
        if (mode == 0)
            x = x >= 0.0 ? x - 180.0 : x + 180.0;
        else if (mode == 2)
            x = x >= 0.0 ? 180.0 - x : -180.0 - x;
    }
    return x * 3.141592653589793 / 180.0;
}

} // namespace mox::natives
