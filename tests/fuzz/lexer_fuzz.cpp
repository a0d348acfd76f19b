// libFuzzer target over the lexer: any bytes must load to a block or raise
// a syntax error, in the load, scan and prescan modes and one value at a
// time, and the number scanners of to and make must answer without reading
// past their input. A trace callback answers each event kind true or false
// as the first byte's bits say, so that every skipped or suppressed step is
// taken too; such a scan must end and hand back no internal marker.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/word.h"
#include "evaluator/lexer-internal.h"
#include "evaluator/lexer.h"
#include "program/startup.h"

namespace {

// Runs fn under a try frame; a raised error is an expected outcome.
template <typename Fn> void guarded(Fn fn) {
    mox::stack::protect(mox::stack::Guard::errors, fn, [](uint32_t) {});
}

// The answers of the trace callback: bit n for the event kind of mask bit
// 1 << n.
uint8_t answers = 0;

bool answer(mox::Cell*, mox::Cell* args) {
    using namespace mox;
    static const char* const kNames[] = {"prescan", "scan", "load", "open", "close", "error"};
    for (int i = 0; i < 6; i++)
        if (args[0].data2 == word::load(kNames[i])->data2) return answers >> i & 1;
    __builtin_trap();
}

// No value of a scan's result, nested ones included, may be the lexer's
// open-series marker.
void check_markers(const mox::Cell* value) {
    using namespace mox;
    if (type_of(value) == lexer::MARKER) __builtin_trap();
    if (!is_any_block(type_of(value))) return;
    const Cell* end = block::ms_tail(value);
    for (const Cell* c = block::rs_head(value); c < end; c++) check_markers(c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mox;
    mox::start();
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
    if (size > 0) {
        answers = text[0];
        lexer::invoke_callback = &answer;
        Cell callback;
        make_none(&callback);
        for (bool one : {false, true}) {
            guarded([&] {
                Cell* out = stack::push_cell();
                make_none(out);
                int32_t position = 0;
                lexer::scan_tokens(out, text.data() + 1, length - 1, one, true, true, !one,
                                   &position, &callback, nullptr, nullptr);
                check_markers(out);
            });
        }
    }
    int32_t failure = 0;
    lexer::scan_integer(text.data(), length, 1, &failure);
    lexer::scan_float(text.data(), length, 1, &failure);
    return 0;
}
