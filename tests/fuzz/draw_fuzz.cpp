// libFuzzer target over the draw dialect: any block drawn through the null
// back end's recording renderer must end drawn, stopped or with a raised
// error value, without crashing, reading past a block or overflowing the
// native stack.
//
// Layout of a fuzz input: one flag byte, then the text of the draw block
// (skipped when it does not load). Flag bits: 0 paint it on a face (errors
// printed, not raised), 1 with system/view/silent? on, 2 make the block
// contain itself at its end. The words im, fnt, c1 and fc name an image, a
// font, a colour and a face, so that the commands taking them are reached.
// After each drawing the log must show the renderer closed and its states
// and patterns balanced.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "program/startup.h"
#include "view/gui.h"

namespace {

using namespace mox;

Cell* image = nullptr;
uint32_t face_name = 0;

// Runs fn under a try frame: a raised error ends it as an outcome like any
// other, and an exit it leaves pending is dropped.
template <typename Fn> void guarded(Fn fn) {
    stack::protect(stack::Guard::errors, fn, [](uint32_t) {});
    stack::pending = 0;
}

void run(const char* source) {
    Cell* code = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(source),
                     static_cast<int32_t>(std::char_traits<char>::length(source)), code);
    interpreter::do_block(code, code);
}

void start_runtime() {
    static bool done = false;
    if (done) return;
    done = true;
    mox::start();
    guarded([] {
        run("im: make image! 3x2 c1: 1.2.3 fnt: make font! [name: \"Serif\" size: 9] "
            "fc: make face! [type: 'base extra: 'fc text: \"t\"] "
            "show make face! [type: 'window size: 9x9 pane: reduce [fc]] im");
        image = root_append(stack::top - 1);
    });
    face_name = symbol::make("fc");
}

// Takes the null back end's log (emptying it) and checks what every drawing
// must leave there, however it ended: it closes with [end], and every state
// push and pattern begun is popped and ended.
void check_log() {
    Cell* saved = stack::arguments;
    stack::arguments = make_none(stack::push_cell());
    gui::null_gui_log_star();
    Cell* log = stack::arguments;
    const uint32_t push = symbol::make("push"), pop = symbol::make("pop"),
                   begin = symbol::make("pattern-begin"), end = symbol::make("pattern-end"),
                   close = symbol::make("end");
    int32_t depth = 0, patterns = 0;
    uint32_t last = close;
    for (int32_t i = 0; i < block::rs_length_q(log); i++) {
        const Cell* entry = block::rs_head(log) + i;
        if (type_of(entry) != TYPE_BLOCK || block::rs_length_q(entry) == 0) continue;
        last = block::rs_head(entry)->data2;
        depth += last == push ? 1 : last == pop ? -1 : 0;
        patterns += last == begin ? 1 : last == end ? -1 : 0;
        if (depth < 0 || patterns < 0) __builtin_trap();
    }
    if (depth != 0 || patterns != 0 || last != close) __builtin_trap();
    stack::top = stack::arguments;
    stack::arguments = saved;
}

void set_silent(bool on) {
    Cell* system = word::get_value(word::load("system"));
    if (type_of(system) != TYPE_OBJECT) return;
    Cell* view = object::find_value(system->data1, symbol::make("view"));
    if (type_of(view) != TYPE_OBJECT) return;
    int32_t i = object::find_field(view->data1, symbol::make("silent?"));
    if (i >= 0) make_logic(object::get_values(view->data1) + i, on);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_runtime();
    if (size < 1 || !image) return 0;
    uint8_t flags = data[0];
    // An exact-size copy, so that a read past it is caught.
    std::vector<uint8_t> text(data + 1, data + size);
    set_silent(flags & 2);
    guarded([&] {
        Cell* cmds = make_none(stack::push_cell());
        lexer::load_utf8(text.data(), static_cast<int32_t>(text.size()), cmds);
        if (type_of(cmds) != TYPE_BLOCK) return;
        if (flags & 4) block::ms_append(cmds, cmds);
        if (flags & 1)
            gui::record_draw_face(face_name, cmds);
        else
            gui::record_draw_image(image, cmds);
    });
    set_silent(false);
    check_log();
    return 0;
}
