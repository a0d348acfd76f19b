// The lexer's loaders: from a recognised token to its value in a new output
// cell, with the validation each token kind needs (see lexer.h). Every
// failure reports "invalid" with the token's datatype through fail().
#include <cmath>
#include <cstring>

#include "core/context.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/binary.h"
#include "datatypes/date.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "evaluator/lexer-internal.h"
#include "evaluator/lexer.h"

namespace mox::lexer {

namespace {

inline bool digit_q(uint8_t c) { return c >= '0' && c <= '9'; }

int32_t hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The named ^(...) escapes.
struct NamedEscape {
    const char* name;
    uint32_t cp;
};
constexpr NamedEscape kNamedEscapes[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                                         {"page", 12}, {"esc", 27}, {"del", 127}};

// Decodes one escape after "^" at p; returns the position after it, or
// nullptr when malformed.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* e, uint32_t* cp) {
    if (p >= e) return nullptr;
    uint8_t c = *p;
    switch (c) {
    case '"':
        *cp = '"';
        return p + 1;
    case '-':
        *cp = 9;
        return p + 1;
    case '/':
        *cp = 10;
        return p + 1;
    case '@':
        *cp = 0;
        return p + 1;
    case '~':
        *cp = 127;
        return p + 1;
    case '^':
        *cp = '^';
        return p + 1;
    case '(': {
        const uint8_t* q = p + 1;
        const uint8_t* close = q;
        while (close < e && *close != ')') close++;
        if (close >= e || close == q) return nullptr;
        size_t n = static_cast<size_t>(close - q);
        for (const NamedEscape& named : kNamedEscapes) {
            if (std::strlen(named.name) != n) continue;
            bool same = true;
            for (size_t i = 0; i < n && same; i++) same = (q[i] | 0x20) == named.name[i];
            if (same) {
                *cp = named.cp;
                return close + 1;
            }
        }
        if (n > 6) return nullptr;
        uint32_t v = 0;
        for (const uint8_t* r = q; r < close; r++) {
            int32_t h = hex_value(*r);
            if (h < 0) return nullptr;
            v = v << 4 | static_cast<uint32_t>(h);
        }
        if (v > 0x10FFFF) return nullptr;
        *cp = v;
        return close + 1;
    }
    default:
        break;
    }
    if (c >= 'a' && c <= 'z') {
        *cp = c - 'a' + 1u;
        return p + 1;
    }
    if (c >= 0x41 && c <= 0x5F) {
        *cp = c - 0x40u;
        return p + 1;
    }
    const uint8_t* q = p;
    int32_t v = utf8_decode(&q, e);
    if (v < 0) return nullptr;
    *cp = static_cast<uint32_t>(v);
    return q;
}

inline uint32_t unit_for(uint32_t max) { return max < 0x80 ? 1 : max < 0x10000 ? 2 : 4; }

} // namespace

bool decode_text(const uint8_t* p, const uint8_t* e, bool escapes, uint8_t* out, uint32_t unit,
                 uint32_t* count, uint32_t* max) {
    uint32_t n = 0, hi = 0;
    while (p < e) {
        uint32_t cp;
        uint8_t c = *p;
        if (c < 0x80 && (c != '^' || !escapes)) {
            cp = c;
            p++;
        } else if (c == '^') {
            p = decode_escape(p + 1, e, &cp);
            if (!p) return false;
        } else {
            int32_t v = utf8_decode(&p, e);
            if (v < 0) return false;
            cp = static_cast<uint32_t>(v);
        }
        if (out) string::put_char(out + n * unit, unit, cp);
        if (cp > hi) hi = cp;
        n++;
    }
    *count = n;
    *max = hi;
    return true;
}

bool load_text(Cell* cell, const uint8_t* p, const uint8_t* e, bool escapes, uint32_t type) {
    uint32_t n, max;
    if (!decode_text(p, e, escapes, nullptr, 1, &n, &max)) return false;
    uint32_t unit = unit_for(max);
    string::make_at(cell, n, unit, type);
    memory::SeriesBuffer* b = string::buffer_of(cell);
    decode_text(p, e, escapes, b->head_ptr(), unit, &n, &max);
    b->tail = b->head + n * unit;
    return true;
}

// ---------------------------------------------------------------------------
// Words
// ---------------------------------------------------------------------------

namespace {

// The marks of a word token: its type by the leading mark (word!, lit-word!
// or get-word!), whether a final colon follows, and the name's bounds.
uint32_t word_marks(const Scan* s, const uint8_t** from, const uint8_t** to, bool* colon) {
    const uint8_t* p = s->tok_start;
    const uint8_t* e = s->tok_end;
    uint32_t type = TYPE_WORD;
    if (*p == '\'' && e - p > 1) {
        type = TYPE_LIT_WORD;
        p++;
    } else if (*p == ':' && e - p > 1) {
        type = TYPE_GET_WORD;
        p++;
    }
    *colon = e - p > 1 && e[-1] == ':';
    if (*colon) e--;
    *from = p;
    *to = e;
    return type;
}

} // namespace

uint32_t word_token_type(const Scan* s) {
    const uint8_t* p;
    const uint8_t* e;
    bool colon;
    const uint32_t type = word_marks(s, &p, &e, &colon);
    return colon && type == TYPE_WORD ? TYPE_SET_WORD : type;
}

namespace {

// The word kind of a word token and its name's bounds.
uint32_t word_kind(Scan* s, const uint8_t** from, const uint8_t** to) {
    const uint8_t* p;
    const uint8_t* e;
    bool colon;
    uint32_t type = word_marks(s, &p, &e, &colon);
    if (colon) {
        if (type != TYPE_WORD) fail(s, static_cast<int32_t>(type));
        type = TYPE_SET_WORD;
    }
    if (std::memchr(p, ':', static_cast<size_t>(e - p))) fail(s, TYPE_WORD);
    *from = p;
    *to = e;
    return type;
}

void load_word(Scan* s, Cell* c) {
    const uint8_t* p;
    const uint8_t* e;
    uint32_t type = word_kind(s, &p, &e);
    uint32_t sym = symbol::intern(reinterpret_cast<const char*>(p), static_cast<size_t>(e - p),
                                  symbol::MODE_KEEP);
    Cell w;
    word::make_at(sym, &w);
    w.header = type;
    *c = w;
}

// A symbol-named value that is not bound (refinement!) or bound to the
// global context without a slot (issue!).
void load_name(Scan* s, Cell* c, uint32_t type) {
    const uint8_t* p = s->tok_start + 1;
    const uint8_t* e = s->tok_end;
    if (p >= e) fail(s, static_cast<int32_t>(type));
    uint32_t sym = symbol::intern(reinterpret_cast<const char*>(p), static_cast<size_t>(e - p),
                                  symbol::MODE_KEEP);
    *c = Cell{type, type == TYPE_ISSUE ? context::global : 0u, sym, static_cast<uint32_t>(-1)};
}

// ---------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------

// Integer text with apostrophes between digits: the value, or a float!
// past the 32-bit range or beyond 10 digits.
void load_integer(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    const uint8_t* e = s->tok_end;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t v = 0;
    int digits = 0;
    bool last_quote = true;
    for (const uint8_t* q = p; q < e; q++) {
        if (*q == '\'') {
            if (last_quote) fail(s, TYPE_INTEGER);
            last_quote = true;
            continue;
        }
        if (!digit_q(*q)) fail(s, TYPE_INTEGER);
        last_quote = false;
        if (digits || *q != '0') digits++;
        if (digits <= 10) v = v * 10 + (*q - '0');
    }
    if (last_quote) fail(s, TYPE_INTEGER);
    if (negative) v = -v;
    if (digits > 10 || v > INT32_MAX || v < INT32_MIN) {
        make_float(c, float_of_text(s->tok_start, e, 0));
        return;
    }
    make_integer(c, static_cast<int32_t>(v));
}

void load_hex(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    const uint8_t* e = s->tok_end - 1; // before "h"
    int32_t n = static_cast<int32_t>(e - p);
    if (n == 1 && !digit_q(*p)) fail(s, TYPE_WORD);
    if (n < 2 || n > 8) fail(s, TYPE_INTEGER);
    uint32_t v = 0;
    for (; p < e; p++) {
        if (!digit_q(*p) && !(*p >= 'A' && *p <= 'F')) fail(s, TYPE_INTEGER);
        v = v << 4 | static_cast<uint32_t>(hex_value(*p));
    }
    make_integer(c, static_cast<int32_t>(v));
}

void load_float(Scan* s, Cell* c) {
    if (!float_text_q(s->tok_start, s->tok_end)) fail(s, TYPE_FLOAT);
    make_float(c, float_of_text(s->tok_start, s->tok_end, 0));
}

// 1.#INF, -1.#INF, 1.#NaN in any letter case.
void load_special_float(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    size_t n = static_cast<size_t>(s->tok_end - p);
    auto same = [&](const char* text) {
        if (std::strlen(text) != n) return false;
        for (size_t i = 0; i < n; i++)
            if ((p[i] | 0x20) != (text[i] | 0x20)) return false;
        return true;
    };
    if (same("1.#INF"))
        make_float(c, negative ? -INFINITY : INFINITY);
    else if (same("1.#NaN"))
        make_float(c, NAN);
    else
        fail(s, TYPE_FLOAT);
}

// A number followed by "%": its hundredth.
void load_percent(Scan* s, Cell* c) {
    const uint8_t* e = s->tok_end - 1;
    if (std::memchr(s->tok_start, '\'', static_cast<size_t>(e - s->tok_start)) ||
        !float_text_q(s->tok_start, e) || !delimiter_q(s->tok_end, s->end))
        fail(s, TYPE_FLOAT);
    percent::make_cell(c, float_of_text(s->tok_start, e, -2));
}

// A signed integer from [p, e) without separators; false when malformed or
// out of range.
bool small_integer(const uint8_t* p, const uint8_t* e, int32_t* out) {
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p >= e || e - p > 10) return false;
    int64_t v = 0;
    for (; p < e; p++) {
        if (!digit_q(*p)) return false;
        v = v * 10 + (*p - '0');
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

void load_pair(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    const uint8_t* e = s->tok_end;
    const uint8_t* x = p;
    while (x < e && *x != 'x' && *x != 'X') x++;
    int32_t a, b;
    if (x >= e || !small_integer(p, x, &a) || !small_integer(x + 1, e, &b)) fail(s, TYPE_PAIR);
    pair::make_cell(c, a, b);
}

// 3 to 12 numbers 0-255 separated by single points.
void load_tuple(Scan* s, Cell* c) {
    uint8_t bytes[12];
    int32_t n = 0;
    int32_t v = -1;
    for (const uint8_t* p = s->tok_start; p <= s->tok_end; p++) {
        if (p == s->tok_end || *p == '.') {
            if (v < 0 || n == 12) fail(s, TYPE_TUPLE);
            bytes[n++] = static_cast<uint8_t>(v);
            v = -1;
            continue;
        }
        if (!digit_q(*p)) fail(s, TYPE_TUPLE);
        v = (v < 0 ? 0 : v * 10) + (*p - '0');
        if (v > 255) fail(s, TYPE_TUPLE);
    }
    if (n < 3) fail(s, TYPE_TUPLE);
    tuple::make_cell(c, bytes, n);
}

// Blanks inside a point literal; a point typed over several lines of the
// console holds line ends.
bool point_blank_q(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The point literal "(x, y)" or "(x, y, z)".
void load_point(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start + 1;
    const uint8_t* e = s->tok_end - 1; // before ")"
    double v[3];
    int n = 0;
    int32_t type = TYPE_POINT2D;
    for (;;) {
        while (p < e && point_blank_q(*p)) p++;
        const uint8_t* q = p;
        while (q < e && *q != ',' && !point_blank_q(*q)) q++;
        if (n == 3 || !float_text_q(p, q)) fail(s, type);
        v[n++] = float_of_text(p, q, 0);
        if (n == 2) type = TYPE_POINT3D;
        p = q;
        while (p < e && point_blank_q(*p)) p++;
        if (p >= e) break;
        if (*p != ',') fail(s, type);
        p++;
    }
    if (n == 2)
        point2D::make_cell(c, static_cast<float>(v[0]), static_cast<float>(v[1]));
    else if (n == 3)
        point3D::make_cell(c, static_cast<float>(v[0]), static_cast<float>(v[1]),
                           static_cast<float>(v[2]));
    else
        fail(s, TYPE_POINT2D);
}

// Money: optional sign, optional currency code, "$", digits with
// apostrophes, optional fraction.
void load_money(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    const uint8_t* e = s->tok_end;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const uint8_t* currency = nullptr;
    if (*p != '$') {
        if (e - p < 4 || p[3] != '$') fail(s, TYPE_MONEY);
        currency = p;
        p += 3;
    }
    p++;
    const uint8_t* point =
        static_cast<const uint8_t*>(std::memchr(p, '.', static_cast<size_t>(e - p)));
    if (p >= e || *p == '\'' || e[-1] == '\'' || e[-1] == '.' || (point && point == p))
        fail(s, TYPE_MONEY);
    for (const uint8_t* q = p + 1; q < e; q++)
        if (*q == '\'' && (q[-1] == '\'' || (point && q > point))) fail(s, TYPE_MONEY);
    if (!money::make_from_digits(c, negative, currency, p, point, e)) fail(s, TYPE_MONEY);
}

// ---------------------------------------------------------------------------
// Time and date
// ---------------------------------------------------------------------------

// Unsigned decimal digits at *p (at most 9); -1 when there are none.
int32_t read_digits(const uint8_t** p, const uint8_t* e, int32_t* count = nullptr) {
    const uint8_t* q = *p;
    int32_t v = 0;
    while (q < e && digit_q(*q) && q - *p < 9) v = v * 10 + (*q++ - '0');
    if (count) *count = static_cast<int32_t>(q - *p);
    if (q == *p) return -1;
    *p = q;
    return v;
}

// hh:mm[:ss[.fraction]] from *p to e; the seconds of the day, or -1.
double read_time(const uint8_t* p, const uint8_t* e, bool limit_day) {
    int32_t h = read_digits(&p, e);
    if (h < 0 || p >= e || *p != ':') return -1;
    p++;
    int32_t m = read_digits(&p, e);
    if (m < 0 || m > 59) return -1;
    double sec = 0;
    if (p < e) {
        if (*p != ':') return -1;
        p++;
        const uint8_t* q = p;
        while (q < e && (digit_q(*q) || *q == '.')) q++;
        if (q != e || q == p || *p == '.' || e[-1] == '.') return -1;
        if (!float_text_q(p, e)) return -1;
        sec = float_of_text(p, e, 0);
        if (sec >= 60) return -1;
    }
    if (limit_day && h > 23) return -1;
    return h * 3600.0 + m * 60.0 + sec;
}

void load_time(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    double t = read_time(p, s->tok_end, false);
    if (t < 0) fail(s, TYPE_TIME);
    time::box(c, negative ? -t : t);
}

constexpr const char* kMonths[12] = {"january",   "february", "march",    "april",
                                     "may",       "june",     "july",     "august",
                                     "september", "october",  "november", "december"};

// An English month name or its abbreviation (3 letters or more).
int32_t month_of(const uint8_t* p, const uint8_t* e) {
    size_t n = static_cast<size_t>(e - p);
    if (n < 3 || n > 9) return -1;
    for (int m = 0; m < 12; m++) {
        const char* name = kMonths[m];
        if (n > std::strlen(name)) continue;
        bool same = true;
        for (size_t i = 0; i < n && same; i++) same = (p[i] | 0x20) == name[i];
        if (same) return m + 1;
    }
    return -1;
}

struct DateParts {
    int32_t year, month, day;
    int32_t week, weekday, yearday;
};

// The time and zone after a date: [/ or T] time [Z | +hh[:mm] | -hh[:mm]].
bool read_date_time(const uint8_t* p, const uint8_t* e, double* seconds, int32_t* zh, int32_t* zm,
                    bool* has_time) {
    *has_time = false;
    *zh = *zm = 0;
    *seconds = 0;
    if (p == e) return true;
    if (*p != '/' && *p != 'T' && *p != 't') return false;
    p++;
    const uint8_t* z = p;
    while (z < e && *z != 'Z' && *z != 'z' && *z != '+' && *z != '-') z++;
    // The compact hhmm[ss] form, or hh:mm[:ss].
    const uint8_t* q = p;
    while (q < z && digit_q(*q)) q++;
    if (q == z && (z - p == 4 || z - p == 6)) {
        int32_t h = (p[0] - '0') * 10 + p[1] - '0', m = (p[2] - '0') * 10 + p[3] - '0';
        int32_t sec = z - p == 6 ? (p[4] - '0') * 10 + p[5] - '0' : 0;
        if (h > 23 || m > 59 || sec > 59) return false;
        *seconds = h * 3600.0 + m * 60.0 + sec;
    } else {
        double t = read_time(p, z, true);
        if (t < 0) return false;
        *seconds = t;
    }
    *has_time = true;
    if (z == e) return true;
    if (*z == 'Z' || *z == 'z') return z + 1 == e;
    bool negative = *z == '-';
    p = z + 1;
    int32_t n;
    int32_t h = read_digits(&p, e, &n);
    if (h < 0) return false;
    int32_t m = 0;
    if (p < e && *p == ':') {
        p++;
        m = read_digits(&p, e);
        if (m < 0) return false;
    } else if (n == 4) {
        m = h % 100;
        h /= 100;
    } else if (n > 2) {
        return false;
    }
    if (p != e || h > 15 || m > 59) return false;
    *zh = negative ? -h : h;
    *zm = negative && h == 0 ? -m : m;
    return true;
}

void load_date(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    const uint8_t* e = s->tok_end;
    auto bad = [&]() { fail(s, TYPE_DATE); };
    int32_t year = 0, month = 0, day = 0, week = 0, weekday = 0, yearday = 0;
    const uint8_t* q = p;
    int32_t n1;
    int32_t a = read_digits(&q, e, &n1);
    if (a < 0) bad();
    const uint8_t* rest;
    if (q < e && (*q == 'T' || *q == 't') && n1 == 8) {
        year = a / 10000;
        month = a / 100 % 100;
        day = a % 100;
        rest = q;
        if (rest == e) bad();
    } else {
        if (q >= e || (*q != '-' && *q != '/')) bad();
        uint8_t sep = *q++;
        if (q < e && (*q == 'W' || *q == 'w') && sep == '-') {
            q++;
            int32_t nw;
            week = read_digits(&q, e, &nw);
            if (nw != 2 || week < 1 || week > 53) bad();
            if (q < e && *q == '-') {
                q++;
                weekday = read_digits(&q, e);
                if (weekday < 1 || weekday > 7) bad();
            }
            year = a;
            month = day = 1;
        } else {
            const uint8_t* m0 = q;
            int32_t n2;
            int32_t b = read_digits(&q, e, &n2);
            if (b < 0) {
                while (q < e && ((*q | 0x20) >= 'a' && (*q | 0x20) <= 'z')) q++;
                b = month_of(m0, q);
                if (b < 0) bad();
            }
            if (q >= e || *q != sep) {
                // YYYY-DDD: the ordinal day.
                if (sep != '-' || n2 != 3) bad();
                year = a;
                month = day = 1;
                yearday = b;
                if (b < 1 || b > (date::leap_year_q(year) ? 366 : 365)) bad();
            } else {
                q++;
                int32_t n3;
                int32_t d = read_digits(&q, e, &n3);
                if (d < 0) bad();
                month = b;
                if (d > 31 || a <= 99) {
                    day = a;
                    year = d;
                    if (n3 <= 2 && d <= 99) year += d > 49 ? 1900 : 2000;
                } else {
                    year = a;
                    day = d;
                }
            }
        }
        rest = q;
    }
    double seconds;
    int32_t zh, zm;
    bool has_time;
    if (!read_date_time(rest, e, &seconds, &zh, &zm, &has_time)) bad();
    if (month < 1 || month > 12 || year > 9999 || day < 1 || day > date::days_in_month(year, month))
        bad();
    date::make_cell(c, year, month, day, seconds, zh, zm, has_time);
    if (week) {
        date::set_isoweek(c, week);
        if (weekday) date::set_weekday(c, weekday);
    } else if (yearday) {
        date::set_yearday(c, yearday);
    }
}

// ---------------------------------------------------------------------------
// Strings and string-like tokens
// ---------------------------------------------------------------------------

// %xx escapes decoded (escaped UTF-8 sequences become one character).
void load_percent_escaped(Scan* s, Cell* c, const uint8_t* p, const uint8_t* e, uint32_t type) {
    for (const uint8_t* q = p; q < e; q++) {
        if (*q == '%' && (e - q < 3 || hex_value(q[1]) < 0 || hex_value(q[2]) < 0))
            fail(s, static_cast<int32_t>(type));
    }
    string::make_at(c, static_cast<uint32_t>(e - p), 1, type);
    url::decode_utf8(p, static_cast<size_t>(e - p), c);
}

void load_string_like(Scan* s, Cell* c, const uint8_t* p, const uint8_t* e, bool escapes,
                      uint32_t type) {
    if (!load_text(c, p, e, escapes, type)) fail(s, static_cast<int32_t>(type));
}

// %{...}%: the number of "%" that opened must close, further on when fewer
// follow the first "}".
void load_raw_string(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    int32_t open = 0;
    while (p[open] == '%') open++;
    const uint8_t* body = p + open + 1;
    const uint8_t* e = s->tok_end;
    int32_t close = 0;
    while (e[-1 - close] == '%') close++;
    if (close > open) fail(s, TYPE_STRING);
    const uint8_t* body_end = e - close - 1;
    if (close < open) {
        const uint8_t* q = e;
        for (;;) {
            while (q < s->end && *q != '}') q++;
            if (q >= s->end) fail(s, TYPE_STRING);
            int32_t k = 0;
            while (q + 1 + k < s->end && q[1 + k] == '%') k++;
            if (k == open && delimiter_q(q + 1 + k, s->end)) break;
            q++;
        }
        for (const uint8_t* r = e; r < q; r++)
            if (*r == '\n') s->line++;
        body_end = q;
        s->pos = s->tok_end = q + 1 + open;
    }
    load_string_like(s, c, body, body_end, false, TYPE_STRING);
}

void load_char(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start + 2;
    const uint8_t* e = s->tok_end - 1;
    uint32_t n, max;
    uint32_t cp;
    if (!decode_text(p, e, true, nullptr, 4, &n, &max) || n != 1) fail(s, TYPE_CHAR);
    decode_text(p, e, true, reinterpret_cast<uint8_t*>(&cp), 4, &n, &max);
    make_char(c, cp);
}

void load_file(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start + 1;
    if (*p == '"') {
        load_string_like(s, c, p + 1, s->tok_end - 1, true, TYPE_FILE);
        return;
    }
    load_percent_escaped(s, c, p, s->tok_end, TYPE_FILE);
}

void load_url(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    if (*p == ':') fail(s, TYPE_GET_WORD);
    if (*p == '\'') fail(s, TYPE_LIT_WORD);
    load_percent_escaped(s, c, p, s->tok_end, TYPE_URL);
}

// #{...}, 16#{...}, 2#{...}, 64#{...}.
void load_binary(Scan* s, Cell* c) {
    const uint8_t* p = s->tok_start;
    int32_t base = 16;
    if (*p != '#') {
        const uint8_t* q = p;
        base = read_digits(&q, s->tok_end);
        p = q;
    }
    const uint8_t* text = p + 2;
    int32_t length = static_cast<int32_t>(s->tok_end - 1 - text);
    node_t node = base == 16   ? binary::decode_base16(text, length, 1)
                  : base == 2  ? binary::decode_base2(text, length, 1)
                  : base == 64 ? binary::decode_base64(text, length, 1)
                               : 0;
    if (!node) fail(s, TYPE_BINARY);
    make_series(c, TYPE_BINARY, node);
}

} // namespace

// ---------------------------------------------------------------------------
// Closing maps and comma points
// ---------------------------------------------------------------------------

void close_map(Scan* s) {
    uint32_t at = s->marker - 1;
    uint32_t n = out_top - at - 1;
    if (!s->load || s->prescan) {
        s->marker = out_cells[at].data1;
        out_top = at;
        s->result = TYPE_MAP;
        return;
    }
    if (n % 2) fail(s, TYPE_MAP);
    for (uint32_t i = at + 1; i < out_top; i += 2)
        if (!map::valid_key_q(type_of(&out_cells[i]))) fail(s, TYPE_MAP);
    uint32_t flags = out_cells[at].header & FLAG_NEW_LINE;
    s->marker = out_cells[at].data1;
    node_t node = memory::alloc_cells(n ? n : 1);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->cells(), &out_cells[at + 1], n * sizeof(Cell));
    b->tail = b->head + n * static_cast<uint32_t>(sizeof(Cell));
    Cell* c = &out_cells[at];
    make_series(c, TYPE_BLOCK, node);
    out_top = at + 1;
    map::make_cell(c, c, static_cast<int32_t>(n));
    c->header |= flags;
    s->result = TYPE_MAP;
}

// (x, y) or (x, y, z) whose coordinates were scanned as values: numbers
// only.
void close_point(Scan* s) {
    uint32_t at = s->marker - 1;
    uint32_t n = out_top - at - 1;
    uint32_t commas = out_cells[at].data2 >> 16;
    int32_t type = commas == 2 ? TYPE_POINT3D : TYPE_POINT2D;
    if (!s->load || s->prescan) {
        s->marker = out_cells[at].data1;
        out_top = at;
        s->result = type;
        return;
    }
    if (n != commas + 1) fail(s, type);
    float v[3] = {};
    for (uint32_t i = 0; i < n; i++) {
        const Cell* x = &out_cells[at + 1 + i];
        if (type_of(x) == TYPE_INTEGER)
            v[i] = static_cast<float>(get_integer(x));
        else if (type_of(x) == TYPE_FLOAT)
            v[i] = static_cast<float>(get_float(x));
        else
            fail(s, type);
    }
    uint32_t flags = out_cells[at].header & FLAG_NEW_LINE;
    s->marker = out_cells[at].data1;
    Cell* c = &out_cells[at];
    if (n == 2)
        point2D::make_cell(c, v[0], v[1]);
    else
        point3D::make_cell(c, v[0], v[1], v[2]);
    c->header |= flags;
    out_top = at + 1;
    s->result = type;
}

int32_t datatype_by_name(const char* name) {
    for (uint32_t t = 1; t <= datatype::top_id && t < TYPE_TOTAL; t++) {
        const char* n = datatype::name_table[t].name;
        if (!n) continue;
        size_t i = 0;
        for (; n[i] && name[i]; i++) {
            char a = n[i], b = name[i];
            if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
            if (a != b) break;
        }
        if (!n[i] && !name[i]) return static_cast<int32_t>(t);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Dispatch
// ---------------------------------------------------------------------------

// Builds the token's value in a new output cell. The cell holds none! while
// its value is made, so a collection meanwhile sees a valid cell.
void load_token(Scan* s) {
    Cell* c = push_value(s);
    switch (s->kind) {
    case K_STRING:
        load_string_like(s, c, s->tok_start + 1, s->tok_end - 1, true, TYPE_STRING);
        break;
    case K_WORD:
        load_word(s, c);
        break;
    case K_ISSUE:
        if (*s->tok_start != '#') fail(s, TYPE_ISSUE);
        load_name(s, c, TYPE_ISSUE);
        break;
    case K_REFINEMENT:
        load_name(s, c, TYPE_REFINEMENT);
        break;
    case K_INTEGER:
        load_integer(s, c);
        break;
    case K_CHAR:
        load_char(s, c);
        break;
    case K_FILE:
        load_file(s, c);
        break;
    case K_BINARY:
        load_binary(s, c);
        break;
    case K_PERCENT:
        load_percent(s, c);
        break;
    case K_FLOAT:
        load_float(s, c);
        break;
    case K_SPECIAL_FLOAT:
        load_special_float(s, c);
        break;
    case K_TUPLE:
        load_tuple(s, c);
        break;
    case K_DATE:
        load_date(s, c);
        break;
    case K_PAIR:
        load_pair(s, c);
        break;
    case K_POINT:
        load_point(s, c);
        break;
    case K_TIME:
        load_time(s, c);
        break;
    case K_MONEY:
        load_money(s, c);
        break;
    case K_TAG:
        load_string_like(s, c, s->tok_start + 1, s->tok_end - 1, false, TYPE_TAG);
        break;
    case K_URL:
        load_url(s, c);
        break;
    case K_EMAIL:
        load_string_like(s, c, s->tok_start, s->tok_end, false, TYPE_EMAIL);
        break;
    case K_HEX:
        load_hex(s, c);
        break;
    case K_RAW_STRING:
        load_raw_string(s, c);
        break;
    case K_REF:
        load_string_like(s, c, s->tok_start + 1, s->tok_end, false, TYPE_REF);
        break;
    default:
        fail(s, ERR_BAD_CHAR);
    }
    s->result = static_cast<int32_t>(type_of(c));
}

// The scan mode validates by loading into a cell that is dropped again;
// word-like tokens are only checked, so that scanning interns no symbols.
void check_token(Scan* s) {
    const uint8_t* from;
    const uint8_t* to;
    switch (s->kind) {
    case K_WORD:
        s->result = static_cast<int32_t>(word_kind(s, &from, &to));
        return;
    case K_ISSUE:
        if (*s->tok_start != '#' || s->tok_end - s->tok_start < 2) fail(s, TYPE_ISSUE);
        s->result = TYPE_ISSUE;
        return;
    case K_REFINEMENT:
        s->result = TYPE_REFINEMENT;
        return;
    default:
        break;
    }
    uint32_t top = out_top;
    load_token(s);
    out_top = top;
}

} // namespace mox::lexer
