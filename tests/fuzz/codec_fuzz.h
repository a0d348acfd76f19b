// Shared set-up of the JSON and CSV fuzz targets: the runtime with its
// library, and a Mox check function that calls a codec through its native
// body and through a function made from the same spec and Mox body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "program/startup.h"

namespace codec_fuzz {

// Boots once and runs the Mox source that defines the check function.
inline void boot(const char* source) {
    using namespace mox;
    static bool done = false;
    if (done) return;
    done = true;
    mox::start();
    Cell* code = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(source), int32_t(std::strlen(source)), code);
    interpreter::do_block(code, code);
    stack::top = code;
}

// Whether the bytes hold an encoded surrogate (ED A0..BF), which no JSON
// text can carry back.
inline bool surrogate_q(const uint8_t* p, size_t n) {
    for (size_t i = 0; i + 1 < n; i++)
        if (p[i] == 0xED && p[i + 1] >= 0xA0) return true;
    return false;
}

// Calls the check function (a global word) with the text of the bytes (UTF-8,
// else one character per byte) and the flags; aborts unless it answers "ok"
// (a raised error is a finding too). Bytes that are not UTF-8 are skipped.
inline void check(const char* function, const uint8_t* p, size_t n, bool utf8, int32_t flags) {
    using namespace mox;
    if (utf8 && surrogate_q(p, n)) return;
    Cell* saved = stack::top;
    Cell* args = stack::arguments;
    stack::Frame* ctop = stack::ctop;
    std::string answer = "ok";
    stack::mark_try(nullptr);
    try {
        Cell* text = stack::push_cell();
        string::make_at(text, uint32_t(n ? n : 1), 1);
        if (utf8)
            string::append_utf8(text, reinterpret_cast<const char*>(p), n);
        else if (n)
            string::append_bytes(text, p, uint32_t(n));
        answer = "raised an error";
        Cell* call = stack::push_cell();
        block::make_at(call, 3);
        block::ms_append(call, word::load(function));
        block::ms_append(call, text);
        Cell flag;
        block::ms_append(call, make_integer(&flag, flags));
        Cell* out = stack::push_cell();
        make_none(out);
        interpreter::do_block(call, out);
        if (type_of(out) == TYPE_STRING) {
            int32_t length = -1;
            const char* q = unicode::to_utf8(out, &length);
            answer.assign(q, size_t(length));
        }
    } catch (const stack::Unwind&) {
    }
    stack::pending = 0;
    stack::ctop = ctop;
    stack::arguments = args;
    stack::top = saved;
    if (answer != "ok") {
        std::fprintf(stderr, "codec check: %s\n", answer.c_str());
        std::abort();
    }
}

} // namespace codec_fuzz
