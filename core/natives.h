// The natives table: one entry point per native! id (1 .. 107, room for
// 120), filled at start-up, and the same form for the entries of the 62
// action! values.
//
// Calling convention. A native's arguments are consecutive cells on the
// evaluation stack from stack::arguments, in spec order: the mandatory
// arguments, then each used refinement's own arguments in the order the
// call named them. The result goes into stack::arguments[0] (the result
// slot). A body is written as
//
//     void if_star(bool check);
//     void switch_star(bool check, int32_t default_);
//
// taking a check flag (true: check each argument against its spec's
// typeset first, with type_check/type_check_at of core/value.h; the
// interpreter passes false because it has checked them) and, per
// refinement in spec order, the index from stack::arguments of the
// refinement's first argument cell, or -1 when the refinement is unused (a
// refinement without arguments is used when its value is not -1). Action
// bodies have the same form without the check flag. The table holds the
// uniform entry `entry<&body>`, which takes the refinement indexes as an
// array and calls the body with check false.
//
// A body that evaluates Mox code passes non-local exits on by returning:
// after each interpreter call it returns at once while stack::pending is set
// (see core/stack.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "core/cell.h"
#include "core/natives-table.h"

namespace mox::natives {

constexpr int32_t TABLE_SLOTS = 120;
constexpr int32_t NATIVE_COUNT = 107;
constexpr int32_t SCRATCH_CELLS = 32;

// The uniform entry point: refs[i] is the index of refinement i (spec
// order), or -1.
using Entry = void (*)(const int32_t* refs);

// Slot 0 is unused; an empty slot is null.
extern Entry table[TABLE_SLOTS + 1];
// The 32-cell scratch block for the natives' use (a block! cell held by the
// root block).
extern Cell* scratch;

namespace detail {
template <typename... R> constexpr size_t arity(void (*)(bool, R...)) { return sizeof...(R); }
template <typename... R> constexpr size_t arity(void (*)(R...)) { return sizeof...(R); }
template <typename... R> constexpr bool takes_check(void (*)(bool, R...)) { return true; }
template <typename... R> constexpr bool takes_check(void (*)(R...)) { return false; }
} // namespace detail

// The table entry of a body `void name_star(bool check, int32_t ref...)` or
// `void name_star(int32_t ref...)`.
template <auto Body> void entry(const int32_t* refs) {
    constexpr bool check = detail::takes_check(Body);
    constexpr size_t n = detail::arity(Body);
    [refs]<size_t... I>(std::index_sequence<I...>) {
        if constexpr (check)
            Body(false, refs[I]...);
        else
            Body(refs[I]...);
        (void)refs;
    }
    (std::make_index_sequence<n>{});
}

// The X of a list in core/natives-table.h that fills each native's slot;
// expanded in the list's home file, where the bodies can be named.
#define MOX_NATIVE_REGISTER(id, name, body)                                                        \
    ::mox::natives::register_(id, ::mox::natives::entry<&body>);

// An entry of a list in core/natives-table.h without its body.
struct Named {
    int32_t id;
    std::string_view name;
};
#define MOX_NAMED(id, name, body) ::mox::natives::Named{id, name},
// Every native of the table by name.
inline constexpr Named named[] = {MOX_NATIVES(MOX_NAMED) MOX_NATIVES_SIMPLE_IO(MOX_NAMED)};

// Whether every id of a list lies in 1 .. slots, and no id or name is given
// twice.
constexpr bool sound(std::span<const Named> list, int32_t slots) {
    for (const Named& a : list) {
        if (a.id < 1 || a.id > slots) return false;
        for (const Named& b : list)
            if (&a != &b && (a.id == b.id || a.name == b.name)) return false;
    }
    return true;
}

// The id the table gives a native's name; a name it lacks does not compile.
consteval int32_t id_of(std::string_view name) {
    for (const Named& n : named)
        if (n.name == name) return n.id;
    throw "no native of that name in core/natives-table.h";
}

// Makes the table (every slot empty) and the scratch block. May collect.
void init();
// Fills the native's slot; filling a slot twice, or an id outside 1 .. 120,
// is a runtime fault (a wrong registration list).
void register_(int32_t id, Entry entry);
// The entry of a native id, or null for an empty or invalid slot.
Entry lookup(int32_t id);

} // namespace mox::natives
