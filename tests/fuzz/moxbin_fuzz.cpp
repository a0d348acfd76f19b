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
#include "core/collector.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "io/moxbin.h"
#include "program/startup.h"

namespace {

void start_runtime() {
    static bool done = false;
    if (done) return;
    done = true;
    mox::init();
    mox::collector::active_q = true;
    mox::boot_rooting = false;
}

// Runs fn under a try frame; true when it returned normally.
template <typename Fn> bool guarded(Fn fn) {
    using namespace mox;
    Cell* top = stack::top;
    Cell* args = stack::arguments;
    stack::Frame* ctop = stack::ctop;
    stack::mark_try(nullptr);
    bool ok = true;
    try {
        fn();
    } catch (const stack::Unwind&) {
        ok = false;
    }
    stack::ctop = ctop;
    stack::arguments = args;
    stack::top = top;
    return ok;
}

std::string mold(mox::Cell* value) {
    using namespace mox;
    Cell* v = stack::push(value); // the value may lie in a buffer that moves
    Cell* buffer = string::push_new(16);
    actions::mold(v, buffer, false, true, false, nullptr, 1 << 20, 0);
    int32_t length = -1;
    const char* p = unicode::to_utf8(buffer, &length);
    return std::string(p, size_t(length));
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
    start_runtime();
    std::vector<uint8_t> doc(data, data + size);
    Cell* saved = stack::top;
    Cell* target = stack::push_cell();
    block::make_at(target, 4);
    std::string first;
    if (!guarded([&] { moxbin::decode(doc.data(), int64_t(doc.size()), target, true); })) {
        stack::top = saved;
        return 0;
    }
    if (!guarded([&] { first = mold(target); })) {
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
            second = mold(block::ms_abs_at(t, 0));
        }));
        check(second == first);
    }
    stack::top = saved;
    return 0;
}
