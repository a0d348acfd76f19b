// The deflate decoder and the zlib and gzip unwrapping (see deflate.h).
//
// Huffman symbols are decoded through lookup tables: a primary table indexed
// by the next ROOT bits of input, whose entries either give a symbol and its
// code length or point at a secondary table for the longer codes sharing
// that prefix. Tables are built only from code lengths that form a complete
// prefix code (or the single one-bit code the format allows), so every
// decode step consumes at least one bit and no table entry is left unset.
// Reading past the end of the input yields zero bits; the decoder stops at
// the first symbol boundary where no input is left.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "evaluator/checksum.h"
#include "io/deflate-tables.h"
#include "io/deflate.h"

namespace mox::deflate {

namespace {

// ---------------------------------------------------------------------------
// Bit reader
// ---------------------------------------------------------------------------

struct BitReader {
    const uint8_t* in;
    const uint8_t* end;
    uint64_t acc = 0;
    int bits = 0; // bits of real input held in acc

    // Keeps at least 32 bits in acc (zeros past the end of the input).
    void refill() {
        if (bits >= 32) return;
        if (end - in >= 8) {
            uint64_t v;
            std::memcpy(&v, in, 8);
            if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
            acc |= v << bits;
            in += (63 - bits) >> 3;
            bits |= 56;
            return;
        }
        while (bits <= 56 && in < end) {
            acc |= uint64_t(*in++) << bits;
            bits += 8;
        }
    }
    uint32_t peek() const { return static_cast<uint32_t>(acc); }
    void drop(int n) {
        acc >>= n;
        bits = n < bits ? bits - n : 0;
    }
    uint32_t take(int n) {
        refill();
        uint32_t v = static_cast<uint32_t>(acc) & ((1u << n) - 1);
        drop(n);
        return v;
    }
    bool exhausted() const { return bits == 0 && in >= end; }
};

// ---------------------------------------------------------------------------
// Decoding tables
// ---------------------------------------------------------------------------

// Entry: bits 0-7 the code length (for a link: the secondary index width),
// bits 8-9 the kind, bits 16-31 the symbol (for a link: the secondary
// table's offset).
constexpr uint32_t KIND_SYMBOL = 0 << 8;
constexpr uint32_t KIND_LINK = 1 << 8;
constexpr uint32_t KIND_INVALID = 2 << 8;
constexpr uint32_t KIND_MASK = 3 << 8;

constexpr int LIT_ROOT = 10;
constexpr int DIST_ROOT = 8;

// Primary table plus room for the secondary tables of any complete code of
// up to 288 (or 32) symbols and 15 bits.
template <int Root, int Size> struct Table { uint32_t entries[Size]; };
using LitTable = Table<LIT_ROOT, 2048>;
using DistTable = Table<DIST_ROOT, 1024>;

// Builds the table of n code lengths. False for an over-subscribed set, for
// an incomplete one other than a single one-bit code, and for a set with no
// code at all when empty_ok is false. An empty set (allowed for distances,
// when a block has no matches) decodes every pattern as invalid.
bool build_table(const uint8_t* lengths, int n, int root, uint32_t* entries, int capacity,
                 bool empty_ok) {
    int count[16] = {};
    for (int s = 0; s < n; s++) count[lengths[s]]++;
    count[0] = 0;
    int max_len = 15;
    while (max_len > 0 && count[max_len] == 0) max_len--;
    const int primary = 1 << root;
    if (max_len == 0) {
        for (int i = 0; i < primary; i++) entries[i] = KIND_INVALID | 1;
        return empty_ok;
    }
    int left = 1;
    for (int len = 1; len < 16; len++) {
        left = (left << 1) - count[len];
        if (left < 0) return false;
    }
    const bool single = left > 0;
    if (single && !(max_len == 1 && count[1] == 1)) return false;

    uint32_t next_code[16];
    uint32_t code = 0;
    for (int len = 1; len < 16; len++) {
        code = (code + count[len - 1]) << 1;
        next_code[len] = code;
    }
    if (single)
        for (int i = 0; i < primary; i++) entries[i] = KIND_INVALID | 1;

    // Secondary widths per primary index: the longest code sharing it.
    uint8_t width[1 << LIT_ROOT] = {};
    uint32_t reversed[288];
    for (int s = 0; s < n; s++) {
        int len = lengths[s];
        if (!len) continue;
        reversed[s] = tables::reverse_bits(next_code[len]++, len);
        if (len > root) {
            uint32_t index = reversed[s] & (primary - 1);
            width[index] = std::max<uint8_t>(width[index], static_cast<uint8_t>(len - root));
        }
    }
    int used = primary;
    for (int i = 0; i < primary; i++) {
        if (!width[i]) continue;
        entries[i] = static_cast<uint32_t>(used) << 16 | KIND_LINK | width[i];
        used += 1 << width[i];
        if (used > capacity) return false;
    }
    for (int s = 0; s < n; s++) {
        int len = lengths[s];
        if (!len) continue;
        uint32_t entry = static_cast<uint32_t>(s) << 16 | KIND_SYMBOL | static_cast<uint32_t>(len);
        uint32_t r = reversed[s];
        if (len <= root) {
            for (uint32_t i = r; i < static_cast<uint32_t>(primary); i += 1u << len)
                entries[i] = entry;
        } else {
            uint32_t link = entries[r & (primary - 1)];
            uint32_t base = link >> 16;
            int w = link & 0xFF;
            for (uint32_t i = r >> root; i < (1u << w); i += 1u << (len - root))
                entries[base + i] = entry;
        }
    }
    return true;
}

// The next symbol, or -1 for a pattern no code uses.
template <int Root> inline int decode(BitReader& r, const uint32_t* entries) {
    r.refill();
    uint32_t bits = r.peek();
    uint32_t e = entries[bits & ((1u << Root) - 1)];
    if ((e & KIND_MASK) == KIND_LINK)
        e = entries[(e >> 16) + ((bits >> Root) & ((1u << (e & 0xFF)) - 1))];
    r.drop(static_cast<int>(e & 0xFF));
    return (e & KIND_MASK) == KIND_SYMBOL ? static_cast<int>(e >> 16) : -1;
}

struct FixedTables {
    LitTable lit;
    DistTable dist;
};

const FixedTables& fixed_tables() {
    static const FixedTables fixed = [] {
        FixedTables f{};
        uint8_t lengths[288];
        tables::fixed_lit_lengths(lengths);
        build_table(lengths, 288, LIT_ROOT, f.lit.entries, 2048, false);
        std::memset(lengths, 5, 32);
        build_table(lengths, 32, DIST_ROOT, f.dist.entries, 1024, false);
        return f;
    }();
    return fixed;
}

// ---------------------------------------------------------------------------
// The decoder
// ---------------------------------------------------------------------------

struct Inflater {
    BitReader r;
    uint8_t* out;
    size_t cap;
    size_t pos = 0; // bytes produced (stored only below cap)

    void put(uint8_t b) {
        if (pos < cap) out[pos] = b;
        pos++;
    }

    // Copies a match; the source bytes past the capacity were never stored,
    // but then neither is anything they would produce.
    void copy(size_t distance, size_t length) {
        if (pos + length <= cap) {
            uint8_t* d = out + pos;
            const uint8_t* s = d - distance;
            if (distance >= 8) {
                size_t i = 0;
                for (; i + 8 <= length; i += 8) {
                    uint64_t v;
                    std::memcpy(&v, s + i, 8);
                    std::memcpy(d + i, &v, 8);
                }
                for (; i < length; i++) d[i] = s[i];
            } else {
                for (size_t i = 0; i < length; i++) d[i] = s[i];
            }
            pos += length;
            return;
        }
        for (size_t i = 0; i < length; i++) {
            if (pos < cap) out[pos] = out[pos - distance];
            pos++;
        }
    }

    int32_t stored() {
        r.drop(r.bits & 7);
        uint32_t length = r.take(16);
        r.take(16);
        if (length == 0) return OK;
        r.in -= r.bits >> 3;
        r.acc = 0;
        r.bits = 0;
        if (static_cast<size_t>(r.end - r.in) < length) return STORED_OVERRUN;
        if (pos < cap) std::memcpy(out + pos, r.in, std::min<size_t>(length, cap - pos));
        pos += length;
        r.in += length;
        return OK;
    }

    int32_t dynamic(LitTable& lit, DistTable& dist) {
        const int hlit = static_cast<int>(r.take(5)) + 257;
        const int hdist = static_cast<int>(r.take(5)) + 1;
        const int hclen = static_cast<int>(r.take(4)) + 4;
        uint8_t cl_lengths[19] = {};
        for (int i = 0; i < hclen; i++)
            cl_lengths[tables::cl_order[i]] = static_cast<uint8_t>(r.take(3));
        uint32_t cl_entries[1 << 7];
        if (!build_table(cl_lengths, 19, 7, cl_entries, 1 << 7, false)) return BAD_DATA;

        uint8_t lengths[288 + 32] = {};
        const int total = hlit + hdist;
        for (int i = 0; i < total;) {
            int symbol = decode<7>(r, cl_entries);
            if (symbol < 0) return BAD_DATA;
            if (symbol < 16) {
                lengths[i++] = static_cast<uint8_t>(symbol);
                continue;
            }
            uint8_t value = 0;
            int repeat;
            if (symbol == 16) {
                if (i == 0) return BAD_DATA;
                value = lengths[i - 1];
                repeat = 3 + static_cast<int>(r.take(2));
            } else if (symbol == 17) {
                repeat = 3 + static_cast<int>(r.take(3));
            } else {
                repeat = 11 + static_cast<int>(r.take(7));
            }
            if (i + repeat > total) return BAD_DATA;
            std::memset(lengths + i, value, repeat);
            i += repeat;
        }
        if (!build_table(lengths, hlit, LIT_ROOT, lit.entries, 2048, false) || lengths[256] == 0)
            return BAD_DATA;
        if (!build_table(lengths + hlit, hdist, DIST_ROOT, dist.entries, 1024, true))
            return BAD_DATA;
        return OK;
    }

    // Decodes one block's symbols up to its end code. Sets *ended when the
    // input ran out before it.
    int32_t data(const uint32_t* lit, const uint32_t* dist, bool* ended) {
        for (;;) {
            if (r.exhausted()) {
                *ended = true;
                return OK;
            }
            int symbol = decode<LIT_ROOT>(r, lit);
            if (symbol < 256) {
                if (symbol < 0) return BAD_DATA;
                put(static_cast<uint8_t>(symbol));
                continue;
            }
            if (symbol == 256) return OK;
            int k = symbol - 257;
            if (k >= 29) return BAD_DATA;
            size_t length = tables::length_base[k];
            if (tables::length_extra[k]) length += r.take(tables::length_extra[k]);
            int d = decode<DIST_ROOT>(r, dist);
            if (d < 0 || d >= 30) return BAD_DATA;
            size_t distance = tables::distance_base[d];
            if (tables::distance_extra[d]) distance += r.take(tables::distance_extra[d]);
            if (distance > pos) return BAD_DISTANCE;
            copy(distance, length);
            // No caller can take more than an int32 size of output.
            if (pos > INT32_MAX) return BAD_DATA;
        }
    }

    int32_t run() {
        LitTable lit;
        DistTable dist;
        r.refill();
        while (!r.exhausted()) {
            bool last = r.take(1) != 0;
            int32_t result = OK;
            bool ended = false;
            switch (r.take(2)) {
            case 0:
                result = stored();
                break;
            case 1: {
                const FixedTables& f = fixed_tables();
                result = data(f.lit.entries, f.dist.entries, &ended);
                break;
            }
            case 2:
                result = dynamic(lit, dist);
                if (result == OK) result = data(lit.entries, dist.entries, &ended);
                break;
            default:
                return BAD_BLOCK_TYPE;
            }
            if (result != OK) return result;
            if (last || ended) break;
        }
        return pos > cap ? TOO_SMALL : OK;
    }
};

int32_t inflate(uint8_t* out, int32_t* size, const uint8_t* in, size_t len) {
    Inflater f{{in, in + len}, out, *size > 0 && out ? static_cast<size_t>(*size) : 0};
    int32_t result = f.run();
    if (f.pos > INT32_MAX) return BAD_DATA;
    *size = static_cast<int32_t>(f.pos);
    return result;
}

uint32_t load_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

} // namespace

int32_t decompress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len) {
    return inflate(out, size, in, len > 0 ? static_cast<size_t>(len) : 0);
}

int32_t zlib_decompress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len) {
    if (len < 6) return BAD_DATA;
    const uint8_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (flg & 0x20))
        return BAD_DATA;
    int32_t result = inflate(out, size, in + 2, static_cast<size_t>(len) - 6);
    if (result != OK) return result;
    return checksum::adler32(out, *size) == load_be32(in + len - 4) ? OK : BAD_DATA;
}

int32_t gzip_decompress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len) {
    if (len < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & 0xE0)) return BAD_DATA;
    const uint8_t flags = in[3];
    // The header's optional fields must end before the 8-byte trailer.
    const size_t body_end = static_cast<size_t>(len) - 8;
    size_t at = 10;
    if (flags & 0x04) {
        size_t xlen = in[10] | size_t(in[11]) << 8;
        at = 12 + xlen;
        if (at > body_end) return BAD_DATA;
    }
    for (uint8_t field : {uint8_t(0x08), uint8_t(0x10)}) {
        if (!(flags & field)) continue;
        while (at < body_end && in[at] != 0) at++;
        if (at >= body_end) return BAD_DATA;
        at++;
    }
    if (flags & 0x02) {
        if (at + 2 > body_end) return BAD_DATA;
        uint32_t crc = checksum::crc32(in, at);
        if ((in[at] | uint32_t(in[at + 1]) << 8) != (crc & 0xFFFF)) return BAD_DATA;
        at += 2;
    }
    const uint32_t isize = load_le32(in + len - 4);
    if (isize > INT32_MAX) return BAD_DATA;
    const int32_t expected = static_cast<int32_t>(isize);
    // A claimed size larger than the output is not believed: the stream is
    // decoded without output, and only a matching size is reported.
    if (expected > *size || !out) {
        int32_t measured = 0;
        int32_t result = inflate(nullptr, &measured, in + at, body_end - at);
        if (result != OK && result != TOO_SMALL) return result;
        if (measured != expected) return BAD_DATA;
        if (expected > *size) {
            *size = expected;
            return TOO_SMALL;
        }
    }
    int32_t result = inflate(out, size, in + at, body_end - at);
    if (result != OK) return result;
    if (*size != expected) return BAD_DATA;
    return checksum::crc32(out, static_cast<size_t>(expected)) == load_le32(in + len - 8)
               ? OK
               : BAD_DATA;
}

} // namespace mox::deflate
