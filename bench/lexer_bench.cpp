// Lexer throughput: loads a generated Mox data file (bench/lexer-gen.py)
// several times and prints the best time and MB/s. bench/run-lexer.sh runs
// it beside Python's json.loads and Lua on the same data.
//
// usage: lexer_bench FILE [PASSES]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/collector.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "evaluator/lexer.h"
#include "program/startup.h"

int main(int argc, char** argv) {
    using namespace mox;
    if (argc < 2) {
        std::fprintf(stderr, "usage: lexer_bench FILE [PASSES]\n");
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "rb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> text;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text.insert(text.end(), chunk, chunk + n);
    std::fclose(f);
    int passes = argc > 2 ? std::atoi(argv[2]) : 5;

    mox::start();

    double best = 1e30;
    int32_t values = 0;
    for (int p = 0; p < passes; p++) {
        Cell* out = stack::push_cell();
        make_none(out);
        auto start = std::chrono::steady_clock::now();
        lexer::load_utf8(text.data(), static_cast<int32_t>(text.size()), out);
        double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, t);
        values = block::rs_length_q(out);
        stack::top = out;
        collector::do_cycle();
    }
    double mb = static_cast<double>(text.size()) / 1e6;
    std::printf("mox load     %8.3f s  %7.1f MB/s  (%d top-level values, %.1f MB)\n", best,
                mb / best, values, mb);
    return 0;
}
