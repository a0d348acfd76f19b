// libFuzzer target over the LZ bit coder: any bytes must decompress or give
// null without reading past them; whatever decompresses, and the input
// itself, must survive compression and decompression unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "io/lz.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void round_trip(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> packed(in.size());
    int32_t n = mox::lz::compress(in.data(), int32_t(in.size()), packed.data());
    if (n < 0) return; // short or incompressible
    check(size_t(n) < in.size());
    std::vector<uint8_t> exact(packed.begin(), packed.begin() + n);
    uint32_t size = 0;
    uint8_t* out = mox::lz::decompress(exact.data(), exact.size(), &size);
    check(out != nullptr);
    check(size == in.size() && std::equal(in.begin(), in.end(), out));
    mox::lz::free_buffer(out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> in(data, data + size);
    uint32_t produced = 0;
    uint8_t* out = mox::lz::decompress(in.data(), in.size(), &produced);
    if (out) {
        std::vector<uint8_t> plain(out, out + produced);
        mox::lz::free_buffer(out);
        round_trip(plain);
    }
    round_trip(in);
    return 0;
}
