// Clock arithmetic shared by the Windows and POSIX layers: the sleep length
// of wait, the 7-bit zone field of a date word, and the sub-second part of a
// 64-bit file time computed with 32-bit arithmetic only.
#pragma once

#include <cstdint>

namespace mox::platform::clock_math {

// Longest sleep: one below the Windows "forever" value, so that no duration
// ever turns into an endless wait.
constexpr uint32_t kMaxSleepMs = 0xFFFFFFFE;

// Milliseconds slept for a wait of the given seconds: at least 1 (also for
// zero, negative and NaN durations), at most kMaxSleepMs (also for infinity);
// the product is clamped before it is converted, never converted out of range.
constexpr uint32_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;
    if (ms >= static_cast<double>(kMaxSleepMs)) return kMaxSleepMs;
    return static_cast<uint32_t>(ms);
}

// The zone field: bit 6 the sign (west of UTC), bits 2-5 the whole hours,
// bits 0-1 the quarter hours. The sign comes from the offset itself, so a
// zone less than an hour west (-00:30) keeps it; an offset that packs to
// zero carries no sign.
constexpr uint32_t zone_field(int offset_minutes) {
    constexpr int kMax = 15 * 60 + 45; // what the field can hold
    int magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
    if (magnitude > kMax) magnitude = kMax;
    uint32_t field =
        static_cast<uint32_t>(magnitude / 60) << 2 | static_cast<uint32_t>(magnitude % 60 / 15);
    return offset_minutes < 0 && field ? 0x40 | field : field;
}

// (high:low) mod 10,000 for a 64-bit count of 100-ns ticks: the low 30 bits
// L, the next 17 bits M and the top 17 bits H give (L + M x 1,824 +
// H x 5,328) mod 10,000, since 2^30 mod 10,000 = 1,824 and 2^47 mod 10,000 =
// 5,328. Every product stays below 2^32.
constexpr uint32_t ticks_mod_10000(uint32_t low, uint32_t high) {
    uint32_t l = low & 0x3FFFFFFF;
    uint32_t m = (low >> 30 | high << 2) & 0x1FFFF;
    uint32_t h = high >> 15;
    return (l % 10000 + m * 1824 % 10000 + h * 5328 % 10000) % 10000;
}

} // namespace mox::platform::clock_math
