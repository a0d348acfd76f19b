// The symbol table: interning by spelling, canonical spellings in every
// interning order and across table resizes, the insensitive mode, names,
// conversion from strings, symbol! comparison and survival across
// collections.
#include "core/symbol.h"
#include "datatypes/symbol.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "core/hashtable.h"
#include "word_fixture.h"

namespace mox {
namespace {

class SymbolTest : public test::WordsTest {};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string capitalized(std::string s) {
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s;
}

std::string name_of(uint32_t id) {
    size_t n = 0;
    const char* p = symbol::name_utf8(id, &n);
    return std::string(p, n);
}

TEST_F(SymbolTest, SameSpellingSameId) {
    std::string name = test::fresh_name("same");
    uint32_t before = symbol::count();
    uint32_t id = symbol::make(name.c_str());
    EXPECT_EQ(id, before + 1); // IDs are the block position + 1
    EXPECT_EQ(symbol::make(name.c_str()), id);
    EXPECT_EQ(symbol::make_sized(name.data(), name.size()), id);
    EXPECT_EQ(symbol::count(), before + 1);
    EXPECT_EQ(symbol::get_alias(id), -1);
    EXPECT_EQ(symbol::resolve(id), id);
    EXPECT_EQ(name_of(id), name);
}

// Every order of interning the three spellings gives one canonical word:
// the first spelling interned, with no alias of its own.
TEST_F(SymbolTest, CanonicalSpellingInEveryOrder) {
    std::vector<int> order = {0, 1, 2};
    do {
        std::string base = test::fresh_name("foo");
        std::string spellings[3] = {base, capitalized(base), upper(base)};
        uint32_t ids[3];
        for (int k : order) ids[k] = symbol::make(spellings[k].c_str());
        uint32_t first = ids[order[0]];
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(symbol::resolve(ids[k]), first) << spellings[k];
            EXPECT_EQ(name_of(ids[k]), spellings[k]);
        }
        EXPECT_EQ(symbol::get_alias(first), -1);
        EXPECT_NE(ids[0], ids[1]);
        EXPECT_NE(ids[1], ids[2]);
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(SymbolTest, InsensitiveModeReturnsAnyMatch) {
    std::string base = test::fresh_name("ins");
    uint32_t id = symbol::make(base.c_str());
    uint32_t before = symbol::count();
    EXPECT_EQ(symbol::make_insensitive(upper(base).c_str()), id);
    EXPECT_EQ(symbol::count(), before);
    // Nothing matches: a new symbol.
    std::string other = test::fresh_name("INS");
    uint32_t fresh = symbol::make_insensitive(other.c_str());
    EXPECT_EQ(fresh, before + 1);
    EXPECT_EQ(symbol::get_alias(fresh), -1);
}

// Only A-Z fold: other letters are distinct spellings of distinct words.
TEST_F(SymbolTest, CaseBeyondAsciiIsNotFolded) {
    std::string stem = test::fresh_name("x");
    uint32_t a = symbol::make((stem + "\xC3\xA9").c_str()); // é
    uint32_t b = symbol::make((stem + "\xC3\x89").c_str()); // É
    EXPECT_NE(symbol::resolve(a), symbol::resolve(b));
}

TEST_F(SymbolTest, EmptyName) {
    uint32_t id = symbol::make("");
    EXPECT_EQ(symbol::make_sized("", 0), id);
    size_t n = 99;
    const char* p = symbol::name_utf8(id, &n);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(p[0], '\0');
}

TEST_F(SymbolTest, NamesAreNulTerminatedAndCachedAsStrings) {
    std::string name = test::fresh_name("caf\xC3\xA9");
    uint32_t id = symbol::make(name.c_str());
    size_t n = 0;
    const char* p = symbol::name_utf8(id, &n);
    EXPECT_EQ(p[n], '\0');
    EXPECT_EQ(symbol::entry(id)->data2, 0u);
    Cell* e = symbol::get(id);
    ASSERT_NE(e->data2, 0u);
    Cell s = {TYPE_STRING, 0, e->data2, 0};
    Cell* held = stack::push(&s);
    EXPECT_EQ(test::utf8_of(held), name);
    node_t cached = symbol::entry(id)->data2;
    symbol::cache_name(id);
    EXPECT_EQ(symbol::entry(id)->data2, cached);
}

TEST_F(SymbolTest, FromStringUsesTheIndex) {
    std::string name = test::fresh_name("fromstr");
    Cell* s = test::push_string("xx" + name);
    s->data1 = 2;
    EXPECT_EQ(symbol::from_string(s), symbol::make(name.c_str()));
    Cell* wide = test::push_string("\xCE\xA9mega"); // Ωmega, a unit-2 string
    EXPECT_EQ(name_of(symbol::from_string(wide)), "\xCE\xA9mega");
}

TEST_F(SymbolTest, CompareOrdersNames) {
    struct Case {
        const char *a, *b;
        int32_t op, expected;
    };
    const Case cases[] = {
        {"abc", "abd", COMP_LESSER, -1}, {"abd", "abc", COMP_LESSER, 1},
        {"abc", "ABC", COMP_EQUAL, 0},   {"abc", "ABC", COMP_STRICT_EQUAL, 1},
        {"abc", "abcd", COMP_SORT, -1},  {"b", "A", COMP_SORT, 1},
        {"b", "A", COMP_CASE_SORT, 1},   {"a", "B", COMP_CASE_SORT, 1},
    };
    for (const Case& c : cases) {
        Cell a = *symbol::entry(symbol::make(c.a));
        Cell b = *symbol::entry(symbol::make(c.b));
        int32_t r = symbol::compare(&a, &b, c.op);
        EXPECT_EQ(r < 0 ? -1 : r > 0 ? 1 : 0, c.expected) << c.a << " " << c.b << " op " << c.op;
    }
    Cell a = *symbol::entry(symbol::make("abc"));
    Cell n;
    make_integer(&n, 1);
    EXPECT_EQ(symbol::compare(&a, &n, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

TEST_F(SymbolTest, RegisteredWithOnlyCompare) {
    EXPECT_STREQ(datatype::name_table[TYPE_SYMBOL].name, "symbol!");
    for (uint32_t a = 1; a <= ACTION_COUNT; a++) {
        if (a == A_COMPARE)
            EXPECT_EQ(datatype::slot_of(TYPE_SYMBOL, a),
                      reinterpret_cast<ActionFn>(&symbol::compare));
        else
            EXPECT_EQ(datatype::slot_of(TYPE_SYMBOL, a), nullptr) << a;
    }
}

// Enough symbols to resize the table; spellings interned before and after
// the resize still meet their canonical spelling.
TEST_F(SymbolTest, CanonicalSpellingsSurviveResizes) {
    const hashtable::Record* r = hashtable::record_of(symbol::table);
    int32_t buckets = r->bucket_count;
    int32_t needed = r->upper - r->occupied + 16;
    std::string stem = test::fresh_name("grow");
    std::vector<uint32_t> lower_ids, upper_ids;
    for (int32_t i = 0; i < needed; i++) {
        std::string name = stem + "-" + std::to_string(i);
        uint32_t id = symbol::make(name.c_str());
        if (i % 3 == 0) {
            // One variant interned before the resize, one after.
            lower_ids.push_back(id);
            upper_ids.push_back(symbol::make(capitalized(name).c_str()));
        }
    }
    ASSERT_GT(hashtable::record_of(symbol::table)->bucket_count, buckets);
    for (size_t k = 0; k < lower_ids.size(); k++) {
        std::string name = stem + "-" + std::to_string(k * 3);
        EXPECT_EQ(symbol::make(name.c_str()), lower_ids[k]);
        EXPECT_EQ(symbol::make(capitalized(name).c_str()), upper_ids[k]);
        uint32_t loud = symbol::make(upper(name).c_str());
        EXPECT_EQ(symbol::resolve(loud), lower_ids[k]) << name;
        EXPECT_EQ(symbol::resolve(upper_ids[k]), lower_ids[k]) << name;
    }
}

TEST_F(SymbolTest, NamesSurviveCollections) {
    std::vector<std::pair<uint32_t, std::string>> made;
    for (int i = 0; i < 50; i++) {
        std::string name = test::fresh_name("keep");
        uint32_t id = symbol::make(name.c_str());
        symbol::cache_name(id);
        made.emplace_back(id, name);
    }
    test::churn_nodes();
    test::collect_moving_nodes();
    for (auto& [id, name] : made) {
        EXPECT_EQ(name_of(id), name);
        EXPECT_EQ(symbol::make(name.c_str()), id);
        Cell s = {TYPE_STRING, 0, symbol::entry(id)->data2, 0};
        EXPECT_EQ(test::utf8_of(stack::push(&s)), name);
    }
}

} // namespace
} // namespace mox
