// string!: molding (the literal form that loads back as the same text) and
// trimming (see string.h).
//
// Both read the characters into system memory first and then write: the
// output of mold may be the same kind of buffer the collector moves while it
// grows, and trim rewrites the range it reads.
#include <algorithm>
#include <array>
#include <vector>

#include "core/value.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

namespace mox::string {

namespace {

// The character written after "^" for code points 0-94; 0 means none.
constexpr char escape_of(uint32_t cp) {
    switch (cp) {
    case 0:
        return '@';
    case 9:
        return '-';
    case 10:
        return '/';
    case 27:
        return '[';
    case 28:
        return '\\';
    case 29:
        return ']';
    case 31:
        return '_';
    case 34:
        return '"';
    case 94:
        return '^';
    default:
        return (cp >= 1 && cp <= 8) || (cp >= 11 && cp <= 26) ? static_cast<char>('@' + cp) : 0;
    }
}

// Appends the escaped form of cp to out (code points).
void escape_into(std::vector<uint32_t>& out, uint32_t cp, bool all) {
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 127)) {
        out.push_back('^');
        out.push_back('(');
        std::array<char, 9> hex = to_hex(static_cast<int32_t>(cp), true);
        for (const char* d = hex.data(); *d; d++) out.push_back(static_cast<uint8_t>(*d));
        out.push_back(')');
    } else if (char e = cp < 95 ? escape_of(cp) : 0) {
        out.push_back('^');
        out.push_back(static_cast<uint8_t>(e));
    } else if (cp == 127) {
        out.push_back('^');
        out.push_back('~');
    } else {
        out.push_back(cp);
    }
}

std::vector<uint32_t> chars_of(Cell* str, uint32_t from, uint32_t count) {
    std::vector<uint32_t> v(count);
    for (uint32_t i = 0; i < count; i++) v[i] = abs_char_at(str, from + i);
    return v;
}

// The opening braces that a closing brace later in the text matches.
std::vector<bool> matched_braces(const std::vector<uint32_t>& text) {
    std::vector<bool> matched(text.size(), false);
    std::vector<size_t> open;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '{') {
            open.push_back(i);
        } else if (text[i] == '}' && !open.empty()) {
            matched[open.back()] = true;
            open.pop_back();
        }
    }
    return matched;
}

bool whitespace_q(uint32_t c) {
    return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 ||
           (c >= 8192 && c <= 8202) || c == 8232 || c == 8233 || c == 8239 || c == 8287 ||
           c == 12288;
}

// Whitespace that stays inside a line.
bool blank_q(uint32_t c) { return c != '\n' && c != '\r' && c > 13 ? whitespace_q(c) : c == '\t'; }

void strip_ends(std::vector<uint32_t>& v, bool head, bool tail) {
    if (tail) {
        while (!v.empty() && whitespace_q(v.back())) v.pop_back();
    }
    if (head) {
        auto first = std::find_if_not(v.begin(), v.end(), whitespace_q);
        v.erase(v.begin(), first);
    }
}

std::vector<uint32_t> trim_lines(const std::vector<uint32_t>& in) {
    std::vector<uint32_t> out;
    bool pending = false;
    for (uint32_t c : in) {
        if (whitespace_q(c)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out.push_back(' ');
        pending = false;
        out.push_back(c);
    }
    return out;
}

// Leading and trailing whitespace go, and blanks at either end of every
// line; one line feed comes back at the end when the trailing whitespace
// held one.
std::vector<uint32_t> trim_default(std::vector<uint32_t> in) {
    auto last = std::find_if_not(in.rbegin(), in.rend(), whitespace_q);
    bool had_lf = std::find(in.rbegin(), last, '\n') != last;
    strip_ends(in, true, true);
    std::vector<uint32_t> out;
    size_t line_start = 0;
    bool at_line_start = true;
    for (uint32_t c : in) {
        if (c == '\n') {
            while (out.size() > line_start && blank_q(out.back())) out.pop_back();
            out.push_back(c);
            line_start = out.size();
            at_line_start = true;
            continue;
        }
        if (at_line_start && blank_q(c)) continue;
        at_line_start = false;
        out.push_back(c);
    }
    if (had_lf) out.push_back('\n');
    return out;
}

} // namespace

int32_t append_escaped_char(Cell* str, uint32_t cp, bool all) {
    std::vector<uint32_t> out;
    escape_into(out, cp, all);
    append_chars(str, out.data(), out.size());
    return static_cast<int32_t>(out.size());
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    uint32_t len = static_cast<uint32_t>(ms_length_q(value));
    uint32_t count = part ? std::min(len, static_cast<uint32_t>(std::max(limit, 0))) : len;
    std::vector<uint32_t> text = chars_of(value, value->data1, count);
    size_t quotes = std::count(text.begin(), text.end(), '"');
    size_t lines = std::count(text.begin(), text.end(), '\n');
    bool braces = lines > 2 || quotes > 0 || len > 49;

    std::vector<uint32_t> out;
    out.reserve(text.size() + 2);
    out.push_back(braces ? '{' : '"');
    if (braces) {
        std::vector<bool> matched = matched_braces(text);
        bool escaping = false;
        uint32_t open = 0;
        for (size_t i = 0; i < text.size(); i++) {
            uint32_t c = text[i];
            if (c == '{') {
                if (!escaping && matched[i]) {
                    out.push_back('{');
                    open++;
                } else {
                    escaping = true;
                    out.push_back('^');
                    out.push_back('{');
                }
            } else if (c == '}') {
                if (open > 0) {
                    out.push_back('}');
                    open--;
                } else {
                    out.push_back('^');
                    out.push_back('}');
                }
            } else if (c == '"') {
                out.push_back('"');
            } else {
                escape_into(out, c, all);
            }
        }
    } else {
        for (uint32_t c : text) escape_into(out, c, all);
    }
    out.push_back(braces ? '}' : '"');
    append_chars(buffer, out.data(), out.size());
    return limit - static_cast<int32_t>(count) - 2;
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if (auto_) fire(err::not_done);
    std::vector<uint32_t> set;
    if (with) {
        uint32_t wt = type_of(with);
        if (wt == TYPE_CHAR || wt == TYPE_INTEGER)
            set.push_back(with->data2);
        else if (is_any_string(wt) || wt == TYPE_BINARY)
            set = chars_of(with, with->data1, static_cast<uint32_t>(ms_length_q(with)));
        else
            fire(err::invalid_arg, with);
    } else {
        set = {'\t', '\n', '\r', ' '};
    }
    int32_t before = ms_length_q(series);
    bool told = series::notify(series, series::Change::trim, nullptr,
                               static_cast<int32_t>(series->data1), before);
    uint32_t len = static_cast<uint32_t>(ms_length_q(series));
    uint32_t index = series->data1;
    std::vector<uint32_t> in = chars_of(series, index, len);
    std::vector<uint32_t> out;
    if (all || with) {
        for (uint32_t c : in)
            if (std::find(set.begin(), set.end(), c) == set.end()) out.push_back(c);
    } else if (lines) {
        out = trim_lines(in);
    } else if (head || tail) {
        out = in;
        strip_ends(out, head, tail);
    } else {
        out = trim_default(in);
    }
    memory::SeriesBuffer* b = buffer_of(series);
    uint32_t unit = b->unit();
    uint8_t* to = b->head_ptr() + index * unit;
    for (size_t i = 0; i < out.size(); i++) put_char(to + i * unit, unit, out[i]);
    b->tail = b->head + (index + static_cast<uint32_t>(out.size())) * unit;
    if (told)
        series::notify(series, series::Change::trimmed, nullptr, static_cast<int32_t>(index),
                       static_cast<int32_t>(out.size()));
    return series;
}

} // namespace mox::string
