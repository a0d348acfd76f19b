// The cycle stack: the series and object contexts that recursive walks over
// values (mold, form, comparison, binding, deep copy) are inside. Before
// descending into a value a walker asks whether its node is already on the
// stack, so self-containing blocks, objects and maps end instead of
// recursing for ever.
//
// The stack holds 1000 nodes in system memory; filling the last entry
// empties the stack and raises internal error too-deep, so at most 999
// walks nest. The entries are collector roots: a mark callback marks them
// and rewrites an entry whose node moved.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::cycles {

constexpr uint32_t CAPACITY = 1000;

// Allocates the stack and registers its mark callback (after collector::init).
void init();

// Pushes a node. When that fills the last entry, the stack is emptied and
// internal error too-deep is raised.
void push(node_t node);
// Drops the top entry; an empty stack is left alone.
void pop();
// Drops n entries, never going below the bottom (an overflow may have
// emptied the stack under the walkers that are unwinding).
void pop_n(uint32_t n);
void reset();
bool find(node_t node);
uint32_t depth();

// Collector mark callback: marks every entry (a block's cells too, in case
// the walker holds it only in C++), rewriting relocated nodes.
void mark();

// Appends ASCII text to a string value (provided by the string module).
using AppendAscii = void (*)(Cell* string, const char* text);

// When the value (a series, or an object through its context) is being
// walked, appends its placeholder to out with append, lowers *part by the
// characters appended and returns true; otherwise writes nothing and
// returns false. Molded placeholders name the type ("[...]", "(...)",
// "#[...]", "make object! [...]"); formed ones are "...". May collect
// (through append).
bool detect_q(const Cell* value, Cell* out, int32_t* part, bool mold, AppendAscii append);

// A walk's entry for the life of a C++ scope: pushes the node and, however
// the scope ends, cuts the stack back to the depth it had before the push
// (never below the bottom), so that an error unwinding through a walker
// leaves no stale entry behind.
class Scope {
  public:
    explicit Scope(node_t node) : saved_(depth()) { push(node); }
    ~Scope() {
        uint32_t d = depth();
        if (d > saved_) pop_n(d - saved_);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    uint32_t saved_;
};

} // namespace mox::cycles
