// libFuzzer target over the reader of DROPFILES blocks (file lists other
// programs put on the clipboard): any bytes must give names without reading
// past the block, and a list built from those names must read back as the
// same names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "io/clipboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mox;
    // An exact-size copy, so that any read past the block is caught.
    std::vector<uint8_t> block(data, data + size);
    const auto names = clipboard::read_dropfiles(block.data(), block.size());
    for (const auto& name : names)
        if (name.empty()) std::abort();
    const auto rebuilt = clipboard::make_dropfiles(names);
    if (clipboard::read_dropfiles(rebuilt.data(), rebuilt.size()) != names) std::abort();
    for (const auto& name : names) (void)clipboard::to_mox_file(name);
    return 0;
}
