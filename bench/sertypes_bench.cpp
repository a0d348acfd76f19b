// Times the series datatypes on three workloads, for bench/run-sertypes.sh
// to set beside Python 3 (and a plain C++ loop) doing the same work:
//
//   base64    enbase and debase of 10 MB of random bytes, from Mox code, and
//             the encoder and decoder routines behind them called directly
//   map       a million put and select of string keys on a map!, from Mox
//             code (the keys are made first, outside the timing)
//   vector    v * 3 + 1 in place on a vector! of 10 million integers, from
//             Mox code and through the arithmetic routine directly, and the
//             same in a plain C++ loop over an array
//
// Each workload runs several times; one line per measure, "NAME SECONDS"
// (the median), then a check line so the peers can be compared.
// Usage: sertypes_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/collector.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "datatypes/binary.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "program/startup.h"

using namespace mox;

namespace {

// Evaluates Mox source; the value is left in out.
void run(const std::string& source, Cell* out) {
    Cell* mark = stack::top;
    Cell* code = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(source.data()),
                     static_cast<int32_t>(source.size()), code);
    interpreter::do_block(code, out);
    stack::top = mark;
}

double median_of(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; i++) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    mox::start();
    Cell result{TYPE_NONE, 0, 0, 0};
    collector::Root keep(&result);

    // base64: 10 MB of random bytes in the global word data.
    const uint32_t kBytes = 10 * 1024 * 1024;
    std::vector<uint8_t> bytes(kBytes);
    std::mt19937 rng(1);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    word::set(word::load("data"), binary::make_from_bytes(bytes.data(), kBytes));
    stack::pop(1);
    double mox_enbase = median_of(runs, [&] { run("text: enbase data", &result); });
    double mox_debase = median_of(runs, [&] { run("back: debase text", &result); });
    run("length? back", &result);
    std::printf("base64-mox-enbase %.4f\nbase64-mox-debase %.4f\n", mox_enbase, mox_debase);
    std::string text(binary::encode_capacity(64, kBytes), '\0');
    double enc = median_of(runs, [&] { binary::encode_base64(text.data(), bytes.data(), kBytes); });
    node_t node = 0;
    double dec = median_of(runs, [&] {
        node = binary::decode_base64(reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<int32_t>(text.size()), 1);
    });
    std::printf("base64-routine-encode %.4f\nbase64-routine-decode %.4f\n", enc, dec);
    std::printf("base64-check %u %d\n", memory::buffer_of(node)->used_bytes(),
                get_integer(&result));

    // map: a million string keys made first, then put and select timed.
    run("n: 1000000 keys: make block! n repeat i n [append keys append copy {k} i]", &result);
    int32_t cycles_before = collector::stats.cycles;
    double puts =
        median_of(runs, [&] { run("m: make map! [] foreach k keys [put m k 1]", &result); });
    int32_t put_cycles = collector::stats.cycles - cycles_before;
    double selects = median_of(
        runs, [&] { run("hits: 0 foreach k keys [if select m k [hits: hits + 1]]", &result); });
    int32_t select_cycles = collector::stats.cycles - cycles_before - put_cycles;
    run("hits", &result);
    std::printf("map-mox-put %.4f\nmap-mox-select %.4f\nmap-check %d\n", puts, selects,
                get_integer(&result));
    // Diagnostics (not a measure): the collections the put and select runs
    // brought on, all runs together.
    std::printf("map-mox-collections put %d select %d runs %d\n", put_cycles, select_cycles, runs);

    // vector: v * 3 + 1 in place on 10 million integers.
    const int32_t kCount = 10000000;
    run("v: make vector! 10000000", &result);
    double mox_vec = median_of(runs, [&] { run("v * 3 + 1", &result); });
    Cell* v = stack::push(word::get_value(word::load("v")));
    Cell three, one;
    make_integer(&three, 3);
    make_integer(&one, 1);
    double routine = median_of(runs, [&] {
        vector::do_math_scalar(OP_MUL, v, &three);
        vector::do_math_scalar(OP_ADD, v, &one);
    });
    std::vector<int32_t> plain(kCount, 0);
    volatile int32_t sink = 0;
    double loop = median_of(runs, [&] {
        for (int32_t& x : plain) x = x * 3 + 1;
        sink = plain[static_cast<size_t>(kCount) / 2];
    });
    run("pick v 5000000", &result);
    std::printf("vector-mox %.4f\nvector-routine %.4f\nvector-cpp-loop %.4f\nvector-check %d %d\n",
                mox_vec, routine, loop, get_integer(&result), static_cast<int32_t>(sink));
    return 0;
}
