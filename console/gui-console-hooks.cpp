// The GUI console's output hooks. Every print and prin, and every text the
// runtime writes by itself, goes to the terminal's vprint while the console
// runs. The hooks suspend tracing for their duration, so that a traced
// program does not trace the console drawing its own output.
#include "console/gui-console-hooks.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/console.h"
#include "core/dyn-print.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/value.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"
#include "platform/platform.h"

#ifdef _WIN32
extern "C" __declspec(dllimport) unsigned int __stdcall GetCaretBlinkTime(void);
extern "C" __declspec(dllimport) int __stdcall SetConsoleTitleA(const char* title);
#endif

namespace mox::gui_console {

namespace {

Cell* vprint_fn = nullptr; // the terminal's vprint, kept as a root
Cell* buffer = nullptr;    // gui-console-buffer: the one string raw writes reuse

// What printing may take of each stack beyond the part kept back for
// raising the overflow itself: the terminal's deepest path (a new line that
// scrolls the view, the window shown by the first output, the events that
// showing it sends) with room to spare. Short of that, the overflow is
// raised here, in the caller of print, before the terminal changes anything.
constexpr ptrdiff_t kPrintFrames = 100;
constexpr ptrdiff_t kPrintCells = 1000;

bool room_to_print() {
    return stack::frame_limit - stack::FRAME_ROOM - stack::ctop > kPrintFrames &&
           stack::cell_limit - stack::CELL_ROOM - stack::top > kPrintCells;
}

// The print hook. May collect.
void print_gui(Cell* text, bool new_line) {
    if (!room_to_print()) fire(err::stack_overflow);
    const uint32_t saved = trace::active;
    trace::active &= trace::GENERAL;
    Cell* base = stack::top;
    try {
        Cell* args = stack::push(text);
        make_logic(stack::push_cell(), new_line);
        Cell* out = stack::push_cell();
        interpreter::call_value(vprint_fn, args, 2, out);
    } catch (...) {
        // The stacks are already where the exit's handler wants them (an
        // error waits on top for its try): only tracing is given back.
        trace::active = saved;
        throw;
    }
    trace::active = saved;
    stack::top = base;
}

// The write hook: the runtime writes from places that cannot take a
// non-local exit, so a failing vprint is dropped here. May collect.
void write_gui(const char* utf8, size_t length, int flag) {
    static bool busy = false; // a write made while vprint runs is not fed back to it
    if (!vprint_fn || type_of(vprint_fn) == TYPE_NONE || busy) return;
    if (!room_to_print()) return;
    if (type_of(buffer) == TYPE_STRING)
        string::ms_reset(buffer);
    else
        string::make_at(buffer, static_cast<uint32_t>(length), 1);
    string::append_utf8(buffer, utf8, length);
    busy = true;
    stack::protect(
        stack::Guard::errors, [&] { print_gui(buffer, flag != 0); }, [](uint32_t) {});
    busy = false;
}

// gui-console-add-print: fn. Installs the hooks once; later calls only
// replace the function they call. none takes the hooks away again, so that
// tests which launched the console leave the process's output as they
// found it. May collect.
void add_print_body() {
    Cell* fn = stack::arguments;
    if (type_of(fn) == TYPE_NONE) {
        if (vprint_fn && type_of(vprint_fn) != TYPE_NONE) dyn_print::remove(&print_gui, &write_gui);
        if (vprint_fn) make_none(vprint_fn);
    } else if (!vprint_fn) {
        vprint_fn = root_append(fn);
        Cell unset_cell;
        make_unset(&unset_cell);
        buffer = root_append(&unset_cell);
        dyn_print::add(&print_gui, &write_gui);
    } else {
        if (type_of(vprint_fn) == TYPE_NONE) dyn_print::add(&print_gui, &write_gui);
        *vprint_fn = *fn;
    }
    make_unset(stack::arguments);
}

// Milliseconds, -1 for a caret that does not blink. MOX_CARET_BLINK_TIME
// stands in for the system's answer where tests need a given rate.
void caret_blink_time_body() {
    int64_t ms = 530;
    // Read as set-env sets it: the C library's copy of the environment does
    // not see later changes on Windows.
    char16_t seam[24];
    int n = platform::get_env(u"MOX_CARET_BLINK_TIME", seam, 24);
    if (n > 0 && n < 24) {
        std::string digits;
        for (int i = 0; i < n; i++)
            digits.push_back(seam[i] < 128 ? static_cast<char>(seam[i]) : '?');
        ms = std::strtoll(digits.c_str(), nullptr, 10);
    } else {
#ifdef _WIN32
        ms = GetCaretBlinkTime();
#endif
    }
    if (ms == 0xFFFFFFFFLL) ms = -1;
    make_integer(stack::arguments, static_cast<int32_t>(ms));
}

// console-set-title: str. The title of the process's text console; a
// failure is reported and the program goes on.
void set_title_body() {
    Cell* str = stack::arguments;
    std::string bytes;
    const uint32_t unit = string::buffer_of(str)->unit();
    const int32_t n = string::ms_length_q(str);
    const uint8_t* p = string::ms_head(str);
    for (int32_t i = 0; i < n; i++) {
        uint32_t c = string::get_char(p + static_cast<size_t>(i) * unit, unit);
        if (c == 0) break;
        bytes.push_back(c < 256 ? static_cast<char>(c) : '?');
    }
    bool ok = true;
#ifdef _WIN32
    ok = SetConsoleTitleA(bytes.c_str()) != 0;
#endif
    // The message may reach the terminal's print hook, which evaluates:
    // the result is in place first.
    make_unset(stack::arguments);
    if (!ok) console::write_cstring("SetConsoleTitle failed!\n");
}

} // namespace

void register_routines() {
    routines::register_("gui-console-add-print", &add_print_body);
    routines::register_("caret-blink-time", &caret_blink_time_body);
    routines::register_("console-set-title", &set_title_body);
}

} // namespace mox::gui_console
