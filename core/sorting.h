// Sorting: two in-place sorts over arrays of fixed-width records, used by the
// sort action of blocks and strings. Records are value cells (16 bytes, or a
// multiple for sort/skip) or string units (1, 2 or 4 bytes).
//
// merge_sort is stable: a natural merge sort that finds runs, completes short
// ones by insertion and merges them in the order their boundary powers give,
// with a scratch area of n / 2 records. quick_sort is not stable and never
// allocates: it takes the sorted leading run (and, on nearly sorted input,
// sorted stretches after it) as a sample and partitions the rest around the
// medians of ever larger sorted samples.
//
// Contract with the caller:
// - The sorts work on the base address they are given for the whole call.
//   A comparator that may allocate (and so let the collector move a series
//   buffer) must not be handed a base inside a series buffer: sort a stable
//   copy and write it back, or keep collections off for the call.
// - The comparator receives pointers to records inside the array or inside
//   the merge sort's scratch area; it must not keep them.
// - An exception thrown by the comparator (fire) unwinds through the sort:
//   the records are then a permutation of what they were before the call,
//   none lost and none doubled, and the scratch area is freed.
// - A comparator that contradicts itself or writes to the array cannot make
//   a sort touch memory outside the array and its scratch area; the order
//   (and, when it writes, the content) is then unspecified.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mox::sorting {

// Negative, 0 or positive as a sorts before, equal to or after b. ctx and
// flags are passed through unchanged (reverse, case, comparison field ...).
using Compare = int (*)(const void* a, const void* b, void* ctx, uint32_t flags);

struct Params {
    size_t width; // bytes per record
    void* ctx;
    uint32_t flags;
    Compare compare;
};

// Stable sort of n records. Raises script error too-long when the scratch
// area of n / 2 records does not fit in 31 bits. Sorting 0 or 1 record
// allocates nothing.
void merge_sort(void* base, size_t n, size_t width, void* ctx, uint32_t flags, Compare compare);

// Unstable sort of n records; no allocation.
void quick_sort(void* base, size_t n, size_t width, void* ctx, uint32_t flags, Compare compare);

// Returns the end of the natural run that begins at start (never beyond end),
// after making it ascending: a run whose first pair is in order extends while
// pairs compare below 1; otherwise it extends while pairs compare above 0 and
// is then reversed. Strictly descending runs only, so reversing keeps
// equal records in input order.
uint8_t* count_run(uint8_t* start, uint8_t* end, const Params& p);

// Merges the sorted runs [low, middle) and [middle, high), keeping equal
// records in order (left run first). buffer holds at least the shorter run.
void merge(uint8_t* low, uint8_t* middle, uint8_t* high, uint8_t* buffer, const Params& p);

// Sorts n records at base. sample > 0: the first sample records are already
// sorted; sample < 0: the last -sample records are; a sample of 2 records or
// fewer is not used.
void partition(uint8_t* base, ptrdiff_t sample, size_t n, const Params& p);

// Exchanges two records: byte by byte when the width is not a multiple of 4,
// else by 32-bit words.
void swap(void* a, void* b, size_t width);

} // namespace mox::sorting
