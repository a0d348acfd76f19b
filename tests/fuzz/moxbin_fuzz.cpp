// libFuzzer target over the Moxbin decoder in the language codec's mode:
// any bytes must decode or raise an error value, in either body form (the
// flags byte chooses). Whatever decodes is molded, written again in both
// forms, and each must decode to a value with the same mold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "io/moxbin.h"
#include "program/startup.h"

namespace {

// Runs fn under a try frame; true when it returned normally.
template <typename Fn> bool guarded(Fn fn) {
    return mox::stack::protect(mox::stack::Guard::errors, fn, [](uint32_t) {}) == 0;
}

std::vector<uint8_t> bytes_of(const mox::Cell* binary) {
    mox::memory::SeriesBuffer* b = mox::memory::buffer_of(binary->data2);
    return std::vector<uint8_t>(b->head_ptr(), b->tail_ptr());
}

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mox;
    mox::start();
    std::vector<uint8_t> doc(data, data + size);
    Cell* saved = stack::top;
    Cell* target = stack::push_cell();
    block::make_at(target, 4);
    std::string first;
    if (!guarded([&] { moxbin::decode(doc.data(), int64_t(doc.size()), target, true); })) {
        stack::top = saved;
        return 0;
    }
    if (!guarded([&] { first = actions::mold_utf8(target, true, 1 << 20); })) {
        stack::top = saved;
        return 0;
    }
    for (bool compact : {true, false}) {
        std::vector<uint8_t> again;
        bool encoded = guarded([&] {
            Cell* out = stack::push_cell();
            compact ? moxbin::encode_cp(target, out) : moxbin::encode(target, out);
            again = bytes_of(out);
        });
        if (!encoded) continue; // too deep, or a value with no codec
        std::string second;
        check(guarded([&] {
            Cell* t = stack::push_cell();
            block::make_at(t, 4);
            moxbin::decode(again.data(), int64_t(again.size()), t, true);
            check(block::abs_length(t) == 1);
            second = actions::mold_utf8(block::ms_abs_at(t, 0), true, 1 << 20);
        }));
        check(second == first);
    }
    stack::top = saved;
    return 0;
}
