// The lexer's machine and structure: the token loop over the tables of
// lexer-tables.h, series markers, paths, braced strings, syntax errors,
// trace events and the entry points (see lexer.h).
#include "evaluator/lexer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer-internal.h"

namespace mox::lexer {

namespace {

// Calls the Mox callback with the event's five arguments; a true result
// goes on. May collect.
bool call_callback(Cell* callback, Cell* args) {
    Cell* result = stack::push_cell();
    make_none(result);
    interpreter::call_value(callback, args, 5, result, 0, args);
    bool go = logic::truthy(result);
    stack::top = result;
    return go;
}

} // namespace

InvokeCallback invoke_callback = &call_callback;
Cell* out_cells = nullptr;
uint32_t out_top = 0;

namespace {

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

// Flag bits each byte ORs into its token's flags.
uint32_t g_byte_flags[256];

constexpr uint32_t OUT_INITIAL = 1000;
constexpr uint32_t SCRATCH_SIZE = 100000;

uint32_t out_capacity = 0;
uint8_t* scratch = nullptr;
uint32_t scratch_used = 0;
Scan* scans = nullptr; // innermost active scan

void init_flags() {
    auto set = [](char c, uint32_t f) { g_byte_flags[static_cast<uint8_t>(c)] = f; };
    set('#', F_HASH);
    set('\'', F_QUOTE);
    set(':', F_COLON);
    set('e', F_EXP);
    set('E', F_EXP);
    set('<', F_LESS);
    set('>', F_GREATER);
    set('%', F_PERCENT);
    set(',', F_COMMA);
    set('.', F_POINT);
    set('+', F_SIGN);
    set('-', F_SIGN);
    set('^', F_CARET);
    g_byte_flags[0] = F_NUL;
    for (int b = 0xC2; b <= 0xEF; b++) g_byte_flags[b] = F_WIDE;
    for (int b = 0xF0; b <= 0xF7; b++) g_byte_flags[b] = F_ASTRAL;
    for (int b = 0x80; b <= 0xFF; b++) g_byte_flags[b] |= F_HIGH;
}

// Marks every active scan's output cells, callback and input.
void mark_buffers() {
    uint32_t top = out_top;
    for (uint32_t i = 0; i < top; i++) {
        Cell* c = &out_cells[i];
        if (type_of(c) != MARKER) collector::mark_values(c, c + 1);
    }
    for (Scan* s = scans; s; s = s->prev) {
        collector::mark_values(&s->callback, &s->callback + 1);
        collector::mark_values(&s->input, &s->input + 1);
    }
}

// ---------------------------------------------------------------------------
// Output cells
// ---------------------------------------------------------------------------

void grow_output() {
    uint32_t capacity = out_capacity * 2;
    auto* cells = static_cast<Cell*>(std::realloc(out_cells, capacity * sizeof(Cell)));
    if (!cells) fire(err::no_memory);
    out_cells = cells;
    out_capacity = capacity;
}

Cell* push_cell() {
    if (out_top == out_capacity) grow_output();
    Cell* c = &out_cells[out_top++];
    make_none(c);
    return c;
}

uint32_t marker_type(const Scan* s) {
    return s->marker ? out_cells[s->marker - 1].data2 & 0xFFFF : 0;
}

void push_marker(Scan* s, uint32_t type, const uint8_t* opener) {
    Cell* m = push_cell();
    m->header = MARKER | (s->new_line ? FLAG_NEW_LINE : 0);
    m->data1 = s->marker;
    m->data2 = type;
    m->data3 = static_cast<uint32_t>(opener - s->start);
    s->new_line = false;
    s->marker = out_top;
}

// Replaces the innermost marker and the cells above it by one value of the
// type. May collect.
void close_series(Scan* s, uint32_t type) {
    uint32_t at = s->marker - 1;
    uint32_t n = out_top - at - 1;
    uint32_t flags = out_cells[at].header & FLAG_NEW_LINE;
    s->marker = out_cells[at].data1;
    node_t node = memory::alloc_cells(n ? n : 1);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (n) std::memcpy(b->cells(), &out_cells[at + 1], n * sizeof(Cell));
    b->tail = b->head + n * static_cast<uint32_t>(sizeof(Cell));
    Cell* c = &out_cells[at];
    make_series(c, type, node);
    c->header |= flags;
    out_top = at + 1;
}

bool one_value_done(const Scan* s) {
    if (s->marker > s->base || s->brace_depth || s->next_state != S_START) return false;
    uint32_t n = out_top - s->base;
    return n == 1 || (n == 0 && (!s->load || s->prescan));
}

// ---------------------------------------------------------------------------
// Trace events
// ---------------------------------------------------------------------------

Cell* event_word(int32_t event) {
    const char* name = event == EVENT_PRESCAN ? "prescan"
                       : event == EVENT_SCAN  ? "scan"
                       : event == EVENT_LOAD  ? "load"
                       : event == EVENT_OPEN  ? "open"
                       : event == EVENT_CLOSE ? "close"
                                              : "error";
    return word::load(name);
}

// The byte position of an offset into the scanned input (characters for a
// string!, bytes for a binary!), at most the end.
const uint8_t* input_position(Scan* s, uint32_t offset) {
    if (type_of(&s->input) != TYPE_STRING)
        return offset < static_cast<uint32_t>(s->end - s->start) ? s->start + offset : s->end;
    const uint8_t* p = s->start;
    uint32_t n = 0;
    if (offset >= s->counted) {
        p = s->counted_to;
        n = s->counted;
    }
    while (n < offset && p < s->end) {
        uint32_t size = unicode::utf8_char_size(*p);
        p += size ? size : 1;
        n++;
    }
    return p < s->end ? p : s->end;
}

// Fires an event to the callback; answers whether to go on normally. The
// token is the loaded value for load, else a pair! of 1-based positions.
// May collect.
bool fire_event(Scan* s, int32_t event, int32_t type, const Cell* token) {
    if (!s->has_callback || !(s->mask & event)) return true;
    Cell* args = stack::push_cell();
    for (int i = 1; i < 5; i++) stack::push_cell();
    args[0] = *event_word(event);
    args[1] = s->input;
    uint32_t offset = static_cast<uint32_t>(s->tok_start - s->start);
    if (type_of(&s->input) == TYPE_STRING) {
        // Characters are counted on from the last event's position.
        if (s->tok_start < s->counted_to) {
            s->counted_to = s->start;
            s->counted = 0;
        }
        s->counted += unicode::count_utf8_chars(s->counted_to, s->tok_start);
        s->counted_to = s->tok_start;
        offset = s->counted;
    }
    args[1].data1 += offset;
    if (type > 0)
        make_datatype(&args[2], static_cast<uint32_t>(type));
    else if (type == 0)
        make_none(&args[2]);
    else
        args[2] = *word::load(type == ERR_BAD_CHAR    ? "bad-char"
                              : type == ERR_CONSTRUCT ? "malconstruct"
                                                      : "missing");
    make_integer(&args[3], s->tok_line);
    if (token) {
        args[4] = *token;
    } else {
        uint32_t b = static_cast<uint32_t>(s->tok_start - s->start) + 1;
        uint32_t e = static_cast<uint32_t>(s->tok_end - s->start) + 1;
        args[4] = Cell{TYPE_PAIR, 0, b, e};
    }
    const uint32_t given = args[1].data1;
    bool go = invoke_callback(&s->callback, args);
    s->moved_to = nullptr;
    if (type_of(&args[1]) == type_of(&s->input) && args[1].data2 == s->input.data2 &&
        args[1].data1 != given)
        s->moved_to = input_position(s, args[1].data1 - s->input.data1);
    stack::top = args;
    return go;
}

// ---------------------------------------------------------------------------
// Syntax errors
// ---------------------------------------------------------------------------

// The failing text from p: up to the line's end, at most 30 bytes, cut
// before a character that does not fit. Invalid bytes read as U+FFFD.
void error_text(Cell* out, const uint8_t* p, const uint8_t* end) {
    const uint8_t* e = p;
    while (e < end && e - p < 30 && *e != '\n') {
        uint32_t n = unicode::utf8_char_size(*e);
        if (n == 0) n = 1;
        if (e + n - p > 30 || e + n > end) break;
        e += n;
    }
    string::make_at(out, static_cast<uint32_t>(e - p) + 1, 4);
    for (const uint8_t* q = p; q < e;) {
        uint32_t avail = static_cast<uint32_t>(e - q);
        uint32_t n = unicode::utf8_char_size(*q);
        uint32_t cp = 0xFFFD;
        if (*q < 0x80) {
            cp = *q;
            n = 1;
        } else if (n && n <= avail) {
            const uint8_t* r = q;
            int32_t v = utf8_decode(&r, q + n);
            if (v >= 0)
                cp = static_cast<uint32_t>(v);
            else
                n = 1;
        } else {
            n = 1;
        }
        string::append_char(out, cp);
        q += n;
    }
}

} // namespace

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// Advances *p over the sequence; -1 for malformed bytes.
int32_t utf8_decode(const uint8_t** p, const uint8_t* end) {
    const uint8_t* q = *p;
    uint32_t b = *q;
    if (b < 0x80) {
        *p = q + 1;
        return static_cast<int32_t>(b);
    }
    uint32_t n, cp, min;
    if (b >= 0xC2 && b <= 0xDF)
        n = 1, cp = b & 0x1F, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF)
        n = 2, cp = b & 0x0F, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4)
        n = 3, cp = b & 0x07, min = 0x10000;
    else
        return -1;
    if (end - q < static_cast<ptrdiff_t>(n) + 1) return -1;
    for (uint32_t i = 1; i <= n; i++) {
        if ((q[i] & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (q[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    *p = q + n + 1;
    return static_cast<int32_t>(cp);
}

int64_t invalid_utf8_at(const uint8_t* p, const uint8_t* end) {
    const uint8_t* q = p;
    while (q < end) {
        if (*q < 0x80) {
            q++;
            continue;
        }
        const uint8_t* r = q;
        if (utf8_decode(&r, end) < 0) return q - p;
        q = r;
    }
    return -1;
}

bool delimiter_q(const uint8_t* p, const uint8_t* end) {
    if (p >= end) return true;
    switch (kClass[*p]) {
    case C_BLANK:
    case C_LINE_FEED:
    case C_BLOCK_OPEN:
    case C_BLOCK_CLOSE:
    case C_PAREN_OPEN:
    case C_PAREN_CLOSE:
    case C_BRACE_OPEN:
    case C_BRACE_CLOSE:
    case C_QUOTE:
    case C_SEMICOLON:
    case C_CONTROL:
    case C_END:
        return true;
    default:
        return false;
    }
}

Cell* push_value(Scan* s) { return push_cell(); }

namespace {

// Thrown instead of an error in the quiet modes; caught by scan_tokens.
struct QuietStop {};
// Thrown when a callback skips past a syntax error; the token loop starts
// again at the position the callback chose.
struct Resume {};

} // namespace

void fail(Scan* s, int32_t kind) {
    if (s->marker > s->base && is_any_path(marker_type(s)) && kind != TYPE_PATH && kind > 0)
        kind = ERR_BAD_CHAR;
    if (s->quiet) {
        s->result = kind < 0 ? kind : -kind;
        throw QuietStop{};
    }
    if (!fire_event(s, EVENT_ERROR, kind, nullptr)) {
        // A callback that declined the error and moved the input forward
        // has the scan go on from there; otherwise the scan ends.
        if (s->moved_to && s->moved_to > s->tok_start && s->moved_to < s->end) {
            s->pos = s->moved_to;
            s->next_state = S_START;
            s->brace_depth = 0;
            throw Resume{};
        }
        s->result = kind < 0 ? kind : -kind;
        throw QuietStop{};
    }
    const uint8_t* from = s->tok_start;
    char location[32];
    std::snprintf(location, sizeof location, "(line %d)", s->tok_line);
    Cell* args = stack::push_cell();
    stack::push_cell();
    stack::push_cell();
    string::make_at(&args[0], 16, 1);
    string::concatenate_literal(&args[0], location);
    if (kind == ERR_MISSING || kind == ERR_UNOPENED) {
        char expected;
        if (kind == ERR_UNOPENED) {
            expected = *s->tok_start == ']' ? '[' : '(';
        } else if (s->brace_depth) {
            expected = '}';
            from = s->brace_start;
        } else {
            uint32_t type = marker_type(s);
            expected = type == TYPE_BLOCK || type == TYPE_MAP ? ']' : ')';
            from = s->start + out_cells[s->marker - 1].data3;
        }
        make_char(&args[1], static_cast<uint8_t>(expected));
        error_text(&args[2], from, s->end);
        fire(err::missing, &args[0], &args[1], &args[2]);
    }
    error_text(&args[1], from, s->end);
    if (kind == ERR_BAD_CHAR) fire(err::bad_char, &args[0], &args[1]);
    if (kind == ERR_CONSTRUCT) fire(err::malconstruct, &args[0], &args[1]);
    args[2] = args[1];
    make_datatype(&args[1], static_cast<uint32_t>(kind));
    fire(err::invalid, &args[0], &args[1], &args[2]);
}

namespace {

// ---------------------------------------------------------------------------
// Structure
// ---------------------------------------------------------------------------

// The type a value token stands for in the scan modes.
uint32_t kind_type(uint32_t kind) { return kKindType[kind - K_END]; }

// Closes the innermost series into a value (nothing is built outside the
// load mode). May collect.
void close_to(Scan* s, uint32_t type) {
    if (s->load && !s->prescan) {
        close_series(s, type);
    } else {
        s->marker = out_cells[s->marker - 1].data1;
        out_top--;
        while (out_top > s->base && out_top > s->marker &&
               type_of(&out_cells[out_top - 1]) != MARKER)
            out_top--;
    }
    s->result = static_cast<int32_t>(type);
}

// After a path element: "/" goes on with the next element, ":" and a
// delimiter make a set-path, a delimiter closes the path.
void path_closer(Scan* s) {
    const uint8_t* p = s->pos;
    const uint8_t* end = s->end;
    if (p < end && *p == '/') {
        s->pos = p + 1;
        s->next_state = S_PATH;
        return;
    }
    uint32_t type = marker_type(s);
    if (p < end && *p == ':') {
        if (p + 1 < end && p[1] == '/') fail(s, TYPE_PATH);
        if (!delimiter_q(p + 1, end) || type != TYPE_PATH) fail(s, TYPE_PATH);
        type = TYPE_SET_PATH;
        s->pos = p + 1;
    } else if (!delimiter_q(p, end)) {
        fail(s, ERR_BAD_CHAR);
    }
    close_to(s, type);
}

// After a value is complete: a path in progress takes it as an element.
void value_done(Scan* s) {
    if (s->marker > s->base && is_any_path(marker_type(s)) && s->next_state == S_START)
        path_closer(s);
}

// Paths close by themselves before a closer or the end.
void close_open_paths(Scan* s) {
    while (s->marker > s->base && is_any_path(marker_type(s))) close_to(s, marker_type(s));
}

void close_block(Scan* s, bool bracket) {
    close_open_paths(s);
    uint32_t type = s->marker > s->base ? marker_type(s) : 0;
    bool match = bracket ? type == TYPE_BLOCK || type == TYPE_MAP
                         : type == TYPE_PAREN || type == TYPE_POINT2D;
    if (!match) fail(s, ERR_UNOPENED);
    if (!fire_event(s, EVENT_CLOSE, static_cast<int32_t>(type), nullptr)) return;
    if (type == TYPE_MAP) {
        close_map(s);
    } else if (type == TYPE_POINT2D) {
        close_point(s);
    } else {
        close_to(s, type);
    }
    value_done(s);
}

// Whether "(" starts a point literal: number characters and blanks up to a
// comma, with at least three bytes left.
bool point_literal_q(const uint8_t* p, const uint8_t* end) {
    if (end - p < 3) return false;
    bool digit = false;
    for (; p < end; p++) {
        uint8_t c = *p;
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == ',')
            return digit;
        else if (c != '.' && c != '+' && c != '-' && c != 'e' && c != 'E' && c != ' ' && c != '\t')
            return false;
    }
    return false;
}

// The construction syntax #(...): logic words, none, unset, datatype names.
void load_construct(Scan* s) {
    const uint8_t* p = s->tok_start + 2;
    const uint8_t* e = s->pos - 1;
    size_t n = static_cast<size_t>(e - p);
    char name[32];
    if (n == 0 || n + 2 > sizeof name) fail(s, ERR_CONSTRUCT); // room for "!" and NUL
    for (size_t i = 0; i < n; i++) {
        uint8_t c = p[i];
        name[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    name[n] = 0;
    Cell value;
    if (!std::strcmp(name, "true"))
        make_logic(&value, true);
    else if (!std::strcmp(name, "false"))
        make_logic(&value, false);
    else if (!std::strcmp(name, "none"))
        make_none(&value);
    else if (!std::strcmp(name, "unset"))
        make_unset(&value);
    else {
        if (name[n - 1] != '!') {
            name[n] = '!';
            name[n + 1] = 0;
        }
        int32_t type = datatype_by_name(name);
        if (type <= 0) fail(s, ERR_CONSTRUCT);
        make_datatype(&value, static_cast<uint32_t>(type));
    }
    s->result = static_cast<int32_t>(type_of(&value));
    if (!s->load || s->prescan) return;
    *push_value(s) = value;
}

// One structural token.
void structure(Scan* s, uint32_t start_state) {
    const uint8_t* tok = s->tok_start;
    switch (s->kind) {
    case K_END:
        if (s->pos < s->end) fail(s, ERR_BAD_CHAR); // a NUL byte inside the text
        if (s->brace_depth) fail(s, ERR_MISSING);
        close_open_paths(s);
        if (s->marker > s->base) fail(s, ERR_MISSING);
        s->stop = true;
        return;
    case K_ERROR:
        fail(s, s->brace_depth && s->pos >= s->end      ? ERR_MISSING
                : start_state == S_PATH || !s->tok_type ? ERR_BAD_CHAR
                                                        : static_cast<int32_t>(s->tok_type));
    case K_BLOCK_OPEN:
    case K_MAP_OPEN:
        if (fire_event(s, EVENT_OPEN, s->kind == K_MAP_OPEN ? TYPE_MAP : TYPE_BLOCK, nullptr))
            push_marker(s, s->kind == K_MAP_OPEN ? TYPE_MAP : TYPE_BLOCK, tok);
        return;
    case K_PAREN_OPEN:
        // A point literal is one token, but it is open until its ")" like
        // a paren: a callback that tracks open delimiters sees both ends.
        if (point_literal_q(s->pos, s->end)) {
            s->point_start = tok;
            s->next_state = S_POINT;
            fire_event(s, EVENT_OPEN, TYPE_POINT2D, nullptr);
            return;
        }
        if (fire_event(s, EVENT_OPEN, TYPE_PAREN, nullptr)) push_marker(s, TYPE_PAREN, tok);
        return;
    case K_BLOCK_CLOSE:
        close_block(s, true);
        return;
    case K_PAREN_CLOSE:
        close_block(s, false);
        return;
    case K_BRACE_OPEN:
        if (start_state != S_BRACE) {
            s->brace_start = tok;
            s->brace_line = s->tok_line;
            if (!fire_event(s, EVENT_OPEN, TYPE_STRING, nullptr)) return;
        }
        s->brace_depth++;
        s->next_state = S_BRACE;
        return;
    case K_BRACE_CLOSE:
        if (--s->brace_depth > 0) {
            s->next_state = S_BRACE;
            return;
        }
        s->tok_start = s->brace_start;
        s->tok_line = s->brace_line;
        if (!fire_event(s, EVENT_CLOSE, TYPE_STRING, nullptr)) return;
        s->kind = K_STRING;
        s->tok_type = TYPE_STRING;
        return; // loaded as a value by the caller
    case K_PATH_HEAD: {
        uint32_t type = *tok == '\'' ? TYPE_LIT_PATH : *tok == ':' ? TYPE_GET_PATH : TYPE_PATH;
        if (!fire_event(s, EVENT_OPEN, static_cast<int32_t>(type), nullptr)) return;
        push_marker(s, type, tok);
        if (type != TYPE_PATH) s->tok_start++;
        s->kind = K_WORD;
        if (s->load && !s->prescan) load_token(s);
        s->pos++;
        s->next_state = S_PATH;
        return;
    }
    case K_CONSTRUCT:
        load_construct(s);
        value_done(s);
        return;
    case K_COMMENT:
        return;
    case K_COMMA: {
        uint32_t type = s->marker > s->base ? marker_type(s) : 0;
        Cell* m = s->marker ? &out_cells[s->marker - 1] : nullptr;
        if (type == TYPE_PAREN) {
            m->data2 = TYPE_POINT2D | 1u << 16;
        } else if (type == TYPE_POINT2D && m->data2 >> 16 < 2) {
            m->data2 += 1u << 16;
        } else {
            fail(s, type == TYPE_POINT2D ? TYPE_POINT3D : TYPE_POINT2D);
        }
        return;
    }
    default:
        return;
    }
}

// Invalid UTF-8 in a token: invalid for the text kinds, else a bad
// character.
[[noreturn]] void bad_utf8(Scan* s) {
    switch (s->kind) {
    case K_STRING:
    case K_CHAR:
    case K_FILE:
    case K_TAG:
    case K_RAW_STRING:
    case K_BRACE_OPEN:
    case K_BRACE_CLOSE:
    case K_URL:
    case K_EMAIL:
    case K_REF:
        fail(s, static_cast<int32_t>(s->kind == K_BRACE_OPEN ? uint32_t{TYPE_STRING}
                                                             : kind_type(s->kind)));
    default:
        fail(s, ERR_BAD_CHAR);
    }
}

// The Unicode blanks that act as blanks around words.
bool unicode_blank_q(uint32_t cp) {
    switch (cp) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x180E:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return cp >= 0x2000 && cp <= 0x200B;
    }
}

// A word token that starts with Unicode blanks is scanned again after them;
// one that holds a blank ends before it. Returns true when the scan must
// restart from the new position.
bool unicode_blanks(Scan* s) {
    const uint8_t* p = s->tok_start;
    const uint8_t* e = s->tok_end;
    bool leading = true;
    while (p < e) {
        const uint8_t* q = p;
        int32_t cp = utf8_decode(&q, e);
        if (cp < 0) return false;
        if (unicode_blank_q(static_cast<uint32_t>(cp))) {
            if (!leading) {
                s->pos = s->tok_end = p;
                return false;
            }
            s->pos = q;
        } else if (leading) {
            if (p != s->tok_start) return true;
            leading = false;
        }
        p = q;
    }
    return leading; // only blanks: skipped
}

// The token loop.
void scan(Scan* s) {
    const uint8_t* end = s->end;
    while (!s->stop) {
        uint32_t start_state = s->next_state;
        uint32_t state = start_state;
        s->next_state = S_START;
        const uint8_t* p = s->pos;
        const uint8_t* tok = p;
        uint32_t flags = 0;
        int32_t line = s->line;
        int32_t tok_line = line;
        uint32_t next;
        for (;;) {
            uint32_t cls = p < end ? kClass[*p] : uint32_t{C_END};
            next = kNext[state][cls];
            if (next >= K_END) break;
            if (cls == C_LINE_FEED) line++;
            if (next == S_START) { // blanks before a token
                if (cls == C_LINE_FEED) s->new_line = true;
                tok = ++p;
                tok_line = line;
                continue;
            }
            flags |= g_byte_flags[*p];
            p++;
            state = next;
        }
        s->line = line;
        s->kind = next;
        s->tok_start = tok;
        s->tok_end = p;
        s->pos = p;
        s->tok_type = kStateType[state];
        s->flags = flags;
        s->tok_line = tok_line;
        if ((flags & F_HIGH) && next != K_ERROR && invalid_utf8_at(tok, p) >= 0) bad_utf8(s);
        if (next == K_WORD && (flags & F_WIDE) && unicode_blanks(s)) continue;
        // "=:" ends its word before the colon: the colon still makes a set-word.
        if (next == K_WORD && start_state == S_START && p < end && *p == ':' && *tok != ':' &&
            *tok != '\'' && delimiter_q(p + 1, end))
            s->pos = s->tok_end = p + 1;
        // Tokens that end on their closing byte take it.
        switch (next) {
        case K_BLOCK_OPEN:
        case K_BLOCK_CLOSE:
        case K_PAREN_OPEN:
        case K_PAREN_CLOSE:
        case K_BRACE_OPEN:
        case K_BRACE_CLOSE:
        case K_MAP_OPEN:
        case K_CONSTRUCT:
        case K_COMMA:
        case K_STRING:
        case K_CHAR:
        case K_BINARY:
        case K_POINT:
        case K_TAG:
        case K_PERCENT:
            s->pos = ++s->tok_end;
            break;
        case K_FILE:
            if (tok[1] == '"') s->pos = ++s->tok_end;
            break;
        default:
            break;
        }
        if (next == K_POINT) {
            s->tok_start = s->point_start;
            if (!fire_event(s, EVENT_CLOSE, TYPE_POINT2D, nullptr)) continue;
        }
        if (s->pos > end) s->pos = s->tok_end = end; // never past the input
        int32_t guess =
            s->tok_type ? static_cast<int32_t>(s->tok_type) : -static_cast<int32_t>(next);
        // A token that took no byte cannot be skipped, as the scan would
        // meet it again: the end of the input still closes paths and reports
        // what is left open, and a byte no token starts with is still an error.
        if (!fire_event(s, EVENT_PRESCAN, guess, nullptr) && s->pos > s->tok_start) continue;
        bool nl = s->new_line;
        uint32_t before = out_top;
        if (next < K_STRING) {
            structure(s, start_state);
            if (s->kind != K_STRING) goto stop_check; // a completed braced string loads below
        }
        if (s->prescan) {
            s->result = static_cast<int32_t>(s->tok_type ? s->tok_type : kind_type(s->kind));
        } else {
            // A word token is announced as the word type it will load as,
            // so that a set-word can be told from a word before loading.
            const uint32_t scan_type = s->kind == K_WORD ? word_token_type(s) : kind_type(s->kind);
            if (!fire_event(s, EVENT_SCAN, static_cast<int32_t>(scan_type), nullptr)) continue;
            if (s->load) {
                load_token(s);
                if (out_top > before) {
                    if (!fire_event(s, EVENT_LOAD,
                                    static_cast<int32_t>(type_of(&out_cells[out_top - 1])),
                                    &out_cells[out_top - 1])) {
                        out_top = before;
                        continue;
                    }
                }
            } else {
                check_token(s);
            }
        }
        value_done(s);
    stop_check:
        if (out_top > before && nl && type_of(&out_cells[before]) != MARKER) {
            out_cells[before].header |= FLAG_NEW_LINE;
        }
        // Every token, closers included, ends the run of line feeds before
        // it; a braced string's value comes at its last brace and keeps the
        // line feeds before its first one.
        if (!s->brace_depth) s->new_line = false;
        if ((s->one || !s->load || s->prescan) && one_value_done(s) && s->kind >= K_BLOCK_CLOSE &&
            s->kind != K_COMMENT && s->kind != K_COMMA && s->kind != K_MAP_OPEN &&
            s->kind != K_PATH_HEAD && s->kind != K_BRACE_OPEN && s->kind != K_END)
            s->stop = true;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

void init() {
    evaluator::hooks.load_value = &load_value;
    evaluator::hooks.load_utf8 = &load_utf8;
    evaluator::hooks.scan_name = &scan_name;
    init_flags();
    out_capacity = OUT_INITIAL;
    out_cells = static_cast<Cell*>(std::malloc(out_capacity * sizeof(Cell)));
    scratch = static_cast<uint8_t*>(std::malloc(SCRATCH_SIZE));
    if (!out_cells || !scratch) fire(err::no_memory);
    collector::register_callback(&mark_buffers);
    block::load_text = [](Cell* text, Cell* out) {
        scan_string(out, text, -1, false, true, true, true, nullptr, nullptr, nullptr);
    };
}

int32_t callback_mask(const Cell* callback) {
    if (type_of(callback) != TYPE_FUNCTION) return EVENT_ALL;
    const Cell* body = &function::extra_of(callback)[function::EXTRA_BODY];
    if (type_of(body) != TYPE_BLOCK || block::rs_length_q(body) == 0) return EVENT_ALL;
    const Cell* events = block::rs_head(body);
    if (type_of(events) != TYPE_BLOCK) return EVENT_ALL;
    static const char* const kNames[] = {"prescan", "scan", "load", "open", "close", "error"};
    int32_t mask = 0;
    const Cell* end = block::ms_tail(events);
    for (const Cell* w = block::rs_head(events); w < end; w++) {
        if (!is_any_word(type_of(w))) continue;
        size_t n = 0;
        const char* name = symbol::name_utf8(symbol::resolve(w->data2), &n);
        for (int i = 0; i < 6; i++)
            if (std::strlen(kNames[i]) == n && !std::memcmp(kNames[i], name, n)) mask |= 1 << i;
    }
    return mask;
}

int32_t scan_tokens(Cell* out, const uint8_t* start, int32_t length, bool one, bool load,
                    bool store, bool as_block, int32_t* position, Cell* callback, Cell* input,
                    Cell* into, bool prescan) {
    Scan s{};
    s.prev = scans;
    s.base = out_top;
    s.start = s.pos = s.counted_to = start;
    s.end = start + length;
    s.line = 1;
    s.load = load;
    s.prescan = prescan;
    s.quiet = !load || prescan;
    s.one = one;
    s.has_callback = callback != nullptr;
    if (callback) {
        s.callback = *callback;
        s.mask = callback_mask(callback);
    } else {
        make_none(&s.callback);
    }
    if (input)
        s.input = *input;
    else
        make_none(&s.input);
    struct Guard {
        Scan* s;
        ~Guard() {
            scans = s->prev;
            out_top = s->base;
        }
    } guard{&s};
    scans = &s;
    // Everything a scan without a callback allocates stays reachable from
    // its output until it ends, so a collection meanwhile would only mark
    // the growing output again and again: collections wait for the end of
    // the scan. Stress mode still collects, as it exists to.
    collector::Hold hold;
    if (s.has_callback || collector::stress) collector::active_q = hold.saved;
    try {
        Cell* top = stack::top;
        for (;;) {
            try {
                scan(&s);
                break;
            } catch (const Resume&) {
                stack::top = top;
            }
        }
    } catch (const QuietStop&) {
        // A scan stopped inside open series keeps only its complete values:
        // the markers and the unfinished series above them go.
        uint32_t outermost = 0;
        for (uint32_t m = s.marker; m > s.base; m = out_cells[m - 1].data1) outermost = m;
        if (outermost) out_top = outermost - 1;
    }
    if (store) {
        uint32_t n = out_top - s.base;
        Cell* first = &out_cells[s.base];
        if (one && !as_block) {
            if (n)
                *out = *first;
            else
                make_unset(out);
        } else if (into && is_any_block(type_of(into))) {
            for (uint32_t i = 0; i < n; i++) block::ms_append(into, &out_cells[s.base + i]);
            *out = *into;
        } else {
            node_t node = memory::alloc_cells(n ? n : 1);
            memory::SeriesBuffer* b = memory::buffer_of(node);
            if (n) std::memcpy(b->cells(), &out_cells[s.base], n * sizeof(Cell));
            b->tail = b->head + n * static_cast<uint32_t>(sizeof(Cell));
            make_series(out, TYPE_BLOCK, node);
        }
    }
    if (position) *position = static_cast<int32_t>(s.pos - start);
    return s.result;
}

namespace {

// Gives the scratch space back (and frees a temporary buffer) on every exit.
struct TextBuffer {
    uint8_t* data = nullptr;
    uint32_t taken = 0;
    bool temporary = false;
    explicit TextBuffer(uint32_t size) {
        if (size + 1 <= SCRATCH_SIZE - scratch_used) {
            data = scratch + scratch_used;
            taken = size + 1;
            scratch_used += taken;
        } else {
            data = static_cast<uint8_t*>(std::malloc(size + 1));
            if (!data) fire(err::no_memory);
            temporary = true;
        }
    }
    ~TextBuffer() {
        if (temporary)
            std::free(data);
        else
            scratch_used -= taken;
    }
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
};

} // namespace

int32_t scan_string(Cell* out, Cell* source, int32_t length, bool one, bool load, bool store,
                    bool as_block, int32_t* position, Cell* callback, Cell* into, bool prescan) {
    if (type_of(source) == TYPE_BINARY) {
        memory::SeriesBuffer* b = memory::buffer_of(source);
        uint32_t avail = b->used_bytes() > source->data1 ? b->used_bytes() - source->data1 : 0;
        uint32_t n = length < 0 || static_cast<uint32_t>(length) > avail
                         ? avail
                         : static_cast<uint32_t>(length);
        TextBuffer text(n);
        if (n) std::memcpy(text.data, memory::buffer_of(source)->head_ptr() + source->data1, n);
        return scan_tokens(out, text.data, static_cast<int32_t>(n), one, load, store, as_block,
                           position, callback, source, into, prescan);
    }
    int32_t avail = string::ms_length_q(source);
    int32_t n = length < 0 || length > avail ? avail : length;
    uint32_t unit = string::buffer_of(source)->unit();
    uint32_t room = static_cast<uint32_t>(n) * (unit == 1 ? 2 : unit == 2 ? 3 : 4);
    TextBuffer text(room);
    uint32_t bytes = unicode::encode_utf8_part(source, text.data, n, false);
    int32_t used = 0;
    int32_t result = scan_tokens(out, text.data, static_cast<int32_t>(bytes), one, load, store,
                                 as_block, &used, callback, source, into, prescan);
    if (position)
        *position = static_cast<int32_t>(unicode::count_utf8_chars(text.data, text.data + used));
    return result;
}

void load_utf8(const uint8_t* text, int32_t length, Cell* out) {
    TextBuffer copy(static_cast<uint32_t>(length));
    if (length > 0) std::memcpy(copy.data, text, static_cast<size_t>(length));
    scan_tokens(out, copy.data, length, false, true, true, true, nullptr, nullptr, nullptr,
                nullptr);
}

Cell* load_value(Cell* string, Cell* target) {
    int32_t consumed = 0;
    scan_string(target, string, -1, false, true, true, true, &consumed, nullptr, nullptr);
    if (consumed < string::ms_length_q(string)) return const_cast<Cell*>(&none_value);
    if (block::rs_length_q(target) == 0) {
        make_unset(target);
        return target;
    }
    return block::ms_head(target);
}

int32_t scan_name(const uint8_t* utf8, int32_t length) {
    TextBuffer copy(static_cast<uint32_t>(length));
    if (length > 0) std::memcpy(copy.data, utf8, static_cast<size_t>(length));
    int32_t consumed = 0;
    int32_t type = scan_tokens(nullptr, copy.data, length, true, false, false, false, &consumed,
                               nullptr, nullptr, nullptr);
    return consumed == length ? type : -1;
}

} // namespace mox::lexer
