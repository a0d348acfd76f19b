// The JSON codec's native bodies.
//
// The decoder follows the library's PARSE grammar rule by rule, with the
// same backtracking and the same side effects on the error position (mark,
// line count, last line feed), so that a text the grammar rejects gives the
// same error! value here. It reads a private copy of the input, because the
// values it makes may move the input's buffer, and keeps what it has made in
// a rooted work block: nothing here holds a pointer into a series buffer
// across an allocation.
#include "io/json.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/dtoa.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"

namespace mox::json {

namespace {

// ---------------------------------------------------------------------------
// Character classes of the grammar
// ---------------------------------------------------------------------------

bool hex_char_q(uint32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

uint32_t hex_value(uint32_t c) {
    if (c <= '9') return c - '0';
    return (c | 0x20) - 'a' + 10;
}

bool not_word_char_q(uint32_t c) {
    switch (c) {
    case '/':
    case '\\':
    case '^':
    case ',':
    case '[':
    case ']':
    case '(':
    case ')':
    case '{':
    case '}':
    case '"':
    case '#':
    case '%':
    case '$':
    case '@':
    case ':':
    case ';':
    case '\n':
    case ' ':
    case '\t':
    case '\r':
    case '<':
    case '>':
        return true;
    default:
        return false;
    }
}

bool esc_char_q(uint32_t c) {
    switch (c) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
        return true;
    default:
        return false;
    }
}

// The code points of the JSON escapes in p[0..n) appended to out; false on a
// bad escape or surrogate (out is then incomplete).
template <typename Ch> bool decode_escapes(const Ch* p, size_t n, std::vector<uint32_t>& out) {
    auto hex4 = [&](size_t i, uint32_t* v) {
        if (i + 4 > n) return false;
        uint32_t r = 0;
        for (size_t k = i; k < i + 4; k++) {
            if (!hex_char_q(p[k])) return false;
            r = r << 4 | hex_value(p[k]);
        }
        *v = r;
        return true;
    };
    for (size_t i = 0; i < n;) {
        uint32_t c = p[i++];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i >= n) return false;
        c = p[i++];
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out.push_back(c);
            break;
        case 'b':
            out.push_back(0x08);
            break;
        case 'f':
            out.push_back(0x0C);
            break;
        case 'n':
            out.push_back(0x0A);
            break;
        case 'r':
            out.push_back(0x0D);
            break;
        case 't':
            out.push_back(0x09);
            break;
        case 'u': {
            uint32_t high;
            if (!hex4(i, &high)) return false;
            i += 4;
            if (high >= 0xDC00 && high <= 0xDFFF) return false;
            if (high >= 0xD800 && high <= 0xDBFF) {
                uint32_t low;
                if (i + 2 > n || p[i] != '\\' || p[i + 1] != 'u' || !hex4(i + 2, &low) ||
                    low < 0xDC00 || low > 0xDFFF)
                    return false;
                i += 6;
                out.push_back(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
            } else {
                out.push_back(high);
            }
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

// A new string holding the n code points into slot. May collect.
template <typename Ch> void make_text(Cell* slot, const Ch* p, size_t n) {
    uint32_t top = 0;
    for (size_t i = 0; i < n; i++) top |= p[i];
    const uint32_t unit = top < 0x100 ? 1 : top < 0x10000 ? 2 : 4;
    string::make_at(slot, n ? static_cast<uint32_t>(n) : 1, unit);
    memory::SeriesBuffer* b = string::buffer_of(slot);
    uint8_t* d = b->head_ptr();
    for (size_t i = 0; i < n; i++) string::put_char(d + i * unit, unit, p[i]);
    b->tail = b->head + static_cast<uint32_t>(n * unit);
}

} // namespace

void read_chars(Cell* str, std::vector<uint32_t>& out) {
    const int32_t n = string::ms_length_q(str);
    const uint8_t* p = string::ms_head(str);
    const uint32_t unit = string::buffer_of(str)->unit();
    out.reserve(out.size() + n);
    for (int32_t i = 0; i < n; i++) out.push_back(string::get_char(p + i * unit, unit));
}

void make_text(Cell* slot, const uint32_t* p, size_t n) { make_text<uint32_t>(slot, p, n); }

namespace {

// The symbol of the word that the UTF-8 text loads as when it is exactly
// one word, else 0. May collect.
uint32_t loaded_word(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    const int32_t type = lexer::scan_name(bytes, length);
    if (type < TYPE_WORD || type > TYPE_ISSUE) return 0;
    Cell* holder = stack::push_cell();
    make_none(holder);
    lexer::load_utf8(bytes, length, holder);
    uint32_t symbol = 0;
    if (block::rs_length_q(holder) == 1 && is_any_word(type_of(block::ms_head(holder))))
        symbol = block::ms_head(holder)->data2;
    stack::pop(1);
    return symbol;
}

// ---------------------------------------------------------------------------
// Decoder
// ---------------------------------------------------------------------------

template <typename Ch> class Decoder {
  public:
    Decoder(std::vector<Ch> text, int32_t base, Cell* work)
        : s_(std::move(text)), n_(static_cast<int32_t>(s_.size())), base_(base), work_(work) {}

    // The whole input must be one value.
    bool run() { return value() && pos_ == n_; }

    // The error! value of a failed run, pushed on the stack. May collect.
    Cell* error() {
        std::string head = "Invalid JSON string. Line: " + std::to_string(line_ct_) +
                           " Index: " + std::to_string(base_ + mark_ + 1) +
                           " Column: " + std::to_string(mark_ - last_lf_) + " Near: ";
        Cell* text = string::push_new(static_cast<uint32_t>(head.size() + 48));
        string::concatenate_literal(text, head.c_str());
        if (mark_ == n_) {
            string::concatenate_literal(text, "<end of input>");
        } else {
            Cell* near = stack::push_cell();
            make_none(near);
            make_text(near, s_.data() + mark_, std::min(40, n_ - mark_));
            actions::mold(near, text, false, false, false, nullptr, INT32_MAX, 0);
            stack::pop(1);
        }
        return error::create(err::message, text, nullptr, nullptr);
    }

  private:
    std::vector<Ch> s_;
    int32_t n_;
    int32_t base_; // the input's index: error positions count from its head
    Cell* work_;   // rooted block: the values made so far, innermost last
    int32_t pos_ = 0;
    int32_t mark_ = 0;
    int32_t last_lf_ = 0;
    int32_t line_ct_ = 1;
    int32_t depth_ = 0;
    std::vector<uint32_t> chars_;

    uint32_t at(int32_t i) const { return i < n_ ? static_cast<uint32_t>(s_[i]) : 0xFFFFFFFFu; }

    bool ws() {
        const uint32_t c = at(pos_);
        if (c == ' ' || c == '\t' || c == '\r') {
            pos_++;
            return true;
        }
        if (c == '\n') {
            pos_++;
            last_lf_ = mark_ = pos_;
            line_ct_++;
            return true;
        }
        return false;
    }
    void ws_star() {
        while (ws()) {
        }
    }

    bool literal(const char* text) {
        int32_t i = pos_;
        for (; *text; text++, i++)
            if (at(i) != static_cast<uint8_t>(*text)) return false;
        pos_ = i;
        return true;
    }

    void emit(const Cell* value) { block::ms_append(work_, value); }

    bool value() {
        const int32_t start = pos_;
        ws_star();
        Cell v;
        if (literal("true")) {
            emit(make_logic(&v, true));
        } else if (literal("false")) {
            emit(make_logic(&v, false));
        } else if (literal("null")) {
            emit(make_none(&v));
        } else if (!(container('{') || container('[') || string_value() || number())) {
            pos_ = start;
            return false;
        }
        mark_ = pos_;
        ws_star();
        return true;
    }

    // An object or an array: the opening character, the members, the
    // closing one; the values made inside are gathered into a block (or a
    // map with keys matched case-sensitively) at the close. May collect.
    bool container(char open) {
        if (at(pos_) != static_cast<uint32_t>(open) || depth_ >= MAX_DEPTH) return false;
        const int32_t start = pos_;
        pos_++;
        depth_++;
        const int32_t first = block::ms_length_q(work_);
        ws_star();
        const bool object = open == '{';
        if (object)
            property_list();
        else
            array_list();
        depth_--;
        if (at(pos_) != (object ? '}' : ']')) {
            block::ms_clear_at(work_, static_cast<uint32_t>(first));
            pos_ = start;
            return false;
        }
        pos_++;
        close(first, object);
        return true;
    }

    void close(int32_t first, bool object) {
        const int32_t count = block::ms_length_q(work_) - first;
        Cell* made = stack::push_cell();
        make_none(made);
        if (object) {
            map::make_cell(made, nullptr, count);
            Cell* pairs = stack::push(work_);
            pairs->data1 = static_cast<uint32_t>(first);
            map::extend(made, pairs, true);
            stack::pop(1);
        } else {
            block::make_at(made, count);
            Cell* items = stack::push(work_);
            items->data1 = static_cast<uint32_t>(first);
            block::ms_append_block(made, items);
            stack::pop(1);
        }
        block::ms_clear_at(work_, static_cast<uint32_t>(first));
        emit(made);
        stack::pop(1);
    }

    void array_list() {
        if (!value()) return;
        for (;;) {
            const int32_t save = pos_;
            if (!(sep() && value())) {
                pos_ = save;
                return;
            }
        }
    }

    void property_list() {
        if (!property()) return;
        for (;;) {
            const int32_t save = pos_;
            if (!(sep() && property())) {
                pos_ = save;
                return;
            }
        }
    }

    bool sep() {
        ws_star();
        if (at(pos_) != ',') return false;
        pos_++;
        ws_star();
        return true;
    }

    // A name, a colon and a value. The name is decoded as soon as its
    // closing quote matches, before the colon is looked for. May collect.
    bool property() {
        const int32_t start = pos_;
        ws_star();
        const int32_t name_start = pos_;
        if (!string_literal()) {
            pos_ = start;
            return false;
        }
        Cell* name = stack::push_cell();
        make_none(name);
        decode_text(name_start + 1, pos_ - 1, name);
        ws_star();
        if (at(pos_) != ':') {
            stack::pop(1);
            pos_ = start;
            return false;
        }
        pos_++;
        mark_ = pos_;
        const uint32_t symbol = word_symbol(name);
        if (symbol) word::make_at(symbol, name);
        emit(name);
        stack::pop(1);
        if (!value()) {
            pos_ = start;
            return false;
        }
        return true;
    }

    // Matches a string literal and leaves pos_ after its closing quote.
    bool string_literal() {
        if (at(pos_) != '"') return false;
        int32_t i = pos_ + 1;
        for (;;) {
            const uint32_t c = at(i);
            if (c == '"') break;
            if (c == '\\') {
                const uint32_t e = at(i + 1);
                if (e == 'u') {
                    if (!(hex_char_q(at(i + 2)) && hex_char_q(at(i + 3)) && hex_char_q(at(i + 4)) &&
                          hex_char_q(at(i + 5))))
                        return false;
                    i += 6;
                } else if (esc_char_q(e)) {
                    i += 2;
                } else {
                    return false;
                }
            } else if (c < 0x20 || c == 0xFFFFFFFFu) {
                return false;
            } else {
                i++;
            }
        }
        pos_ = i + 1;
        return true;
    }

    // The decoded text of s_[start, end) into slot; a bad escape raises
    // invalid-data with the undecoded text, as the unescape routine does.
    // May collect.
    void decode_text(int32_t start, int32_t end, Cell* slot) {
        const Ch* p = s_.data() + start;
        const size_t n = static_cast<size_t>(end - start);
        bool escaped = false;
        for (size_t i = 0; i < n && !escaped; i++) escaped = p[i] == '\\';
        if (!escaped) {
            make_text(slot, p, n);
            return;
        }
        chars_.clear();
        if (!decode_escapes(p, n, chars_)) {
            make_text(slot, p, n);
            fire(err::invalid_data, slot);
        }
        make_text(slot, chars_.data(), chars_.size());
    }

    bool string_value() {
        const int32_t start = pos_;
        if (!string_literal()) return false;
        Cell* slot = stack::push_cell();
        make_none(slot);
        decode_text(start + 1, pos_ - 1, slot);
        emit(slot);
        stack::pop(1);
        return true;
    }

    // The symbol of an object key that has the shape of a word and loads as
    // one, else 0. May collect.
    uint32_t word_symbol(Cell* text) {
        chars_.clear();
        read_chars(text, chars_);
        if (chars_.empty()) return 0;
        const uint32_t c0 = chars_[0];
        if (not_word_char_q(c0) || (c0 >= '0' && c0 <= '9') || c0 == '\'') return 0;
        bool plain = (c0 | 0x20) >= 'a' && (c0 | 0x20) <= 'z';
        std::string utf8;
        for (uint32_t c : chars_) {
            if (not_word_char_q(c)) return 0;
            plain = plain && (((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || (c >= '0' && c <= '9') ||
                              c == '-' || c == '_');
            uint8_t bytes[4];
            utf8.append(reinterpret_cast<char*>(bytes), unicode::cp_to_utf8(c, bytes));
        }
        if (plain) return symbol::make_sized(utf8.data(), utf8.size());
        return loaded_word(utf8);
    }

    bool number() {
        const int32_t start = pos_;
        int32_t i = pos_;
        if (at(i) == '-') i++;
        auto digit = [&](int32_t k) { return at(k) >= '0' && at(k) <= '9'; };
        if (!digit(i)) return false;
        if (at(i) == '0')
            i++;
        else
            while (digit(i)) i++;
        bool fraction = false;
        if (at(i) == '.' && digit(i + 1)) {
            i++;
            while (digit(i)) i++;
            fraction = true;
        }
        if (at(i) == 'e' || at(i) == 'E') {
            int32_t k = i + 1;
            if (at(k) == '+' || at(k) == '-') k++;
            if (digit(k)) {
                while (digit(k)) k++;
                i = k;
                fraction = true;
            }
        }
        pos_ = i;
        Cell v;
        std::string text(s_.begin() + start, s_.begin() + i);
        const size_t digits = text.size() - (text[0] == '-');
        if (!fraction && digits <= 9) {
            make_integer(&v, std::stoi(text));
            emit(&v);
            return true;
        }
        Cell* holder = stack::push_cell();
        make_none(holder);
        lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                         static_cast<int32_t>(text.size()), holder);
        v = *block::ms_head(holder);
        stack::pop(1);
        emit(&v);
        return true;
    }
};

template <typename Ch> void decode(Cell* input, Cell* out) {
    const int32_t n = string::ms_length_q(input);
    const uint8_t* p = string::ms_head(input);
    std::vector<Ch> text(static_cast<size_t>(n));
    if (n > 0) std::memcpy(text.data(), p, static_cast<size_t>(n) * sizeof(Ch));
    Cell work;
    block::make_at(&work, 16);
    collector::Root root(&work);
    Decoder<Ch> d(std::move(text), static_cast<int32_t>(input->data1), &work);
    if (d.run())
        *out = *block::ms_head(&work);
    else
        *out = *d.error();
}

// ---------------------------------------------------------------------------
// Encoder
// ---------------------------------------------------------------------------

class Encoder {
  public:
    Encoder(const Cell* indent, bool ascii) : ascii_(ascii), pretty_(indent != nullptr) {
        if (indent) {
            Cell copy = *indent;
            read_chars(&copy, indent_);
        }
    }

    std::vector<uint32_t> out;

    // Writes the value held by the stack cell v. May collect.
    void value(Cell* v) {
        switch (type_of(v)) {
        case TYPE_NONE:
            text("null");
            return;
        case TYPE_LOGIC:
            text(v->data1 ? "true" : "false");
            return;
        case TYPE_INTEGER: {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%d", get_integer(v));
            text(digits);
            return;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            number(v);
            return;
        case TYPE_STRING:
            quoted(v);
            return;
        case TYPE_BLOCK:
            block(v);
            return;
        case TYPE_MAP:
        case TYPE_OBJECT:
            object(v);
            return;
        default:
            break;
        }
        const uint32_t t = type_of(v);
        Cell* converted = stack::push_cell();
        make_none(converted);
        if (is_any_block(t)) {
            block::make_at(converted, block::ms_length_q(v));
            block::ms_append_block(converted, v);
        } else {
            string::make_at(converted, 16, 1);
            if (is_any_string(t))
                actions::form(v, converted, nullptr, INT32_MAX);
            else
                actions::mold(v, converted, false, false, false, nullptr, INT32_MAX, 0);
        }
        value(converted);
        stack::pop(1);
    }

  private:
    bool ascii_;
    bool pretty_;
    std::vector<uint32_t> indent_;
    int32_t level_ = 0;

    void text(const char* s) {
        for (; *s; s++) out.push_back(static_cast<uint8_t>(*s));
    }

    void number(Cell* v) {
        const double d = get_float(v);
        if (d != d || d - d != 0) fire(err::invalid_arg, v);
        // The shortest text that reads back as the same double: the formed
        // text keeps 15 digits and would change the data.
        char buf[dtoa::FORM_SIZE];
        dtoa::form_float(d, 0, true, buf);
        text(buf);
    }

    bool normal_q(uint32_t c) const {
        if (c < 32 || c == '"' || c == '\\') return false;
        return !ascii_ || c < 128;
    }

    void hex4(uint32_t u) {
        static const char digits[] = "0123456789ABCDEF";
        out.push_back('\\');
        out.push_back('u');
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(digits[(u >> shift) & 15]);
    }

    void quoted(Cell* str) {
        const int32_t n = string::ms_length_q(str);
        const uint8_t* p = string::ms_head(str);
        const uint32_t unit = string::buffer_of(str)->unit();
        out.push_back('"');
        for (int32_t i = 0; i < n; i++) {
            const uint32_t c = string::get_char(p + i * unit, unit);
            if (normal_q(c)) {
                out.push_back(c);
                continue;
            }
            switch (c) {
            case '"':
                text("\\\"");
                break;
            case '\\':
                text("\\\\");
                break;
            case 0x08:
                text("\\b");
                break;
            case 0x0C:
                text("\\f");
                break;
            case '\n':
                text("\\n");
                break;
            case '\r':
                text("\\r");
                break;
            case '\t':
                text("\\t");
                break;
            default:
                if (c <= 0xFFFF) {
                    hex4(c);
                } else {
                    hex4(0xD800 + ((c - 0x10000) >> 10));
                    hex4(0xDC00 + ((c - 0x10000) & 0x3FF));
                }
            }
        }
        out.push_back('"');
    }

    void indent() {
        for (int32_t k = 0; k < level_; k++) out.insert(out.end(), indent_.begin(), indent_.end());
    }

    // Opens a nesting level; past MAX_DEPTH (a block that holds itself
    // included) raises internal too-deep.
    void open(char c) {
        if (++level_ > MAX_DEPTH) fire(err::too_deep);
        out.push_back(static_cast<uint8_t>(c));
        if (pretty_) {
            out.push_back('\n');
            indent();
        }
    }

    void close(char c) {
        level_--;
        if (pretty_) {
            out.push_back('\n');
            indent();
        }
        out.push_back(static_cast<uint8_t>(c));
    }

    void separator() {
        out.push_back(',');
        if (pretty_) {
            out.push_back('\n');
            indent();
        }
    }

    void block(Cell* v) {
        const int32_t n = block::ms_length_q(v);
        if (n == 0) {
            text("[]");
            return;
        }
        open('[');
        for (int32_t i = 0; i < n; i++) {
            if (i) separator();
            Cell* item = stack::push(block::ms_abs_at(v, v->data1 + i));
            value(item);
            stack::pop(1);
        }
        close(']');
    }

    void key(Cell* k) {
        if (type_of(k) == TYPE_STRING) {
            quoted(k);
            return;
        }
        Cell* name = stack::push_cell();
        string::make_at(name, 16, 1);
        if (is_any_word(type_of(k)))
            actions::form(k, name, nullptr, INT32_MAX);
        else
            actions::mold(k, name, false, false, false, nullptr, INT32_MAX, 0);
        quoted(name);
        stack::pop(1);
    }

    // The key and value cells of entry i of a map's backing block (a removed
    // entry has a value header of 0) or of field i of an object, read afresh
    // from the stack cell v: nothing here allocates a series, so that
    // writing a large value never makes the collector walk it.
    static Cell* entry_cell(Cell* v, uint32_t i, bool value) {
        if (type_of(v) == TYPE_MAP) {
            const Cell backing{TYPE_BLOCK, 0, v->data2, 0};
            return block::ms_abs_at(&backing, 2 * i + (value ? 1 : 0));
        }
        return value ? context::value_ptr(v->data1, static_cast<int32_t>(i))
                     : context::get_word(v->data1, static_cast<int32_t>(i));
    }

    static uint32_t entry_count(Cell* v) {
        if (type_of(v) == TYPE_MAP) {
            const Cell backing{TYPE_BLOCK, 0, v->data2, 0};
            return block::abs_length(&backing) / 2;
        }
        return static_cast<uint32_t>(object::field_count(v->data1));
    }

    static bool live_q(Cell* v, uint32_t i) { return entry_cell(v, i, true)->header != 0; }

    void object(Cell* v) {
        const uint32_t n = entry_count(v);
        bool any = false;
        for (uint32_t i = 0; i < n && !any; i++) any = live_q(v, i);
        if (!any) {
            text("{}");
            return;
        }
        open('{');
        bool first = true;
        for (uint32_t i = 0; i < n; i++) {
            if (!live_q(v, i)) continue;
            if (!first) separator();
            first = false;
            Cell* k = stack::push(entry_cell(v, i, false));
            key(k);
            text(pretty_ ? ": " : ":");
            Cell* item = stack::push(entry_cell(v, i, true));
            value(item);
            stack::pop(2);
        }
        close('}');
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

void unescape(Cell* str) {
    std::vector<uint32_t> raw;
    read_chars(str, raw);
    std::vector<uint32_t> decoded;
    decoded.reserve(raw.size());
    if (!decode_escapes(raw.data(), raw.size(), decoded)) fire(err::invalid_data, str);
    string::ms_truncate(str, str->data1);
    string::append_chars(str, decoded.data(), decoded.size());
}

void load(Cell* input, Cell* out) {
    Cell* saved = stack::top;
    DecodePause pause;
    switch (string::buffer_of(input)->unit()) {
    case 1:
        decode<uint8_t>(input, out);
        break;
    case 2:
        decode<uint16_t>(input, out);
        break;
    default:
        decode<uint32_t>(input, out);
        break;
    }
    stack::top = saved;
}

void to_json(Cell* data, const Cell* indent, bool ascii, Cell* out) {
    Cell* saved = stack::top;
    Encoder e(indent, ascii);
    Cell* v = stack::push(data);
    e.value(v);
    make_text(out, e.out.data(), e.out.size());
    stack::top = saved;
}

// ---------------------------------------------------------------------------
// Bodies (slots in spec order: see evaluator/routines.h)
// ---------------------------------------------------------------------------

namespace {

// unescape: str
void unescape_body() { unescape(stack::arguments); }

// load-json: input
void load_json_body() { load(stack::arguments, stack::arguments); }

// to-json: data /pretty indent /ascii
void to_json_body() {
    Cell* a = stack::arguments;
    Cell* result = stack::push_cell();
    make_none(result);
    to_json(a, logic::truthy(a + 1) ? a + 2 : nullptr, logic::truthy(a + 3), result);
    *a = *result;
}

} // namespace

void register_json() {
    routines::register_("json-unescape", &unescape_body);
    routines::bind_native_body("load-json", &load_json_body);
    routines::bind_native_body("to-json", &to_json_body);
}

} // namespace mox::json
