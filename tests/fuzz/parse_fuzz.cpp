// libFuzzer target over PARSE: any (input, rules) pair must end in true,
// false, a collected block or a raised error, without reading past the
// input, crashing or overflowing the native stack.
//
// Layout of a fuzz input: one flag byte, the input text, a NUL byte, the
// rules text. Flag bits: 0-1 the input kind (string, binary, block loaded
// from the text), 2 /case, 3 a /part limit in the middle of the input, 4 a
// short run (the callback stops it after 100 events, else after 5000), 5 a
// string decoded from UTF-8 (else one character per byte). Rules that do
// not load are skipped. Parens whose code holds words become sub-rule
// blocks, so the actions run no arbitrary code.
//
// Every run has a trace callback that ends it after its budget of events:
// grammars can ask for unbounded or exponential work (loops that never
// advance or that grow the input, nested to/thru and repetitions
// backtracking over the input), and the callback is the dialect's own way
// to stop them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/stack.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/parse.h"
#include "program/startup.h"

namespace {

using namespace mox;

Cell* callback = nullptr;

void start_runtime() {
    static bool done = false;
    if (done) return;
    done = true;
    mox::start();
    static const char source[] = "func [event match? rule input stack] [(fuzz-events: fuzz-events "
                                 "- 1) > 0]";
    Cell* code = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(source), sizeof source - 1, code);
    interpreter::do_block(code, code);
    callback = root_append(code);
    stack::top = code;
}

// Runs fn under a try frame: a raised error ends it as an outcome like any
// other, and an exit it leaves pending is dropped.
template <typename Fn> void guarded(Fn fn) {
    stack::protect(stack::Guard::errors, fn, [](uint32_t) {});
    stack::pending = 0;
}

// Turns every paren holding a word into a block, at any depth.
void tame(Cell* blk, int depth) {
    if (depth > 64) return;
    for (uint32_t i = blk->data1; i < block::abs_length(blk); i++) {
        Cell* c = block::ms_abs_at(blk, i);
        uint32_t t = type_of(c);
        if (t == TYPE_PAREN) {
            for (uint32_t k = c->data1; k < block::abs_length(c); k++)
                if (is_any_word(type_of(block::ms_abs_at(c, k))) ||
                    is_any_path(type_of(block::ms_abs_at(c, k))) ||
                    type_of(block::ms_abs_at(c, k)) == TYPE_PAREN) {
                    set_type(c, TYPE_BLOCK);
                    break;
                }
        }
        if (type_of(c) == TYPE_BLOCK) {
            Cell inner = *c;
            tame(&inner, depth + 1);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_runtime();
    if (size < 2) return 0;
    uint8_t flags = data[0];
    const uint8_t* body = data + 1;
    size_t rest = size - 1;
    const void* nul = std::memchr(body, 0, rest);
    if (!nul) return 0;
    size_t input_size = static_cast<const uint8_t*>(nul) - body;
    std::string rules_text(reinterpret_cast<const char*>(body) + input_size + 1,
                           rest - input_size - 1);
    // Exact-size copies, so that a read past either is caught.
    std::vector<uint8_t> input(body, body + input_size);
    std::vector<uint8_t> rules(rules_text.begin(), rules_text.end());
    guarded([&] {
        Cell* rules_cell = make_none(stack::push_cell());
        lexer::load_utf8(rules.data(), static_cast<int32_t>(rules.size()), rules_cell);
        tame(rules_cell, 0);
        Cell* in = make_none(stack::push_cell());
        switch (flags & 3) {
        case 0:
            if (flags & 32) {
                *in = *binary::make_from_bytes(input.data(), static_cast<uint32_t>(input.size()));
                string::decode_utf8(in, in);
            } else {
                string::make_at(in, static_cast<uint32_t>(input.size()), 1);
                if (!input.empty())
                    string::append_bytes(in, input.data(), static_cast<uint32_t>(input.size()));
            }
            break;
        case 1:
            *in = *binary::make_from_bytes(input.data(), static_cast<uint32_t>(input.size()));
            break;
        default:
            lexer::load_utf8(input.data(), static_cast<int32_t>(input.size()), in);
            break;
        }
        int32_t limit = 0;
        if (flags & 8) limit = static_cast<int32_t>(parse::total_of(in) / 2) + 1;
        word::set(word::load("fuzz-events"),
                  make_integer(stack::push_cell(), (flags & 16) ? 100 : 5000));
        Cell* out = make_none(stack::push_cell());
        parse::process(in, rules_cell, (flags & 4) ? parse::MODE_STRICT : parse::MODE_FOLD, limit,
                       callback, out);
    });
    return 0;
}
