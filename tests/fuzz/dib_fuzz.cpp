// libFuzzer target over the reader of device-independent bitmap blocks
// (images other programs put on the clipboard): any bytes must be read
// without going past the block, the check alone must agree with the read,
// and an image read from them must come back unchanged through a CF_DIBV5
// block of our own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "io/clipboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mox;
    // An exact-size copy, so that any read past the block is caught.
    std::vector<uint8_t> block(data, data + size);
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    const bool readable = clipboard::read_dib(block.data(), block.size(), &width, &height, nullptr);
    if (clipboard::read_dib(block.data(), block.size(), &width, &height, &pixels) != readable)
        std::abort();
    if (!readable) return 0;
    if (pixels.size() != size_t{width} * height * 4) std::abort();
    const auto again = clipboard::make_dibv5(pixels.data(), width, height);
    uint32_t w2 = 0, h2 = 0;
    std::vector<uint8_t> back;
    if (!clipboard::read_dib(again.data(), again.size(), &w2, &h2, &back)) std::abort();
    if (w2 != width || h2 != height || back != pixels) std::abort();
    return 0;
}
