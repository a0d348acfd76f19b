#include "io/lz.h"

#include <cstring>

#include "core/sys-alloc.h"

namespace mox::lz {
namespace {

constexpr uint32_t HASH3_HEADS = 524288;
constexpr uint32_t HASH4_HEADS = 1048576;
constexpr uint32_t CHAIN_MASK = 0x3FFFF;
constexpr int32_t CHAIN_WALK = 256;
// The rolling hashes look up to 3 bytes past the block.
constexpr uint32_t WINDOW_SLACK = MATCH_MAX;

inline uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void store32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

struct Reader {
    const uint8_t* at;
    const uint8_t* end;
    uint32_t bits;
    uint32_t count;
    bool bad;

    // Fetches a byte only when the held bits run short, so the byte holding
    // a block's last bits is the block's last byte.
    uint32_t take(uint32_t n) {
        while (count < n) {
            if (at >= end) {
                bad = true;
                return 0;
            }
            bits |= uint32_t(*at++) << count;
            count += 8;
        }
        uint32_t v = bits & ((1u << n) - 1);
        bits >>= n;
        count -= n;
        return v;
    }
};

// Fewest bits a symbol spends per output byte is a 566-byte match in 22
// bits; anything claiming more output than that is corrupt.
constexpr uint64_t MAX_BYTES_PER_PAYLOAD_BYTE = (8 * MATCH_MAX + 21) / 22;

bool decode_block(Reader& r, uint8_t* out, uint32_t block_length) {
    static const uint8_t extra_bits[6] = {2, 2, 2, 3, 5, 9};
    static const uint16_t base[6] = {0, 4, 8, 12, 20, 52};
    uint32_t pos = 0;
    while (pos < block_length) {
        if (r.take(1) == 0) {
            uint32_t byte = r.take(8);
            if (r.bad) return false;
            out[pos++] = uint8_t(byte);
            continue;
        }
        int code = 0;
        while (code < 5 && r.take(1) == 0) code++;
        uint32_t length = 3 + base[code] + r.take(extra_bits[code]);
        uint32_t j = r.take(4) + 2;
        uint32_t distance = (j == 2 ? r.take(3) : (1u << j) + r.take(j)) + 1;
        if (r.bad || distance > pos || length > block_length - pos) return false;
        const uint8_t* from = out + pos - distance;
        for (uint32_t i = 0; i < length; i++) out[pos + i] = from[i];
        pos += length;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Encoding
// ---------------------------------------------------------------------------

struct Writer {
    uint8_t* out;
    uint32_t capacity;
    uint32_t used;
    uint32_t bits;
    uint32_t count;
    bool failed;

    uint8_t* reserve(uint32_t n) {
        if (failed || n > capacity - used) {
            failed = true;
            return nullptr;
        }
        uint8_t* p = out + used;
        used += n;
        return p;
    }
    void put(uint32_t value, uint32_t n) {
        bits |= value << count;
        count += n;
        while (count >= 8) {
            uint8_t* p = reserve(1);
            if (!p) return;
            *p = uint8_t(bits);
            bits >>= 8;
            count -= 8;
        }
    }
    void match(uint32_t length, uint32_t distance) {
        put(1, 1);
        uint32_t l = length - 3;
        if (l < 4) {
            put(1, 1), put(l, 2);
        } else if (l < 8) {
            put(0, 1), put(1, 1), put(l - 4, 2);
        } else if (l < 12) {
            put(0, 2), put(1, 1), put(l - 8, 2);
        } else if (l < 20) {
            put(0, 3), put(1, 1), put(l - 12, 3);
        } else if (l < 52) {
            put(0, 4), put(1, 1), put(l - 20, 5);
        } else {
            put(0, 5), put(l - 52, 9);
        }
        uint32_t d = distance - 1;
        uint32_t j = 2;
        while (d >= (2u << j)) j++;
        put(j - 2, 4);
        if (j == 2)
            put(d, 3);
        else
            put(d - (1u << j), j);
    }
};

struct Work {
    int32_t* heads3;
    int32_t* heads4;
    int32_t* chain;
    uint8_t* window;
};

uint32_t match_length(const uint8_t* a, const uint8_t* b, uint32_t max) {
    uint32_t n = 0;
    while (n < max && a[n] == b[n]) n++;
    return n;
}

void compress_block(Work& w, Writer& out, uint32_t length) {
    const uint8_t* win = w.window;
    std::memset(w.heads3, 0xFF, sizeof(int32_t) * (HASH3_HEADS + HASH4_HEADS));
    uint32_t h3 = 0, h4 = 0;
    for (int i = 0; i < 3; i++) h3 = ((h3 << 7) + win[i]) & 0x7FFFF;
    for (int i = 0; i < 4; i++) h4 = ((h4 << 5) + win[i]) & 0xFFFFF;
    uint32_t p = 0;
    while (p < length && !out.failed) {
        uint32_t max = length - p < MATCH_MAX ? length - p : MATCH_MAX;
        int32_t window_start = p > WINDOW ? int32_t(p - WINDOW) : 0;
        uint32_t best = 2, best_distance = WINDOW;
        int32_t c = w.heads3[h3];
        if (c >= window_start && win[c] == win[p]) {
            uint32_t n = match_length(win + c, win + p, max);
            if (n > best) best = n, best_distance = p - uint32_t(c);
        }
        if (best < MATCH_MAX) {
            c = w.heads4[h4];
            for (int32_t walked = 0; walked < CHAIN_WALK && c >= window_start; walked++) {
                if (win[c + best] == win[p + best] && win[c] == win[p]) {
                    uint32_t distance = p - uint32_t(c);
                    uint32_t penalty = 0;
                    for (uint32_t t = distance >> 4; t > best_distance; t >>= 3) penalty++;
                    uint32_t n = match_length(win + c, win + p, max);
                    if (n > best + penalty) best = n, best_distance = distance;
                    if (n >= max) break;
                }
                c = w.chain[uint32_t(c) & CHAIN_MASK];
            }
        }
        if (best == 3 && best_distance > 65536) best = 2;
        uint32_t covered;
        if (best < 3) {
            out.put(0, 1);
            out.put(win[p], 8);
            covered = 1;
        } else {
            out.match(best, best_distance);
            covered = best;
        }
        for (uint32_t i = 0; i < covered; i++) {
            w.heads3[h3] = int32_t(p);
            w.chain[p & CHAIN_MASK] = w.heads4[h4];
            w.heads4[h4] = int32_t(p);
            p++;
            h3 = ((h3 << 7) + win[p + 2]) & 0x7FFFF;
            h4 = ((h4 << 5) + win[p + 3]) & 0xFFFFF;
        }
    }
    out.put(0, 7);
    out.bits = 0;
    out.count = 0;
}

} // namespace

uint8_t* decompress(const uint8_t* data, size_t length, uint32_t* size_out) {
    if (!data || length < 8) return nullptr;
    uint32_t payload = load32(data);
    uint32_t total = load32(data + 4);
    if (payload > length - 8) return nullptr;
    if (uint64_t(total) > uint64_t(payload) * MAX_BYTES_PER_PAYLOAD_BYTE) return nullptr;
    auto* out = static_cast<uint8_t*>(sys_alloc(size_t(total) + 8));
    Reader r{data + 8, data + 8 + payload, 0, 0, false};
    uint32_t used = 0;
    while (r.at < r.end) {
        if (r.end - r.at < 4) break;
        uint32_t block_length = load32(r.at);
        r.at += 4;
        if (block_length < 1 || block_length > BLOCK_MAX || block_length > total - used) break;
        r.bits = 0;
        r.count = 0;
        if (!decode_block(r, out + used, block_length)) break;
        used += block_length;
    }
    if (r.at != r.end || used != total) {
        sys_free(out);
        return nullptr;
    }
    if (size_out) *size_out = used;
    return out;
}

void free_buffer(uint8_t* buffer) {
    if (buffer) sys_free(buffer);
}

int32_t compress(const uint8_t* source, int32_t length, uint8_t* destination) {
    if (length < INPUT_MIN) return -1;
    store32(destination + 4, uint32_t(length));
    Writer out{destination + 8, uint32_t(length) - 8, 0, 0, 0, false};
    Work w;
    w.heads3 = static_cast<int32_t*>(sys_alloc(sizeof(int32_t) * (HASH3_HEADS + HASH4_HEADS)));
    w.heads4 = w.heads3 + HASH3_HEADS;
    w.chain = static_cast<int32_t*>(sys_alloc(sizeof(int32_t) * (CHAIN_MASK + 1)));
    w.window = static_cast<uint8_t*>(sys_alloc(BLOCK_MAX + WINDOW_SLACK));
    for (uint32_t done = 0; done < uint32_t(length) && !out.failed;) {
        uint32_t block = uint32_t(length) - done;
        if (block > BLOCK_MAX) block = BLOCK_MAX;
        std::memcpy(w.window, source + done, block);
        // The slack is cleared so that the hashes, and so the output, depend
        // on the input alone.
        std::memset(w.window + block, 0, WINDOW_SLACK);
        uint8_t* word = out.reserve(4);
        if (!word) break;
        store32(word, block);
        compress_block(w, out, block);
        done += block;
    }
    sys_free(w.window);
    sys_free(w.chain);
    sys_free(w.heads3);
    // Output as long as the input saves nothing: refused like output that
    // does not fit.
    if (out.failed || out.used + 8 >= uint32_t(length)) return -1;
    store32(destination, out.used);
    return int32_t(out.used) + 8;
}

} // namespace mox::lz
