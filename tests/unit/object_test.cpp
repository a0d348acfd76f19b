// object!: making from the datatype and from prototypes, class IDs, copies,
// paths, form and mold (cycles included), comparison, reflection, select,
// put, modify, set and construct.
#include "datatypes/object.h"

#include <string>

#include "core/context.h"
#include "core/memory.h"
#include "core/symbol.h"
#include "core/words.h"
#include "datatypes/word.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

class ObjectTest : public RuntimeTest {
  protected:
    // make object! from the datatype and a spec text; the object is pushed.
    static Cell* make_object(const std::string& spec) {
        Cell* blk = load_block(spec);
        Cell* proto = make_datatype(stack::push_cell(), TYPE_OBJECT);
        Cell* made = object::make(proto, blk, TYPE_OBJECT);
        return stack::push(made);
    }
    // make of a prototype object with a spec text.
    static Cell* make_from(Cell* proto, const std::string& spec) {
        Cell* blk = load_block(spec);
        return stack::push(object::make(proto, blk, TYPE_OBJECT));
    }
    static Cell* field(Cell* object, const char* name) {
        return object::find_value(object->data1, symbol::make(name));
    }
    static Cell* path_get(Cell* object, const char* element, bool get, bool tail) {
        Cell* path = load_block(element);
        Cell* e = stack::push(block::ms_abs_at(path, 0));
        return object::eval_path(object, e, nullptr, path, nullptr, nullptr, 1, false, get, tail,
                                 true);
    }
    static Cell* reflect(Cell* object, const char* field) {
        return object::reflect(object, static_cast<int32_t>(symbol::make(field)));
    }
};

TEST_F(ObjectTest, MakeFromDatatypeEvaluatesTheSpecInTheNewObject) {
    Cell* obj = make_object("a: 1 b: a c: [x y] d: 'w");
    EXPECT_EQ(object::field_count(obj->data1), 4);
    EXPECT_EQ(molded(field(obj, "b")), "1");
    EXPECT_EQ(molded(obj), "make object! [\n    a: 1\n    b: 1\n    c: [x y]\n    d: 'w\n]");
    EXPECT_EQ(molded(obj, false, false, true), "make object! [a: 1 b: 1 c: [x y] d: 'w]");
    EXPECT_EQ(molded(obj, true), "a: 1\nb: 1\nc: [x y]\nd: 'w\n");
    EXPECT_EQ(formed(obj), "a: 1\nb: 1\nc: [x y]\nd: 'w");
    EXPECT_GT(obj->data2, object::CLASS_ERROR);
}

TEST_F(ObjectTest, NestedObjectsIndentByLevel) {
    Cell* obj = make_object("a: 1 b: 0");
    Cell* inner = make_object("c: \"x\"");
    context::put(obj->data1, word::load("b"), inner);
    EXPECT_EQ(molded(obj),
              "make object! [\n    a: 1\n    b: make object! [\n        c: \"x\"\n    ]\n]");
}

TEST_F(ObjectTest, SelfIsTheObject) {
    Cell* obj = make_object("a: 5 me: self");
    Cell* me = field(obj, "me");
    ASSERT_EQ(type_of(me), TYPE_OBJECT);
    EXPECT_EQ(me->data1, obj->data1);
}

TEST_F(ObjectTest, PrototypeClassKeptUnlessWordsAreAdded) {
    Cell* proto = make_object("a: 1 b: [1 2] s: \"text\"");
    Cell* same_words = make_from(proto, "a: 2");
    Cell* more_words = make_from(proto, "z: 3");
    EXPECT_EQ(same_words->data2, proto->data2);
    EXPECT_NE(more_words->data2, proto->data2);
    EXPECT_NE(same_words->data1, proto->data1);
    EXPECT_EQ(molded(field(same_words, "a")), "2");
    EXPECT_EQ(molded(field(proto, "a")), "1");
    // Series are deep copies: changing the copy leaves the prototype alone.
    EXPECT_NE(field(same_words, "b")->data2, field(proto, "b")->data2);
    EXPECT_NE(field(same_words, "s")->data2, field(proto, "s")->data2);
    EXPECT_EQ(molded(field(same_words, "b")), "[1 2]");
}

TEST_F(ObjectTest, BlocksOfThePrototypeAreRebound) {
    Cell* proto = make_object("a: 1 code: [a]");
    Cell* made = make_from(proto, "a: 7");
    Cell* code = stack::push(field(made, "code"));
    Cell* w = block::ms_abs_at(code, 0);
    EXPECT_EQ(w->data1, made->data1);
}

TEST_F(ObjectTest, MakeMergesAnObjectSpec) {
    Cell* proto = make_object("a: 1 b: 2");
    Cell* spec = make_object("b: 20 c: 30");
    Cell* made = stack::push(object::make(proto, spec, TYPE_OBJECT));
    EXPECT_EQ(molded(made, false, false, true), "make object! [a: 1 b: 20 c: 30]");
    EXPECT_NE(made->data2, proto->data2);
}

TEST_F(ObjectTest, MakeRefusesOtherSpecs) {
    Cell* proto = make_datatype(stack::push_cell(), TYPE_OBJECT);
    Cell i;
    make_integer(&i, 1);
    EXPECT_MOX_ERROR(err::malconstruct, object::make(proto, &i, TYPE_OBJECT));
}

TEST_F(ObjectTest, HandlerFieldsMustBeFunctions) {
    Raised r = raised_by([] { make_object("on-change*: 3"); });
    ASSERT_EQ(r.code, err::bad_field_set);
    EXPECT_EQ(molded(error::field(r.error, error::FIELD_ARG1)), "on-change*");
    EXPECT_EQ(molded(error::field(r.error, error::FIELD_ARG2)), "integer!");
}

TEST_F(ObjectTest, PathsGetSetAndReportMissingFields) {
    Cell* obj = make_object("a: 1 u: 2");
    EXPECT_EQ(molded(path_get(obj, "a", false, true)), "1");
    EXPECT_EQ(molded(path_get(obj, "A", false, true)), "1"); // case-insensitive
    EXPECT_MOX_ERROR(err::invalid_path, path_get(obj, "zz", false, true));
    EXPECT_MOX_ERROR(err::unset_path, path_get(obj, "zz", false, false));
    EXPECT_EQ(type_of(path_get(obj, "zz", true, true)), TYPE_UNSET);
    EXPECT_MOX_ERROR(err::invalid_path, path_get(obj, "3", false, true));

    Cell* path = load_block("u");
    Cell* e = stack::push(block::ms_abs_at(path, 0));
    Cell v;
    make_integer(&v, 42);
    object::eval_path(obj, e, &v, path, nullptr, nullptr, 1, false, false, true, true);
    EXPECT_EQ(molded(field(obj, "u")), "42");
    // The element's binding is cached in the path.
    EXPECT_EQ(e->data1, obj->data1);
    Cell* self = load_block("self");
    Cell* s = stack::push(block::ms_abs_at(self, 0));
    EXPECT_MOX_ERROR(err::invalid_path, object::eval_path(obj, s, &v, self, nullptr, nullptr, 1,
                                                          false, false, true, true));
}

TEST_F(ObjectTest, CyclesMoldAsPlaceholders) {
    Cell* obj = make_object("a: 1 me: 0");
    context::put(obj->data1, word::load("me"), obj);
    EXPECT_EQ(molded(obj, false, false, true), "make object! [a: 1 me: make object! [...]]");
    EXPECT_EQ(formed(obj), "a: 1\nme: make object! [...]");
    EXPECT_EQ(object::compare(obj, obj, COMP_EQUAL), 0);
    Cell* other = make_object("a: 1 me: 0");
    context::put(other->data1, word::load("me"), other);
    EXPECT_EQ(object::compare(obj, other, COMP_EQUAL), 0);
}

TEST_F(ObjectTest, CompareFieldsInOrder) {
    Cell* a = make_object("x: 1 y: \"s\"");
    Cell* b = make_object("x: 1 y: \"S\"");
    Cell* c = make_object("x: 1 y: \"t\"");
    Cell* d = make_object("x: 1");
    Cell* e = make_object("x: 1.0 y: \"s\"");
    EXPECT_EQ(object::compare(a, b, COMP_EQUAL), 0);
    EXPECT_NE(object::compare(a, b, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(object::compare(a, b, COMP_SAME), -1);
    EXPECT_LT(object::compare(a, c, COMP_LESSER), 0);
    EXPECT_GT(object::compare(a, d, COMP_LESSER), 0);
    EXPECT_EQ(object::compare(a, e, COMP_EQUAL), 0);
    Cell i;
    make_integer(&i, 1);
    EXPECT_EQ(object::compare(a, &i, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

TEST_F(ObjectTest, Reflection) {
    Cell* obj = make_object("a: 1 p: 'q t: 'x/y");
    EXPECT_EQ(molded(reflect(obj, "words")), "[a p t]");
    EXPECT_EQ(molded(reflect(obj, "values")), "[1 q x/y]");
    EXPECT_EQ(molded(reflect(obj, "body")), "[\n    a: 1\n    p: 'q\n    t: 'x/y\n]");
    EXPECT_EQ(get_integer(reflect(obj, "class")), static_cast<int32_t>(obj->data2));
    EXPECT_EQ(molded(reflect(obj, "events?")), "false");
    EXPECT_EQ(molded(reflect(obj, "changed")), "[]");
    Cell* w = stack::push(block::ms_abs_at(reflect(obj, "words"), 0));
    EXPECT_EQ(w->data1, obj->data1);
    EXPECT_MOX_ERROR(err::not_done, reflect(obj, "spec"));
}

TEST_F(ObjectTest, ChangeMarksAreSetByPathsAndClearedByModify) {
    Cell* obj = make_object("a: 1 b: 2");
    Cell key = *word::load("b");
    Cell v;
    make_integer(&v, 5);
    object::put(obj, &key, &v, false);
    EXPECT_EQ(molded(reflect(obj, "changed")), "[b]");
    Cell field = *word::load("changed");
    Cell none;
    make_none(&none);
    EXPECT_MOX_ERROR(err::invalid_arg, object::modify(obj, &field, &v, false));
    object::modify(obj, &field, &none, false);
    EXPECT_EQ(molded(reflect(obj, "changed")), "[]");
}

TEST_F(ObjectTest, SelectAndPutTakeWords) {
    Cell* obj = make_object("a: 1");
    Cell a = *word::load("a"), zz = *word::load("zz");
    EXPECT_EQ(molded(object::select(obj, &a, nullptr, false, false, false, false, nullptr, nullptr,
                                    false, false)),
              "1");
    EXPECT_EQ(molded(object::select(obj, &zz, nullptr, false, false, false, false, nullptr, nullptr,
                                    false, false)),
              "none");
    Cell i;
    make_integer(&i, 1);
    EXPECT_MOX_ERROR(err::invalid_type, object::select(obj, &i, nullptr, false, false, false, false,
                                                       nullptr, nullptr, false, false));
    EXPECT_MOX_ERROR(err::invalid_key_type, object::put(obj, &i, &i, false));
    EXPECT_MOX_ERROR(err::invalid_path, object::put(obj, &zz, &i, false));
}

TEST_F(ObjectTest, CopyKeepsClassAndCopiesSeriesOnlyWhenDeep) {
    Cell* obj = make_object("a: [1 2] n: 3");
    Cell* shallow = stack::push_cell();
    object::copy(obj, shallow, nullptr, false, nullptr);
    Cell* deep = stack::push_cell();
    object::copy(obj, deep, nullptr, true, nullptr);
    EXPECT_EQ(shallow->data2, obj->data2);
    EXPECT_NE(shallow->data1, obj->data1);
    EXPECT_EQ(field(shallow, "a")->data2, field(obj, "a")->data2);
    EXPECT_NE(field(deep, "a")->data2, field(obj, "a")->data2);
    EXPECT_EQ(molded(deep, false, false, true), "make object! [a: [1 2] n: 3]");
    Cell part;
    make_integer(&part, 1);
    Cell* out = stack::push_cell();
    EXPECT_MOX_ERROR(err::invalid_refine_arg, object::copy(obj, out, &part, false, nullptr));
}

TEST_F(ObjectTest, SetManyAssignsInWordOrder) {
    Cell* obj = make_object("a: 1 b: 2 c: 3");
    Cell* ten = make_integer(stack::push_cell(), 10);
    object::set_many(obj, ten, false, false, false);
    EXPECT_EQ(molded(obj, false, false, true), "make object! [a: 10 b: 10 c: 10]");
    Cell* blk = load_block("7 8");
    object::set_many(obj, blk, false, false, false);
    EXPECT_EQ(molded(obj, false, false, true), "make object! [a: 7 b: 8 c: none]");
    Cell* src = make_object("c: 5 zz: 6");
    object::set_many(obj, src, false, false, false);
    EXPECT_EQ(molded(obj, false, false, true), "make object! [a: 7 b: 8 c: 5]");
    Cell unset;
    make_unset(&unset);
    Cell* u = stack::push(&unset);
    Raised r = raised_by([&] { object::set_many(obj, u, false, false, false); });
    ASSERT_EQ(r.code, err::need_value);
    EXPECT_EQ(molded(error::field(r.error, error::FIELD_ARG1)), "a");
    object::set_many(obj, u, true, false, false);
    EXPECT_EQ(type_of(field(obj, "b")), TYPE_UNSET);
}

TEST_F(ObjectTest, ConstructFillsFieldsWithoutEvaluation) {
    Cell* spec = load_block("a: b: 1 + 2 c: on d: none e:");
    Cell* obj = stack::push(object::make_from_spec(spec, nullptr, false));
    EXPECT_EQ(molded(obj, false, false, true), "make object! [a: 1 b: 1 c: true d: none e: none]");
    Cell* kept = stack::push(object::make_from_spec(spec, nullptr, true));
    EXPECT_EQ(molded(field(kept, "c")), "on");
}

} // namespace
} // namespace mox::test
