// date!: the packed date word, the day-number arithmetic every date
// operation rests on, and the text form 15-Jan-2024/10:30:00+01:00.
#include "datatypes/date.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/time.h"

namespace mox::date {

namespace {

constexpr double SECONDS_PER_DAY = 86400.0;
constexpr int32_t MIN_YEAR = -16384;
constexpr int32_t MAX_YEAR = 16383;
// The largest zone offset the zone bits hold: 15:45.
constexpr double MAX_ZONE = 15 * 3600.0 + 45 * 60.0;

const char* const kMonths[12] = {"January",   "February", "March",    "April",
                                 "May",       "June",     "July",     "August",
                                 "September", "October",  "November", "December"};

// The first three characters of the month's name (UTF-8) from
// system/locale/months, or of the built-in English name while the system
// object has no locale; invalid-months when the block has no string for the
// month.
void month_name(int32_t month, char* out) {
    static uint32_t path[2];
    if (!path[0]) {
        path[0] = symbol::make("locale");
        path[1] = symbol::make("months");
    }
    const Cell* months = time::system_field(path, 2);
    if (!months) {
        std::snprintf(out, 4, "%.3s", kMonths[(month + 11) % 12]);
        return;
    }
    if (type_of(months) != TYPE_BLOCK || month < 1 || block::rs_length_q(months) < month)
        fire(err::invalid_months);
    const Cell* entry = block::rs_head(months) + (month - 1);
    if (type_of(entry) != TYPE_STRING) fire(err::invalid_months);
    memory::SeriesBuffer* b = string::buffer_of(entry);
    uint32_t unit = b->unit();
    uint32_t count = b->used_bytes() / unit;
    int n = 0;
    for (uint32_t i = entry->data1; i < count && i < entry->data1 + 3; i++) {
        uint32_t cp = string::get_char(b->head_ptr() + i * unit, unit);
        n += static_cast<int>(unicode::cp_to_utf8(cp, reinterpret_cast<uint8_t*>(out + n)));
    }
    out[n] = '\0';
}

// Floor division: day numbers before year 0 count down like the others.
int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// The day number of 1 March of a March-based year.
int64_t year_start(int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

// The day number of a year, a month 1-12 and a day (which may lie outside
// the month).
int64_t days_of(int64_t year, int32_t month, int64_t day) {
    int32_t m = (month + 9) % 12;
    int64_t y = year - m / 10;
    return year_start(y) + (306 * m + 5) / 10 + (day - 1);
}

// The day number's weekday index: 0 Monday .. 6 Sunday.
int32_t weekday_index(int64_t days) { return static_cast<int32_t>(floor_mod(days + 2, 7)); }

[[noreturn]] void fire_range() { time::fire_typed(err::type_limit, TYPE_DATE); }

// The word of a day number, type-limit outside the year range.
uint32_t checked_word(int64_t days, uint32_t zone, bool time) {
    if (days < min_days() || days > max_days()) fire_range();
    return from_days(static_cast<int32_t>(days), zone, time);
}

void set_days(Cell* date, int64_t days) {
    uint32_t word = date->data1;
    date->data1 = checked_word(days, word & ZONE_MASK, time_q(word));
}

// Normalises stored seconds into the local day and rebuilds the word.
void settle(Cell* date, int64_t days, double seconds) {
    uint32_t word = date->data1;
    if (!std::isfinite(seconds)) fire_range();
    if (days < min_days() - 1 || days > max_days() + 1) fire_range();
    int32_t d = normalize_time(static_cast<int32_t>(days), &seconds, word & ZONE_MASK);
    date->data1 = checked_word(d, word & ZONE_MASK, time_q(word));
    set_float(date, seconds);
}

uint32_t zone_of_seconds(double offset) {
    double magnitude = std::fabs(offset);
    int32_t hours = static_cast<int32_t>(magnitude / 3600.0);
    int32_t quarters = static_cast<int32_t>(std::fmod(magnitude, 3600.0) / 900.0);
    return (offset < 0 ? 0x40u : 0u) | static_cast<uint32_t>(hours) << 2 |
           static_cast<uint32_t>(quarters);
}

double local_seconds(const Cell* date) {
    return time_q(date->data1) ? get_float(date) + zone_seconds(date->data1) : 0.0;
}

// The Monday that starts ISO week 1 of a year.
int64_t iso_start(int64_t year) {
    int64_t jan1 = days_of(year, 1, 1);
    int32_t b = weekday_index(jan1);
    return jan1 - b + (b >= 4 ? 7 : 0);
}

int32_t week_of(uint32_t word) {
    int32_t jan1 = jan1_days(word);
    int32_t e = static_cast<int32_t>(floor_mod(jan1 + 3, 7));
    int32_t d = year_day(word);
    return d > 7 - e ? (d + e - 1) / 7 + 1 : 1;
}

int32_t isoweek_of(uint32_t word) {
    int32_t n = to_days(word);
    int32_t s = isoweek_start(word);
    if (n < s) {
        int32_t jan1 = weekday_index(jan1_days(word));
        if (jan1 == 4) return 53;
        if (jan1 == 5) return leap_year_q(year_of(word) - 1) ? 53 : 52;
        return 52;
    }
    return n < iso_start(year_of(word) + 1) ? (n - s) / 7 + 1 : 1;
}

int32_t field_of(const Cell* element) {
    if (type_of(element) == TYPE_INTEGER) {
        int32_t i = get_integer(element);
        return i >= 1 && i <= 14 ? i : -1;
    }
    return field_index(element);
}

} // namespace

// ---------------------------------------------------------------------------
// The date word
// ---------------------------------------------------------------------------

int32_t zone_seconds(uint32_t word) {
    int32_t hours = static_cast<int32_t>((word >> 2) & 15);
    int32_t quarters = static_cast<int32_t>(word & 3);
    int32_t offset = hours * 3600 + quarters * 900;
    return (word & 0x40) ? -offset : offset;
}

uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time) {
    return static_cast<uint32_t>(year) << 17 | (time ? TIME_FLAG : 0) |
           static_cast<uint32_t>(month & 15) << 12 | static_cast<uint32_t>(day & 31) << 7 |
           (zone & ZONE_MASK);
}

uint32_t pack_zone(int32_t hours, int32_t minutes) {
    bool negative = hours < 0 || (hours == 0 && minutes < 0);
    uint32_t h = static_cast<uint32_t>(std::abs(hours)) & 15;
    uint32_t q = static_cast<uint32_t>(std::abs(minutes) / 15) & 3;
    return (negative ? 0x40u : 0u) | h << 2 | q;
}

// ---------------------------------------------------------------------------
// Calendar
// ---------------------------------------------------------------------------

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t days_in_month(int32_t year, int32_t month) {
    static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && leap_year_q(year) ? 29 : kDays[month - 1];
}

// Day 0 is 1-Mar-0000: counting years from March puts the leap day last.
int32_t to_days(uint32_t word) {
    return static_cast<int32_t>(days_of(year_of(word), month_of(word), day_of(word)));
}

uint32_t from_days(int32_t days, uint32_t zone, bool time) {
    int64_t y = static_cast<int64_t>(std::floor((10000.0 * days + 14780.0) / 3652425.0));
    int64_t q = days - year_start(y);
    if (q < 0) {
        y--;
        q = days - year_start(y);
    }
    int64_t mi = (100 * q + 52) / 3060;
    int32_t month = static_cast<int32_t>((mi + 2) % 12 + 1);
    int32_t year = static_cast<int32_t>(y + (mi + 2) / 12);
    int32_t day = static_cast<int32_t>(q - (306 * mi + 5) / 10 + 1);
    return pack(year, month, day, zone, time);
}

int32_t min_days() { return static_cast<int32_t>(days_of(MIN_YEAR, 1, 1)); }
int32_t max_days() { return static_cast<int32_t>(days_of(MAX_YEAR, 12, 31)); }

int32_t jan1_days(uint32_t word) { return static_cast<int32_t>(days_of(year_of(word), 1, 1)); }

int32_t year_day(uint32_t word) { return to_days(word) - jan1_days(word) + 1; }

int32_t weekday_of(int32_t days) { return weekday_index(days) + 1; }

int32_t isoweek_start(uint32_t word) { return static_cast<int32_t>(iso_start(year_of(word))); }

// Works on the local clock, so that zones with quarter hours keep their
// minutes: the local time is brought into [0, 86400) and the day moves by
// the whole days taken out.
int32_t normalize_time(int32_t days, double* seconds, uint32_t zone) {
    double offset = zone_seconds(zone);
    double local = *seconds + offset;
    double k = std::floor(local / SECONDS_PER_DAY);
    if (!std::isfinite(k)) return days;
    local -= k * SECONDS_PER_DAY;
    if (local >= SECONDS_PER_DAY) {
        local -= SECONDS_PER_DAY;
        k += 1;
    }
    *seconds = local - offset;
    double d = days + k;
    if (d > 2147483647.0 || d < -2147483648.0) fire_range();
    return static_cast<int32_t>(d);
}

void set_time(Cell* date, double seconds, bool local) {
    date->data1 |= TIME_FLAG;
    if (local) seconds -= zone_seconds(date->data1);
    settle(date, to_days(date->data1), seconds);
}

void set_month(Cell* date, int64_t month) {
    uint32_t word = date->data1;
    int64_t year = year_of(word) + floor_div(month - 1, 12);
    int32_t m = static_cast<int32_t>(floor_mod(month - 1, 12)) + 1;
    if (year < MIN_YEAR || year > MAX_YEAR) fire_range();
    set_days(date, days_of(year, m, day_of(word)));
}

void difference(Cell* date, const Cell* other) {
    double days = static_cast<double>(to_days(date->data1)) - to_days(other->data1);
    double seconds = days * SECONDS_PER_DAY + get_float(date) - get_float(other);
    *date = Cell{TYPE_TIME, 0, 0, 0};
    set_float(date, seconds);
}

// ---------------------------------------------------------------------------
// Cells
// ---------------------------------------------------------------------------

Cell* make_cell(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds,
                int32_t zone_hours, int32_t zone_minutes, bool time) {
    uint32_t zone = pack_zone(zone_hours, zone_minutes);
    *cell = Cell{TYPE_DATE, pack(year, month, day, zone, time), 0, 0};
    set_float(cell, time ? seconds - zone_seconds(zone) : 0.0);
    return cell;
}

Cell* make_cell_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hours,
                    int32_t minutes, int32_t seconds, int32_t nanoseconds) {
    double s = 3600.0 * hours + 60.0 * minutes + seconds + 1e-9 * nanoseconds;
    return make_cell(cell, year, month, day, s, 0, 0, true);
}

Cell* push(uint32_t word, double seconds) {
    Cell* cell = stack::push_cell();
    *cell = Cell{TYPE_DATE, word, 0, 0};
    set_float(cell, seconds);
    return cell;
}

Cell* make_in_block(node_t block, uint32_t word, double seconds) {
    Cell* cell = memory::alloc_tail(block);
    *cell = Cell{TYPE_DATE, word, 0, 0};
    set_float(cell, seconds);
    return cell;
}

void set_isoweek(Cell* date, int32_t week) {
    set_days(date, isoweek_start(date->data1) + 7 * (int64_t{week} - 1));
}

void set_weekday(Cell* date, int32_t weekday) {
    int32_t days = to_days(date->data1);
    set_days(date, days + (int64_t{weekday} - 1) - weekday_index(days));
}

void set_yearday(Cell* date, int32_t yearday) {
    set_days(date, jan1_days(date->data1) + int64_t{yearday} - 1);
}

// Rounded to the nearest second with floor, so that instants before 1970
// (negative sums) round the same way as later ones.
int32_t to_epoch(const Cell* date) {
    double days = to_days(date->data1) - days_of(1970, 1, 1);
    double seconds = std::floor(days * SECONDS_PER_DAY + get_float(date) + 0.5);
    if (float_::out_of_int_range_q(seconds)) fire(err::overflow);
    return static_cast<int32_t>(seconds);
}

// ---------------------------------------------------------------------------
// Fields
// ---------------------------------------------------------------------------

int32_t field_index(const Cell* word) {
    static const uint32_t* const kWords[15] = {
        &words::date,    &words::year,     &words::month,  &words::day,     &words::zone,
        &words::time,    &words::hour,     &words::minute, &words::second,  &words::weekday,
        &words::yearday, &words::timezone, &words::week,   &words::isoweek, &words::julian};
    static uint32_t canonical[15];
    if (!canonical[0]) {
        for (int32_t i = 0; i < 15; i++) canonical[i] = symbol::resolve(*kWords[i]);
    }
    if (!is_any_word(type_of(word))) return -1;
    uint32_t sym = symbol::resolve(word->data2);
    for (int32_t i = 0; i < 15; i++) {
        if (sym == canonical[i]) return i == 14 ? 11 : i + 1;
    }
    return -1;
}

Cell* get_field(const Cell* date, int32_t field, Cell* out) {
    uint32_t word = date->data1;
    double local = local_seconds(date);
    switch (field) {
    case 1:
        *out = Cell{TYPE_DATE, word & ~(ZONE_MASK | TIME_FLAG), 0, 0};
        return out;
    case 2:
        return make_integer(out, year_of(word));
    case 3:
        return make_integer(out, month_of(word));
    case 4:
        return make_integer(out, day_of(word));
    case 5:
    case 12:
        if (!time_q(word)) return make_none(out);
        return make_float(out, zone_seconds(word), TYPE_TIME);
    case 6:
        if (!time_q(word)) return make_none(out);
        return make_float(out, local, TYPE_TIME);
    case 7:
        return make_integer(out, time::hour_of(local));
    case 8:
        return make_integer(out, time::minute_of(local));
    case 9:
        return make_float(out, std::fmod(local, 60.0));
    case 10:
        return make_integer(out, weekday_of(to_days(word)));
    case 11:
        return make_integer(out, year_day(word));
    case 13:
        return make_integer(out, week_of(word));
    default:
        return make_integer(out, isoweek_of(word));
    }
}

void set_field(Cell* date, int32_t field, Cell* value) {
    uint32_t vt = type_of(value);
    uint32_t word = date->data1;
    bool needs_integer = field == 2 || field == 3 || field == 4 || field == 10 || field == 11 ||
                         field == 13 || field == 14;
    if (needs_integer && vt != TYPE_INTEGER) fire(err::invalid_arg, value);
    int64_t v = vt == TYPE_INTEGER ? get_integer(value) : 0;
    switch (field) {
    case 1: {
        if (vt != TYPE_DATE) fire(err::invalid_arg, value);
        uint32_t other = value->data1;
        date->data1 =
            pack(year_of(other), month_of(other), day_of(other), word & ZONE_MASK, time_q(other));
        if (!time_q(other)) set_float(date, 0.0);
        return;
    }
    case 2:
        if (v < MIN_YEAR || v > MAX_YEAR) fire_range();
        set_days(date, days_of(v, month_of(word), day_of(word)));
        return;
    case 3:
        set_month(date, v);
        return;
    case 4:
        set_days(date, days_of(year_of(word), month_of(word), 1) - 1 + v);
        return;
    case 5:
    case 12: {
        double offset;
        if (vt == TYPE_INTEGER)
            offset = static_cast<double>(v % 16) * 3600.0;
        else if (vt == TYPE_TIME)
            offset = get_float(value);
        else
            fire(err::invalid_arg, value);
        if (!(std::fabs(offset) < MAX_ZONE + 900.0)) fire(err::invalid_arg, value);
        double local = get_float(date) + zone_seconds(word);
        uint32_t zone = zone_of_seconds(offset);
        date->data1 = (word & ~ZONE_MASK) | zone;
        if (!time_q(word)) return;
        if (field == 5)
            set_float(date, local - zone_seconds(zone));
        else
            settle(date, to_days(date->data1), get_float(date));
        return;
    }
    case 6:
        if (vt == TYPE_NONE) {
            date->data1 = word & ~TIME_FLAG;
            set_float(date, 0.0);
            return;
        }
        if (vt != TYPE_TIME) fire(err::invalid_arg, value);
        set_time(date, get_float(value), true);
        return;
    case 7:
    case 8:
    case 9: {
        double x;
        if (vt == TYPE_INTEGER)
            x = static_cast<double>(v);
        else if (vt == TYPE_FLOAT && field == 9)
            x = get_float(value);
        else
            fire(err::invalid_arg, value);
        set_time(date, time::set_field(local_seconds(date), field - 6, x), true);
        return;
    }
    case 10: {
        int32_t days = to_days(word);
        set_days(date, days + (v - 1) - weekday_index(days));
        return;
    }
    case 11:
        set_days(date, jan1_days(word) + v - 1);
        return;
    case 13: {
        int32_t jan1 = jan1_days(word);
        int64_t e = floor_mod(jan1 + 3, 7);
        set_days(date, v > 1 ? jan1 + 7 * v - e - 7 : jan1);
        return;
    }
    default:
        set_days(date, isoweek_start(word) + 7 * (v - 1));
        return;
    }
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    uint32_t word = value->data1;
    int32_t year = year_of(word);
    char separator = year < 0 ? '/' : '-';
    char name[16];
    month_name(month_of(word), name);
    char text[64];
    int n = 0;
    int32_t day = day_of(word);
    if (day >= 10) text[n++] = static_cast<char>('0' + day / 10);
    text[n++] = static_cast<char>('0' + day % 10);
    text[n++] = separator;
    for (const char* p = name; *p; p++) text[n++] = *p;
    text[n++] = separator;
    if (year < 0) text[n++] = '-';
    int32_t y = std::abs(year);
    int digits = y >= 10000 ? 5 : 4;
    for (int i = digits - 1; i >= 0; i--, y /= 10) text[n + i] = static_cast<char>('0' + y % 10);
    n += digits;
    text[n] = '\0';
    if (std::abs(year) > 99 && std::abs(year) < 1000) {
        // Years from 100 to 999 are written without padding.
        for (int i = n - 4; i < n; i++) text[i] = text[i + 1];
        n--;
    }
    string::append_utf8(buffer, text, static_cast<size_t>(n));
    for (int i = 0; i < n; i++) limit -= (text[i] & 0xC0) != 0x80;
    if (!time_q(word)) return limit;
    string::append_char(buffer, '/');
    int32_t offset = zone_seconds(word);
    limit = time::form_seconds(get_float(value) + offset, buffer, limit - 1);
    if (offset == 0) return limit;
    int32_t magnitude = std::abs(offset);
    n = std::snprintf(text, sizeof text, "%c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 3600,
                      magnitude % 3600 / 60);
    string::concatenate_literal(buffer, text);
    return limit - n;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

// Dates compare as instants: the stored seconds may lie outside the day
// (a zone shift), so day and seconds are brought into one day first. A date
// without time is its midnight at zone 0. Sameness asks for the same date
// key and the same bits of seconds.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_DATE) return COMPARE_NOT_COMPARABLE;
    constexpr uint32_t key_mask = ~(ZONE_MASK | TIME_FLAG);
    double s1 = get_float(value1), s2 = get_float(value2);
    if (op == COMP_SAME) {
        return (value1->data1 & key_mask) == (value2->data1 & key_mask) &&
                       value1->data2 == value2->data2 && value1->data3 == value2->data3
                   ? 0
                   : 1;
    }
    double carry1 = std::floor(s1 / SECONDS_PER_DAY), carry2 = std::floor(s2 / SECONDS_PER_DAY);
    double d1 = to_days(value1->data1) + (std::isfinite(carry1) ? carry1 : 0.0);
    double d2 = to_days(value2->data1) + (std::isfinite(carry2) ? carry2 : 0.0);
    s1 -= SECONDS_PER_DAY * carry1;
    s2 -= SECONDS_PER_DAY * carry2;
    bool equal = d1 == d2 && float_::almost_equal_q(s1, s2);
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_FIND:
        return equal ? 0 : 1;
    default:
        if (equal) return 0;
        if (d1 != d2) return d1 < d2 ? -1 : 1;
        return s1 > s2 ? 1 : -1;
    }
}

namespace {

// The slots the make state machine fills.
enum Slot {
    DAY,
    MONTH,
    YEAR,
    HOUR,
    MINUTE,
    SECOND,
    SECOND_F,
    TIME_OF_DAY,
    ZONE_H,
    ZONE_M,
    ZONE_T,
    SLOTS
};

// Reads a block of day, month, year [time or hour minute second] [zone]:
// with check, a part outside its range raises bad-to-arg instead of
// carrying into the next. May collect (nothing; reads the block only).
Cell* from_block(Cell* out, Cell* spec, bool check) {
    auto bad = [spec]() { time::fire_typed(err::bad_to_arg, TYPE_DATE, spec); };
    int32_t count = block::rs_length_q(spec);
    if (count < 3 || count > 8) bad();
    Cell items[8];
    const Cell* head = block::rs_head(spec);
    for (int32_t i = 0; i < count; i++) items[i] = head[i];
    double slot[SLOTS] = {};
    // state -> next state and slot for an integer!, a time! and a float!.
    struct Move {
        int8_t next, slot;
    };
    static const Move kInteger[14] = {
        {1, DAY}, {2, MONTH},  {3, YEAR},    {8, HOUR},    {6, ZONE_H}, {-1, 0},      {7, ZONE_M},
        {-1, 0},  {9, MINUTE}, {10, SECOND}, {12, ZONE_H}, {-1, 0},     {13, ZONE_M}, {-1, 0}};
    static const Move kTime[14] = {{-1, 0},      {-1, 0}, {-1, 0}, {4, TIME_OF_DAY}, {5, ZONE_T},
                                   {-1, 0},      {-1, 0}, {-1, 0}, {-1, 0},          {-1, 0},
                                   {11, ZONE_T}, {-1, 0}, {-1, 0}, {-1, 0}};
    int32_t state = 0;
    bool zone_given = false;
    for (int32_t i = 0; i < count; i++) {
        uint32_t t = type_of(&items[i]);
        Move m{-1, 0};
        double v = 0;
        if (t == TYPE_INTEGER) {
            m = kInteger[state];
            v = get_integer(&items[i]);
        } else if (t == TYPE_TIME) {
            m = kTime[state];
            v = get_float(&items[i]);
        } else if (t == TYPE_FLOAT && state == 9) {
            m = {10, SECOND_F};
            v = get_float(&items[i]);
        }
        if (m.next < 0 || !std::isfinite(v)) bad();
        slot[m.slot] = v;
        if (m.slot >= ZONE_H) zone_given = true;
        state = m.next;
    }
    if (slot[DAY] > 99 && slot[YEAR] < slot[DAY]) std::swap(slot[DAY], slot[YEAR]);
    double zone_offset = 0;
    if (zone_given) {
        double zh = slot[ZONE_H], zm = slot[ZONE_M];
        if (state == 5 || state == 11) {
            double z = slot[ZONE_T];
            zh = std::trunc(z / 3600.0);
            zm = std::floor(std::fmod(std::fabs(z), 3600.0) / 60.0);
            if (z < 0 && zh == 0) zm = -zm;
        }
        if (std::fabs(zh) > 15 || std::fabs(zm) > 59) bad();
        double quarters = std::trunc(std::fabs(zm) / 15.0) * 900.0;
        zone_offset = zh < 0 || (zh == 0 && zm < 0) ? -(std::fabs(zh) * 3600.0 + quarters)
                                                    : zh * 3600.0 + quarters;
    }
    bool hms = state >= 8;
    double tod = hms ? slot[HOUR] * 3600.0 + slot[MINUTE] * 60.0 +
                           (slot[SECOND_F] != 0 ? slot[SECOND_F] : slot[SECOND])
                     : slot[TIME_OF_DAY];
    bool time = count > 3;
    if (check) {
        bool ok = slot[MONTH] >= 1 && slot[MONTH] <= 12 && slot[DAY] >= 1 &&
                  slot[DAY] <=
                      days_in_month(static_cast<int32_t>(std::clamp(slot[YEAR], -16384.0, 16383.0)),
                                    static_cast<int32_t>(slot[MONTH]));
        if (hms)
            ok = ok && slot[HOUR] >= 0 && slot[HOUR] <= 23 && slot[MINUTE] >= 0 &&
                 slot[MINUTE] <= 59 && slot[SECOND] >= 0 && slot[SECOND] < 60 &&
                 slot[SECOND_F] >= 0 && slot[SECOND_F] < 60;
        else if (time)
            ok = ok && tod >= 0 && tod < SECONDS_PER_DAY;
        if (!ok) bad();
    }
    if (slot[YEAR] < MIN_YEAR || slot[YEAR] > MAX_YEAR || std::fabs(slot[MONTH]) > 1e6 ||
        std::fabs(slot[DAY]) > 1e8)
        bad();
    uint32_t zone = zone_of_seconds(zone_offset);
    int64_t month = static_cast<int64_t>(slot[MONTH]);
    int64_t year = static_cast<int64_t>(slot[YEAR]) + floor_div(month - 1, 12);
    int32_t m = static_cast<int32_t>(floor_mod(month - 1, 12)) + 1;
    int64_t days = days_of(year, m, 1) - 1 + static_cast<int64_t>(slot[DAY]);
    if (days < min_days() || days > max_days()) bad();
    Cell d{TYPE_DATE, from_days(static_cast<int32_t>(days), zone, time), 0, 0};
    if (time) {
        // Seconds beyond a few million years cannot name a day in range.
        double seconds = tod - zone_offset;
        if (!std::isfinite(seconds) || std::fabs(seconds) > 1e14) bad();
        int32_t moved = normalize_time(static_cast<int32_t>(days), &seconds, zone);
        if (moved < min_days() || moved > max_days()) bad();
        d.data1 = from_days(moved, zone, true);
        set_float(&d, seconds);
    }
    *out = d;
    return out;
}

} // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_DATE) return &(*proto = *spec);
    if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_HASH)
        time::fire_typed(err::bad_to_arg, TYPE_DATE, spec);
    return from_block(proto, spec, true);
}

// An integer! counts seconds from 1-Jan-1970/0:00 at zone 0.
Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_DATE) return &(*proto = *spec);
    if (t == TYPE_INTEGER) {
        int64_t n = get_integer(spec);
        int64_t days = days_of(1970, 1, 1) + floor_div(n, 86400);
        Cell d{TYPE_DATE, from_days(static_cast<int32_t>(days), 0, true), 0, 0};
        set_float(&d, static_cast<double>(floor_mod(n, 86400)));
        *proto = d;
        return proto;
    }
    if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_HASH)
        time::fire_typed(err::bad_to_arg, TYPE_DATE, spec);
    return from_block(proto, spec, false);
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        double s = std::trunc(get_float(value));
        uint32_t bits = std::isfinite(s) && std::fabs(s) < 2147483648.0
                            ? static_cast<uint32_t>(static_cast<int32_t>(s))
                            : 0;
        random::seed(value->data1 + bits);
        return make_unset(value);
    }
    uint32_t word = value->data1;
    int32_t days = to_days(word);
    int32_t k = secure ? random::rand_int(days, random::secure_rand) : random::rand_int(days);
    uint32_t zone = word & ZONE_MASK;
    if (time_q(word)) {
        zone = static_cast<uint32_t>(secure ? random::secure_rand() : random::rand()) & ZONE_MASK;
        double h;
        if (secure) {
            double s1 = random::secure_rand(), s2 = random::secure_rand();
            h = (s2 + s1 / 2147483647.0) * 3600.0 / 2147483648.0;
        } else {
            h = random::rand() / 2147483647.0 * 3600.0;
        }
        value->data1 = checked_word(int64_t{k} - 1, zone, true);
        set_float(value, std::floor(h) * 24.0 - zone_seconds(zone));
        return value;
    }
    value->data1 = checked_word(int64_t{k} - 1, zone, false);
    return value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int32_t field = field_of(element);
    if (field < 0) fire(err::invalid_path, path, element);
    if (!value) return get_field(parent, field, stack::push_cell());
    set_field(parent, field, value);
    time::store_back(parent, gparent, previous, notify);
    return value;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    int32_t field = field_of(boxed);
    if (field < 0) fire(err::out_of_range, boxed);
    return get_field(value, field, stack::push_cell());
}

namespace {

Cell* add_or_subtract(bool subtract) {
    Cell* date = stack::arguments;
    Cell* other = date + 1;
    uint32_t ot = type_of(other);
    int64_t days = to_days(date->data1);
    double seconds = get_float(date);
    switch (ot) {
    case TYPE_INTEGER:
        days += subtract ? -int64_t{get_integer(other)} : get_integer(other);
        break;
    case TYPE_TIME:
        seconds += subtract ? -get_float(other) : get_float(other);
        date->data1 |= TIME_FLAG;
        break;
    case TYPE_DATE: {
        if (!subtract) actions::fire_not_related(&words::global::add, TYPE_DATE);
        double s = seconds - get_float(other);
        int32_t n = normalize_time(static_cast<int32_t>(days - to_days(other->data1)), &s, 0);
        return make_integer(date, n);
    }
    default:
        time::fire_typed(err::invalid_type, ot);
    }
    settle(date, days, seconds);
    return date;
}

} // namespace

Cell* add() { return add_or_subtract(false); }
Cell* subtract() { return add_or_subtract(true); }

void init() {
    datatype::register_type(TYPE_DATE, 0, "date!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_RANDOM>(&random)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_ADD>(&add)
                                .set<A_SUBTRACT>(&subtract)
                                .set<A_PICK>(&pick));
}

} // namespace mox::date
