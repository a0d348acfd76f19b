// The random generator: a Mersenne Twister (MT19937) behind random and
// random/seed, seeded at start-up with 19650218 and reseeded by random/seed,
// plus the fixed seed of the runtime's MurmurHash3.
//
// The generator is the reference MT19937: the same seed gives the same
// sequence as any conforming implementation, on every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mox::random {

// Seed of the hash-table hash function. Hashes are never stored or shown, so
// its only requirement is to stay the same for the whole run.
constexpr uint32_t hash_seed = 0x6D6F7821;

// The start-up seed.
constexpr uint32_t init_seed = 19650218;

// Seeds the generator with init_seed.
void init();

// Reseeds from a 32-bit value; the same seed repeats the same sequence.
void seed(uint32_t s);

// Reseeds from a key of count 32-bit words, so that seeds wider than 32 bits
// keep all their bits.
void seed_key(const uint32_t* key, size_t count);

// The next 32 bits of the generator.
uint32_t rand32();

// A non-negative 31-bit number: 0 .. 2,147,483,647.
int32_t rand();

// A double uniformly drawn from [0, 1) with 53 random bits.
double real();

// A source of non-negative 31-bit numbers.
using Draw = int32_t (*)();

// A uniform integer in 1 .. n for positive n, -1 .. n for negative n; 0 for
// 0. Draws are taken from draw (the generator by default) and redrawn while
// they fall in the incomplete last stretch of the 31-bit range, so every
// result is equally likely.
int32_t rand_int(int32_t n, Draw draw = rand);

} // namespace mox::random
