// libFuzzer target over the native build's PNG and BMP decoders (image
// files are untrusted input): any bytes must decode without reading past
// them, and a decoded image must come back unchanged through our own PNG
// encoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mox::platform;
    // An exact-size copy, so that any read past the input is caught.
    std::vector<uint8_t> bytes(data, data + size);
    uint32_t w = 0, h = 0;
    uint8_t* pixels = nullptr;
    // Sides are capped low, as a cheap stand-in for the runtime's limit.
    if (image_decode(bytes.data(), bytes.size(), 1024, &w, &h, &pixels) != IMAGE_OK) return 0;
    if (!pixels || w == 0 || h == 0 || w > 1024 || h > 1024) std::abort();
    uint8_t* png = nullptr;
    size_t png_size = 0;
    if (image_encode(pixels, w, h, 1, &png, &png_size) != IMAGE_OK) std::abort();
    uint32_t w2 = 0, h2 = 0;
    uint8_t* back = nullptr;
    if (image_decode(png, png_size, 1024, &w2, &h2, &back) != IMAGE_OK || w2 != w || h2 != h ||
        std::memcmp(back, pixels, size_t{w} * h * 4) != 0)
        std::abort();
    std::free(pixels);
    std::free(png);
    std::free(back);
    return 0;
}
