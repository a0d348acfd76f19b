// The bodies of the system routines, the type and typeset predicates and
// the collector statistics (see system-routines.h). Each runs in its
// routine's frame: arguments from stack::arguments[0], the result into it.
#include "io/system-routines.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "core/actions-entry.h"
#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/natives-eval.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"
#include "io/clipboard.h"
#include "io/os-info.h"
#include "io/simple-io.h"
#include "platform/platform.h"

namespace mox::routines {

namespace {

Cell* args() { return stack::arguments; }

// The word the running routine was called by (for error arguments).
Cell call_word() {
    const stack::Frame* f = stack::ctop - 1;
    return *context::resolve_word(f->context, f->symbol());
}

[[noreturn]] void fire_expect(const Cell* value, const char* argument) {
    Cell call = call_word();
    Cell type;
    make_datatype(&type, type_of(value));
    Cell word = *word::load(argument);
    fire(err::expect_arg, &call, &type, &word);
}

// Bodies kept in the natives table (io/simple-io.cpp, the math natives)
// that some routines run as they are.
constexpr int32_t NATIVE_CREATE_DIR = natives::id_of("create-dir");
constexpr int32_t NATIVE_EXISTS = natives::id_of("exists?");
constexpr int32_t NATIVE_WRITE_STDOUT = natives::id_of("write-stdout");
constexpr int32_t NATIVE_READ_CLIPBOARD = natives::id_of("read-clipboard");
constexpr int32_t NATIVE_WRITE_CLIPBOARD = natives::id_of("write-clipboard");
constexpr int32_t NATIVE_SHIFT = natives::id_of("shift");

template <int32_t Id> void native_body() { natives::lookup(Id)(nullptr); }

// ---------------------------------------------------------------------------
// Quitting, quiet assignment, shifts
// ---------------------------------------------------------------------------

void quit_return() { sys_quit_status(get_integer(args())); }

// May collect (the word's context may be extended by set_in).
void set_quiet() {
    Cell* word = args();
    switch (type_of(word)) {
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
        break;
    default:
        fire_expect(word, "word");
    }
    Cell value = args()[1];
    context::set_in(word, &value, word->data1, false);
    *args() = value;
}

void set_slot_quiet() {
    Cell* series = args();
    switch (type_of(series)) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
        break;
    default:
        fire_expect(series, "series");
    }
    memory::SeriesBuffer* b = memory::buffer_of(series->data2);
    Cell* at = b->cells() + series->data1;
    Cell value = args()[1];
    if (at < b->cells_tail()) *at = value;
    *args() = value;
}

// The shift native's refinements, in its spec's order: /left, /logical.
template <int32_t Left, int32_t Logical> void shift() {
    const int32_t refs[2] = {Left, Logical};
    natives::lookup(NATIVE_SHIFT)(refs);
}

void last_lf_q() { make_logic(args(), natives::last_new_line); }

// ---------------------------------------------------------------------------
// Directories and the OS
// ---------------------------------------------------------------------------

// The current directory as a file! ending in a slash. May collect.
void get_current_dir() {
    int length = 0;
    char16_t* raw = platform::get_current_dir(&length);
    std::u16string dir = raw ? std::u16string(raw, static_cast<size_t>(length)) : std::u16string();
    std::free(raw);
    dir = clipboard::to_mox_file(dir);
    if (dir.empty() || dir.back() != u'/') dir += u'/';
    std::u32string points;
    for (size_t i = 0; i < dir.size(); i++) {
        char32_t u = dir[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < dir.size() && dir[i + 1] >= 0xDC00 &&
            dir[i + 1] < 0xE000) {
            u = 0x10000 + ((u - 0xD800) << 10) + (dir[i + 1] - 0xDC00);
            i++;
        }
        points += u;
    }
    Cell* file = string::push_new(static_cast<uint32_t>(points.size()));
    string::append_chars(file, reinterpret_cast<const uint32_t*>(points.data()), points.size());
    set_type(file, TYPE_FILE);
    *args() = *file;
}

// May collect.
void set_current_dir() {
    std::u16string path = file::to_OS_path(args());
    if (!platform::set_current_dir(path.c_str())) {
        Cell p = *args();
        fire(err::cannot_open, &p);
    }
    make_unset(args());
}

// May collect.
void os_info() { *args() = *os_info::get_OS_info(); }

// ---------------------------------------------------------------------------
// Colours and text
// ---------------------------------------------------------------------------

// A tuple of the N integer arguments, each taken modulo 256; a negative one
// (the first, in argument order) raises invalid-arg.
template <int32_t N> void as_tuple() {
    uint8_t bytes[N];
    for (int32_t i = 0; i < N; i++) {
        int32_t v = get_integer(&args()[i]);
        if (v < 0) {
            Cell bad = args()[i];
            fire(err::invalid_arg, &bad);
        }
        bytes[i] = static_cast<uint8_t>(v & 0xFF);
    }
    tuple::make_cell(args(), bytes, N);
}

// Characters of UTF-8 from start's position up to pos's. Positions of two
// different binaries cannot be measured against each other: invalid-arg.
void count_chars() {
    Cell* start = args();
    Cell* pos = start + 1;
    if (start->data2 != pos->data2) {
        Cell bad = *pos;
        fire(err::invalid_arg, &bad);
    }
    memory::SeriesBuffer* b = memory::buffer_of(start->data2);
    const uint8_t* head = b->head_ptr();
    const size_t size = static_cast<size_t>(b->tail_ptr() - head);
    const size_t from = start->data1 < size ? start->data1 : size;
    const size_t to = pos->data1 < size ? pos->data1 : size;
    make_integer(start,
                 from < to ? static_cast<int32_t>(unicode::count_utf8_chars(head + from, head + to))
                           : 0);
}

// ---------------------------------------------------------------------------
// The evaluation stack
//
// Indexes count cells from the stack's bottom, from 0; pick-stack counts
// from 1. A call's argument base is the index of its first argument cell
// (its result cell too). The stack a routine measures is the stack as it
// stood before the routine's own call.
//
//   stack-size?   the number of those cells;
//   pick-stack i  the i-th of them (from 1), none outside 0 < i < size;
//   frame-index?  the argument base of the innermost running function! call
//                 (routine calls, such as a pick-stack waiting for its
//                 argument, are passed over), 0 at top level: pick-stack
//                 frame-index? + 1 is that function's first argument;
//   collect-calls appends, for every named call from the newest down, its
//                 word and its argument base; internal frames (<body>,
//                 <anon>) are left out.
// ---------------------------------------------------------------------------

// Cells below the running routine's result slot.
int32_t cells_before_call() { return static_cast<int32_t>(stack::arguments - 1 - stack::bottom); }

// The argument base of frame f: the arguments saved by the frame above it,
// or the running ones for the top frame.
int32_t argument_base(const stack::Frame* f) {
    const Cell* base =
        f + 1 < stack::ctop ? arena::at<Cell>((f + 1)->saved_arguments) : stack::arguments;
    return static_cast<int32_t>(base - stack::bottom);
}

void stack_size_q() { make_integer(args(), cells_before_call()); }

void pick_stack() {
    int32_t i = get_integer(args());
    if (i > 0 && i < cells_before_call())
        *args() = stack::bottom[i - 1];
    else
        make_none(args());
}

void frame_index_q() {
    int32_t index = 0;
    for (const stack::Frame* f = stack::ctop - 2; f > stack::frame_bottom; f--) {
        if (f->type() == stack::FRAME_FUNCTION && f->function_context &&
            type_of(context::owner_of(f->function_context)) == TYPE_FUNCTION) {
            index = argument_base(f);
            break;
        }
    }
    make_integer(args(), index);
}

// May collect.
void collect_calls() {
    for (const stack::Frame* f = stack::ctop - 1; f > stack::frame_bottom; f--) {
        if (stack::is_internal(f)) continue;
        Cell word = *context::resolve_word(f->context, f->symbol());
        int32_t base = argument_base(f);
        // The frame pointer stays valid (frames never move); the block is
        // re-read from the argument cell after each allocation.
        *memory::alloc_tail(args()->data2) = word;
        make_integer(memory::alloc_tail(args()->data2), base);
    }
}

void tracing_q() {
    make_logic(args(), (trace::active & trace::DELIVER) != 0 || trace::session != 0);
}

// ---------------------------------------------------------------------------
// Collector statistics, system/words
// ---------------------------------------------------------------------------

void gc_active_q() { make_logic(args(), collector::active_q); }
void gc_series_cycles() { make_integer(args(), collector::stats.cycles); }
void gc_nodes_cycles() { make_integer(args(), collector::stats.nodes_cycles); }

// An object over the global context itself (class -1): its fields are the
// global words in the order they were made.
void system_words() { *args() = Cell{TYPE_OBJECT, context::global, static_cast<uint32_t>(-1), 0}; }

// ---------------------------------------------------------------------------
// Type and typeset predicates
// ---------------------------------------------------------------------------

template <uint32_t T> void type_q() { make_logic(args(), type_of(args()) == T); }

struct TypeQ {
    const char* name;
    Body body;
};

const TypeQ type_predicates[] = {
    {"bitset?", &type_q<TYPE_BITSET>},     {"binary?", &type_q<TYPE_BINARY>},
    {"block?", &type_q<TYPE_BLOCK>},       {"char?", &type_q<TYPE_CHAR>},
    {"email?", &type_q<TYPE_EMAIL>},       {"file?", &type_q<TYPE_FILE>},
    {"float?", &type_q<TYPE_FLOAT>},       {"get-path?", &type_q<TYPE_GET_PATH>},
    {"get-word?", &type_q<TYPE_GET_WORD>}, {"hash?", &type_q<TYPE_HASH>},
    {"integer?", &type_q<TYPE_INTEGER>},   {"issue?", &type_q<TYPE_ISSUE>},
    {"lit-path?", &type_q<TYPE_LIT_PATH>}, {"lit-word?", &type_q<TYPE_LIT_WORD>},
    {"logic?", &type_q<TYPE_LOGIC>},       {"map?", &type_q<TYPE_MAP>},
    {"none?", &type_q<TYPE_NONE>},         {"pair?", &type_q<TYPE_PAIR>},
    {"paren?", &type_q<TYPE_PAREN>},       {"path?", &type_q<TYPE_PATH>},
    {"percent?", &type_q<TYPE_PERCENT>},   {"refinement?", &type_q<TYPE_REFINEMENT>},
    {"set-path?", &type_q<TYPE_SET_PATH>}, {"set-word?", &type_q<TYPE_SET_WORD>},
    {"string?", &type_q<TYPE_STRING>},     {"tag?", &type_q<TYPE_TAG>},
    {"time?", &type_q<TYPE_TIME>},         {"typeset?", &type_q<TYPE_TYPESET>},
    {"tuple?", &type_q<TYPE_TUPLE>},       {"unset?", &type_q<TYPE_UNSET>},
    {"url?", &type_q<TYPE_URL>},           {"word?", &type_q<TYPE_WORD>},
    {"image?", &type_q<TYPE_IMAGE>},       {"date?", &type_q<TYPE_DATE>},
    {"money?", &type_q<TYPE_MONEY>},       {"ref?", &type_q<TYPE_REF>},
    {"point2D?", &type_q<TYPE_POINT2D>},   {"point3D?", &type_q<TYPE_POINT3D>},
    {"handle?", &type_q<TYPE_HANDLE>},     {"error?", &type_q<TYPE_ERROR>},
    {"action?", &type_q<TYPE_ACTION>},     {"native?", &type_q<TYPE_NATIVE>},
    {"datatype?", &type_q<TYPE_DATATYPE>}, {"function?", &type_q<TYPE_FUNCTION>},
    {"object?", &type_q<TYPE_OBJECT>},     {"op?", &type_q<TYPE_OP>},
    {"routine?", &type_q<TYPE_ROUTINE>},   {"vector?", &type_q<TYPE_VECTOR>},
};

// The typeset words the typeset predicates read, in the predicates' order.
constexpr int32_t TYPESET_PREDICATES = 14;
const char* const typeset_words[TYPESET_PREDICATES] = {
    "any-list!",   "any-block!", "any-function!", "any-object!", "any-path!",
    "any-string!", "any-word!",  "series!",       "number!",     "immediate!",
    "scalar!",     "all-word!",  "any-point!",    "planar!",
};
// Their slots in the global context, found at registration.
int32_t typeset_slots[TYPESET_PREDICATES];

// The word's current value decides; a word that no longer holds a typeset
// answers false for every value.
template <int32_t I> void typeset_q() {
    const Cell* set = context::value_ptr(context::global, typeset_slots[I]);
    make_logic(args(), type_of(set) == TYPE_TYPESET && typeset_has(set, type_of(args())));
}

// "any-list!" -> "any-list?"
std::string predicate_name(const char* typeset_word) {
    std::string name = typeset_word;
    name.back() = '?';
    return name;
}

// May collect (interning the typeset words).
template <int32_t... I> void register_typeset_predicates(std::integer_sequence<int32_t, I...>) {
    ((typeset_slots[I] = static_cast<int32_t>(word::load(typeset_words[I])->data3)), ...);
    (register_(predicate_name(typeset_words[I]).c_str(), &typeset_q<I>), ...);
}

// ---------------------------------------------------------------------------
// Image codecs: the encode and decode routines of system/codecs/png ... tiff
// ---------------------------------------------------------------------------

constexpr int32_t NATIVE_IMAGE_DECODE = 118;
constexpr int32_t NATIVE_IMAGE_ENCODE = 119;

// img where: the image encoder with the codec's format code (0 bmp, 1 png,
// 2 gif, 3 jpeg, 4 tiff) as its third argument; a where that is not a
// binary! gives a new binary.
template <int32_t Code> void image_encode() {
    make_integer(stack::push_cell(), Code);
    natives::lookup(NATIVE_IMAGE_ENCODE)(nullptr);
}

// data: encoded bytes (none when they are no image) or a picture file.
void image_decode() {
    uint32_t t = type_of(args());
    if (t != TYPE_BINARY && t != TYPE_FILE) fire_expect(args(), "data");
    natives::lookup(NATIVE_IMAGE_DECODE)(nullptr);
}

// ---------------------------------------------------------------------------
// Native bodies of the hottest small library functions (their Mox bodies
// in library/base.mox say the same)
// ---------------------------------------------------------------------------

// first ... fifth: pick s N, the index pushed as pick's second argument.
template <int32_t N> void nth_body() {
    make_integer(stack::push_cell(), N);
    actions_entry::lookup(A_PICK)(nullptr);
}

void last_body() {
    int32_t n = actions::length_q(args());
    make_integer(stack::push_cell(), n);
    actions_entry::lookup(A_PICK)(nullptr);
}

void empty_q_body() {
    Cell* data = args();
    make_logic(data, type_of(data) == TYPE_NONE || actions::length_q(data) == 0);
}

} // namespace

void register_system() {
    register_("quit-return", &quit_return);
    register_("set-quiet", &set_quiet);
    register_("set-slot-quiet", &set_slot_quiet);
    register_("shift-right", &shift<-1, -1>);
    register_("shift-left", &shift<0, -1>);
    register_("shift-logical", &shift<-1, 0>);
    register_("last-lf?", &last_lf_q);
    register_("get-current-dir", &get_current_dir);
    register_("set-current-dir", &set_current_dir);
    register_("create-dir", &native_body<NATIVE_CREATE_DIR>);
    register_("exists?", &native_body<NATIVE_EXISTS>);
    register_("os-info", &os_info);
    register_("as-color", &as_tuple<3>);
    register_("as-ipv4", &as_tuple<4>);
    register_("as-rgba", &as_tuple<4>);
    register_("count-chars", &count_chars);
    register_("stack-size?", &stack_size_q);
    register_("pick-stack", &pick_stack);
    register_("frame-index?", &frame_index_q);
    register_("collect-calls", &collect_calls);
    register_("tracing?", &tracing_q);
    register_("read-clipboard", &native_body<NATIVE_READ_CLIPBOARD>);
    register_("write-clipboard", &native_body<NATIVE_WRITE_CLIPBOARD>);
    register_("write-stdout", &native_body<NATIVE_WRITE_STDOUT>);
    register_("system-words", &system_words);
    register_("gc-active?", &gc_active_q);
    register_("gc-series-cycles", &gc_series_cycles);
    register_("gc-nodes-cycles", &gc_nodes_cycles);
    register_("image-encode-bmp", &image_encode<0>);
    register_("image-encode-png", &image_encode<1>);
    register_("image-encode-gif", &image_encode<2>);
    register_("image-encode-jpeg", &image_encode<3>);
    register_("image-encode-tiff", &image_encode<4>);
    register_("image-decode", &image_decode);
    for (const TypeQ& p : type_predicates) register_(p.name, p.body);
    register_typeset_predicates(std::make_integer_sequence<int32_t, TYPESET_PREDICATES>{});
    bind_native_body("first", &nth_body<1>);
    bind_native_body("second", &nth_body<2>);
    bind_native_body("third", &nth_body<3>);
    bind_native_body("fourth", &nth_body<4>);
    bind_native_body("fifth", &nth_body<5>);
    bind_native_body("last", &last_body);
    bind_native_body("empty?", &empty_q_body);
}

} // namespace mox::routines
