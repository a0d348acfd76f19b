// event!: the value through which the GUI back end hands input and window
// events to the language (type 54, no parent).
//
// Cell layout:
//   header  54, FLAG_MADE on an event made by `make event!`
//   data1   event type number 1-38 (TYPE_WORDS below), 0 for none
//   data2   back-end event: a message reference, a 32-bit number the back
//           end hands out per message and answers for only while that
//           message is being dispatched (so a kept copy reads none, never a
//           dead record); made event: the node of its four-value block
//           (face, window, offset, picked) or 0
//   data3   key code point in bits 0-20, flag bits from bit 22 up
//
// Fields other than type and the flag tests of a back-end event are asked
// of the back end through the Accessors it installs.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::event {

constexpr uint32_t FLAG_MADE = FLAG_EVENT_BLOCK;

constexpr uint32_t KEY_MASK = 0x1FFFFF;
constexpr uint32_t AUX_DOWN = 0x00400000;
constexpr uint32_t ALT_DOWN = 0x00800000;
constexpr uint32_t MID_DOWN = 0x01000000;
constexpr uint32_t DOWN = 0x02000000;
constexpr uint32_t AWAY = 0x04000000;
constexpr uint32_t CONTROL = 0x10000000;
constexpr uint32_t SHIFT = 0x20000000;
constexpr uint32_t ALT = 0x40000000;
constexpr uint32_t COMMAND = 0x80000000;

constexpr int32_t TYPE_COUNT = 38;
constexpr int32_t FIELD_COUNT = 15;

enum Field : int32_t {
    F_TYPE = 1,
    F_FACE,
    F_WINDOW,
    F_OFFSET,
    F_KEY,
    F_PICKED,
    F_FLAGS,
    F_AWAY_Q,
    F_DOWN_Q,
    F_MID_DOWN_Q,
    F_ALT_DOWN_Q,
    F_AUX_DOWN_Q,
    F_CTRL_Q,
    F_SHIFT_Q,
    F_ORIENTATION
};

// The back end's answers for fields 2-6 and 15 of an event it made (the
// message it refers to still being dispatched, or none). Each pushes its
// result on the evaluation stack and returns it. May collect.
struct Accessors {
    Cell* (*get_field)(const Cell* event, int32_t field);
};
void install(const Accessors* accessors);

// Registers event! and interns the type, field and flag words. Runs after
// the name words exist. May collect.
void init();

// The event type number of a word (0 when it names none), and back.
int32_t type_number(uint32_t symbol);
// Pushes the type word of the event (none for type 0). May collect.
Cell* type_word(const Cell* event);
// Stores the word's type number; a word naming no event type raises
// not-event-type.
void set_type(Cell* event, const Cell* word);
// The flag bit of a flag word (0 for any other word).
uint32_t flag_mask(uint32_t symbol);
// The field number of a word (1-15), or -1.
int32_t field_index(uint32_t symbol);
// Pushes the field's value. May collect.
Cell* get_field(const Cell* event, int32_t field);
// Pushes the block of the flag words set in a flags word. May collect.
Cell* push_flags(uint32_t flags);
// Pushes a copy of the event. May collect.
Cell* push(const Cell* event);
// Writes a back-end event into a cell.
Cell* make_os_cell(Cell* cell, int32_t type, uint32_t reference, uint32_t flags);

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* pick(Cell* value, int32_t index, Cell* boxed);

// Natives: event?, find-flag? (facet flag).
void event_q_star();
void find_flag_q_star();
// Whether facet (a word, or a block of words and lit-words) holds flag.
bool find_flag(const Cell* facet, uint32_t flag_symbol);

} // namespace mox::event
