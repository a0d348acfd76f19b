// Loading the boot source (see boot.h).
#include "core/boot.h"

#include "core/collector.h"
#include "core/console.h"
#include "core/datatype.h"
#include "core/startup.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"

namespace mox::boot {

bool loading = false;

namespace {

// `make` must exist before the boot source can make anything, itself
// included: a provisional action! with a two-argument spec stands in until
// the actions file defines it with its full spec. May collect.
void define_make() {
    Cell* base = stack::top;
    Cell* spec = stack::push_cell();
    static const char text[] = "type spec";
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(text), sizeof text - 1, spec);
    Cell* extra = stack::push_cell();
    block::make_at(extra, 2);
    make_none(block::alloc_tail(extra));
    make_none(block::alloc_tail(extra));
    Cell* action = stack::push_cell();
    *action = Cell{TYPE_ACTION, A_MAKE, spec->data2, extra->data2};
    Cell* word = stack::push(word::load("make"));
    word::set(word, action);
    stack::top = base;
}

// Evaluates one boot file under a try frame. May collect.
void run(const File& file) {
    Cell* base = stack::top;
    Cell* saved_args = stack::arguments;
    stack::Frame* saved_ctop = stack::ctop;
    Cell* code = stack::push_cell();
    stack::mark_try(nullptr);
    try {
        lexer::load_utf8(file.data, file.size, code);
        Cell result = {TYPE_UNSET, 0, 0, 0};
        collector::Root keep(&result);
        interpreter::do_block(code, &result);
    } catch (const stack::Unwind& u) {
        if (u.code == stack::EXIT_ERROR) {
            write_report(stack::top - 1);
        }
        console::write_cstring("*** boot file ");
        console::write_cstring(file.name);
        console::write_cstring(" failed\n");
        sys_quit(98, 0);
    }
    stack::ctop = saved_ctop;
    stack::arguments = saved_args;
    stack::top = base;
}

// The datatype name words take their datatype! values, except those that
// already hold something (series! names a typeset). May collect.
void define_datatype_words() {
    for (uint32_t t = 1; t <= datatype::top_id; t++) {
        if (!datatype::name_table[t].name) continue;
        Cell* word = stack::push(word::load(datatype::name_table[t].name));
        if (type_of(word::get_value(word)) == TYPE_UNSET) {
            Cell* value = make_datatype(stack::push_cell(), t);
            word::set(word, value);
        }
        stack::top = word;
    }
}

}  // namespace

void load() {
    bool rooting = boot_rooting;
    boot_rooting = false;
    loading = true;
    define_datatype_words();
    define_make();
    for (int i = 0; i < file_count; i++) run(files[i]);
    loading = false;
    boot_rooting = rooting;
}

void write_report(const Cell* error) {
    Cell* base = stack::top;
    Cell* e = stack::push(error);
    Cell* buffer = string::push_new(256);
    if (type_of(e) == TYPE_ERROR) error::form(e, buffer, nullptr, INT32_MAX);
    else string::concatenate_literal(buffer, "*** not an error value");
    memory::SeriesBuffer* b = string::buffer_of(buffer);
    console::write_units(b->head_ptr(), static_cast<size_t>(b->tail_ptr() - b->head_ptr()),
                         b->unit(), true);
    stack::top = base;
}

}  // namespace mox::boot
