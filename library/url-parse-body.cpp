// Native body of url-parser/parse-url.
//
// The Mox body runs the URL grammar through parse, then dehexes the parts,
// cuts the path with split-path and makes the object; bulk URL work spends
// nearly all its time in that interpreted machinery. The grammar is ordered
// choice without backtracking into a matched rule, so one forward pass over
// the text finds the same parts. The pass takes a string! of ASCII text;
// url! values (which parse as their mold), text holding any other
// character, a rejected text under /throw-error and a scheme that does not
// scan as one word are left to the Mox body, evaluated in the same frame,
// so the two cannot answer differently.
#include "library/url-parse-body.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/cell.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"

namespace mox::url_parse_body {

namespace {

// Evaluates the running function's Mox body in its own frame; its value
// becomes the call's result (the body holds no return or exit). May collect.
void run_mox_body() {
    node_t ctx = stack::top_frame()->function_context;
    const Cell* fn = context::owner_of(ctx);
    Cell* body = stack::push(&function::extra_of(fn)[function::EXTRA_BODY]);
    interpreter::eval_block(body, true);
}

// The grammar's character classes over ASCII.
enum : uint8_t {
    C_ALPHA = 1,
    C_SCHEME = 2, // letters, digits, + - .
    C_USER = 4,   // user-info: unreserved, sub-delims, :
    C_HOST = 8,   // reg-name: unreserved, sub-delims
    C_SEG = 16,   // path segment: unreserved, sub-delims, : @
    C_QF = 32,    // query and fragment: a segment's, / ?
    C_HEX = 64,
    C_DIGIT = 128,
};

constexpr std::array<uint8_t, 128> make_classes() {
    std::array<uint8_t, 128> t{};
    auto add = [&t](const char* chars, uint8_t bits) {
        for (const char* c = chars; *c; c++) t[static_cast<uint8_t>(*c)] |= bits;
    };
    constexpr uint8_t common = C_USER | C_HOST | C_SEG | C_QF;
    for (int c = 'a'; c <= 'z'; c++) t[c] |= C_ALPHA | C_SCHEME | common;
    for (int c = 'A'; c <= 'Z'; c++) t[c] |= C_ALPHA | C_SCHEME | common;
    for (int c = '0'; c <= '9'; c++) t[c] |= C_DIGIT | C_HEX | C_SCHEME | common;
    add("abcdefABCDEF", C_HEX);
    add("+-.", C_SCHEME);
    add("-._~!$&'()*+,;=", common);
    add(":", C_USER | C_SEG | C_QF);
    add("@", C_SEG | C_QF);
    add("/?", C_QF);
    return t;
}

constexpr std::array<uint8_t, 128> classes = make_classes();

// A part of the text: [from, to), or from < 0 when the grammar captured
// nothing for it.
struct Span {
    int32_t from = -1;
    int32_t to = -1;
    bool set() const { return from >= 0; }
};

struct Parts {
    Span scheme, user, host, port, path, query, fragment;
};

class Scanner {
  public:
    explicit Scanner(const std::string& text) : s_(text), n_(static_cast<int32_t>(text.size())) {}

    // Whether the whole text is a URL; the parts as the grammar's copies
    // left them.
    bool parse(Parts& p) {
        int32_t pos = 0;
        if (!has(pos, C_ALPHA)) return false;
        pos++;
        while (has(pos, C_SCHEME)) pos++;
        if (!at(pos, ':')) return false;
        p.scheme = {0, pos};
        pos++;
        if (at(pos, '/') && at(pos + 1, '/')) {
            pos = authority(pos + 2, p);
            p.path = {pos, segments(pos)};
            pos = p.path.to;
        } else if (at(pos, '/')) {
            p.path = {pos, segments(pos)};
            pos = p.path.to;
        } else if (run(pos, C_SEG) > pos) {
            p.path = {pos, segments(run(pos, C_SEG))};
            pos = p.path.to;
        }
        if (at(pos, '?')) {
            p.query = {pos + 1, run(pos + 1, C_QF)};
            pos = p.query.to;
        }
        if (at(pos, '#')) {
            p.fragment = {pos + 1, run(pos + 1, C_QF)};
            pos = p.fragment.to;
        }
        return pos == n_;
    }

  private:
    bool at(int32_t i, char c) const { return i < n_ && s_[static_cast<size_t>(i)] == c; }
    bool has(int32_t i, uint8_t bits) const {
        return i < n_ && (classes[static_cast<uint8_t>(s_[static_cast<size_t>(i)])] & bits) != 0;
    }
    bool pct_at(int32_t i) const { return at(i, '%') && has(i + 1, C_HEX) && has(i + 2, C_HEX); }
    // Literal matching is case-insensitive, as parse's is on text.
    bool at_ci(int32_t i, const char* lit) const {
        for (; *lit; lit++, i++) {
            if (i >= n_) return false;
            char c = s_[static_cast<size_t>(i)];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c != *lit) return false;
        }
        return true;
    }

    // any [some class | pct-encoded]
    int32_t run(int32_t pos, uint8_t bits) const {
        for (;;) {
            if (has(pos, bits))
                pos++;
            else if (pct_at(pos))
                pos += 3;
            else
                return pos;
        }
    }

    // any [#"/" segment]
    int32_t segments(int32_t pos) const {
        while (at(pos, '/')) pos = run(pos + 1, C_SEG);
        return pos;
    }

    int32_t authority(int32_t pos, Parts& p) const {
        int32_t end = run(pos, C_USER);
        if (at(end, '@')) {
            p.user = {pos, end};
            pos = end + 1;
        }
        // An IP literal is a bracketed run up to the first closing bracket,
        // whatever it holds.
        int32_t open = at(pos, '[') ? 1 : at_ci(pos, "%5B") ? 3 : 0;
        int32_t close = -1;
        if (open) {
            for (int32_t i = pos + open; i < n_ && close < 0; i++) {
                if (at(i, ']'))
                    close = i + 1;
                else if (at_ci(i, "%5D"))
                    close = i + 3;
            }
        }
        p.host = {pos, close >= 0 ? close : run(pos, C_HOST)};
        pos = p.host.to;
        if (at(pos, ':') && has(pos + 1, C_DIGIT)) {
            int32_t end_digits = pos + 1;
            while (end_digits < pos + 6 && has(end_digits, C_DIGIT)) end_digits++;
            p.port = {pos + 1, end_digits};
            pos = end_digits;
        }
        return pos;
    }

    const std::string& s_;
    int32_t n_;
};

// The text of a part with its %XX escapes decoded (the text holds ASCII only
// and its escapes ASCII bytes, which dehex gives as those characters).
std::string dehexed(const std::string& text, Span span) {
    std::string out;
    out.reserve(static_cast<size_t>(span.to - span.from));
    auto hex = [](char c) { return c <= '9' ? c - '0' : c <= 'F' ? c - 'A' + 10 : c - 'a' + 10; };
    for (int32_t i = span.from; i < span.to; i++) {
        char c = text[static_cast<size_t>(i)];
        if (c == '%' && i + 2 < static_cast<int32_t>(text.size()) &&
            (classes[static_cast<uint8_t>(text[static_cast<size_t>(i) + 1])] & C_HEX) &&
            (classes[static_cast<uint8_t>(text[static_cast<size_t>(i) + 2])] & C_HEX)) {
            c = static_cast<char>(hex(text[static_cast<size_t>(i) + 1]) * 16 +
                                  hex(text[static_cast<size_t>(i) + 2]));
            i += 2;
        }
        out.push_back(c);
    }
    return out;
}

// Pushes a new string! (or file!) of ASCII text. May collect.
Cell* push_text(const std::string& text, uint32_t type = TYPE_STRING) {
    Cell* cell = string::push_new(static_cast<uint32_t>(std::max<size_t>(1, text.size())));
    if (!text.empty()) string::append_utf8(cell, text.data(), text.size());
    set_type(cell, type);
    return cell;
}

Cell* push_none() { return make_none(stack::push_cell()); }

// The symbol `to word!` gives for a scheme, or 0 when the text does not scan
// as one word; kept per spelling, since the lexer is costly beside the rest.
// May collect.
uint32_t scheme_symbol(const std::string& name) {
    static std::unordered_map<std::string, uint32_t> known;
    auto found = known.find(name);
    if (found != known.end()) return found->second;
    const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
    const auto length = static_cast<int32_t>(name.size());
    const int32_t type = lexer::scan_name(bytes, length);
    if (type < TYPE_WORD || type > TYPE_ISSUE) return 0;
    Cell* holder = make_none(stack::push_cell());
    lexer::load_utf8(bytes, length, holder);
    uint32_t symbol = 0;
    if (block::rs_length_q(holder) == 1 && word::any_word_q(type_of(block::ms_head(holder))))
        symbol = block::ms_head(holder)->data2;
    stack::pop(1);
    if (symbol) known.emplace(name, symbol);
    return symbol;
}

// split-path over a decoded path: the folder (up to its last slash but one
// closing the text) and the target, or the folder alone for the bare
// names of the root and the dot folders. Pushes the two. May collect.
void push_split_path(const std::string& path) {
    if (path == "/" || path == "." || path == ".." || path == "./" || path == "../") {
        push_text(path.back() == '/' ? path : path + "/", TYPE_FILE);
        push_none();
        return;
    }
    const size_t name_end = path.back() == '/' ? path.size() - 1 : path.size();
    const size_t slash = path.rfind('/', name_end == 0 ? std::string::npos : name_end - 1);
    std::string dir = "./";
    std::string name = path;
    if (name_end > 0 && slash != std::string::npos) {
        dir = path.substr(0, slash + 1);
        name = path.substr(slash + 1);
    }
    if (name == "." || name == "..") name.push_back('/');
    push_text(dir, TYPE_FILE);
    push_text(name, TYPE_FILE);
}

uint32_t field_symbols[9];
const char* const field_names[9] = {"scheme", "user-info", "host",     "port", "path",
                                    "target", "query",     "fragment", "ref"};

// The text of a string! from its index when every character is ASCII.
bool ascii_text(Cell* str, std::string& out) {
    const int32_t length = string::ms_length_q(str);
    const uint8_t* p = string::ms_head(str);
    const uint32_t unit = string::buffer_of(str)->unit();
    out.resize(static_cast<size_t>(length));
    for (int32_t i = 0; i < length; i++) {
        const uint32_t cp = string::get_char(p + static_cast<size_t>(i) * unit, unit);
        if (cp >= 0x80) return false;
        out[static_cast<size_t>(i)] = static_cast<char>(cp);
    }
    return true;
}

// Slots: url, the /throw-error flag, the locals. The url-parser capture
// fields are the Mox body's working state and are left as they were. May
// collect.
void parse_url_body() {
    Cell* args = stack::arguments;
    std::string text;
    if (type_of(&args[0]) != TYPE_STRING || !ascii_text(&args[0], text)) return run_mox_body();
    Parts p;
    if (!Scanner(text).parse(p)) {
        if (logic::truthy(&args[1])) return run_mox_body();
        make_none(&args[0]);
        return;
    }
    // A decoded byte of 0x80 or more would start an escaped UTF-8 sequence,
    // which dehex checks and may refuse.
    for (size_t i = 0; i + 2 < text.size(); i++) {
        if (text[i] == '%' && (classes[static_cast<uint8_t>(text[i + 2])] & C_HEX) &&
            (text[i + 1] >= '8' && (classes[static_cast<uint8_t>(text[i + 1])] & C_HEX)))
            return run_mox_body();
    }
    const uint32_t scheme = scheme_symbol(text.substr(0, static_cast<size_t>(p.scheme.to)));
    if (!scheme) return run_mox_body();
    if (!field_symbols[0]) {
        for (int i = 0; i < 9; i++) field_symbols[i] = symbol::make(field_names[i]);
    }
    Cell* values = word::make_at(scheme, stack::push_cell());
    for (Span s : {p.user, p.host}) {
        if (s.set())
            push_text(dehexed(text, s));
        else
            push_none();
    }
    if (p.port.set()) {
        int32_t port = 0;
        for (int32_t i = p.port.from; i < p.port.to; i++)
            port = port * 10 + (text[static_cast<size_t>(i)] - '0');
        make_integer(stack::push_cell(), port);
    } else {
        push_none();
    }
    if (p.path.set() && p.path.to > p.path.from) {
        push_split_path(dehexed(text, p.path));
    } else {
        push_none();
        push_none();
    }
    for (Span s : {p.query, p.fragment}) {
        if (s.set())
            push_text(dehexed(text, s));
        else
            push_none();
    }
    stack::push(&args[0]);
    Cell* result = object::make_at(stack::push_cell(), 9);
    for (int i = 0; i < 9; i++) {
        Cell word = {TYPE_WORD, 0, field_symbols[i], 0};
        context::put(result->data1, &word, &values[i]);
    }
    result->data2 = object::new_class_id();
    object::init_events(result);
    args[0] = *result;
}

} // namespace

void register_bodies() { routines::bind_native_body("url-parser/parse-url", &parse_url_body); }

} // namespace mox::url_parse_body
