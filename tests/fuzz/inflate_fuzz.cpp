// libFuzzer target over the decoders: any bytes, as raw deflate, zlib or gzip
// (chosen by the first byte), must decode or answer a result code without
// reading or writing outside the buffers; the measured size must be what a
// second call into exactly that room produces; and whatever decodes must
// survive our own compressor and decoder unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "io/deflate.h"

using namespace mox;

namespace {

using Op = int32_t (*)(uint8_t*, int32_t*, const uint8_t*, int32_t);

const Op decoders[3] = {deflate::decompress, deflate::zlib_decompress, deflate::gzip_decompress};
const Op encoders[3] = {deflate::compress, deflate::zlib_compress, deflate::gzip_compress};

// Output larger than this is not decoded (a few bytes of input can claim
// megabytes).
constexpr int32_t MAX_OUTPUT = 1 << 22;

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int which = data[0] % 3;
    const uint8_t* in = data + 1;
    const int32_t len = static_cast<int32_t>(size - 1);

    int32_t measured = 0;
    int32_t result = decoders[which](nullptr, &measured, in, len);
    check(result >= 0 && result <= 5);
    if (result != deflate::OK && result != deflate::TOO_SMALL) return 0;
    check(measured >= 0);
    if (measured > MAX_OUTPUT) return 0;

    // Exactly the measured room, in a buffer of its own size so that the
    // sanitizer sees any write past it.
    std::vector<uint8_t> out(static_cast<size_t>(measured));
    int32_t got = measured;
    result = decoders[which](out.data(), &got, in, len);
    if (result != deflate::OK) return 0; // a checksum can still fail
    check(got == measured);

    std::vector<uint8_t> packed(static_cast<size_t>(got) + (got >> 11) + 32);
    int32_t packed_size = static_cast<int32_t>(packed.size());
    check(encoders[which](packed.data(), &packed_size, out.data(), got) == deflate::OK);
    std::vector<uint8_t> again(static_cast<size_t>(got));
    int32_t again_size = got;
    check(decoders[which](again.data(), &again_size, packed.data(), packed_size) == deflate::OK);
    check(again_size == got && again == out);
    return 0;
}
