// Sorting: the stable natural merge sort and the adaptive quicksort over
// arrays of fixed-width records (see sorting.h for the caller's contract).
//
// Every bound in here is checked against the array's own limits, never
// left to the comparator (no sentinel scans), so a comparator that
// contradicts itself cannot walk a scan off the array. Records move only by
// exchange, or through the merge's scratch area under a guard that puts the
// buffered records back, so an exception from the comparator leaves a
// permutation of the input.
#include "core/sorting.h"

#include <cassert>
#include <cstring>
#include <memory>

#include "core/error-codes.h"
#include "core/sys-alloc.h"
#include "core/value.h"

namespace mox::sorting {

namespace {

// Runs shorter than this are completed by insertion before merging.
constexpr size_t MIN_RUN = 24;
// Partitions of this many records or fewer are finished by insertion.
constexpr size_t SMALL_PART = 7;

int sign(int r) { return (r > 0) - (r < 0); }

// Index-based view of one array, for the quicksort's bookkeeping.
struct Records {
    uint8_t* base;
    const Params& p;

    uint8_t* at(size_t i) const { return base + i * p.width; }
    int compare(size_t i, size_t j) const { return p.compare(at(i), at(j), p.ctx, p.flags); }
    void exchange(size_t i, size_t j) const { swap(at(i), at(j), p.width); }

    // Moves the count records starting at src to start at dst, in order,
    // by exchanges; the records they displace end up where the block was.
    // The direction of the walk keeps overlapping blocks intact.
    void move_block(size_t dst, size_t src, size_t count) const {
        if (dst < src) {
            for (size_t i = 0; i < count; i++) exchange(dst + i, src + i);
        } else if (dst > src) {
            for (size_t i = count; i-- > 0;) exchange(dst + i, src + i);
        }
    }

    void reverse(size_t first, size_t last) const {
        while (first < last) exchange(first++, last--);
    }

    // Each record is exchanged backwards while its predecessor sorts after it.
    void insertion_sort(size_t from, size_t n) const {
        for (size_t q = from; q < n; q++) {
            for (size_t r = q; r > 0 && compare(r - 1, r) > 0; r--) exchange(r - 1, r);
        }
    }
};

// ---------------------------------------------------------------------------
// Merge sort
// ---------------------------------------------------------------------------

// Whatever is still buffered when the merge stops, normally or through an
// exception from the comparator, goes back into the gap it left: the gap
// always has exactly the size of the buffered remainder.
struct PutBack {
    uint8_t*& gap;
    uint8_t*& first;
    uint8_t*& last;
    ~PutBack() { std::memcpy(gap, first, static_cast<size_t>(last - first)); }
};

struct ScratchFree {
    void operator()(void* p) const { sys_free(p); }
};

// The power of the boundary between the runs [s1, s2) and [s2, e2): the
// depth at which the binary expansions of their midpoints (relative to n)
// first differ. Merging boundaries in decreasing power order keeps the
// merge tree nearly balanced over the runs actually present.
unsigned boundary_power(size_t s1, size_t s2, size_t e2, size_t n) {
    uint64_t a = uint64_t(s1) + s2;
    uint64_t b = uint64_t(s2) + e2;
    unsigned power = 0;
    while ((a < n) == (b < n)) {
        power++;
        if (a >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return power + 1;
}

} // namespace

void swap(void* a, void* b, size_t width) {
    auto* x = static_cast<uint8_t*>(a);
    auto* y = static_cast<uint8_t*>(b);
    if (width % 4 != 0) {
        for (size_t i = 0; i < width; i++) {
            uint8_t t = x[i];
            x[i] = y[i];
            y[i] = t;
        }
        return;
    }
    for (size_t i = 0; i < width; i += 4) {
        uint32_t s, t;
        std::memcpy(&s, x + i, 4);
        std::memcpy(&t, y + i, 4);
        std::memcpy(x + i, &t, 4);
        std::memcpy(y + i, &s, 4);
    }
}

uint8_t* count_run(uint8_t* start, uint8_t* end, const Params& p) {
    const size_t w = p.width;
    uint8_t* next = start + w;
    if (next >= end) return end;
    auto cmp = [&](const uint8_t* a) { return p.compare(a, a + w, p.ctx, p.flags); };
    if (cmp(start) < 1) {
        while (next + w < end && cmp(next) < 1) next += w;
        return next + w;
    }
    while (next + w < end && cmp(next) > 0) next += w;
    uint8_t* run_end = next + w;
    for (uint8_t *lo = start, *hi = next; lo < hi; lo += w, hi -= w) swap(lo, hi, w);
    return run_end;
}

void merge(uint8_t* low, uint8_t* middle, uint8_t* high, uint8_t* buffer, const Params& p) {
    const size_t w = p.width;
    const size_t left = static_cast<size_t>(middle - low);
    const size_t right = static_cast<size_t>(high - middle);
    uint8_t* first = buffer;
    if (right < left) {
        // The right run waits in the buffer; fill from the top down. The
        // gap between the unplaced left records and the filled top is
        // [l, out), as long as the buffered remainder [first, last).
        std::memcpy(buffer, middle, right);
        uint8_t* last = buffer + right;
        uint8_t* l = middle;
        uint8_t* out = high;
        PutBack guard{l, first, last};
        while (l > low && last > first) {
            out -= w;
            if (p.compare(l - w, last - w, p.ctx, p.flags) > 0) {
                l -= w;
                std::memcpy(out, l, w);
            } else {
                last -= w;
                std::memcpy(out, last, w);
            }
        }
        return;
    }
    // The left run waits in the buffer; fill from the bottom up. The gap
    // is [out, r), as long as the buffered remainder [first, last).
    std::memcpy(buffer, low, left);
    uint8_t* last = buffer + left;
    uint8_t* r = middle;
    uint8_t* out = low;
    PutBack guard{out, first, last};
    while (first < last && r < high) {
        if (p.compare(first, r, p.ctx, p.flags) < 1) {
            std::memcpy(out, first, w);
            first += w;
        } else {
            std::memcpy(out, r, w);
            r += w;
        }
        out += w;
    }
}

void merge_sort(void* base, size_t n, size_t width, void* ctx, uint32_t flags, Compare compare) {
    if (n < 2) return;
    assert(width > 0);
    if (n / 2 > 0x7FFFFFFFu / width) fire(err::too_long);
    const Params p{width, ctx, flags, compare};
    std::unique_ptr<uint8_t, ScratchFree> scratch(
        static_cast<uint8_t*>(sys_alloc((n / 2) * width)));

    struct Entry {
        size_t start;
        unsigned power;
    };
    // Powers on the stack strictly increase and never exceed the bit count
    // of n plus one.
    Entry stack[sizeof(size_t) * 8 + 2];
    size_t depth = 0;

    auto* const a = static_cast<uint8_t*>(base);
    auto at = [&](size_t i) { return a + i * width; };
    size_t run_start = 0; // the last run found, [run_start, run_end)
    size_t run_end = 0;
    for (size_t pos = 0; pos < n;) {
        size_t end = static_cast<size_t>(count_run(at(pos), at(n), p) - a) / width;
        if (end - pos < MIN_RUN) {
            size_t target = n - pos < MIN_RUN ? n : pos + MIN_RUN;
            for (; end < target; end++) {
                for (size_t r = end; r > pos && compare(at(r - 1), at(r), ctx, flags) > 0; r--)
                    swap(at(r - 1), at(r), width);
            }
        }
        if (pos > 0) {
            unsigned power = boundary_power(run_start, pos, end, n);
            while (depth > 0 && stack[depth - 1].power > power) {
                size_t s = stack[--depth].start;
                merge(at(s), at(run_start), at(run_end), scratch.get(), p);
                run_start = s;
            }
            assert(depth < sizeof stack / sizeof stack[0]);
            stack[depth++] = Entry{run_start, power};
        }
        run_start = pos;
        run_end = end;
        pos = end;
    }
    while (depth > 0) {
        size_t s = stack[--depth].start;
        merge(at(s), at(run_start), at(run_end), scratch.get(), p);
        run_start = s;
    }
}

// ---------------------------------------------------------------------------
// Quicksort
// ---------------------------------------------------------------------------

void partition(uint8_t* base, ptrdiff_t sample, size_t n, const Params& p) {
    for (;;) {
        const Records rec{base, p};
        const size_t h = static_cast<size_t>(sample < 0 ? -sample : sample);
        if (n <= h) return; // the sample is the whole part
        if (n <= SMALL_PART) {
            rec.insertion_sort(sample > 0 ? h : 1, n);
            return;
        }
        // Lay out the window [0, window): the lower sample before the pivot,
        // the pivot at pv, unknown records, then the upper sample's last
        // `upper` records at the window's end.
        size_t window, pv, upper;
        if (h > 2) {
            window = n / 256 < h ? n : 16 * h - 1;
            upper = h / 2;
            pv = (h - 1) / 2;
            if (sample < 0 && window == n) {
                rec.move_block(0, n - h, pv + 1);
            } else {
                if (sample < 0) rec.move_block(0, n - h, h);
                if (window < n) {
                    // A window spread over the part gives the next sample
                    // the shape of the whole part.
                    const size_t step = n / window;
                    for (size_t k = 1; k < window - h; k++) rec.exchange(h + k, h + k * step);
                }
                rec.move_block(window - upper, h - upper, upper);
            }
        } else {
            window = n > 511 ? 63 : n;
            rec.exchange(window / 2, 1);
            if (rec.compare(0, 1) > 0) rec.exchange(0, 1);
            if (rec.compare(1, window - 1) > 0) rec.exchange(1, window - 1);
            if (rec.compare(0, 1) > 0) rec.exchange(0, 1);
            pv = 1;
            upper = 1;
        }

        // Three-way partition of [pv + 1, window - upper) around the pivot:
        // [pv, eq) equal, [eq, i) below, [j, window - upper) above. Scans are
        // bounded by each other, never by what the comparator answers.
        size_t eq = pv + 1;
        size_t i = pv + 1;
        size_t j = window - upper;
        for (;;) {
            while (i < j) {
                int r = rec.compare(i, pv);
                if (r > 0) break;
                if (r == 0) {
                    if (i != eq) rec.exchange(i, eq);
                    eq++;
                }
                i++;
            }
            if (i == j) break;
            int r = 1;
            while (j - 1 > i && (r = rec.compare(j - 1, pv)) > 0) j--;
            if (j - 1 == i) break;
            rec.exchange(i, --j);
            if (r == 0) {
                if (i != eq) rec.exchange(i, eq);
                eq++;
            }
            i++;
        }
        // Bring the equal block between the below and above records.
        const size_t below = i - eq;
        const size_t equal = eq - pv;
        const size_t m = below < equal ? below : equal;
        for (size_t k = 0; k < m; k++) rec.exchange(pv + k, i - m + k);
        const size_t low_n = pv + below;  // lower sample and below-pivot records
        const size_t high_n = window - i; // above-pivot records and upper sample
        uint8_t* const high = rec.at(i);

        if (window < n) {
            // Both sides of the window are small; sort them and start again
            // with the sorted window as a sixteen times larger sample.
            partition(high, -static_cast<ptrdiff_t>(upper), high_n, p);
            partition(base, static_cast<ptrdiff_t>(pv), low_n, p);
            sample = static_cast<ptrdiff_t>(window);
            continue;
        }
        // Recurse into the smaller side and go on with the larger one, so
        // the native stack stays logarithmic whatever the comparator says.
        if (high_n <= low_n) {
            partition(high, -static_cast<ptrdiff_t>(upper), high_n, p);
            n = low_n;
            sample = static_cast<ptrdiff_t>(pv);
        } else {
            partition(base, static_cast<ptrdiff_t>(pv), low_n, p);
            base = high;
            n = high_n;
            sample = -static_cast<ptrdiff_t>(upper);
        }
    }
}

void quick_sort(void* base, size_t n, size_t width, void* ctx, uint32_t flags, Compare compare) {
    if (n < 2) return;
    const Params p{width, ctx, flags, compare};
    const Records rec{static_cast<uint8_t*>(base), p};

    // Leading run: pairs compare 0 or keep the sign of the first non-zero
    // comparison. d is +1 for an ascending run, -1 for a descending one.
    int d = 0;
    size_t run = 1;
    for (; run < n; run++) {
        int r = sign(rec.compare(run - 1, run));
        if (r == 0) continue;
        if (d == 0) {
            d = -r;
        } else if (r == d) {
            break;
        }
    }
    if (d == 0) return; // every record compares equal
    auto in_order = [&](size_t i, size_t j) { return sign(rec.compare(i, j)) != d; };

    // A sampled score says whether the rest leans the run's way.
    int64_t score = static_cast<int64_t>(run) * d;
    for (size_t i = run + 1; i + 1 < n; i += 97) score -= sign(rec.compare(i, i + 1));
    size_t last = run - 1; // last record of the sorted prefix
    if ((score < 0 ? -score : score) > static_cast<int64_t>(n / 512)) {
        if ((score > 0 ? 1 : -1) != d) {
            last = 0;
            d = -d;
        }
        // Nearly sorted: join ordered stretches of at least 4 records to the
        // prefix, looking for one every 10 records.
        for (size_t e = last + 1;;) {
            const size_t q = e + 9;
            e += 10;
            if (e >= n) break;
            while (e < n && in_order(e - 1, e)) e++;
            size_t s = q;
            while (s > last + 1 && in_order(s - 1, s)) s--;
            const size_t len = e - s;
            if (len < 4) continue;
            // The prefix's tail and the stretch's head may overlap in value:
            // give up k records of each until the seam is in order.
            const size_t plen = last + 1;
            size_t limit = len / 2 < plen / 4 ? len / 2 : plen / 4;
            if (limit == 0) limit = 1;
            size_t k = 0;
            while (k < limit && !in_order(last - k, s + k)) k++;
            if (k == limit) continue;
            const size_t dst = last - k + 1;
            s += k;
            for (size_t t = 0; dst != s && t < e - s; t++) rec.exchange(dst + t, s + t);
            last = dst + (e - s) - 1;
        }
    }
    if (d < 0) rec.reverse(0, last);
    if (last + 1 < n) partition(rec.base, static_cast<ptrdiff_t>(last + 1), n, p);
}

} // namespace mox::sorting
