// The static tables of the deflate format shared by the compressor and the
// decoder: length and distance bases and extra bits, the order of the
// code-length code's lengths, the fixed literal/length code, and the symbol
// of a length or distance.
#pragma once

#include <cstdint>

namespace mox::deflate::tables {

// Length symbols 257..285 as index 0..28.
inline constexpr uint16_t length_base[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint16_t distance_base[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr uint8_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr uint8_t cl_order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

inline uint32_t reverse_bits(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; i++, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// The fixed literal/length code lengths of its 288 symbols.
inline void fixed_lit_lengths(uint8_t* lengths) {
    for (int s = 0; s < 288; s++) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
}

inline int floor_log2(uint32_t v) { return 31 - __builtin_clz(v); }

// The length symbol (0..28, plus 257) of a match length minus 3.
inline int length_code(int a) {
    if (a < 8) return a;
    if (a == 255) return 28;
    int b = floor_log2(static_cast<uint32_t>(a)) - 2;
    return (a >> b) + 4 * b;
}

// The distance symbol of a distance minus 1.
inline int distance_code(int d) {
    if (d < 4) return d;
    int b = floor_log2(static_cast<uint32_t>(d)) - 1;
    return (d >> b) + 2 * b;
}

} // namespace mox::deflate::tables
