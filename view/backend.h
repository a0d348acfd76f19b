// The View back end as the runtime sees it: one table of the bodies of the
// platform routines of system/view/platform, which each back end fills and
// which start-up chooses once. The Windows build chooses its Windows back
// end unless the environment asks for the null one (MOX_NULL_GUI=1, so that
// the View tables run under Wine as they do natively); every other build
// has the null back end (view/null-backend.cpp) only.
//
// Every body takes its arguments from stack::arguments in spec order and
// leaves its result in stack::arguments[0]; all may collect.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "datatypes/event.h"
#include "evaluator/routines.h"

namespace mox::gui {

struct Backend {
    // Start-up: version, build and product into the platform object (the
    // cell of system/view/platform is passed), the metrics and default fonts.
    routines::Body init_star;

    // The platform routines but make-null-handle, in member order.
    routines::Body fetch_all_screens_star;
    routines::Body get_current_screen_star;
    routines::Body get_screen_size_star;
    routines::Body size_text_star;
    routines::Body on_change_facet_star;
    routines::Body update_text_star;
    routines::Body update_font_star;
    routines::Body update_para_star;
    routines::Body destroy_view_star;
    routines::Body detach_image_star;
    routines::Body update_view_star;
    routines::Body refresh_window_star;
    routines::Body redraw_star;
    routines::Body show_window_star;
    routines::Body make_view_star;
    routines::Body draw_image_star;
    routines::Body draw_face_star;
    routines::Body do_event_loop_star;
    routines::Body exit_event_loop_star;
    routines::Body request_font_star;
    routines::Body request_file_star;
    routines::Body request_dir_star;
    routines::Body text_box_metrics_star;
    routines::Body update_scroller_star;
    routines::Body set_dark_mode_star;
    routines::Body support_dark_mode_q_star;
    routines::Body toggle_GPU_star;

    // send-event-os: event [event!] queued? [logic!].
    routines::Body send_event_os_star;

    // The fields of the events the back end makes (installed as init runs).
    event::Accessors accessors;

    // Binds what else the back end provides, once its routines are
    // registered (before the boot source loads).
    void (*registered)();
    // Called first thing at start-up, before the library loads (work that
    // can begin early on a thread of its own), and as the process ends (to
    // let that thread finish); null when there is none.
    void (*start)();
    void (*settle)();
    // Whether the back end shows real windows.
    bool windows;
};

// The null back end's table (view/null-backend.cpp).
extern const Backend null_backend;

// The back end in use: chosen at the first call, the same ever after.
const Backend& backend();

// The back end's work begun early and let finish (its start and settle).
void start_backend();
void settle_backend();

// Registers the routines of the back end in use under their names
// ("view-" and the routine's name), with make-null-handle, event?,
// find-flag? and the null back end's test controls. Call before the boot
// source loads.
void register_routines();

// Runs system/view/awake on the event (a copy of it goes to awake) under a
// try-all frame: an error is reported and goes no further, and the result
// is none. The result of awake goes to out. May collect.
void call_awake(const Cell* event, Cell* out);

// system/view when it is an object, else null.
Cell* system_view();

// Puts the value into a map under a word key, replacing a value already
// there. May collect.
void put_word(Cell* map, uint32_t key, const Cell* value);

} // namespace mox::gui
