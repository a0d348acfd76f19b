// The choice of the View back end and what both back ends share (see
// backend.h).
#include "view/backend.h"

#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/error.h"
#include "datatypes/handle.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "view/gui.h"
#ifdef _WIN32
#include "view/windows/backend.h"
#endif

namespace mox::gui {

namespace {

const Backend& choose() {
#ifdef _WIN32
    if (win::wanted()) return win::backend;
#endif
    return null_backend;
}

// Both back ends answer make-null-handle alike.
void make_null_handle_star() { handle::box(0, handle::CLASS_NULL); }

// init runs whenever the language side starts the GUI: the accessors go in
// with it, so that no event is read through a back end not yet started.
void init_star() {
    event::install(&backend().accessors);
    backend().init_star();
}

} // namespace

const Backend& backend() {
    static const Backend& chosen = choose();
    return chosen;
}

void start_backend() {
    if (backend().start) backend().start();
}

void settle_backend() {
    if (backend().settle) backend().settle();
}

void register_routines() {
    const Backend& b = backend();
    struct Entry {
        const char* name;
        routines::Body body;
    };
    const Entry entries[] = {
        {"view-gui-init", &init_star},
        {"view-make-null-handle", &make_null_handle_star},
        {"view-fetch-all-screens", b.fetch_all_screens_star},
        {"view-get-current-screen", b.get_current_screen_star},
        {"view-get-screen-size", b.get_screen_size_star},
        {"view-size-text", b.size_text_star},
        {"view-on-change-facet", b.on_change_facet_star},
        {"view-update-text", b.update_text_star},
        {"view-update-font", b.update_font_star},
        {"view-update-para", b.update_para_star},
        {"view-destroy-view", b.destroy_view_star},
        {"view-detach-image", b.detach_image_star},
        {"view-update-view", b.update_view_star},
        {"view-refresh-window", b.refresh_window_star},
        {"view-redraw", b.redraw_star},
        {"view-show-window", b.show_window_star},
        {"view-make-view", b.make_view_star},
        {"view-draw-image", b.draw_image_star},
        {"view-draw-face", b.draw_face_star},
        {"view-do-event-loop", b.do_event_loop_star},
        {"view-exit-event-loop", b.exit_event_loop_star},
        {"view-request-font", b.request_font_star},
        {"view-request-file", b.request_file_star},
        {"view-request-dir", b.request_dir_star},
        {"view-text-box-metrics", b.text_box_metrics_star},
        {"view-update-scroller", b.update_scroller_star},
        {"view-set-dark-mode", b.set_dark_mode_star},
        {"view-support-dark-mode?", b.support_dark_mode_q_star},
        {"view-toggle-GPU", b.toggle_GPU_star},
        {"view-send-event-os", b.send_event_os_star},
        {"view-event?", &event::event_q_star},
        {"view-find-flag?", &event::find_flag_q_star},
        // The null back end's test controls stay callable under any back
        // end (they act on the null back end only).
        {"view-null-gui-log", &null_gui_log_star},
        {"view-null-gui-screens", &null_gui_screens_star},
        {"view-null-gui-fail", &null_gui_fail_star},
        {"view-null-gui-version", &null_gui_version_star},
    };
    for (const Entry& e : entries) routines::register_(e.name, e.body);
    if (b.registered) b.registered();
}

Cell* system_view() {
    Cell* system = word::get_value(word::load("system"));
    if (type_of(system) != TYPE_OBJECT) return nullptr;
    static const uint32_t view_word = symbol::make("view");
    Cell* view = object::find_value(system->data1, view_word);
    return type_of(view) == TYPE_OBJECT ? view : nullptr;
}

void put_word(Cell* map, uint32_t key, const Cell* value) {
    Cell* base = stack::top;
    Cell* m = stack::push(map);
    Cell* k = word::push_symbol(key);
    Cell* v = stack::push(value);
    map::put(m, k, v, false);
    stack::top = base;
}

void call_awake(const Cell* event, Cell* out) {
    make_none(out);
    Cell* view = system_view();
    if (!view) return;
    static const uint32_t awake_word = symbol::make("awake");
    Cell awake = *object::find_value(view->data1, awake_word);
    if (type_of(&awake) != TYPE_FUNCTION) return;
    Cell* base = stack::top;
    Cell* fn = stack::push(&awake);
    Cell* ev = event::push(event);
    Cell* result = make_none(stack::push_cell());
    uint32_t exit = stack::protect(
        stack::Guard::all, [&] { interpreter::call_value(fn, ev, 1, result); },
        [&](uint32_t code) {
            if (code == stack::EXIT_ERROR) error::write_report(stack::top - 1);
        });
    if (exit) make_none(result);
    *out = *result;
    stack::top = base;
}

} // namespace mox::gui
