// Argument checks: a value of a type outside the argument's typeset raises
// expect-arg naming the call, the value's datatype and the argument word.
#include <string>

#include "core/collector.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/error.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

class ValueTest : public test::RuntimeTest {
  protected:
    // A global word naming an action! whose spec lists the given words.
    static Cell callable_word(const char* name, std::initializer_list<const char*> spec) {
        node_t block = memory::alloc_cells(static_cast<uint32_t>(spec.size()));
        collector::Root keep(&block);
        for (const char* w : spec) {
            Cell word = *word::load(w);
            *memory::alloc_tail(block) = word;
        }
        Cell action{TYPE_ACTION, 1, block, memory::alloc_cells(2)};
        Cell word = *word::load(name);
        word::set(&word, &action);
        return word;
    }

    static Cell typeset_of(std::initializer_list<uint32_t> types) {
        Cell t{TYPE_TYPESET, 0, 0, 0};
        auto* bytes = reinterpret_cast<uint8_t*>(&t.data1);
        for (uint32_t type : types) bytes[type >> 3] |= 0x80 >> (type & 7);
        return t;
    }

    static std::string name_of(const Cell* word) { return symbol::name_utf8(word->data2); }
};

TEST_F(ValueTest, TypeCheckNamesCallDatatypeAndArgument) {
    Cell call = callable_word("check-me", {"series", "value", "count"});
    Cell ints = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
    stack::mark_native(&call);
    Cell good, bad;
    make_integer(&good, 3);
    make_char(&bad, 'x');
    EXPECT_EQ(type_check(&ints, 1, &good), &good);

    Cell arg1, arg2, arg3;
    int code = test::run_catching([&] {
        try {
            type_check(&ints, 2, &bad);
        } catch (const stack::Unwind&) {
            Cell* e = stack::top - 1;
            arg1 = *error::field(e, error::FIELD_ARG1);
            arg2 = *error::field(e, error::FIELD_ARG2);
            arg3 = *error::field(e, error::FIELD_ARG3);
            throw;
        }
    });
    EXPECT_EQ(code, err::expect_arg);
    EXPECT_EQ(name_of(&arg1), "check-me");
    EXPECT_EQ(type_of(&arg2), TYPE_DATATYPE);
    EXPECT_EQ(arg2.data1, static_cast<uint32_t>(TYPE_CHAR));
    EXPECT_EQ(name_of(&arg3), "count");
}

TEST_F(ValueTest, OtherChecks) {
    Cell call = callable_word("check-too", {"a", "b"});
    Cell any = typeset_of({TYPE_INTEGER});
    // The checks read the arguments of the running call.
    auto with_call = [&](int32_t index) {
        stack::mark_native(&call);
        make_integer(stack::push_cell(), 1);
        make_char(stack::push_cell(), 'c');
        return type_check_at(&any, index);
    };
    EXPECT_MOX_OK(EXPECT_EQ(with_call(-1), -1)); // absent refinement: nothing checked
    EXPECT_MOX_OK(with_call(0));
    EXPECT_MOX_ERROR(err::expect_arg, with_call(1));

    Cell off, on, bad;
    make_logic(&off, false);
    make_logic(&on, true);
    make_char(&bad, 'z');
    EXPECT_MOX_OK(type_check_refinement(&off, &any, 0, &bad));
    EXPECT_MOX_ERROR(err::expect_arg, type_check_refinement(&on, &any, 0, &bad));

    Cell unset;
    make_unset(&unset);
    EXPECT_MOX_ERROR(err::expect_arg, check_set_arg(0, &unset));
    EXPECT_MOX_OK(check_set_arg(0, &bad));
}

TEST_F(ValueTest, ArgumentWordIsNoneBeyondTheSpec) {
    Cell call = callable_word("check-short", {"only"});
    Cell ints = typeset_of({TYPE_INTEGER});
    stack::mark_native(&call);
    Cell bad;
    make_none(&bad);
    Cell arg3;
    test::run_catching([&] {
        try {
            type_check(&ints, 5, &bad);
        } catch (const stack::Unwind&) {
            arg3 = *error::field(stack::top - 1, error::FIELD_ARG3);
            throw;
        }
    });
    EXPECT_EQ(type_of(&arg3), TYPE_NONE);
}

} // namespace
} // namespace mox
