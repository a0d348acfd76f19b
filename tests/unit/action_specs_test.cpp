// The argument specs of the actions against the datatype registry: an
// action whose spec refuses a type that implements it hides that
// implementation, since the spec check runs before the dispatch.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

class ActionSpecsTest : public RuntimeTest {};

// Every action word of the library with its action and the typeset of its
// first argument, as [word action typeset ...]; actions that other tests
// make, whose specs give no types, are left out.
const char* const kActionArgs = R"(
    collect [
        foreach w words-of system/words [
            if all [
                action? get/any w
                parse spec-of get w [opt string! word! set types block! to end]
            ][
                keep w
                keep get w
                keep make typeset! types
            ]
        ]
    ]
)";

TEST_F(ActionSpecsTest, FirstArgumentAcceptsEveryTypeThatImplementsTheAction) {
    std::string refused;
    int code = run_catching([&] {
        const std::string text = kActionArgs;
        Cell* source = make_none(stack::push_cell());
        lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                         static_cast<int32_t>(text.size()), source);
        Cell* table = stack::push_cell();
        interpreter::do_block(source, table);
        ASSERT_EQ(type_of(table), TYPE_BLOCK);
        const int32_t n = block::rs_length_q(table);
        ASSERT_GT(n, 150); // the actions, not a few of them
        for (int32_t i = 0; i < n; i += 3) {
            // Copies: molding allocates, and the table's cells may move.
            const Cell word = block::rs_head(table)[i];
            const Cell action = block::rs_head(table)[i + 1];
            const Cell types = block::rs_head(table)[i + 2];
            ASSERT_EQ(type_of(&action), TYPE_ACTION);
            ASSERT_EQ(type_of(&types), TYPE_TYPESET);
            for (uint32_t t = 1; t <= datatype::top_id; t++) {
                // series! is only the parent of the series types, and the
                // runtime's triples are never handed to an action.
                if (t == TYPE_SERIES || t == TYPE_TRIPLE) continue;
                if (!datatype::name_table[t].name || !datatype::slot_of(t, action.data1)) continue;
                if (typeset_has(&types, t)) continue;
                refused += mold(&word) + " " + datatype::name_table[t].name + "; ";
            }
        }
    });
    EXPECT_EQ(code, -1);
    EXPECT_EQ(refused, "");
}

} // namespace
} // namespace mox::test
