// Times two PARSE grammars over a text file: splitting lines of
// comma-separated fields, and tokenising identifiers, numbers and quoted
// strings. Each grammar runs several times; the median time and the counts
// it found are printed one line per grammar ("csv SECONDS FIELDS LINES",
// "tokens SECONDS IDS NUMS STRS"), for bench/run-parse.sh to set beside
// Python's re doing the same work (bench/parse_re.py).
// Usage: parse_bench FILE [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "program/startup.h"

using namespace mox;

namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Evaluates Mox source; the value is left in out.
void run(const std::string& source, Cell* out) {
    Cell* mark = stack::top;
    Cell* code = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(source.data()),
                     static_cast<int32_t>(source.size()), code);
    interpreter::do_block(code, out);
    stack::top = mark;
}

// The source of a bitset of the given ASCII characters (or of every other
// character).
std::string bitset(const std::string& chars, bool complement) {
    uint8_t bytes[16] = {};
    for (unsigned char c : chars) bytes[c >> 3] |= static_cast<uint8_t>(0x80 >> (c & 7));
    std::string hex = "#{";
    for (uint8_t b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", b);
        hex += pair;
    }
    hex += "}";
    return complement ? "make bitset! [not " + hex + "]" : "make bitset! " + hex;
}

int32_t global_int(const char* name) { return get_integer(word::get_value(word::load(name))); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: parse_bench FILE [runs]\n");
        return 2;
    }
    int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    mox::start();
    Cell result{TYPE_NONE, 0, 0, 0};
    collector::Root keep(&result);

    std::string text = read_file(argv[1]);
    Cell* str = string::load(reinterpret_cast<const uint8_t*>(text.data()),
                             static_cast<uint32_t>(text.size()), string::ENCODING_UTF8);
    word::set(word::load("text"), str);

    std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
    std::string digits = "0123456789";
    run("field-char: " + bitset(",\n", true) + " ident-start: " + bitset(letters, false) +
            " ident-char: " + bitset(letters + digits, false) + " digit: " + bitset(digits, false) +
            " other: " + bitset(letters + digits + "\"", true),
        &result);

    struct Grammar {
        const char* name;
        const char* code;
        const char* counters[3];
    } grammars[] = {
        {"csv",
         "fields: 0 lines: 0 parse text [some [copy f any field-char"
         " [#\",\" | #\"^/\" (lines: lines + 1)] (fields: fields + 1)]]",
         {"fields", "lines", nullptr}},
        {"tokens",
         "ids: 0 nums: 0 strs: 0 parse text [some [ident-start any ident-char (ids: ids + 1)"
         " | some digit (nums: nums + 1) | #\"^\"\" thru #\"^\"\" (strs: strs + 1)"
         " | some other]]",
         {"ids", "nums", "strs"}},
    };
    for (const Grammar& g : grammars) {
        std::vector<double> times;
        for (int i = 0; i < runs; i++) {
            auto t0 = std::chrono::steady_clock::now();
            run(g.code, &result);
            auto t1 = std::chrono::steady_clock::now();
            times.push_back(std::chrono::duration<double>(t1 - t0).count());
            if (type_of(&result) != TYPE_LOGIC || result.data1 != 1) {
                std::fprintf(stderr, "%s: the grammar did not match\n", g.name);
                return 1;
            }
        }
        std::printf("%s %.4f", g.name, median(times));
        for (const char* counter : g.counters)
            if (counter) std::printf(" %d", global_int(counter));
        std::printf("\n");
    }
    return 0;
}
