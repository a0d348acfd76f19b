// datatype! and the registry's rules seen from registrations: form, mold
// (with /all), compare, the name words, pushes, and how -1 slots are stored
// with and without a parent.
#include <string>

#include "datatypes/datatype.h"
#include "word_fixture.h"

namespace mox {
namespace {

class DatatypeTest : public test::WordsTest {
  protected:
    static std::string render(uint32_t type, bool form, bool all, int32_t* left) {
        Cell* buffer = string::push_new(16);
        Cell* v = stack::push_cell();
        make_datatype(v, type);
        *left = form ? datatype::form(v, buffer, nullptr, 100)
                     : datatype::mold(v, buffer, false, all, false, nullptr, 100, 0);
        return test::utf8_of(buffer);
    }
};

TEST_F(DatatypeTest, FormAndMold) {
    struct Case {
        uint32_t type;
        bool form, all;
        const char* text;
    };
    const Case cases[] = {
        {TYPE_INTEGER, true, false, "integer"},       {TYPE_INTEGER, false, false, "integer!"},
        {TYPE_INTEGER, false, true, "#(integer!)"},   {TYPE_SET_WORD, true, false, "set-word"},
        {TYPE_DATATYPE, false, true, "#(datatype!)"},
    };
    for (const Case& c : cases) {
        int32_t left = 0;
        EXPECT_EQ(render(c.type, c.form, c.all, &left), c.text);
        EXPECT_EQ(left, 100 - static_cast<int32_t>(std::string(c.text).size())) << c.text;
    }
}

TEST_F(DatatypeTest, Compare) {
    Cell integer, other, number;
    make_datatype(&integer, TYPE_INTEGER);
    make_datatype(&other, TYPE_STRING);
    make_integer(&number, TYPE_INTEGER);
    for (int32_t op : {COMP_EQUAL, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_SAME, COMP_FIND}) {
        Cell same = integer;
        EXPECT_EQ(datatype::compare(&integer, &same, op), 0) << op;
        EXPECT_EQ(datatype::compare(&integer, &other, op), 1) << op;
        EXPECT_EQ(datatype::compare(&integer, &number, op), 1) << op;
    }
    for (int32_t op : {COMP_LESSER, COMP_GREATER_EQUAL, COMP_SORT, COMP_CASE_SORT,
                       COMP_STRICT_EQUAL_WORD, COMP_EQUAL_WORD})
        EXPECT_EQ(datatype::compare(&integer, &integer, op), COMPARE_NOT_COMPARABLE) << op;
}

TEST_F(DatatypeTest, RegisteredSlots) {
    for (uint32_t a = 1; a <= ACTION_COUNT; a++) {
        bool own = a == A_FORM || a == A_MOLD || a == A_COMPARE;
        EXPECT_EQ(datatype::slot_of(TYPE_DATATYPE, a) != nullptr, own) << a;
    }
}

TEST_F(DatatypeTest, NameWordsAndPushes) {
    for (uint32_t t : {TYPE_DATATYPE, TYPE_INTEGER, TYPE_WORD, TYPE_ISSUE}) {
        const Cell& w = datatype::name_table[t].word;
        EXPECT_EQ(type_of(&w), TYPE_WORD) << t;
        EXPECT_EQ(w.data2, symbol::make(datatype::name_table[t].name)) << t;
        EXPECT_EQ(w.data1, context::global);
    }
    Cell* top = stack::top;
    Cell* pushed = datatype::push(TYPE_FLOAT);
    EXPECT_EQ(pushed, top);
    EXPECT_EQ(type_of(pushed), TYPE_DATATYPE);
    EXPECT_EQ(pushed->data1, static_cast<uint32_t>(TYPE_FLOAT));
    Cell* blk = stack::push_cell();
    test::make_block(blk, {});
    Cell* in = datatype::make_in(blk->data2, TYPE_CHAR);
    EXPECT_EQ(in->data1, static_cast<uint32_t>(TYPE_CHAR));
    EXPECT_EQ(memory::buffer_of(blk->data2)->used_bytes(), sizeof(Cell));
}

// A spare type ID registered for the test, its row and the highest ID put
// back afterwards.
class SpareType : public DatatypeTest {
  protected:
    static constexpr uint32_t kSpare = TYPE_TOTAL + 1;
    void TearDown() override {
        for (uint32_t a = 1; a <= ACTION_COUNT; a++)
            datatype::action_table[kSpare * ACTION_STRIDE + a - 1] = nullptr;
        datatype::name_table[kSpare] = datatype::NameEntry{};
        make_unset(&datatype::name_table[kSpare].word);
        datatype::top_id = saved_top_;
        DatatypeTest::TearDown();
    }
    uint32_t saved_top_ = datatype::top_id;
};

// Inheriting every slot from word! copies word!'s slots as they stand.
TEST_F(SpareType, InheritingFromWordBehavesLikeWord) {
    datatype::register_type(kSpare, TYPE_WORD, "spare!", datatype::ActionSlots::inherit_all());
    for (uint32_t a = 1; a <= ACTION_COUNT; a++)
        EXPECT_EQ(datatype::slot_of(kSpare, a), datatype::slot_of(TYPE_WORD, a)) << a;
    EXPECT_EQ(datatype::top_id, kSpare);
}

// A -1 slot without a parent is stored as unsupported, not as the marker.
TEST_F(SpareType, InheritWithoutParentIsUnsupported) {
    datatype::register_type(kSpare, 0, "spare!", datatype::ActionSlots::inherit_all());
    for (uint32_t a = 1; a <= ACTION_COUNT; a++)
        EXPECT_EQ(datatype::slot_of(kSpare, a), nullptr) << a;
}

} // namespace
} // namespace mox
