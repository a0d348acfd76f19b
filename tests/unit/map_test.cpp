// map!: building a map from a scanned block (key normalisation, repeated
// keys, odd counts, refused key types), its text forms and its equality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "evaluator/lexer.h"
#include "scalar_fixture.h"

namespace mox::test {
namespace {

Cell* pushed(Cell c) { return stack::push(&c); }

Cell* str(const char* utf8) {
    Cell* s = string::push_new(0);
    string::append_utf8(s, utf8, std::strlen(utf8));
    return s;
}

// A block on the stack holding copies of the cells, then the map made over
// it in the same cell.
Cell* map_of(std::initializer_list<const Cell*> cells) {
    Cell* blk = block::make_at(stack::push_cell(), static_cast<int32_t>(cells.size()));
    for (const Cell* c : cells) block::ms_append(blk, c);
    return map::make_cell(blk, blk, 0);
}

std::string mold_with(Cell* value, bool only, bool flat, int32_t indent) {
    Cell* buffer = string::push_new(16);
    actions::mold(value, buffer, only, false, flat, nullptr, 1000, indent);
    std::string text = utf8_of(buffer);
    stack::pop(1);
    return text;
}

using MapTest = ScalarTest;

TEST_F(MapTest, ValidKeyTypes) {
    const uint32_t valid[] = {
        TYPE_STRING, TYPE_FILE,     TYPE_URL,      TYPE_CHAR,     TYPE_INTEGER,    TYPE_FLOAT,
        TYPE_WORD,   TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE,
        TYPE_PAIR,   TYPE_PERCENT,  TYPE_TUPLE,    TYPE_BINARY,   TYPE_TIME,       TYPE_TAG,
        TYPE_EMAIL,  TYPE_DATE,     TYPE_MONEY,    TYPE_REF,      TYPE_POINT2D,    TYPE_POINT3D};
    int count = 0;
    for (uint32_t t = 0; t < TYPE_TOTAL; t++) {
        bool expected = std::find(std::begin(valid), std::end(valid), t) != std::end(valid);
        EXPECT_EQ(map::valid_key_q(t), expected) << t;
        count += expected;
    }
    EXPECT_EQ(count, 24);
}

TEST_F(MapTest, MoldAndForm) {
    Cell* a = pushed(word_cell("a"));
    Cell* b = pushed(word_cell("b"));
    Cell* one = pushed(int_cell(1));
    Cell* two = pushed(int_cell(2));
    Cell* m = map_of({a, one, b, two});
    EXPECT_EQ(map::ms_length_q(m), 2);
    EXPECT_EQ(molded(*m), "#[\n    a: 1\n    b: 2\n]");
    EXPECT_EQ(mold_with(m, false, true, 0), "#[a: 1 b: 2]");
    EXPECT_EQ(mold_with(m, true, false, 0), "a: 1\nb: 2");
    EXPECT_EQ(mold_with(m, false, false, 1), "#[\n        a: 1\n        b: 2\n    ]");
    EXPECT_EQ(formed(*m), "a: 1\nb: 2");
    Cell* empty = map_of({});
    EXPECT_EQ(molded(*empty), "#[]");
    EXPECT_EQ(mold_with(empty, false, false, 2), "#[]");
}

// Word kinds become set-words, so a lit-word and a word of one spelling
// are one key; a later repeated key gives its value to the first one's
// place.
TEST_F(MapTest, KeysAreNormalised) {
    Cell* a = pushed(word_cell("a"));
    Cell lit = word_cell("b");
    set_type(&lit, TYPE_LIT_WORD);
    Cell* quoted = pushed(lit);
    Cell* b = pushed(word_cell("b"));
    Cell* one = pushed(int_cell(1));
    Cell* two = pushed(int_cell(2));
    Cell* three = pushed(int_cell(3));
    Cell* m = map_of({quoted, one, a, two, b, three});
    EXPECT_EQ(map::ms_length_q(m), 2);
    EXPECT_EQ(molded(*m), "#[\n    b: 3\n    a: 2\n]");
    EXPECT_EQ(type_of(block::ms_abs_at(m, 0)), TYPE_SET_WORD);
}

// A string key is a copy: changing the string used afterwards leaves it.
TEST_F(MapTest, StringKeysAreCopied) {
    Cell* key = str("key");
    Cell* value = pushed(int_cell(1));
    Cell* m = map_of({key, value});
    string::append_char(key, '!');
    EXPECT_EQ(molded(*m), "#[\n    \"key\" 1\n]");
    EXPECT_NE(block::ms_abs_at(m, 0)->data2, key->data2);
}

TEST_F(MapTest, RefusedBlocks) {
    Cell* a = pushed(word_cell("a"));
    Cell* one = pushed(int_cell(1));
    EXPECT_MOX_ERROR(err::invalid_arg, map_of({a, one, a}));
    Cell* inner = block::make_at(stack::push_cell(), 1);
    EXPECT_MOX_ERROR(err::invalid_path, map_of({inner, one}));
}

TEST_F(MapTest, Equality) {
    Cell* a = pushed(word_cell("a"));
    Cell* b = pushed(word_cell("b"));
    Cell* one = pushed(int_cell(1));
    Cell* two = pushed(int_cell(2));
    Cell* m1 = map_of({a, one, b, two});
    Cell* m2 = map_of({b, two, a, one});
    Cell* m3 = map_of({a, one, b, one});
    Cell* m4 = map_of({a, one});
    Cell* s1 = map_of({str("k"), one});
    Cell* s2 = map_of({str("K"), one});
    EXPECT_EQ(actions::compare(m1, m2, COMP_EQUAL), 0);
    EXPECT_NE(actions::compare(m1, m3, COMP_EQUAL), 0);
    EXPECT_NE(actions::compare(m1, m4, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare(m1, m1, COMP_SAME), 0);
    EXPECT_NE(actions::compare(m1, m2, COMP_SAME), 0);
    EXPECT_EQ(actions::compare(s1, s2, COMP_EQUAL), 0);
    EXPECT_NE(actions::compare(s1, s2, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(actions::compare(m1, one, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
    EXPECT_EQ(actions::compare(m1, m2, COMP_LESSER), COMPARE_NOT_COMPARABLE);
}

// The molded map loads back through the lexer as an equal map.
TEST_F(MapTest, MoldLoadsBack) {
    Cell* a = pushed(word_cell("a"));
    Cell* one = pushed(int_cell(1));
    Cell* inner = map_of({a, one});
    Cell* m = map_of({str("k\"ey"), one, a, inner, pushed(char_cell('x')), str("v")});
    for (bool flat : {false, true}) {
        std::string text = mold_with(m, false, flat, 0);
        Cell* out = stack::push_cell();
        EXPECT_MOX_OK(lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                                       static_cast<int32_t>(text.size()), out));
        ASSERT_EQ(block::rs_length_q(out), 1) << text;
        Cell* loaded = stack::push(block::rs_head(out));
        EXPECT_EQ(actions::compare(m, loaded, COMP_EQUAL), 0) << text;
    }
}

// Seeded random puts, removes, selects and clears against a model that
// matches keys case-insensitively, keeps a removed entry's place and
// revives it there. remove/key takes a strict match first: with both a: and
// A: present, removing 'A removes A:.
TEST_F(MapTest, ChangesFollowAModel) {
    struct Entry {
        std::string spelling;
        int value;
        bool live;
    };
    auto fold = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const char* keys[] = {"a", "A", "b", "key", "KEY", "x-y", "z"};
    std::mt19937 rng(7);
    for (int round = 0; round < 40; round++) {
        Cell* m = map_of({});
        std::vector<Entry> model;
        for (int step = 0; step < 30; step++) {
            const char* k = keys[rng() % std::size(keys)];
            Cell* key = pushed(word_cell(k));
            auto found = std::find_if(model.begin(), model.end(),
                                      [&](const Entry& e) { return fold(e.spelling) == fold(k); });
            switch (rng() % 6) {
            case 0:
            case 1:
            case 2: {
                Cell* value = pushed(int_cell(static_cast<int32_t>(rng() % 100)));
                map::put(m, key, value, false);
                if (found == model.end())
                    model.push_back({k, get_integer(value), true});
                else
                    *found = {found->spelling, get_integer(value), true};
                break;
            }
            case 3:
                map::remove(m, nullptr, key);
                if (found != model.end()) found->live = false;
                break;
            case 4: {
                Cell* got = map::select(m, key, nullptr, false, false, false, false, nullptr,
                                        nullptr, false, false);
                bool live = found != model.end() && found->live;
                EXPECT_EQ(molded(*got), live ? std::to_string(found->value) : "none");
                break;
            }
            default:
                if (rng() % 4 == 0) {
                    map::clear(m);
                    model.clear();
                }
            }
            stack::top = m + 1;
        }
        std::string flat = "#[";
        int live = 0;
        for (const Entry& e : model) {
            if (!e.live) continue;
            flat += (live++ ? " " : "") + e.spelling + ": " + std::to_string(e.value);
        }
        EXPECT_EQ(mold_with(m, false, true, 0), flat + "]");
        EXPECT_EQ(map::ms_length_q(m), live);
    }
    Cell* both = map_of(
        {pushed(word_cell("a")), pushed(int_cell(1)), pushed(word_cell("A")), pushed(int_cell(2))});
    map::remove(both, nullptr, pushed(word_cell("A")));
    EXPECT_EQ(mold_with(both, false, true, 0), "#[a: 1]");
    map::remove(both, nullptr, pushed(word_cell("A")));
    EXPECT_EQ(mold_with(both, false, true, 0), "#[]");
}

// extend and copy under collections at every allocation; a deep copy of a
// map inside itself is refused.
TEST_F(MapTest, ExtendAndCopy) {
    Cell* m = map_of({pushed(word_cell("a")), pushed(int_cell(1))});
    Cell* blk = block::make_at(stack::push_cell(), 4);
    block::ms_append(blk, pushed(word_cell("B")));
    block::ms_append(blk, str("x"));
    block::ms_append(blk, pushed(word_cell("A")));
    block::ms_append(blk, pushed(int_cell(3)));
    map::extend(m, blk, false);
    EXPECT_EQ(mold_with(m, false, true, 0), "#[a: 3 B: \"x\"]");
    Cell* copy = map::copy(m, nullptr, nullptr, true, nullptr);
    Cell* key = pushed(word_cell("b"));
    map::put(copy, key, pushed(int_cell(9)), false);
    EXPECT_EQ(mold_with(m, false, true, 0), "#[a: 3 B: \"x\"]");
    EXPECT_EQ(mold_with(copy, false, true, 0), "#[a: 3 B: 9]");
    block::ms_append(blk, pushed(word_cell("c")));
    EXPECT_MOX_ERROR(err::invalid_arg, map::extend(m, blk, false));
    map::put(m, pushed(word_cell("self")), m, false);
    EXPECT_MOX_ERROR(err::no_cycle, map::copy(m, nullptr, nullptr, true, nullptr));
}

} // namespace
} // namespace mox::test
