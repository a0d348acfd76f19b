// State and helpers shared by the files of the Windows view back end.
//
// Every window of one of our classes carries one pointer-sized slot at the
// end of its extra bytes, after whatever its base class keeps there; the
// slot points to a WindowRecord that this back end owns and frees on
// WM_NCDESTROY. Windows of other classes are never read through it: the
// class atom tells ours apart.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/cell.h"
#include "core/root.h"
#include "core/stack.h"
#include "datatypes/error.h"

namespace mox::gui::win {

struct RenderTarget;

// The face types the back end tells apart (the type facet's word).
enum FaceType : int32_t {
    FT_OTHER = 0,
    FT_WINDOW,
    FT_PANEL,
    FT_BASE,
    FT_RICH_TEXT,
    FT_BUTTON,
    FT_TOGGLE,
    FT_CHECK,
    FT_RADIO,
    FT_FIELD,
    FT_AREA,
    FT_TEXT,
    FT_TEXT_LIST,
    FT_DROP_DOWN,
    FT_DROP_LIST,
    FT_PROGRESS,
    FT_SLIDER,
    FT_SCROLLER,
    FT_GROUP_BOX,
    FT_TAB_PANEL,
    FT_CAMERA,
    FT_CALENDAR,
    FT_SCREEN,
    FT_COUNT
};

// Face flag bits (the flags facet as a mask).
constexpr uint32_t FF_ALL_OVER = 0x00000001, FF_FOCUSABLE = 0x00000002, FF_TRI_STATE = 0x00020000,
                   FF_SCROLLABLE = 0x00040000, FF_PASSWORD = 0x00080000, FF_NO_SYNC = 0x00100000,
                   FF_FULLSCREEN = 0x00200000, FF_POPUP = 0x01000000, FF_MODAL = 0x02000000,
                   FF_RESIZE = 0x04000000, FF_NO_BUTTONS = 0x08000000, FF_NO_MAX = 0x10000000,
                   FF_NO_MIN = 0x20000000, FF_NO_TITLE = 0x40000000, FF_NO_BORDER = 0x80000000;

// Back-end window flags.
constexpr uint32_t WF_SIZE_PAIR = 0x10;
// A caret face; the window that holds the system caret of one.
constexpr uint32_t WF_CARET = 0x02, WF_HAS_CARET = 0x08;

// Event types raised by the widget and menu code.
constexpr int32_t EV_SELECT = 25, EV_CHANGE = 26, EV_MENU = 27;
// The picked id of a menu item without an id word.
constexpr uint32_t NO_MENU_ID = 0xFFFFFFFF;

// The private message asking a window to minimize, maximize or restore.
constexpr UINT WM_MOX_STATE = WM_USER + 2;

// Per-window data of a back-end window.
struct WindowRecord {
    int32_t face = 0;                      // value-pool slot of a copy of the face; 0 none
    FaceType type = FT_OTHER;              // the face's type when it was made
    uint32_t flags = 0;                    // back-end window flags (WF_*)
    uint32_t face_flags = 0;               // the face's flags mask
    HFONT font = nullptr;                  // a window face's own default font
    HCURSOR cursor = nullptr;              // for WM_SETCURSOR; null: the class cursor
    int32_t sizing = 0;                    // the last interactive sizing event (31 or 32)
    bool close_passes = false;             // WM_CLOSE goes by without a close event
    HWND inner = nullptr;                  // a group box's frame window
    int32_t list_longest = 0;              // a list box's longest item, in characters
    HWND caret_parent = nullptr;           // a caret face: the window holding its caret
    HICON cursor_icon = nullptr;           // a cursor made from an image, destroyed with it
    RenderTarget* render_target = nullptr; // Direct2D drawing of the window (dx.h)
    // Base faces and layered windows (base-faces.cpp, layered.cpp).
    HWND owner = nullptr;                  // the parent window a layered pop-up follows
    HWND companion = nullptr;              // the pop-up hosting a layered face's children
    bool popup = false;                    // a layered face made as an owned pop-up
    bool clipped = false;                  // a clip region is set
    bool unpainted = false;                // a hidden pop-up not yet given its bitmap
    bool over_client = false;              // the mouse is over the client area
    int32_t captures = 0;                  // left-button presses not yet released
    struct CameraRecord* camera = nullptr; // a camera face's capture graph
};

// Words the back end compares with or writes.
struct Symbols {
    uint32_t system, view, awake, type, offset, size, text, image, color, menu, data, enabled_q,
        visible_q, selected, flags, options, parent, pane, state, rate, para, font, actors, extra,
        draw, metrics, dpi, misc, colors, fonts, scroller, window, panel, version, build, product,
        stop, name, style, angle, anti_alias_q, bold, italic, underline, strike, ClearType, align,
        v_align, wrap_q, left, center, right, top, middle, bottom, hint, cursor, I_beam, hand,
        cross, resize_ns, resize_ew, resize_we, wheel, track, up, down, page_up, page_down, end,
        page_left, page_right, vertical, horizontal;
    uint32_t types[FT_COUNT];
    uint32_t flag_words[15];
};
extern Symbols sym;

// Module state of the back end (GUI thread only).
struct State {
    bool ready = false;
    DWORD pid = 0;
    HINSTANCE instance = nullptr;
    HDC screen_dc = nullptr;
    DWORD major = 0, minor = 0, build = 0;
    BYTE product = 1;
    bool win10 = false, win8 = false, xp = false, win11 = false, composition = false;
    int32_t dpi_x = 96, dpi_y = 96;
    float dpi = 96.0f, scale = 1.0f;
    int32_t dpi_scopes = 0;
    HFONT default_font = nullptr;
    std::u16string default_font_name;
    HWND main_window = nullptr;
};
extern State g;

// Runs f under a try-all frame of its own: an error raised inside is
// reported on standard output and goes no further, so no C++ exception
// leaves a window procedure or another callback of the system. The stack
// and the frames are as before afterwards. False when f raised.
template <typename F> bool guarded(F&& f) {
    Cell* base = stack::top;
    return !stack::protect(stack::Guard::all, f, [&](uint32_t code) {
        if (code == stack::EXIT_ERROR && stack::top > base) error::write_report(stack::top - 1);
    });
}

// --- faces and windows (faces.cpp) ----------------------------------------

// Interns the words of Symbols (once).
void init_symbols();
// The record of one of our windows, or null for any other window.
WindowRecord* record_of(HWND hwnd);
// The face object of a back-end window (a value-pool cell), or null.
Cell* face_of(HWND hwnd);
// A facet of a face (a shared none when absent: read only).
Cell* facet(const Cell* face, uint32_t symbol);
// Writes a facet without running the face's change handler.
void set_facet(const Cell* face, uint32_t symbol, const Cell* value);
FaceType face_type(const Cell* face);
// The window of a face whose state block starts with a window handle, or null.
HWND face_handle(const Cell* face);
bool same_word(uint32_t a, uint32_t b);
// The flags facet as a mask; another word raises invalid-arg.
uint32_t get_flags(const Cell* flags);
// Registers the window classes.
void register_classes();
// Unregisters them, all but the scroller's; a class whose windows still
// exist stays registered.
void unregister_classes(HINSTANCE instance);
// The back end's teardown (classes, device, factories); the process ends
// without calling it.
void cleanup();
// Whether a test run asks this system call to fail for this class or
// library (MOX_TEST_FAIL_CALL="CALL:NAME").
bool failing_call(const char* call, const wchar_t* name);
// Registers the "font" kind of the external-resource registry.
void register_font_kind();
// Keeps the record of one of our windows: made on WM_NCCREATE (before the
// base procedure runs), freed after WM_NCDESTROY. False when it could not
// be made.
bool keep_record(HWND hwnd, UINT msg, LPARAM lparam, bool after);
// The procedure of a superclassed control's base class.
WNDPROC base_proc_of(int32_t cls);
// The font a native widget gets for a face (its font object's, or the
// default GUI font). May collect.
HFONT font_for(const Cell* face);
// The valid state block of a font object [owner | scaled-font text-format
// font-at-96], made with its scaled GDI font when missing; null only when
// the block could not be made. May collect.
Cell* font_state(const Cell* font);
// The para flags of a face type for a para object (0 for anything else):
// text-drawing flags for base and rich-text faces, style bits for widgets.
uint32_t get_para_flags(FaceType type, const Cell* para);

// A field's or area's selection from its selected facet: a pair in either
// order, anything else selects nothing at the start. May collect.
void set_selection(HWND hwnd, const Cell* face);
// The control's selection back into the selected facet (none when empty).
// May collect.
void get_selected(HWND hwnd, const Cell* face);
// An area's scroll bars as its text needs them: the face's text, or the
// given UTF-16 text when not null. May collect.
void update_text_scrollbars(HWND hwnd, const Cell* face, const std::u16string* text);
// Whether an input method composes text in a base face (its keys are not
// special keys then).
bool ime_composing_q();
// Room in an edit control for n more characters beside its text, with
// plenty to spare so that typing does not reach the limit soon.
void extend_text_limit(HWND hwnd, size_t n);

// A 32-bit top-down DIB section of w x h pixels for dc, its pixels in
// *bits; null (and *bits null) when it cannot be made.
HBITMAP make_dib_section(HDC dc, int32_t w, int32_t h, void** bits);

// Logical units to device pixels and back.
inline int32_t dpi_scale(float v) { return static_cast<int32_t>(v * g.scale + 0.5f); }
inline float dpi_unscale(float v) { return v / g.scale; }
// The x and y of a pair! or point2D! as floats (0 for anything else).
float coord(const Cell* point, bool y);

// --- start-up (startup.cpp) -----------------------------------------------

void set_dpi(int32_t dpi);
int32_t push_dpi(HWND hwnd);
void pop_dpi(int32_t saved);
void set_default_font(HWND hwnd);
void get_metrics();

// --- events (events.cpp) --------------------------------------------------

// Raises an event of a window: type, flags word and the message it stands
// for. Returns 0 when the language side answered stop, else 1. May collect.
int32_t make_event(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, uint32_t flags, int32_t type);
// The notifications of native controls (WM_COMMAND) as events. May
// collect.
void process_command(HWND hwnd, WPARAM wparam, LPARAM lparam);
// Marks the innermost loop level that still runs as ending (its window was
// destroyed) and posts the quit that ends it.
void end_owning_level();
// The face timers' procedure: raises time on the timer's window.
void CALLBACK timer_proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Runs the loop: waiting, one level until its quit; with no_wait, at most
// one message. Whether there was a message; a quit taken without waiting
// and put back for a waiting level sets *quit_kept. May collect.
bool do_events(bool no_wait, bool* quit_kept = nullptr);
// Handles every message queued, without waiting. May collect.
void flush_events();
// The low byte of the first UTF-16 unit a virtual key types in the current
// keyboard state; -1 when it types nothing.
int32_t vkey_to_char(uint32_t vkey);
// The shared procedure of the superclassed controls (index into the class
// table in faces.cpp).
LRESULT control_proc(int32_t cls, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// The frame's width and height: the window rectangle's size beyond the
// client area's.
POINT get_frame_size(HWND hwnd);
// A field of an event this back end made, read from the message it stands
// for while that is being dispatched (none after). May collect.
Cell* get_event_field(const Cell* event, int32_t field);

// --- base faces and layered windows (base-faces.cpp, layered.cpp) ----------

// The colour a companion pop-up's background is keyed out with.
constexpr COLORREF COMPANION_KEY = RGB(1, 0, 0);
LRESULT CALLBACK base_face_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK base_internal_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Whether layered faces are child windows (Windows 8 and later, not Wine)
// or owned pop-ups that follow their parent.
bool layered_children();
bool layered_q(HWND hwnd);
// Whether the face's options ask for a layered window (accelerated: true).
bool accelerated_q(const Cell* face);
// True unless the colour is an opaque tuple.
bool transparent_color_q(const Cell* color);
// The class styles of a base face under parent: may turn it into a layered
// window (child or pop-up). Sets *layered.
void base_face_style(const Cell* face, HWND parent, DWORD* style, DWORD* ex, bool* layered);
// The window a child of parent is created in: parent, or the companion
// pop-up of a layered pop-up face.
HWND layered_parent(HWND parent);
// The set-up after creation (position record, first render, show, clip).
void init_base_face(HWND hwnd, HWND parent, Cell* face, bool layered);
// A window's background: its face's colour, then its image stretched over
// the client area (GDI+). True when anything was painted.
bool paint_image_gdiplus(HWND hwnd, HDC dc, const Cell* face);
// A rectangle as GDI+ takes it.
struct GdipRect {
    float x, y, width, height;
};
// Draws text into the layout width x height with GDI+ on a graphics of
// dc: the font object's font and colour (else the default GUI font and the
// window text colour), aligned and wrapped as the para has it for a base
// face. With measured, nothing is drawn: the box the text would fill is
// stored there (a width or height of 0 leaves that side open). False when
// GDI+ failed. May collect.
bool draw_text_gdiplus(void* graphics, HDC dc, const std::u16string& text, const Cell* font,
                       const Cell* para, float width, float height, GdipRect* measured = nullptr);
// The box that text takes in a face's font and para when GDI+ draws it in
// the given width on dc, in device pixels. May collect.
bool measure_text_gdiplus(HDC dc, const std::u16string& text, const Cell* face, float width,
                          GdipRect* measured);
// A face's text drawn in the rectangle rc of dc; false when it has no
// string or GDI+ failed. May collect.
bool draw_face_text_gdiplus(const Cell* face, HDC dc, const RECT& rc);
// Whether the window is a layered face made as an owned pop-up.
bool layered_popup_q(HWND hwnd);
// Renders a base face and hands its bitmap to the system (at the given
// screen point, or where it is); 0 when there was nothing to hand. A hidden
// pop-up is only placed and marked: follow_layered draws it as it shows
// it. May collect.
BOOL update_layered(HWND hwnd, const POINT* screen, Cell* face);
// A base face whose colour now lets what is below show through is made
// again as a layered window, with its children, in its place among its
// siblings; its state block is new. May collect.
void remake_layered(HWND hwnd, Cell* face);
// The layered pop-ups of a face tree (the face included) take the place,
// visibility and clip their faces have inside their owners: called after
// anything moved, sized, showed or hid a window of the tree.
void follow_layered(Cell* face);
// A layered face's bitmap (and its layered children's) painted into dc at
// x, y. May collect.
void paint_layered_tree(HDC dc, Cell* face, int32_t x, int32_t y, int32_t depth);

// --- face-to-image (capture.cpp) --------------------------------------------

// The image of a face into out (none without a window). May collect.
void face_to_image(const Cell* face, Cell* out);
// Makes `to image!` of a face come here.
void install_face_capture();

// --- camera (camera.cpp) ----------------------------------------------------

LRESULT CALLBACK camera_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Enumerates the devices into data and, when selected is an integer, opens
// and runs that one. May collect.
void make_camera(HWND hwnd, Cell* face);
// 1 when the device (0-based) was connected, 0 when not; an index out of
// range raises cannot-open with index + 1.
int32_t select_camera(HWND hwnd, int32_t index);
HRESULT run_camera(HWND hwnd, bool run);
void resize_camera(HWND hwnd);
void close_camera(HWND hwnd);
// One frame into out, or none. May collect.
void get_camera_frame(HWND hwnd, Cell* out);

// --- menus (menus.cpp) ---------------------------------------------------

// The last chosen menu item (position and menu, -1 and null when none), and
// the pop-up menu on show with the window it was shown for.
struct MenuState {
    int32_t item = -1;
    HMENU item_menu = nullptr;
    HMENU popup = nullptr;
    HWND target = nullptr;
    POINT client{0, 0}, screen{0, 0}; // the last right-button press
};
extern MenuState menus;

// Fills a menu from a menu block; null when the value is no block. May
// collect.
HMENU build_menu(const Cell* block, HMENU menu);
// Whether a face's menu block is a window's menu bar.
bool menu_bar_q(const Cell* menu, FaceType type);
// A window face's menu bar, or null. May collect.
HMENU make_menu_bar(const Cell* face);
// A changed menu facet: the window's menu bar replaced. May collect.
void update_menu_bar(HWND hwnd, const Cell* face);
void clear_menu_selection();
// WM_MENUSELECT: the item the user is on.
void store_menu_selection(WPARAM wparam, LPARAM lparam);
// Whether a WM_COMMAND is a menu's command.
bool menu_command_q(WPARAM wparam, LPARAM lparam);
// Shows the face's pop-up menu at a screen point; false when it has none.
// May collect.
bool show_context_menu(HWND hwnd, int32_t x, int32_t y);
// Raises the menu event of the chosen item. May collect.
void do_menu_event(HWND hwnd);

// --- widgets (widgets.cpp) ------------------------------------------------

bool string_like_q(const Cell* v);
// A string-like value as UTF-16 (empty for anything else). May collect.
std::u16string wide_text(const Cell* value);
// Items of list and combo boxes from a face's data and selection. May
// collect.
void set_list_data(HWND hwnd, const Cell* face);
void set_combo_data(HWND hwnd, const Cell* face, bool drop_list);
// A drop-down's item text into its face's text. May collect.
void read_combo_item(HWND hwnd, Cell* face, int32_t index);
// A series change inside a list's data (the on-change-facet arguments).
// May collect.
void update_list_data(Cell* face, Cell* target, const Cell* action, int32_t index, int32_t part,
                      bool combo);
// Tab panels. May collect.
void set_tabs_data(HWND hwnd, const Cell* face);
void select_tab(HWND hwnd, int32_t index);
bool on_tab_changing(HWND hwnd);
void on_tab_changed(HWND hwnd);
void fit_tab_page(Cell* page, HWND tab);
void place_tab_page(HWND page, HWND tab, int32_t x, int32_t y);
void update_tab_panel(HWND hwnd, Cell* face, int32_t which);
void update_tabs_data(Cell* face, Cell* target, const Cell* action, int32_t index, int32_t part);
// Button images from the image facet; their image list freed.
void set_button_images(HWND hwnd, const Cell* face);
void free_button_images(HWND hwnd);
// Calendars.
int32_t clamp_year(int32_t y);
void set_calendar_date(HWND hwnd, const Cell* face);
void sync_calendar(HWND hwnd, const Cell* face);
void set_calendar_color(HWND hwnd, const Cell* face);
void on_calendar_change(HWND hwnd);
// WM_NOTIFY of tab panels and calendars: true when handled (result set).
bool notify_widget(const NMHDR* hdr, LRESULT* result);
// The value after a key word in a face's options block (a flat list of
// keys and values, the keys plain or set-words), or null.
const Cell* option_value(const Cell* face, uint32_t key);
// The cursor option into the window's record.
void set_cursor(HWND hwnd, const Cell* face);
// Caret faces: the system caret made, attached from the options, updated.
void make_caret(HWND hwnd, const Cell* face);
void attach_caret(HWND hwnd, const Cell* face);
void update_caret(HWND hwnd, const Cell* face, uint32_t offset_bit, uint32_t shown_bit,
                  uint32_t bits);
bool dark_mode_active_q();
// The window's theme (and a window face's frame) dark or light; nothing
// without dark-mode support.
void set_dark_mode(HWND hwnd, bool dark, bool is_window);
// The base, rich-text, window and panel faces of a pane block that have a
// window take the system's dark-mode setting.
void refresh_dark_mode(const Cell* pane);

// The scaled GDI font of a font object (made when missing). May collect.
HFONT font_object_handle(const Cell* font);

// --- routine bodies -------------------------------------------------------

void init_star();
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
// Whether a WM_LBUTTONUP is being turned into an event.
bool button_up_q();
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
void send_event_os_star();

} // namespace mox::gui::win
