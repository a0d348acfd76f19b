// Tests of the Mersenne Twister against published MT19937 outputs, the C++
// library's std::mt19937 and Python's random module (also MT19937, seeded
// by key expansion), and of the unbiased range draw.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "evaluator/random.h"

namespace mox {
namespace {

TEST(Random, SeedMatchesPublishedOutputs) {
    // The reference generator's outputs for seed 5489; the 10000th is the
    // value the C++ standard requires of a default-constructed mt19937.
    random::seed(5489);
    const uint32_t first[] = {3499211612u, 581869302u, 3890346734u, 3586334585u, 545404204u};
    for (uint32_t expected : first) EXPECT_EQ(random::rand32(), expected);
    random::seed(5489);
    uint32_t v = 0;
    for (int i = 0; i < 10000; i++) v = random::rand32();
    EXPECT_EQ(v, 4123659995u);
}

TEST(Random, SeedMatchesStdMt19937) {
    // Seeds with the top bit set in the state, across several regenerations.
    for (uint32_t s : {0u, 1u, 12345u, 19650218u, 0x80000000u, 0xFFFFFFFFu}) {
        std::mt19937 oracle(s);
        random::seed(s);
        for (int i = 0; i < 2000; i++) ASSERT_EQ(random::rand32(), oracle()) << "seed " << s;
    }
}

TEST(Random, InitSeedsWith19650218) {
    random::seed(1);
    random::init();
    std::mt19937 oracle(19650218);
    for (int i = 0; i < 700; i++) ASSERT_EQ(random::rand32(), oracle());
}

TEST(Random, SameSeedRepeatsTheSequence) {
    random::seed(42);
    std::vector<int32_t> first;
    for (int i = 0; i < 1500; i++) first.push_back(random::rand());
    random::seed(7);
    random::rand();
    random::seed(42);
    for (int32_t v : first) ASSERT_EQ(random::rand(), v);
}

TEST(Random, RandIsTheTop31Bits) {
    std::mt19937 oracle(99);
    random::seed(99);
    for (int i = 0; i < 1000; i++) {
        int32_t v = random::rand();
        ASSERT_GE(v, 0);
        ASSERT_EQ(static_cast<uint32_t>(v), oracle() >> 1);
    }
}

TEST(Random, SeedKeyMatchesPublishedOutputs) {
    const uint32_t key[] = {0x123, 0x234, 0x345, 0x456};
    random::seed_key(key, 4);
    const uint32_t first[] = {1067595299u, 955945823u,  477289528u, 4107218783u, 4228976476u,
                              3344332714u, 3355579695u, 227628506u, 810200273u,  2591290167u};
    for (uint32_t expected : first) EXPECT_EQ(random::rand32(), expected);
    random::seed_key(key, 4);
    uint32_t v = 0;
    for (int i = 0; i < 1000; i++) v = random::rand32();
    EXPECT_EQ(v, 3460025646u);
}

TEST(Random, SeedKeyMatchesPythonRandom) {
    // Python's random.seed(n) expands the 32-bit words of n as the key (a
    // single word 0 for n = 0); rows give getrandbits(32) draws 1-3 and 2000.
    struct Row {
        std::vector<uint32_t> key;
        uint32_t first[3];
        uint32_t draw2000;
    } rows[] = {
        {{}, {3626764237u, 1654615998u, 3255389356u}, 3908016617u},
        {{0}, {3626764237u, 1654615998u, 3255389356u}, 3908016617u},
        {{12345}, {1789368711u, 3146859322u, 43676229u}, 3083619685u},
        {{0xFFFFFFFFu}, {2728839433u, 2661025012u, 872737089u}, 2640887251u},
    };
    for (const auto& row : rows) {
        random::seed_key(row.key.data(), row.key.size());
        for (uint32_t expected : row.first) EXPECT_EQ(random::rand32(), expected);
        uint32_t v = 0;
        for (int i = 3; i < 2000; i++) v = random::rand32();
        EXPECT_EQ(v, row.draw2000);
    }
}

TEST(Random, RealMatchesPythonRandom) {
    // random.random() after seeding with 0x456_00000345_00000234_00000123:
    // draws 1, 2, 3 and 1000, each made of two 32-bit outputs.
    const uint32_t key[] = {0x123, 0x234, 0x345, 0x456};
    random::seed_key(key, 4);
    EXPECT_EQ(random::real(), 0.24856890158782508);
    EXPECT_EQ(random::real(), 0.11112762955044497);
    EXPECT_EQ(random::real(), 0.9846353141863877);
    double v = 0;
    for (int i = 3; i < 1000; i++) v = random::real();
    EXPECT_EQ(v, 0.745660459410932);
}

// A scripted source of draws for rand_int.
std::vector<int32_t> script;
size_t script_pos;
int32_t scripted() { return script.at(script_pos++); }

TEST(Random, RandIntRejectsTheIncompleteStretch) {
    struct Row {
        int32_t n;
        std::vector<int32_t> draws;
        int32_t result;
        size_t used; // draws consumed
    } rows[] = {
        {0, {}, 0, 0},
        {1, {0}, 1, 1},
        {1, {INT32_MAX, 12345}, 1, 2}, // the limit itself is never used
        {-1, {77}, -1, 1},
        {3, {2147483646, INT32_MAX, 5}, 3, 3},
        {3, {2147483645}, 3, 1}, // the last draw below the limit
        {-3, {2147483646, 4}, -2, 2},
        {10, {9}, 10, 1},
        {INT32_MAX, {INT32_MAX, INT32_MAX - 1}, INT32_MAX, 2},
        {-INT32_MAX, {0}, -1, 1},
        {INT32_MIN, {0}, -1, 1},
        {INT32_MIN, {INT32_MAX}, INT32_MIN, 1},
        {1 << 30, {1 << 30, 5}, 6, 2}, // half the range is the incomplete stretch
    };
    for (const auto& row : rows) {
        script = row.draws;
        script_pos = 0;
        EXPECT_EQ(random::rand_int(row.n, scripted), row.result) << "n " << row.n;
        EXPECT_EQ(script_pos, row.used) << "n " << row.n;
    }
}

TEST(Random, RandIntStaysInRange) {
    random::seed(2024);
    for (int32_t n : {1, 2, 6, 1000, -5, INT32_MAX, INT32_MIN}) {
        for (int i = 0; i < 2000; i++) {
            int32_t v = random::rand_int(n);
            if (n > 0) {
                ASSERT_TRUE(v >= 1 && v <= n) << n << ": " << v;
            } else {
                ASSERT_TRUE(v <= -1 && v >= n) << n << ": " << v;
            }
        }
    }
}

} // namespace
} // namespace mox
