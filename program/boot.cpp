// Loading the boot image (see boot.h).
#include "program/boot.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/collector.h"
#include "core/console.h"
#include "core/datatype.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "io/moxbin.h"
#include "program/startup.h"

namespace mox::boot {

const char* image_file = nullptr;

namespace {

// `make` must exist before the boot code can make anything, itself
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

// Writes the text of a string-family value. May collect.
void write_text(const Cell* text) {
    memory::SeriesBuffer* b = string::buffer_of(text);
    console::write_units(b->head_ptr(), static_cast<size_t>(b->tail_ptr() - b->head_ptr()),
                         b->unit(), false);
}

[[noreturn]] void not_moxbin() {
    console::write_cstring("Error: Not a Moxbin file!\n");
    sys_quit_status(1);
}

// Evaluates one file's code under a try frame; name is its file! value.
// May collect.
void run(const Cell* name, const Cell* code) {
    Cell* base = stack::top;
    Cell* held_name = stack::push(name);
    Cell* held_code = stack::push(code);
    stack::protect(
        stack::Guard::errors,
        [&] {
            Cell result = {TYPE_UNSET, 0, 0, 0};
            collector::Root keep(&result);
            interpreter::do_block(held_code, &result);
        },
        [&](uint32_t exit) {
            if (exit == stack::EXIT_ERROR) error::write_report(stack::top - 1);
            console::write_cstring("*** boot file ");
            write_text(held_name);
            console::write_cstring(" failed\n");
            sys_quit(98, 0);
        });
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

// The image's bytes: the embedded ones, or those of the test hook's file.
std::vector<uint8_t> read_image_file(const char* path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path, "rb");
    if (!f) not_moxbin();
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

// Decodes the image into the block in list (a cell on the stack) and checks
// that it holds name and code pairs. May collect.
void decode_into(Cell* list) {
    std::vector<uint8_t> from_file;
    const uint8_t* data = image;
    int64_t size = image_size;
    if (image_file) {
        from_file = read_image_file(image_file);
        data = from_file.data();
        size = int64_t(from_file.size());
    }
    Cell* holder = stack::push_cell();
    block::make_at(holder, 1);
    stack::protect(
        stack::Guard::errors, [&] { moxbin::boot_load(data, holder, size); },
        [](uint32_t exit) {
            if (exit == stack::EXIT_ERROR) error::write_report(stack::top - 1);
            not_moxbin();
        });
    if (block::abs_length(holder) != 1) not_moxbin();
    *list = *block::ms_abs_at(holder, 0);
    if (type_of(list) != TYPE_BLOCK || block::abs_length(list) % 2) not_moxbin();
    for (uint32_t i = 0; i < block::abs_length(list); i += 2)
        if (type_of(block::ms_abs_at(list, i)) != TYPE_FILE ||
            type_of(block::ms_abs_at(list, i + 1)) != TYPE_BLOCK)
            not_moxbin();
}

} // namespace

void load() {
    bool rooting = boot_rooting;
    boot_rooting = false;
    loading = true;
    // Stress mode would mark the growing library at every allocation of its
    // own loading, which every test process repeats: the boot collects as
    // usual unless MOX_GC_STRESS_BOOT asks for stress here too.
    bool stress = collector::stress;
    const char* boot_stress = std::getenv("MOX_GC_STRESS_BOOT");
    if (!(boot_stress && *boot_stress && *boot_stress != '0')) collector::stress = false;
    define_datatype_words();
    define_make();
    Cell* base = stack::top;
    Cell* list = stack::push_cell();
    decode_into(list);
    stack::top = list + 1;
    for (uint32_t i = 0; i < block::abs_length(list); i += 2) {
        Cell* name = stack::push(block::ms_abs_at(list, i));
        Cell* code = stack::push(block::ms_abs_at(list, i + 1));
        run(name, code);
        stack::top = list + 1;
    }
    stack::top = base;
    collector::stress = stress;
    loading = false;
    boot_rooting = rooting;
}

} // namespace mox::boot
