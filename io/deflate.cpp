// The deflate compressor and the zlib and gzip framings (see deflate.h); the
// decoder is inflate.cpp.
//
// The compressor is a lazy-matching LZ77 over hash chains (chains of 128
// links, lazy threshold 16, good length 8, nice length 128; a length-3 match
// farther than 4096 bytes is dropped) with a hash table sized to the input.
// Every 16,384 symbols it closes a block and writes it stored, with the
// fixed codes or with its own codes, whichever is smallest. Positions count
// from 1 so that 0 can mean "no position" in the chain tables.
#include "io/deflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/symbol.h"
#include "core/sys-alloc.h"
#include "evaluator/checksum.h"
#include "io/deflate-tables.h"

namespace mox::deflate {

uint32_t sym_zlib, sym_deflate, sym_gzip;

void init() {
    sym_zlib = symbol::make("zlib");
    sym_deflate = symbol::make("deflate");
    sym_gzip = symbol::make("gzip");
}

namespace {

constexpr int32_t WINDOW = 32768;
constexpr int32_t MAX_DISTANCE = 32767;
constexpr int32_t MIN_MATCH = 3;
constexpr int32_t MAX_MATCH = 258;
constexpr int32_t BLOCK_TOKENS = 16384;
constexpr int32_t LAZY_THRESHOLD = 16;
constexpr int32_t GOOD_LENGTH = 8;
constexpr int32_t NICE_LENGTH = 128;
constexpr int32_t MAX_CHAIN = 128;
constexpr int32_t TOO_FAR = 4096;

constexpr int LIT_SYMBOLS = 286;
constexpr int DIST_SYMBOLS = 30;
constexpr int CL_SYMBOLS = 19;

// ---------------------------------------------------------------------------
// Bit writer
// ---------------------------------------------------------------------------

// Appends bits least significant first. Bytes are stored only below the
// output's end, but the cursor always advances, so the final position is the
// exact size needed even when the output overflowed.
struct BitWriter {
    uint64_t acc = 0;
    int bits = 0;
    uint8_t* out;
    size_t pos = 0;
    size_t cap;

    void byte(uint8_t b) {
        if (pos < cap) out[pos] = b;
        pos++;
    }
    void put(uint32_t value, int n) {
        acc |= uint64_t(value) << bits;
        bits += n;
        if (bits >= 32) {
            if (pos + 4 <= cap) {
                out[pos] = uint8_t(acc);
                out[pos + 1] = uint8_t(acc >> 8);
                out[pos + 2] = uint8_t(acc >> 16);
                out[pos + 3] = uint8_t(acc >> 24);
                pos += 4;
            } else {
                for (int i = 0; i < 4; i++) byte(uint8_t(acc >> (8 * i)));
            }
            acc >>= 32;
            bits -= 32;
        }
    }
    // Bits of a partial byte not yet stored.
    int partial() const { return bits & 7; }
    // Pads with zero bits to a byte boundary and stores everything held.
    void align() {
        bits = (bits + 7) & ~7;
        for (; bits > 0; bits -= 8, acc >>= 8) byte(uint8_t(acc));
        acc = 0;
        bits = 0;
    }
};

// ---------------------------------------------------------------------------
// Huffman code construction
// ---------------------------------------------------------------------------

// Minimum-redundancy code lengths in place (Moffat and Katajainen): a holds
// n weights in ascending order and receives the code length of each, the
// longest first. On equal weights a leaf is merged before an internal node.
void minimum_redundancy(int32_t* a, int n) {
    a[0] += a[1];
    int root = 0, leaf = 2;
    for (int next = 1; next < n - 1; next++) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = next;
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = next;
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (int next = n - 3; next >= 0; next--) a[next] = a[a[next]] + 1;
    int available = 1, used = 0, depth = 0;
    root = n - 2;
    int next = n - 1;
    while (available > 0) {
        while (root >= 0 && a[root] == depth) {
            used++;
            root--;
        }
        while (available > used) {
            a[next--] = depth;
            available--;
        }
        available = 2 * used;
        depth++;
        used = 0;
    }
}

// Code lengths of at most limit bits for n symbols from their counts. A code
// always has at least two lengths set, so every table written is complete.
void build_lengths(const uint32_t* counts, uint8_t* lengths, int n, int limit) {
    std::memset(lengths, 0, n);
    int order[288];
    int used = 0;
    for (int s = 0; s < n; s++)
        if (counts[s]) order[used++] = s;
    if (used < 2) {
        lengths[0] = lengths[1] = 1;
        if (used == 1 && order[0] >= 2) {
            lengths[1] = 0;
            lengths[order[0]] = 1;
        }
        return;
    }
    std::stable_sort(order, order + used, [&](int x, int y) { return counts[x] < counts[y]; });
    int32_t work[288];
    for (int i = 0; i < used; i++) work[i] = static_cast<int32_t>(counts[order[i]]);
    minimum_redundancy(work, used);

    int per_length[16] = {};
    for (int i = 0; i < used; i++) per_length[std::min<int32_t>(work[i], limit)]++;
    uint32_t kraft = 0;
    for (int len = 1; len <= limit; len++) kraft += uint32_t(per_length[len]) << (limit - len);
    while (kraft > (1u << limit)) {
        per_length[limit]--;
        int len = limit - 1;
        while (per_length[len] == 0) len--;
        per_length[len]--;
        per_length[len + 1] += 2;
        kraft--;
    }
    int i = used - 1;
    for (int len = 1; len <= limit; len++)
        for (int k = per_length[len]; k > 0; k--) lengths[order[i--]] = static_cast<uint8_t>(len);
}

// Canonical codes from lengths, each bit-reversed over its length so that the
// least-significant-first writer sends it most significant bit first.
void build_codes(const uint8_t* lengths, uint16_t* codes, int n) {
    int per_length[16] = {};
    for (int s = 0; s < n; s++) per_length[lengths[s]]++;
    per_length[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (int len = 1; len < 16; len++) {
        code = (code + per_length[len - 1]) << 1;
        next[len] = code;
    }
    for (int s = 0; s < n; s++) {
        int len = lengths[s];
        codes[s] = len ? static_cast<uint16_t>(tables::reverse_bits(next[len]++, len)) : 0;
    }
}

// ---------------------------------------------------------------------------
// Code-length run coder
// ---------------------------------------------------------------------------

// Runs over a sequence of code lengths as zlib's tree sender makes them:
// each length once, 16 to repeat the previous non-zero length 3-6 times, 17
// and 18 for runs of 3-10 and 11-138 zeros. Calls emit(symbol, extra bits
// value, extra bit count) per code-length symbol.
template <typename Emit> void run_code(const uint8_t* lengths, int count, Emit emit) {
    int prev = -1;
    int next = lengths[0];
    int run = 0;
    int max_run = next == 0 ? 138 : 7;
    int min_run = next == 0 ? 3 : 4;
    for (int n = 0; n < count; n++) {
        int cur = next;
        next = n + 1 < count ? lengths[n + 1] : -1;
        if (++run < max_run && cur == next) continue;
        if (run < min_run) {
            for (; run > 0; run--) emit(cur, 0, 0);
        } else if (cur != 0) {
            if (cur != prev) {
                emit(cur, 0, 0);
                run--;
            }
            emit(16, run - 3, 2);
        } else if (run <= 10) {
            emit(17, run - 3, 3);
        } else {
            emit(18, run - 11, 7);
        }
        run = 0;
        prev = cur;
        if (next == 0) {
            max_run = 138;
            min_run = 3;
        } else if (cur == next) {
            max_run = 6;
            min_run = 3;
        } else {
            max_run = 7;
            min_run = 4;
        }
    }
}

// ---------------------------------------------------------------------------
// The compressor
// ---------------------------------------------------------------------------

struct Fixed {
    uint8_t lit_lengths[288];
    uint16_t lit_codes[288];
    uint8_t dist_lengths[32];
    uint16_t dist_codes[32];
};

const Fixed& fixed_code() {
    static const Fixed fixed = [] {
        Fixed f{};
        tables::fixed_lit_lengths(f.lit_lengths);
        std::memset(f.dist_lengths, 5, sizeof f.dist_lengths);
        build_codes(f.lit_lengths, f.lit_codes, 288);
        build_codes(f.dist_lengths, f.dist_codes, 32);
        return f;
    }();
    return fixed;
}

struct Compressor {
    const uint8_t* in; // in[p - 1] is the byte at position p
    int32_t len;
    BitWriter w;

    // Work memory: hash heads, chain links by position & 0x7FFF, one
    // block's tokens.
    uint32_t* head;
    uint32_t* prev;
    uint32_t* tokens;
    int32_t token_count = 0;

    uint32_t lit_counts[288];
    uint32_t dist_counts[32];
    uint32_t cl_counts[CL_SYMBOLS];

    int32_t match_distance = 0; // distance of the last longer match found

    void literal(uint8_t b) {
        tokens[token_count++] = b;
        lit_counts[b]++;
    }
    void match(int32_t distance, int32_t length) {
        tokens[token_count++] = uint32_t(distance) << 8 | uint32_t(length - MIN_MATCH);
        lit_counts[257 + tables::length_code(length - MIN_MATCH)]++;
        dist_counts[tables::distance_code(distance - 1)]++;
    }

    // Number of equal bytes at positions a and b, up to max.
    int32_t common(int32_t a, int32_t b, int32_t start, int32_t max) const {
        const uint8_t* x = in + a - 1;
        const uint8_t* y = in + b - 1;
        int32_t n = start;
        while (n + 8 <= max) {
            uint64_t u, v;
            std::memcpy(&u, x + n, 8);
            std::memcpy(&v, y + n, 8);
            if (u != v) {
                uint64_t diff = u ^ v;
                if constexpr (std::endian::native == std::endian::little)
                    return n + (__builtin_ctzll(diff) >> 3);
                while (x[n] == y[n]) n++;
                return n;
            }
            n += 8;
        }
        while (n < max && x[n] == y[n]) n++;
        return n;
    }

    // The longest match for position p along the chain from candidate c,
    // longer than best and at most max; sets match_distance when one is
    // found and returns best unchanged otherwise.
    int32_t longest_match(int32_t p, int32_t c, int32_t best, int32_t max) {
        if (best >= max) return best;
        int chain = best >= GOOD_LENGTH ? MAX_CHAIN / 4 : MAX_CHAIN;
        const int32_t nice = std::min(NICE_LENGTH, max);
        const int32_t limit = std::max(p - WINDOW, 0);
        const uint8_t* here = in + p - 1;
        do {
            const uint8_t* there = in + c - 1;
            if (there[best - 1] == here[best - 1] && there[best] == here[best] &&
                there[0] == here[0] && there[1] == here[1]) {
                int32_t n = common(c, p, 2, max);
                if (n > best) {
                    match_distance = p - c;
                    best = n;
                    if (best >= nice) break;
                }
            }
            c = static_cast<int32_t>(prev[c & 0x7FFF]);
        } while (c > limit && --chain != 0);
        return best;
    }

    void write_tokens(const uint16_t* lit_codes, const uint8_t* lit_lengths,
                      const uint16_t* dist_codes, const uint8_t* dist_lengths) {
        for (int32_t i = 0; i < token_count; i++) {
            uint32_t t = tokens[i];
            if (t < 256) {
                w.put(lit_codes[t], lit_lengths[t]);
                continue;
            }
            int32_t a = t & 0xFF;
            int32_t distance = static_cast<int32_t>(t >> 8);
            int k = tables::length_code(a);
            w.put(lit_codes[257 + k], lit_lengths[257 + k]);
            if (tables::length_extra[k])
                w.put(a + MIN_MATCH - tables::length_base[k], tables::length_extra[k]);
            int d = tables::distance_code(distance - 1);
            w.put(dist_codes[d], dist_lengths[d]);
            if (tables::distance_extra[d])
                w.put(distance - tables::distance_base[d], tables::distance_extra[d]);
        }
        w.put(lit_codes[256], lit_lengths[256]);
    }

    // Writes the block of the held tokens, which cover the input positions
    // start .. end - 1, in its smallest form, and clears the counters.
    void write_block(int32_t start, int32_t end, bool last) {
        lit_counts[256]++;
        uint8_t lit_lengths[LIT_SYMBOLS], dist_lengths[DIST_SYMBOLS], cl_lengths[CL_SYMBOLS];
        build_lengths(lit_counts, lit_lengths, LIT_SYMBOLS, 15);
        build_lengths(dist_counts, dist_lengths, DIST_SYMBOLS, 15);
        int nlit = LIT_SYMBOLS, ndist = DIST_SYMBOLS;
        while (lit_lengths[nlit - 1] == 0) nlit--;
        while (dist_lengths[ndist - 1] == 0) ndist--;

        std::memset(cl_counts, 0, sizeof cl_counts);
        auto count = [&](int symbol, int, int) { cl_counts[symbol]++; };
        run_code(lit_lengths, nlit, count);
        run_code(dist_lengths, ndist, count);
        build_lengths(cl_counts, cl_lengths, CL_SYMBOLS, 7);
        int nclen = CL_SYMBOLS;
        while (nclen > 4 && cl_lengths[tables::cl_order[nclen - 1]] == 0) nclen--;

        const Fixed& fixed = fixed_code();
        uint64_t dynamic_bits = 17 + 3 * uint64_t(nclen);
        uint64_t fixed_bits = 3;
        for (int s = 0; s < LIT_SYMBOLS; s++) {
            if (!lit_counts[s]) continue;
            uint32_t extra = s > 256 ? tables::length_extra[s - 257] : 0;
            dynamic_bits += uint64_t(lit_counts[s]) * (lit_lengths[s] + extra);
            fixed_bits += uint64_t(lit_counts[s]) * (fixed.lit_lengths[s] + extra);
        }
        for (int s = 0; s < DIST_SYMBOLS; s++) {
            if (!dist_counts[s]) continue;
            dynamic_bits +=
                uint64_t(dist_counts[s]) * (dist_lengths[s] + tables::distance_extra[s]);
            fixed_bits += uint64_t(dist_counts[s]) * (5 + tables::distance_extra[s]);
        }
        for (int s = 0; s < CL_SYMBOLS; s++) dynamic_bits += uint64_t(cl_counts[s]) * cl_lengths[s];
        dynamic_bits +=
            2 * uint64_t(cl_counts[16]) + 3 * uint64_t(cl_counts[17]) + 7 * uint64_t(cl_counts[18]);
        const int64_t raw = end - start;
        const int64_t pieces = std::max<int64_t>((raw + 65534) / 65535, 1);
        const int held = w.partial();
        const uint64_t stored_bits =
            uint64_t(((held + 10) & ~7) - held + 32 + 40 * (pieces - 1) + 8 * raw);

        if (stored_bits <= fixed_bits && stored_bits <= dynamic_bits) {
            write_stored(start, raw, last);
        } else if (dynamic_bits < fixed_bits) {
            w.put(last ? 5 : 4, 3);
            w.put(nlit - 257, 5);
            w.put(ndist - 1, 5);
            w.put(nclen - 4, 4);
            for (int i = 0; i < nclen; i++) w.put(cl_lengths[tables::cl_order[i]], 3);
            uint16_t cl_codes[CL_SYMBOLS], lit_codes[LIT_SYMBOLS], dist_codes[DIST_SYMBOLS];
            build_codes(cl_lengths, cl_codes, CL_SYMBOLS);
            build_codes(lit_lengths, lit_codes, LIT_SYMBOLS);
            build_codes(dist_lengths, dist_codes, DIST_SYMBOLS);
            auto send = [&](int symbol, int extra, int extra_bits) {
                w.put(cl_codes[symbol], cl_lengths[symbol]);
                if (extra_bits) w.put(extra, extra_bits);
            };
            run_code(lit_lengths, nlit, send);
            run_code(dist_lengths, ndist, send);
            write_tokens(lit_codes, lit_lengths, dist_codes, dist_lengths);
        } else {
            w.put(last ? 3 : 2, 3);
            write_tokens(fixed.lit_codes, fixed.lit_lengths, fixed.dist_codes, fixed.dist_lengths);
        }
        std::memset(lit_counts, 0, sizeof lit_counts);
        std::memset(dist_counts, 0, sizeof dist_counts);
    }

    // Stored pieces of at most 65,535 bytes, each with its own header; the
    // bytes are copied only where they fit.
    void write_stored(int32_t start, int64_t raw, bool last) {
        const uint8_t* p = in + start - 1;
        do {
            uint32_t piece = static_cast<uint32_t>(std::min<int64_t>(raw, 65535));
            raw -= piece;
            w.put(last && raw == 0 ? 1 : 0, 3);
            w.align();
            w.put(piece | (~piece & 0xFFFF) << 16, 32);
            if (w.pos < w.cap)
                std::memcpy(w.out + w.pos, p, std::min<size_t>(piece, w.cap - w.pos));
            w.pos += piece;
            p += piece;
        } while (raw > 0);
    }

    void run() {
        int bits = 8;
        while (bits < 15 && (int64_t(1) << bits) < len) bits++;
        const uint32_t mask = (1u << bits) - 1;
        // Only the heads need clearing: a chain link is always written
        // before it is followed.
        std::memset(head, 0, (mask + 1) * sizeof(uint32_t));
        uint32_t hash = len > 2 ? uint32_t(in[0]) << 5 ^ in[1] : 0;

        int32_t prev_length = 2, prev_distance = 0, skip = 0;
        bool pending = false;
        int32_t block_start = 1, block_end = 1;
        for (int32_t p = 1; p <= len; p++) {
            int32_t candidate = 0;
            if (p <= len - 2) {
                hash = ((hash << 5) ^ in[p + 1]) & mask;
                candidate = static_cast<int32_t>(head[hash]);
                head[hash] = static_cast<uint32_t>(p);
                prev[p & 0x7FFF] = static_cast<uint32_t>(candidate);
            }
            if (skip > 0) {
                skip--;
                continue;
            }
            int32_t length = 2;
            if (candidate > 0 && p - candidate <= MAX_DISTANCE && prev_length < LAZY_THRESHOLD) {
                length = longest_match(p, candidate, prev_length, std::min(len - p + 1, MAX_MATCH));
                if (length == MIN_MATCH && match_distance > TOO_FAR) length = 2;
            }
            if (prev_length >= MIN_MATCH && length <= prev_length) {
                match(prev_distance, prev_length);
                block_end = p - 1 + prev_length;
                skip = prev_length - 2;
                prev_length = 2;
                pending = false;
            } else {
                if (pending) {
                    literal(in[p - 2]);
                    block_end = p;
                }
                pending = true;
                prev_length = length;
                prev_distance = match_distance;
            }
            if (token_count == BLOCK_TOKENS) {
                write_block(block_start, block_end, false);
                token_count = 0;
                block_start = block_end;
            }
        }
        if (pending) {
            literal(in[len - 1]);
            block_end = len + 1;
        }
        write_block(block_start, block_end, true);
        w.align();
    }
};

// Big- and little-endian stores of framing fields, each only where it fits.
void put_be32(uint8_t* out, size_t at, size_t cap, uint32_t v) {
    for (int i = 0; i < 4; i++)
        if (at + i < cap) out[at + i] = uint8_t(v >> (24 - 8 * i));
}
void put_le32(uint8_t* out, size_t at, size_t cap, uint32_t v) {
    for (int i = 0; i < 4; i++)
        if (at + i < cap) out[at + i] = uint8_t(v >> (8 * i));
}

} // namespace

int32_t compress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len) {
    Compressor c{};
    c.in = in;
    c.len = len;
    c.w.out = out;
    c.w.cap = *size > 0 ? static_cast<size_t>(*size) : 0;
    auto* work = static_cast<uint32_t*>(sys_alloc((2 * WINDOW + BLOCK_TOKENS) * sizeof(uint32_t)));
    c.head = work;
    c.prev = work + WINDOW;
    c.tokens = work + 2 * WINDOW;
    c.run();
    sys_free(work);
    *size = static_cast<int32_t>(c.w.pos);
    return c.w.pos > c.w.cap ? TOO_SMALL : OK;
}

int32_t zlib_compress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len) {
    const int32_t cap = *size;
    if (cap < 6) {
        *size = len + 6;
        return BAD_DATA;
    }
    out[0] = 0x78;
    out[1] = 0x01;
    int32_t body = cap - 2;
    int32_t result = compress(out + 2, &body, in, len);
    *size = body + 6;
    if (result != OK) return result;
    put_be32(out, body + 2, cap, checksum::adler32(in, len));
    return *size > cap ? TOO_SMALL : OK;
}

int32_t gzip_compress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len) {
    const int32_t cap = *size;
    if (cap < 18) {
        *size = len + 18;
        return BAD_DATA;
    }
    static const uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::memcpy(out, header, sizeof header);
    int32_t body = cap - 10;
    int32_t result = compress(out + 10, &body, in, len);
    *size = body + 18;
    if (result != OK) return result;
    if (*size > cap) return TOO_SMALL;
    put_le32(out, body + 10, cap, checksum::crc32(in, len));
    put_le32(out, body + 14, cap, static_cast<uint32_t>(len));
    return OK;
}

} // namespace mox::deflate
