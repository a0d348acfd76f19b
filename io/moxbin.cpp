#include "io/moxbin.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/actions-entry.h"
#include "core/collector.h"
#include "core/console.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/image-store.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "io/lz.h"

namespace mox::moxbin {

bool codec_q = true;

namespace {

constexpr uint8_t FLAG_COMPACT = 1, FLAG_COMPRESSED = 2, FLAG_SYMBOLS = 4;
constexpr uint8_t PREFIX_NEW_LINE = 0xC0, PREFIX_SHARED = 0xC1, LEAD_TRUE = 0xC2, LEAD_FALSE = 0xC3,
                  PREFIX_DEFINE = 0xC4, LEAD_REFERENCE = 0xFF;
constexpr uint8_t TYPE_BIT6 = 0x40;
// Fixed-width record header bits.
constexpr uint32_t FX_NEW_LINE = 1u << 31, FX_SHARED = 1u << 19, FX_NEGATIVE = 1u << 22,
                   FX_COMPLEMENT = 1u << 23, FX_HANDLERS = 1u << 24, FX_GLOBAL = 1u << 25,
                   FX_REFERENCE = 255;
constexpr uint32_t PATH_MAX_STEPS = 65536;

bool is_plain_block(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || is_any_path(t); }
bool has_head(uint32_t t) {
    return is_any_block(t) || is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE;
}
bool unsavable(uint32_t t) {
    return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT ||
           t == TYPE_EVENT;
}
// Types whose records this codec reads and writes.
bool codable(uint32_t t) {
    switch (t) {
    case TYPE_DATATYPE:
    case TYPE_UNSET:
    case TYPE_NONE:
    case TYPE_LOGIC:
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_TIME:
    case TYPE_PERCENT:
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
    case TYPE_DATE:
    case TYPE_TYPESET:
    case TYPE_TUPLE:
    case TYPE_MONEY:
    case TYPE_ISSUE:
    case TYPE_BITSET:
    case TYPE_MAP:
    case TYPE_BINARY:
    case TYPE_VECTOR:
    case TYPE_IMAGE:
    case TYPE_OBJECT:
    case TYPE_CONTEXT:
    case TYPE_FUNCTION:
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_OP:
    case TYPE_ERROR:
        return true;
    default:
        return is_any_word(t) || is_any_block(t) || is_any_string(t);
    }
}
uint32_t unit_code(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

// Element types and sizes a vector! may have.
bool vector_kind_ok(uint32_t type, uint32_t size) {
    switch (type) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
        return size == 1 || size == 2 || size == 4;
    case TYPE_FLOAT:
        return size == 4 || size == 8;
    case TYPE_PERCENT:
        return size == 8;
    default:
        return false;
    }
}

bool float_is_short(double d) {
    return d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d) &&
           !(d == 0 && std::signbit(d));
}
bool percent_short(double d, int32_t* n) {
    if (!(d >= -21474836.0 && d <= 21474836.0) || (d == 0 && std::signbit(d))) return false;
    double scaled = d * 100.0 + (d >= 0 ? 0.5 : -0.5);
    *n = static_cast<int32_t>(scaled);
    return *n / 100.0 == d;
}

// ---------------------------------------------------------------------------
// Encoding. Nothing here allocates in the runtime until the document is
// copied into its binary!, so the cells read stay where they are.
// ---------------------------------------------------------------------------

struct Encoder {
    bool compact = true;
    std::vector<uint8_t> rec;
    std::vector<uint8_t> names;
    std::vector<uint32_t> offsets;
    std::unordered_map<uint32_t, uint32_t> symbols; // symbol ID -> index
    // Series and contexts written so far: node -> offset in the path store,
    // which holds each path as its step count and then its positions.
    std::unordered_map<node_t, uint32_t> refs;
    std::vector<uint32_t> paths;
    std::vector<uint32_t> path{0};
    int32_t depth = 0;

    void byte(uint8_t b) { rec.push_back(b); }
    void bytes(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        rec.insert(rec.end(), b, b + n);
    }
    void varint(uint32_t v) {
        while (v >= 0x80) byte(uint8_t(v | 0x80)), v >>= 7;
        byte(uint8_t(v));
    }
    void zigzag(int32_t n) { varint((uint32_t(n) << 1) ^ uint32_t(n >> 31)); }
    void word(uint32_t v) {
        byte(uint8_t(v)), byte(uint8_t(v >> 8)), byte(uint8_t(v >> 16)), byte(uint8_t(v >> 24));
    }
    void pad4() {
        while (rec.size() % 4) byte(0);
    }
    void number(uint32_t v) { compact ? varint(v) : word(v); }
    void lead(uint32_t type, bool bit6, uint32_t fixed_bits, bool new_line, bool shared) {
        if (compact)
            byte(uint8_t(type | (bit6 ? TYPE_BIT6 : 0)));
        else
            word(type | fixed_bits | (new_line ? FX_NEW_LINE : 0) | (shared ? FX_SHARED : 0));
    }
    void dbl(double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        if (compact) {
            bytes(&bits, 8); // little-endian: low word first
        } else {
            word(uint32_t(bits >> 32));
            word(uint32_t(bits));
        }
    }

    uint32_t symbol_index(uint32_t id) {
        auto it = symbols.find(id);
        if (it != symbols.end()) return it->second;
        uint32_t index = uint32_t(offsets.size());
        symbols.emplace(id, index);
        offsets.push_back(uint32_t(names.size()));
        size_t length = 0;
        const char* name = symbol::name_utf8(id, &length);
        names.insert(names.end(), name, name + length);
        names.push_back(0);
        if (!compact)
            while (names.size() % 8) names.push_back(0);
        return index;
    }

    void write_path(uint32_t at) {
        if (!compact) word(FX_REFERENCE);
        number(paths[at]);
        for (uint32_t i = 1; i <= paths[at]; i++) number(paths[at + i]);
    }

    // A series already written: the shared form naming it.
    bool shared(const Cell& c, uint32_t type, bool bit6, uint32_t fixed_bits, bool new_line) {
        auto [it, added] = refs.try_emplace(c.data2, uint32_t(paths.size()));
        if (added) {
            paths.push_back(uint32_t(path.size()));
            paths.insert(paths.end(), path.begin(), path.end());
            return false;
        }
        if (compact) byte(PREFIX_SHARED);
        lead(type, bit6, fixed_bits, new_line, true);
        if (has_head(type) && (!compact || c.data1 != 0)) number(c.data1);
        write_path(it->second);
        return true;
    }

    void enter() {
        if (++depth > MAX_DEPTH) fire(err::too_deep);
        path.push_back(0);
    }
    void leave() {
        path.pop_back();
        depth--;
    }

    void write_cells(node_t node) {
        memory::SeriesBuffer* b = memory::buffer_of(node);
        uint32_t n = b->used_bytes() / sizeof(Cell);
        number(n);
        enter();
        for (uint32_t i = 0; i < n; i++) write(&memory::buffer_of(node)->cells()[i]);
        leave();
    }

    void write(const Cell& value) { write(&value); }

    void write(const Cell* value) {
        const Cell c = *value;
        const uint32_t t = type_of(&c);
        const bool nl = (c.header & FLAG_NEW_LINE) != 0;
        if (unsavable(t) || !codable(t)) fire(err::no_codec, &c);
        if (compact && nl) byte(PREFIX_NEW_LINE);
        switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE:
            lead(t, false, 0, nl, false);
            break;
        case TYPE_DATATYPE:
            lead(t, false, 0, nl, false);
            number(c.data1);
            break;
        case TYPE_LOGIC:
            if (compact) {
                byte(c.data1 ? LEAD_TRUE : LEAD_FALSE);
            } else {
                lead(t, false, 0, nl, false);
                word(c.data1 ? 1 : 0);
            }
            break;
        case TYPE_CHAR:
            lead(t, false, 0, nl, false);
            number(c.data2);
            break;
        case TYPE_INTEGER: {
            int32_t n = get_integer(&c);
            if (compact && n >= 0 && n <= 63) {
                byte(uint8_t(0x80 + n));
            } else if (compact) {
                lead(t, false, 0, nl, false);
                zigzag(n);
            } else {
                lead(t, false, 0, nl, false);
                word(uint32_t(n));
            }
            break;
        }
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            double d = get_float(&c);
            int32_t n = 0;
            bool is_short = t == TYPE_PERCENT ? percent_short(d, &n)
                                              : (float_is_short(d) && (n = int32_t(d), true));
            if (!compact) {
                while (rec.size() % 8) byte(0);
                lead(t, false, 0, nl, false);
                dbl(d);
            } else if (is_short) {
                lead(t, true, 0, nl, false);
                zigzag(n);
            } else {
                lead(t, false, 0, nl, false);
                dbl(d);
            }
            break;
        }
        case TYPE_PAIR:
            lead(t, false, 0, nl, false);
            compact ? zigzag(int32_t(c.data2)) : word(c.data2);
            compact ? zigzag(int32_t(c.data3)) : word(c.data3);
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            lead(t, false, 0, nl, false);
            word(c.data1), word(c.data2);
            if (t == TYPE_POINT3D) word(c.data3);
            break;
        case TYPE_DATE: {
            bool time = date::time_q(c.data1);
            lead(t, time, 0, nl, false);
            word(c.data1);
            if (!compact || time) dbl(get_float(&c));
            break;
        }
        case TYPE_TYPESET: {
            auto* b = reinterpret_cast<const uint8_t*>(&c.data1);
            lead(t, false, 0, nl, false);
            if (compact) {
                uint8_t n = 12;
                while (n > 0 && b[n - 1] == 0) n--;
                byte(n);
                bytes(b, n);
            } else {
                bytes(b, 12);
            }
            break;
        }
        case TYPE_TUPLE: {
            uint32_t n = (c.header & FLAG_TUPLE_SIZE_MASK) >> FLAG_TUPLE_SIZE_SHIFT;
            auto* b = reinterpret_cast<const uint8_t*>(&c.data1);
            if (compact) {
                lead(t, n != 3, 0, nl, false);
                if (n != 3) byte(uint8_t(n));
                bytes(b, n);
            } else {
                lead(t, false, n << 8, nl, false);
                bytes(b, 12);
            }
            break;
        }
        case TYPE_MONEY: {
            bool negative = (c.header & FLAG_MONEY_SIGN) != 0;
            lead(t, negative, negative ? FX_NEGATIVE : 0, nl, false);
            bytes(&c.data1, 12);
            break;
        }
        case TYPE_ISSUE:
            lead(t, false, 0, nl, false);
            number(symbol_index(c.data2));
            break;
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
            if (owner_type(c)) {
                write_bound_word(c, t, nl);
                break;
            }
            // Words of any other context (an error's, say) travel as global
            // words: the reader binds them to the global context.
            lead(t, false, FX_GLOBAL, nl, false);
            number(symbol_index(c.data2));
            if (!compact) word(c.data1 == context::global ? c.data3 : uint32_t(-1));
            break;
        case TYPE_OBJECT:
            write_object(c, nl);
            break;
        case TYPE_FUNCTION:
            write_function(c, nl);
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION:
            lead(t, false, 0, nl, false);
            number(c.data1);
            write_unpositioned(Cell{TYPE_BLOCK, 0, c.data2, 0});
            break;
        case TYPE_OP: {
            // The wrapped value in the op's own position.
            uint32_t source = native::op_source_type(&c);
            if (source == TYPE_ROUTINE) fire(err::no_codec, &c);
            lead(t, false, source << native::OP_SOURCE_SHIFT, nl, false);
            write_unpositioned(Cell{source, c.data1, c.data2, c.data3});
            break;
        }
        case TYPE_ERROR:
            write_error(c, nl);
            break;
        case TYPE_CONTEXT:
            // Only a context's own record cell has this type: no value the
            // language reaches.
            fire(err::no_codec, &c);
        case TYPE_BITSET: {
            bool complement = (memory::buffer_of(c.data2)->flags & memory::SERIES_COMPLEMENT) != 0;
            if (shared(c, t, complement, complement ? FX_COMPLEMENT : 0, nl)) break;
            lead(t, complement, complement ? FX_COMPLEMENT : 0, nl, false);
            memory::SeriesBuffer* b = memory::buffer_of(c.data2);
            number(b->used_bytes());
            bytes(b->head_ptr(), b->used_bytes());
            if (!compact) pad4();
            break;
        }
        case TYPE_MAP: {
            if (shared(c, t, false, 0, nl)) break;
            lead(t, false, 0, nl, false);
            memory::SeriesBuffer* b = memory::buffer_of(c.data2);
            uint32_t n = b->used_bytes() / sizeof(Cell), live = 0;
            for (uint32_t i = 0; i + 1 < n; i += 2) live += b->cells()[i + 1].header != 0;
            number(2 * live);
            enter();
            for (uint32_t i = 0; i + 1 < n; i += 2) {
                const Cell* pair = &memory::buffer_of(c.data2)->cells()[i];
                if (pair[1].header == 0) continue;
                write(&pair[0]);
                write(&pair[1]);
            }
            leave();
            break;
        }
        case TYPE_IMAGE:
            write_image(c, nl);
            break;
        default:
            write_series(c, t, nl);
            break;
        }
        path.back()++;
    }

    // The head index in pixels, then the size and the straight BGRA pixels
    // as the image keeps them. An image of no pixels has no node: nothing
    // to share, and a key of 0 would stand for every such image.
    void write_image(const Cell& c, bool nl) {
        bool moved = c.data1 != 0;
        if (c.data2 && shared(c, TYPE_IMAGE, moved, 0, nl)) return;
        uint32_t w = image::width_of(&c), h = image::height_of(&c);
        if (compact) {
            lead(TYPE_IMAGE, moved, 0, nl, false);
            if (moved) varint(c.data1);
            varint(w);
            varint(h);
        } else {
            lead(TYPE_IMAGE, false, 0, nl, false);
            word(c.data1);
            word(h << 16 | w);
        }
        if (c.data2) bytes(image::pixels(&c), size_t(w) * h * 4);
    }

    // The type of the owner of a word's context when that is an object or a
    // function (not the global context), else 0.
    static uint32_t owner_type(const Cell& c) {
        if (c.data1 == 0 || c.data1 == context::global || int32_t(c.data3) < 0) return 0;
        uint32_t kind = context::kind_of(c.data1);
        uint32_t owner = type_of(context::owner_of(c.data1));
        if (kind == context::KIND_OBJECT && owner == TYPE_OBJECT && !context::on_stack_q(c.data1))
            return owner;
        if (kind == context::KIND_FUNCTION && owner == TYPE_FUNCTION) return owner;
        return 0;
    }

    // A value written inside another that takes no position of its own.
    void write_unpositioned(const Cell& c) {
        write(&c);
        path.back()--;
    }

    // The word, then the path of its context when written before, else the
    // owning object's or function's record in the word's own position.
    void write_bound_word(const Cell& c, uint32_t t, bool nl) {
        auto it = refs.find(c.data1);
        bool is_shared = it != refs.end();
        if (compact && is_shared) byte(PREFIX_SHARED);
        lead(t, true, 0, nl, is_shared);
        number(symbol_index(c.data2));
        compact ? zigzag(int32_t(c.data3)) : word(c.data3);
        if (is_shared) {
            write_path(it->second);
            return;
        }
        Cell owner = *context::owner_of(c.data1);
        clear_new_line(&owner);
        // In the word's position: none of its own.
        if (type_of(&owner) == TYPE_OBJECT)
            write_object(owner, false);
        else
            write_function(owner, false);
    }

    // Records the key with the current path; false when it was there.
    bool record(node_t key) {
        auto [it, added] = refs.try_emplace(key, uint32_t(paths.size()));
        if (!added) return false;
        paths.push_back(uint32_t(path.size()));
        paths.insert(paths.end(), path.begin(), path.end());
        return true;
    }

    void write_function(const Cell& c, bool nl) {
        node_t ctx = c.data1;
        if (!record(ctx)) {
            if (compact) byte(PREFIX_SHARED);
            lead(TYPE_FUNCTION, false, 0, nl, true);
            write_path(refs.at(ctx));
            return;
        }
        lead(TYPE_FUNCTION, false, 0, nl, false);
        const Cell body = function::extra_of(&c)[function::EXTRA_BODY];
        number(memory::buffer_of(c.data2)->used_bytes() / sizeof(Cell));
        number(type_of(&body) == TYPE_BLOCK
                   ? memory::buffer_of(body.data2)->used_bytes() / sizeof(Cell)
                   : 0);
        write_context(ctx);
        enter();
        write(Cell{TYPE_BLOCK, 0, c.data2, 0});
        write(body);
        leave();
    }

    // The error's code and the values after code, type and id; words bound
    // to its context are written as global words, so it is never shared.
    void write_error(const Cell& c, bool nl) {
        record(c.data1);
        lead(TYPE_ERROR, false, 0, nl, false);
        number(uint32_t(error::code_of(&c)));
        enter();
        for (int32_t i = error::FIELD_ARG1; i <= error::FIELD_STACK; i++)
            write(*context::value_ptr(c.data1, i));
        leave();
    }

    void write_object(const Cell& c, bool nl) {
        node_t ctx = c.data1;
        auto [it, added] = refs.try_emplace(ctx, uint32_t(paths.size()));
        bool events = c.data3 != 0;
        if (!added) {
            if (compact) byte(PREFIX_SHARED);
            lead(TYPE_OBJECT, events, events ? FX_HANDLERS : 0, nl, true);
            write_path(it->second);
            return;
        }
        paths.push_back(uint32_t(path.size()));
        paths.insert(paths.end(), path.begin(), path.end());
        lead(TYPE_OBJECT, events, events ? FX_HANDLERS : 0, nl, false);
        compact ? zigzag(int32_t(c.data2)) : word(c.data2);
        if (events) {
            const Cell* pairs = memory::buffer_of(c.data3)->cells();
            uint32_t on_change = pairs[0].data2, on_deep = pairs[1].data2;
            compact ? zigzag(int32_t(on_change)) : word(on_change);
            compact ? zigzag(int32_t(on_deep)) : word(on_deep);
        }
        write_context(ctx);
    }

    void write_context(node_t ctx) {
        uint32_t n = uint32_t(context::word_count(ctx));
        bool self = (context::record_of(ctx)->header & FLAG_CONTEXT_SELF) != 0;
        // A function's values live on the evaluation stack while it runs:
        // none are written.
        bool on_stack = context::on_stack_q(ctx);
        bool follow = false;
        for (uint32_t i = 0; i < n && !follow && !on_stack; i++)
            follow = type_of(context::value_ptr(ctx, int32_t(i))) != TYPE_UNSET;
        uint32_t kind = context::kind_of(ctx);
        if (compact) {
            byte(TYPE_CONTEXT);
            byte(uint8_t(kind | (on_stack ? 4 : 0) | (self ? 8 : 0) | (follow ? 16 : 0)));
        } else {
            word(TYPE_CONTEXT | kind << 26 | (self ? 1u << 28 : 0) | (on_stack ? 1u << 29 : 0) |
                 (follow ? 1u << 30 : 0));
        }
        number(n);
        for (uint32_t i = 0; i < n; i++)
            number(symbol_index(context::symbol_at(ctx, int32_t(i))->data2));
        if (!follow) return;
        enter();
        for (uint32_t i = 0; i < n; i++) write(context::value_ptr(ctx, int32_t(i)));
        leave();
    }

    void write_series(const Cell& c, uint32_t t, bool nl) {
        memory::SeriesBuffer* b = memory::buffer_of(c.data2);
        uint32_t unit = b->unit();
        uint32_t fixed_bits = (is_any_string(t) || t == TYPE_VECTOR) ? unit << 8 : 0;
        if (shared(c, t, c.data1 != 0, fixed_bits, nl)) return;
        if (compact) {
            lead(t, c.data1 != 0, 0, nl, false);
            if (c.data1 != 0) varint(c.data1);
        } else {
            lead(t, false, fixed_bits, nl, false);
            word(c.data1);
        }
        if (is_any_block(t)) {
            write_cells(c.data2);
            return;
        }
        uint32_t units = b->used_bytes() / unit;
        if (is_any_string(t)) {
            if (compact)
                varint(units << 2 | unit_code(unit));
            else
                word(units);
        } else if (t == TYPE_VECTOR) {
            if (compact) {
                byte(uint8_t(c.data3 << 2 | unit_code(unit)));
                varint(units);
            } else {
                word(units);
                word(c.data3);
            }
        } else {
            number(units);
        }
        bytes(b->head_ptr(), b->used_bytes());
        if (!compact) pad4();
    }

    std::vector<uint8_t> document() {
        std::vector<uint8_t> doc = {'M', 'O', 'X', 'B', 'I', 'N', 2, 0};
        bool has_symbols = !offsets.empty();
        doc[7] = uint8_t((compact ? FLAG_COMPACT : 0) | (has_symbols ? FLAG_SYMBOLS : 0));
        std::vector<uint8_t> records;
        records.swap(rec);
        number(1);
        number(uint32_t(records.size()));
        if (has_symbols) {
            number(uint32_t(offsets.size()));
            number(uint32_t(names.size()));
            for (uint32_t o : offsets) word(o);
            bytes(names.data(), names.size());
        }
        doc.insert(doc.end(), rec.begin(), rec.end());
        doc.insert(doc.end(), records.begin(), records.end());
        return doc;
    }
};

Cell* encode_with(const Cell* value, Cell* out, bool compact) {
    std::vector<uint8_t> doc;
    {
        Encoder e;
        e.compact = compact;
        e.write(value);
        doc = e.document();
    }
    node_t node = memory::alloc_bytes(uint32_t(doc.size()));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), doc.data(), doc.size());
    b->tail = b->head + uint32_t(doc.size());
    *out = Cell{TYPE_BINARY, 0, node, 0};
    return out;
}

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

struct Decoder {
    const uint8_t* start = nullptr; // the magic, for error offsets
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;
    bool compact = true;
    uint32_t symbol_count = 0, names_size = 0;
    const uint8_t* offsets = nullptr;
    const uint8_t* names = nullptr;
    std::vector<uint32_t> interned{};
    // The global context's slot of each symbol index once found (-1
    // before): the boot image names the same words again and again.
    std::vector<uint32_t> global_slots{};
    Cell* target = nullptr;
    uint32_t base = 0;
    int32_t depth = 0;

    [[noreturn]] void bad(const uint8_t* at) {
        fire_int(err::mb_invalid_record, int32_t(at - start) + 1);
    }
    [[noreturn]] void bad() { bad(p); }

    void need(uint64_t n) {
        if (n > uint64_t(end - p)) bad();
    }
    uint8_t u8() {
        if (p >= end) bad();
        return *p++;
    }
    uint32_t u32() {
        need(4);
        uint32_t v =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        return v;
    }
    uint32_t varint() {
        uint32_t v = 0;
        for (int i = 0; i < 5; i++) {
            const uint8_t* at = p;
            uint8_t b = u8();
            if (i == 4 && (b & 0xF0)) bad(at);
            v |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        return v;
    }
    int32_t zigzag() {
        uint32_t u = varint();
        return int32_t((u >> 1) ^ (0u - (u & 1)));
    }
    uint32_t number() { return compact ? varint() : u32(); }
    double dbl() {
        uint64_t bits;
        if (compact) {
            need(8);
            std::memcpy(&bits, p, 8);
            p += 8;
        } else {
            uint64_t hi = u32();
            bits = hi << 32 | u32();
        }
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    // A count of items each taking at least min_bytes: checked against the
    // bytes left before anything is sized by it.
    uint32_t count(uint32_t min_bytes) {
        const uint8_t* at = p;
        uint32_t n = number();
        if (uint64_t(n) * min_bytes > uint64_t(end - p)) bad(at);
        return n;
    }

    uint32_t symbol(uint32_t* index_out = nullptr) {
        const uint8_t* at = p;
        uint32_t index = number();
        if (index >= symbol_count) bad(at);
        if (index_out) *index_out = index;
        if (interned[index]) return interned[index];
        const uint8_t* o = offsets + 4 * size_t(index);
        uint32_t offset =
            uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
        if (offset >= names_size) bad(at);
        const char* name = reinterpret_cast<const char*>(names + offset);
        size_t length = strnlen(name, names_size - offset);
        if (length == 0) bad(at);
        return interned[index] = symbol::intern(name, length, symbol::MODE_KEEP);
    }

    // The value a reference path names, copied.
    Cell resolve(const uint8_t* at) {
        uint32_t n = number();
        if (n < 1 || n > PATH_MAX_STEPS || n > uint64_t(end - p)) bad(at);
        Cell cur = *target;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t pos = number();
            uint32_t t = type_of(&cur);
            if (t == TYPE_OP) t = native::op_source_type(&cur);
            if (i > 0 && is_any_word(t) && t != TYPE_ISSUE && cur.data1 != 0 &&
                cur.data1 != context::global &&
                context::kind_of(cur.data1) == context::KIND_FUNCTION) {
                // A function's words: its spec and body.
                cur = *context::owner_of(cur.data1);
                if (type_of(&cur) != TYPE_FUNCTION) bad(at);
                t = TYPE_FUNCTION;
            }
            if (i > 0 &&
                (t == TYPE_OBJECT || t == TYPE_ERROR || (is_any_word(t) && t != TYPE_ISSUE))) {
                node_t ctx = cur.data1;
                // An error's values are counted after code, type and id.
                uint64_t index = uint64_t(pos) + (t == TYPE_ERROR ? error::FIELD_ARG1 : 0);
                if (ctx == 0 || ctx == context::global || context::on_stack_q(ctx) ||
                    index >= uint64_t(context::word_count(ctx)))
                    bad(at);
                cur = *context::value_ptr(ctx, int32_t(index));
                continue;
            }
            if (i > 0 && t == TYPE_FUNCTION) {
                if (pos > 1) bad(at);
                cur = pos == 0 ? Cell{TYPE_BLOCK, 0, cur.data2, 0}
                               : function::extra_of(&cur)[function::EXTRA_BODY];
                if (type_of(&cur) != TYPE_BLOCK) bad(at);
                continue;
            }
            if (i > 0 && (t == TYPE_NATIVE || t == TYPE_ACTION))
                cur = Cell{TYPE_BLOCK, 0, cur.data2, 0};
            else if (!(is_any_block(t) || t == TYPE_MAP))
                bad(at);
            memory::SeriesBuffer* b = memory::buffer_of(cur.data2);
            uint64_t first = i == 0 ? base : 0;
            if (first + pos >= b->used_bytes() / sizeof(Cell)) bad(at);
            cur = b->cells()[first + pos];
        }
        return cur;
    }

    // The kind of buffer a shared record of type t may take from a value of
    // type from.
    static bool shares_with(uint32_t t, const Cell& from) {
        uint32_t f = type_of(&from);
        if (f == TYPE_OP) f = native::op_source_type(&from);
        if (is_any_string(t)) return is_any_string(f);
        // A callable's buffer is its spec block.
        if (is_plain_block(t))
            return is_plain_block(f) || f == TYPE_NATIVE || f == TYPE_ACTION || f == TYPE_FUNCTION;
        return t == f;
    }

    void enter(const uint8_t* at) {
        if (++depth > MAX_DEPTH) bad(at);
    }

    // Appends v to the block in parent and returns its index there.
    static uint32_t append(Cell* parent, const Cell* v) {
        block::ms_append(parent, v);
        return block::abs_length(parent) - 1;
    }

    // Reads one record and appends its value to the block in parent (a
    // rooted cell). May collect.
    void read(Cell* parent) {
        bool nl = false, is_shared = false, define = false;
        uint32_t lead_byte;
        const uint8_t* at;
        uint32_t fx = 0; // fixed-width header word
        uint32_t t;
        bool bit6 = false;
        if (compact) {
            for (;;) {
                at = p;
                lead_byte = u8();
                if (lead_byte == PREFIX_NEW_LINE)
                    nl = true;
                else if (lead_byte == PREFIX_SHARED)
                    is_shared = true;
                else if (lead_byte == PREFIX_DEFINE) {
                    if (codec_q) bad(at);
                    define = true;
                } else
                    break;
            }
            if (lead_byte >= 0x80) {
                if (is_shared || define) bad(at);
                Cell v;
                if (lead_byte <= 0xBF)
                    make_integer(&v, int32_t(lead_byte - 0x80));
                else if (lead_byte == LEAD_TRUE)
                    make_logic(&v, true);
                else if (lead_byte == LEAD_FALSE)
                    make_logic(&v, false);
                else if (lead_byte == LEAD_REFERENCE)
                    v = resolve(at);
                else
                    bad(at);
                if (nl) v.header |= FLAG_NEW_LINE;
                append(parent, &v);
                return;
            }
            t = lead_byte & 0x3F;
            bit6 = (lead_byte & TYPE_BIT6) != 0;
            if (t == 63) t = varint();
            if (t == 0 || t >= TYPE_TOTAL || t == TYPE_LOGIC) bad(at);
        } else {
            do {
                at = p;
                fx = u32();
            } while (fx == 0);
            t = fx & 0xFF;
            nl = (fx & FX_NEW_LINE) != 0;
            if (t == FX_REFERENCE) {
                Cell v = resolve(at);
                if (nl) v.header |= FLAG_NEW_LINE;
                append(parent, &v);
                return;
            }
            if (t == 0 || t >= TYPE_TOTAL) bad(at);
            is_shared = (fx & FX_SHARED) != 0 && t != TYPE_OP && shareable(t);
        }
        if (define && !(is_any_word(t))) bad(at);
        if (unsavable(t)) {
            Cell dt;
            make_datatype(&dt, t);
            fire(err::no_codec, &dt);
        }
        if (!codable(t)) bad(at);

        Cell* v = stack::push_cell();
        *v = Cell{t, 0, 0, 0};
        if (is_shared && !shareable(t)) bad(at);
        switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE:
            break;
        case TYPE_DATATYPE: {
            uint32_t id = number();
            if (id == 0 || id >= TYPE_TOTAL) bad(at);
            make_datatype(v, id);
            break;
        }
        case TYPE_LOGIC:
            make_logic(v, u32() != 0);
            break;
        case TYPE_CHAR: {
            uint32_t cp = number();
            if (cp > 0x10FFFF) bad(at);
            make_char(v, cp);
            break;
        }
        case TYPE_INTEGER:
            make_integer(v, compact ? zigzag() : int32_t(u32()));
            break;
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            double d;
            if (compact && bit6) {
                int32_t n = zigzag();
                d = t == TYPE_PERCENT ? n / 100.0 : double(n);
            } else {
                d = dbl();
            }
            make_float(v, d, t);
            break;
        }
        case TYPE_PAIR:
            v->data2 = compact ? uint32_t(zigzag()) : u32();
            v->data3 = compact ? uint32_t(zigzag()) : u32();
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            v->data1 = u32();
            v->data2 = u32();
            if (t == TYPE_POINT3D) v->data3 = u32();
            break;
        case TYPE_DATE: {
            uint32_t w = u32();
            bool time = date::time_q(w);
            if (compact && bit6 != time) bad(at);
            double seconds = (!compact || time) ? dbl() : 0.0;
            int32_t month = date::month_of(w), day = date::day_of(w);
            if (month < 1 || month > 12 || day < 1 ||
                day > date::days_in_month(date::year_of(w), month))
                bad(at);
            if (!std::isfinite(seconds) || (time && (seconds < 0 || seconds >= 86400.0)) ||
                (!time && seconds != 0))
                bad(at);
            v->data1 = w;
            set_float(v, seconds);
            break;
        }
        case TYPE_TYPESET: {
            auto* b = reinterpret_cast<uint8_t*>(&v->data1);
            uint32_t n = compact ? u8() : 12;
            if (n > 12) bad(at);
            need(n);
            std::memcpy(b, p, n);
            p += n;
            break;
        }
        case TYPE_TUPLE: {
            uint32_t n = compact ? (bit6 ? u8() : 3) : (fx >> 8) & 0xF;
            if (n < 1 || n > 12) bad(at);
            uint32_t stored = compact ? n : 12;
            need(stored);
            std::memcpy(&v->data1, p, stored);
            p += stored;
            if (!compact) {
                auto* b = reinterpret_cast<uint8_t*>(&v->data1);
                for (uint32_t i = n; i < 12; i++)
                    if (b[i]) bad(at);
            }
            v->header = t | (std::max(n, 3u) << FLAG_TUPLE_SIZE_SHIFT);
            break;
        }
        case TYPE_MONEY: {
            need(12);
            std::memcpy(&v->data1, p, 12);
            p += 12;
            auto* b = reinterpret_cast<uint8_t*>(&v->data1);
            if (b[0] > money::currency_count()) bad(at);
            for (int i = 1; i < 12; i++)
                if ((b[i] >> 4) > 9 || (b[i] & 15) > 9) bad(at);
            bool negative = compact ? bit6 : (fx & FX_NEGATIVE) != 0;
            if (negative) v->header |= FLAG_MONEY_SIGN;
            break;
        }
        case TYPE_ISSUE: {
            uint32_t sym = symbol();
            *v = Cell{TYPE_ISSUE, 0, sym, uint32_t(-1)};
            break;
        }
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT: {
            if (compact ? bit6 : !(fx & FX_GLOBAL)) {
                read_object_word(parent, v, t, is_shared, nl, define, at);
                stack::pop(1);
                return;
            }
            if (is_shared) bad(at);
            uint32_t index = 0;
            uint32_t sym = symbol(&index);
            if (!compact) u32();
            if (global_slots[index] == uint32_t(-1))
                global_slots[index] = word::make_at(sym, v)->data3;
            *v = Cell{t, context::global, sym, global_slots[index]};
            break;
        }
        case TYPE_OBJECT:
        case TYPE_CONTEXT:
            if (define) bad(at);
            read_object(parent, v, t, bit6, fx, is_shared, nl, at);
            stack::pop(1);
            return;
        case TYPE_FUNCTION:
            if (define) bad(at);
            read_function(parent, v, is_shared, nl, at);
            stack::pop(1);
            return;
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            uint32_t id = number();
            bool filled = t == TYPE_NATIVE ? natives::lookup(int32_t(id)) != nullptr
                                           : actions_entry::lookup(int32_t(id)) != nullptr;
            if (int32_t(id) < 1 || !filled) bad(at);
            Cell* spec = read_inner(at);
            if (type_of(spec) != TYPE_BLOCK || spec->data1 != 0 ||
                !native::spec_fits(t, int32_t(id), spec))
                bad(at);
            Cell* extra = stack::push_cell();
            block::make_at(extra, 2);
            make_none(block::alloc_tail(extra));
            make_none(block::alloc_tail(extra));
            *v = Cell{t, id, spec->data2, extra->data2};
            stack::top = v + 1;
            break;
        }
        case TYPE_OP:
            if (define) bad(at);
            read_op(parent, fx, nl, at);
            stack::pop(1);
            return;
        case TYPE_ERROR:
            if (define) bad(at);
            read_error(parent, v, nl, at);
            stack::pop(1);
            return;
        case TYPE_IMAGE:
            if (define) bad(at);
            read_image(v, bit6, is_shared, at);
            break;
        default:
            read_series(parent, v, t, bit6, fx, is_shared, nl, define, at);
            stack::pop(1);
            return;
        }
        if (nl) v->header |= FLAG_NEW_LINE;
        if (define) {
            define_next(v, at);
        } else {
            append(parent, v);
        }
        stack::pop(1);
    }

    static bool shareable(uint32_t t) {
        return has_head(t) || t == TYPE_MAP || t == TYPE_BITSET || t == TYPE_OBJECT ||
               t == TYPE_FUNCTION || is_any_word(t);
    }

    // The owner (object or function) of the context a shared word, object
    // or function names: that value's own, or that of a word bound to one.
    // want: the owner's type, or 0 for either.
    Cell context_source(const uint8_t* at, uint32_t want) {
        Cell from = resolve(at);
        uint32_t ft = type_of(&from);
        if (ft == TYPE_OP) ft = native::op_source_type(&from);
        bool ok = ft == TYPE_OBJECT || ft == TYPE_FUNCTION ||
                  (is_any_word(ft) && ft != TYPE_ISSUE && from.data1 != 0 &&
                   from.data1 != context::global);
        if (!ok) bad(at);
        Cell owner = *context::owner_of(from.data1);
        uint32_t ot = type_of(&owner);
        uint32_t kind = context::kind_of(from.data1);
        if (!((ot == TYPE_OBJECT && kind == context::KIND_OBJECT) ||
              (ot == TYPE_FUNCTION && kind == context::KIND_FUNCTION)) ||
            (want && ot != want))
            bad(at);
        return owner;
    }

    // Runs f, which may raise an error; false when it did (the error is
    // dropped). May collect.
    template <class F> static bool attempt(F f) {
        return !stack::protect(stack::Guard::errors, f, [](uint32_t code) {
            if (code != stack::EXIT_ERROR) throw;
        });
    }

    // A word bound to an object: its context comes from a reference path,
    // or from the object record that follows, which is decoded into the
    // word's own slot and then replaced by the word. Only the language
    // codec writes this form.
    void read_object_word(Cell* parent, Cell* v, uint32_t t, bool is_shared, bool nl, bool define,
                          const uint8_t* at) {
        if (!codec_q || define) bad(at);
        uint32_t sym = symbol();
        int32_t index = compact ? zigzag() : int32_t(u32());
        node_t ctx;
        uint32_t slot = block::abs_length(parent);
        if (is_shared) {
            if (!compact && u32() != FX_REFERENCE) bad(at);
            ctx = context_source(at, 0).data1;
            append(parent, v);
        } else {
            const uint8_t* owner_at = p;
            read(parent);
            Cell* owner = block::ms_abs_at(parent, slot);
            if (block::abs_length(parent) != slot + 1 ||
                (type_of(owner) != TYPE_OBJECT && type_of(owner) != TYPE_FUNCTION))
                bad(owner_at);
            ctx = owner->data1;
        }
        if (index < 0 || index >= context::word_count(ctx)) bad(at);
        *block::ms_abs_at(parent, slot) =
            Cell{t | (nl ? FLAG_NEW_LINE : 0), ctx, sym, uint32_t(index)};
    }

    // An object record: class, handler words, then its context record. The
    // object enters its parent before its values are read, so that paths
    // inside it can name it.
    void read_object(Cell* parent, Cell* v, uint32_t t, bool bit6, uint32_t fx, bool is_shared,
                     bool nl, const uint8_t* at) {
        if (is_shared) {
            if (!compact && u32() != FX_REFERENCE) bad(at);
            *v = context_source(at, TYPE_OBJECT);
            v->header = (v->header & ~FLAG_NEW_LINE) | (nl ? FLAG_NEW_LINE : 0);
            append(parent, v);
            return;
        }
        // A context! record is an object's context record alone: its lead
        // is the context record's type byte or header word.
        bool is_context = t == TYPE_CONTEXT;
        int32_t class_id = is_context ? -1 : compact ? zigzag() : int32_t(u32());
        bool events = !is_context && (compact ? bit6 : (fx & FX_HANDLERS) != 0);
        uint32_t handlers[2] = {0, 0};
        if (events) {
            for (auto& h : handlers) h = compact ? uint32_t(zigzag()) : u32();
        }
        const uint8_t* ctx_at = is_context ? at : p;
        uint32_t flags = context_head(is_context, fx);
        if ((flags & 3) != context::KIND_OBJECT || (flags & 4)) bad(ctx_at);
        uint32_t n = count(compact ? 1 : 4);
        enter(at);
        object::make_at(v, int32_t(n));
        v->data2 = codec_q || is_context ? object::new_class_id() : uint32_t(class_id);
        *context::owner_of(v->data1) = *v;
        for (uint32_t i = 0; i < n; i++) {
            const uint8_t* sym_at = p;
            Cell w{TYPE_WORD, 0, symbol(), uint32_t(-1)};
            if (context::add(v->data1, &w) != int32_t(i)) bad(sym_at); // a repeated word
        }
        if (nl) v->header |= FLAG_NEW_LINE;
        uint32_t slot = append(parent, v);
        if (flags & 16) {
            Cell* holder = stack::push_cell();
            block::make_at(holder, 1);
            for (uint32_t i = 0; i < n; i++) {
                read(holder);
                if (block::abs_length(holder) != i + 1) bad(at);
                *context::value_ptr(v->data1, int32_t(i)) = *block::ms_abs_at(holder, i);
            }
            stack::pop(1);
        }
        if (events) {
            for (uint32_t h : handlers) {
                uint32_t index = h >> 16;
                if (index != 0xFFFF && index >= n) bad(at);
            }
            object::init_events(v);
        }
        v->header = TYPE_OBJECT | (nl ? FLAG_NEW_LINE : 0);
        *context::owner_of(v->data1) = *v;
        clear_new_line(context::owner_of(v->data1));
        *block::ms_abs_at(parent, slot) = *v;
        depth--;
    }

    // The flags of a context record (bits 0-1 kind, 2 values on the stack,
    // 3 self, 4 values follow), its type byte or header word read here
    // unless the record's lead (fx in the fixed form) was it.
    uint32_t context_head(bool lead_read, uint32_t fx) {
        const uint8_t* ctx_at = p;
        if (compact) {
            if (!lead_read && u8() != TYPE_CONTEXT) bad(ctx_at);
            uint32_t flags = u8();
            if (flags & ~0x1Fu) bad(ctx_at);
            return flags;
        }
        uint32_t h = lead_read ? fx : u32();
        if ((h & 0xFF) != TYPE_CONTEXT || (h & 0x83FFFF00u)) bad(ctx_at);
        return ((h >> 26) & 3) | ((h >> 28) & 1) << 3 | ((h >> 29) & 1) << 2 | ((h >> 30) & 1) << 4;
    }

    // Reads one record into a new block on the stack and returns its value
    // (a cell on the stack above the block). May collect.
    Cell* read_inner(const uint8_t* at) {
        Cell* holder = stack::push_cell();
        block::make_at(holder, 1);
        read(holder);
        if (block::abs_length(holder) != 1) bad(at);
        return stack::push(block::ms_abs_at(holder, 0));
    }

    // A function record: spec and body lengths, the context record (its
    // words), then the spec and body. The function enters its parent first
    // so that paths in its body can name it; its context must be the one
    // make function! would give its spec. May collect.
    void read_function(Cell* parent, Cell* v, bool is_shared, bool nl, const uint8_t* at) {
        if (is_shared) {
            if (!compact && u32() != FX_REFERENCE) bad(at);
            *v = context_source(at, TYPE_FUNCTION);
            v->header = (v->header & ~FLAG_NEW_LINE) | (nl ? FLAG_NEW_LINE : 0);
            append(parent, v);
            return;
        }
        uint32_t spec_length = count(compact ? 1 : 4);
        uint32_t body_length = count(compact ? 1 : 4);
        const uint8_t* ctx_at = p;
        uint32_t flags = context_head(false, 0);
        // Values on the stack, none follow, no self.
        if (flags != (context::KIND_FUNCTION | 4)) bad(ctx_at);
        uint32_t n = count(compact ? 1 : 4);
        enter(at);
        Cell* base = stack::top;
        Cell* extra = stack::push_cell();
        block::make_at(extra, function::EXTRA_CELLS);
        for (int32_t i = 0; i < function::EXTRA_CELLS; i++) make_unset(block::alloc_tail(extra));
        // Until its spec and body are read the function has an empty spec
        // and a none! body.
        make_none(block::ms_abs_at(extra, function::EXTRA_BODY));
        Cell* spec = stack::push_cell();
        block::make_at(spec, 1);
        node_t ctx = context::create(int32_t(n), true, false, 0, context::KIND_FUNCTION);
        *v = Cell{TYPE_FUNCTION, ctx, spec->data2, extra->data2};
        *context::owner_of(v->data1) = *v;
        for (uint32_t i = 0; i < n; i++) {
            const uint8_t* sym_at = p;
            Cell w{TYPE_WORD, 0, symbol(), uint32_t(-1)};
            if (context::add(v->data1, &w) != int32_t(i)) bad(sym_at);
        }
        uint32_t slot = append(parent, v);
        Cell* holder = stack::push_cell();
        block::make_at(holder, 2);
        for (uint32_t i = 0; i < 2; i++) {
            const uint8_t* part_at = p;
            read(holder);
            Cell* part = block::ms_abs_at(holder, i);
            if (block::abs_length(holder) != i + 1 || type_of(part) != TYPE_BLOCK ||
                block::abs_length(part) != (i == 0 ? spec_length : body_length) ||
                (i == 0 && part->data1 != 0))
                bad(part_at);
            if (i == 0)
                v->data2 = part->data2;
            else
                function::extra_of(v)[function::EXTRA_BODY] = *part;
            *block::ms_abs_at(parent, slot) = *v;
            *context::owner_of(v->data1) = *v;
        }
        // The spec as make function! checks it, and its words as the
        // function's context.
        uint32_t fn_flags = 0;
        Cell* spec_cell = stack::push_cell();
        *spec_cell = Cell{TYPE_BLOCK, 0, v->data2, 0};
        bool fits = attempt([&] {
            fn_flags = function::validate_spec(spec_cell);
            node_t model = context::make_from_spec(spec_cell, true, false, context::KIND_FUNCTION);
            if (context::word_count(model) != int32_t(n)) fire(err::bad_func_def, spec_cell);
            for (uint32_t i = 0; i < n; i++)
                if (context::symbol_at(model, int32_t(i))->data2 !=
                    context::symbol_at(v->data1, int32_t(i))->data2)
                    fire(err::bad_func_def, spec_cell);
        });
        if (!fits) bad(at);
        if (!codec_q && boot::loading) fn_flags |= function::FLAG_BOOT;
        v->header = TYPE_FUNCTION | fn_flags;
        *context::owner_of(v->data1) = *v;
        if (nl) v->header |= FLAG_NEW_LINE;
        *block::ms_abs_at(parent, slot) = *v;
        stack::top = base;
        depth--;
    }

    // An op! record: the record of the callable it wraps, read in the op's
    // own position, then made an operator as make op! would.
    void read_op(Cell* parent, uint32_t fx, bool nl, const uint8_t* at) {
        uint32_t slot = block::abs_length(parent);
        enter(at);
        const uint8_t* source_at = p;
        read(parent);
        if (block::abs_length(parent) != slot + 1) bad(source_at);
        Cell* source = stack::push(block::ms_abs_at(parent, slot));
        uint32_t st = type_of(source);
        if ((st != TYPE_NATIVE && st != TYPE_ACTION && st != TYPE_FUNCTION) ||
            (!compact && ((fx >> native::OP_SOURCE_SHIFT) & 0xFF) != st) ||
            (source->header & FLAG_NEW_LINE))
            bad(source_at);
        Cell* op = stack::push_cell();
        if (!attempt([&] { native::make(op, source, TYPE_OP); })) bad(at);
        if (nl) op->header |= FLAG_NEW_LINE;
        *block::ms_abs_at(parent, slot) = *op;
        stack::pop(2);
        depth--;
    }

    // An error! record: its code, then arg1, arg2, arg3, near, where and
    // stack. The error enters its parent first so that paths can name it.
    void read_error(Cell* parent, Cell* v, bool nl, const uint8_t* at) {
        const uint8_t* code_at = p;
        Cell* code = stack::push_cell();
        make_integer(code, int32_t(number()));
        if (get_integer(code) < 0 ||
            !attempt([&] { *v = *error::make(stack::push_cell(), code, TYPE_ERROR); }))
            bad(code_at);
        if (nl) v->header |= FLAG_NEW_LINE;
        uint32_t slot = append(parent, v);
        enter(at);
        Cell* holder = stack::push_cell();
        block::make_at(holder, 6);
        for (int32_t i = error::FIELD_ARG1; i <= error::FIELD_STACK; i++) {
            read(holder);
            if (block::abs_length(holder) != uint32_t(i - error::FIELD_ARG1 + 1)) bad(at);
        }
        // A number in stack is a frame position of a raised error: never
        // one of a decoded error.
        uint32_t st = type_of(block::ms_abs_at(holder, 5));
        if (st != TYPE_NONE && st != TYPE_BLOCK) bad(at);
        Cell* e = block::ms_abs_at(parent, slot);
        for (int32_t i = error::FIELD_ARG1; i <= error::FIELD_STACK; i++)
            *context::value_ptr(e->data1, i) =
                *block::ms_abs_at(holder, uint32_t(i - error::FIELD_ARG1));
        stack::top = code;
        depth--;
    }

    // A global definition: the next record is the word's value.
    void define_next(Cell* word, const uint8_t* at) {
        enter(at);
        Cell* holder = stack::push_cell();
        block::make_at(holder, 1);
        read(holder);
        if (block::abs_length(holder) != 1) bad(at);
        *context::value_ptr(context::global, int32_t(word->data3)) = *block::ms_abs_at(holder, 0);
        stack::pop(1);
        depth--;
    }

    void read_series(Cell* parent, Cell* v, uint32_t t, bool bit6, uint32_t fx, bool is_shared,
                     bool nl, bool define, const uint8_t* at) {
        if (define) bad(at);
        uint32_t head = 0;
        if (has_head(t)) head = compact ? (bit6 ? varint() : 0) : u32();
        if (is_shared) {
            if (!compact && u32() != FX_REFERENCE) bad(at);
            Cell from = resolve(at);
            if (!shares_with(t, from)) bad(at);
            *v = Cell{t, head, from.data2,
                      (t == TYPE_HASH || t == TYPE_MAP || t == TYPE_VECTOR) ? from.data3 : 0};
            memory::SeriesBuffer* b = memory::buffer_of(v->data2);
            if (has_head(t) && head > b->used_bytes() / b->unit()) bad(at);
            if (nl) v->header |= FLAG_NEW_LINE;
            append(parent, v);
            return;
        }
        if (is_any_block(t) || t == TYPE_MAP) {
            uint32_t n = count(compact ? 1 : 4);
            if (t == TYPE_MAP && n % 2) bad(at);
            enter(at);
            block::make_at(v, int32_t(n ? n : 1));
            uint32_t index = append(parent, v);
            for (uint32_t i = 0; i < n; i++) read(v);
            if (t == TYPE_MAP) {
                for (uint32_t i = 0; i < n; i += 2)
                    if (!map::valid_key_q(type_of(block::ms_abs_at(v, i)))) bad(at);
                map::make_cell(v, v, 0);
            } else if (t == TYPE_HASH) {
                hash::make_cell(v);
            }
            if (head > block::abs_length(v)) bad(at);
            v->header = t | (nl ? FLAG_NEW_LINE : 0);
            v->data1 = head;
            *block::ms_abs_at(parent, index) = *v;
            depth--;
            return;
        }
        uint32_t unit = 1, units, elem_type = 0;
        if (is_any_string(t)) {
            if (compact) {
                const uint8_t* f = p;
                uint32_t w = varint();
                if ((w & 3) == 3) bad(f);
                unit = 1u << (w & 3);
                units = w >> 2;
            } else {
                unit = (fx >> 8) & 0xFF;
                if (unit != 1 && unit != 2 && unit != 4) bad(at);
                units = u32();
            }
        } else if (t == TYPE_VECTOR) {
            if (compact) {
                uint8_t k = u8();
                unit = 1u << (k & 3);
                elem_type = k >> 2;
                units = varint();
            } else {
                unit = (fx >> 8) & 0xFF;
                units = u32();
                elem_type = u32();
            }
            if (!vector_kind_ok(elem_type, unit)) bad(at);
        } else {
            units = number();
        }
        uint64_t size = uint64_t(units) * unit;
        need(size);
        if (head > units || size > 0x7FFFFFF0) bad(at);
        size_t padded = compact ? size_t(size) : size_t((size + 3) & ~uint64_t(3));
        need(padded);
        // The units and a terminator (the document is the decoder's own
        // copy: nothing here moves it).
        if ((is_any_string(t) || (t == TYPE_VECTOR && elem_type == TYPE_CHAR)) && unit == 4)
            for (uint32_t i = 0; i < units; i++) {
                uint32_t cp;
                std::memcpy(&cp, p + 4 * size_t(i), 4);
                if (cp > 0x10FFFF) bad(p + 4 * size_t(i));
            }
        node_t node = memory::alloc_units(units + 1, unit);
        memory::SeriesBuffer* b = memory::buffer_of(node);
        std::memcpy(b->head_ptr(), p, size_t(size));
        std::memset(b->head_ptr() + size, 0, unit);
        b->tail = b->head + uint32_t(size);
        p += padded;
        if (t == TYPE_BITSET) {
            bool complement = compact ? bit6 : (fx & FX_COMPLEMENT) != 0;
            if (complement) memory::set_series_flags(node, memory::SERIES_COMPLEMENT);
        }
        *v = Cell{t | (nl ? FLAG_NEW_LINE : 0), head, node, elem_type};
        append(parent, v);
    }

    // An image record: the head index, then a reference path or the sides
    // and the pixels. The sides and the pixel bytes are checked against the
    // input before the image is made. May collect.
    void read_image(Cell* v, bool bit6, bool is_shared, const uint8_t* at) {
        uint32_t head = compact ? (bit6 ? varint() : 0) : u32();
        if (is_shared) {
            if (!compact && u32() != FX_REFERENCE) bad(at);
            Cell from = resolve(at);
            if (type_of(&from) != TYPE_IMAGE) bad(at);
            *v = Cell{TYPE_IMAGE, 0, from.data2, from.data3};
        } else {
            uint32_t w, h;
            if (compact) {
                w = varint();
                h = varint();
            } else {
                uint32_t size = u32();
                w = size & 0xFFFF;
                h = size >> 16;
            }
            if (w > image::MAX_SIDE || h > image::MAX_SIDE) bad(at);
            uint64_t bytes = uint64_t(w) * h * 4;
            need(bytes);
            // The pixels are read from the decoder's own copy of the
            // document, which nothing here moves.
            image::make_from_pixels(v, p, w, h, w * 4, 0);
            p += bytes;
        }
        if (head > image::count_of(v)) bad(at);
        v->data1 = head;
    }

    void run() {
        const uint8_t* records_end = end;
        while (p < records_end) {
            if (!compact && records_end - p < 4) bad();
            read(target);
        }
    }
};

[[noreturn]] void not_moxbin(bool raise_q, const Cell* what, const char* message) {
    if (raise_q) fire(err::invalid_data, what);
    console::write_cstring(message);
    sys_quit_status(1);
}

} // namespace

Cell* encode_cp(const Cell* value, Cell* out) { return encode_with(value, out, true); }
Cell* encode(const Cell* value, Cell* out) { return encode_with(value, out, false); }

int32_t decode(const uint8_t* data, int64_t length, Cell* target, bool raise_q, const Cell* what) {
    static const char* const NOT_MOXBIN = "Error: Not a Moxbin file!\n";
    if ((length >= 0 && length < 8) || std::memcmp(data, "MOXBIN", 6) != 0)
        not_moxbin(raise_q, what, NOT_MOXBIN);
    const uint8_t flags = data[7];
    // The decoder works on its own copy: header, then the body (decompressed
    // when asked), so offsets in errors count from the magic.
    std::vector<uint8_t> doc(data, data + 8);
    if (flags & FLAG_COMPRESSED) {
        size_t available = length >= 0 ? size_t(length - 8) : 0;
        if (length < 0) {
            uint32_t payload;
            std::memcpy(&payload, data + 8, 4);
            available = size_t(payload) + 8;
        }
        uint32_t size = 0;
        uint8_t* body = lz::decompress(data + 8, available, &size);
        if (!body) not_moxbin(raise_q, what, "Error: Moxbin compressed data corrupted!\n");
        doc.insert(doc.end(), body, body + size);
        lz::free_buffer(body);
    } else if (length >= 0) {
        doc.insert(doc.end(), data + 8, data + length);
    } else {
        // Unknown length (the program's own image): measure it from the
        // header first.
        Decoder m;
        m.start = data, m.p = data + 8, m.end = data + 28, m.compact = (flags & FLAG_COMPACT) != 0;
        uint64_t total;
        m.number();
        uint64_t records = m.number();
        total = uint64_t(m.p - data) + records;
        if (flags & FLAG_SYMBOLS) {
            uint64_t n = m.number(), s = m.number();
            total = uint64_t(m.p - data) + 4 * n + s + records;
        }
        doc.insert(doc.end(), data + 8, data + total);
    }
    if (!(flags & FLAG_COMPACT) && doc.size() < 16) not_moxbin(raise_q, what, NOT_MOXBIN);

    const uint8_t* start = doc.data();
    Decoder d;
    d.start = start, d.p = start + 8, d.end = start + doc.size(),
    d.compact = (flags & FLAG_COMPACT) != 0;
    d.target = target;
    d.base = block::abs_length(target);
    // Header fields lie within 20 bytes of their start.
    const uint8_t* full_end = d.end;
    d.end = std::min(full_end, d.p + 20);
    d.number();
    const uint8_t* at = d.p;
    uint32_t records = d.number();
    if (flags & FLAG_SYMBOLS) {
        const uint8_t* sat = d.p;
        d.symbol_count = d.number();
        d.names_size = d.number();
        d.end = full_end;
        uint64_t left = uint64_t(d.end - d.p);
        if (d.symbol_count > left / 4 || d.names_size > left - 4ull * d.symbol_count) d.bad(sat);
        d.offsets = d.p;
        d.names = d.p + 4 * size_t(d.symbol_count);
        if (d.names_size > 0 && d.names[d.names_size - 1] != 0 &&
            (d.compact || std::find(d.names, d.names + d.names_size, 0) == d.names + d.names_size))
            d.bad(d.names + d.names_size - 1);
        d.p = d.names + d.names_size;
        d.interned.assign(d.symbol_count, 0);
        d.global_slots.assign(d.symbol_count, uint32_t(-1));
    }
    d.end = full_end;
    if (records > uint64_t(d.end - d.p)) d.bad(at);
    d.end = d.p + records;
    d.run();
    return int32_t(d.base);
}

int32_t boot_load(const uint8_t* image, Cell* target, int64_t length) {
    bool saved = codec_q;
    codec_q = false;
    collector::Hold hold;
    int32_t base;
    try {
        base = decode(image, length, target, false);
    } catch (...) {
        codec_q = saved;
        throw;
    }
    codec_q = saved;
    return base;
}

} // namespace mox::moxbin
