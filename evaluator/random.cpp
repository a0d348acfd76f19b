// The Mersenne Twister generator and the draws built on it (see random.h).
//
// The state is a fixed array: it costs no allocation at start-up and cannot
// fail. All arithmetic is unsigned 32-bit, so every shift is logical.
#include "evaluator/random.h"

namespace mox::random {

namespace {

constexpr int N = 624;
constexpr int M = 397;
constexpr uint32_t MATRIX_A = 0x9908B0DF;
constexpr uint32_t UPPER = 0x80000000;
constexpr uint32_t LOWER = 0x7FFFFFFF;

struct State {
    uint32_t words[N];
    int position; // next word to temper; N when a regeneration is due
};

constexpr State seeded(uint32_t s) {
    State st{};
    st.words[0] = s;
    for (int i = 1; i < N; i++) {
        st.words[i] =
            1812433253u * (st.words[i - 1] ^ (st.words[i - 1] >> 30)) + static_cast<uint32_t>(i);
    }
    st.position = N;
    return st;
}

// Seeded at build time as well, so that a draw before init is still a draw.
constinit State gen = seeded(init_seed);
uint32_t (&state)[N] = gen.words;

uint32_t twist(uint32_t upper, uint32_t lower, uint32_t partner) {
    uint32_t y = (upper & UPPER) | (lower & LOWER);
    return partner ^ (y >> 1) ^ ((y & 1) ? MATRIX_A : 0);
}

void regenerate() {
    int i = 0;
    for (; i < N - M; i++) state[i] = twist(state[i], state[i + 1], state[i + M]);
    for (; i < N - 1; i++) state[i] = twist(state[i], state[i + 1], state[i + M - N]);
    state[N - 1] = twist(state[N - 1], state[0], state[M - 1]);
    gen.position = 0;
}

} // namespace

void init() { seed(init_seed); }

void seed(uint32_t s) { gen = seeded(s); }

void seed_key(const uint32_t* key, size_t count) {
    static const uint32_t empty_key = 0;
    if (count == 0) {
        key = &empty_key;
        count = 1;
    }
    seed(19650218); // the key is mixed into this fixed starting state
    int i = 1;
    size_t j = 0;
    for (size_t k = count > size_t(N) ? count : size_t(N); k > 0; k--) {
        state[i] = (state[i] ^ ((state[i - 1] ^ (state[i - 1] >> 30)) * 1664525u)) + key[j] +
                   static_cast<uint32_t>(j);
        if (++i >= N) {
            state[0] = state[N - 1];
            i = 1;
        }
        if (++j >= count) j = 0;
    }
    for (int k = N - 1; k > 0; k--) {
        state[i] = (state[i] ^ ((state[i - 1] ^ (state[i - 1] >> 30)) * 1566083941u)) -
                   static_cast<uint32_t>(i);
        if (++i >= N) {
            state[0] = state[N - 1];
            i = 1;
        }
    }
    state[0] = UPPER; // a non-zero state whatever the key
    gen.position = N;
}

uint32_t rand32() {
    if (gen.position >= N) regenerate();
    uint32_t y = state[gen.position++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680;
    y ^= (y << 15) & 0xEFC60000;
    y ^= y >> 18;
    return y;
}

int32_t rand() { return static_cast<int32_t>(rand32() >> 1); }

double real() {
    uint32_t a = rand32() >> 5; // 27 bits
    uint32_t b = rand32() >> 6; // 26 bits
    return (a * 67108864.0 + b) * (1.0 / 9007199254740992.0);
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
