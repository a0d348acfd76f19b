// JSON text to Mox values and back: the native bodies of load-json and
// to-json, and the string unescaper that the library's JSON decoder calls.
//
// The library keeps a Mox source of both functions (library/json.mox); these
// bodies give the same values, the same returned error! values and the same
// raised errors, so that either can run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/cell.h"
#include "core/collector.h"

namespace mox::json {

// Nesting of arrays and objects beyond which decoding fails and encoding
// raises internal too-deep (a block that contains itself ends there too).
constexpr int32_t MAX_DEPTH = 512;

// Everything a decoder makes ends in its result, so collecting while it
// runs would only mark the growing result over and over: collections wait
// until it is done (the collection owed then runs once). The stress mode
// still collects at every allocation, so the rooting here stays tested.
struct DecodePause {
    bool saved = collector::active_q;
    DecodePause() {
        if (!collector::stress) collector::active_q = false;
    }
    ~DecodePause() { collector::active_q = saved; }
    DecodePause(const DecodePause&) = delete;
    DecodePause& operator=(const DecodePause&) = delete;
};

// Replaces the JSON escapes of the string from its index in place; a bad
// escape or surrogate raises script invalid-data with the string. May
// collect.
void unescape(Cell* str);

// Decodes the JSON text from the string's index into out: the value, or the
// error! value that names where the text stopped matching. out must be a
// cell the collector sees. May collect.
void load(Cell* input, Cell* out);

// Writes the JSON text of data into out (a new string); indent is a string!
// for pretty output or null. May collect.
void to_json(Cell* data, const Cell* indent, bool ascii, Cell* out);

// Text helpers shared with the CSV codec: the code points of a string-like
// value from its index appended to out, and a new string of the n code
// points (the narrowest unit that holds them) into slot (may collect).
void read_chars(Cell* str, std::vector<uint32_t>& out);
void make_text(Cell* slot, const uint32_t* p, size_t n);

// Binds the bodies to the library's load-json and to-json, and makes the
// unescape routine.
void register_json();

} // namespace mox::json
