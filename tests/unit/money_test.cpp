// money!: literal digits to cells, the text forms (against Python's
// decimal, ext_vectors.inc), the currency list and comparison.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/value.h"
#include "datatypes/money.h"
#include "scalar_fixture.h"

namespace mox::test {
namespace {

#include "ext_vectors.inc"

struct MoneyRow {
    const char* whole;
    const char* fraction;
    bool negative;
    const char* currency;
    const char* mold;
    const char* mold_all;
    const char* form;
};
const MoneyRow kMoney[] = {MOX_MONEY_ROWS};

const uint8_t* bytes(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

// The money! of literal text: [-][CUR$]digits[.fraction], or an unset cell
// when the constructor refuses it.
Cell money_of(const std::string& literal) {
    std::string text = literal;
    bool negative = !text.empty() && text[0] == '-';
    if (negative) text.erase(0, 1);
    size_t dollar = text.find('$');
    std::string currency = text.substr(0, dollar);
    const char* start = text.c_str() + dollar + 1;
    const char* end = text.c_str() + text.size();
    const char* point = std::strchr(start, '.');
    Cell c;
    make_unset(&c);
    money::make_from_digits(&c, negative, currency.empty() ? nullptr : bytes(currency.c_str()),
                            bytes(start), point ? bytes(point) : nullptr, bytes(end));
    return c;
}

using MoneyTest = ScalarTest;

TEST_F(MoneyTest, TextFormsMatchDecimal) {
    for (const MoneyRow& r : kMoney) {
        std::string literal = std::string(r.negative ? "-" : "") + r.currency + "$" + r.whole +
                              (*r.fraction ? "." : "") + r.fraction;
        SCOPED_TRACE(literal);
        Cell m = money_of(literal);
        ASSERT_EQ(type_of(&m), TYPE_MONEY);
        EXPECT_EQ(molded(m), r.mold);
        EXPECT_EQ(molded(m, true), r.mold_all);
        EXPECT_EQ(formed(m), r.form);
        // mold/all reads back as the same amount.
        Cell again = money_of(r.mold_all);
        EXPECT_EQ(money::compare(&m, &again, COMP_STRICT_EQUAL), 0);
    }
}

TEST_F(MoneyTest, LiteralDigits) {
    struct Row {
        const char* literal;
        const char* mold_all; // nullptr: refused
    };
    const Row rows[] = {
        {"$1'000.50", "$1000.50000"},
        {"USD$1'000'000", "USD$1000000.00000"},
        {"usd$1", "USD$1.00000"},  // codes are matched in any case
        {"ZMW$2", "ZMW$2.00000"},  // the last of the list
        {"AED$3", "AED$3.00000"},  // the first
        {"XYZ$1", nullptr},        // not a currency
        {"$1.234567", "$1.23456"}, // fraction digits past five are cut
        {"$00000000000000000000001", "$1.00000"},
        {"$123456789012345678", nullptr}, // 18 integer digits
        {"$12a", nullptr},
        {"$1.2b", nullptr},
    };
    for (const Row& r : rows) {
        Cell m = money_of(r.literal);
        if (!r.mold_all) {
            EXPECT_EQ(type_of(&m), TYPE_UNSET) << r.literal;
            continue;
        }
        ASSERT_EQ(type_of(&m), TYPE_MONEY) << r.literal;
        EXPECT_EQ(molded(m, true), r.mold_all) << r.literal;
    }
    Cell m = money_of("-$0.00");
    EXPECT_EQ(money::sign_q(&m), 0);
    EXPECT_EQ(money::get_sign(&m), 1);
    EXPECT_EQ(molded(m), "$0.00");
}

TEST_F(MoneyTest, CurrencyList) {
    EXPECT_EQ(money::currency_count(), 170);
    EXPECT_EQ(money::find_currency(bytes("AED"), 3), 1);
    EXPECT_EQ(money::find_currency(bytes("zmw"), 3), 170);
    EXPECT_EQ(money::find_currency(bytes("US"), 2), -1);
    EXPECT_EQ(money::find_currency(bytes("USDX"), 4), -1);
    for (int32_t i = 1; i <= money::currency_count(); i++)
        EXPECT_EQ(money::find_currency(bytes(money::currency_name(i)), 3), i);
}

TEST_F(MoneyTest, Compare) {
    Cell usd1 = money_of("USD$1"), usd1b = money_of("USD$1.00"), eur1 = money_of("EUR$1");
    Cell plain1 = money_of("$1"), plain2 = money_of("$2"), neg = money_of("-$3");
    Cell one = int_cell(1), half = float_cell(0.5);
    EXPECT_EQ(money::compare(&usd1, &usd1b, COMP_EQUAL), 0);
    EXPECT_EQ(money::compare(&usd1, &usd1b, COMP_SAME), 0);
    EXPECT_EQ(money::compare(&usd1, &plain1, COMP_EQUAL), 0); // no currency matches any
    EXPECT_NE(money::compare(&usd1, &plain1, COMP_STRICT_EQUAL), 0);
    EXPECT_NE(money::compare(&usd1, &eur1, COMP_EQUAL), 0);
    EXPECT_EQ(money::compare(&plain1, &plain2, COMP_LESSER), -1);
    EXPECT_EQ(money::compare(&neg, &plain1, COMP_LESSER), -1);
    EXPECT_EQ(money::compare(&plain1, &one, COMP_EQUAL), 0);
    EXPECT_EQ(money::compare(&plain1, &half, COMP_GREATER), 1);
    EXPECT_EQ(money::compare(&plain1, &eur1, COMP_SORT), -1); // no currency sorts first
    Cell text = datatype_cell(TYPE_MONEY);
    EXPECT_EQ(money::compare(&plain1, &text, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_MOX_ERROR(err::wrong_denom, money::compare(&usd1, &eur1, COMP_LESSER));
}

} // namespace
} // namespace mox::test
