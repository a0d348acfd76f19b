// error! values (see error.h). An error cell: data1 the node of its fields,
// data2 the class ID 1, data3 0.
#include "datatypes/error.h"

#include <cstdio>

#include "core/collector.h"
#include "core/memory.h"
#include "core/startup.h"
#include "evaluator/stack.h"
#include "platform/platform.h"

namespace mox::error {

namespace {

const char* const kTitles[] = {"Throw Error",     "note",           "Syntax Error",
                               "Script Error",    "Math Error",     "Access Error",
                               "Reserved1 Error", "Reserved2 Error", "User Error",
                               "Internal Error"};

}  // namespace

Cell* create(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell args[3];
    const Cell* given[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) {
        if (given[i]) args[i] = *given[i];
        else make_none(&args[i]);
    }
    collector::Root r0(&args[0]), r1(&args[1]), r2(&args[2]);
    node_t fields = memory::alloc_cells(FIELD_COUNT);
    memory::SeriesBuffer* b = memory::buffer_of(fields);
    Cell* f = b->cells();
    for (int i = 0; i < FIELD_COUNT; i++) make_none(&f[i]);
    make_integer(&f[FIELD_CODE], code);
    for (int i = 0; i < 3; i++) f[FIELD_ARG1 + i] = args[i];
    b->tail = b->head + FIELD_COUNT * sizeof(Cell);
    Cell* e = stack::push_cell();
    *e = Cell{TYPE_ERROR, fields, 1, 0};
    return e;
}

Cell* field(const Cell* error, int32_t index) {
    return memory::buffer_of(error->data1)->cells() + index;
}

int32_t code_of(const Cell* error) { return get_integer(field(error, FIELD_CODE)); }

void set_where(Cell* error, const Cell* word) {
    Cell* where = field(error, FIELD_WHERE);
    if (type_of(where) == TYPE_NONE) *where = *word;
}

void report_uncaught(Cell* error) {
    int32_t code = code_of(error);
    int32_t category = code / 100;
    char text[128];
    std::snprintf(text, sizeof text, "*** %s: error %d",
                  category >= 0 && category <= 9 ? kTitles[category] : "Internal Error", code);
    char16_t wide[128];
    size_t i = 0;
    for (; text[i]; i++) wide[i] = static_cast<unsigned char>(text[i]);
    wide[i] = 0;
    platform::show_error_box(u"Mox NoName App", wide);
    sys_quit_status(-2);
}

}  // namespace mox::error
