// The null GUI back end (view/null-backend.cpp) and the native bodies of
// the View library. The null back end makes no windows: it hands out fresh
// handles, clears change bits as update-view applies them, measures text on
// a grid of 8x16 units a character, keeps one 1280x1024 display at scale 1
// unless told otherwise, queues or dispatches events through
// system/view/awake like a real message loop, and logs every routine call
// so that tests can read what the language side asked of it. Its routine
// bodies are reached through its table (view/backend.h).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::gui {

// The native body of view-face-set, the change handler of every face: the
// common sets done natively, the others by its Mox body (view/face-change.cpp).
void face_set_body();
// The native body of on-face-deep-change*: the changes of faces not shown.
void face_deep_change_body();
// Binds those two and the VID processors' native bodies (view/vid-bodies.cpp).
// Called before the boot source loads.
void register_vid_bodies();

// The null back end's side of send-event-os: delivers the event (a stack cell) to its face
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

} // namespace mox::gui
