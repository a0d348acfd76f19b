// date!: the day-number calendar, the week fields, zone shifts and the text
// form, against Python's datetime (ext_vectors.inc).
#include <gtest/gtest.h>

#include <string>

#include "datatypes/date.h"
#include "datatypes/time.h"
#include "scalar_fixture.h"

namespace mox::test {
namespace {

#include "ext_vectors.inc"

struct CalendarRow {
    int32_t year, month, day, days, weekday, yearday, isoweek;
    const char* text;
};
const CalendarRow kCalendar[] = {MOX_DATE_ROWS};

struct ZonedRow {
    int32_t year, month, day, hour, minute, second, zone_hours, zone_minutes, epoch;
    const char* text;
};
const ZonedRow kZoned[] = {MOX_ZONED_ROWS};

Cell date_cell(int32_t y, int32_t m, int32_t d) {
    Cell c;
    return *date::make_cell(&c, y, m, d, 0, 0, 0, false);
}

using DateTest = ScalarTest;

TEST_F(DateTest, CalendarFieldsMatchDatetime) {
    for (const CalendarRow& r : kCalendar) {
        SCOPED_TRACE(r.text);
        Cell d = date_cell(r.year, r.month, r.day);
        uint32_t word = d.data1;
        EXPECT_EQ(date::to_days(word), r.days);
        EXPECT_EQ(date::from_days(r.days, 0, false), word);
        EXPECT_EQ(date::weekday_of(r.days), r.weekday);
        EXPECT_EQ(date::year_day(word), r.yearday);
        EXPECT_EQ(molded(d), r.text);
        EXPECT_EQ(formed(d), r.text);
    }
}

// from_days inverts to_days for every day of several centuries, leap days
// and century years included.
TEST_F(DateTest, DayNumbersRoundTrip) {
    Cell start = date_cell(1599, 1, 1);
    int32_t first = date::to_days(start.data1);
    uint32_t previous = 0;
    for (int32_t n = first; n < first + 300 * 366; n++) {
        uint32_t word = date::from_days(n, 0, false);
        ASSERT_EQ(date::to_days(word), n);
        ASSERT_GE(date::day_of(word), 1);
        ASSERT_LE(date::day_of(word),
                  date::days_in_month(date::year_of(word), date::month_of(word)));
        ASSERT_GT(word, previous);
        previous = word;
    }
    EXPECT_EQ(date::to_days(date_cell(0, 3, 1).data1), 0);
    EXPECT_EQ(date::to_days(date_cell(1, 3, 1).data1), 365);
}

// The ISO week start of each row's year, moved to the row's ISO week and
// weekday, lands on the row's date (the lexer's YYYY-Www-D form).
TEST_F(DateTest, IsoWeekAndWeekdaySetters) {
    for (const CalendarRow& r : kCalendar) {
        SCOPED_TRACE(r.text);
        // The ISO year differs from the calendar year near 1 January.
        int32_t iso_year = r.year;
        if (r.month == 1 && r.isoweek >= 52) iso_year--;
        if (r.month == 12 && r.isoweek == 1) iso_year++;
        if (iso_year < 1 || iso_year > 9999) continue;
        Cell d = date_cell(iso_year, 1, 1);
        date::set_isoweek(&d, r.isoweek);
        date::set_weekday(&d, r.weekday);
        EXPECT_EQ(date::to_days(d.data1), r.days);
        Cell y = date_cell(r.year, 1, 1);
        date::set_yearday(&y, r.yearday);
        EXPECT_EQ(date::to_days(y.data1), r.days);
    }
}

TEST_F(DateTest, ZonedTimesAndEpoch) {
    for (const ZonedRow& r : kZoned) {
        SCOPED_TRACE(r.text);
        Cell d;
        date::make_cell(&d, r.year, r.month, r.day, r.hour * 3600.0 + r.minute * 60.0 + r.second,
                        r.zone_hours, r.zone_minutes, true);
        EXPECT_EQ(molded(d), r.text);
        EXPECT_EQ(date::to_epoch(&d), r.epoch);
    }
    // The stored seconds are the local time minus the zone offset.
    Cell d;
    date::make_cell(&d, 2024, 1, 1, 1800, 1, 0, true);
    EXPECT_EQ(get_float(&d), -1800.0);
}

TEST_F(DateTest, TextForms) {
    struct Row {
        int32_t y, m, d;
        double seconds;
        int32_t zh, zm;
        bool time;
        const char* text;
    };
    const Row rows[] = {
        {5, 1, 1, 0, 0, 0, false, "1-Jan-0005"},
        {999, 1, 1, 0, 0, 0, false, "1-Jan-999"},
        {-50, 3, 2, 0, 0, 0, false, "2/Mar/-0050"},
        {2024, 1, 15, 37800.5, 0, 0, true, "15-Jan-2024/10:30:00.5"},
        {2024, 1, 15, 0, 0, -15, true, "15-Jan-2024/0:00:00-00:15"},
        {2024, 6, 30, 86399, 0, 0, true, "30-Jun-2024/23:59:59"},
    };
    for (const Row& r : rows) {
        Cell d;
        date::make_cell(&d, r.y, r.m, r.d, r.seconds, r.zh, r.zm, r.time);
        EXPECT_EQ(molded(d), r.text);
    }
}

// Equality compares instants: the same moment written in two zones is
// equal, a moment a second apart is not; ordering follows time.
TEST_F(DateTest, Compare) {
    Cell a, b, c, plain;
    date::make_cell(&a, 2024, 1, 1, 1800, 1, 0, true);    // 0:30+01:00
    date::make_cell(&b, 2023, 12, 31, 84600, 0, 0, true); // 23:30 UTC, the same instant
    date::make_cell(&c, 2023, 12, 31, 84601, 0, 0, true);
    date::make_cell(&plain, 2024, 1, 1, 0, 0, 0, false);
    EXPECT_EQ(date::compare(&a, &b, COMP_EQUAL), 0);
    EXPECT_EQ(date::compare(&a, &b, COMP_STRICT_EQUAL), 0);
    EXPECT_NE(date::compare(&a, &c, COMP_EQUAL), 0);
    EXPECT_EQ(date::compare(&b, &c, COMP_LESSER), -1);
    EXPECT_EQ(date::compare(&plain, &a, COMP_GREATER), 1);
    EXPECT_NE(date::compare(&a, &b, COMP_SAME), 0);
    Cell a2 = a;
    EXPECT_EQ(date::compare(&a, &a2, COMP_SAME), 0);
    Cell i = int_cell(5);
    EXPECT_EQ(date::compare(&a, &i, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_TRUE(date::leap_year_q(2000));
    EXPECT_FALSE(date::leap_year_q(1900));
    EXPECT_TRUE(date::leap_year_q(2024));
    EXPECT_FALSE(date::leap_year_q(2023));
}

} // namespace
} // namespace mox::test
