// Symbol interning and context lookup against std::unordered_map on the same
// keys, in one run, with the ratios (unordered_map time / our time; above 1
// means we are faster).
//
//   intern new      symbol::make_sized of names never seen, against
//                   emplace of std::string keys into unordered_map<string, id>
//   intern again    the same names again (all found), against find
//   context find    context::find_word (canonical match) in a context of
//                   10,000 words, against unordered_map<symbol, index>::find
//   global word     word::from_symbol of present words, against the same map
//
// Names are identifier-like: 3 to 16 letters, digits and hyphens, one in
// eight with a capital letter. Lookup timings are the best of several passes.
//
// Built with the other benchmarks (see bench/README.md).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/collector.h"
#include "core/context.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/word.h"
#include "program/startup.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace mox;

constexpr int NEW_NAMES = 400000;
constexpr int CONTEXT_WORDS = 10000;
constexpr int LOOKUPS = 2000000;
constexpr int PASSES = 5;

std::vector<std::string> make_names(std::mt19937& rng, int count) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789-";
    std::uniform_int_distribution<int> length(3, 16);
    std::uniform_int_distribution<int> letter(0, 25);
    std::uniform_int_distribution<int> any(0, 36);
    std::vector<std::string> names;
    names.reserve(count);
    for (int i = 0; i < count; i++) {
        std::string s;
        int n = length(rng);
        s += static_cast<char>('a' + letter(rng));
        for (int k = 1; k < n; k++) s += alphabet[any(rng)];
        if (rng() % 8 == 0) s[0] = static_cast<char>(s[0] - 32);
        s += '-' + std::to_string(i); // all distinct
        names.push_back(std::move(s));
    }
    return names;
}

template <typename Fn> double seconds(Fn fn) {
    auto start = Clock::now();
    fn();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Fn> double best_of(Fn fn) {
    double best = 1e30;
    for (int p = 0; p < PASSES; p++) best = std::min(best, seconds(fn));
    return best;
}

void report(const char* what, int count, double ours, double peer) {
    std::printf("%-14s %9.1f ns  unordered_map %9.1f ns  ratio %5.2f\n", what, ours * 1e9 / count,
                peer * 1e9 / count, peer / ours);
}

// Keeps the lookups from being optimised away.
uint64_t sink = 0;
void consume(uint64_t s) {
    asm volatile("" : : "r"(s) : "memory");
    sink += s;
}

} // namespace

int main() {
    mox::init();
    symbol::make_table();
    context::make_global();
    collector::active_q = true;
    boot_rooting = false;

    std::mt19937 rng(12345);
    std::vector<std::string> names = make_names(rng, NEW_NAMES);
    std::vector<std::string> peer_names = names; // the peer interns its own copies

    // Interning names never seen.
    std::vector<uint32_t> ids(names.size());
    double ours_new = seconds([&] {
        for (size_t i = 0; i < names.size(); i++)
            ids[i] = symbol::make_sized(names[i].data(), names[i].size());
    });
    std::unordered_map<std::string, uint32_t> peer;
    double peer_new = seconds([&] {
        for (size_t i = 0; i < peer_names.size(); i++)
            peer.emplace(peer_names[i], static_cast<uint32_t>(i + 1));
    });
    report("intern new", NEW_NAMES, ours_new, peer_new);

    // Interning them again: every name is found.
    std::uniform_int_distribution<int> pick(0, NEW_NAMES - 1);
    std::vector<int> order(LOOKUPS);
    for (int& o : order) o = pick(rng);
    double ours_again = best_of([&] {
        uint64_t s = 0;
        for (int o : order) s += symbol::make_sized(names[o].data(), names[o].size());
        consume(s);
    });
    double peer_again = best_of([&] {
        uint64_t s = 0;
        for (int o : order) s += peer.find(names[o])->second;
        consume(s);
    });
    report("intern again", LOOKUPS, ours_again, peer_again);

    // A context of 10,000 words, looked up by canonical symbol.
    node_t ctx = context::create(CONTEXT_WORDS, false, false, 0, context::KIND_OBJECT);
    Cell* holder = stack::push_cell();
    *holder = Cell{TYPE_OBJECT, ctx, 1, 0};
    std::unordered_map<uint32_t, int32_t> peer_ctx;
    for (int i = 0; i < CONTEXT_WORDS; i++) {
        Cell w = {TYPE_WORD, 0, ids[i], static_cast<uint32_t>(-1)};
        int32_t index = context::add(holder->data1, &w);
        peer_ctx.emplace(symbol::resolve(ids[i]), index);
    }
    std::uniform_int_distribution<int> pick_word(0, CONTEXT_WORDS - 1);
    std::vector<uint32_t> probes(LOOKUPS);
    for (uint32_t& p : probes) p = ids[pick_word(rng)];
    double ours_ctx = best_of([&] {
        uint64_t s = 0;
        for (uint32_t sym : probes) s += context::find_word(holder->data1, sym, true);
        consume(s);
    });
    double peer_ctx_time = best_of([&] {
        uint64_t s = 0;
        for (uint32_t sym : probes) s += peer_ctx.find(symbol::resolve(sym))->second;
        consume(s);
    });
    report("context find", LOOKUPS, ours_ctx, peer_ctx_time);

    // Global words of present symbols.
    std::unordered_map<uint32_t, int32_t> peer_global;
    for (int i = 0; i < CONTEXT_WORDS; i++)
        peer_global.emplace(ids[i], static_cast<int32_t>(word::from_symbol(ids[i])->data3));
    double ours_global = best_of([&] {
        uint64_t s = 0;
        for (uint32_t sym : probes) s += word::from_symbol(sym)->data3;
        consume(s);
    });
    double peer_global_time = best_of([&] {
        uint64_t s = 0;
        for (uint32_t sym : probes) s += static_cast<uint32_t>(peer_global.find(sym)->second);
        consume(s);
    });
    report("global word", LOOKUPS, ours_global, peer_global_time);
    return 0;
}
