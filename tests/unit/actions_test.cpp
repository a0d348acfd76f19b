// Action dispatch: lookup and its errors, the direct forms, the comparison
// entry, and the arithmetic and comparison fast paths with their stack
// discipline.
#include <cmath>

#include "core/collector.h"
#include "platform/platform.h"
#include "scalar_fixture.h"

namespace mox {
namespace {

using test::float_cell;
using test::int_cell;

class ActionsTest : public test::ScalarTest {};

// ---------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------

TEST_F(ActionsTest, MissingActionRaisesExpectArgNamingTheCall) {
    Cell error = test::error_of([] {
        Cell word = test::word_cell("append");
        stack::mark_native(&word);
        Cell v = int_cell(1), w = int_cell(2);
        actions::append(stack::push(&v), &w, -1, false, 1);
    });
    ASSERT_EQ(type_of(&error), TYPE_ERROR);
    EXPECT_EQ(error::code_of(&error), err::expect_arg);
    EXPECT_EQ(error::field(&error, error::FIELD_ARG1)->data2, symbol::make("append"));
    Cell* type = error::field(&error, error::FIELD_ARG2);
    ASSERT_EQ(type_of(type), TYPE_DATATYPE);
    EXPECT_EQ(type->data1, static_cast<uint32_t>(TYPE_INTEGER));
}

TEST_F(ActionsTest, MakeAndToSelectTheTypeByDatatypeOrValue) {
    Cell proto = test::datatype_cell(TYPE_INTEGER), spec = true_value;
    EXPECT_EQ(get_integer(actions::make(&proto, &spec)), 1);
    Cell value_proto = int_cell(99);
    EXPECT_EQ(get_integer(actions::make(&value_proto, &spec)), 1);
    Cell f = float_cell(2.9);
    proto = test::datatype_cell(TYPE_INTEGER);
    EXPECT_EQ(get_integer(actions::to(&proto, &f)), 2);
    Cell pair = test::datatype_cell(TYPE_PAIR);
    EXPECT_MOX_ERROR(err::bad_to_arg, actions::make(&pair, &spec));
}

TEST_F(ActionsTest, PathLookupErrors) {
    Cell value = int_cell(5), element = test::word_cell("x");
    Cell error =
        test::error_of([&] { actions::lookup_path(&value, A_EVAL_PATH, nullptr, &element, -1); });
    ASSERT_EQ(error::code_of(&error), err::bad_path_type2);
    EXPECT_EQ(error::field(&error, error::FIELD_ARG1)->data2, element.data2);
    EXPECT_EQ(error::field(&error, error::FIELD_ARG2)->data1, static_cast<uint32_t>(TYPE_INTEGER));

    // Inside a path the error carries the path and its copy cut after the
    // element, from the path's own position.
    Cell path = test::block_cell(
        {test::word_cell("a"), test::word_cell("b"), test::word_cell("c"), test::word_cell("d")},
        TYPE_PATH, 1);
    collector::Root keep(&path);
    error = test::error_of([&] { actions::lookup_path(&value, A_EVAL_PATH, &path, &element, 1); });
    ASSERT_EQ(error::code_of(&error), err::bad_path_type);
    Cell* whole = error::field(&error, error::FIELD_ARG1);
    EXPECT_EQ(whole->data2, path.data2);
    Cell* cut = error::field(&error, error::FIELD_ARG3);
    ASSERT_EQ(type_of(cut), TYPE_PATH);
    memory::SeriesBuffer* b = memory::buffer_of(cut);
    ASSERT_EQ(b->used_bytes(), 2 * sizeof(Cell));
    EXPECT_EQ(b->cells()[0].data2, symbol::make("b"));
    EXPECT_EQ(b->cells()[1].data2, symbol::make("c"));

    // A position beyond the path keeps what there is.
    error = test::error_of([&] { actions::lookup_path(&value, A_EVAL_PATH, &path, &element, 9); });
    EXPECT_EQ(memory::buffer_of(error::field(&error, error::FIELD_ARG3))->used_bytes(),
              3 * sizeof(Cell));
}

TEST_F(ActionsTest, PortWithHandleActorRefusesPortActions) {
    // A bare context the test fills by hand: nothing may collect under it.
    collector::Hold hold;
    node_t ctx = context::create(7, false, false, 0, context::KIND_OBJECT);
    for (int i = 0; i < 7; i++) make_none(memory::alloc_tail(context::record_of(ctx)->data2));
    Cell* actor = memory::buffer_of(context::record_of(ctx)->data2)->cells() + 2;
    *actor = Cell{TYPE_HANDLE, 0, 0, 0xFFFFFFFF};
    Cell port = {TYPE_PORT, ctx, 0, 0};
    EXPECT_MOX_ERROR(err::no_port_action, actions::lookup(&port, A_READ));
    EXPECT_MOX_ERROR(err::no_port_action, actions::lookup(&port, A_APPEND));
    // Below the port actions the datatype's own slots answer.
    EXPECT_EQ(actions::lookup(&port, A_FORM), datatype::slot_of(TYPE_PORT, A_FORM));
}

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

TEST_F(ActionsTest, CompareEntryMapsCodesAndRefusesOrderingAcrossTypes) {
    Cell* text = string::push_new(4);
    string::concatenate_literal(text, "3");
    Cell three = int_cell(3);
    for (int32_t op : {COMP_LESSER, COMP_LESSER_EQUAL, COMP_GREATER, COMP_GREATER_EQUAL}) {
        Cell error = test::error_of([&] { actions::compare_star(&three, text, op); });
        ASSERT_EQ(error::code_of(&error), err::invalid_compare) << op;
        EXPECT_EQ(get_integer(error::field(&error, error::FIELD_ARG1)), 3);
        EXPECT_EQ(type_of(error::field(&error, error::FIELD_ARG2)), TYPE_STRING);
    }
    struct Case {
        int32_t op;
        bool answer;
    } equality[] = {{COMP_EQUAL, false},
                    {COMP_NOT_EQUAL, true},
                    {COMP_STRICT_EQUAL, false},
                    {COMP_SAME, false},
                    {COMP_FIND, false}};
    for (const Case& c : equality)
        EXPECT_EQ(actions::compare_star(&three, text, c.op), c.answer) << c.op;

    // Each code against -1, 0 and 1.
    int32_t values[] = {2, 3, 4};
    bool expected[7][3] = {{false, true, false}, {true, false, true}, {false, true, false},
                           {false, false, true}, {false, true, true}, {true, false, false},
                           {true, true, false}};
    for (int32_t op = COMP_EQUAL; op <= COMP_GREATER_EQUAL; op++)
        for (int i = 0; i < 3; i++) {
            Cell right = int_cell(values[i]);
            EXPECT_EQ(actions::compare_star(&three, &right, op), expected[op][i])
                << "3 op " << op << " " << values[i];
        }
}

TEST_F(ActionsTest, DirectCompareOfLogic) {
    Cell f = false_value, t = true_value;
    EXPECT_EQ(actions::compare(&f, &t, COMP_EQUAL), -1);
    EXPECT_EQ(actions::compare(&t, &f, COMP_LESSER), 1);
    EXPECT_EQ(actions::compare(&t, &t, COMP_LESSER), 0);
}

// ---------------------------------------------------------------------------
// Fast paths
// ---------------------------------------------------------------------------

TEST_F(ActionsTest, MathFastPaths) {
    Cell word = test::word_cell("+");
    struct Case {
        int32_t op;
        Cell left, right;
        uint32_t type;
        double value;
    } cases[] = {
        {OP_ADD, int_cell(2147483647), int_cell(1), TYPE_FLOAT, 2147483648.0},
        {OP_SUB, int_cell(-2147483647 - 1), int_cell(1), TYPE_FLOAT, -2147483649.0},
        {OP_MUL, int_cell(65536), int_cell(65536), TYPE_FLOAT, 4294967296.0},
        {OP_MUL, int_cell(-46341), int_cell(46341), TYPE_FLOAT, -2147488281.0},
        {OP_ADD, int_cell(2), int_cell(3), TYPE_INTEGER, 5},
        {OP_AND, int_cell(3), int_cell(5), TYPE_INTEGER, 1},
        {OP_OR, int_cell(3), int_cell(5), TYPE_INTEGER, 7},
        {OP_XOR, int_cell(3), int_cell(5), TYPE_INTEGER, 6},
        {OP_AND, int_cell(-1), int_cell(0x7FFFFFFF), TYPE_INTEGER, 0x7FFFFFFF},
        {OP_ADD, float_cell(0.5), float_cell(0.25), TYPE_FLOAT, 0.75},
        {OP_MUL, float_cell(1e308), float_cell(10.0), TYPE_FLOAT, INFINITY},
        {OP_ADD, int_cell(3), float_cell(0.5), TYPE_FLOAT, 3.5},
        {OP_SUB, float_cell(0.5), int_cell(3), TYPE_FLOAT, -2.5},
        {OP_ADD, test::char_cell('a'), int_cell(1), TYPE_CHAR, 'b'},
        {OP_AND, true_value, false_value, TYPE_LOGIC, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "op " << c.op << " types " << type_of(&c.left) << " " << type_of(&c.right));
        Cell* top = stack::top;
        Cell* r = actions::math(c.op, &word, &c.left, &c.right);
        EXPECT_EQ(stack::top, top + 1);
        EXPECT_EQ(r, top);
        ASSERT_EQ(type_of(r), c.type);
        double got = c.type == TYPE_FLOAT || c.type == TYPE_PERCENT ? get_float(r)
                     : c.type == TYPE_LOGIC                         ? r->data1
                                                                    : get_integer(r);
        EXPECT_EQ(got, c.value);

        // The stack-top form replaces its left operand.
        stack::pop(1);
        stack::push(&c.left);
        Cell* rt = actions::math_top(c.op, &word, &c.right);
        EXPECT_EQ(stack::top, top + 1);
        EXPECT_EQ(rt, top);
        EXPECT_EQ(memcmp(rt, r, sizeof(Cell)), 0);
        stack::pop(1);

        if (type_of(&c.right) != TYPE_INTEGER) continue;
        Cell* ri = actions::math_int(c.op, &word, &c.left, get_integer(&c.right));
        EXPECT_EQ(memcmp(ri, r, sizeof(Cell)), 0);
        stack::pop(1);
        stack::push(&c.left);
        Cell* rti = actions::math_top_int(c.op, &word, get_integer(&c.right));
        EXPECT_EQ(memcmp(rti, r, sizeof(Cell)), 0);
        EXPECT_EQ(stack::top, top + 1);
        stack::pop(1);
    }
}

TEST_F(ActionsTest, SlowPathErrorsNameTheOperatorWord) {
    Cell word = test::word_cell("+");
    Cell one = int_cell(1), none = none_value;
    Cell* top = stack::top;
    Cell error = test::error_of([&] { actions::math(OP_ADD, &word, &one, &none); });
    ASSERT_EQ(error::code_of(&error), err::invalid_type);
    EXPECT_EQ(error::field(&error, error::FIELD_WHERE)->data2, word.data2);
    EXPECT_EQ(stack::top, top);
}

TEST_F(ActionsTest, CompareFastPaths) {
    Cell word = test::word_cell("<");
    Cell* text = string::push_new(4);
    struct Case {
        Cell left, right;
        bool answers[7]; // codes 0 to 6
    } cases[] = {
        {int_cell(3), int_cell(3), {true, false, true, false, true, false, true}},
        {int_cell(-5), int_cell(3), {false, true, false, true, true, false, false}},
        {int_cell(INT32_MAX), int_cell(INT32_MIN), {false, true, false, false, false, true, true}},
        {int_cell(3), float_cell(3.0), {true, false, false, false, true, false, true}},
        {float_cell(2.5), int_cell(3), {false, true, false, true, true, false, false}},
        {test::char_cell('a'), int_cell(97), {true, false, false, false, true, false, true}},
    };
    for (const Case& c : cases) {
        for (int32_t op = COMP_EQUAL; op <= COMP_GREATER_EQUAL; op++) {
            SCOPED_TRACE(testing::Message() << "op " << op << " types " << type_of(&c.left) << " "
                                            << type_of(&c.right));
            bool expected = c.answers[op];
            Cell* top = stack::top;
            Cell* r = actions::compare_values(op, &word, &c.left, &c.right);
            EXPECT_EQ(stack::top, top + 1);
            ASSERT_EQ(type_of(r), TYPE_LOGIC);
            EXPECT_EQ(r->data1 != 0, expected);
            stack::pop(1);

            stack::push(&c.left);
            Cell* rt = actions::compare_top(op, &word, &c.right);
            EXPECT_EQ(rt, top);
            EXPECT_EQ(stack::top, top + 1);
            EXPECT_EQ(rt->data1 != 0, expected);
            stack::pop(1);

            EXPECT_EQ(actions::compare_q(op, &word, &c.left, &c.right, false), expected);
            EXPECT_EQ(actions::compare_q(op, &word, &c.left, &c.right, true), !expected);
            EXPECT_EQ(stack::top, top);

            Cell caller = test::word_cell("caller");
            stack::mark_native(&caller);
            stack::push_cell();
            EXPECT_EQ(actions::compare_last_q(op, &word, &c.left, &c.right), expected);
            EXPECT_EQ(type_of(stack::arguments), TYPE_LOGIC);
            EXPECT_EQ(stack::arguments->data1 != 0, expected);
            test::end_call();
            EXPECT_EQ(stack::top, top);

            if (type_of(&c.right) != TYPE_INTEGER) continue;
            int32_t i = get_integer(&c.right);
            Cell* ri = actions::compare_int(op, &word, &c.left, i);
            EXPECT_EQ(ri->data1 != 0, expected);
            stack::pop(1);
            stack::push(&c.left);
            EXPECT_EQ(actions::compare_top_int(op, &word, i)->data1 != 0, expected);
            stack::pop(1);
            EXPECT_EQ(actions::compare_int_q(op, &word, &c.left, i, false), expected);
            EXPECT_EQ(actions::compare_int_q(op, &word, &c.left, i, true), !expected);
            stack::mark_native(&caller);
            stack::push_cell();
            EXPECT_EQ(actions::compare_last_int_q(op, &word, &c.left, i), expected);
            EXPECT_EQ(stack::arguments->data1 != 0, expected);
            test::end_call();
            EXPECT_EQ(stack::top, top);
        }
    }
    // Equality across types that cannot be compared is an answer; ordering
    // them is an error raised in the operator's frame.
    Cell three = int_cell(3);
    EXPECT_FALSE(actions::compare_q(COMP_EQUAL, &word, &three, text, false));
    EXPECT_TRUE(actions::compare_q(COMP_NOT_EQUAL, &word, &three, text, false));
    Cell error =
        test::error_of([&] { actions::compare_q(COMP_LESSER, &word, &three, text, false); });
    ASSERT_EQ(error::code_of(&error), err::invalid_compare);
    EXPECT_EQ(error::field(&error, error::FIELD_WHERE)->data2, word.data2);
}

TEST_F(ActionsTest, CompareArgsWritesTheResultSlot) {
    Cell word = test::word_cell("=");
    stack::mark_native(&word);
    Cell a = float_cell(0.1 + 0.2), b = float_cell(0.3);
    stack::push(&a);
    stack::push(&b);
    Cell* r = actions::compare_args(COMP_EQUAL);
    EXPECT_EQ(r, stack::arguments);
    EXPECT_EQ(type_of(r), TYPE_LOGIC);
    EXPECT_EQ(r->data1, 1u);
    test::end_call();
}

// Operator codes that no caller may pass end the program with runtime
// error 101.
void boxes_to_stderr() { platform::set_env(u"MOX_ERROR_BOX", u"stderr"); }

TEST(ActionsDeathTest, InvalidOperatorCodesEndTheProgram) {
    test::boot_scalars();
    Cell one = int_cell(1);
    const char* box = "Runtime Error 101";
#ifdef _WIN32
    const int status = 101;
#else
    const int status = 101 & 0xFF;
#endif
    EXPECT_EXIT((boxes_to_stderr(), actions::math(OP_DIV, nullptr, &one, &one)),
                testing::ExitedWithCode(status), box);
    EXPECT_EXIT((boxes_to_stderr(), actions::math_int(8, nullptr, &one, 1)),
                testing::ExitedWithCode(status), box);
    EXPECT_EXIT((boxes_to_stderr(), actions::compare_values(COMP_SORT, nullptr, &one, &one)),
                testing::ExitedWithCode(status), box);
    EXPECT_EXIT((boxes_to_stderr(), actions::compare_int_q(-1, nullptr, &one, 1, false)),
                testing::ExitedWithCode(status), box);
    EXPECT_EXIT((boxes_to_stderr(), actions::compare_star(&one, &one, 13)),
                testing::ExitedWithCode(status), box);
}

} // namespace
} // namespace mox
