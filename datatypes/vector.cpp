// vector!: packed numbers of one element type and size, their text form,
// comparison, element-wise arithmetic and the changing actions. The
// navigation, pick, poke, take and copy of string! serve it through
// read_value and store_value.
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

namespace mox::vector {

using memory::SeriesBuffer;

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFF0;

inline SeriesBuffer* buffer_of(const Cell* vec) { return memory::buffer_of(vec->data2); }
inline uint32_t size_of(const Cell* vec) { return buffer_of(vec)->unit(); }
inline uint32_t total_of(const Cell* vec) {
    SeriesBuffer* b = buffer_of(vec);
    return b->used_bytes() / b->unit();
}
inline uint8_t* element_at(const Cell* vec, uint32_t i) {
    SeriesBuffer* b = buffer_of(vec);
    return b->head_ptr() + size_t{i} * b->unit();
}
inline bool float_type_q(uint32_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT; }
inline uint32_t default_size(uint32_t type) { return float_type_q(type) ? 8 : 4; }

int32_t read_int(const uint8_t* at, uint32_t type, uint32_t size) {
    switch (size) {
    case 1:
        return type == TYPE_CHAR ? int32_t{*at} : int32_t{static_cast<int8_t>(*at)};
    case 2: {
        uint16_t u;
        std::memcpy(&u, at, 2);
        return type == TYPE_CHAR ? int32_t{u} : int32_t{static_cast<int16_t>(u)};
    }
    default: {
        int32_t i;
        std::memcpy(&i, at, 4);
        return i;
    }
    }
}

double read_float(const uint8_t* at, uint32_t size) {
    if (size == 4) {
        float f;
        std::memcpy(&f, at, 4);
        return f;
    }
    double d;
    std::memcpy(&d, at, 8);
    return d;
}

void write_int(uint8_t* at, uint32_t size, int32_t value) {
    uint32_t u = static_cast<uint32_t>(value);
    if (size == 1) {
        *at = static_cast<uint8_t>(u);
    } else if (size == 2) {
        uint16_t h = static_cast<uint16_t>(u);
        std::memcpy(at, &h, 2);
    } else {
        std::memcpy(at, &u, 4);
    }
}

void write_float(uint8_t* at, uint32_t size, double value) {
    if (size == 4) {
        float f = static_cast<float>(value);
        std::memcpy(at, &f, 4);
    } else {
        std::memcpy(at, &value, 8);
    }
}

// Makes room for extra bytes after the tail, at least doubling the buffer.
// May collect.
SeriesBuffer* reserve(Cell* vec, uint64_t extra) {
    SeriesBuffer* b = buffer_of(vec);
    if (static_cast<uint64_t>(b->end() - b->tail_ptr()) >= extra) return b;
    uint64_t needed = uint64_t(b->end() - b->data()) - (b->end() - b->tail_ptr()) + extra;
    if (needed > MAX_BYTES) fire(err::no_memory);
    uint64_t size = std::min(std::max(needed, uint64_t{b->size} * 2), MAX_BYTES);
    return memory::expand_series(b, static_cast<uint32_t>(size));
}

// Replaces removed elements at element offset by reps copies of the values
// (already checked). May collect.
void splice(Cell* vec, uint32_t offset, uint32_t removed, const std::vector<Cell>& values,
            uint32_t reps) {
    uint32_t size = size_of(vec);
    uint64_t added = uint64_t{values.size()} * reps;
    uint64_t total = uint64_t{total_of(vec)} - removed + added;
    if (added * size > MAX_BYTES || total * size > MAX_BYTES) fire(err::no_memory);
    if (added > removed) reserve(vec, (added - removed) * size);
    SeriesBuffer* b = buffer_of(vec);
    uint8_t* at = b->head_ptr() + size_t{offset} * size;
    size_t after = b->used_bytes() - (size_t{offset} + removed) * size;
    std::memmove(at + added * size, at + size_t{removed} * size, after);
    for (size_t i = 0; i < values.size(); i++) store_value(at + i * size, &values[i], size);
    if (!values.empty())
        memory::repeat_bytes(at, static_cast<uint32_t>(values.size() * size), reps);
    b->tail = b->head + static_cast<uint32_t>(total * size);
}

// The values a block, paren or hash holds from its index (at most count when
// count >= 0), or a vector's elements, or the value itself; each checked
// against the vector's element type before anything changes.
std::vector<Cell> values_of(const Cell* vec, const Cell* value, int64_t count, bool paths) {
    std::vector<Cell> out;
    uint32_t t = type_of(value);
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (paths && is_any_path(t))) {
        int32_t n = block::rs_length_q(value);
        const Cell* p = block::rs_head(value);
        if (count >= 0) n = static_cast<int32_t>(std::min<int64_t>(n, count));
        out.assign(p, p + std::max(n, 0));
    } else if (t == TYPE_VECTOR && paths) {
        int32_t n = ms_length_q(value);
        uint32_t size = size_of(value);
        out.resize(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; i++)
            read_value(element_at(value, value->data1 + static_cast<uint32_t>(i)), value->data3,
                       size, &out[static_cast<size_t>(i)]);
    } else {
        out.push_back(*value);
    }
    for (const Cell& c : out) check_value(vec, &c);
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

int32_t ms_length_q(const Cell* vec) {
    uint32_t total = total_of(vec);
    return vec->data1 < total ? static_cast<int32_t>(total - vec->data1) : 0;
}

void ms_clear(Cell* vec) {
    SeriesBuffer* b = buffer_of(vec);
    uint32_t index = std::min(vec->data1, total_of(vec));
    b->tail = b->head + index * b->unit();
}

void ms_append_int(Cell* vec, int32_t value) {
    SeriesBuffer* b = reserve(vec, 4);
    std::memcpy(b->tail_ptr(), &value, 4);
    b->tail += 4;
}

Cell* make_cell(Cell* cell, uint32_t count, uint32_t type, uint32_t size) {
    uint64_t bytes = uint64_t{std::max(count, 1u)} * size;
    if (bytes > MAX_BYTES) fire(err::no_memory);
    node_t node = memory::alloc_units(std::max(count, 1u), size);
    *cell = Cell{TYPE_VECTOR, 0, node, type};
    return cell;
}

Cell* read_value(const uint8_t* at, uint32_t type, uint32_t size, Cell* out) {
    if (float_type_q(type)) return make_float(out, read_float(at, size), type);
    if (type == TYPE_CHAR) return make_char(out, static_cast<uint32_t>(read_int(at, type, size)));
    return make_integer(out, read_int(at, type, size));
}

Cell* push_value(const uint8_t* at, uint32_t type, uint32_t size) {
    Cell c;
    read_value(at, type, size, &c);
    return stack::push(&c);
}

void check_value(const Cell* vec, const Cell* value) {
    if (type_of(value) != vec->data3) fire(err::invalid_arg, value);
}

void store_value(uint8_t* at, const Cell* value, uint32_t size) {
    if (float_type_q(type_of(value)))
        write_float(at, size, get_float(value));
    else
        write_int(at, size, static_cast<int32_t>(value->data2));
}

Cell* to_block(const Cell* vec_in) {
    Cell* vec = stack::push(vec_in);
    int32_t n = ms_length_q(vec);
    Cell* out = block::push_only_star(std::max(n, 1));
    for (int32_t i = 0; i < n; i++) {
        Cell c;
        read_value(element_at(vec, vec->data1 + static_cast<uint32_t>(i)), vec->data3, size_of(vec),
                   &c);
        block::ms_append(out, &c);
    }
    *vec = *out;
    stack::pop(1);
    return vec;
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

namespace {

// The integer rule: add, subtract and multiply wrap around; divide truncates
// toward zero, -2147483648 / -1 wrapping to itself with remainder 0.
int32_t int_op(int32_t a, int32_t b, int32_t op) {
    switch (op) {
    case OP_ADD:
        return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
    case OP_SUB:
        return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
    case OP_MUL:
        return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
    case OP_DIV:
        if (b == 0) fire(err::zero_divide);
        if (b == -1) return static_cast<int32_t>(0u - static_cast<uint32_t>(a));
        return a / b;
    case OP_REM:
        if (b == 0) fire(err::zero_divide);
        if (b == -1) return 0;
        return a % b;
    case OP_OR:
        return a | b;
    case OP_AND:
        return a & b;
    default:
        return a ^ b;
    }
}

// A scalar for an integer or char vector: an integer! or char!, or a float!
// or percent! truncated toward zero; non-finite and out-of-range floats are
// refused.
int32_t int_scalar(const Cell* scalar) {
    uint32_t t = type_of(scalar);
    if (t == TYPE_INTEGER || t == TYPE_CHAR) return get_integer(scalar);
    if (!float_type_q(t)) fire(err::not_done);
    double d = get_float(scalar);
    if (!std::isfinite(d) || d >= 2147483648.0 || d <= -2147483649.0)
        fire(err::invalid_arg, scalar);
    return static_cast<int32_t>(d);
}

double float_scalar(const Cell* scalar) {
    uint32_t t = type_of(scalar);
    if (t == TYPE_INTEGER) return get_integer(scalar);
    if (!float_type_q(t)) fire(err::not_done);
    return get_float(scalar);
}

template <typename T>
void int_loop(uint8_t* p, uint32_t n, int32_t s, int32_t op, bool scalar_first) {
    for (uint32_t i = 0; i < n; i++) {
        T e;
        std::memcpy(&e, p + i * sizeof(T), sizeof(T));
        int32_t r = scalar_first ? int_op(s, static_cast<int32_t>(e), op)
                                 : int_op(static_cast<int32_t>(e), s, op);
        e = static_cast<T>(r);
        std::memcpy(p + i * sizeof(T), &e, sizeof(T));
    }
}

// The common operations on 32-bit elements get a loop of their own, so that
// the compiler can vectorise them. Unsigned arithmetic wraps as the element
// rule does.
void add_u32(uint32_t* e, uint32_t n, uint32_t u) {
    for (uint32_t i = 0; i < n; i++) e[i] += u;
}
void mul_u32(uint32_t* e, uint32_t n, uint32_t u) {
    for (uint32_t i = 0; i < n; i++) e[i] *= u;
}

// A large vector makes these loops memory-bound: the baseline instruction set
// moves 16 bytes a step (and has no 32-bit vector multiply), so on a
// processor that has them the same loops run on 32-byte registers. The work
// and its results are the same either way.
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2"))) void add_u32_avx2(uint32_t* e, uint32_t n, uint32_t u) {
    for (uint32_t i = 0; i < n; i++) e[i] += u;
}
__attribute__((target("avx2"))) void mul_u32_avx2(uint32_t* e, uint32_t n, uint32_t u) {
    for (uint32_t i = 0; i < n; i++) e[i] *= u;
}
bool avx2_q() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0; // processor and system both
    }();
    return yes;
}
#else
void add_u32_avx2(uint32_t* e, uint32_t n, uint32_t u) { add_u32(e, n, u); }
void mul_u32_avx2(uint32_t* e, uint32_t n, uint32_t u) { mul_u32(e, n, u); }
bool avx2_q() { return false; }
#endif

// Below this many elements the plain loop is as quick.
constexpr uint32_t kWideLoopFrom = 64;

bool fast_int32(uint8_t* p, uint32_t n, int32_t s, int32_t op, bool scalar_first) {
    auto* e = reinterpret_cast<uint32_t*>(p);
    uint32_t u = static_cast<uint32_t>(s);
    bool wide = n >= kWideLoopFrom && avx2_q();
    switch (op) {
    case OP_ADD:
        wide ? add_u32_avx2(e, n, u) : add_u32(e, n, u);
        return true;
    case OP_MUL:
        wide ? mul_u32_avx2(e, n, u) : mul_u32(e, n, u);
        return true;
    case OP_SUB:
        // v - s is v + (-s) in wrapping arithmetic.
        if (scalar_first) return false;
        wide ? add_u32_avx2(e, n, 0u - u) : add_u32(e, n, 0u - u);
        return true;
    default:
        return false;
    }
}

} // namespace

Cell* do_math_scalar(int32_t op, Cell* vec, const Cell* scalar, bool scalar_first) {
    uint32_t type = vec->data3;
    uint32_t size = size_of(vec);
    uint32_t n = static_cast<uint32_t>(ms_length_q(vec));
    uint8_t* p = element_at(vec, std::min(vec->data1, total_of(vec)));
    if (float_type_q(type)) {
        double s = float_scalar(scalar);
        if (!scalar_first && ((s == 0.0 && (op == OP_ADD || op == OP_SUB)) ||
                              (s == 1.0 && (op == OP_MUL || op == OP_DIV))))
            return vec;
        if (op > OP_REM) float_::do_math_op(0.0, 0.0, op);
        for (uint32_t i = 0; i < n; i++) {
            double e = read_float(p + size_t{i} * size, size);
            write_float(p + size_t{i} * size, size,
                        scalar_first ? float_::do_math_op(s, e, op) : float_::do_math_op(e, s, op));
        }
        return vec;
    }
    int32_t s = int_scalar(scalar);
    if (!scalar_first &&
        ((s == 0 && (op == OP_ADD || op == OP_SUB)) || (s == 1 && (op == OP_MUL || op == OP_DIV))))
        return vec;
    // A zero divisor is refused before any element changes.
    if (op == OP_DIV || op == OP_REM) {
        if (!scalar_first && s == 0) fire(err::zero_divide);
        for (uint32_t i = 0; scalar_first && i < n; i++)
            if (read_int(p + size_t{i} * size, type, size) == 0) fire(err::zero_divide);
    }
    switch (size) {
    case 1:
        if (type == TYPE_CHAR)
            int_loop<uint8_t>(p, n, s, op, scalar_first);
        else
            int_loop<int8_t>(p, n, s, op, scalar_first);
        break;
    case 2:
        if (type == TYPE_CHAR)
            int_loop<uint16_t>(p, n, s, op, scalar_first);
        else
            int_loop<int16_t>(p, n, s, op, scalar_first);
        break;
    default:
        if (!fast_int32(p, n, s, op, scalar_first)) int_loop<int32_t>(p, n, s, op, scalar_first);
    }
    return vec;
}

Cell* do_math_chain(Cell* vec, const int32_t* ops, const int32_t* scalars, int32_t count) {
    uint32_t type = vec->data3;
    if (float_type_q(type) || size_of(vec) != 4) {
        for (int32_t k = 0; k < count; k++) {
            Cell s;
            make_integer(&s, scalars[k]);
            do_math_scalar(ops[k], vec, &s);
        }
        return vec;
    }
    // A large vector makes each pass memory-bound: the chain is applied a
    // piece at a time, each piece staying in the cache for all of its
    // operations, so that memory is crossed once instead of once for each.
    constexpr uint32_t kPiece = 4096;
    uint32_t n = static_cast<uint32_t>(ms_length_q(vec));
    uint8_t* p = element_at(vec, std::min(vec->data1, total_of(vec)));
    for (uint32_t at = 0; at < n; at += kPiece) {
        uint32_t len = std::min(kPiece, n - at);
        for (int32_t k = 0; k < count; k++) {
            int32_t s = scalars[k];
            if ((s == 0 && ops[k] != OP_MUL) || (s == 1 && ops[k] == OP_MUL)) continue;
            if (!fast_int32(p + size_t{at} * 4, len, s, ops[k], false))
                int_loop<int32_t>(p + size_t{at} * 4, len, s, ops[k], false);
        }
    }
    return vec;
}

Cell* do_math(int32_t op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (type_of(b) != TYPE_VECTOR) return do_math_scalar(op, a, b);
    uint32_t type = a->data3;
    if (b->data3 != type) fire(err::not_same_type);
    uint32_t sa = size_of(a), sb = size_of(b);
    uint32_t size = std::max(sa, sb);
    uint32_t n = static_cast<uint32_t>(std::min(ms_length_q(a), ms_length_q(b)));
    Cell* out = make_cell(make_none(stack::push_cell()), n, type, size);
    bool floats = float_type_q(type);
    if (floats && op > OP_REM) float_::do_math_op(0.0, 0.0, op);
    uint8_t* pa = element_at(a, a->data1);
    uint8_t* pb = element_at(b, b->data1);
    uint8_t* po = buffer_of(out)->head_ptr();
    for (uint32_t i = 0; i < n; i++) {
        if (floats) {
            double r = float_::do_math_op(read_float(pa + size_t{i} * sa, sa),
                                          read_float(pb + size_t{i} * sb, sb), op);
            write_float(po + size_t{i} * size, size, r);
        } else {
            int32_t r = int_op(read_int(pa + size_t{i} * sa, type, sa),
                               read_int(pb + size_t{i} * sb, type, sb), op);
            write_int(po + size_t{i} * size, size, r);
        }
    }
    buffer_of(out)->tail = buffer_of(out)->head + n * size;
    *a = *out;
    stack::pop(1);
    return a;
}

namespace {

Cell* add() { return do_math(OP_ADD); }
Cell* subtract() { return do_math(OP_SUB); }
Cell* multiply() { return do_math(OP_MUL); }
Cell* divide() { return do_math(OP_DIV); }
Cell* remainder() { return do_math(OP_REM); }
Cell* and_t() { return do_math(OP_AND); }
Cell* or_t() { return do_math(OP_OR); }
Cell* xor_t() { return do_math(OP_XOR); }

// ---------------------------------------------------------------------------
// make
// ---------------------------------------------------------------------------

constexpr uint32_t kElementTypes[] = {TYPE_INTEGER, TYPE_CHAR, TYPE_FLOAT, TYPE_PERCENT};

// The canonical symbols of the element type names, made on first use (may
// collect then, so it runs before any cell of a spec is read).
const uint32_t* type_symbols() {
    static uint32_t syms[4] = {};
    if (!syms[0])
        for (int i = 0; i < 4; i++)
            syms[i] = symbol::resolve(symbol::make(datatype::name_table[kElementTypes[i]].name));
    return syms;
}

uint32_t type_word(const Cell* word) {
    if (type_of(word) != TYPE_WORD) return 0;
    uint32_t sym = symbol::resolve(word->data2);
    for (int i = 0; i < 4; i++)
        if (sym == type_symbols()[i]) return kElementTypes[i];
    return 0;
}

// Fills a new vector of the type and size with the initial values, zeros up
// to count. May collect.
Cell* build(uint32_t type, uint32_t size, int64_t count, const Cell* init) {
    Cell proto = Cell{TYPE_VECTOR, 0, 0, type};
    std::vector<Cell> values;
    if (init) {
        int32_t n = block::rs_length_q(init);
        const Cell* p = block::rs_head(init);
        values.assign(p, p + n);
        for (const Cell& c : values) check_value(&proto, &c);
    }
    uint64_t length =
        std::max<uint64_t>(values.size(), static_cast<uint64_t>(std::max<int64_t>(count, 0)));
    if (length * size > MAX_BYTES) fire(err::no_memory);
    Cell* out = make_cell(make_none(stack::push_cell()), static_cast<uint32_t>(length), type, size);
    SeriesBuffer* b = buffer_of(out);
    std::memset(b->head_ptr(), 0, length * size);
    for (size_t i = 0; i < values.size(); i++)
        store_value(b->head_ptr() + i * size, &values[i], size);
    b->tail = b->head + static_cast<uint32_t>(length * size);
    return out;
}

[[noreturn]] void fire_bad_make(const Cell* spec) { fire_bad_make_arg(TYPE_VECTOR, spec); }

Cell* make_typed(Cell* spec) {
    int32_t n = block::rs_length_q(spec);
    if (n < 2) fire_bad_make(spec);
    const Cell* p = block::rs_head(spec);
    uint32_t type = type_word(p);
    if (!type) fire_bad_make(spec);
    int32_t at = 1;
    uint32_t size;
    if (type_of(p + 1) == TYPE_INTEGER) {
        int32_t bits = get_integer(p + 1);
        at = 2;
        if (type == TYPE_PERCENT) bits = 64;
        bool ok = float_type_q(type) ? (bits == 32 || bits == 64)
                                     : (bits == 8 || bits == 16 || bits == 32);
        if (!ok) fire_bad_make(spec);
        size = static_cast<uint32_t>(bits / 8);
    } else if (type == TYPE_PERCENT) {
        size = 8;
    } else {
        fire(err::invalid_spec_field, spec);
    }
    int64_t count = 0;
    const Cell* init = nullptr;
    if (at < n && type_of(p + at) == TYPE_INTEGER) {
        count = get_integer(p + at);
        at++;
    }
    if (at < n) {
        if (type_of(p + at) != TYPE_BLOCK) fire(err::invalid_spec_field, spec);
        init = p + at;
        at++;
    }
    if (at < n) fire(err::invalid_spec_field, spec);
    return build(type, size, count, init);
}

} // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    type_symbols();
    uint32_t t = type_of(spec);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT)
        return build(TYPE_INTEGER, 4, integer::get_int(spec), nullptr);
    if (t != TYPE_BLOCK) fire(err::not_done);
    int32_t n = block::rs_length_q(spec);
    if (n == 0) return build(TYPE_INTEGER, 4, 0, nullptr);
    const Cell* first = block::rs_head(spec);
    if (type_of(first) == TYPE_WORD) return make_typed(spec);
    uint32_t et = type_of(first);
    if (et != TYPE_INTEGER && et != TYPE_CHAR && !float_type_q(et)) {
        Cell dt;
        make_datatype(&dt, et);
        fire(err::invalid_type, &dt);
    }
    return build(et, default_size(et), 0, spec);
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

namespace {

int32_t append_text(Cell* buffer, const char* text, int32_t n) {
    string::concatenate_literal(buffer, text);
    return n;
}

// One element's text; returns the characters appended.
int32_t element_text(Cell* vec, uint32_t i, Cell* buffer, bool mold) {
    uint32_t type = vec->data3, size = size_of(vec);
    const uint8_t* at = element_at(vec, i);
    char text[float_::TEXT_SIZE];
    switch (type) {
    case TYPE_CHAR: {
        uint32_t cp = static_cast<uint32_t>(read_int(at, type, size));
        int32_t n = 0;
        if (mold) n += append_text(buffer, "#\"", 2);
        n += string::append_escaped_char(buffer, cp, false);
        if (mold) n += append_text(buffer, "\"", 1);
        return n;
    }
    case TYPE_INTEGER: {
        int32_t n = integer::form_signed(read_int(at, type, size), text);
        return append_text(buffer, text, n);
    }
    case TYPE_FLOAT: {
        int n = float_::form_float(read_float(at, size),
                                   size == 4 ? float_::KIND_FLOAT32 : float_::KIND_FLOAT, text);
        return append_text(buffer, text, n);
    }
    default: {
        double v = read_float(at, size);
        int n = float_::form_float(v * 100.0, float_::KIND_PERCENT, text);
        return append_text(buffer, text, n);
    }
    }
}

int32_t elements_text(Cell* vec, Cell* buffer, Cell* part, int32_t limit, bool mold) {
    uint32_t n = static_cast<uint32_t>(ms_length_q(vec));
    for (uint32_t i = 0; i < n; i++) {
        if (part && limit <= 0) break;
        if (i > 0) {
            string::append_char(buffer, ' ');
            limit--;
        }
        limit -= element_text(vec, vec->data1 + i, buffer, mold);
    }
    return limit;
}

} // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return elements_text(value, buffer, part, limit, false);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (!only) limit -= append_text(buffer, "make vector! [", 14);
    uint32_t type = value->data3, size = size_of(value);
    bool plain = ms_length_q(value) > 0 && size == default_size(type);
    if (!plain) {
        char bits[16];
        integer::form_signed(static_cast<int32_t>(size * 8), bits);
        limit -= append_text(buffer, datatype::name_table[type].name,
                             static_cast<int32_t>(std::strlen(datatype::name_table[type].name)));
        string::append_char(buffer, ' ');
        limit -= append_text(buffer, bits, static_cast<int32_t>(std::strlen(bits))) + 1;
        limit -= append_text(buffer, " [", 2);
    }
    limit = elements_text(value, buffer, part, limit, true);
    if (!plain) limit -= append_text(buffer, "]", 1);
    if (!only) limit -= append_text(buffer, "]", 1);
    return limit;
}

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_VECTOR) return COMPARE_NOT_COMPARABLE;
    if (value1->data3 != value2->data3) fire(err::not_same_type);
    if (value1->data2 == value2->data2 && value1->data1 == value2->data1) return 0;
    if (op == COMP_SAME) return -1;
    int32_t n1 = ms_length_q(value1), n2 = ms_length_q(value2);
    bool equality =
        op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (equality && n1 != n2) return 1;
    uint32_t type = value1->data3, s1 = size_of(value1), s2 = size_of(value2);
    int32_t common = std::min(n1, n2);
    for (int32_t i = 0; i < common; i++) {
        const uint8_t* a = element_at(value1, value1->data1 + static_cast<uint32_t>(i));
        const uint8_t* b = element_at(value2, value2->data1 + static_cast<uint32_t>(i));
        if (float_type_q(type)) {
            double x = read_float(a, s1), y = read_float(b, s2);
            // NaN equals nothing, itself included.
            if (std::isnan(x) || std::isnan(y)) return 1;
            if (x != y) return x < y ? -1 : 1;
        } else {
            int32_t x = read_int(a, type, s1), y = read_int(b, type, s2);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return (n1 > n2) - (n1 < n2);
}

// ---------------------------------------------------------------------------
// Changing
// ---------------------------------------------------------------------------

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    uint32_t total = total_of(series);
    if (series->data1 > total) series->data1 = total;
    uint32_t index = series->data1;
    uint32_t offset = append ? total : index;
    std::vector<Cell> values = values_of(series, value, part, false);
    if (dup < 1 || values.empty()) return series;
    uint32_t reps = static_cast<uint32_t>(dup);
    splice(series, offset, 0, values, reps);
    if (!append) series->data1 = offset + static_cast<uint32_t>(values.size()) * reps;
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t total = total_of(series);
    if (series->data1 > total) series->data1 = total;
    uint32_t index = series->data1;
    uint32_t room = total - index;
    std::vector<Cell> values = values_of(series, value, -1, true);
    uint32_t reps = static_cast<uint32_t>(std::max(dup, 1));
    uint64_t written = uint64_t{values.size()} * reps;
    if (written * size_of(series) > MAX_BYTES) fire(err::no_memory);
    uint64_t wanted = part >= 0 ? static_cast<uint64_t>(part) : written;
    uint32_t removed = static_cast<uint32_t>(std::min<uint64_t>(wanted, room));
    bool told = series::notify(series, series::Change::change, value, static_cast<int32_t>(index),
                               static_cast<int32_t>(removed));
    total = total_of(series);
    index = std::min(index, total);
    removed = std::min(removed, total - index);
    splice(series, index, removed, values, reps);
    if (told)
        series::notify(series, series::Change::changed, value, static_cast<int32_t>(index),
                       static_cast<int32_t>(written));
    series->data1 = std::min(index + static_cast<uint32_t>(written), total_of(series));
    return series;
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::none();
    slots.set<A_MAKE>(&make).set<A_FORM>(&form).set<A_MOLD>(&mold).set<A_COMPARE>(&compare);
    slots.set<A_ADD>(&add).set<A_SUBTRACT>(&subtract).set<A_MULTIPLY>(&multiply);
    slots.set<A_DIVIDE>(&divide).set<A_REMAINDER>(&remainder);
    slots.set<A_AND_T>(&and_t).set<A_OR_T>(&or_t).set<A_XOR_T>(&xor_t);
    slots.set<A_APPEND>(&insert).set<A_INSERT>(&insert).set<A_CHANGE>(&change);
    for (Action a :
         {A_RANDOM, A_REFLECT, A_EVAL_PATH, A_AT,   A_BACK,   A_CLEAR, A_COPY,  A_FIND,   A_HEAD,
          A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q,  A_MOVE, A_NEXT,   A_PICK,  A_POKE,  A_REMOVE, A_REVERSE,
          A_SELECT, A_SORT,    A_SKIP,      A_TAIL, A_TAIL_Q, A_TAKE,  A_MODIFY})
        slots.slot[a - 1] = datatype::INHERIT;
    datatype::register_type(TYPE_VECTOR, TYPE_STRING, "vector!", slots);
    datatype::provide<A_MATH_CHAIN>(TYPE_VECTOR, &do_math_chain);
}

} // namespace mox::vector
