// error! values and the error report (see error.h).
#include "datatypes/error.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/console.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/evaluator-hooks.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "platform/platform.h"

namespace mox::error {

namespace {

constexpr int32_t CATEGORY_COUNT = 10;
constexpr int32_t PRINT_NATIVE = 23;

const char* const kCategoryNames[CATEGORY_COUNT] = {"throw", "note",    "syntax",    "script",
                                                    "math",  "access",  "reserved1", "reserved2",
                                                    "user",  "internal"};
const char* const kTitles[CATEGORY_COUNT] = {
    "Throw Error", "note",          "Syntax Error",    "Script Error",
    "Math Error",  "Access Error",  "Reserved1 Error", "Reserved2 Error",
    "User Error",  "Internal Error"};
const char* const kFieldNames[FIELD_COUNT] = {"code", "type", "id",    "arg1",  "arg2",
                                              "arg3", "near", "where", "stack", "files"};

// The ids of the built-in list: code and spelling (the C++ name with
// hyphens, without a keyword's trailing underscore).
struct Id {
    int32_t code;
    std::string spelling;
};
std::string spell(const char* name) {
    std::string s(name);
    if (!s.empty() && s.back() == '_') s.pop_back();
    std::replace(s.begin(), s.end(), '_', '-');
    return s;
}
const std::vector<Id>& builtin_ids() {
    static const std::vector<Id> ids = {
#define MOX_ERROR_ID_ENTRY(name, code) {code, spell(#name)},
        MOX_ERROR_CODES(MOX_ERROR_ID_ENTRY)
#undef MOX_ERROR_ID_ENTRY
    };
    return ids;
}

// Symbols looked up in the system object, made on first use (which may
// collect: system_object makes them before it fetches anything).
struct Symbols {
    uint32_t standard, catalog, errors, error, state, stack_trace, source_files;
};
const Symbols& syms() {
    static Symbols s{};
    if (!s.standard) {
        s.catalog = symbol::make("catalog");
        s.errors = symbol::make("errors");
        s.error = symbol::make("error");
        s.state = symbol::make("state");
        s.stack_trace = symbol::make("stack-trace");
        s.source_files = symbol::make("source-files");
        s.standard = symbol::make("standard");
    }
    return s;
}

// The built-in prototype, used until system/standard/error exists.
Cell builtin_proto = {TYPE_NONE, 0, 0, 0};
void mark_proto() { collector::mark_values(&builtin_proto, &builtin_proto + 1); }

inline bool object_q(const Cell* c) { return c && type_of(c) == TYPE_OBJECT; }

// A field of an object by symbol, or null.
Cell* field_of(const Cell* object, uint32_t symbol) {
    if (!object_q(object)) return nullptr;
    int32_t i = object::find_field(object->data1, symbol);
    return i < 0 ? nullptr : context::value_ptr(object->data1, i);
}

Cell* system_object() {
    if (!context::global || !words::system) return nullptr;
    syms();
    Cell* s = context::symbol_value(context::global, words::system);
    return object_q(s) ? s : nullptr;
}

// system/catalog/errors when it holds the ten categories, else null.
Cell* catalogue() {
    Cell* errors = field_of(field_of(system_object(), syms().catalog), syms().errors);
    if (!object_q(errors) || object::field_count(errors->data1) < CATEGORY_COUNT) return nullptr;
    return errors;
}

// The catalogue's category object c (checked), or null.
Cell* category_object(int32_t c) {
    Cell* cat = catalogue();
    if (!cat || c < 0 || c >= CATEGORY_COUNT) return nullptr;
    Cell* v = context::value_ptr(cat->data1, c);
    return object_q(v) ? v : nullptr;
}

// The number of the category a word names, or -1.
int32_t category_number(uint32_t symbol) {
    if (Cell* cat = catalogue()) {
        int32_t i = object::find_field(cat->data1, symbol);
        return i < CATEGORY_COUNT ? i : -1;
    }
    size_t length;
    const char* name = symbol::name_utf8(symbol, &length);
    for (int32_t c = 0; c < CATEGORY_COUNT; c++) {
        if (std::strlen(kCategoryNames[c]) == length &&
            std::equal(name, name + length, kCategoryNames[c],
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return c;
    }
    return -1;
}

// The id number within category c of a word, or -1.
int32_t id_number(int32_t c, uint32_t symbol) {
    if (catalogue()) {
        Cell* cat = category_object(c);
        if (!cat) return -1;
        int32_t i = object::find_field(cat->data1, symbol);
        return i < 2 ? -1 : i - 2;
    }
    size_t length;
    std::string name(symbol::name_utf8(symbol, &length));
    for (const Id& id : builtin_ids()) {
        if (id.code / 100 != c || id.spelling.size() != name.size()) continue;
        if (std::equal(name.begin(), name.end(), id.spelling.begin(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return id.code % 100;
    }
    return -1;
}

// Whether category c has an id number n.
bool id_exists(int32_t c, int32_t n) {
    if (catalogue()) {
        Cell* cat = category_object(c);
        return cat && n + 2 < object::field_count(cat->data1);
    }
    for (const Id& id : builtin_ids())
        if (id.code == c * 100 + n) return true;
    return false;
}

// The category's word and the id's word: bound to the catalogue when it
// exists, else global words. May collect.
void category_word(int32_t c, Cell* out) {
    if (Cell* cat = catalogue())
        *out = *object::get_word(cat->data1, c);
    else
        *out = *word::load(kCategoryNames[c]);
    out->header = TYPE_WORD;
}

void id_word(int32_t c, int32_t n, Cell* out) {
    if (Cell* cat = category_object(c)) {
        *out = *object::get_word(cat->data1, n + 2);
    } else {
        for (const Id& id : builtin_ids()) {
            if (id.code == c * 100 + n) {
                *out = *word::load(id.spelling.c_str());
                break;
            }
        }
    }
    out->header = TYPE_WORD;
}

// The prototype every new error copies. May collect.
Cell* prototype() {
    Cell* standard = field_of(field_of(system_object(), syms().standard), syms().error);
    if (object_q(standard) && object::field_count(standard->data1) >= FIELD_COUNT) return standard;
    if (type_of(&builtin_proto) != TYPE_OBJECT) {
        collector::register_callback(mark_proto);
        Cell* proto = object::make_at(stack::push_cell(), FIELD_COUNT);
        for (int32_t i = 0; i < FIELD_COUNT; i++) {
            Cell w = *word::load(kFieldNames[i]);
            Cell none;
            make_none(&none);
            context::add_value(proto->data1, &w, &none);
        }
        builtin_proto = *proto;
        stack::pop(1);
    }
    return &builtin_proto;
}

// Pushes a new error: a copy of the prototype with type error! and class 1.
Cell* push_new() {
    Cell* proto = stack::push(prototype());
    Cell* e = stack::push_cell();
    object::copy(proto, e, nullptr, false, nullptr);
    e->header = TYPE_ERROR;
    e->data2 = object::CLASS_ERROR;
    e->data3 = 0;
    *context::owner_of(e->data1) = *e;
    *proto = *e;
    stack::pop(1);
    return proto;
}

// Sets code, type and id from a category and an id number.
void set_code(Cell* error, int32_t c, int32_t n) {
    Cell w;
    make_integer(field(error, FIELD_CODE), c * 100 + n);
    category_word(c, &w);
    *field(error, FIELD_TYPE) = w;
    id_word(c, n, &w);
    *field(error, FIELD_ID) = w;
}

void make_from_code(Cell* error, const Cell* spec) {
    const int32_t code = get_integer(spec);
    const int32_t c = code / 100;
    const int32_t n = ((code % 100) + 100) % 100;
    make_integer(field(error, FIELD_CODE), code);
    if (code < 0 || c >= CATEGORY_COUNT || !id_exists(c, n)) fire(err::out_of_range, spec);
    set_code(error, c, n);
}

[[noreturn]] void fire_spec_field(const char* name) {
    Cell w = *word::load(name);
    fire(err::invalid_spec_field, &w);
}

void make_from_words(Cell* error, Cell* spec) {
    const uint32_t total = block::abs_length(spec);
    Cell type = *block::ms_abs_at(spec, spec->data1);
    int32_t c = category_number(type.data2);
    if (c < 0) fire_spec_field("type");
    if (spec->data1 + 1 >= total) fire_spec_field("id");
    Cell id = *block::ms_abs_at(spec, spec->data1 + 1);
    if (type_of(&id) != TYPE_WORD) fire(err::invalid_arg, &id);
    int32_t n = id_number(c, id.data2);
    if (n < 0) fire_spec_field("id");
    set_code(error, c, n);
}

void make_from_fields(Cell* error, Cell* spec) {
    context::bind(spec, error->data1, true);
    Cell* out = stack::push_cell();
    evaluator::do_block(spec, out);
    stack::pop(1);
    Cell* type = field(error, FIELD_TYPE);
    int32_t c = type_of(type) == TYPE_WORD ? category_number(type->data2) : -1;
    if (c < 0) fire_spec_field("type");
    Cell* id = field(error, FIELD_ID);
    int32_t n = type_of(id) == TYPE_WORD ? id_number(c, id->data2) : -1;
    if (n < 0) fire_spec_field("id");
    make_integer(field(error, FIELD_CODE), c * 100 + n);
}

// The value of system/state/stack-trace when it is an integer above 0.
int32_t stack_trace_depth() {
    Cell* v = field_of(field_of(system_object(), syms().state), syms().stack_trace);
    return v && type_of(v) == TYPE_INTEGER && get_integer(v) > 0 ? get_integer(v) : 0;
}

// Appends the value formed or molded (/only /flat), at most max characters.
void append_limited(Cell* buffer, Cell* value, bool mold, bool only, int32_t max) {
    Cell* saved = stack::top;
    Cell* v = stack::push(value);
    Cell* text = string::push_new(64);
    Cell limit;
    make_integer(&limit, max);
    if (mold)
        actions::mold(v, text, only, false, true, &limit, max, 0);
    else
        actions::form(v, text, &limit, max);
    string::concatenate(buffer, text, max);
    stack::top = saved;
}

void append_text(Cell* buffer, const char* text) {
    string::append_utf8(buffer, text, std::strlen(text));
}

// Points the error at internal invalid-error naming the offending word.
void make_invalid(Cell* error, const Cell* offending) {
    *field(error, FIELD_ARG1) = *offending;
    int32_t n = id_number(err::INTERNAL, words::global::invalid_error.data2);
    set_code(error, err::INTERNAL, n < 0 ? err::invalid_error % 100 : n);
}

// The report of an error without a catalogue: the id word and the
// arguments.
void append_builtin_message(Cell* buffer, Cell* error) {
    append_limited(buffer, field(error, FIELD_ID), false, false, 80);
    for (int32_t i = FIELD_ARG1; i <= FIELD_ARG3; i++) {
        if (type_of(field(error, i)) == TYPE_NONE) continue;
        string::append_char(buffer, ' ');
        append_limited(buffer, field(error, i), true, false, 80);
    }
}

// The title and message from the catalogue; false (nothing appended) when
// the catalogue cannot describe the error. A type or id it lacks makes the
// error an internal invalid-error naming that word.
bool append_catalogue_message(Cell* buffer, Cell* error, int32_t limit) {
    if (!catalogue()) return false;
    Cell type = *field(error, FIELD_TYPE);
    int32_t c = is_any_word(type_of(&type)) ? category_number(type.data2) : -1;
    if (c < 0 || !category_object(c)) {
        make_invalid(error, &type);
        c = err::INTERNAL;
    }
    Cell id = *field(error, FIELD_ID);
    int32_t n = is_any_word(type_of(&id)) && category_object(c) ? id_number(c, id.data2) : -1;
    if (n < 0) {
        make_invalid(error, &id);
        c = err::INTERNAL;
        n = id_number(c, get_id(error));
    }
    if (n < 0 || !category_object(c)) return false;
    Cell* saved = stack::top;
    Cell* category = stack::push(category_object(c));
    Cell* message = stack::push(context::value_ptr(category->data1, n + 2));
    if (type_of(message) == TYPE_WORD) {
        int32_t f = object::find_field(error->data1, message->data2);
        if (f >= 0) *message = *context::value_ptr(error->data1, f);
    }
    if (Cell* title = field_of(category, words::type))
        append_limited(buffer, title, false, false, 80);
    append_text(buffer, ": ");
    switch (type_of(message)) {
    case TYPE_STRING:
        string::concatenate(buffer, message);
        break;
    case TYPE_BLOCK:
        reduce_message(message, buffer, error, limit);
        break;
    default:
        append_limited(buffer, message, false, false, 80);
        break;
    }
    stack::top = saved;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Fields
// ---------------------------------------------------------------------------

Cell* create(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell args[3];
    const Cell* given[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) {
        if (given[i])
            args[i] = *given[i];
        else
            make_none(&args[i]);
    }
    collector::Root r0(&args[0]), r1(&args[1]), r2(&args[2]);
    // The new error is made under holds, which never collect: code that
    // raises again and again collects here.
    collector::safe_point();
    Cell* e = push_new();
    set_code(e, code / 100, code % 100);
    for (int i = 0; i < 3; i++) *field(e, FIELD_ARG1 + i) = args[i];
    return e;
}

Cell* field(const Cell* error, int32_t index) { return context::value_ptr(error->data1, index); }

int32_t code_of(const Cell* error) { return get_integer(field(error, FIELD_CODE)); }

uint32_t get_type(const Cell* error) {
    const Cell* t = field(error, FIELD_TYPE);
    return is_any_word(type_of(t)) ? t->data2 : 0;
}

uint32_t get_id(const Cell* error) {
    const Cell* t = field(error, FIELD_ID);
    return is_any_word(type_of(t)) ? t->data2 : 0;
}

void set_where(Cell* error, const Cell* word) {
    Cell* where = field(error, FIELD_WHERE);
    if (type_of(where) == TYPE_NONE) *where = *word;
}

void capture_stack(Cell* error) {
    if (type_of(error) != TYPE_ERROR || type_of(field(error, FIELD_STACK)) != TYPE_INTEGER) return;
    const int32_t depth = std::max(stack_trace_depth(), 1);
    const int32_t position = get_integer(field(error, FIELD_STACK));
    Cell* calls = block::make_at(stack::push_cell(), 20);
    stack::Frame* end = stack::frame_bottom + std::max(position, 0);
    stack::collect_frames(depth, calls->data2, end);
    *field(error, FIELD_STACK) = *calls;
    stack::pop(1);
    Cell* files = field_of(field_of(system_object(), syms().state), syms().source_files);
    if (files && type_of(files) == TYPE_BLOCK && block::rs_length_q(files) > 0) {
        Cell* source = stack::push(files);
        Cell* copy = stack::push_cell();
        actions::copy(source, copy, nullptr, false, nullptr);
        *field(error, FIELD_FILES) = *copy;
        stack::pop(2);
    }
}

void save_stack(Cell* error) {
    Cell* stack_field = field(error, FIELD_STACK);
    if (type_of(stack_field) != TYPE_BLOCK)
        make_integer(stack_field, static_cast<int32_t>(stack::ctop - stack::frame_bottom));
}

namespace {

// The code near the failure: the block being evaluated at the failing
// expression, unless the error already says where it comes from.
void fill_near(Cell* error) {
    Cell* near = field(error, FIELD_NEAR);
    const Cell* here = interpreter::position;
    if (type_of(near) == TYPE_NONE && here &&
        (type_of(here) == TYPE_BLOCK || type_of(here) == TYPE_PAREN))
        *near = *here;
}

// Called by the stack as it raises, before it unwinds.
void locate(Cell* error) {
    Cell where;
    stack::get_call(&where);
    set_where(error, &where);
    fill_near(error);
    save_stack(error);
    capture_stack(error);
}

} // namespace

// ---------------------------------------------------------------------------
// The report
// ---------------------------------------------------------------------------

int32_t form_calls(int level, stack::Frame* end, Cell* text, int32_t limit) {
    bool first = true;
    for (stack::Frame* f = stack::frame_bottom; f < end && f < stack::ctop; f++) {
        if (!stack::reported(f, level)) continue;
        Cell word = *context::resolve_word(0, f->symbol());
        if (!first) {
            string::concatenate_literal(text, " ");
            limit--;
        }
        first = false;
        limit = word::form(&word, text, nullptr, limit);
    }
    return limit;
}

int32_t reduce_message(Cell* message, Cell* buffer, Cell* error, int32_t limit) {
    const int32_t before = string::total_length(buffer);
    const bool syntax = category_number(get_type(error)) == err::SYNTAX;
    const uint32_t total = block::abs_length(message);
    for (uint32_t i = message->data1; i < total; i++) {
        Cell* saved = stack::top;
        Cell* item = stack::push(block::ms_abs_at(message, i));
        const uint32_t t = type_of(item);
        if (t == TYPE_STRING) {
            string::concatenate(buffer, item);
        } else if (t == TYPE_WORD || t == TYPE_GET_WORD) {
            int32_t f = object::find_field(error->data1, item->data2);
            if (f >= 0) {
                Cell* v = stack::push(context::value_ptr(error->data1, f));
                append_limited(buffer, v, !syntax, false, 80);
            }
        }
        if (i + 1 < total) string::append_char(buffer, ' ');
        stack::top = saved;
    }
    return limit - (string::total_length(buffer) - before);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    const int32_t before = string::total_length(buffer);
    Cell* saved = stack::top;
    Cell* error = stack::push(value);
    append_text(buffer, "*** ");
    if (!append_catalogue_message(buffer, error, limit)) {
        int32_t code = code_of(error);
        int32_t c = code >= 0 && code / 100 < CATEGORY_COUNT ? code / 100 : err::INTERNAL;
        append_text(buffer, kTitles[c]);
        append_text(buffer, ": ");
        append_builtin_message(buffer, error);
    }
    append_text(buffer, "\n*** Where: ");
    Cell* where = stack::push(field(error, FIELD_WHERE));
    if (type_of(where) == TYPE_WORD)
        append_limited(buffer, where, false, false, INT32_MAX);
    else if (type_of(where) == TYPE_STRING)
        string::concatenate(buffer, where);
    else
        append_text(buffer, "???");
    append_text(buffer, "\n*** Near : ");
    append_limited(buffer, field(error, FIELD_NEAR), true, true, 40);
    if (int32_t depth = stack_trace_depth()) {
        Cell* stack_field = stack::push(field(error, FIELD_STACK));
        if (type_of(stack_field) == TYPE_INTEGER) {
            append_text(buffer, "\n*** Stack: ");
            stack::Frame* end = stack::frame_bottom + std::max(get_integer(stack_field), 0);
            form_calls(depth, end, buffer, INT32_MAX);
        } else if (type_of(stack_field) == TYPE_BLOCK) {
            append_text(buffer, "\n*** Stack: ");
            append_limited(buffer, stack_field, false, false, INT32_MAX);
        }
    }
    if (type_of(field(error, FIELD_FILES)) == TYPE_BLOCK) {
        append_text(buffer, "\n*** Files: ");
        append_limited(buffer, field(error, FIELD_FILES), true, true, 40);
    }
    stack::top = saved;
    return limit - (string::total_length(buffer) - before);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (cycles::find(value->data1)) {
        string::concatenate_literal(buffer, "make error! [...]");
        return limit - 17;
    }
    return object::mold_framed(value, "make error! [", buffer, only, all, flat, part, limit,
                               indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_ERROR) return COMPARE_NOT_COMPARABLE;
    Cell a = *value1, b = *value2;
    set_type(&a, TYPE_OBJECT);
    set_type(&b, TYPE_OBJECT);
    return object::compare(&a, &b, op);
}

// ---------------------------------------------------------------------------
// make
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_INTEGER: {
        Cell* e = push_new();
        make_from_code(e, spec);
        return e;
    }
    case TYPE_BLOCK: {
        const Cell* first =
            block::rs_length_q(spec) > 0 ? block::ms_abs_at(spec, spec->data1) : nullptr;
        const uint32_t ft = first ? type_of(first) : uint32_t{TYPE_NONE_ID};
        if (ft != TYPE_WORD && ft != TYPE_SET_WORD) fire(err::invalid_error);
        Cell* e = push_new();
        if (ft == TYPE_WORD)
            make_from_words(e, spec);
        else
            make_from_fields(e, spec);
        return e;
    }
    case TYPE_STRING:
        return create(err::message, spec, nullptr, nullptr);
    default:
        fire_bad_make_arg(TYPE_ERROR, spec);
    }
}

// ---------------------------------------------------------------------------
// Reports
// ---------------------------------------------------------------------------

void report_uncaught(Cell* error) {
    std::u16string text;
    try {
        Cell* e = stack::push(error);
        Cell* buffer = string::push_new(256);
        form(e, buffer, nullptr, INT32_MAX);
        memory::SeriesBuffer* b = string::buffer_of(buffer);
        const uint32_t unit = b->unit();
        for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p += unit) {
            uint32_t cp = string::get_char(p, unit);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                text += static_cast<char16_t>(0xD800 + (cp >> 10));
                text += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            } else {
                text += static_cast<char16_t>(cp);
            }
        }
    } catch (const stack::Unwind&) {
        text = u"*** Internal Error: the error could not be formed";
    }
    platform::show_error_box(u"Mox NoName App", text.c_str());
    sys_quit_status(-2);
}

void report_error(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell* saved_top = stack::top;
    Cell* saved_args = stack::arguments;
    stack::Frame* saved_ctop = stack::ctop;
    try {
        stack::mark_native(&words::global::error);
        create(code, arg1, arg2, arg3);
        if (natives::Entry print = natives::lookup(PRINT_NATIVE)) print(nullptr);
    } catch (const stack::Unwind&) {
        // Nothing may unwind from here: the caller is an event handler.
    }
    stack::ctop = saved_ctop;
    stack::arguments = saved_args;
    stack::top = saved_top;
}

void init() {
    raising::hooks = {&create, &function::spec_argument_word, &locate,
                      [](Cell* error) { report_uncaught(error); }};
    datatype::register_type(TYPE_ERROR, TYPE_OBJECT, "error!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .inherit<A_REFLECT>()
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&object::eval_path)
                                .set<A_COMPARE>(&compare)
                                .inherit<A_COPY>()
                                .inherit<A_SELECT>());
}

void write_report(const Cell* error) {
    Cell* base = stack::top;
    Cell* e = stack::push(error);
    Cell* buffer = string::push_new(256);
    if (type_of(e) == TYPE_ERROR)
        form(e, buffer, nullptr, INT32_MAX);
    else
        string::concatenate_literal(buffer, "*** not an error value");
    memory::SeriesBuffer* b = string::buffer_of(buffer);
    console::write_units(b->head_ptr(), static_cast<size_t>(b->tail_ptr() - b->head_ptr()),
                         b->unit(), true);
    stack::top = base;
}

} // namespace mox::error
