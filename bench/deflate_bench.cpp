// Times CRC-32, deflate (zlib framing, the default level) and inflate over
// the files named on the command line, for bench/run-deflate.sh, which runs
// Python's zlib on the same files in the same run. Prints one line a file
// and operation: "name op milliseconds bytes", the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "evaluator/checksum.h"
#include "io/deflate.h"

using namespace mox;

namespace {

template <typename F> double median_ms(int runs, F f) {
    std::vector<double> times;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    for (int a = 1; a < argc; a++) {
        std::ifstream f(argv[a], std::ios::binary);
        std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
        const int32_t len = static_cast<int32_t>(in.size());
        volatile uint32_t sink = 0;
        double crc = median_ms(21, [&] { sink = sink + checksum::crc32(in.data(), in.size()); });
        std::vector<uint8_t> packed(len + (len >> 11) + 32);
        int32_t packed_size = 0;
        double deflate = median_ms(7, [&] {
            packed_size = static_cast<int32_t>(packed.size());
            deflate::zlib_compress(packed.data(), &packed_size, in.data(), len);
        });
        std::vector<uint8_t> out(len);
        double inflate = median_ms(11, [&] {
            int32_t size = len;
            if (deflate::zlib_decompress(out.data(), &size, packed.data(), packed_size) != 0 ||
                out != in)
                std::fprintf(stderr, "round trip failed: %s\n", argv[a]);
        });
        std::printf("%s crc32 %.3f %d\n", argv[a], crc, len);
        std::printf("%s deflate %.3f %d\n", argv[a], deflate, packed_size);
        std::printf("%s inflate %.3f %d\n", argv[a], inflate, len);
    }
}
