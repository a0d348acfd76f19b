// Contexts: finding and adding words, contexts from specs, clones, the
// global context's shared slots for every spelling of a word, reading and
// writing through words with their errors, object change notification, the
// compiled-code setters and binding (nested and cyclic blocks, self).
#include "core/context.h"

#include <cctype>
#include <string>
#include <vector>

#include "core/hashtable.h"
#include "program/startup.h"
#include "word_fixture.h"

namespace mox {
namespace {

using test::integer_cell;
using test::make_block;
using test::word_cell;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string capitalized(std::string s) {
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s;
}

class ContextTest : public test::WordsTest {
  protected:
    // An object context of the given words, its owner an object! value.
    static node_t make_object(std::initializer_list<const char*> names, bool events) {
        node_t ctx = context::create(static_cast<int32_t>(names.size()), false, true, 0,
                                     context::KIND_OBJECT);
        for (const char* name : names) {
            Cell w = word_cell(name);
            context::add(ctx, &w);
        }
        *context::owner_of(ctx) = Cell{TYPE_OBJECT, ctx, 1, events ? ctx : 0};
        return ctx;
    }
    static int32_t values_length(node_t ctx) {
        return static_cast<int32_t>(
            memory::buffer_of(context::record_of(ctx)->data2)->used_bytes() / sizeof(Cell));
    }
};

TEST_F(ContextTest, FindOrAddByCanonicalOrExactSymbol) {
    node_t ctx = context::create(2, false, false, 0, context::KIND_OBJECT);
    Cell* hold = stack::push_cell();
    *hold = Cell{TYPE_OBJECT, ctx, 1, 0};
    std::string base = test::fresh_name("alpha");
    uint32_t lower = symbol::make(base.c_str());
    uint32_t loud = symbol::make(upper(base).c_str());
    int32_t out = -7;
    EXPECT_EQ(context::find_or_add(ctx, lower, true, false, &out), -1);
    EXPECT_EQ(out, -7);
    EXPECT_EQ(context::add_word(ctx, lower, true, &out), -1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(context::find_word(ctx, loud, true), 0);
    EXPECT_EQ(context::find_word(ctx, loud, false), -1);
    EXPECT_EQ(context::add_word(ctx, loud, false, &out), -1); // exact: a second word
    EXPECT_EQ(out, 1);
    EXPECT_EQ(context::find_word(ctx, loud, false), 1);
    EXPECT_EQ(context::word_count(ctx), 2);
    Cell* w = context::symbol_at(ctx, 1);
    EXPECT_EQ(type_of(w), TYPE_WORD);
    EXPECT_EQ(w->data1, ctx);
    EXPECT_EQ(w->data2, loud);
    EXPECT_EQ(w->data3, 1u);
}

TEST_F(ContextTest, AddAddValueAndPut) {
    node_t ctx = context::create(0, false, false, 0, context::KIND_OBJECT);
    Cell* hold = stack::push_cell();
    *hold = Cell{TYPE_OBJECT, ctx, 1, 0};
    Cell a = word_cell("ctx-a"), b = word_cell("ctx-b"), c = word_cell("ctx-c");
    EXPECT_EQ(context::add(ctx, &a), 0);
    EXPECT_EQ(context::add(ctx, &a), 0);
    EXPECT_EQ(values_length(ctx), 1);
    EXPECT_EQ(type_of(context::value_ptr(ctx, 0)), TYPE_UNSET);
    Cell v = integer_cell(5);
    Cell* slot = context::add_value(ctx, &b, &v);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(get_integer(slot), 5);
    EXPECT_EQ(context::add_value(ctx, &b, &v), nullptr);
    Cell w = integer_cell(9);
    context::put(ctx, &c, &w);
    context::put(ctx, &a, &w);
    EXPECT_EQ(get_integer(context::value_ptr(ctx, 2)), 9);
    EXPECT_EQ(get_integer(context::value_ptr(ctx, 0)), 9);
    EXPECT_EQ(get_integer(context::symbol_value(ctx, c.data2)), 9);
    EXPECT_EQ(context::symbol_value(ctx, symbol::make("ctx-missing")), nullptr);
    EXPECT_EQ(values_length(ctx), 3);
}

TEST_F(ContextTest, GrowsWordTableAndKeepsEveryWord) {
    node_t ctx = context::create(3, false, false, 0, context::KIND_OBJECT);
    Cell* hold = stack::push_cell();
    *hold = Cell{TYPE_OBJECT, ctx, 1, 0};
    std::string stem = test::fresh_name("many");
    for (int i = 0; i < 300; i++) {
        Cell w = word_cell((stem + std::to_string(i)).c_str());
        EXPECT_EQ(context::add(ctx, &w), i);
    }
    EXPECT_GE(hashtable::record_of(context::table_of(ctx))->bucket_count, 512);
    for (int i = 0; i < 300; i++) {
        uint32_t s = symbol::make(upper(stem + std::to_string(i)).c_str());
        EXPECT_EQ(context::find_word(ctx, s, true), i);
    }
}

TEST_F(ContextTest, MakeFromSpecTakesWordsGetWordsLitWordsAndRefinements) {
    Cell* spec = stack::push_cell();
    make_block(spec, {word_cell("spec-a"), word_cell("spec-b", TYPE_SET_WORD),
                      word_cell("spec-c", TYPE_LIT_WORD), word_cell("spec-d", TYPE_GET_WORD),
                      word_cell("spec-e", TYPE_REFINEMENT), word_cell("spec-f", TYPE_ISSUE),
                      integer_cell(1), word_cell("SPEC-A")});
    node_t ctx = context::make_from_spec(spec, false, false, context::KIND_FUNCTION);
    Cell* hold = stack::push_cell();
    *hold = Cell{TYPE_OBJECT, ctx, 1, 0};
    const char* expected[] = {"spec-a", "spec-c", "spec-d", "spec-e"};
    ASSERT_EQ(context::word_count(ctx), 4);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(context::symbol_at(ctx, i)->data2, symbol::make(expected[i]));
    EXPECT_EQ(values_length(ctx), 4);
    EXPECT_EQ(context::kind_of(ctx), context::KIND_FUNCTION);

    node_t stacked = context::make_from_spec(spec, true, true, context::KIND_FUNCTION);
    EXPECT_TRUE(context::on_stack_q(stacked));
    EXPECT_EQ(context::record_of(stacked)->data2, 0u);
    EXPECT_TRUE(context::record_of(stacked)->header & FLAG_CONTEXT_SELF);
    EXPECT_EQ(context::word_count(stacked), 4);
}

TEST_F(ContextTest, CloneRepointsTheWords) {
    node_t ctx = make_object({"cl-a", "cl-b"}, false);
    Cell* obj = stack::push_cell();
    *obj = Cell{TYPE_OBJECT, ctx, 1, 0};
    node_t copy = context::clone(obj, context::KIND_OBJECT);
    EXPECT_NE(copy, ctx);
    EXPECT_EQ(obj->data1, copy);
    ASSERT_EQ(context::word_count(copy), 2);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(context::symbol_at(copy, i)->data1, copy);
        EXPECT_EQ(context::symbol_at(ctx, i)->data1, ctx);
    }
    EXPECT_EQ(values_length(copy), 2);
    Cell w = word_cell("cl-c");
    context::add(copy, &w);
    EXPECT_EQ(context::word_count(ctx), 2);
    EXPECT_TRUE(context::record_of(copy)->header & FLAG_CONTEXT_SELF);
}

TEST_F(ContextTest, CollectSetWords) {
    node_t ctx = make_object({"csw-a"}, false);
    Cell* hold = stack::push_cell();
    *hold = Cell{TYPE_OBJECT, ctx, 1, 0};
    Cell* body = stack::push_cell();
    make_block(body, {word_cell("csw-x", TYPE_SET_WORD), word_cell("csw-a", TYPE_SET_WORD),
                      word_cell("csw-y"), word_cell("csw-z", TYPE_SET_WORD)});
    EXPECT_TRUE(context::collect_set_words(ctx, body));
    EXPECT_EQ(context::word_count(ctx), 3);
    EXPECT_FALSE(context::collect_set_words(ctx, body));
    body->data1 = 99; // past the tail counts as the tail
    EXPECT_FALSE(context::collect_set_words(ctx, body));
}

// foo, Foo and FOO are one global word whatever the order they come in:
// each keeps its spelling, all share one slot.
TEST_F(ContextTest, GlobalSpellingsShareOneSlot) {
    for (int order = 0; order < 3; order++) {
        std::string base = test::fresh_name("gw");
        std::string spellings[3] = {base, capitalized(base), upper(base)};
        std::string first = spellings[order];
        Cell w0 = *word::load(first.c_str());
        for (const std::string& s : spellings) {
            Cell w = *word::load(s.c_str());
            EXPECT_EQ(w.data2, symbol::make(s.c_str())) << s;
            EXPECT_EQ(w.data3, w0.data3) << s;
            Cell from = *word::from_symbol(symbol::make(s.c_str()));
            EXPECT_EQ(from.data3, w0.data3) << s;
            EXPECT_EQ(from.data2, w.data2) << s;
        }
        Cell v = integer_cell(order + 100);
        Cell setter = *word::load(upper(base).c_str());
        word::set(&setter, &v);
        for (const std::string& s : spellings) {
            Cell w = *word::load(s.c_str());
            EXPECT_EQ(get_integer(word::get_value(&w)), order + 100) << s;
        }
    }
}

// The same, for spellings of one word met before and after the global word
// table grows.
TEST_F(ContextTest, GlobalSpellingsShareOneSlotAcrossResizes) {
    const hashtable::Record* r = hashtable::record_of(context::table_of(context::global));
    int32_t buckets = r->bucket_count;
    int32_t needed = r->upper - r->occupied + 8;
    std::string stem = test::fresh_name("gr");
    std::vector<uint32_t> slots;
    for (int32_t i = 0; i < needed; i++) {
        std::string name = stem + "-" + std::to_string(i);
        Cell w = *word::from_symbol(symbol::make(name.c_str()));
        if (i % 500 == 0) {
            slots.push_back(w.data3);
            word::from_symbol(symbol::make(capitalized(name).c_str()));
        }
    }
    ASSERT_GT(hashtable::record_of(context::table_of(context::global))->bucket_count, buckets);
    for (size_t k = 0; k < slots.size(); k++) {
        std::string name = stem + "-" + std::to_string(k * 500);
        for (const std::string& s : {name, capitalized(name), upper(name)}) {
            EXPECT_EQ(word::from_symbol(symbol::make(s.c_str()))->data3, slots[k]) << s;
            EXPECT_EQ(word::load(s.c_str())->data3, slots[k]) << s;
        }
    }
}

// Looking a variant spelling up again and again keeps one rooted cell for
// it: the root block does not grow with the lookups.
TEST_F(ContextTest, VariantLookupsDoNotGrowTheRootBlock) {
    std::string base = test::fresh_name("root");
    word::load(base.c_str());
    word::load(capitalized(base).c_str());
    auto root_cells = [] { return memory::buffer_of(root.data2)->used_bytes() / sizeof(Cell); };
    size_t before = root_cells();
    uint32_t loud = symbol::make(upper(base).c_str());
    for (int i = 0; i < 100000; i++) word::make_global(loud, true, true);
    word::load(capitalized(base).c_str());
    EXPECT_LE(root_cells(), before + 1);
    EXPECT_EQ(word::make_global(loud, true, true)->data2, loud);
}

TEST_F(ContextTest, ResolveWordAndSymbolValue) {
    node_t ctx = make_object({"rw-a"}, false);
    Cell* hold = stack::push_cell();
    *hold = Cell{TYPE_OBJECT, ctx, 1, 0};
    uint32_t a = symbol::make("rw-a");
    EXPECT_EQ(context::resolve_word(ctx, a)->data1, ctx);
    Cell* global = context::resolve_word(ctx, symbol::make("RW-A"));
    EXPECT_EQ(global->data1, context::global);
    EXPECT_EQ(context::resolve_word(0, a)->data1, context::global);

    // A context whose values are on the stack answers from the global one.
    Cell* spec = stack::push_cell();
    make_block(spec, {word_cell("rw-a")});
    node_t fn = context::make_from_spec(spec, true, false, context::KIND_FUNCTION);
    Cell v = integer_cell(77);
    word::set(word::load("rw-a"), &v);
    EXPECT_EQ(get_integer(context::symbol_value(fn, a)), 77);
}

TEST_F(ContextTest, ReadingErrors) {
    // Unbound word.
    Cell unbound = word_cell("rd-unbound");
    EXPECT_MOX_ERROR(err::no_value, word::get_value(&unbound));
    // Bound word of a context without values.
    Cell* spec = stack::push_cell();
    make_block(spec, {word_cell("rd-a")});
    node_t fn = context::make_from_spec(spec, true, false, context::KIND_FUNCTION);
    Cell* hold = stack::push_cell();
    *hold = Cell{TYPE_OBJECT, fn, 1, 0};
    Cell bound = *context::symbol_at(fn, 0);
    EXPECT_MOX_ERROR(err::not_in_context, word::get_value(&bound));
    EXPECT_MOX_ERROR(err::not_defined, context::push_value(fn, 0));
    EXPECT_MOX_ERROR(err::not_defined, context::value_ptr_checked(fn, 0));
    Cell v = integer_cell(1);
    EXPECT_MOX_ERROR(err::not_defined, context::set_in(&bound, &v, fn, true));
    // An unset value.
    Cell fresh = *word::load(test::fresh_name("rd-fresh").c_str());
    EXPECT_MOX_ERROR(err::no_value, word::get(&fresh));
    EXPECT_MOX_OK(word::push_value_any(&fresh));
}

// self unbound yields the object it was bound for; without any context it
// has no value, and nothing reads through node 0.
TEST_F(ContextTest, SelfWord) {
    node_t ctx = make_object({"self-a"}, false);
    Cell* hold = stack::push_cell();
    *hold = *context::owner_of(ctx);
    Cell self = word_cell("self");
    EXPECT_MOX_ERROR(err::no_value, word::get_value(&self));
    Cell* body = stack::push_cell();
    make_block(body, {word_cell("self"), word_cell("self-a")});
    context::bind(body, ctx, true);
    Cell bound_self = *memory::buffer_of(body->data2)->cells();
    EXPECT_EQ(bound_self.data1, ctx);
    EXPECT_EQ(static_cast<int32_t>(bound_self.data3), -1);
    Cell* value = word::get_value(&bound_self);
    EXPECT_EQ(type_of(value), TYPE_OBJECT);
    EXPECT_EQ(value->data1, ctx);
    // Without the self flag self stays as it was (the context has no word
    // self).
    Cell* other = stack::push_cell();
    make_block(other, {word_cell("self")});
    context::bind(other, ctx, false);
    EXPECT_EQ(memory::buffer_of(other->data2)->cells()->data1, 0u);
}

// Binding descends into blocks, parens and paths, skips issues and leaves
// words the context lacks alone; a block that contains itself ends.
TEST_F(ContextTest, BindNestedAndCyclicBlocks) {
    node_t ctx = make_object({"bd-a", "bd-b"}, false);
    Cell* hold = stack::push_cell();
    *hold = *context::owner_of(ctx);
    Cell* inner = stack::push_cell();
    make_block(inner, {word_cell("BD-B", TYPE_GET_WORD), word_cell("bd-zz")}, TYPE_PAREN);
    Cell* path = stack::push_cell();
    make_block(path, {word_cell("bd-a"), word_cell("bd-b")}, TYPE_PATH);
    Cell* outer = stack::push_cell();
    make_block(outer, {word_cell("bd-a", TYPE_SET_WORD), word_cell("bd-b", TYPE_ISSUE), *inner,
                       *path, word_cell("bd-b", TYPE_REFINEMENT)});
    // The block contains itself.
    *memory::alloc_tail(outer->data2) = *outer;
    context::bind(outer, ctx, false);
    EXPECT_EQ(cycles::depth(), 0u);
    Cell* o = memory::buffer_of(outer->data2)->cells();
    EXPECT_EQ(o[0].data1, ctx);
    EXPECT_EQ(o[0].data3, 0u);
    EXPECT_EQ(o[1].data1, 0u); // issue! stays unbound
    EXPECT_EQ(o[4].data1, ctx);
    EXPECT_EQ(o[4].data3, 1u);
    Cell* i = memory::buffer_of(inner->data2)->cells();
    EXPECT_EQ(i[0].data1, ctx);
    EXPECT_EQ(i[0].data3, 1u);
    EXPECT_EQ(i[1].data1, 0u);
    Cell* p = memory::buffer_of(path->data2)->cells();
    EXPECT_EQ(p[0].data3, 0u);
    EXPECT_EQ(p[1].data3, 1u);
}

// Change notification: the handler sees owner, word, old and new value; the
// field is marked; the stack is as it was afterwards.
struct Notice {
    node_t owner;
    uint32_t word;
    int32_t old_value;
    int32_t new_value;
    int32_t slot_during; // the slot's content while the handler runs
};
std::vector<Notice>* notices = nullptr;

void record_change(Cell* owner, Cell* word, Cell* old, Cell* value) {
    int32_t index = static_cast<int32_t>(word->data3);
    notices->push_back({owner->data1, word->data2, get_integer(old), get_integer(value),
                        get_integer(context::value_ptr(owner->data1, index))});
}

TEST_F(ContextTest, ObjectChangeNotification) {
    std::vector<Notice> seen;
    notices = &seen;
    context::ChangeHandler saved = context::on_change;
    context::on_change = record_change;

    node_t ctx = make_object({"ch-a", "ch-b"}, true);
    Cell* hold = stack::push_cell();
    *hold = *context::owner_of(ctx);
    Cell a = *context::symbol_at(ctx, 0);
    Cell b = *context::symbol_at(ctx, 1);
    Cell* top = stack::top;
    for (int i = 1; i <= 3; i++) {
        Cell v = integer_cell(i);
        word::set(i == 2 ? &b : &a, &v);
    }
    EXPECT_EQ(stack::top, top);
    ASSERT_EQ(seen.size(), 3u);
    const Notice expected[] = {
        {ctx, a.data2, 0, 1, 1}, {ctx, b.data2, 0, 2, 2}, {ctx, a.data2, 1, 3, 3}};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(seen[i].owner, expected[i].owner);
        EXPECT_EQ(seen[i].word, expected[i].word);
        EXPECT_EQ(seen[i].new_value, expected[i].new_value);
        EXPECT_EQ(seen[i].slot_during, expected[i].slot_during);
    }
    // The first old values were unset!, read as 0 by get_integer; the third
    // saw 1.
    EXPECT_EQ(seen[2].old_value, 1);
    EXPECT_TRUE(context::symbol_at(ctx, 0)->header & FLAG_FIELD_SET);
    EXPECT_TRUE(context::symbol_at(ctx, 1)->header & FLAG_FIELD_SET);

    // Without an event record, or without notify, nobody hears.
    node_t quiet = make_object({"ch-q", "ch-r"}, false);
    Cell* hold2 = stack::push_cell();
    *hold2 = *context::owner_of(quiet);
    Cell q = *context::symbol_at(quiet, 0);
    Cell v = integer_cell(8);
    word::set(&q, &v);
    context::set_in(&a, &v, ctx, false);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_TRUE(context::symbol_at(quiet, 0)->header & FLAG_FIELD_SET);
    EXPECT_FALSE(context::symbol_at(quiet, 1)->header & FLAG_FIELD_SET);
    EXPECT_EQ(get_integer(context::value_ptr(ctx, 0)), 8);

    context::on_change = saved;
    notices = nullptr;
}

TEST_F(ContextTest, SetInAddsAnUnboundWord) {
    node_t ctx = make_object({"si-a"}, false);
    Cell* hold = stack::push_cell();
    *hold = *context::owner_of(ctx);
    Cell w = word_cell("si-new");
    Cell v = integer_cell(4);
    context::set_in(&w, &v, ctx, true);
    EXPECT_EQ(w.data3, 1u);
    EXPECT_EQ(get_integer(context::value_ptr(ctx, 1)), 4);
    Cell loud = word_cell("SI-A");
    context::set_in(&loud, &v, ctx, true); // exact miss, canonical hit
    EXPECT_EQ(loud.data3, 0u);
    EXPECT_EQ(context::word_count(ctx), 2);
}

// The setters of compiled code take the stack's last cell; they mark object
// fields and check for unset! where they should.
TEST_F(ContextTest, CompiledCodeSetters) {
    node_t ctx = make_object({"cc-a", "cc-b"}, true);
    Cell* hold = stack::push_cell();
    *hold = *context::owner_of(ctx);
    context::ChangeHandler saved = context::on_change;
    std::vector<Notice> seen;
    notices = &seen;
    context::on_change = record_change;

    Cell* args = stack::mark_native(nullptr);
    Cell eleven = integer_cell(11);
    stack::push(&eleven);
    context::set_from_top_reset(ctx, 0);
    EXPECT_EQ(stack::top, args);
    EXPECT_EQ(get_integer(context::value_ptr(ctx, 0)), 11);
    EXPECT_TRUE(context::symbol_at(ctx, 0)->header & FLAG_FIELD_SET);

    Cell unset;
    make_unset(&unset);
    stack::push(&unset);
    EXPECT_MOX_ERROR(err::need_value, context::set_checked(ctx, 1));
    EXPECT_FALSE(context::symbol_at(ctx, 1)->header & FLAG_FIELD_SET);
    stack::top = args;
    Cell twelve = integer_cell(12);
    stack::push(&twelve);
    context::set_checked_reset(ctx, 1);
    EXPECT_EQ(get_integer(context::value_ptr(ctx, 1)), 12);

    // swap: the old value is pushed, the previous last cell stored.
    Cell thirteen = integer_cell(13);
    stack::push(&thirteen);
    context::swap_value(ctx, 0);
    EXPECT_EQ(get_integer(stack::top - 1), 11);
    EXPECT_EQ(get_integer(context::value_ptr(ctx, 0)), 13);
    stack::top = args;
    context::push_value(ctx, 1);
    EXPECT_EQ(get_integer(stack::top - 1), 12);
    EXPECT_EQ(type_of(context::push_get_word(ctx, 1)), TYPE_GET_WORD);
    EXPECT_EQ(type_of(context::push_refinement(ctx, 1)), TYPE_REFINEMENT);
    EXPECT_EQ(type_of(context::push_word(ctx, 1)), TYPE_WORD);
    EXPECT_TRUE(seen.empty()); // compiled setters never notify
    stack::unwind_drop();

    context::on_change = saved;
    notices = nullptr;
}

TEST_F(ContextTest, GlobalContextSurvivesCollections) {
    std::string name = test::fresh_name("gc-word");
    Cell* w = stack::push(word::load(name.c_str()));
    Cell* v = stack::push_cell();
    make_block(v, {integer_cell(42)});
    word::set(w, v);
    test::churn_nodes();
    test::collect_moving_nodes();
    Cell* again = word::load(name.c_str());
    Cell* value = word::get_value(again);
    ASSERT_EQ(type_of(value), TYPE_BLOCK);
    EXPECT_EQ(get_integer(memory::buffer_of(value->data2)->cells()), 42);
    EXPECT_EQ(again->data1, context::global);
}

} // namespace
} // namespace mox
