// The Mersenne Twister generator and the draws built on it (see random.h).
//
// The state is a fixed array: it costs no allocation at start-up and cannot
// fail. Words are kept unsigned so that additions and left shifts wrap; sar
// gives the sign-propagating right shift the sequence is defined with.
#include "core/random.h"

#include "core/value.h"
#include "platform/platform.h"

namespace mox::random {

namespace {

constexpr int N = 624;
constexpr int M = 397;
constexpr uint32_t MATRIX_A = 0x9908B0DF;
constexpr uint32_t UPPER = 0x80000000;
constexpr uint32_t LOWER = 0x7FFFFFFF;

constexpr uint32_t sar(uint32_t x, int n) {
    return static_cast<uint32_t>(static_cast<int32_t>(x) >> n);
}

struct State {
    uint32_t words[N];
    int position; // next word to temper; N when a regeneration is due
};

constexpr State seeded(uint32_t s) {
    State st{};
    st.words[0] = s;
    for (int i = 1; i < N; i++) {
        uint32_t p = st.words[i - 1];
        st.words[i] = 1812433253u * (p ^ sar(p, 30)) + static_cast<uint32_t>(i);
    }
    st.position = N;
    return st;
}

// Seeded at build time as well, so that a draw before init is still a draw.
constinit State gen = seeded(init_seed);

uint32_t twist(uint32_t upper, uint32_t lower, uint32_t partner) {
    uint32_t y = (upper & UPPER) | (lower & LOWER);
    return partner ^ sar(y, 1) ^ ((y & 1) ? MATRIX_A : 0);
}

void regenerate() {
    uint32_t* state = gen.words;
    int i = 0;
    for (; i < N - M; i++) state[i] = twist(state[i], state[i + 1], state[i + M]);
    for (; i < N - 1; i++) state[i] = twist(state[i], state[i + 1], state[i + M - N]);
    state[N - 1] = twist(state[N - 1], state[0], state[M - 1]);
    gen.position = 0;
}

} // namespace

void init() { seed(init_seed); }

void seed(uint32_t s) { gen = seeded(s); }

int32_t rand() {
    if (gen.position >= N) regenerate();
    uint32_t y = gen.words[gen.position++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680;
    y ^= (y << 15) & 0xEFC60000;
    y ^= sar(y, 18); // clears bit 31 whatever its value was
    return static_cast<int32_t>(y);
}

int32_t secure_rand() {
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (!platform::secure_random(bytes, sizeof bytes)) fire(err::feature_na);
    uint32_t v = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return static_cast<int32_t>(v & LOWER);
}

int32_t rand_int(int32_t n, Draw draw) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw();
    const int32_t m = n < 0 ? -n : n;
    const int32_t limit = (INT32_MAX / m) * m;
    int32_t x;
    do {
        x = draw();
    } while (x >= limit);
    const int32_t k = x % m + 1;
    return n < 0 ? -k : k;
}

} // namespace mox::random
