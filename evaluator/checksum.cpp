// Checksums, digests and HMAC (see checksum.h).
//
// CRC-32 runs eight bytes a step over eight derived tables, Adler-32 defers
// its modulo for as long as the sums cannot overflow, and the Internet
// checksum adds into 64 bits; each gives the same value as the plain
// byte-at-a-time definition.
#include "evaluator/checksum.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "core/console.h"
#include "core/symbol.h"
#include "core/value.h"
#include "platform/platform.h"

namespace mox::checksum {

uint32_t sym_tcp, sym_md5, sym_sha1, sym_crc32, sym_adler32, sym_sha256, sym_sha384, sym_sha512,
    sym_hash;

void init() {
    sym_tcp = symbol::make("tcp");
    sym_md5 = symbol::make("md5");
    sym_sha1 = symbol::make("sha1");
    sym_crc32 = symbol::make("crc32");
    sym_adler32 = symbol::make("adler32");
    sym_sha256 = symbol::make("sha256");
    sym_sha384 = symbol::make("sha384");
    sym_sha512 = symbol::make("sha512");
    sym_hash = symbol::make("hash");
}

bool method_q(uint32_t symbol) {
    uint32_t s = symbol::resolve(symbol);
    return method_id(s) != ID_NONE || s == symbol::resolve(sym_adler32) ||
           s == symbol::resolve(sym_hash);
}

int32_t method_id(uint32_t symbol) {
    const struct {
        uint32_t symbol;
        MethodId id;
    } ids[] = {{sym_tcp, ID_TCP},      {sym_crc32, ID_CRC32},   {sym_md5, ID_MD5},
               {sym_sha1, ID_SHA1},    {sym_sha256, ID_SHA256}, {sym_sha384, ID_SHA384},
               {sym_sha512, ID_SHA512}};
    uint32_t s = symbol::resolve(symbol);
    for (const auto& entry : ids)
        if (symbol::resolve(entry.symbol) == s) return entry.id;
    return ID_NONE;
}

size_t digest_size(int32_t id) {
    switch (id) {
    case ID_MD5:
        return 16;
    case ID_SHA1:
        return 20;
    case ID_SHA256:
        return 32;
    case ID_SHA384:
        return 48;
    case ID_SHA512:
        return 64;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// CRC-32 (reflected, polynomial 0xEDB88320)
// ---------------------------------------------------------------------------

namespace {

struct CrcTables {
    uint32_t t[8][256];
};

// t[0] is the byte table; t[k][i] is the register after byte i followed by
// k zero bytes, which lets eight input bytes be folded in at once.
constexpr CrcTables make_crc_tables() {
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        tables.t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; i++)
        for (int k = 1; k < 8; k++)
            tables.t[k][i] = (tables.t[k - 1][i] >> 8) ^ tables.t[0][tables.t[k - 1][i] & 0xFF];
    return tables;
}

constexpr CrcTables crc = make_crc_tables();

#if defined(__x86_64__) || defined(__i386__)
#define MOX_CRC_CLMUL 1

#define MOX_CLMUL __attribute__((target("pclmul,sse4.1")))

MOX_CLMUL inline __m128i load(const uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x times the two constants of k (one per 64-bit half), added to next.
MOX_CLMUL inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Folds 64 bytes at a time with carry-less multiplication, then reduces the
// 128-bit remainder (Barrett) to the 32-bit register. n is a multiple of 16,
// at least 64; c is the register (not inverted).
MOX_CLMUL uint32_t crc_fold(uint32_t c, const uint8_t* p, size_t n) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; p += 64, n -= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; n >= 16; p += 16, n -= 16) x1 = fold(x1, k3k4, load(p));

    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k5, 0x00),
                      _mm_srli_si128(x, 4));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool has_clmul() {
    static const bool yes = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return yes;
}
#endif

} // namespace

uint32_t crc32_update(uint32_t value, const uint8_t* p, size_t n) {
    uint32_t c = ~value;
#ifdef MOX_CRC_CLMUL
    if (n >= 64 && has_clmul()) {
        size_t bulk = n & ~size_t(15);
        c = crc_fold(c, p, bulk);
        p += bulk;
        n -= bulk;
    }
#endif
    for (; n >= 8; p += 8, n -= 8) {
        uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                           uint32_t(p[3]) << 24);
        uint32_t hi =
            uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
        c = crc.t[7][lo & 0xFF] ^ crc.t[6][(lo >> 8) & 0xFF] ^ crc.t[5][(lo >> 16) & 0xFF] ^
            crc.t[4][lo >> 24] ^ crc.t[3][hi & 0xFF] ^ crc.t[2][(hi >> 8) & 0xFF] ^
            crc.t[1][(hi >> 16) & 0xFF] ^ crc.t[0][hi >> 24];
    }
    while (n--) c = (c >> 8) ^ crc.t[0][(c ^ *p++) & 0xFF];
    return ~c;
}

uint32_t crc32(const uint8_t* bytes, size_t length) { return crc32_update(0, bytes, length); }

// ---------------------------------------------------------------------------
// Adler-32 and the Internet checksum
// ---------------------------------------------------------------------------

uint32_t adler32(const uint8_t* p, size_t n) {
    constexpr uint32_t BASE = 65521;
    // The most bytes after which b still fits in 32 bits from a and b below
    // BASE, so one modulo serves a whole block.
    constexpr size_t NMAX = 5552;
    uint32_t a = 1, b = 0;
    while (n) {
        size_t block = n < NMAX ? n : NMAX;
        n -= block;
        while (block--) {
            a += *p++;
            b += a;
        }
        a %= BASE;
        b %= BASE;
    }
    return b << 16 | a;
}

uint16_t tcp(const uint8_t* p, size_t n) {
    // 64 bits hold the sum of any input the address space allows; the
    // end-around carries are folded in until 16 bits remain.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < n; i += 2) sum += uint32_t(p[i]) << 8 | p[i + 1];
    if (i < n) sum += p[i];
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

// ---------------------------------------------------------------------------
// Digests and HMAC
// ---------------------------------------------------------------------------

namespace {

void digest_spans(int32_t id, const platform::ByteSpan* spans, int count, uint8_t* out) {
    if (!digest_size(id)) fire_int(err::invalid_arg, id);
    std::memset(out, 0, DIGEST_BUFFER);
    if (!platform::digest(static_cast<platform::DigestAlgorithm>(id), spans, count, out))
        fire(err::feature_na);
}

} // namespace

void digest(const uint8_t* bytes, size_t length, int32_t id, uint8_t* out) {
    platform::ByteSpan span{bytes, length};
    digest_spans(id, &span, 1, out);
}

void hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int32_t id,
          uint8_t* out) {
    const size_t block = id == ID_SHA384 || id == ID_SHA512 ? 128 : 64;
    const size_t size = digest_size(id);
    uint8_t short_key[DIGEST_BUFFER];
    if (key_length > block) {
        digest(key, key_length, id, short_key);
        key = short_key;
        key_length = size;
    }
    uint8_t inner_pad[128], outer_pad[128];
    for (size_t i = 0; i < block; i++) {
        uint8_t k = i < key_length ? key[i] : 0;
        inner_pad[i] = k ^ 0x36;
        outer_pad[i] = k ^ 0x5C;
    }
    uint8_t inner[DIGEST_BUFFER];
    platform::ByteSpan first[2] = {{inner_pad, block}, {data, length}};
    digest_spans(id, first, 2, inner);
    platform::ByteSpan second[2] = {{outer_pad, block}, {inner, size}};
    digest_spans(id, second, 2, out);
}

int32_t hash() {
    console::write_cstring("** /hash support not yet implemented; algorithm TBD.\n");
    return 0;
}

} // namespace mox::checksum
