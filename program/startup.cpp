// Start-up and the exit path (see startup.h).
#include "program/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console-io.h"
#include "console/gui-console-hooks.h"
#include "core/actions-entry.h"
#include "core/collector.h"
#include "core/console.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/dyn-print.h"
#include "core/externals.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/sys-alloc.h"
#include "core/unicode.h"
#include "core/value-pool.h"
#include "core/words.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/port.h"
#include "datatypes/ref.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "evaluator/checksum.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives-compare.h"
#include "evaluator/natives-control.h"
#include "evaluator/natives-eval.h"
#include "evaluator/natives-math.h"
#include "evaluator/natives-series.h"
#include "evaluator/natives-system.h"
#include "evaluator/parse.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"
#include "io/csv.h"
#include "io/deflate.h"
#include "io/json.h"
#include "io/os-natives.h"
#include "io/simple-io.h"
#include "io/system-routines.h"
#include "io/system-state.h"
#include "library/help-what-body.h"
#include "library/math-time-bodies.h"
#include "library/reactivity-body.h"
#include "library/series-bodies.h"
#include "library/trace-body.h"
#include "library/url-parse-body.h"
#include "platform/platform.h"
#include "program/boot.h"
#include "view/backend.h"
#include "view/gui.h"

namespace mox {

namespace {

// The fault handler of the platform layer: every hardware fault takes the
// exit path; a Ctrl+C (code 0) ends quietly.
void on_fault(int code, uintptr_t address) { sys_quit(code, address); }

// Makes a block whose buffer never moves, with a cell in the root block
// holding it when the root block exists. May collect.
node_t make_fixed_block(uint32_t cells) {
    node_t node = memory::alloc_external_buffer(cells, sizeof(Cell), 0);
    if (type_of(&root) == TYPE_BLOCK) {
        Cell holder;
        make_series(&holder, TYPE_BLOCK, node);
        root_append(&holder);
    }
    return node;
}

} // namespace

void init_runtime() {
    boot_rooting = true;
    dyn_print::init();
    platform::init();
    console::init_output();
    random::init();
    memory::init();
    collector::init();
    cycles::init();
    externals::init();
    datatype::init_tables();

    // Datatype registrations, parents before children.
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    hash::init();
    string::init();
    binary::init();
    vector::init();
    integer::init();
    symbol::init();
    word::init(); // context!, word!, lit-word!, set-word!, get-word!, refinement!
    char_::init();
    native::init_native();
    native::init_action();
    native::init_op();
    path::init(); // path!, lit-path!, set-path!, get-path!
    function::init_function();
    function::init_routine();
    paren::init();
    issue::init();
    url::init();
    file::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    map::init();
    pair::init();
    percent::init();
    tuple::init();
    time::init();
    tag::init();
    email::init();
    handle::init();
    date::init();
    port::init();
    money::init();
    ref::init();
    point2D::init();
    point3D::init();
    image::init_wic();
    image::init();

    // The first node frame and series frame, then the root block, whose
    // buffer lives outside the frames and never moves.
    if (!memory::record.node_first) memory::new_node_frame(memory::NODE_FRAME_SLOTS);
    if (!memory::record.series_first) memory::new_series_frame();
    make_series(&root, TYPE_BLOCK, memory::alloc_external_buffer(ROOT_CELLS, sizeof(Cell), 0));

    // The evaluation stack's buffers: 20,000 cells and room for 12,000
    // frames, both fixed; then the symbol block and the global context.
    node_t cells = make_fixed_block(stack::CELL_CAPACITY);
    node_t frames = make_fixed_block(stack::FRAME_BUFFER_CELLS);
    symbol::make_table();
    context::make_global();
    unicode::init_case_tables();

    // The runtime's own words, and the datatypes' name words.
    words::init();
    datatype::make_words();
    typeset::make_words();
    checksum::init();
    deflate::init();

    stack::init(cells, frames);
    stack::init_symbols();
    lexer::init();
    value_pool::init();
    collector::init();

    // The natives table; each family of natives registers its bodies right
    // after it, before the boot source makes the native! values.
    natives::init();
    natives::register_control();
    natives::register_eval();
    natives::register_compare();
    natives::register_os();
    natives::register_math();
    natives::register_series();
    natives::register_system();
    natives::register_parse();
    routines::register_system();
    datatype::provide<A_MAKE>(TYPE_ROUTINE, &routines::make);
    exit_settle = &gui::settle_backend;
    gui::register_routines();
    gui::register_vid_bodies();
    system_state::register_routines();
    console_io::register_routines();
    gui_console::register_routines();
    json::register_json();
    csv::register_csv();
    series_bodies::register_bodies();
    interpreter::register_collect_body();
    trace::register_routines();
    math_time_bodies::register_bodies();
    trace_body::register_bodies();
    url_parse_body::register_bodies();
    reactivity_body::register_bodies();
    help_what_body::register_bodies();
    simple_io::init();
    image::register_natives();
    parse::init();
    ownership::init();
    actions_entry::init();
    interpreter::init();
    trace::init();

    // event! registers last of the datatypes, once the name words exist.
    event::init();
}

// system/build/date from the build system's time stamp (UTC digits
// YYYYMMDDhhmmss); it stays none in a build that gives none. May collect.
void set_build_date() {
#ifdef MOX_BUILD_TIME
    constexpr char stamp[] = MOX_BUILD_TIME;
    static_assert(sizeof stamp == 15, "MOX_BUILD_TIME is YYYYMMDDhhmmss");
    auto number = [&](int from, int count) {
        int value = 0;
        for (int i = from; i < from + count; i++) value = value * 10 + (stamp[i] - '0');
        return value;
    };
    const uint32_t path[] = {symbol::make("build"), symbol::make("date")};
    if (Cell* field = time::system_field(path, 2))
        date::make_cell_hms(field, number(0, 4), number(4, 2), number(6, 2), number(8, 2),
                            number(10, 2), number(12, 2), 0);
#endif
}

void init() {
    init_runtime();
    // Last: the boot image, which needs every table above.
    boot::load();
    routines::bind_native_bodies();
    set_build_date();
}

void start() {
    static bool started = false;
    if (started) return;
    started = true;
    init();
    collector::active_q = true;
    boot_rooting = false;
}

// The GUI console opens on the Windows build with its real back end; a
// native or null-GUI build opens it only when MOX_GUI_CONSOLE=1 asks (tests).
bool console_wanted() {
    const char* asked = std::getenv("MOX_GUI_CONSOLE");
    if (asked && std::strcmp(asked, "1") == 0) return true;
    return gui::backend().windows;
}

// Start-up's last step: the console takes the command line and runs until
// the program quits. The line is the system's own wide one, as typed: the
// narrow argv of a Windows program has lost what its code page cannot
// hold. May collect.
void launch_console() {
    static const char code[] =
        "func [line [string!]][system/script/args: line extract-boot-args gui-console-ctx/launch]";
    Cell* fn = stack::push_cell();
    Cell* source = stack::push_cell();
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(code), static_cast<int32_t>(sizeof code - 1),
                     source);
    interpreter::do_block(source, fn);
    const char16_t* line = platform::command_line();
    uint32_t count = 0;
    while (line && line[count]) count++;
    Cell* text = stack::push_cell();
    *text = Cell{TYPE_STRING, 0, unicode::load_utf16(line ? line : u"", count, nullptr, false), 0};
    Cell* out = stack::push_cell();
    interpreter::call_value(fn, text, 1, out);
}

int run(int, char**) {
    platform::reset_fpu();
    platform::record_stack_bounds();
    platform::install_fault_handler(&on_fault);
    platform::init_process();
    console::keep_attribute();
    gui::start_backend();
    try {
        start();
        if (console_wanted()) launch_console();
    } catch (const SystemThrow& t) {
        if (t.code == QUIT_QUIETLY) sys_quit(0, 0);
        sys_quit(95, 0);
    } catch (const stack::Unwind&) {
        sys_quit(95, 0);
    }
    sys_quit(0, 0);
}

} // namespace mox
