// bitset!: cells from bytes, the make expression it molds as (which make
// reads back), and comparison.
#include <gtest/gtest.h>

#include <string>

#include "core/words.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "scalar_fixture.h"

namespace mox::test {
namespace {

Cell* bitset_of(std::initializer_list<uint8_t> bytes, bool complement) {
    Cell* c = stack::push_cell();
    return bitset::make_from_bytes(c, std::data(bytes), static_cast<uint32_t>(bytes.size()),
                                   complement);
}

bool member(const Cell* bs, uint32_t n) {
    memory::SeriesBuffer* b = memory::buffer_of(bs);
    if (n >> 3 >= b->used_bytes()) return bitset::complement_q(bs);
    return (b->head_ptr()[n >> 3] & (0x80 >> (n & 7))) != 0;
}

using BitsetTest = ScalarTest;

TEST_F(BitsetTest, MoldAndMakeRoundTrip) {
    Cell* a = bitset_of({0, 0, 0, 0, 0, 0, 0, 0, 0x40}, false);
    EXPECT_EQ(molded(*a), "make bitset! #{000000000000000040}");
    EXPECT_TRUE(member(a, 65));
    EXPECT_FALSE(member(a, 66));
    EXPECT_FALSE(member(a, 1000));
    // A complemented set lists its non-members.
    Cell* n = bitset_of({0, 0, 0, 0, 0, 0, 0, 0, 0x40}, true);
    EXPECT_EQ(molded(*n), "make bitset! [not #{000000000000000040}]");
    EXPECT_FALSE(member(n, 65));
    EXPECT_TRUE(member(n, 66));
    EXPECT_TRUE(member(n, 1000));
    Cell* empty = bitset_of({}, false);
    EXPECT_EQ(molded(*empty), "make bitset! #{}");

    // make from the molded spec: the binary, or [not binary].
    Cell bytes = binary_cell({0, 0, 0, 0, 0, 0, 0, 0, 0x40});
    Cell* bin = stack::push(&bytes);
    Cell* proto = stack::push_cell();
    make_datatype(proto, TYPE_BITSET);
    Cell* made = bitset::make(proto, bin, TYPE_BITSET);
    EXPECT_EQ(bitset::compare(made, a, COMP_EQUAL), 0);
    Cell* spec = block::make_at(stack::push_cell(), 2);
    Cell not_word = word_cell("not");
    block::ms_append(spec, &not_word);
    block::ms_append(spec, bin);
    Cell* made_not = bitset::make(proto, spec, TYPE_BITSET);
    EXPECT_EQ(bitset::compare(made_not, n, COMP_EQUAL), 0);
    EXPECT_NE(bitset::compare(made_not, a, COMP_EQUAL), 0);
    Cell i = int_cell(3);
    Cell* three = stack::push(&i);
    // A number makes an empty set of that many bits; to refuses numbers.
    EXPECT_EQ(molded(*bitset::make(proto, three, TYPE_BITSET)), "make bitset! #{00}");
    EXPECT_MOX_ERROR(err::bad_to_arg, bitset::to(proto, three, TYPE_BITSET));
}

TEST_F(BitsetTest, Compare) {
    Cell* a = bitset_of({0x80, 0x01}, false);
    Cell* b = bitset_of({0x80, 0x01}, false);
    Cell* c = bitset_of({0x80, 0x02}, false);
    Cell* shorter = bitset_of({0xFF}, false);
    Cell* flagged = bitset_of({0x7F, 0xFE}, true);
    EXPECT_EQ(bitset::compare(a, b, COMP_EQUAL), 0);
    EXPECT_NE(bitset::compare(a, b, COMP_SAME), 0);
    EXPECT_EQ(bitset::compare(a, a, COMP_SAME), 0);
    EXPECT_EQ(bitset::compare(a, c, COMP_LESSER), -1); // the last byte decides
    EXPECT_EQ(bitset::compare(shorter, a, COMP_LESSER), -1);
    EXPECT_EQ(bitset::compare(a, flagged, COMP_LESSER), -1); // unflagged is smaller
    Cell i = int_cell(1);
    EXPECT_EQ(bitset::compare(a, &i, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

} // namespace
} // namespace mox::test
