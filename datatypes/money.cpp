// money!: 22 BCD digits (17 before the point, 5 after), a sign and a
// currency index, written [-][CUR]$digits.fraction.
#include "datatypes/money.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/actions.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/dtoa.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/number-text.h"
#include "datatypes/string.h"
#include "datatypes/time.h"

namespace mox::money {

namespace {

// The currency list at start-up, in its fixed order: a value stores the
// 1-based position of its code.
constexpr char kCurrencies[] =
    "AED AFN ALL AMD ANG AOA ARS AUD AWG AZN BAM BBD BDT BTC BGN BHD BIF BMD BND BOB BRL BSD "
    "BTN BWP BYN BZD CAD CDF CHF CKD CLP CNY COP CRC CUC CUP CVE CZK DJF DKK DOP DZD EGP ERN "
    "ETB ETH EUR FJD FKP FOK GBP GEL GGP GHS GIP GMD GNF GTQ GYD HKD HNL HRK HTG HUF IDR ILS "
    "IMP INR IQD IRR ISK JEP JMD JOD JPY KES KGS KHR KID KMF KPW KRW KWD KYD KZT LAK LBP LKR "
    "LRD LSL LYD MAD MDL MGA MKD MMK MNT MOP MRU MUR MVR MWK MXN MYR MZN NAD NGN NIO NOK NPR "
    "NZD OMR PAB PEN PGK PHP PKR PLN PND PRB PYG QAR MOX RON RSD RUB RWF SAR SBD SCR SDG SEK "
    "SGD SHP SLL SLS SOS SRD SSP STN SYP SZL THB TJS TMT TND TOP TRY TTD TVD TWD TZS UAH UGX "
    "USD UYU UZS VES VND VUV WST CFA XAF XCD XOF CFP XPF YER ZAR ZMW";
constexpr int32_t kCurrencyCount = (sizeof kCurrencies) / 4;
static_assert(kCurrencyCount == 170);

// A value keeps its currency's position in one byte, 0 meaning none.
constexpr int32_t MAX_CURRENCIES = 255;

// Codes appended to system/locale/currencies/list at run time (its
// handler lets it grow only at its tail, by three-letter codes), copied
// from the list when a lookup goes past the built-in ones.
char added_codes[MAX_CURRENCIES - kCurrencyCount][4];
int32_t added_count = 0;

uint8_t upper(uint8_t c);

void read_added_codes() {
    static uint32_t path[3];
    if (!path[0]) {
        path[0] = symbol::make("locale");
        path[1] = symbol::make("currencies");
        path[2] = symbol::make("list");
    }
    added_count = 0;
    const Cell* list = time::system_field(path, 3);
    if (!list || type_of(list) != TYPE_BLOCK) return;
    memory::SeriesBuffer* b = memory::buffer_of(list->data2);
    for (const Cell* c = b->cells() + kCurrencyCount;
         c < b->cells_tail() && added_count < MAX_CURRENCIES - kCurrencyCount; c++) {
        size_t length = 0;
        if (!is_any_word(type_of(c))) return;
        const char* name = symbol::name_utf8(c->data2, &length);
        if (length != 3) return;
        char* code = added_codes[added_count++];
        for (int i = 0; i < 3; i++)
            code[i] = static_cast<char>(upper(static_cast<uint8_t>(name[i])));
        code[3] = '\0';
    }
}

uint8_t* digit_bytes(Cell* m) { return reinterpret_cast<uint8_t*>(m) + 5; }
const uint8_t* digit_bytes(const Cell* m) { return reinterpret_cast<const uint8_t*>(m) + 5; }

uint8_t upper(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

// Magnitudes compared digit by digit from the most significant.
int compare_magnitude(const Cell* a, const Cell* b) {
    int diff = std::memcmp(digit_bytes(a), digit_bytes(b), 11);
    return (diff > 0) - (diff < 0);
}

int compare_amounts(const Cell* a, const Cell* b) {
    int sa = sign_q(a), sb = sign_q(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    int m = compare_magnitude(a, b);
    return sa < 0 ? -m : m;
}

// The plain decimal text of the amount, all five fraction digits.
std::string plain_text(const Cell* m) {
    std::string text;
    if (sign_q(m) < 0) text.push_back('-');
    int32_t first = 1;
    while (first < INT_DIGITS && get_digit(m, first) == 0) first++;
    for (int32_t p = first; p <= INT_DIGITS; p++)
        text.push_back(static_cast<char>('0' + get_digit(m, p)));
    text.push_back('.');
    for (int32_t p = INT_DIGITS + 1; p <= DIGITS; p++)
        text.push_back(static_cast<char>('0' + get_digit(m, p)));
    return text;
}

int32_t form_money(Cell* value, Cell* buffer, bool grouping, int32_t fraction_digits,
                   int32_t limit) {
    std::string text;
    if (sign_q(value) < 0) text.push_back('-');
    if (uint8_t currency = currency_of(value)) text.append(currency_name(currency), 3);
    text.push_back('$');
    int32_t first = 1;
    while (first <= INT_DIGITS && get_digit(value, first) == 0) first++;
    if (first > INT_DIGITS) text.push_back('0');
    for (int32_t p = first; p <= INT_DIGITS; p++) {
        text.push_back(static_cast<char>('0' + get_digit(value, p)));
        if (grouping && p < INT_DIGITS && p % 3 == 2) text.push_back('\'');
    }
    if (fraction_digits > 0) {
        text.push_back('.');
        for (int32_t p = INT_DIGITS + 1; p <= INT_DIGITS + fraction_digits; p++)
            text.push_back(static_cast<char>('0' + get_digit(value, p)));
    }
    string::concatenate_literal(buffer, text.c_str());
    return limit - static_cast<int32_t>(text.size());
}

} // namespace

// ---------------------------------------------------------------------------
// Currencies and cells
// ---------------------------------------------------------------------------

int32_t currency_count() {
    read_added_codes();
    return kCurrencyCount + added_count;
}

const char* currency_name(int32_t index) {
    if (index >= 1 && index <= kCurrencyCount) return kCurrencies + (index - 1) * 4;
    if (index > kCurrencyCount && index <= MAX_CURRENCIES) {
        if (index > kCurrencyCount + added_count) read_added_codes();
        if (index <= kCurrencyCount + added_count) return added_codes[index - kCurrencyCount - 1];
    }
    return "???";
}

int32_t find_currency(const uint8_t* code, int32_t length) {
    if (length != 3) return -1;
    for (int32_t i = 0; i < kCurrencyCount; i++) {
        const char* name = kCurrencies + i * 4;
        if (upper(code[0]) == name[0] && upper(code[1]) == name[1] && upper(code[2]) == name[2])
            return i + 1;
    }
    read_added_codes();
    for (int32_t i = 0; i < added_count; i++) {
        const char* name = added_codes[i];
        if (upper(code[0]) == name[0] && upper(code[1]) == name[1] && upper(code[2]) == name[2])
            return kCurrencyCount + i + 1;
    }
    return -1;
}

int32_t get_sign(const Cell* m) { return (m->header & FLAG_MONEY_SIGN) ? 1 : 0; }

void set_sign(Cell* m, int32_t sign) {
    if (sign)
        m->header |= FLAG_MONEY_SIGN;
    else
        m->header &= ~FLAG_MONEY_SIGN;
}

int32_t get_digit(const Cell* m, int32_t position) {
    uint8_t byte = digit_bytes(m)[(position - 1) / 2];
    return (position - 1) % 2 == 0 ? byte >> 4 : byte & 15;
}

void set_digit(Cell* m, int32_t position, int32_t digit) {
    uint8_t& byte = digit_bytes(m)[(position - 1) / 2];
    if ((position - 1) % 2 == 0)
        byte = static_cast<uint8_t>((byte & 0x0F) | digit << 4);
    else
        byte = static_cast<uint8_t>((byte & 0xF0) | digit);
}

bool zero_q(const Cell* m) {
    const uint8_t* d = digit_bytes(m);
    for (int i = 0; i < 11; i++) {
        if (d[i]) return false;
    }
    return true;
}

int32_t sign_q(const Cell* m) {
    if (zero_q(m)) return 0;
    return get_sign(m) ? -1 : 1;
}

Cell* make_from_digits(Cell* cell, bool negative, const uint8_t* currency, const uint8_t* start,
                       const uint8_t* point, const uint8_t* end) {
    Cell m{TYPE_MONEY, 0, 0, 0};
    if (currency) {
        int32_t index = find_currency(currency, 3);
        if (index < 0) return nullptr;
        reinterpret_cast<uint8_t*>(&m)[4] = static_cast<uint8_t>(index);
    }
    const uint8_t* int_end = point ? point : end;
    int32_t digits = 0;
    for (const uint8_t* p = start; p < int_end; p++) {
        if (*p == '\'') continue;
        if (*p < '0' || *p > '9') return nullptr;
        if (digits == 0 && *p == '0') continue;
        digits++;
    }
    if (digits > INT_DIGITS) return nullptr;
    int32_t position = INT_DIGITS;
    for (const uint8_t* p = int_end; p-- > start;) {
        if (*p == '\'') continue;
        if (position < 1) break; // only leading zeros are left
        set_digit(&m, position--, *p - '0');
    }
    if (point) {
        position = INT_DIGITS + 1;
        for (const uint8_t* p = point + 1; p < end; p++) {
            if (*p == '\'') continue;
            if (*p < '0' || *p > '9') return nullptr;
            if (position <= DIGITS) set_digit(&m, position++, *p - '0');
        }
    }
    set_sign(&m, negative ? 1 : 0);
    *cell = m;
    return cell;
}

// ---------------------------------------------------------------------------
// Magnitudes: the 22 digits unpacked, least significant first, in room for
// the products and dividends the arithmetic needs
// ---------------------------------------------------------------------------

namespace {

constexpr int32_t WIDE = 46;

struct Wide {
    uint8_t d[WIDE] = {};
};

Wide unpack(const Cell* m) {
    Wide w;
    const uint8_t* b = digit_bytes(m);
    for (int32_t i = 0; i < 11; i++) {
        w.d[21 - 2 * i] = b[i] >> 4;
        w.d[20 - 2 * i] = b[i] & 15;
    }
    return w;
}

// Writes the magnitude into a money! cell; false when it needs more than the
// 22 digits.
bool pack(const Wide& w, Cell* out, bool negative, uint8_t currency) {
    for (int32_t i = DIGITS; i < WIDE; i++) {
        if (w.d[i]) return false;
    }
    *out = Cell{TYPE_MONEY, 0, 0, 0};
    uint8_t* b = digit_bytes(out);
    for (int32_t i = 0; i < 11; i++)
        b[i] = static_cast<uint8_t>(w.d[21 - 2 * i] << 4 | w.d[20 - 2 * i]);
    reinterpret_cast<uint8_t*>(out)[4] = currency;
    set_sign(out, negative ? 1 : 0);
    return true;
}

int cmp(const Wide& a, const Wide& b) {
    for (int32_t i = WIDE - 1; i >= 0; i--) {
        if (a.d[i] != b.d[i]) return a.d[i] < b.d[i] ? -1 : 1;
    }
    return 0;
}

bool is_zero(const Wide& a) {
    for (uint8_t x : a.d) {
        if (x) return false;
    }
    return true;
}

Wide add_wide(const Wide& a, const Wide& b) {
    Wide r;
    int carry = 0;
    for (int32_t i = 0; i < WIDE; i++) {
        int s = a.d[i] + b.d[i] + carry;
        carry = s >= 10;
        r.d[i] = static_cast<uint8_t>(carry ? s - 10 : s);
    }
    return r;
}

// a - b for a >= b.
Wide sub_wide(const Wide& a, const Wide& b) {
    Wide r;
    int borrow = 0;
    for (int32_t i = 0; i < WIDE; i++) {
        int s = a.d[i] - b.d[i] - borrow;
        borrow = s < 0;
        r.d[i] = static_cast<uint8_t>(borrow ? s + 10 : s);
    }
    return r;
}

// Multiplied by 10^n (n > 0) or divided by 10^-n, cut toward zero.
Wide shift(const Wide& a, int32_t n) {
    Wide r;
    for (int32_t i = 0; i < WIDE; i++) {
        int32_t j = i - n;
        if (j >= 0 && j < WIDE) r.d[i] = a.d[j];
    }
    return r;
}

// The count of digits up to the most significant non-zero one.
int32_t digit_count(const Wide& a) {
    int32_t n = WIDE;
    while (n > 0 && a.d[n - 1] == 0) n--;
    return n;
}

// a * b, both below 10^22, exact (the product has at most 44 digits).
Wide mul_wide(const Wide& a, const Wide& b) {
    int32_t na = digit_count(a), nb = digit_count(b);
    uint32_t acc[WIDE] = {};
    for (int32_t i = 0; i < na; i++) {
        if (!a.d[i]) continue;
        for (int32_t j = 0; j < nb; j++) acc[i + j] += static_cast<uint32_t>(a.d[i] * b.d[j]);
    }
    Wide r;
    uint32_t carry = 0;
    for (int32_t i = 0; i < WIDE; i++) {
        uint32_t s = acc[i] + carry;
        r.d[i] = static_cast<uint8_t>(s % 10);
        carry = s / 10;
    }
    return r;
}

// Long division: quotient and remainder of a by b (b not zero). The running
// remainder stays below 10 b, so it is compared and reduced over the
// divisor's digits and one more.
void divmod(const Wide& a, const Wide& b, Wide* quotient, Wide* remainder) {
    int32_t nb = digit_count(b);
    int32_t width = nb + 1;
    Wide q, r;
    for (int32_t i = digit_count(a) - 1; i >= 0; i--) {
        for (int32_t j = width - 1; j > 0; j--) r.d[j] = r.d[j - 1];
        r.d[0] = a.d[i];
        int digit = 0;
        for (;;) {
            int32_t k = width - 1;
            while (k >= 0 && r.d[k] == b.d[k]) k--;
            if (k >= 0 && r.d[k] < b.d[k]) break;
            int borrow = 0;
            for (int32_t j = 0; j < width; j++) {
                int d = r.d[j] - b.d[j] - borrow;
                borrow = d < 0;
                r.d[j] = static_cast<uint8_t>(borrow ? d + 10 : d);
            }
            digit++;
        }
        q.d[i] = static_cast<uint8_t>(digit);
    }
    if (quotient) *quotient = q;
    if (remainder) *remainder = r;
}

[[noreturn]] void fire_limit() { time::fire_typed(err::type_limit, TYPE_MONEY); }

// A signed amount with its currency, from any operand money! arithmetic
// takes.
// Amounts below 10^18 units (of 0.00001) also carry their units as a
// 64-bit number, on which the arithmetic runs without the digit loops.
struct Amount {
    Wide mag;
    bool negative = false;
    uint8_t currency = 0;
    bool small = false;
    uint64_t units = 0;
};

constexpr int32_t SMALL_DIGITS = 18;

// Units of a small magnitude straight from the packed digits.
void measure(Amount* a, const Cell* m) {
    const uint8_t* b = digit_bytes(m);
    a->small = b[0] == 0 && b[1] == 0;
    if (!a->small) return;
    uint64_t u = 0;
    for (int32_t i = 2; i < 11; i++) u = u * 100 + (b[i] >> 4) * 10 + (b[i] & 15);
    a->units = u;
}

// The digits of an amount known by its units.
void widen(Amount* a) {
    if (!a->small) return;
    a->mag = Wide{};
    uint64_t u = a->units;
    for (int32_t i = 0; u; i++, u /= 10) a->mag.d[i] = static_cast<uint8_t>(u % 10);
}

// Writes units (below 10^20, so within the 22 digits) as a money! cell.
Cell* store_units(Cell* out, uint64_t units, bool negative, uint8_t currency) {
    *out = Cell{TYPE_MONEY, 0, 0, 0};
    uint8_t* b = digit_bytes(out);
    for (int32_t i = 10; i >= 0 && units; i--) {
        uint32_t two = static_cast<uint32_t>(units % 100);
        units /= 100;
        b[i] = static_cast<uint8_t>((two / 10) << 4 | two % 10);
    }
    reinterpret_cast<uint8_t*>(out)[4] = currency;
    set_sign(out, negative ? 1 : 0);
    return out;
}

// Small amounts leave their digits unset until widen.
Amount amount_of(const Cell* value, bool strict) {
    Cell m;
    switch (type_of(value)) {
    case TYPE_MONEY:
        m = *value;
        break;
    case TYPE_INTEGER: {
        int32_t n = get_integer(value);
        Amount a;
        a.negative = n < 0;
        a.small = true;
        a.units = static_cast<uint64_t>(n < 0 ? -int64_t{n} : n) * 100000;
        return a;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        from_float(&m, get_float(value), strict);
        break;
    default:
        time::fire_typed(err::invalid_type, type_of(value));
    }
    Amount a;
    a.negative = sign_q(&m) < 0;
    a.currency = currency_of(&m);
    measure(&a, &m);
    if (!a.small) a.mag = unpack(&m);
    return a;
}

Cell* store(Cell* out, const Amount& a) {
    if (!pack(a.mag, out, a.negative, a.currency)) fire_limit();
    return out;
}

Amount add_amounts(const Amount& a, const Amount& b) {
    Amount r;
    if (a.negative == b.negative) {
        r.mag = add_wide(a.mag, b.mag);
        r.negative = a.negative;
    } else if (cmp(a.mag, b.mag) >= 0) {
        r.mag = sub_wide(a.mag, b.mag);
        r.negative = a.negative;
    } else {
        r.mag = sub_wide(b.mag, a.mag);
        r.negative = b.negative;
    }
    return r;
}

uint8_t result_currency(const Cell* left, const Cell* right, const Amount& a, const Amount& b) {
    if (a.currency && b.currency && a.currency != b.currency) fire(err::wrong_denom, left, right);
    return b.currency ? b.currency : a.currency;
}

Wide wide_of(int64_t n) {
    Wide w;
    for (int32_t i = 0; n > 0; i++, n /= 10) w.d[i] = static_cast<uint8_t>(n % 10);
    return w;
}

} // namespace

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

Cell* from_integer(Cell* out, int32_t n) {
    int64_t magnitude = n < 0 ? -int64_t{n} : n;
    pack(shift(wide_of(magnitude), FRAC_DIGITS), out, n < 0, 0);
    return out;
}

// The float's shortest round-trip digits, as a literal's would be read.
Cell* from_float(Cell* out, double x, bool strict) {
    double magnitude = std::fabs(x);
    Cell value;
    make_float(&value, x);
    if (!std::isfinite(x) || magnitude >= 1e17 || (magnitude != 0 && magnitude < 0.00001))
        fire_bad_make_arg(TYPE_MONEY, &value);
    char digits[dtoa::DIGITS_SIZE];
    int point;
    bool negative;
    int n = dtoa::shortest_digits(x, 0, false, digits, &point, &negative);
    Wide w;
    if (point != dtoa::POINT_ZERO) {
        for (int i = 0; i < n; i++) {
            // The digit's place counted from the last fraction digit.
            int place = point - 1 - i + FRAC_DIGITS;
            if (place < 0) {
                if (digits[i] != '0' && strict) fire_bad_make_arg(TYPE_MONEY, &value);
                continue;
            }
            w.d[place] = static_cast<uint8_t>(digits[i] - '0');
        }
    }
    pack(w, out, x < 0, 0);
    return out;
}

int32_t to_integer(const Cell* m) {
    int64_t n = 0;
    for (int32_t p = 1; p <= INT_DIGITS; p++) n = n * 10 + get_digit(m, p);
    if (sign_q(m) < 0) n = -n;
    if (n > 2147483647 || n < -2147483648LL) time::fire_typed(err::type_limit, TYPE_INTEGER);
    return static_cast<int32_t>(n);
}

double to_float(const Cell* m) {
    std::string text = plain_text(m);
    int rest;
    return dtoa::string_to_double(text.data(), text.data() + text.size(), 0, &rest);
}

bool negative_q(const Cell* m) { return sign_q(m) < 0; }
bool positive_q(const Cell* m) { return sign_q(m) > 0; }

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    uint32_t lt = type_of(left), rt = type_of(right);
    if (op > OP_REM) time::fire_typed(err::invalid_type, TYPE_MONEY);
    if (op == OP_MUL && lt == TYPE_MONEY && rt == TYPE_MONEY)
        time::fire_typed(err::invalid_type, TYPE_MONEY);
    if ((op == OP_DIV || op == OP_REM) && lt != TYPE_MONEY && rt == TYPE_MONEY)
        time::fire_typed(err::invalid_type, lt);
    Amount a = amount_of(left, false);
    Amount b = amount_of(right, false);
    uint8_t currency = result_currency(left, right, a, b);
    if (a.small && b.small) {
        uint64_t u = 0;
        bool negative = false;
        bool done = true;
        switch (op) {
        case OP_SUB:
        case OP_ADD: {
            bool bneg = op == OP_SUB ? !b.negative : b.negative;
            if (a.negative == bneg) {
                u = a.units + b.units;
                negative = bneg;
            } else if (a.units >= b.units) {
                u = a.units - b.units;
                negative = a.negative;
            } else {
                u = b.units - a.units;
                negative = bneg;
            }
            break;
        }
        case OP_MUL:
            done = !__builtin_mul_overflow(a.units, b.units, &u);
            u /= 100000;
            negative = a.negative != b.negative;
            break;
        case OP_DIV:
            if (b.units == 0) fire(err::zero_divide);
            done = !__builtin_mul_overflow(a.units, uint64_t{100000}, &u);
            u = b.units ? u / b.units : 0;
            negative = a.negative != b.negative;
            if (done && lt == TYPE_MONEY && rt == TYPE_MONEY) {
                Cell q;
                store_units(&q, u, negative, 0);
                return make_float(left, to_float(&q));
            }
            break;
        default:
            if (b.units == 0) fire(err::zero_divide);
            u = a.units % b.units;
            negative = a.negative;
            break;
        }
        if (done) return store_units(left, u, negative, currency);
    }
    widen(&a);
    widen(&b);
    Amount r;
    switch (op) {
    case OP_SUB:
        b.negative = !b.negative;
        [[fallthrough]];
    case OP_ADD:
        if (is_zero(a.mag)) {
            r = b;
        } else if (is_zero(b.mag)) {
            r = a;
        } else {
            r = add_amounts(a, b);
        }
        break;
    case OP_MUL:
        r.mag = shift(mul_wide(a.mag, b.mag), -FRAC_DIGITS);
        r.negative = a.negative != b.negative;
        break;
    case OP_DIV:
    case OP_REM: {
        if (is_zero(b.mag)) fire(err::zero_divide);
        if (op == OP_DIV) {
            divmod(shift(a.mag, FRAC_DIGITS), b.mag, &r.mag, nullptr);
            r.negative = a.negative != b.negative;
            if (lt == TYPE_MONEY && rt == TYPE_MONEY) {
                Cell q;
                store(&q, r);
                return make_float(left, to_float(&q));
            }
        } else {
            divmod(a.mag, b.mag, nullptr, &r.mag);
            r.negative = a.negative;
        }
        break;
    }
    default:
        break;
    }
    r.currency = currency;
    return store(left, r);
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

int32_t form_digits() {
    static uint32_t path[2];
    if (!path[0]) {
        path[0] = symbol::make("options");
        path[1] = symbol::make("money-digits");
    }
    const Cell* v = time::system_field(path, 2);
    if (!v || type_of(v) != TYPE_INTEGER) return 2;
    return std::clamp(get_integer(v), 0, FRAC_DIGITS);
}

// Thousands grouped with apostrophes, the fraction cut to form_digits.
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return form_money(value, buffer, true, form_digits(), limit);
}

// Without grouping; /all keeps every fraction digit, so that it loads back
// as the same amount.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form_money(value, buffer, false, all ? FRAC_DIGITS : form_digits(), limit);
}

// Against money: = and <> let a value without currency match any currency,
// == and same? ask for the same one, ordering needs compatible currencies
// (wrong-denom otherwise), and the sort orders put values without currency
// first, then order by currency code. Against an integer! or float! the
// amounts compare exactly: a float's digits beyond the fifth fraction digit
// make it the larger magnitude, and floats beyond money's range compare by
// size.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t t = type_of(value2);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        if (op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) return 1;
        Cell other;
        if (t == TYPE_INTEGER) {
            from_integer(&other, get_integer(value2));
            return compare_amounts(value1, &other);
        }
        double f = get_float(value2);
        if (std::isnan(f))
            return op == COMP_EQUAL || op == COMP_NOT_EQUAL ? 1 : COMPARE_NOT_COMPARABLE;
        double magnitude = std::fabs(f);
        if (magnitude >= 1e17) return f > 0 ? -1 : 1;
        if (magnitude != 0 && magnitude < 0.00001) {
            int s = sign_q(value1);
            return s != 0 ? s : (f > 0 ? -1 : 1);
        }
        from_float(&other, f, false);
        int r = compare_amounts(value1, &other);
        if (r != 0) return r;
        Cell back;
        make_float(&back, to_float(&other));
        if (get_float(&back) == f) return 0;
        // The cut digits lie beyond the amount's: the float is farther from 0.
        return f > 0 ? -1 : 1;
    }
    if (t != TYPE_MONEY) return COMPARE_NOT_COMPARABLE;
    uint8_t c1 = currency_of(value1), c2 = currency_of(value2);
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
        if (c1 && c2 && c1 != c2) return 1;
        return compare_amounts(value1, value2) == 0 ? 0 : 1;
    case COMP_STRICT_EQUAL:
    case COMP_FIND:
        return c1 == c2 && compare_amounts(value1, value2) == 0 ? 0 : 1;
    case COMP_SAME:
        return c1 == c2 && get_sign(value1) == get_sign(value2) &&
                       compare_magnitude(value1, value2) == 0
                   ? 0
                   : 1;
    case COMP_SORT:
    case COMP_CASE_SORT:
        if (c1 != c2) {
            if (!c1 || !c2) return c1 ? 1 : -1;
            int diff = std::strncmp(currency_name(c1), currency_name(c2), 3);
            return (diff > 0) - (diff < 0);
        }
        return compare_amounts(value1, value2);
    default:
        if (c1 && c2 && c1 != c2) fire(err::wrong_denom, value1, value2);
        return compare_amounts(value1, value2);
    }
}

namespace {

Cell* from_block(Cell* out, Cell* spec) {
    int32_t count = block::rs_length_q(spec);
    Cell items[3];
    if (count < 1 || count > 3) fire_bad_make_arg(TYPE_MONEY, spec);
    const Cell* head = block::rs_head(spec);
    for (int32_t i = 0; i < count; i++) items[i] = head[i];
    int32_t i = 0;
    uint8_t currency = 0;
    if (is_any_word(type_of(&items[0]))) {
        size_t length;
        const char* name = symbol::name_utf8(items[0].data2, &length);
        int32_t index =
            find_currency(reinterpret_cast<const uint8_t*>(name), static_cast<int32_t>(length));
        if (index < 0) fire_bad_make_arg(TYPE_MONEY, &items[0]);
        currency = static_cast<uint8_t>(index);
        i = 1;
    }
    if (i >= count) fire_bad_make_arg(TYPE_MONEY, spec);
    uint32_t at = type_of(&items[i]);
    if (at == TYPE_INTEGER) {
        from_integer(out, get_integer(&items[i]));
        if (i + 1 < count) {
            const Cell* fraction = &items[i + 1];
            if (type_of(fraction) != TYPE_INTEGER || get_integer(fraction) < 0 ||
                get_integer(fraction) > 99999 || i + 2 < count)
                fire_bad_make_arg(TYPE_MONEY, fraction);
            int32_t f = get_integer(fraction);
            for (int32_t p = DIGITS; p > INT_DIGITS; p--, f /= 10) set_digit(out, p, f % 10);
            if (get_integer(&items[i]) < 0) set_sign(out, 1);
        }
    } else if (at == TYPE_FLOAT && i + 1 == count) {
        from_float(out, get_float(&items[i]), true);
    } else {
        fire_bad_make_arg(TYPE_MONEY, &items[i]);
    }
    reinterpret_cast<uint8_t*>(out)[4] = currency;
    return out;
}

} // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_WORD || t == TYPE_LIT_WORD) {
        size_t length;
        const char* name = symbol::name_utf8(spec->data2, &length);
        int32_t index =
            find_currency(reinterpret_cast<const uint8_t*>(name), static_cast<int32_t>(length));
        if (index < 0) fire_bad_make_arg(TYPE_MONEY, spec);
        *proto = Cell{TYPE_MONEY, 0, 0, 0};
        reinterpret_cast<uint8_t*>(proto)[4] = static_cast<uint8_t>(index);
        return proto;
    }
    if (t == TYPE_BLOCK || t == TYPE_PAREN) return from_block(proto, spec);
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    switch (t) {
    case TYPE_MONEY:
        *proto = *spec;
        return proto;
    case TYPE_INTEGER:
        return from_integer(proto, get_integer(spec));
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        return from_float(proto, get_float(spec), true);
    default:
        break;
    }
    if (is_any_string(t)) {
        int32_t failure = 0;
        Cell result;
        lexer::scan_money(string::ms_head(spec), string::ms_length_q(spec),
                          string::buffer_of(spec)->unit(), &failure, &result);
        if (failure || type_of(&result) != TYPE_MONEY)
            time::fire_typed(err::bad_to_arg, TYPE_MONEY, spec);
        *proto = result;
        return proto;
    }
    time::fire_typed(err::bad_to_arg, TYPE_MONEY, spec);
}

// Drawn digit by digit from the most significant: while the draws follow
// the value's digits the result stays at or below it; a draw that equals the
// bound digit is kept only on a further agreeing pair of draws, so the bound
// itself is rare.
Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random::seed(value->data1 ^ value->data2 ^ value->data3 ^
                     static_cast<uint32_t>(get_sign(value)));
        return make_unset(value);
    }
    auto draw = [secure](int32_t n) {
        return secure ? random::rand_int(n, random::secure_rand) : random::rand_int(n);
    };
    auto raw = [secure]() { return secure ? random::secure_rand() : random::rand(); };
    int32_t first = 1;
    while (first <= DIGITS && get_digit(value, first) == 0) first++;
    bool bounded = true;
    for (int32_t p = first; p <= DIGITS; p++) {
        int32_t bound = get_digit(value, p);
        int32_t r;
        if (!bounded) {
            r = draw(10) - 1;
        } else {
            for (;;) {
                r = draw(bound + 1) - 1;
                if (r < bound) {
                    bounded = false;
                    break;
                }
                if (raw() % 1000 == raw() % 1000) break;
            }
        }
        set_digit(value, p, r);
    }
    return value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int32_t field = 0;
    if (type_of(element) == TYPE_INTEGER)
        field = get_integer(element);
    else if (time::word_is(element, words::code))
        field = 1;
    else if (time::word_is(element, words::amount))
        field = 2;
    if (field != 1 && field != 2) fire(err::invalid_path, path, element);
    if (value) fire(err::bad_path_set, path, element);
    return pick(parent, field, element);
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (time::word_is(boxed, words::code))
        index = 1;
    else if (time::word_is(boxed, words::amount))
        index = 2;
    else if (type_of(boxed) != TYPE_INTEGER)
        index = 0;
    Cell* out = stack::push_cell();
    if (index == 1) {
        uint8_t currency = currency_of(value);
        if (!currency) return make_none(out);
        *out = *context::resolve_word(
            0, symbol::make(std::string(currency_name(currency), 3).c_str()));
        return out;
    }
    if (index == 2) {
        *out = *value;
        reinterpret_cast<uint8_t*>(out)[4] = 0;
        return out;
    }
    fire(err::out_of_range, boxed);
}

Cell* absolute() {
    set_sign(stack::arguments, 0);
    return stack::arguments;
}

Cell* add() { return do_math(OP_ADD); }
Cell* subtract() { return do_math(OP_SUB); }
Cell* multiply() { return do_math(OP_MUL); }
Cell* divide() { return do_math(OP_DIV); }
Cell* remainder() { return do_math(OP_REM); }

Cell* negate(Cell* number) {
    set_sign(number, get_sign(number) ? 0 : 1);
    return number;
}

namespace {

// Whether rounding takes the multiple of the scale farther from zero, given
// the remainder's relation to the scale and the refinements.
bool rounds_up(bool exact, bool half, bool nearest_up, bool odd_quotient, bool negative, bool even,
               bool down, bool half_down, bool floor, bool ceiling, bool half_ceiling) {
    if (exact || down) return false;
    if (floor) return negative;
    if (ceiling) return !negative;
    if (half && even) return odd_quotient;
    if (half && half_down) return false;
    if (half && half_ceiling) return !negative;
    return nearest_up;
}

} // namespace

// Down and Up are the multiples of the scale on either side of the value;
// a tie is a remainder of exactly half the scale.
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale) {
        uint32_t st = type_of(scale);
        if (st != TYPE_MONEY && st != TYPE_INTEGER && st != TYPE_FLOAT) {
            Cell word;
            stack::get_call(&word);
            actions::fire_not_related(&word, st);
        }
    }
    Amount step;
    step.small = true;
    step.units = 100000;
    if (scale) step = amount_of(scale, true);
    if (step.small ? step.units == 0 : is_zero(step.mag)) return n;
    bool negative = sign_q(n) < 0;
    uint8_t currency = currency_of(n);
    Amount value = amount_of(n, false);
    if (value.small && step.small) {
        uint64_t v = value.units, s = step.units;
        uint64_t rem = v % s, up = s - rem;
        bool half = rem * 2 == s;
        bool exact = rem == 0;
        bool take_up = rounds_up(exact, half, rem >= up, (v / s) % 2 == 1, negative, even, down,
                                 half_down, floor, ceiling, half_ceiling);
        return store_units(n, take_up ? v + up : v - rem, negative, currency);
    }
    widen(&value);
    widen(&step);
    Wide v = value.mag, sc = step.mag;
    Wide quotient, rem;
    divmod(v, sc, &quotient, &rem);
    Wide up = sub_wide(sc, rem);
    bool half = cmp(add_wide(rem, rem), sc) == 0;
    bool exact = is_zero(rem);
    Wide lower = sub_wide(v, rem);
    Wide upper = exact ? v : add_wide(v, up);
    bool take_up = rounds_up(exact, half, cmp(rem, up) >= 0, quotient.d[0] % 2 == 1, negative, even,
                             down, half_down, floor, ceiling, half_ceiling);
    store(n, Amount{take_up ? upper : lower, negative, currency});
    return n;
}

bool even_q(Cell* number) { return get_digit(number, INT_DIGITS) % 2 == 0; }
bool odd_q(Cell* number) { return !even_q(number); }

void init() {
    datatype::register_type(TYPE_MONEY, 0, "money!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_RANDOM>(&random)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_ABSOLUTE>(&absolute)
                                .set<A_ADD>(&add)
                                .set<A_DIVIDE>(&divide)
                                .set<A_MULTIPLY>(&multiply)
                                .set<A_NEGATE>(&negate)
                                .set<A_REMAINDER>(&remainder)
                                .set<A_ROUND>(&round)
                                .set<A_SUBTRACT>(&subtract)
                                .set<A_EVEN_Q>(&even_q)
                                .set<A_ODD_Q>(&odd_q)
                                .set<A_PICK>(&pick));
}

} // namespace mox::money
