// Number text: the decimal-number check shared by the float, percent, time
// and point loaders, and the scanners behind to integer!, to float! and to
// money! of text, which read a string's units directly (see number-text.h).
#include <cmath>
#include <cstring>

#include "core/dtoa.h"
#include "datatypes/money.h"
#include "datatypes/number-text.h"
#include "datatypes/string.h"

namespace mox::lexer {

namespace {

constexpr int FLOAT_TEXT_MAX = 312;

inline bool digit_q(uint32_t c) { return c >= '0' && c <= '9'; }

} // namespace

// sign? digits ('digits)* [. digits ('digits)*] [e|E sign? digits]; a
// leading point is allowed; at least one digit before the exponent.
bool float_text_q(const uint8_t* p, const uint8_t* e) {
    if (e - p > FLOAT_TEXT_MAX || p >= e) return false;
    if (*p == '+' || *p == '-') p++;
    int digits = 0;
    bool point = false;
    uint8_t prev = 0;
    for (; p < e; prev = *p++) {
        uint8_t c = *p;
        if (digit_q(c)) {
            digits++;
        } else if (c == '\'') {
            if (!digit_q(prev) || p + 1 >= e || !digit_q(p[1])) return false;
        } else if (c == '.') {
            if (point) return false;
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return false;
    if (p == e) return true;
    if (*p != 'e' && *p != 'E') return false;
    p++;
    if (p < e && (*p == '+' || *p == '-')) p++;
    if (p >= e) return false;
    for (; p < e; p++)
        if (!digit_q(*p)) return false;
    return true;
}

double float_of_text(const uint8_t* start, const uint8_t* end, int exp_adjust) {
    char text[FLOAT_TEXT_MAX + 2];
    int n = 0;
    for (const uint8_t* p = start; p < end && n <= FLOAT_TEXT_MAX; p++)
        if (*p != '\'') text[n++] = static_cast<char>(*p);
    int rest = 0;
    return dtoa::string_to_double(text, text + n, exp_adjust, &rest);
}

int32_t scan_integer(const uint8_t* p, int32_t count, uint32_t unit, int32_t* failure) {
    *failure = 0;
    int32_t i = 0;
    bool negative = false;
    if (count > 0) {
        uint32_t c = string::get_char(p, unit);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    if (i >= count) {
        *failure = -1;
        return 0;
    }
    int64_t v = 0;
    for (; i < count; i++) {
        uint32_t c = string::get_char(p + static_cast<size_t>(i) * unit, unit);
        if (c == '\'') continue;
        if (!digit_q(c)) {
            *failure = -1;
            return 0;
        }
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) {
            *failure = -2;
            return 0;
        }
    }
    if (negative) v = -v;
    if (v > INT32_MAX) {
        *failure = -2;
        return 0;
    }
    return static_cast<int32_t>(v);
}

double scan_float(const uint8_t* p, int32_t count, uint32_t unit, int32_t* failure) {
    *failure = -1;
    if (count <= 0 || count > FLOAT_TEXT_MAX) return NAN;
    uint8_t text[FLOAT_TEXT_MAX];
    for (int32_t i = 0; i < count; i++) {
        uint32_t c = string::get_char(p + static_cast<size_t>(i) * unit, unit);
        if (c > 127) return NAN;
        text[i] = static_cast<uint8_t>(c == ',' ? '.' : c);
    }
    if (!float_text_q(text, text + count)) return NAN;
    *failure = 0;
    return float_of_text(text, text + count, 0);
}

void scan_money(const uint8_t* p, int32_t count, uint32_t unit, int32_t* failure, Cell* target) {
    *failure = -1;
    if (count <= 0 || count > FLOAT_TEXT_MAX) return;
    uint8_t text[FLOAT_TEXT_MAX];
    for (int32_t i = 0; i < count; i++) {
        uint32_t c = string::get_char(p + static_cast<size_t>(i) * unit, unit);
        if (c > 127) return;
        text[i] = static_cast<uint8_t>(c);
    }
    const uint8_t* q = text;
    const uint8_t* e = text + count;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    const uint8_t* currency = nullptr;
    if (q < e && ((*q | 0x20) >= 'a' && (*q | 0x20) <= 'z')) {
        if (e - q < 5 || q[3] != '$') return;
        for (int i = 0; i < 3; i++)
            if ((q[i] | 0x20) < 'a' || (q[i] | 0x20) > 'z') return;
        currency = q;
        q += 4;
    } else if (q < e && *q == '$') {
        q++;
    }
    if (q >= e) return;
    const uint8_t* point = nullptr;
    for (const uint8_t* r = q; r < e; r++) {
        if (digit_q(*r)) continue;
        if (*r == '\'') {
            if (r == q || r + 1 == e || r[-1] == '\'' || point) return;
        } else if (*r == '.') {
            if (point || r == q || r + 1 == e) return;
            point = r;
        } else {
            return;
        }
    }
    if (money::make_from_digits(target, negative, currency, q, point, e)) *failure = 0;
}

} // namespace mox::lexer
