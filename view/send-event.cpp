// The native body of send-event (its Mox body in view/view.mox says the
// same): a block becomes an event; window events pass always; a click goes
// as a down then, when that was sent, an up; anything else is refused when
// the face or one of its parents is disabled.
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/event.h"
#include "datatypes/object.h"
#include "view/gui.h"

namespace mox::gui {

namespace {

constexpr uint32_t DOWN = 1, UP = 2, CLICK = 9, MINIMIZE = 36, RESTORE = 38;

uint32_t enabled_symbol = 0;
uint32_t parent_symbol = 0;

// Whether the face and every parent up its chain are enabled.
bool enabled_chain(const Cell* event) {
    Cell* base = stack::top;
    Cell* face = event::get_field(event, event::F_FACE);
    bool enabled = true;
    for (int depth = 0; depth < 256 && type_of(face) == TYPE_OBJECT; depth++) {
        const Cell* flag = object::find_value(face->data1, enabled_symbol);
        if (type_of(flag) == TYPE_LOGIC && !flag->data1) {
            enabled = false;
            break;
        }
        *face = *object::find_value(face->data1, parent_symbol);
    }
    stack::top = base;
    return enabled;
}

bool send(Cell* event, bool no_wait) {
    uint32_t type = event->data1;
    if (type >= MINIMIZE && type <= RESTORE) return send_os(event, no_wait);
    if (type == CLICK) {
        event->data1 = DOWN;
        bool sent = send(event, no_wait);
        if (sent) {
            event->data1 = UP;
            sent = send_os(event, no_wait);
        }
        event->data1 = CLICK;
        return sent;
    }
    if (!enabled_chain(event)) return false;
    return send_os(event, no_wait);
}

} // namespace

// Slots: evt, the /no-wait flag, the locals.
void send_event_body() {
    if (!enabled_symbol) {
        enabled_symbol = symbol::make("enabled?");
        parent_symbol = symbol::make("parent");
    }
    Cell* a = stack::arguments;
    bool no_wait = type_of(a + 1) == TYPE_LOGIC && a[1].data1;
    if (type_of(a) == TYPE_BLOCK) {
        Cell* made = stack::push_cell();
        event::make(made, a, TYPE_EVENT);
        *a = *made;
    }
    Cell* event = stack::push(a);
    bool sent = send(event, no_wait);
    make_logic(a, sent);
}

} // namespace mox::gui
