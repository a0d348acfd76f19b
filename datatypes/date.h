// date!: a day of the proleptic Gregorian calendar with an optional time of
// day and zone.
//
// data1 is the date word:
//   bits 17-31 year (signed, read with an arithmetic shift)
//   bit  16    time present
//   bits 12-15 month 1-12
//   bits 7-11  day 1-31
//   bits 0-6   zone: bit 6 sign, bits 2-5 hours, bits 0-1 quarter hours
// data2..data3 hold the time of day in seconds as a double, measured from
// the local day's midnight minus the zone offset (local time = seconds +
// offset). The year, month and day are the local calendar date. A date
// without time has seconds 0.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::date {

constexpr uint32_t TIME_FLAG = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;

inline int32_t year_of(uint32_t word) { return static_cast<int32_t>(word) >> 17; }
inline int32_t month_of(uint32_t word) { return (word >> 12) & 15; }
inline int32_t day_of(uint32_t word) { return (word >> 7) & 31; }
inline bool time_q(uint32_t word) { return (word & TIME_FLAG) != 0; }
// The zone offset in seconds.
int32_t zone_seconds(uint32_t word);
// The date word of the fields (zone bits and time flag given packed).
uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time);
// Zone bits for a signed hour and a minute count (minutes in quarter hours,
// the sign taken from the hours, or from the minutes when hours are 0).
uint32_t pack_zone(int32_t hours, int32_t minutes);

bool leap_year_q(int32_t year);
int32_t days_in_month(int32_t year, int32_t month);
// Day number of the word's date; day 0 is 1-Mar-0000.
int32_t to_days(uint32_t word);
// The date word of a day number, with the zone bits and time flag given.
uint32_t from_days(int32_t days, uint32_t zone, bool time);
// Day number of 1 January of the word's year.
int32_t jan1_days(uint32_t word);
// The 1-based day of the year.
int32_t year_day(uint32_t word);
// 1 (Monday) to 7 (Sunday) for a day number.
int32_t weekday_of(int32_t days);
// Day number of the Monday that starts ISO week 1 of the word's year.
int32_t isoweek_start(uint32_t word);
// Brings seconds shifted by a zone back into one local day (the local time
// lands in [0, 86400)); returns the day number moved accordingly.
int32_t normalize_time(int32_t days, double* seconds, uint32_t zone);
// The smallest and largest day numbers the 15-bit year holds.
int32_t min_days();
int32_t max_days();
// Sets the time of day (local: measured on the local clock, else stored
// seconds) and the time flag, normalising into the local day; type-limit
// when the date leaves the year range.
void set_time(Cell* date, double seconds, bool local);
// Moves the date to a month counted from its year's January (13 is January
// of the next year, 0 December of the previous one); the day is kept, and a
// day past the month's end carries into the next month.
void set_month(Cell* date, int64_t month);
// Turns the cell into the time! between it and the other date.
void difference(Cell* date, const Cell* other);

// Writes a date! into the cell (flags cleared). With time, seconds is the
// local time of day and is stored shifted by the zone; without it the zone
// is kept but the seconds are 0.
Cell* make_cell(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds,
                int32_t zone_hours, int32_t zone_minutes, bool time);
// Move a date to the first day of an ISO week of its year, to a weekday of
// its week, or to a day of its year (zone and time kept).
void set_isoweek(Cell* date, int32_t week);
void set_weekday(Cell* date, int32_t weekday);
void set_yearday(Cell* date, int32_t yearday);
// Seconds since 1970-01-01 (rounded to the nearest second); math overflow
// beyond the 32-bit range.
int32_t to_epoch(const Cell* date);
// A date with time at zone 0, from hours, minutes, seconds and nanoseconds.
Cell* make_cell_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hours,
                    int32_t minutes, int32_t seconds, int32_t nanoseconds);
Cell* push(uint32_t word, double seconds);
// Appends a date! of the word and seconds to the block. May collect.
Cell* make_in_block(node_t block, uint32_t word, double seconds);
// The field numbered 1-14 (date, year, month, day, zone, time, hour, minute,
// second, weekday, yearday, timezone, week, isoweek) of a field word, or -1.
int32_t field_index(const Cell* word);
// The value of a field into out.
Cell* get_field(const Cell* date, int32_t field, Cell* out);
// Sets a field; the date is changed in place. invalid-arg for a value of
// the wrong type.
void set_field(Cell* date, int32_t field, Cell* value);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
// date + integer! (days) or time!; the operands on the running call's
// arguments, the result in the first.
Cell* add();
// date - integer! or time!, or date - date (the integer! of days).
Cell* subtract();
Cell* pick(Cell* value, int32_t index, Cell* boxed);

// Registers date!.
void init();

} // namespace mox::date
