// event!: colour words from tuples, made events across collections, and
// back-end events whose message is gone.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/collector.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/event.h"
#include "datatypes/tuple.h"
#include "objects_fixture.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

class EventTest : public test::RuntimeTest {};

// Expected words from Python: int.from_bytes(bytes(t) [+ b"\0"], "little").
TEST_F(EventTest, TupleToColorIsTheLittleEndianWord) {
    struct Row {
        uint8_t bytes[4];
        int32_t length;
        uint32_t color;
    };
    const Row rows[] = {
        {{255, 0, 0, 0}, 3, 255u},
        {{1, 2, 3, 4}, 4, 67305985u},
        {{70, 224, 152, 0}, 3, 10018886u},
        {{247, 249, 194, 112}, 4, 1891826167u},
        {{228, 168, 195, 106}, 4, 1791207652u},
        {{102, 28, 253, 0}, 3, 16587878u},
        {{231, 46, 174, 150}, 4, 2527997671u},
    };
    for (const Row& r : rows) {
        Cell t;
        tuple::make_cell(&t, r.bytes, r.length);
        EXPECT_EQ(tuple::to_color(&t), r.color) << r.length;
    }
    // The fourth byte of a longer tuple is the transparency; a 3-byte one
    // is opaque whatever follows it in the cell.
    const uint8_t five[5] = {1, 2, 3, 4, 5};
    Cell t;
    tuple::make_cell(&t, five, 5);
    EXPECT_EQ(tuple::to_color(&t), 67305985u);
    tuple::make_cell(&t, five, 3);
    EXPECT_EQ(tuple::to_color(&t), 197121u);
}

// The values block of a made event is a series like any other: it survives
// collections (which may move it) while the event is reachable.
TEST_F(EventTest, MadeEventKeepsItsFaceAcrossCollections) {
    EXPECT_MOX_OK(test::eval_text("ev-face: make object! [name: \"kept\"] ev-kept: make event! "
                                  "[type: 'down face: ev-face offset: 4x5] ev-face: none"));
    for (int i = 0; i < 3; i++) {
        collector::do_cycle();
        EXPECT_MOX_OK(test::eval_text("loop 50 [make block! 100 copy \"garbage\"]"));
    }
    Cell* out = nullptr;
    EXPECT_MOX_OK(out = test::eval_text("reduce [ev-kept/face/name ev-kept/offset ev-kept/type]"));
    EXPECT_EQ(test::molded(out), "[\"kept\" 4x5 down]");
    EXPECT_MOX_OK(test::eval_text("ev-kept: none"));
}

// An event of the back end whose message was never, or is no longer,
// dispatched reads none for every field the back end answers, and its own
// words for the rest.
TEST_F(EventTest, DeadMessageReadsNone) {
    Cell* ev = event::make_os_cell(stack::push_cell(), 13, 0xDEAD, event::SHIFT | 'x');
    for (int32_t f : {event::F_FACE, event::F_WINDOW, event::F_OFFSET, event::F_KEY,
                      event::F_PICKED, event::F_ORIENTATION}) {
        Cell* v = event::get_field(ev, f);
        EXPECT_EQ(type_of(v), TYPE_NONE) << f;
    }
    EXPECT_EQ(test::molded(event::get_field(ev, event::F_TYPE)), "key");
    EXPECT_EQ(test::molded(event::get_field(ev, event::F_SHIFT_Q)), "true");
    EXPECT_EQ(test::molded(event::get_field(ev, event::F_FLAGS)), "[shift]");
}

TEST_F(EventTest, WordsMatchWithoutCase) {
    EXPECT_EQ(event::field_index(symbol::make("ORIENTATION")), event::F_ORIENTATION);
    EXPECT_EQ(event::field_index(symbol::make("nothing")), -1);
    EXPECT_EQ(event::flag_mask(symbol::make("Control")), event::CONTROL);
    EXPECT_EQ(event::flag_mask(symbol::make("ctrl")), 0u);
    EXPECT_EQ(event::type_number(symbol::make("Restore")), 38);
    EXPECT_EQ(event::type_number(symbol::make("drag")), 0);
    EXPECT_EQ(event::type_number(symbol::make("down")), 1);
}

} // namespace
} // namespace mox
