// The console's line input when no window is attached: the prompt goes to
// standard output, the line comes from standard input and is echoed, so a
// transcript of a session reads like the screen would. mox-run --console
// drives the console engine through it; the GUI console brings its own ask.
#include "console/console-io.h"

#include <cstdio>
#include <string>

#include "core/console.h"
#include "core/stack.h"
#include "core/value.h"
#include "datatypes/string.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"

namespace mox::console_io {

namespace {

// Reads one line without its line end; false at the end of the input with
// nothing read.
bool read_line(std::string* line) {
    line->clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n') break;
        line->push_back(static_cast<char>(c));
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
}

// console-read-line: shows the prompt and gives the line typed, or none at
// the end of the input. Trace events wait meanwhile, as they do while a
// window waits for its user. May collect.
void read_line_body() {
    Cell* prompt = stack::arguments;
    memory::SeriesBuffer* b = string::buffer_of(prompt);
    const uint32_t unit = b->unit();
    uint8_t* head = b->head_ptr() + prompt->data1 * unit;
    console::write_units(head, static_cast<size_t>(b->tail_ptr() - head), unit, false);
    std::fflush(stdout);
    const uint32_t saved = trace::active;
    trace::active &= trace::GENERAL;
    std::string line;
    const bool got = read_line(&line);
    trace::active = saved;
    if (!got) {
        console::write_cstring("\n");
        make_none(stack::arguments);
        return;
    }
    console::write_cstring((line + "\n").c_str());
    Cell* text = string::push_new(static_cast<uint32_t>(line.size()));
    string::append_utf8(text, line.data(), line.size());
    *stack::arguments = *text;
}

} // namespace

void register_routines() { routines::register_("console-read-line", &read_line_body); }

} // namespace mox::console_io
