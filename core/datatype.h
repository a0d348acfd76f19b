// The datatype registry: every datatype registers its type ID, its parent,
// its name and its 62 action slots at start-up. The action table is flat,
// 256 slots per type ID, so dispatch is one indexed load.
//
// Each action has one C++ signature (ActionSig below), shared by the
// dispatcher and every implementation; ActionSlots::set checks an
// implementation against it at compile time.
//
// Conventions of the signatures: cells are the value cells of the running
// call (on the evaluation stack); an optional refinement argument that was
// not given is passed as nullptr; a refinement without argument is a bool.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox {

enum Action : uint32_t {
    A_MAKE = 1,
    A_RANDOM,
    A_REFLECT,
    A_TO,
    A_FORM,
    A_MOLD,
    A_EVAL_PATH,
    A_NONE8,
    A_COMPARE,
    A_ABSOLUTE,
    A_ADD,
    A_DIVIDE,
    A_MULTIPLY,
    A_NEGATE,
    A_POWER,
    A_REMAINDER,
    A_ROUND,
    A_SUBTRACT,
    A_EVEN_Q,
    A_ODD_Q,
    A_AND_T,
    A_COMPLEMENT,
    A_OR_T,
    A_XOR_T,
    A_APPEND,
    A_AT,
    A_BACK,
    A_CHANGE,
    A_CLEAR,
    A_COPY,
    A_FIND,
    A_HEAD,
    A_HEAD_Q,
    A_INDEX_Q,
    A_INSERT,
    A_LENGTH_Q,
    A_MOVE,
    A_NEXT,
    A_PICK,
    A_POKE,
    A_PUT,
    A_REMOVE,
    A_REVERSE,
    A_SELECT,
    A_SORT,
    A_SKIP,
    A_SWAP,
    A_TAIL,
    A_TAIL_Q,
    A_TAKE,
    A_TRIM,
    A_CREATE,
    A_CLOSE,
    A_DELETE,
    A_MODIFY,
    A_OPEN,
    A_OPEN_Q,
    A_QUERY,
    A_READ,
    A_RENAME,
    A_UPDATE,
    A_WRITE,
    // A slot past the actions the language names, which no word reaches: a
    // type that takes a chain of integer operations on itself in one go
    // (`v * 3 + 1 - 2`), each changing it in place as the separate action
    // calls would, fills it (a vector! then crosses a large vector once).
    A_MATH_CHAIN = 256,
};
constexpr uint32_t ACTION_COUNT = 62;
constexpr uint32_t ACTION_STRIDE = 256;
static_assert(A_MATH_CHAIN <= ACTION_STRIDE);

// Comparison operator codes passed to every compare implementation.
enum CompareOp : int32_t {
    COMP_EQUAL = 0,
    COMP_NOT_EQUAL = 1,
    COMP_STRICT_EQUAL = 2,
    COMP_LESSER = 3,
    COMP_LESSER_EQUAL = 4,
    COMP_GREATER = 5,
    COMP_GREATER_EQUAL = 6,
    COMP_SORT = 7,
    COMP_CASE_SORT = 8,
    COMP_SAME = 9,
    COMP_STRICT_EQUAL_WORD = 10,
    COMP_EQUAL_WORD = 11,
    COMP_FIND = 12,
};
constexpr int32_t COMPARE_NOT_COMPARABLE = -2;

// Arithmetic operation codes of every numeric datatype's arithmetic core.
enum MathOp : int32_t {
    OP_ADD = 0,
    OP_SUB = 1,
    OP_MUL = 2,
    OP_DIV = 3,
    OP_REM = 4,
    OP_OR = 5,
    OP_AND = 6,
    OP_XOR = 7,
};

using ActionFn = void (*)();

template <Action A> struct ActionSig;
#define MOX_ACTION_SIG(id, ...)                                                                    \
    template <> struct ActionSig<id> { using type = __VA_ARGS__; }
// In-place actions read their operands from the arguments cells and leave
// the result in the first one, which they return.
using InPlaceFn = Cell* (*)();
MOX_ACTION_SIG(A_MAKE, Cell* (*)(Cell* proto, Cell* spec, int32_t type));
MOX_ACTION_SIG(A_RANDOM, Cell* (*)(Cell* value, bool seed, bool secure, bool only));
MOX_ACTION_SIG(A_REFLECT, Cell* (*)(Cell* value, int32_t field_symbol));
MOX_ACTION_SIG(A_TO, Cell* (*)(Cell* proto, Cell* spec, int32_t type));
// form and mold append to the buffer (a string! cell) and return the part
// limit minus the characters appended.
MOX_ACTION_SIG(A_FORM, int32_t (*)(Cell* value, Cell* buffer, Cell* part, int32_t limit));
MOX_ACTION_SIG(A_MOLD, int32_t (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat,
                                   Cell* part, int32_t limit, int32_t indent));
MOX_ACTION_SIG(A_EVAL_PATH, Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path,
                                      Cell* gparent, Cell* previous, int32_t position, bool case_,
                                      bool get, bool tail, bool notify));
MOX_ACTION_SIG(A_COMPARE, int32_t (*)(Cell* value1, Cell* value2, int32_t op));
MOX_ACTION_SIG(A_ABSOLUTE, InPlaceFn);
MOX_ACTION_SIG(A_ADD, InPlaceFn);
MOX_ACTION_SIG(A_DIVIDE, InPlaceFn);
MOX_ACTION_SIG(A_MULTIPLY, InPlaceFn);
MOX_ACTION_SIG(A_NEGATE, Cell* (*)(Cell* number));
MOX_ACTION_SIG(A_POWER, InPlaceFn);
MOX_ACTION_SIG(A_REMAINDER, InPlaceFn);
MOX_ACTION_SIG(A_ROUND, Cell* (*)(Cell* n, Cell* scale, bool even, bool down, bool half_down,
                                  bool floor, bool ceiling, bool half_ceiling));
MOX_ACTION_SIG(A_SUBTRACT, InPlaceFn);
MOX_ACTION_SIG(A_EVEN_Q, bool (*)(Cell* number));
MOX_ACTION_SIG(A_ODD_Q, bool (*)(Cell* number));
MOX_ACTION_SIG(A_AND_T, InPlaceFn);
MOX_ACTION_SIG(A_COMPLEMENT, Cell* (*)(Cell* value));
MOX_ACTION_SIG(A_OR_T, InPlaceFn);
MOX_ACTION_SIG(A_XOR_T, InPlaceFn);
// insert and append share one implementation; append? inserts at the tail.
// part is the count of the value's units to insert, -1 without /part.
using InsertFn = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                           bool append);
MOX_ACTION_SIG(A_APPEND, InsertFn);
MOX_ACTION_SIG(A_AT, InPlaceFn);
MOX_ACTION_SIG(A_BACK, InPlaceFn);
MOX_ACTION_SIG(A_CHANGE,
               Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup));
MOX_ACTION_SIG(A_CLEAR, Cell* (*)(Cell* series));
MOX_ACTION_SIG(A_COPY, Cell* (*)(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types));
MOX_ACTION_SIG(A_FIND, Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_,
                                 bool same, bool any, Cell* with, Cell* skip, bool last,
                                 bool reverse, bool tail, bool match));
MOX_ACTION_SIG(A_HEAD, InPlaceFn);
MOX_ACTION_SIG(A_HEAD_Q, InPlaceFn);
MOX_ACTION_SIG(A_INDEX_Q, InPlaceFn);
MOX_ACTION_SIG(A_INSERT, InsertFn);
// -1 means the value has no length (the entry answers none).
MOX_ACTION_SIG(A_LENGTH_Q, int32_t (*)(Cell* series));
MOX_ACTION_SIG(A_MOVE, Cell* (*)(Cell* origin, Cell* target, Cell* part));
MOX_ACTION_SIG(A_NEXT, InPlaceFn);
MOX_ACTION_SIG(A_PICK, Cell* (*)(Cell* series, int32_t index, Cell* boxed));
MOX_ACTION_SIG(A_POKE, Cell* (*)(Cell* series, int32_t index, Cell* data, Cell* boxed));
MOX_ACTION_SIG(A_PUT, Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_));
MOX_ACTION_SIG(A_REMOVE, Cell* (*)(Cell* series, Cell* part, Cell* key));
MOX_ACTION_SIG(A_REVERSE, Cell* (*)(Cell* series, Cell* part, Cell* skip));
MOX_ACTION_SIG(A_SELECT,
               Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same,
                         bool any, Cell* with, Cell* skip, bool last, bool reverse));
MOX_ACTION_SIG(A_SORT, Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part,
                                 bool all, bool reverse, bool stable));
MOX_ACTION_SIG(A_SKIP, InPlaceFn);
MOX_ACTION_SIG(A_SWAP, Cell* (*)(Cell* series1, Cell* series2));
MOX_ACTION_SIG(A_TAIL, InPlaceFn);
MOX_ACTION_SIG(A_TAIL_Q, InPlaceFn);
MOX_ACTION_SIG(A_TAKE, Cell* (*)(Cell* series, Cell* part, bool deep, bool last));
MOX_ACTION_SIG(A_TRIM, Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines,
                                 bool all, Cell* with));
MOX_ACTION_SIG(A_CREATE, Cell* (*)(Cell* port));
MOX_ACTION_SIG(A_CLOSE, Cell* (*)(Cell* port));
MOX_ACTION_SIG(A_DELETE, Cell* (*)(Cell* file));
MOX_ACTION_SIG(A_MODIFY, Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_));
MOX_ACTION_SIG(A_OPEN,
               Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow));
MOX_ACTION_SIG(A_OPEN_Q, Cell* (*)(Cell* port));
MOX_ACTION_SIG(A_QUERY, Cell* (*)(Cell* target));
MOX_ACTION_SIG(A_READ, Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines,
                                 bool info, Cell* as));
MOX_ACTION_SIG(A_RENAME, Cell* (*)(Cell* from, Cell* to));
MOX_ACTION_SIG(A_UPDATE, Cell* (*)(Cell* port));
MOX_ACTION_SIG(A_WRITE, Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info,
                                  bool append, Cell* part, Cell* seek, Cell* allow, Cell* as));
// ops: OP_ADD, OP_SUB or OP_MUL, each with its scalar; returns the value.
MOX_ACTION_SIG(A_MATH_CHAIN,
               Cell* (*)(Cell* value, const int32_t* ops, const int32_t* scalars, int32_t count));
#undef MOX_ACTION_SIG

namespace datatype {

// Slot value meaning "take the parent's implementation" at registration.
void inherit_marker();
inline const ActionFn INHERIT = &inherit_marker;

// The 62 slots of one registration, filled by name and checked by type.
struct ActionSlots {
    ActionFn slot[ACTION_COUNT];

    // Every slot unsupported (0), or every slot inherited.
    static ActionSlots none();
    static ActionSlots inherit_all();

    template <Action A> ActionSlots& set(typename ActionSig<A>::type fn) {
        slot[A - 1] = reinterpret_cast<ActionFn>(fn);
        return *this;
    }
    template <Action A> ActionSlots& inherit() {
        slot[A - 1] = INHERIT;
        return *this;
    }
};

struct NameEntry {
    const char* name; // NUL-terminated, "integer!"
    uint32_t length;  // without the final "!"
    Cell word;        // the name's global word, unset until made
};

extern ActionFn* action_table; // TYPE_TOTAL x 256 slots
extern NameEntry* name_table;  // TYPE_TOTAL entries
extern uint32_t top_id;        // highest registered type ID
extern bool words_made;        // the name words exist (make_words has run)

// Allocates the two tables (runtime initialisation).
void init_tables();

// Registers a datatype. A wrong slot count prints the datatype error and
// ends the process with a non-zero status.
void register_type(uint32_t id, uint32_t parent, const char* name, const ActionFn* slots,
                   int32_t count);
inline void register_type(uint32_t id, uint32_t parent, const char* name,
                          const ActionSlots& slots) {
    register_type(id, parent, name, slots.slot, ACTION_COUNT);
}

// Sets one action of a registered datatype from a layer above the datatypes:
// the file and url I/O actions are io's. Nothing may be registered as the
// type's child afterwards (a child copies its parent's slots when it is
// registered).
template <Action A> inline void provide(uint32_t type, typename ActionSig<A>::type fn) {
    action_table[type * ACTION_STRIDE + A - 1] = reinterpret_cast<ActionFn>(fn);
}

inline ActionFn slot_of(uint32_t type, uint32_t action) {
    return action_table[type * ACTION_STRIDE + action - 1];
}
template <Action A> inline typename ActionSig<A>::type get(uint32_t type) {
    return reinterpret_cast<typename ActionSig<A>::type>(slot_of(type, A));
}

// The name words of the registered types (make_words, once, at start-up)
// and datatype! values. The datatype! datatype is in datatypes/datatype.h.
void make_words();
Cell* make_in(node_t block, uint32_t type);
Cell* push(uint32_t type);

} // namespace datatype
} // namespace mox
