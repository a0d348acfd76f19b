// The CSV codec's native bodies.
//
// The loader follows the library's PARSE grammar rule by rule: a quoted
// value, else a run of characters up to a line end or the delimiter; a
// line's values; lines until the text ends or stops matching, with the same
// side effects on the line and the result, so that both give the same value
// or error. It reads a private copy of the text (the values it makes may
// move the text's buffer) and keeps what it builds in stack cells.
#include "io/csv.h"

#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/routines.h"
#include "io/json.h"

namespace mox::csv {

namespace {

using json::make_text;
using json::read_chars;

// ---------------------------------------------------------------------------
// The csv context's settings
// ---------------------------------------------------------------------------

// The value cell of a field of the global csv object, or null when csv holds
// no object with that field. Valid until the next allocation.
Cell* setting(const char* name) {
    const Cell* csv = word::get_value(word::load("csv"));
    if (!csv || type_of(csv) != TYPE_OBJECT) return nullptr;
    const int32_t index = context::find_word(csv->data1, symbol::make(name), false);
    return index < 0 ? nullptr : context::value_ptr(csv->data1, index);
}

bool setting_on(const char* name, bool otherwise) {
    const Cell* v = setting(name);
    return v ? logic::truthy(v) : otherwise;
}

void set_setting(const char* name, const Cell* value) {
    if (Cell* v = setting(name)) *v = *value;
}

// ---------------------------------------------------------------------------
// Text helpers
// ---------------------------------------------------------------------------

// The text of a delimiter argument: a char! or a string! from its index.
std::vector<uint32_t> delimiter_of(Cell* arg) {
    std::vector<uint32_t> d;
    if (type_of(arg) == TYPE_CHAR)
        d.push_back(arg->data2);
    else
        read_chars(arg, d);
    return d;
}

// A returned error! value with the message into out. May collect.
void returned_error(Cell* out, const char* message) {
    Cell* text = string::push_new(64);
    string::concatenate_literal(text, message);
    *out = *error::create(err::message, text, nullptr, nullptr);
}

// The spreadsheet column name after name: a Z becomes A and carries left.
// May collect.
void next_column_name(Cell* name, Cell* out) {
    std::vector<uint32_t> c;
    read_chars(name, c);
    size_t i = c.size();
    for (;;) {
        if (i == 0) {
            c.insert(c.begin(), 'A');
            break;
        }
        if (c[i - 1] == 'Z') {
            c[--i] = 'A';
        } else {
            c[i - 1]++;
            break;
        }
    }
    make_text(out, c.data(), c.size());
}

// Names "A", "B", ... for n columns into out (a new block). May collect.
void make_header(int32_t n, Cell* out) {
    block::make_at(out, n);
    Cell* key = stack::push_cell();
    const uint32_t a = 'A';
    make_text(key, &a, 1);
    for (int32_t i = 0; i < n; i++) {
        block::ms_append(out, key);
        next_column_name(key, key);
    }
    stack::pop(1);
}

// A map! of the pairs of the block from its index, keys matched with their
// case, into out. May collect.
void map_of_pairs(Cell* pairs, Cell* out) {
    Cell* made = stack::push_cell();
    make_none(made);
    map::make_cell(made, nullptr, block::ms_length_q(pairs));
    map::extend(made, pairs, true);
    *out = *made;
    stack::pop(1);
}

// ---------------------------------------------------------------------------
// Loader
// ---------------------------------------------------------------------------

class Loader {
  public:
    bool trim = false, header = false, as_columns = false, as_records = false, flat = false;
    bool strict = true, ignore_empty = false;
    uint32_t quote = '"';
    std::vector<uint32_t> delimiter;

    Loader(std::vector<uint32_t> text, bool at_head) : s_(std::move(text)), at_head_(at_head) {
        n_ = static_cast<int32_t>(s_.size());
        output_ = stack::push_cell();
        block::make_at(output_, n_ / 80);
        line_ = stack::push_cell();
        block::make_at(line_, 20);
        names_ = stack::push_cell();
        make_header(1, names_);
    }

    // The result (block, map or error!) into out. May collect.
    void run(Cell* out) {
        if (header) read_header();
        while (line_rule()) {
            if (failed_) {
                *out = *result_;
                return;
            }
        }
        int32_t p = pos_;
        while (line_end(p)) {
        }
        if (p != n_) {
            // Line ends before the failing line, counted in the text up to it.
            int32_t count = 1;
            for (int32_t i = 0; i < mark_; i++) {
                if (s_[i] == '\n' || (s_[i] == '\r' && !(i + 1 < mark_ && s_[i + 1] == '\n')))
                    count++;
            }
            returned_error(out, ("Invalid CSV data at line " + std::to_string(count)).c_str());
            return;
        }
        if (as_columns) {
            columns(out);
            return;
        }
        *out = *output_;
    }

  private:
    std::vector<uint32_t> s_;
    bool at_head_; // the text starts at its series' head
    int32_t n_ = 0;
    int32_t pos_ = 0;
    int32_t mark_ = 0;
    int32_t lines_ = 0;
    int32_t longest_ = 0;
    bool failed_ = false;
    bool quoted_ = false;
    std::vector<uint32_t> value_;
    Cell* output_;
    Cell* line_;
    Cell* names_;
    Cell* result_ = nullptr;

    bool line_end(int32_t& p) const {
        if (p < n_ && s_[p] == '\r') {
            p += (p + 1 < n_ && s_[p + 1] == '\n') ? 2 : 1;
            return true;
        }
        if (p < n_ && s_[p] == '\n') {
            p++;
            return true;
        }
        return false;
    }

    bool delimiter_at(int32_t p) const {
        if (p + static_cast<int32_t>(delimiter.size()) > n_) return false;
        for (size_t k = 0; k < delimiter.size(); k++)
            if (s_[p + k] != delimiter[k]) return false;
        return true;
    }

    bool value_char_q(uint32_t c) const {
        if (c == '\n' || c == '\r') return false;
        for (uint32_t d : delimiter)
            if (c == d) return false;
        return true;
    }

    int32_t skip_spaces(int32_t p) const {
        if (trim)
            while (p < n_ && s_[p] == ' ') p++;
        return p;
    }

    bool quoted_value() {
        int32_t p = skip_spaces(pos_);
        if (p >= n_ || s_[p] != quote) return false;
        p++;
        value_.clear();
        quoted_ = true;
        for (;;) {
            if (p < n_ && s_[p] != quote) {
                const int32_t start = p;
                while (p < n_ && s_[p] != quote) p++;
                value_.insert(value_.end(), s_.begin() + start, s_.begin() + p);
            } else if (p + 1 < n_ && s_[p] == quote && s_[p + 1] == quote) {
                value_.push_back(quote);
                p += 2;
            } else {
                break;
            }
        }
        if (p >= n_) return false;
        pos_ = skip_spaces(p + 1);
        return true;
    }

    void single_value() {
        if (quoted_value()) return;
        const int32_t start = pos_;
        while (pos_ < n_ && value_char_q(s_[pos_])) pos_++;
        value_.assign(s_.begin() + start, s_.begin() + pos_);
        quoted_ = false;
    }

    // Appends the value to the line; /trim trims it and takes the quotes off
    // an unquoted value held in them. May collect.
    void add_value() {
        Cell* v = stack::push_cell();
        make_text(v, value_.data(), value_.size());
        if (trim) {
            actions::trim(v, false, false, false, false, false, nullptr);
            std::vector<uint32_t> t;
            read_chars(v, t);
            if (!quoted_ && t.size() >= 2 && t.front() == quote && t.back() == quote) {
                std::vector<uint32_t> u;
                for (size_t i = 1; i + 1 < t.size(); i++) {
                    u.push_back(t[i]);
                    if (t[i] == quote && i + 2 < t.size() && t[i + 1] == quote) i++;
                }
                make_text(v, u.data(), u.size());
            }
        }
        block::ms_append(line_, v);
        stack::pop(1);
    }

    void values() {
        for (;;) {
            const int32_t start = pos_;
            single_value();
            if (!delimiter_at(pos_)) {
                pos_ = start;
                break;
            }
            pos_ += static_cast<int32_t>(delimiter.size());
            add_value();
            if (pos_ == start) break;
        }
        single_value();
        add_value();
    }

    void read_header() {
        const int32_t start = pos_;
        values();
        if (!(line_end(pos_) || pos_ == n_)) {
            pos_ = start;
            return;
        }
        if ((at_head_ && pos_ == 0) || pos_ == n_) {
            Cell* text = string::push_new(64);
            string::concatenate_literal(text, "CSV data are too small to use /HEADER refinement");
            fire(err::message, text);
        }
        block::make_at(names_, block::ms_length_q(line_));
        block::ms_append_block(names_, line_);
        block::ms_clear(line_);
    }

    bool line_rule() {
        mark_ = pos_;
        int32_t p = pos_;
        while (line_end(p)) {
        }
        if (p == n_) return false;
        values();
        if (!(line_end(pos_) || pos_ == n_)) return false;
        add_line();
        return true;
    }

    // May collect.
    void add_line() {
        int32_t count = block::ms_length_q(line_);
        if (ignore_empty && count > 0 &&
            string::ms_length_q(block::ms_abs_at(line_, count - 1)) == 0) {
            block::ms_remove_last(line_);
            count--;
        }
        if (lines_ == 0) longest_ = count;
        lines_++;
        if (strict && count != longest_) {
            result_ = stack::push_cell();
            returned_error(result_, "Data are not aligned");
            failed_ = true;
            return;
        }
        if (count > longest_) longest_ = count;
        if (as_records) {
            while (longest_ > block::ms_length_q(names_)) {
                Cell* name = stack::push_cell();
                next_column_name(block::ms_abs_at(names_, block::ms_length_q(names_) - 1), name);
                block::ms_append(names_, name);
                stack::pop(1);
            }
            Cell* pairs = stack::push_cell();
            block::make_at(pairs, 2 * count);
            for (int32_t i = 0; i < count; i++) {
                Cell k = *block::ms_abs_at(names_, i);
                block::ms_append(pairs, &k);
                Cell v = *block::ms_abs_at(line_, i);
                block::ms_append(pairs, &v);
            }
            map_of_pairs(pairs, pairs);
            block::ms_append(output_, pairs);
            stack::pop(1);
        } else if (flat) {
            block::ms_append_block(output_, line_);
        } else {
            Cell* copy = stack::push_cell();
            block::make_at(copy, count);
            block::ms_append_block(copy, line_);
            block::ms_append(output_, copy);
            stack::pop(1);
        }
        block::ms_clear(line_);
    }

    // The map from each name to the block of its column's fields (none
    // where a row is shorter). May collect.
    void columns(Cell* out) {
        if (longest_ > block::ms_length_q(names_)) make_header(longest_, names_);
        const int32_t n = block::ms_length_q(names_);
        const int32_t rows = block::ms_length_q(output_);
        Cell* pairs = stack::push_cell();
        block::make_at(pairs, 2 * n);
        for (int32_t i = 0; i < n; i++) {
            Cell k = *block::ms_abs_at(names_, i);
            block::ms_append(pairs, &k);
            Cell* column = stack::push_cell();
            block::make_at(column, rows);
            for (int32_t r = 0; r < rows; r++) {
                Cell* row = block::ms_abs_at(output_, r);
                Cell field;
                if (i < block::ms_length_q(row))
                    field = *block::ms_abs_at(row, row->data1 + i);
                else
                    make_none(&field);
                block::ms_append(column, &field);
            }
            block::ms_append(pairs, column);
            stack::pop(1);
        }
        map_of_pairs(pairs, out);
        stack::pop(1);
    }
};

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

class Writer {
  public:
    Writer(std::vector<uint32_t> delimiter, uint32_t quote, bool strict)
        : delimiter_(std::move(delimiter)), quote_(quote), strict_(strict) {}

    std::vector<uint32_t> out;

    // One line of the values of the block (from its index). May collect.
    void line(Cell* values) {
        const int32_t n = block::ms_length_q(values);
        for (int32_t i = 0; i < n; i++) {
            Cell* v = stack::push(block::ms_abs_at(values, values->data1 + i));
            field(v);
            stack::pop(1);
            if (i + 1 < n) out.insert(out.end(), delimiter_.begin(), delimiter_.end());
        }
        out.push_back('\n');
    }

    // Whether the record blocks of data all have the first one's length
    // (length? raising as in the source for items that have none).
    bool aligned_blocks(Cell* data) {
        const int32_t n = block::ms_length_q(data);
        Cell* first = stack::push(block::ms_abs_at(data, data->data1));
        const int32_t length = actions::length_q(first);
        bool ok = true;
        for (int32_t i = 0; i < n && ok; i++) {
            Cell* r = stack::push(block::ms_abs_at(data, data->data1 + i));
            ok = actions::length_q(r) == length;
            stack::pop(1);
        }
        stack::pop(1);
        return ok;
    }

    // Columns of a map or object: the header and one line per row. false
    // when strict? finds columns of different lengths. May collect.
    bool columns(Cell* data) {
        Cell* saved = stack::top;
        Cell* values = actions::reflect(data, static_cast<int32_t>(words::values));
        const int32_t n = block::ms_length_q(values);
        int32_t length = 0;
        if (n > 0) {
            Cell* first = stack::push(block::ms_abs_at(values, values->data1));
            length = actions::length_q(first);
        }
        if (strict_) {
            for (int32_t i = 0; i < n; i++) {
                Cell* column = stack::push(block::ms_abs_at(values, values->data1 + i));
                const bool ok = actions::length_q(column) == length;
                stack::pop(1);
                if (!ok) {
                    stack::top = saved;
                    return false;
                }
            }
        }
        Cell* keys = actions::reflect(data, static_cast<int32_t>(words::words));
        line(keys);
        Cell* row = stack::push_cell();
        block::make_at(row, n);
        for (int32_t index = 1; index <= length; index++) {
            block::ms_clear(row);
            for (int32_t i = 0; i < n; i++) {
                Cell* column = stack::push(block::ms_abs_at(values, values->data1 + i));
                Cell* item = actions::pick(column, index, nullptr);
                Cell v = *item;
                block::ms_append(row, &v);
                stack::pop(stack::top - column);
            }
            line(row);
        }
        stack::top = saved;
        return true;
    }

    // Records that are maps or objects: the words of all of them, then one
    // line per record; a missing key or none gives an empty field. May
    // collect.
    void records(Cell* data) {
        Cell* saved = stack::top;
        const int32_t n = block::ms_length_q(data);
        Cell* first = stack::push(block::ms_abs_at(data, data->data1));
        Cell* columns = stack::push_cell();
        Cell* words0 = actions::reflect(first, static_cast<int32_t>(words::words));
        block::make_at(columns, block::ms_length_q(words0) + 4);
        block::ms_append_block(columns, words0);
        for (int32_t i = 1; i < n; i++) {
            Cell* record = stack::push(block::ms_abs_at(data, data->data1 + i));
            Cell* ws = actions::reflect(record, static_cast<int32_t>(words::words));
            for (int32_t k = 0; k < block::ms_length_q(ws); k++) {
                Cell* w = stack::push(block::ms_abs_at(ws, ws->data1 + k));
                Cell* mark = stack::top;
                Cell* found = actions::find(columns, w, nullptr, false, true, false, false, nullptr,
                                            nullptr, false, false, false, false);
                const bool present = type_of(found) != TYPE_NONE;
                stack::top = mark;
                if (!present) block::ms_append(columns, w);
                stack::pop(1);
            }
            stack::top = record;
        }
        line(columns);
        const int32_t width = block::ms_length_q(columns);
        Cell* row = stack::push_cell();
        block::make_at(row, width);
        for (int32_t i = 0; i < n; i++) {
            block::ms_clear(row);
            Cell* record = stack::push(block::ms_abs_at(data, data->data1 + i));
            for (int32_t k = 0; k < width; k++) {
                Cell* key = stack::push(block::ms_abs_at(columns, k));
                Cell* v = actions::select(record, key, nullptr, false, true, false, false, nullptr,
                                          nullptr, false, false);
                Cell copy = *v;
                if (type_of(&copy) == TYPE_NONE) {
                    string::make_at(&copy, 1, 1);
                    Cell* held = stack::push(&copy);
                    block::ms_append(row, held);
                } else {
                    block::ms_append(row, &copy);
                }
                stack::top = key;
            }
            stack::top = record;
            line(row);
        }
        stack::top = saved;
    }

  private:
    std::vector<uint32_t> delimiter_;
    uint32_t quote_;
    bool strict_;
    std::vector<uint32_t> text_;

    bool quotable_q(uint32_t c) const {
        if (c == ' ' || c == '\n' || c == '\r' || c == quote_) return true;
        for (uint32_t d : delimiter_)
            if (c == d) return true;
        return false;
    }

    // The formed value, its quotes doubled, in quotes when that changed it
    // or when it holds a character that needs them. May collect.
    void field(Cell* v) {
        text_.clear();
        if (type_of(v) == TYPE_STRING) {
            read_chars(v, text_);
        } else if (type_of(v) == TYPE_INTEGER) {
            for (char c : std::to_string(get_integer(v))) text_.push_back(static_cast<uint8_t>(c));
        } else {
            Cell* formed = stack::push_cell();
            string::make_at(formed, 16, 1);
            actions::form(v, formed, nullptr, INT32_MAX);
            read_chars(formed, text_);
            stack::pop(1);
        }
        bool quoted = false;
        for (uint32_t c : text_) quoted = quoted || quotable_q(c);
        if (quoted) out.push_back(quote_);
        for (uint32_t c : text_) {
            out.push_back(c);
            if (c == quote_) out.push_back(c);
        }
        if (quoted) out.push_back(quote_);
    }
};

// The result string of the writer into out. May collect.
void written(Writer& w, Cell* out) { make_text(out, w.out.data(), w.out.size()); }

// ---------------------------------------------------------------------------
// Bodies (slots in spec order: see evaluator/routines.h)
// ---------------------------------------------------------------------------

// load-csv: data /with delimiter /header /as-columns /as-records /flat
// /trim /quote qt-char
void load_csv_body() {
    Cell* a = stack::arguments;
    static const char* const names[] = {"header", "as-columns", "as-records", "flat"};
    bool on[4] = {logic::truthy(a + 3), logic::truthy(a + 4), logic::truthy(a + 5),
                  logic::truthy(a + 6)};
    static const int pairs[4][2] = {{1, 2}, {3, 1}, {3, 2}, {3, 0}};
    for (const auto& p : pairs) {
        if (on[p[0]] && on[p[1]]) {
            const std::string text = std::string("Cannot use /") + names[p[0]] + " and /" +
                                     names[p[1]] + " refinements together";
            returned_error(a, text.c_str());
            return;
        }
    }
    std::vector<uint32_t> text;
    read_chars(a, text);
    json::DecodePause pause;
    const bool at_head = a->data1 == 0;
    Cell q;
    make_char(&q, logic::truthy(a + 8) ? a[9].data2 : '"');
    set_setting("quote-char", &q);
    Loader loader(std::move(text), at_head);
    loader.header = on[0];
    loader.as_columns = on[1] || (on[0] && !on[2]);
    loader.as_records = on[2];
    loader.flat = on[3];
    loader.trim = logic::truthy(a + 7);
    loader.quote = q.data2;
    if (logic::truthy(a + 1))
        loader.delimiter = delimiter_of(a + 2);
    else
        loader.delimiter.push_back(',');
    loader.strict = setting_on("strict?", true);
    loader.ignore_empty = setting_on("ignore-empty?", false);
    Cell* result = stack::push_cell();
    make_none(result);
    loader.run(result);
    *a = *result;
}

// to-csv: data /with delimiter /skip size /quote qt-char
void to_csv_body() {
    Cell* a = stack::arguments;
    std::vector<uint32_t> delimiter;
    if (logic::truthy(a + 1))
        delimiter = delimiter_of(a + 2);
    else
        delimiter.push_back(',');
    const uint32_t quote = logic::truthy(a + 5) ? a[6].data2 : '"';
    // The settings the source leaves behind: quote-char, double-quote and
    // quotable-chars.
    Cell q;
    make_char(&q, quote);
    set_setting("quote-char", &q);
    Cell* doubled = stack::push_cell();
    const uint32_t qq[2] = {quote, quote};
    make_text(doubled, qq, 2);
    set_setting("double-quote", doubled);
    std::vector<uint32_t> quotable = {' ', '\n', '\r', quote};
    quotable.insert(quotable.end(), delimiter.begin(), delimiter.end());
    Cell* spec = stack::push_cell();
    make_text(spec, quotable.data(), quotable.size());
    Cell* proto = stack::push_cell();
    make_datatype(proto, TYPE_BITSET);
    Cell* bits = actions::make(proto, spec);
    set_setting("quotable-chars", bits);

    Writer w(delimiter, quote, setting_on("strict?", true));
    Cell* result = stack::push_cell();
    make_none(result);
    const uint32_t t = type_of(a);
    if (t == TYPE_MAP || t == TYPE_OBJECT) {
        if (w.columns(a))
            written(w, result);
        else
            returned_error(result, "Data are not aligned");
        *a = *result;
        return;
    }
    if (logic::truthy(a + 3)) {
        const int32_t size = get_integer(a + 4);
        const int32_t n = block::ms_length_q(a);
        if (size < 1 || n % size != 0) {
            returned_error(a, "Data are not aligned");
            return;
        }
        Cell* record = stack::push_cell();
        block::make_at(record, size);
        for (int32_t i = 0; i < n; i += size) {
            block::ms_clear(record);
            for (int32_t k = 0; k < size; k++) {
                Cell v = *block::ms_abs_at(a, a->data1 + i + k);
                block::ms_append(record, &v);
            }
            w.line(record);
        }
        written(w, result);
        *a = *result;
        return;
    }
    Cell* data = stack::push(a);
    auto first_type = [&]() {
        return block::ms_length_q(data) > 0 ? type_of(block::ms_abs_at(data, data->data1))
                                            : uint32_t{TYPE_NONE};
    };
    uint32_t ft = first_type();
    if (ft != TYPE_BLOCK && ft != TYPE_MAP && ft != TYPE_OBJECT) {
        Cell* wrapped = stack::push_cell();
        block::make_at(wrapped, 1);
        block::ms_append(wrapped, data);
        *data = *wrapped;
        ft = first_type();
    }
    bool same = true;
    for (int32_t i = 0; i < block::ms_length_q(data) && same; i++)
        same = type_of(block::ms_abs_at(data, data->data1 + i)) == ft;
    if ((ft == TYPE_MAP || ft == TYPE_OBJECT) && same) {
        w.records(data);
    } else {
        if (!w.aligned_blocks(data)) {
            returned_error(a, "Data are not aligned");
            return;
        }
        for (int32_t i = 0; i < block::ms_length_q(data); i++) {
            Cell* record = stack::push(block::ms_abs_at(data, data->data1 + i));
            w.line(record);
            stack::pop(1);
        }
    }
    written(w, result);
    *a = *result;
}

} // namespace

void register_csv() {
    routines::bind_native_body("load-csv", &load_csv_body);
    routines::bind_native_body("to-csv", &to_csv_body);
}

} // namespace mox::csv
