// libFuzzer target over the lexer: any bytes must load to a block or raise
// a syntax error, in the load, scan and prescan modes and one value at a
// time, and the number scanners of to and make must answer without reading
// past their input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/collector.h"
#include "core/startup.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"

namespace {

void boot() {
    static bool done = false;
    if (done) return;
    done = true;
    mox::init();
    mox::collector::active_q = true;
    mox::boot_rooting = false;
}

// Runs fn under a try frame; a raised error is an expected outcome.
template <typename Fn> void guarded(Fn fn) {
    using namespace mox;
    Cell* top = stack::top;
    Cell* args = stack::arguments;
    stack::Frame* ctop = stack::ctop;
    stack::mark_try(nullptr);
    try {
        fn();
    } catch (const stack::Unwind&) {
    }
    stack::ctop = ctop;
    stack::arguments = args;
    stack::top = top;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mox;
    boot();
    // An exact-size copy, so that any read past the input is caught.
    std::vector<uint8_t> text(data, data + size);
    auto length = static_cast<int32_t>(size);
    guarded([&] {
        Cell* out = stack::push_cell();
        make_none(out);
        lexer::load_utf8(text.data(), length, out);
    });
    guarded([&] {
        Cell* out = stack::push_cell();
        int32_t position = 0;
        lexer::scan_tokens(out, text.data(), length, true, false, true, false, &position, nullptr,
                           nullptr, nullptr);
        lexer::scan_tokens(out, text.data(), length, true, true, true, false, &position, nullptr,
                           nullptr, nullptr, true);
        lexer::scan_tokens(out, text.data(), length, true, true, true, false, &position, nullptr,
                           nullptr, nullptr);
    });
    int32_t failure = 0;
    lexer::scan_integer(text.data(), length, 1, &failure);
    lexer::scan_float(text.data(), length, 1, &failure);
    return 0;
}
