// Tests of the merge sort and the quicksort over fixed-width records:
// ordering and stability against Python's sorted() and std::stable_sort,
// run detection, exception safety and memory safety under hostile
// comparators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "core/sorting.h"
#include "core/sys-alloc.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

struct StableCase {
    const char* name;
    std::vector<uint32_t> keys;
    std::vector<uint32_t> ascending;
    std::vector<uint32_t> descending;
};
const StableCase stable_cases[] = {
#include "sorting_vectors.inc"
};

// ---------------------------------------------------------------------------
// Records: a key the comparator looks at and an id that tells records apart.
//   width 4: key << 20 | id (keys of 12 bits)
//   width 6: 16-bit key, 32-bit id, unaligned
//   width 8 and more: 32-bit key, 32-bit id, then filler bytes derived from
//   the id, so a record torn by a bad exchange shows.
// ---------------------------------------------------------------------------

constexpr uint32_t REVERSE = 1;

uint32_t get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

uint8_t filler(uint32_t id, size_t i) { return static_cast<uint8_t>(id * 31 + i); }

void encode(uint8_t* r, size_t width, uint32_t key, uint32_t id) {
    if (width == 4) {
        put32(r, key << 20 | id);
    } else if (width == 6) {
        r[0] = static_cast<uint8_t>(key);
        r[1] = static_cast<uint8_t>(key >> 8);
        put32(r + 2, id);
    } else {
        put32(r, key);
        put32(r + 4, id);
        for (size_t i = 8; i < width; i++) r[i] = filler(id, i);
    }
}

uint32_t key_of(const uint8_t* r, size_t width) {
    if (width == 4) return get32(r) >> 20;
    if (width == 6) return r[0] | r[1] << 8;
    return get32(r);
}

uint32_t id_of(const uint8_t* r, size_t width) {
    if (width == 4) return get32(r) & 0xFFFFF;
    if (width == 6) return get32(r + 2);
    return get32(r + 4);
}

bool intact(const uint8_t* r, size_t width) {
    for (size_t i = 8; i < width; i++) {
        if (r[i] != filler(id_of(r, width), i)) return false;
    }
    return true;
}

uint32_t key_limit(size_t width) { return width == 4 ? 1u << 12 : width == 6 ? 1u << 16 : ~0u; }

struct Array {
    size_t width;
    std::vector<uint32_t> keys; // keys[id]
    std::vector<uint8_t> bytes;

    Array(size_t w, const std::vector<uint32_t>& k) : width(w), keys(k), bytes(k.size() * w) {
        for (uint32_t id = 0; id < k.size(); id++) encode(at(id), w, k[id], id);
    }
    size_t n() const { return keys.size(); }
    uint8_t* at(size_t i) { return bytes.data() + i * width; }
    uint32_t id(size_t i) { return id_of(at(i), width); }
    uint32_t key(size_t i) { return key_of(at(i), width); }
    std::vector<uint32_t> ids() {
        std::vector<uint32_t> out;
        for (size_t i = 0; i < n(); i++) out.push_back(id(i));
        return out;
    }
};

struct Boom {};

struct Counter {
    size_t width;
    uint64_t calls = 0;
    uint64_t throw_at = 0; // 0: never
};

int by_key(const void* a, const void* b, void* ctx, uint32_t flags) {
    auto* c = static_cast<Counter*>(ctx);
    if (++c->calls == c->throw_at) throw Boom{};
    uint32_t ka = key_of(static_cast<const uint8_t*>(a), c->width);
    uint32_t kb = key_of(static_cast<const uint8_t*>(b), c->width);
    int r = (ka > kb) - (ka < kb);
    return flags & REVERSE ? -r : r;
}

using SortFn = void (*)(void*, size_t, size_t, void*, uint32_t, sorting::Compare);

struct Algorithm {
    const char* name;
    SortFn sort;
    bool stable;
};
const Algorithm algorithms[] = {
    {"merge_sort", sorting::merge_sort, true},
    {"quick_sort", sorting::quick_sort, false},
};

// Every record is whole and every id appears exactly once with its key.
void expect_permutation(Array& a) {
    std::vector<bool> seen(a.n());
    for (size_t i = 0; i < a.n(); i++) {
        uint32_t id = a.id(i);
        ASSERT_LT(id, a.n()) << "record " << i;
        ASSERT_FALSE(seen[id]) << "id " << id << " doubled";
        seen[id] = true;
        ASSERT_EQ(a.key(i), a.keys[id]) << "record " << i;
        ASSERT_TRUE(intact(a.at(i), a.width)) << "record " << i << " torn";
    }
}

// Sorted, a permutation, and for a stable sort the order std::stable_sort gives.
void expect_sorted(Array& a, bool stable, bool reverse = false) {
    expect_permutation(a);
    for (size_t i = 1; i < a.n(); i++) {
        if (reverse) {
            ASSERT_GE(a.key(i - 1), a.key(i)) << "at " << i;
        } else {
            ASSERT_LE(a.key(i - 1), a.key(i)) << "at " << i;
        }
    }
    if (!stable) return;
    std::vector<uint32_t> expected(a.n());
    std::iota(expected.begin(), expected.end(), 0u);
    std::stable_sort(expected.begin(), expected.end(), [&](uint32_t x, uint32_t y) {
        return reverse ? a.keys[x] > a.keys[y] : a.keys[x] < a.keys[y];
    });
    ASSERT_EQ(a.ids(), expected);
}

// ---------------------------------------------------------------------------
// Inputs
// ---------------------------------------------------------------------------

// The two RISING_HEAD patterns open with a short ascending run before a long
// descending body, so the quicksort's sampling overrules the leading run.
enum Pattern {
    RANDOM,
    SORTED,
    REVERSED,
    NEARLY_SORTED,
    FEW_KEYS,
    ORGAN_PIPE,
    SAWTOOTH,
    LOW_RISING_HEAD,
    HIGH_RISING_HEAD,
    EQUAL
};
const char* const pattern_names[] = {
    "random",     "sorted",   "reversed",        "nearly_sorted",    "few_keys",
    "organ_pipe", "sawtooth", "low_rising_head", "high_rising_head", "equal"};

std::vector<uint32_t> make_keys(Pattern pattern, size_t n, uint32_t limit, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> k(n);
    for (size_t i = 0; i < n; i++) {
        switch (pattern) {
        case RANDOM:
            k[i] = static_cast<uint32_t>(rng() % n);
            break;
        case SORTED:
            k[i] = static_cast<uint32_t>(i);
            break;
        case REVERSED:
            k[i] = static_cast<uint32_t>(n - i);
            break;
        case NEARLY_SORTED:
            k[i] = static_cast<uint32_t>(i);
            break;
        case FEW_KEYS:
            k[i] = rng() % 4;
            break;
        case ORGAN_PIPE:
            k[i] = static_cast<uint32_t>(i < n / 2 ? i : n - i);
            break;
        case SAWTOOTH:
            k[i] = i % 50;
            break;
        case LOW_RISING_HEAD:
            k[i] = static_cast<uint32_t>(i < 3 ? i : n - i + 3);
            break;
        case HIGH_RISING_HEAD:
            k[i] = static_cast<uint32_t>(i < 3 ? n + i : n - i);
            break;
        case EQUAL:
            k[i] = 7;
            break;
        }
    }
    if (pattern == NEARLY_SORTED && n > 0) {
        for (size_t s = 0; s < n / 100 + 1; s++) std::swap(k[rng() % n], k[rng() % n]);
    }
    // Narrow keys are scaled, which keeps the pattern's shape.
    const uint32_t top = n ? *std::max_element(k.begin(), k.end()) : 0;
    if (top >= limit) {
        for (auto& key : k) key = static_cast<uint32_t>(uint64_t(key) * (limit - 1) / top);
    }
    return k;
}

// ---------------------------------------------------------------------------
// Ordering over patterns, sizes and widths
// ---------------------------------------------------------------------------

class SortTest : public ::testing::TestWithParam<std::tuple<Algorithm, size_t>> {};

TEST_P(SortTest, SortsEveryPatternAndSize) {
    const auto& [alg, width] = GetParam();
    const size_t sizes[] = {0, 1, 2, 7, 8, 23, 24, 25, 100, 1000, 100000};
    for (int pattern = RANDOM; pattern <= EQUAL; pattern++) {
        for (size_t n : sizes) {
            for (uint32_t flags : {0u, REVERSE}) {
                if (n == 100000 && flags == REVERSE) continue;
                SCOPED_TRACE(std::string(pattern_names[pattern]) + " n=" + std::to_string(n) +
                             (flags ? " reverse" : ""));
                Array a(width, make_keys(Pattern(pattern), n, key_limit(width), 7));
                Counter c{width};
                alg.sort(a.bytes.data(), n, width, &c, flags, by_key);
                expect_sorted(a, alg.stable, flags == REVERSE);
                if (HasFatalFailure()) return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sorting, SortTest,
                         ::testing::Combine(::testing::ValuesIn(algorithms),
                                            ::testing::Values(size_t(4), size_t(6), size_t(16),
                                                              size_t(32))),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_w" +
                                    std::to_string(std::get<1>(info.param));
                         });

// String units: 1- and 2-byte records whose value is the key.
template <typename Unit> int by_unit(const void* a, const void* b, void*, uint32_t) {
    Unit x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return (x > y) - (x < y);
}

template <typename Unit> void check_units(const Algorithm& alg) {
    for (int pattern = RANDOM; pattern <= EQUAL; pattern++) {
        for (size_t n : {size_t(0), size_t(5), size_t(31), size_t(600), size_t(20000)}) {
            SCOPED_TRACE(std::string(alg.name) + " " + pattern_names[pattern] +
                         " n=" + std::to_string(n) + " unit=" + std::to_string(sizeof(Unit)));
            std::vector<Unit> v;
            for (uint32_t k : make_keys(Pattern(pattern), n, 1u << (8 * sizeof(Unit)), 3))
                v.push_back(static_cast<Unit>(k));
            std::vector<Unit> expected = v;
            std::sort(expected.begin(), expected.end());
            alg.sort(v.data(), n, sizeof(Unit), nullptr, 0, by_unit<Unit>);
            ASSERT_EQ(v, expected);
        }
    }
}

TEST(Sorting, StringUnits) {
    for (const auto& alg : algorithms) {
        check_units<uint8_t>(alg);
        check_units<uint16_t>(alg);
    }
}

// ---------------------------------------------------------------------------
// Stability against Python's sorted()
// ---------------------------------------------------------------------------

TEST(MergeSort, StableLikePythonSorted) {
    for (const auto& tc : stable_cases) {
        for (size_t width : {size_t(6), size_t(16)}) {
            SCOPED_TRACE(std::string(tc.name) + " w=" + std::to_string(width));
            Array up(width, tc.keys);
            Counter c{width};
            sorting::merge_sort(up.bytes.data(), up.n(), width, &c, 0, by_key);
            EXPECT_EQ(up.ids(), tc.ascending);
            Array down(width, tc.keys);
            sorting::merge_sort(down.bytes.data(), down.n(), width, &c, REVERSE, by_key);
            EXPECT_EQ(down.ids(), tc.descending);
        }
    }
}

// ---------------------------------------------------------------------------
// Runs and comparison counts
// ---------------------------------------------------------------------------

TEST(Sorting, OrderedInputIsOneRun) {
    const size_t n = 100000;
    struct Input {
        const char* name;
        Pattern pattern;
    } inputs[] = {{"sorted", SORTED}, {"strictly descending", REVERSED}, {"all equal", EQUAL}};
    for (const auto& alg : algorithms) {
        for (const auto& in : inputs) {
            SCOPED_TRACE(std::string(alg.name) + " " + in.name);
            Array a(16, make_keys(in.pattern, n, ~0u, 1));
            Counter c{16};
            alg.sort(a.bytes.data(), n, 16, &c, 0, by_key);
            EXPECT_EQ(c.calls, n - 1);
            expect_sorted(a, alg.stable);
        }
    }
}

TEST(Sorting, NothingToSortCallsAndAllocatesNothing) {
    for (const auto& alg : algorithms) {
        for (size_t n : {size_t(0), size_t(1)}) {
            uint8_t record[16] = {};
            Counter c{16};
            size_t before = sys_allocated_bytes();
            alg.sort(n ? record : nullptr, n, 16, &c, 0, by_key);
            EXPECT_EQ(c.calls, 0u) << alg.name << " n=" << n;
            EXPECT_EQ(sys_allocated_bytes(), before) << alg.name << " n=" << n;
        }
    }
}

TEST(Sorting, CountRun) {
    struct Row {
        std::vector<uint32_t> keys;
        size_t run;                // records in the run from the start
        std::vector<uint32_t> ids; // record ids of the run afterwards
    } rows[] = {
        {{1, 2, 2, 3, 1}, 4, {0, 1, 2, 3}},    // ascending, equal neighbours included
        {{5, 4, 3, 9}, 3, {2, 1, 0}},          // strictly descending, reversed
        {{5, 4, 4, 3}, 2, {1, 0}},             // a plateau ends a descending run
        {{3, 3, 2}, 2, {0, 1}},                // equal first pair counts as ascending
        {{4}, 1, {0}},                         // one record: the run ends at the end
        {{9, 8, 7, 6, 5}, 5, {4, 3, 2, 1, 0}}, // descending to the end
    };
    for (const auto& row : rows) {
        Array a(6, row.keys);
        Counter c{6};
        const sorting::Params p{6, &c, 0, by_key};
        uint8_t* end = sorting::count_run(a.at(0), a.at(a.n()), p);
        EXPECT_EQ(static_cast<size_t>(end - a.at(0)) / 6, row.run);
        std::vector<uint32_t> ids = a.ids();
        ids.resize(row.run);
        EXPECT_EQ(ids, row.ids);
    }
}

TEST(Sorting, MergeKeepsLeftRecordsFirstOnTies) {
    // Both directions of the merge: a shorter right run (merged from the top)
    // and a shorter left run (merged from the bottom).
    struct Row {
        std::vector<uint32_t> keys;
        size_t middle;
        std::vector<uint32_t> ids;
    } rows[] = {
        {{1, 2, 2, 3, 2, 2}, 4, {0, 1, 2, 4, 5, 3}},
        {{2, 2, 1, 2, 2, 3}, 2, {2, 0, 1, 3, 4, 5}},
        {{5, 6, 7, 1, 2}, 3, {3, 4, 0, 1, 2}},
        {{1, 2}, 1, {0, 1}},
    };
    for (const auto& row : rows) {
        Array a(16, row.keys);
        Counter c{16};
        std::vector<uint8_t> buffer(a.n() * 16);
        sorting::merge(a.at(0), a.at(row.middle), a.at(a.n()), buffer.data(),
                       sorting::Params{16, &c, 0, by_key});
        EXPECT_EQ(a.ids(), row.ids);
    }
}

TEST(Sorting, SwapExchangesWholeRecordsAtAnyAlignment) {
    for (size_t width : {1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 32}) {
        for (size_t offset : {0, 1, 2, 3}) {
            std::vector<uint8_t> bytes(offset + 2 * width + 2, 0xEE);
            uint8_t* x = bytes.data() + offset;
            uint8_t* y = x + width;
            for (size_t i = 0; i < width; i++) {
                x[i] = static_cast<uint8_t>(i + 1);
                y[i] = static_cast<uint8_t>(0x80 + i);
            }
            sorting::swap(x, y, width);
            for (size_t i = 0; i < width; i++) {
                ASSERT_EQ(x[i], 0x80 + i) << "width " << width;
                ASSERT_EQ(y[i], i + 1) << "width " << width;
            }
            EXPECT_EQ(bytes[offset + 2 * width], 0xEE) << "width " << width;
        }
    }
}

// ---------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------

// An exception from the comparator at any point leaves every record in the
// array exactly once and frees the scratch area.
TEST(Sorting, ComparatorExceptionLeavesAPermutation) {
    const size_t n = 3000;
    for (const auto& alg : algorithms) {
        for (size_t width : {size_t(6), size_t(16)}) {
            const auto keys = make_keys(RANDOM, n, key_limit(width), 11);
            Array dry(width, keys);
            Counter total{width};
            alg.sort(dry.bytes.data(), n, width, &total, 0, by_key);
            for (uint64_t k = 1; k <= total.calls; k += total.calls / 40 + 1) {
                SCOPED_TRACE(std::string(alg.name) + " w=" + std::to_string(width) +
                             " throw at call " + std::to_string(k));
                Array a(width, keys);
                Counter c{width, 0, k};
                size_t before = sys_allocated_bytes();
                EXPECT_THROW(alg.sort(a.bytes.data(), n, width, &c, 0, by_key), Boom);
                EXPECT_EQ(sys_allocated_bytes(), before);
                expect_permutation(a);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Comparators that contradict themselves: the sorts stay inside the array
// (AddressSanitizer watches), terminate, and only exchange records.
struct Liar {
    std::mt19937 rng;
    int mode; // 0 random, 1 always before, 2 always after
};

int lie(const void*, const void*, void* ctx, uint32_t) {
    auto* l = static_cast<Liar*>(ctx);
    if (l->mode == 1) return -1;
    if (l->mode == 2) return 1;
    return static_cast<int>(l->rng() % 3) - 1;
}

TEST(Sorting, InconsistentComparatorKeepsAPermutation) {
    for (const auto& alg : algorithms) {
        for (int mode : {0, 1, 2}) {
            for (size_t n : {size_t(9), size_t(100), size_t(5000), size_t(100000)}) {
                SCOPED_TRACE(std::string(alg.name) + " mode " + std::to_string(mode) +
                             " n=" + std::to_string(n));
                Array a(16, make_keys(RANDOM, n, ~0u, 5));
                Liar l{std::mt19937(static_cast<uint32_t>(n)), mode};
                alg.sort(a.bytes.data(), n, 16, &l, 0, lie);
                expect_permutation(a);
            }
        }
    }
}

// A comparator that overwrites records while the sort runs (as Mox code
// called from a comparison could): the content is then undefined, but no
// access leaves the array or the scratch area.
struct Vandal {
    uint8_t* base;
    size_t n;
    size_t width;
    std::mt19937 rng;
};

int vandalise(const void*, const void*, void* ctx, uint32_t) {
    auto* v = static_cast<Vandal*>(ctx);
    if (v->rng() % 4 == 0) {
        std::memcpy(v->base + (v->rng() % v->n) * v->width, v->base + (v->rng() % v->n) * v->width,
                    v->width);
    }
    return static_cast<int>(v->rng() % 3) - 1;
}

TEST(Sorting, ComparatorWritingTheArrayStaysInBounds) {
    for (const auto& alg : algorithms) {
        for (size_t width : {size_t(6), size_t(16)}) {
            for (size_t n : {size_t(10), size_t(700), size_t(20000)}) {
                std::vector<uint8_t> bytes(n * width, 0x5A);
                Vandal v{bytes.data(), n, width, std::mt19937(1)};
                size_t before = sys_allocated_bytes();
                alg.sort(bytes.data(), n, width, &v, 0, vandalise);
                EXPECT_EQ(sys_allocated_bytes(), before) << alg.name;
            }
        }
    }
}

class MergeSortLimits : public test::RuntimeTest {};

TEST_F(MergeSortLimits, ScratchBeyond31BitsIsTooLong) {
    // Nothing is read before the size check, so one record of real memory
    // stands for the huge array.
    uint8_t record[16] = {};
    Counter c{16};
    EXPECT_MOX_ERROR(err::too_long,
                     sorting::merge_sort(record, size_t(1) << 28, 16, &c, 0, by_key));
    EXPECT_EQ(c.calls, 0u);
}

} // namespace
} // namespace mox
