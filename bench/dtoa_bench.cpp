// Number text against the C library: our shortest formatting (form_float)
// and our reading (string_to_double) timed side by side with snprintf
// "%.17g" and strtod over the same values in one run, with the ratios.
//
// Two value sets: random bit patterns (every binade alike, 17 digits mostly)
// and short decimals such as programs write (12.75, 0.003). Each timing is
// the best of several passes.

#include "core/dtoa.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int COUNT = 1000000;
constexpr int PASSES = 5;

std::vector<double> random_bit_patterns(std::mt19937_64& rng) {
    std::vector<double> values;
    while (values.size() < COUNT) {
        uint64_t b = rng() & 0x7FFFFFFFFFFFFFFF;
        if (b < 0x7FF0000000000000) values.push_back(std::bit_cast<double>(b));
    }
    return values;
}

std::vector<double> short_decimals(std::mt19937_64& rng) {
    std::vector<double> values;
    for (int i = 0; i < COUNT; ++i) {
        double mantissa = static_cast<double>(rng() % 1000000);
        values.push_back(mantissa / static_cast<double>(uint64_t{1} << (rng() % 4 * 3)) /
                         std::pow(10.0, static_cast<double>(rng() % 6)));
    }
    return values;
}

// Best time of PASSES runs of f over the set, in nanoseconds per value.
template <typename F> double time_per_value(size_t n, F f) {
    double best = 1e300;
    for (int pass = 0; pass < PASSES; ++pass) {
        auto start = Clock::now();
        f();
        std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        best = std::min(best, elapsed.count() / static_cast<double>(n));
    }
    return best;
}

volatile uint64_t sink;

void run(const char* name, const std::vector<double>& values) {
    std::vector<std::string> texts;
    texts.reserve(values.size());
    char buf[64];
    for (double v : values) {
        int n = std::snprintf(buf, sizeof buf, "%.17g", v);
        texts.emplace_back(buf, n);
    }

    double ours_form = time_per_value(values.size(), [&] {
        uint64_t sum = 0;
        char out[mox::dtoa::FORM_SIZE];
        for (double v : values) sum += mox::dtoa::form_float(v, 0, true, out) + out[1];
        sink = sum;
    });
    double libc_form = time_per_value(values.size(), [&] {
        uint64_t sum = 0;
        char out[64];
        for (double v : values) sum += std::snprintf(out, sizeof out, "%.17g", v) + out[1];
        sink = sum;
    });
    double ours_read = time_per_value(texts.size(), [&] {
        uint64_t sum = 0;
        int rest;
        for (const std::string& t : texts) {
            double v = mox::dtoa::string_to_double(t.data(), t.data() + t.size(), 0, &rest);
            sum += std::bit_cast<uint64_t>(v);
        }
        sink = sum;
    });
    double libc_read = time_per_value(texts.size(), [&] {
        uint64_t sum = 0;
        for (const std::string& t : texts)
            sum += std::bit_cast<uint64_t>(std::strtod(t.c_str(), nullptr));
        sink = sum;
    });

    // Agreement, so that the timings compare equal work.
    long mismatches = 0;
    int rest;
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string& t = texts[i];
        double v = mox::dtoa::string_to_double(t.data(), t.data() + t.size(), 0, &rest);
        mismatches += std::bit_cast<uint64_t>(v) != std::bit_cast<uint64_t>(values[i]);
    }

    std::printf("%s (%zu values%s)\n", name, values.size(), mismatches ? ", READ MISMATCHES" : "");
    std::printf("  format  form_float %7.1f ns   snprintf %%.17g %7.1f ns   ratio %.2fx\n",
                ours_form, libc_form, libc_form / ours_form);
    std::printf("  read    string_to_double %7.1f ns   strtod %7.1f ns   ratio %.2fx\n", ours_read,
                libc_read, libc_read / ours_read);
}

} // namespace

int main() {
    std::mt19937_64 rng(20240601);
    run("random bit patterns", random_bit_patterns(rng));
    run("short decimals", short_decimals(rng));
    std::printf("ratio = C library time / our time (above 1: ours is faster)\n");
    return 0;
}
