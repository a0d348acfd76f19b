// The GUI back end as the language side reaches it: the bodies of the
// platform routines of system/view/platform, the event injection behind
// send-event-os and the start-up gui/init.
//
// This build's back end is the null back end (view/null-backend.cpp): it
// makes no windows. It hands out fresh handles, clears change bits as
// update-view applies them, measures text on a grid of 8x16 units a
// character, keeps one 1280x1024 display at scale 1 unless told otherwise,
// queues or dispatches events through system/view/awake like a real message
// loop, and logs every routine call so that tests can read what the
// language side asked of it.
//
// Every body takes its arguments from stack::arguments in spec order and
// leaves its result in stack::arguments[0]; all may collect.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::gui {

// Start-up: version, build and product into the platform object (the cell
// of system/view/platform is passed), the metrics and default fonts.
void init_star();

// The 28 platform routines, in member order.
void make_null_handle_star();
void fetch_all_screens_star();
void get_current_screen_star();
void get_screen_size_star();
void size_text_star();
void on_change_facet_star();
void update_text_star();
void update_font_star();
void update_para_star();
void destroy_view_star();
void detach_image_star();
void update_view_star();
void refresh_window_star();
void redraw_star();
void show_window_star();
void make_view_star();
void draw_image_star();
void draw_face_star();
void do_event_loop_star();
void exit_event_loop_star();
void request_font_star();
void request_file_star();
void request_dir_star();
void text_box_metrics_star();
void update_scroller_star();
void set_dark_mode_star();
void support_dark_mode_q_star();
void toggle_GPU_star();

// The native body of view-face-set, the change handler of every face: the
// common sets done natively, the others by its Mox body (view/face-change.cpp).
void face_set_body();
// The native body of on-face-deep-change*: the changes of faces not shown.
void face_deep_change_body();
// Binds those two and the VID processors' native bodies (view/vid-bodies.cpp).
// Called before the boot source loads.
void register_vid_bodies();

// send-event-os: event [event!] queued? [logic!].
void send_event_os_star();
// The back end's side of it: delivers the event (a stack cell) to its face
// at once, or queues it; false when it names no face.
bool send_os(Cell* event, bool queued);

// The native body of send-event (view/send-event.cpp).
void send_event_body();

// Test controls of the null back end, the members of the null-gui object
// (not platform members): log, the calls logged since the last read (the
// log is emptied); screens, the displays from a block of [offset size scale]
// blocks and which one holds the pointer (1-based); fail, makes the next n
// make-view calls answer a null handle; version, the version tuple the next
// init reports.
void null_gui_log_star();
void null_gui_screens_star();
void null_gui_fail_star();
void null_gui_version_star();

// Appends an entry block to the null back end's log. May collect.
void append_log(Cell* entry);

// The null back end's draw-image and draw-face: the draw dialect over a
// renderer that logs each of its calls (view/draw-record.cpp). A face is
// named in the log by the word given. May collect.
void record_draw_image(Cell* image, Cell* commands);
void record_draw_face(uint32_t name, Cell* commands);

// Dispatches the event value (a made event) through system/view/awake as
// the message loop would, filling the global event cell; the result of
// awake goes to out.
void dispatch(const Cell* event, Cell* out);

// Registers the routine bodies above, event? and find-flag? (names
// prefixed "view-").
void register_routines();

}  // namespace mox::gui
