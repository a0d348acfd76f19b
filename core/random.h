// The random generator behind random and random/seed: a Mersenne Twister
// whose 624 state words are signed, seeded at start-up with 19650218 and
// reseeded by random/seed; the system's secure source; uniform draws in a
// range; and the fixed seed of the runtime's MurmurHash3.
//
// The words are shifted right arithmetically (sign-propagating) in seeding,
// regeneration and tempering, so the sequences differ from the reference
// MT19937's and every draw lies in 0 .. 2,147,483,647. Stored programs rely
// on the sequence a seed gives, so it must not change.
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

// The next draw of the generator: 0 .. 2,147,483,647.
int32_t rand();

// A draw from the system's secure source: four random bytes read as a
// little-endian number with bit 31 cleared. Raises feature-na when the
// system's source fails.
int32_t secure_rand();

// A source of non-negative 31-bit numbers.
using Draw = int32_t (*)();

// A uniform integer in 1 .. n for positive n, n .. -1 for negative n; 0 for
// 0. Draws are taken from draw (the generator by default) and redrawn while
// they fall in the incomplete last stretch of the 31-bit range, so every
// result is equally likely.
int32_t rand_int(int32_t n, Draw draw = rand);

} // namespace mox::random
