// The floating-point state every build starts from: x87 control word 0x27F
// (all exceptions masked, 53-bit precision, round to nearest) and, where
// SSE does the double arithmetic, MXCSR with every exception masked and
// rounding to nearest.
#pragma once

#include <cfenv>
#include <cstdint>

namespace mox::platform {

inline void reset_fpu_state() {
#if defined(__i386__) || defined(__x86_64__)
    const uint16_t control = 0x27F;
    asm volatile("fninit\n\tfldcw %0" : : "m"(control));
    const uint32_t mxcsr = 0x1F80;
    asm volatile("ldmxcsr %0" : : "m"(mxcsr));
#else
    std::fesetenv(FE_DFL_ENV);
#endif
}

} // namespace mox::platform
