// Message digests for the native build, which has no system cryptographic
// service to call: MD5 (RFC 1321), SHA-1 and the SHA-2 family (FIPS 180-4),
// each fed by stretches of input and finished into a big- or little-endian
// digest. The Windows build asks CryptoAPI instead.
#include <cstring>

#include "platform/platform.h"

namespace mox::platform {

namespace {

inline uint32_t rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint64_t rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

inline uint32_t load_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline uint64_t load_be64(const uint8_t* p) {
    return uint64_t(load_be32(p)) << 32 | load_be32(p + 4);
}

// ---------------------------------------------------------------------------
// Block compression functions
// ---------------------------------------------------------------------------

void md5_block(uint32_t* h, const uint8_t* block) {
    static const uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
        0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
        0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
        0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
        0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
        0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
        0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
        0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
        0xeb86d391};
    static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                              5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                              4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                              6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    uint32_t m[16];
    for (int i = 0; i < 16; i++) m[i] = load_le32(block + 4 * i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl32(a + f + k[i] + m[g], r[i]);
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

void sha1_block(uint32_t* h, const uint8_t* block) {
    uint32_t w[80];
    for (int i = 0; i < 16; i++) w[i] = load_be32(block + 4 * i);
    for (int i = 16; i < 80; i++) w[i] = rotl32(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; i++) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        uint32_t t = rotl32(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotl32(b, 30);
        b = a;
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

void sha256_block(uint32_t* h, const uint8_t* block) {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; i++) w[i] = load_be32(block + 4 * i);
    for (int i = 16; i < 64; i++) {
        uint32_t s0 = rotr32(w[i - 15], 7) ^ rotr32(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = rotr32(w[i - 2], 17) ^ rotr32(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t v[8];
    std::memcpy(v, h, sizeof v);
    for (int i = 0; i < 64; i++) {
        uint32_t s1 = rotr32(v[4], 6) ^ rotr32(v[4], 11) ^ rotr32(v[4], 25);
        uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        uint32_t t1 = v[7] + s1 + ch + k[i] + w[i];
        uint32_t s0 = rotr32(v[0], 2) ^ rotr32(v[0], 13) ^ rotr32(v[0], 22);
        uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        std::memmove(v + 1, v, 7 * sizeof(uint32_t));
        v[4] += t1;
        v[0] = t1 + s0 + maj;
    }
    for (int i = 0; i < 8; i++) h[i] += v[i];
}

void sha512_block(uint64_t* h, const uint8_t* block) {
    static const uint64_t k[80] = {
        0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
        0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
        0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
        0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
        0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
        0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
        0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
        0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
        0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
        0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
        0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
        0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
        0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
        0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
        0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
        0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
        0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
        0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
        0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
        0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};
    uint64_t w[80];
    for (int i = 0; i < 16; i++) w[i] = load_be64(block + 8 * i);
    for (int i = 16; i < 80; i++) {
        uint64_t s0 = rotr64(w[i - 15], 1) ^ rotr64(w[i - 15], 8) ^ (w[i - 15] >> 7);
        uint64_t s1 = rotr64(w[i - 2], 19) ^ rotr64(w[i - 2], 61) ^ (w[i - 2] >> 6);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint64_t v[8];
    std::memcpy(v, h, sizeof v);
    for (int i = 0; i < 80; i++) {
        uint64_t s1 = rotr64(v[4], 14) ^ rotr64(v[4], 18) ^ rotr64(v[4], 41);
        uint64_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        uint64_t t1 = v[7] + s1 + ch + k[i] + w[i];
        uint64_t s0 = rotr64(v[0], 28) ^ rotr64(v[0], 34) ^ rotr64(v[0], 39);
        uint64_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        std::memmove(v + 1, v, 7 * sizeof(uint64_t));
        v[4] += t1;
        v[0] = t1 + s0 + maj;
    }
    for (int i = 0; i < 8; i++) h[i] += v[i];
}

// ---------------------------------------------------------------------------
// Padding and the streaming driver
// ---------------------------------------------------------------------------

// One digest in progress: a block buffer and the compression function.
// The 32-bit functions keep their words in state32, SHA-512 in state64.
struct Hasher {
    DigestAlgorithm algorithm;
    size_t block_size; // 64 or 128
    uint32_t state32[8];
    uint64_t state64[8];
    uint8_t buffer[128];
    size_t held;
    uint64_t total; // bytes fed

    void compress(const uint8_t* block) {
        switch (algorithm) {
        case DIGEST_MD5:
            md5_block(state32, block);
            break;
        case DIGEST_SHA1:
            sha1_block(state32, block);
            break;
        case DIGEST_SHA256:
            sha256_block(state32, block);
            break;
        case DIGEST_SHA384:
        case DIGEST_SHA512:
            sha512_block(state64, block);
            break;
        }
    }

    void feed(const uint8_t* p, size_t n) {
        if (n == 0) return;
        total += n;
        if (held) {
            size_t take = block_size - held < n ? block_size - held : n;
            std::memcpy(buffer + held, p, take);
            held += take;
            p += take;
            n -= take;
            if (held < block_size) return;
            compress(buffer);
            held = 0;
        }
        for (; n >= block_size; p += block_size, n -= block_size) compress(p);
        std::memcpy(buffer, p, n);
        held = n;
    }

    // Appends the 0x80 marker, zeros and the bit length (big-endian, except
    // MD5's little-endian) in the last 8 (or 16) bytes of a block.
    void finish() {
        const uint64_t bits = total * 8;
        const size_t length_bytes = block_size == 128 ? 16 : 8;
        buffer[held++] = 0x80;
        if (held > block_size - length_bytes) {
            std::memset(buffer + held, 0, block_size - held);
            compress(buffer);
            held = 0;
        }
        std::memset(buffer + held, 0, block_size - held);
        for (int i = 0; i < 8; i++) {
            uint8_t byte = static_cast<uint8_t>(bits >> (8 * i));
            if (algorithm == DIGEST_MD5)
                buffer[block_size - 8 + i] = byte;
            else
                buffer[block_size - 1 - i] = byte;
        }
        compress(buffer);
    }
};

} // namespace

bool digest(DigestAlgorithm algorithm, const ByteSpan* spans, int count, uint8_t* out) {
    static const uint32_t md5_init[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    static const uint32_t sha1_init[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                          0xC3D2E1F0};
    static const uint32_t sha256_init[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    static const uint64_t sha384_init[8] = {
        0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
        0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
    static const uint64_t sha512_init[8] = {
        0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
        0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    Hasher h{};
    h.algorithm = algorithm;
    h.block_size = algorithm >= DIGEST_SHA384 ? 128 : 64;
    switch (algorithm) {
    case DIGEST_MD5:
        std::memcpy(h.state32, md5_init, sizeof md5_init);
        break;
    case DIGEST_SHA1:
        std::memcpy(h.state32, sha1_init, sizeof sha1_init);
        break;
    case DIGEST_SHA256:
        std::memcpy(h.state32, sha256_init, sizeof sha256_init);
        break;
    case DIGEST_SHA384:
        std::memcpy(h.state64, sha384_init, sizeof sha384_init);
        break;
    case DIGEST_SHA512:
        std::memcpy(h.state64, sha512_init, sizeof sha512_init);
        break;
    default:
        return false;
    }
    for (int i = 0; i < count; i++)
        h.feed(static_cast<const uint8_t*>(spans[i].data), spans[i].count);
    h.finish();
    switch (algorithm) {
    case DIGEST_MD5:
        for (int i = 0; i < 16; i++)
            out[i] = static_cast<uint8_t>(h.state32[i / 4] >> (8 * (i % 4)));
        break;
    case DIGEST_SHA1:
    case DIGEST_SHA256: {
        int words = algorithm == DIGEST_SHA1 ? 5 : 8;
        for (int i = 0; i < 4 * words; i++)
            out[i] = static_cast<uint8_t>(h.state32[i / 4] >> (24 - 8 * (i % 4)));
        break;
    }
    case DIGEST_SHA384:
    case DIGEST_SHA512: {
        int words = algorithm == DIGEST_SHA384 ? 6 : 8;
        for (int i = 0; i < 8 * words; i++)
            out[i] = static_cast<uint8_t>(h.state64[i / 8] >> (56 - 8 * (i % 8)));
        break;
    }
    }
    return true;
}

} // namespace mox::platform
