// The message loop, the window procedures and the events they raise: input
// messages become events before they are dispatched, window and control
// notifications inside the procedures. Every event goes to
// system/view/awake through one event cell that refers to the message being
// handled; no C++ exception leaves a procedure.
#include <windows.h>

#include <commctrl.h>
#include <windowsx.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/event.h"
#include "datatypes/handle.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "view/backend.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

namespace {

enum EventType : int32_t {
    E_DOWN = 1,
    E_UP,
    E_MID_DOWN,
    E_MID_UP,
    E_ALT_DOWN,
    E_ALT_UP,
    E_AUX_DOWN,
    E_AUX_UP,
    E_CLICK,
    E_DBL_CLICK,
    E_WHEEL,
    E_OVER,
    E_KEY,
    E_KEY_DOWN,
    E_KEY_UP,
    E_FOCUS = 17,
    E_UNFOCUS,
    E_ZOOM = 20,
    E_PAN,
    E_ROTATE,
    E_TWO_TAP,
    E_PRESS_TAP,
    E_SELECT = 25,
    E_CHANGE,
    E_MENU,
    E_CLOSE,
    E_MOVE,
    E_RESIZE,
    E_MOVING,
    E_RESIZING,
    E_TIME,
    E_SCROLL = 35,
    E_MINIMIZE,
    E_MAXIMIZE,
    E_RESTORE
};

// The message behind a live event: the event cell's reference finds it
// while the message is being handled, and nothing once it is done.
struct Live {
    uint32_t reference;
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    POINT pt;
    int32_t type;
    uint32_t flags;
    uint32_t menu_id; // a menu event's whole symbol id
    double zoom;      // a zoom step's ratio to the one before; below 0 on the first
};

struct Level {
    bool ending; // its window was destroyed: the quit that ends it is posted
};

struct Loop {
    std::vector<Live> live;
    uint32_t next_reference = 1;
    std::vector<Level> levels;
    int32_t injected_key_flags = -1;
    int64_t message_keys = -1; // key and button flags of the mouse message being filtered
    int32_t pending_special = -1;
    uint32_t pending_high = 0; // high surrogate, then the code point it made
    LPARAM last_mouse = -1;
    HWND hover = nullptr;
    HWND button_up = nullptr; // the window whose WM_LBUTTONUP is being handled
    bool in_size_move = false;
    int64_t last_zoom = -1; // the argument of the gesture's previous zoom step
    double zoom = -1.0;     // the ratio the zoom event being raised reports
};
Loop loop;

constexpr size_t MAX_LEVELS = 64;

// WINDOWPOS flag of a minimize, maximize or restore (not in the headers).
constexpr UINT SWP_STATE_CHANGED = 0x8000;

// A gesture as the system describes it. Looked up at run time: older
// systems have no gestures. A test run (MOX_TEST_PACKED_GESTURES set) also
// takes a handle the system does not know as a packed gesture, since no
// touch input reaches a window there: x in bits 0-15 and y in bits 16-31
// (signed screen pixels), the argument in bits 32-63.
bool gesture_info(LPARAM handle, GESTUREINFO* info) {
    using Get = BOOL(WINAPI*)(HGESTUREINFO, PGESTUREINFO);
    static const Get get = reinterpret_cast<Get>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetGestureInfo")));
    static const bool packed = std::getenv("MOX_TEST_PACKED_GESTURES") != nullptr;
    *info = GESTUREINFO{};
    info->cbSize = sizeof *info;
    if (get && get(reinterpret_cast<HGESTUREINFO>(handle), info)) return true;
    if (!packed) return false;
    uint64_t bits = static_cast<uint64_t>(handle);
    info->ptsLocation.x = static_cast<int16_t>(bits & 0xFFFF);
    info->ptsLocation.y = static_cast<int16_t>((bits >> 16) & 0xFFFF);
    info->ullArguments = bits >> 32;
    return true;
}

// --- flags and keys -------------------------------------------------------

uint32_t mouse_flags(WPARAM wparam) {
    uint32_t f = 0;
    if (wparam & MK_LBUTTON) f |= event::DOWN;
    if (wparam & MK_RBUTTON) f |= event::ALT_DOWN;
    if (wparam & MK_MBUTTON) f |= event::MID_DOWN;
    if (wparam & (MK_XBUTTON1 | MK_XBUTTON2)) f |= event::AUX_DOWN;
    if (wparam & MK_CONTROL) f |= event::CONTROL;
    if (wparam & MK_SHIFT) f |= event::SHIFT;
    return f;
}

// One read of the whole key state: under Wine every GetKeyState is a
// round trip to the server, and an event asks for up to seven keys.
uint32_t key_flags(bool keys_only) {
    BYTE keys[256];
    if (!GetKeyboardState(keys)) return 0;
    uint32_t f = 0;
    if (keys[VK_CONTROL] & 0x80) f |= event::CONTROL;
    if (keys[VK_SHIFT] & 0x80) f |= event::SHIFT;
    if (keys[VK_MENU] & 0x80) f |= event::ALT;
    if (!keys_only) {
        if (keys[VK_LBUTTON] & 0x80) f |= event::DOWN;
        if (keys[VK_RBUTTON] & 0x80) f |= event::ALT_DOWN;
        if (keys[VK_MBUTTON] & 0x80) f |= event::MID_DOWN;
        if (keys[VK_XBUTTON1] & 0x80) f |= event::AUX_DOWN;
    }
    return f;
}

uint32_t current_key_flags() {
    return loop.injected_key_flags >= 0 ? static_cast<uint32_t>(loop.injected_key_flags)
                                        : key_flags(false);
}

int32_t translate_key(uint32_t code, LPARAM lparam) {
    uint32_t scan = (lparam >> 16) & 0xFF, extended = (lparam >> 24) & 1;
    if (code == VK_SHIFT) return static_cast<int32_t>(MapVirtualKeyW(scan, MAPVK_VSC_TO_VK_EX));
    if (code == VK_CONTROL) return static_cast<int32_t>(0xA2 | extended);
    if (code == VK_MENU) return static_cast<int32_t>(0xA4 | extended);
    return static_cast<int32_t>(code);
}

bool char_key(uint32_t code) {
    if (code == 0x08 || code == 0x09 || code == 0x0D || code == 0x1B || code == 0x20) return true;
    if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) return true;
    if ((code >= 0x60 && code <= 0x6B) || (code >= 0x6D && code <= 0x6F)) return true;
    if ((code >= 0xBA && code <= 0xC0) || (code >= 0xDB && code <= 0xDF)) return true;
    return (code >= 0xE2 && code <= 0xE4) || (code >= 0xE9 && code <= 0xF5);
}

// The word of a special key, or 0.
uint32_t special_key_symbol(int32_t code) {
    static uint32_t symbols[256];
    static bool made = false;
    if (!made) {
        made = true;
        struct Name {
            int32_t code;
            const char* name;
        };
        static const Name names[] = {
            {0x21, "page-up"},       {0x22, "page-down"},    {0x23, "end"},
            {0x24, "home"},          {0x25, "left"},         {0x26, "up"},
            {0x27, "right"},         {0x28, "down"},         {0x2D, "insert"},
            {0x2E, "delete"},        {0x13, "pause"},        {0xA0, "left-shift"},
            {0xA1, "right-shift"},   {0xA2, "left-control"}, {0xA3, "right-control"},
            {0xA4, "left-alt"},      {0xA5, "right-alt"},    {0x5B, "left-command"},
            {0x5C, "right-command"}, {0x14, "caps-lock"},    {0x90, "num-lock"},
            {0x91, "scroll-lock"}};
        for (const Name& n : names) symbols[n.code] = symbol::make(n.name);
        static const char* f_keys[] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                       "F7", "F8", "F9", "F10", "F11", "F12"};
        for (int32_t i = 0; i < 12; i++) symbols[0x70 + i] = symbol::make(f_keys[i]);
    }
    return code >= 0 && code < 256 ? symbols[code] : 0;
}

// --- the event cell and awake ---------------------------------------------

Live* live_of(const Cell* event) {
    if (event->header & event::FLAG_MADE) return nullptr;
    for (size_t i = loop.live.size(); i-- > 0;)
        if (loop.live[i].reference == event->data2) return &loop.live[i];
    return nullptr;
}

// The back-end window an event's message is about: its own, its parent's,
// or the one of ours under the message's point.
HWND event_window(const Live& l) {
    if (record_of(l.hwnd)) return l.hwnd;
    HWND parent = GetParent(l.hwnd);
    if (record_of(parent)) return parent;
    HWND under = WindowFromPoint(l.pt);
    DWORD pid = 0;
    if (under) GetWindowThreadProcessId(under, &pid);
    if (pid == g.pid && record_of(under)) return under;
    return nullptr;
}

Cell* push_face(HWND hwnd) {
    Cell* face = hwnd ? face_of(hwnd) : nullptr;
    return face ? stack::push(face) : make_none(stack::push_cell());
}

Cell* push_point(HWND hwnd, float x, float y, bool pair) {
    Cell* c = stack::push_cell();
    if (pair) return pair::make_cell(c, static_cast<int32_t>(x), static_cast<int32_t>(y));
    return point2D::make_cell(c, dpi_unscale(x), dpi_unscale(y));
}

} // namespace

Cell* get_event_field(const Cell* event, int32_t field) {
    Live* l = live_of(event);
    if (!l) return make_none(stack::push_cell());
    Live m = *l;
    switch (field) {
    case event::F_FACE:
        return push_face(event_window(m));
    case event::F_WINDOW: {
        HWND w = event_window(m);
        return push_face(w ? GetAncestor(w, GA_ROOTOWNER) : nullptr);
    }
    case event::F_OFFSET: {
        HWND w = event_window(m);
        if (m.type == E_MENU)
            return push_point(w, static_cast<float>(menus.client.x),
                              static_cast<float>(menus.client.y), false);
        if (m.type >= E_ZOOM && m.type <= E_PRESS_TAP) {
            // Where the gesture is, in the face's own space as every other
            // offset (the system gives it on the screen).
            GESTUREINFO info;
            if (!gesture_info(m.lparam, &info)) return make_none(stack::push_cell());
            POINT p{info.ptsLocation.x, info.ptsLocation.y};
            if (w) ScreenToClient(w, &p);
            return push_point(w, static_cast<float>(p.x), static_cast<float>(p.y), false);
        }
        if (m.type == E_WHEEL || m.type == E_KEY || m.type == E_KEY_DOWN || m.type == E_KEY_UP) {
            POINT p = m.pt;
            if (m.type == E_WHEEL) p = POINT{GET_X_LPARAM(m.lparam), GET_Y_LPARAM(m.lparam)};
            if (w) ScreenToClient(w, &p);
            return push_point(w, static_cast<float>(p.x), static_cast<float>(p.y), false);
        }
        if ((m.type >= E_DOWN && m.type <= E_OVER) || (m.type >= E_MOVE && m.type <= E_RESIZING)) {
            if (m.flags & event::AWAY) {
                POINT p = m.pt;
                if (w) ScreenToClient(w, &p);
                return push_point(w, static_cast<float>(p.x), static_cast<float>(p.y), false);
            }
            float x = static_cast<float>(static_cast<int16_t>(LOWORD(m.lparam)));
            float y = static_cast<float>(static_cast<int16_t>(HIWORD(m.lparam)));
            WindowRecord* r = record_of(w);
            if ((m.type == E_RESIZE || m.type == E_RESIZING) && r && (r->flags & WF_SIZE_PAIR))
                return push_point(w, dpi_unscale(x), dpi_unscale(y), true);
            return push_point(w, x, y, false);
        }
        return make_none(stack::push_cell());
    }
    case event::F_KEY: {
        if (m.type == E_WHEEL) return word::push_symbol(sym.wheel);
        if (m.type == E_SCROLL) {
            uint32_t code = LOWORD(m.wparam);
            bool v = m.msg == WM_VSCROLL;
            uint32_t s = code == 0   ? (v ? sym.up : sym.left)
                         : code == 1 ? (v ? sym.down : sym.right)
                         : code == 2 ? (v ? sym.page_up : sym.page_left)
                         : code == 3 ? (v ? sym.page_down : sym.page_right)
                         : code == 5 ? sym.track
                                     : sym.end;
            return word::push_symbol(s);
        }
        if (m.type == E_KEY || m.type == E_KEY_DOWN || m.type == E_KEY_UP) {
            if (loop.pending_special == -1) {
                uint32_t cp = m.type == E_KEY && loop.pending_high >= 0x10000
                                  ? (m.flags & event::KEY_MASK)
                                  : (m.flags & 0xFFFF);
                return make_char(stack::push_cell(), cp);
            }
            uint32_t s = special_key_symbol(loop.pending_special);
            if (s) return word::push_symbol(s);
            if (m.type == E_KEY) return make_none(stack::push_cell());
            return make_char(stack::push_cell(), m.flags & 0xFFFF);
        }
        return make_none(stack::push_cell());
    }
    case event::F_PICKED: {
        if (m.type == E_WHEEL) {
            int32_t d = static_cast<int16_t>(HIWORD(m.wparam));
            if (d < -24000)
                d += 30720;
            else if (d > 24000)
                d -= 30720;
            return make_float(stack::push_cell(), d / 120.0);
        }
        if (m.type == E_DOWN || m.type == E_MID_DOWN || m.type == E_ALT_DOWN ||
            m.type == E_AUX_DOWN || m.type == E_DBL_CLICK) {
            // A press picks a list's item; anywhere else it picks nothing.
            HWND w = event_window(m);
            int32_t item = -1;
            if (w && record_of(w)->type == FT_TEXT_LIST) {
                POINT p{GET_X_LPARAM(m.lparam), GET_Y_LPARAM(m.lparam)};
                ClientToScreen(w, &p);
                item = LBItemFromPt(w, p, FALSE);
            }
            if (item < 0) return make_none(stack::push_cell());
            return make_integer(stack::push_cell(), item + 1);
        }
        if (m.type == E_ZOOM) {
            if (m.zoom < 0) return make_none(stack::push_cell());
            return make_float(stack::push_cell(), m.zoom, TYPE_PERCENT);
        }
        if (m.type >= E_PAN && m.type <= E_PRESS_TAP) {
            GESTUREINFO info;
            if (!gesture_info(m.lparam, &info)) return make_none(stack::push_cell());
            return make_integer(stack::push_cell(), static_cast<int32_t>(info.ullArguments));
        }
        if (m.type == E_MENU) {
            if (m.menu_id == NO_MENU_ID) return make_none(stack::push_cell());
            return word::push_symbol(m.menu_id);
        }
        return make_integer(stack::push_cell(), static_cast<int16_t>(m.flags & 0xFFFF));
    }
    case event::F_ORIENTATION:
        if (m.type == E_SCROLL)
            return word::push_symbol(m.msg == WM_VSCROLL ? sym.vertical : sym.horizontal);
        return make_none(stack::push_cell());
    default:
        return make_none(stack::push_cell());
    }
}

namespace {

// Reads a control's text back into its face's text facet, in place.
void read_text_back(HWND hwnd, Cell* face) {
    int32_t n = GetWindowTextLengthW(hwnd);
    if (n < 0) return;
    std::u16string text(static_cast<size_t>(n) + 1, u'\0');
    n = GetWindowTextW(hwnd, reinterpret_cast<LPWSTR>(text.data()), n + 1);
    Cell* current = facet(face, sym.text);
    if (type_of(current) == TYPE_STRING) {
        Cell* target = stack::push(current);
        target->data1 = 0;
        unicode::load_utf16(text.data(), static_cast<uint32_t>(n), target, true);
        stack::top = target;
    } else {
        Cell s;
        make_series(&s, TYPE_STRING,
                    unicode::load_utf16(text.data(), static_cast<uint32_t>(n), nullptr, true));
        set_facet(face, sym.text, &s);
    }
}

} // namespace

int32_t make_event(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, uint32_t flags,
                   int32_t type) {
    uint32_t word = 0;
    switch (type) {
    case E_OVER:
        word = flags;
        break;
    case E_KEY_DOWN:
    case E_KEY_UP: {
        uint32_t code = LOWORD(wparam);
        if (type == E_KEY_DOWN && code == VK_PROCESSKEY) {
            loop.pending_special = -1;
            return 1;
        }
        bool plain = char_key(code) || (type == E_KEY_DOWN && ime_composing_q());
        loop.pending_special = plain ? -1 : translate_key(code, lparam);
        if (loop.pending_special == -1) {
            UINT c = MapVirtualKeyW(code, MAPVK_VK_TO_CHAR);
            if (c) code = c & 0xFFFF;
        }
        word = current_key_flags() | code;
        break;
    }
    case E_KEY: {
        uint32_t kf = current_key_flags();
        uint32_t c = static_cast<uint32_t>(wparam);
        if (c >= 0xD800 && c <= 0xDBFF) {
            loop.pending_high = c;
            return 1;
        }
        if (c >= 0xDC00 && c <= 0xDFFF) {
            // A lone low surrogate has no character to stand for.
            if (loop.pending_high >= 0xD800 && loop.pending_high <= 0xDBFF) {
                c = ((loop.pending_high & 0x3FF) << 10) + 0x10000 + (c & 0x3FF);
                kf = 0;
            } else {
                c = 0xFFFD;
            }
            loop.pending_high = c;
        } else {
            loop.pending_high = 0;
        }
        if ((kf & event::CONTROL) && c > 0x60 && c < 0x7B) {
            c += 0x40;
            loop.pending_special = -1;
        }
        if ((ime_composing_q() && (kf & event::SHIFT)) || loop.pending_special == 0xA4 ||
            loop.pending_special == 0xA5)
            loop.pending_special = -1;
        word = c | kf;
        break;
    }
    case E_SELECT: {
        WindowRecord* r = record_of(hwnd);
        Cell* face = face_of(hwnd);
        if (r && face && r->type == FT_DROP_DOWN) {
            Cell* kept = stack::push(face);
            read_combo_item(hwnd, kept, static_cast<int32_t>(flags));
            stack::top = kept;
        }
        word = (flags + 1) & 0xFFFF;
        break;
    }
    case E_CHANGE: {
        Cell* face = face_of(hwnd);
        WindowRecord* r = record_of(hwnd);
        if (flags != 0 && face && r && !(r->face_flags & FF_NO_SYNC) && r->type != FT_TAB_PANEL) {
            Cell* kept = stack::push(face);
            read_text_back(hwnd, kept);
            stack::top = kept;
        }
        if (r && r->type == FT_TAB_PANEL) word = flags & 0xFFFF;
        break;
    }
    case E_DOWN:
    case E_UP:
    case E_MID_DOWN:
    case E_MID_UP:
    case E_ALT_DOWN:
    case E_ALT_UP:
    case E_DBL_CLICK:
    case E_WHEEL:
        word = flags | (loop.message_keys >= 0 ? static_cast<uint32_t>(loop.message_keys)
                                               : key_flags(false));
        break;
    case E_CLICK:
        word = key_flags(true);
        break;
    case E_MENU:
        break;
    default:
        break;
    }
    DWORD pos = GetMessagePos();
    uint32_t reference = loop.next_reference++;
    if (loop.next_reference == 0) loop.next_reference = 1;
    loop.live.push_back(Live{reference, hwnd, msg, wparam, lparam,
                             POINT{GET_X_LPARAM(pos), GET_Y_LPARAM(pos)}, type, word,
                             type == E_MENU ? flags : 0, type == E_ZOOM ? loop.zoom : -1.0});
    Cell* base = stack::top;
    Cell* ev = event::make_os_cell(stack::push_cell(), type, reference, word);
    Cell* result = stack::push_cell();
    call_awake(ev, result);
    bool stop = type_of(result) == TYPE_WORD && same_word(result->data2, sym.stop);
    stack::top = base;
    loop.live.pop_back();
    return stop ? 0 : 1;
}

bool button_up_q() { return loop.button_up != nullptr; }

namespace {

// A face that cannot take input: its own enabled? or one of its parents'
// is false or none (a child of a disabled panel keeps an enabled window).
bool disabled_q(const Cell* face) {
    for (int32_t depth = 0; face && type_of(face) == TYPE_OBJECT && depth < 64; depth++) {
        const Cell* e = facet(face, sym.enabled_q);
        if (type_of(e) == TYPE_NONE || (type_of(e) == TYPE_LOGIC && !e->data1)) return true;
        face = facet(face, sym.parent);
    }
    return false;
}

// The input messages become events before they are dispatched; 0 keeps a
// message from its window. flags: the mouse flags of a mouse message.
int32_t pre_process_with(MSG& m, uint32_t flags) {
    switch (m.message) {
    case WM_KEYDOWN: {
        int32_t r = make_event(m.hwnd, m.message, m.wParam, m.lParam, 0, E_KEY_DOWN);
        int32_t s = loop.pending_special;
        if (r == 1 && s != -1 && s != 0x10 && s != 0x11 && !(s >= 0xA0 && s <= 0xA5))
            r = make_event(m.hwnd, m.message, m.wParam, m.lParam, 0, E_KEY);
        return r;
    }
    case WM_SYSKEYDOWN:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, 0, E_KEY_DOWN);
    case WM_KEYUP:
    case WM_SYSKEYUP:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, 0, E_KEY_UP);
    case WM_CHAR:
        loop.pending_special = -1;
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, 0, E_KEY);
    case WM_MOUSEMOVE: {
        if (m.wParam & 0x8000) {
            m.wParam &= ~static_cast<WPARAM>(0x8000);
            if (IsWindowEnabled(m.hwnd))
                make_event(m.hwnd, m.message, m.wParam, m.lParam, flags & ~0x8000u, E_OVER);
            return 1;
        }
        if (m.lParam == loop.last_mouse) return 0;
        loop.last_mouse = m.lParam;
        WindowRecord* r = record_of(m.hwnd);
        if (IsWindowEnabled(m.hwnd) &&
            (m.hwnd != loop.hover || (r && (r->face_flags & FF_ALL_OVER)))) {
            if (m.hwnd != loop.hover) {
                TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, m.hwnd, 0};
                TrackMouseEvent(&t);
            }
            make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_OVER);
        }
        loop.hover = m.hwnd;
        return 1;
    }
    case WM_MOUSELEAVE:
        loop.last_mouse = -1;
        make_event(m.hwnd, m.message, m.wParam, m.lParam, flags | event::AWAY, E_OVER);
        if (loop.hover == m.hwnd) loop.hover = nullptr;
        return 1;
    case WM_LBUTTONDOWN:
        clear_menu_selection();
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_DOWN);
    case WM_LBUTTONUP: {
        bool injected = m.wParam & 0x8000;
        m.wParam &= ~static_cast<WPARAM>(0x8000);
        WindowRecord* r = record_of(m.hwnd);
        if (GetCapture() == m.hwnd && r && r->type == FT_BASE) ReleaseCapture();
        loop.button_up = m.hwnd;
        int32_t res = make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_UP);
        loop.button_up = nullptr;
        if (injected && disabled_q(face_of(m.hwnd))) SendMessageW(m.hwnd, BM_SETSTATE, 0, 0);
        // A release the face stopped never reaches its control, which would
        // keep the mouse it took at the press: every later click in the
        // window would go to it.
        if (!res && GetCapture() == m.hwnd) ReleaseCapture();
        return res;
    }
    case WM_LBUTTONDBLCLK:
        clear_menu_selection();
        make_event(m.hwnd, m.message, m.wParam, m.lParam, 0, E_DOWN);
        make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_DBL_CLICK);
        return 1;
    case WM_RBUTTONDOWN: {
        if (GetCapture()) return 1;
        menus.client = POINT{GET_X_LPARAM(m.lParam), GET_Y_LPARAM(m.lParam)};
        menus.screen = menus.client;
        ClientToScreen(m.hwnd, &menus.screen);
        clear_menu_selection();
        int32_t res = make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_ALT_DOWN);
        if (show_context_menu(m.hwnd, menus.screen.x, menus.screen.y)) res = 0;
        return res;
    }
    case WM_RBUTTONUP:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_ALT_UP);
    case WM_MBUTTONDOWN:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_MID_DOWN);
    case WM_MBUTTONUP:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_MID_UP);
    case WM_XBUTTONDOWN:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_AUX_DOWN);
    case WM_XBUTTONUP:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, flags, E_AUX_UP);
    case WM_MOUSEWHEEL:
        return make_event(m.hwnd, m.message, m.wParam, m.lParam, mouse_flags(m.wParam), E_WHEEL);
    default:
        return 1;
    }
}

// The key state is read once, and only for mouse messages: under Wine each
// read is a round trip to the server.
int32_t pre_process(MSG& m) {
    bool mouse =
        (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST) || m.message == WM_MOUSELEAVE;
    if (!mouse) return pre_process_with(m, 0);
    int64_t saved = loop.message_keys;
    uint32_t keys = key_flags(false);
    loop.message_keys = keys;
    constexpr uint32_t KEYS_ONLY = event::CONTROL | event::SHIFT | event::ALT;
    int32_t result = pre_process_with(m, mouse_flags(m.wParam) | (keys & KEYS_ONLY));
    loop.message_keys = saved;
    return result;
}

void dispatch_one(MSG& m) {
    if (pre_process(m) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

// --- window procedures ----------------------------------------------------

// Writes offset (a move) or size (a resize) from a WM_MOVE or WM_SIZE and
// returns the packed device point the event reports.
LPARAM sync_offset_size(HWND hwnd, Cell* face, UINT msg, LPARAM lparam) {
    int32_t x = static_cast<int16_t>(LOWORD(lparam)), y = static_cast<int16_t>(HIWORD(lparam));
    Cell v;
    if (msg == WM_MOVE) {
        // The offset of a window face is its outer rectangle's origin.
        RECT rc;
        GetWindowRect(hwnd, &rc);
        x = rc.left;
        y = rc.top;
        point2D::make_cell(&v, dpi_unscale(static_cast<float>(x)),
                           dpi_unscale(static_cast<float>(y)));
        set_facet(face, sym.offset, &v);
    } else {
        WindowRecord* r = record_of(hwnd);
        if (r && (r->flags & WF_SIZE_PAIR))
            pair::make_cell(&v, static_cast<int32_t>(dpi_unscale(static_cast<float>(x))),
                            static_cast<int32_t>(dpi_unscale(static_cast<float>(y))));
        else
            point2D::make_cell(&v, dpi_unscale(static_cast<float>(x)),
                               dpi_unscale(static_cast<float>(y)));
        set_facet(face, sym.size, &v);
    }
    return static_cast<LPARAM>((static_cast<uint32_t>(y) << 16) |
                               (static_cast<uint32_t>(x) & 0xFFFF));
}

void get_check(HWND hwnd, Cell* face) {
    LRESULT state = SendMessageW(hwnd, BM_GETCHECK, 0, 0);
    Cell v;
    if (state == BST_INDETERMINATE)
        make_none(&v);
    else
        make_logic(&v, state == BST_CHECKED);
    set_facet(face, sym.data, &v);
}

// The root window's face gets the control's face as its selected facet.
void select_in_root(HWND control, Cell* face) {
    Cell* root = face_of(GetAncestor(control, GA_ROOTOWNER));
    if (root) set_facet(root, sym.selected, face);
}

} // namespace

void process_command(HWND hwnd, WPARAM wparam, LPARAM lparam) {
    if (menu_command_q(wparam, lparam)) {
        do_menu_event(hwnd);
        return;
    }
    HWND control = reinterpret_cast<HWND>(lparam);
    if (!control) return;
    Cell* found = face_of(control);
    if (!found) return;
    Cell* face = stack::push(found);
    WindowRecord* r = record_of(control);
    FaceType type = r->type;
    int32_t code = static_cast<int16_t>(HIWORD(wparam));
    switch (code) {
    case BN_CLICKED:
        switch (type) {
        case FT_BUTTON:
            select_in_root(control, face);
            make_event(control, WM_COMMAND, wparam, lparam, 0, E_CLICK);
            break;
        case FT_TOGGLE:
            get_check(control, face);
            select_in_root(control, face);
            make_event(control, WM_COMMAND, wparam, lparam, 0, E_CHANGE);
            break;
        case FT_CHECK:
            if (r->face_flags & FF_TRI_STATE) {
                LRESULT s = SendMessageW(control, BM_GETCHECK, 0, 0);
                SendMessageW(control, BM_SETCHECK,
                             s == BST_UNCHECKED ? BST_CHECKED
                             : s == BST_CHECKED ? BST_INDETERMINATE
                                                : BST_UNCHECKED,
                             0);
            }
            get_check(control, face);
            select_in_root(control, face);
            make_event(control, WM_COMMAND, wparam, lparam, 0, E_CHANGE);
            break;
        case FT_RADIO:
            if (!(SendMessageW(control, BM_GETSTATE, 0, 0) & BST_CHECKED) &&
                !(GetKeyState(VK_TAB) & 0x8000)) {
                get_check(control, face);
                select_in_root(control, face);
                make_event(control, WM_COMMAND, wparam, lparam, 0, E_CLICK);
            }
            break;
        default:
            break;
        }
        break;
    case 3:
        if (type == FT_RADIO) {
            if (SendMessageW(control, BM_GETSTATE, 0, 0) == 0)
                make_event(control, WM_COMMAND, wparam, lparam, 0, E_CHANGE);
        } else {
            Cell* receiver = face_of(hwnd);
            if (receiver) set_facet(receiver, sym.selected, face);
            make_event(control, WM_COMMAND, wparam, lparam, 0, E_FOCUS);
        }
        break;
    case EN_CHANGE:
        if (!record_of(hwnd)) break;
        make_event(control, WM_COMMAND, wparam, lparam, static_cast<uint32_t>(-1), E_CHANGE);
        if (type == FT_AREA && face_of(control)) {
            extend_text_limit(control, 16);
            update_text_scrollbars(control, face, nullptr);
        }
        break;
    case EN_SETFOCUS:
    case 4: {
        Cell* receiver = face_of(hwnd);
        if (receiver) set_facet(receiver, sym.selected, face);
        // The face's selection comes back with the focus, unless a click
        // brought the focus and puts the caret where it was.
        if (code == EN_SETFOCUS && (type == FT_FIELD || type == FT_AREA) &&
            !(GetKeyState(VK_LBUTTON) & 0x8000))
            set_selection(control, face);
        bool combo = type == FT_DROP_DOWN || type == FT_DROP_LIST;
        if (code == 4 && !combo) break;
        make_event(control, WM_COMMAND, wparam, lparam, 0,
                   combo && code == 4 ? E_UNFOCUS : E_FOCUS);
        break;
    }
    case EN_KILLFOCUS:
        make_event(control, WM_COMMAND, wparam, lparam, 0, E_UNFOCUS);
        break;
    case 1: {
        bool list = type == FT_TEXT_LIST;
        LRESULT index = SendMessageW(control, list ? LB_GETCURSEL : CB_GETCURSEL, 0, 0);
        const Cell* sel = facet(face, sym.selected);
        if (type_of(sel) == TYPE_INTEGER && get_integer(sel) == index + 1) break;
        int32_t res =
            make_event(control, WM_COMMAND, wparam, lparam, static_cast<uint32_t>(index), E_SELECT);
        if (!face_of(control)) break;
        index = SendMessageW(control, list ? LB_GETCURSEL : CB_GETCURSEL, 0, 0);
        sel = facet(face, sym.selected);
        if (type_of(sel) == TYPE_INTEGER && get_integer(sel) == index + 1) break;
        Cell v;
        make_integer(&v, static_cast<int32_t>(index + 1));
        set_facet(face, sym.selected, &v);
        if (res == 1) make_event(control, WM_COMMAND, wparam, lparam, 0, E_CHANGE);
        break;
    }
    case 5:
        if (type == FT_TEXT_LIST)
            make_event(control, WM_COMMAND, wparam, lparam, 0, E_UNFOCUS);
        else if (type != FT_RADIO)
            make_event(control, WM_COMMAND, wparam, lparam, static_cast<uint32_t>(-1), E_CHANGE);
        break;
    default:
        break;
    }
}

namespace {

bool change_window_state(HWND hwnd, int32_t type) {
    if (type == E_MINIMIZE) {
        SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (type == E_MAXIMIZE) {
        SendMessageW(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else {
        LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
        if (style & (WS_MINIMIZE | WS_MAXIMIZE)) ShowWindow(hwnd, SW_SHOWNORMAL);
        if (!record_of(hwnd)) return false;
        SetForegroundWindow(hwnd);
    }
    return true;
}

// The window face is dragged (WM_MOVING) or sized (WM_SIZING) with the
// rectangle rc: its offset (the window's origin) or size (the client area
// the rectangle leaves) follows, and moving or resizing is raised with the
// device point. May collect.
void sizing_moving(HWND hwnd, Cell* face, UINT msg, WPARAM wparam, const RECT& rc) {
    WindowRecord* r = record_of(hwnd);
    int32_t x, y;
    Cell v;
    if (msg == WM_MOVING) {
        x = rc.left;
        y = rc.top;
        point2D::make_cell(&v, dpi_unscale(static_cast<float>(x)),
                           dpi_unscale(static_cast<float>(y)));
        set_facet(face, sym.offset, &v);
    } else {
        RECT wr, cr;
        GetWindowRect(hwnd, &wr);
        GetClientRect(hwnd, &cr);
        x = (rc.right - rc.left) - ((wr.right - wr.left) - cr.right);
        y = (rc.bottom - rc.top) - ((wr.bottom - wr.top) - cr.bottom);
        if (x < 0) x = 0;
        if (y < 0) y = 0;
        if (r && (r->flags & WF_SIZE_PAIR))
            pair::make_cell(&v, static_cast<int32_t>(dpi_unscale(static_cast<float>(x))),
                            static_cast<int32_t>(dpi_unscale(static_cast<float>(y))));
        else
            point2D::make_cell(&v, dpi_unscale(static_cast<float>(x)),
                               dpi_unscale(static_cast<float>(y)));
        set_facet(face, sym.size, &v);
    }
    int32_t type = msg == WM_MOVING ? E_MOVING : E_RESIZING;
    if (r) r->sizing = type;
    LPARAM point =
        static_cast<LPARAM>((static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xFFFF));
    make_event(hwnd, msg, wparam, point, 0, type);
}

// Calls a function value of the global context by name with the arguments;
// the result goes to out. May collect.
void call_global(const char* name, const Cell* args, int32_t count, Cell* out) {
    Cell fn = *word::get_value(word::load(name));
    interpreter::call_value(&fn, args, count, out);
}

// A window face whose window went to another display becomes a window of
// that display's screen face: out of the old screen's pane (through the
// series actions, so the pane's owners hear of it), at the head of the new
// one's (at its tail when it was in no pane), and the new screen is its
// parent. May collect.
void move_to_screen(Cell* face, HMONITOR monitor) {
    Cell* view = system_view();
    if (!view) return;
    Cell* base = stack::top;
    static const uint32_t screens_word = symbol::make("screens");
    Cell* screens = stack::push(facet(view, screens_word));
    Cell* target = nullptr;
    for (int32_t i = 0; type_of(screens) == TYPE_BLOCK && i < block::rs_length_q(screens); i++) {
        Cell* s = block::rs_head(screens) + i;
        if (type_of(s) != TYPE_OBJECT) continue;
        Cell* state = facet(s, sym.state);
        if (type_of(state) == TYPE_BLOCK && block::rs_length_q(state) > 0 &&
            type_of(block::rs_head(state)) == TYPE_HANDLE &&
            handle::value_of(block::rs_head(state)) == reinterpret_cast<uintptr_t>(monitor)) {
            target = stack::push(s);
            break;
        }
    }
    Cell* old = target ? stack::push(facet(face, sym.parent)) : nullptr;
    if (!target || (type_of(old) == TYPE_OBJECT && old->data1 == target->data1)) {
        stack::top = base;
        return;
    }
    bool removed = false;
    if (type_of(old) == TYPE_OBJECT && type_of(facet(old, sym.pane)) == TYPE_BLOCK) {
        Cell* args = stack::push(facet(old, sym.pane));
        stack::push(face);
        Cell* at = make_none(stack::push_cell());
        call_global("find", args, 2, at);
        if (type_of(at) == TYPE_BLOCK) {
            Cell* out = make_none(stack::push_cell());
            call_global("remove", at, 1, out);
            removed = true;
        }
    }
    if (type_of(facet(target, sym.pane)) == TYPE_BLOCK) {
        Cell* args = stack::push(facet(target, sym.pane));
        stack::push(face);
        Cell* out = make_none(stack::push_cell());
        call_global(removed ? "insert" : "append", args, 2, out);
    }
    set_facet(face, sym.parent, target);
    stack::top = base;
}

// The children of a pane at the current scale: offsets and sizes in device
// pixels again, and the fonts. The children of one parent move in one
// batch, so that none is drawn at the new scale beside a sibling still at
// the old one; a child's own pane gets batches of its own, ended before
// its windows move. Layered pop-ups have another parent and move alone.
// May collect.
void relayout_children(Cell* pane, int32_t depth) {
    if (type_of(pane) != TYPE_BLOCK || depth > 256) return;
    Cell* base = stack::top;
    Cell* p = stack::push(pane);
    HDWP batch = nullptr;
    for (int32_t i = 0; i < block::rs_length_q(p); i++) {
        Cell* child = stack::push(block::rs_head(p) + i);
        HWND hwnd = face_handle(child);
        if (hwnd) {
            const Cell* offset = facet(child, sym.offset);
            const Cell* size = facet(child, sym.size);
            bool popup = layered_popup_q(hwnd);
            UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (popup ? SWP_NOMOVE : 0);
            int x = dpi_scale(coord(offset, false)), y = dpi_scale(coord(offset, true));
            int w = dpi_scale(coord(size, false)), h = dpi_scale(coord(size, true));
            if (!popup && !batch) batch = BeginDeferWindowPos(32);
            if (!popup && batch) batch = DeferWindowPos(batch, hwnd, nullptr, x, y, w, h, flags);
            if (popup || !batch) SetWindowPos(hwnd, nullptr, x, y, w, h, flags);
            // A group box's frame is a child of its own: not in this batch.
            WindowRecord* r = record_of(hwnd);
            if (r && r->type == FT_GROUP_BOX && r->inner)
                SetWindowPos(r->inner, nullptr, 0, 0, w, h,
                             SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
            SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(child)), TRUE);
            if (type_of(facet(child, sym.pane)) == TYPE_BLOCK) {
                if (batch) EndDeferWindowPos(batch);
                batch = nullptr;
                relayout_children(facet(child, sym.pane), depth + 1);
            }
        }
        stack::top = child;
    }
    if (batch) EndDeferWindowPos(batch);
    stack::top = base;
}

// The window went to a display of another DPI (the message carries the
// new DPI and the rectangle the system suggests; without one the window
// stays where it is). May collect.
void dpi_changed(HWND hwnd, Cell* face, bool window, WPARAM wparam, const RECT* suggested) {
    if (window) move_to_screen(face, MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST));
    set_dpi(LOWORD(wparam));
    if (suggested)
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (window) {
        set_default_font(hwnd);
        relayout_children(facet(face, sym.pane), 0);
        follow_layered(face);
    }
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
}

// The largest sizes the system offers a window grow to hold its face's
// size (a pair!, else a point2D! truncated) with the frame; true when one
// was raised.
bool update_min_max_info(HWND hwnd, Cell* face, MINMAXINFO* info) {
    const Cell* size = facet(face, sym.size);
    if (type_of(size) != TYPE_PAIR && type_of(size) != TYPE_POINT2D) return false;
    RECT wr, cr;
    GetWindowRect(hwnd, &wr);
    GetClientRect(hwnd, &cr);
    int32_t w = dpi_scale(static_cast<float>(static_cast<int32_t>(coord(size, false)))) +
                (wr.right - wr.left) - cr.right;
    int32_t h = dpi_scale(static_cast<float>(static_cast<int32_t>(coord(size, true)))) +
                (wr.bottom - wr.top) - cr.bottom;
    bool changed = false;
    for (POINT* p : {&info->ptMaxSize, &info->ptMaxTrackSize}) {
        if (p->x < w) {
            p->x = w;
            changed = true;
        }
        if (p->y < h) {
            p->y = h;
            changed = true;
        }
    }
    return changed;
}

// The displays changed: the language side's screen faces follow. May
// collect.
void refresh_screens() {
    Cell* view = system_view();
    if (!view) return;
    Cell* base = stack::top;
    Cell* platform = stack::push(facet(view, symbol::make("platform")));
    if (type_of(platform) == TYPE_OBJECT) {
        Cell fn = *facet(platform, symbol::make("refresh-screens"));
        if (type_of(&fn) == TYPE_FUNCTION)
            interpreter::call_value(&fn, nullptr, 0, make_none(stack::push_cell()));
    }
    stack::top = base;
}

// A gesture step becomes an event of the face under it (the window's own
// when no child is there); a gesture's beginning and end only start the
// zoom ratios afresh. May collect.
void gesture(HWND hwnd, WPARAM id, LPARAM handle) {
    if (id == GID_BEGIN || id == GID_END) {
        loop.last_zoom = -1;
        return;
    }
    if (id < GID_ZOOM || id > GID_PRESSANDTAP) return;
    GESTUREINFO info;
    if (!gesture_info(handle, &info)) return;
    POINT p{info.ptsLocation.x, info.ptsLocation.y};
    ScreenToClient(hwnd, &p);
    HWND target = ChildWindowFromPointEx(hwnd, p, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    if (!target) target = hwnd;
    int32_t type = E_ZOOM + static_cast<int32_t>(id - GID_ZOOM);
    double saved = loop.zoom;
    if (type == E_ZOOM) {
        auto arg = static_cast<int64_t>(info.ullArguments);
        loop.zoom = loop.last_zoom > 0
                        ? static_cast<double>(arg - loop.last_zoom) / loop.last_zoom + 1.0
                        : -1.0;
        loop.last_zoom = arg;
    }
    make_event(target, WM_GESTURE, id, handle, 0, type);
    loop.zoom = saved;
}

// Face colours of the tuple kind as a COLORREF; false for anything else.
bool face_color(const Cell* face, uint32_t field, COLORREF* out);

// A scroller's move: its ratio of the range (kept within 0 and 1), to the
// nearest position (a ratio such as 0.07 is a hair below its product);
// fallback when the ratio is no number.
int32_t scroll_step(const Cell* ratio, int32_t range, int32_t fallback) {
    double r;
    if (type_of(ratio) == TYPE_FLOAT || type_of(ratio) == TYPE_PERCENT)
        r = get_float(ratio);
    else if (type_of(ratio) == TYPE_INTEGER)
        r = get_integer(ratio);
    else
        return fallback;
    r = r < 0 ? 0 : r > 1 ? 1 : r;
    return static_cast<int32_t>(std::lround(r * range));
}

LRESULT handle_window(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Cell* found = face_of(hwnd);
    if (!found) return DefWindowProcW(hwnd, msg, wparam, lparam);
    Cell* face = stack::push(found);
    WindowRecord* r = record_of(hwnd);
    bool window = r->type == FT_WINDOW;
    switch (msg) {
    case WM_SIZE:
        if (RenderTarget* rt = render_target_of(hwnd))
            resize_render_target(rt, LOWORD(lparam), HIWORD(lparam));
        // A layered window gets no paint messages: it is drawn anew.
        if (layered_q(hwnd) && wparam != SIZE_MINIMIZED)
            update_layered(hwnd, nullptr, face);
        else
            InvalidateRect(hwnd, nullptr, TRUE);
        [[fallthrough]];
    case WM_MOVE: {
        if (!window) break;
        if (msg == WM_SIZE && wparam == SIZE_MINIMIZED) break;
        if (msg == WM_MOVE && static_cast<int16_t>(LOWORD(lparam)) < -9999 &&
            static_cast<int16_t>(HIWORD(lparam)) < -9999)
            return 0;
        LPARAM point = sync_offset_size(hwnd, face, msg, lparam);
        make_event(hwnd, msg, wparam, point, 0, msg == WM_MOVE ? E_MOVE : E_RESIZE);
        Cell* again = face_of(hwnd);
        if (msg == WM_SIZE && again && type_of(facet(again, sym.state)) == TYPE_BLOCK &&
            (!loop.in_size_move || wparam == SIZE_MAXIMIZED))
            make_event(hwnd, msg, wparam, point, 0, E_RESIZE);
        return 0;
    }
    case WM_WINDOWPOSCHANGED: {
        const auto* wp = reinterpret_cast<const WINDOWPOS*>(lparam);
        // Layered pop-ups follow the window, but not to the place a
        // minimized window is parked at.
        bool moved = !(wp->flags & SWP_NOMOVE) || !(wp->flags & SWP_NOSIZE) ||
                     (wp->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW | SWP_STATE_CHANGED));
        if (moved && !(wp->x < -9999 && wp->y < -9999)) follow_layered(face);
        if (window && (wp->flags & SWP_STATE_CHANGED)) {
            LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
            if (!(style & WS_MINIMIZE)) {
                RECT rc;
                GetClientRect(hwnd, &rc);
                sync_offset_size(hwnd, face, WM_SIZE, MAKELPARAM(rc.right, rc.bottom));
                sync_offset_size(hwnd, face, WM_MOVE, 0);
            }
            int32_t type = style & WS_MINIMIZE   ? E_MINIMIZE
                           : style & WS_MAXIMIZE ? E_MAXIMIZE
                                                 : E_RESTORE;
            make_event(hwnd, msg, wparam, lparam, 0, type);
        }
        break;
    }
    case WM_MOX_STATE:
        change_window_state(hwnd, static_cast<int32_t>(wparam));
        return 0;
    case WM_ENTERSIZEMOVE:
        if (window) loop.in_size_move = true;
        break;
    case WM_MOVING:
    case WM_SIZING:
        if (!window || !lparam) break;
        sizing_moving(hwnd, face, msg, wparam, *reinterpret_cast<const RECT*>(lparam));
        return TRUE;
    case WM_DPICHANGED:
        if (type_of(facet(face, sym.state)) != TYPE_BLOCK) return 0;
        dpi_changed(hwnd, face, window, wparam, reinterpret_cast<const RECT*>(lparam));
        break;
    case WM_EXITSIZEMOVE:
        if (!window) break;
        loop.in_size_move = false;
        make_event(hwnd, msg, wparam, lparam, 0, r->sizing == E_MOVING ? E_MOVE : E_RESIZE);
        return 0;
    case WM_ACTIVATE:
        if (!window) break;
        if (LOWORD(wparam)) {
            make_event(hwnd, msg, wparam, lparam, 0, E_FOCUS);
            // The activated window hands the keyboard focus to its selected
            // face (the console's terminal face), which gets the keys.
            if (Cell* again = face_of(hwnd)) {
                const Cell* sel = facet(again, sym.selected);
                if (type_of(sel) == TYPE_OBJECT) {
                    if (HWND child = face_handle(sel)) SetFocus(child);
                }
            }
            return 0;
        }
        make_event(hwnd, msg, wparam, lparam, 0, E_UNFOCUS);
        break;
    case WM_GESTURE:
        gesture(hwnd, wparam, lparam);
        break;
    case WM_COMMAND:
        process_command(hwnd, wparam, lparam);
        break;
    case WM_NOTIFY: {
        LRESULT res = 0;
        if (notify_widget(reinterpret_cast<const NMHDR*>(lparam), &res)) return res;
        break;
    }
    case WM_MENUSELECT:
        store_menu_selection(wparam, lparam);
        return 0;
    case WM_ENTERMENULOOP:
        if (!wparam) clear_menu_selection();
        break;
    case WM_HSCROLL:
    case WM_VSCROLL: {
        HWND control = reinterpret_cast<HWND>(lparam);
        if (!control) {
            make_event(hwnd, msg, wparam, lparam, 0, E_SCROLL);
            return 0;
        }
        WindowRecord* cr = record_of(control);
        Cell* cf = face_of(control);
        if (!cr || !cf) return 0;
        Cell* cface = stack::push(cf);
        if (cr->type == FT_SLIDER) {
            RECT rc;
            GetClientRect(control, &rc);
            LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
            int32_t pos = static_cast<int32_t>(SendMessageW(control, TBM_GETPOS, 0, 0));
            int32_t length = static_cast<int32_t>(SendMessageW(control, TBM_GETRANGEMAX, 0, 0));
            if (style & TBS_VERT) pos = length - pos;
            Cell v;
            make_float(&v, length > 0 ? static_cast<double>(pos) / length : 0.0,
                       type_of(facet(cface, sym.data)) == TYPE_FLOAT ? TYPE_FLOAT : TYPE_PERCENT);
            set_facet(cface, sym.data, &v);
            make_event(control, msg, wparam, lparam, 0, E_CHANGE);
        } else if (cr->type == FT_SCROLLER) {
            static const uint32_t steps = symbol::make("steps");
            if (LOWORD(wparam) == SB_ENDSCROLL) return 0;
            SCROLLINFO si{};
            si.cbSize = sizeof si;
            si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
            GetScrollInfo(control, SB_CTL, &si);
            int32_t range = si.nMax - si.nMin;
            int32_t sign = LOWORD(wparam) == SB_LINEUP || LOWORD(wparam) == SB_PAGEUP ? -1 : 1;
            switch (LOWORD(wparam)) {
            case SB_LINEUP:
            case SB_LINEDOWN:
                // A line is the face's steps of the range, and stops at its
                // ends; a face without steps moves one position.
                si.nPos += sign * scroll_step(facet(cface, steps), range, 1);
                if (si.nPos < si.nMin) si.nPos = si.nMin;
                if (si.nPos > si.nMax) si.nPos = si.nMax;
                break;
            case SB_PAGEUP:
            case SB_PAGEDOWN:
                // A page is the part of the range the face shows; the bar
                // itself keeps the thumb inside, the face sees the step.
                si.nPos += sign * scroll_step(facet(cface, sym.selected), range,
                                              static_cast<int32_t>(si.nPage));
                break;
            case SB_THUMBTRACK:
                si.nPos = static_cast<int16_t>(HIWORD(wparam));
                break;
            default:
                break;
            }
            si.fMask = SIF_POS;
            SetScrollInfo(control, SB_CTL, &si, TRUE);
            Cell v;
            make_float(&v, range > 0 ? static_cast<double>(si.nPos - si.nMin) / range : 0.0);
            set_facet(cface, sym.data, &v);
            make_float(&v, range > 0 ? static_cast<double>(si.nPage) / range : 0.0, TYPE_PERCENT);
            set_facet(cface, sym.selected, &v);
            make_event(control, msg, wparam, lparam, 0, E_CHANGE);
        }
        return 0;
    }
    case WM_PAINT:
        if (type_of(facet(face, sym.draw)) == TYPE_BLOCK && paint_face(hwnd, face, false)) return 0;
        break;
    case WM_ERASEBKGND: {
        // A face that draws itself paints its whole client area: erasing
        // first would only show the background for a moment.
        HDC dc = reinterpret_cast<HDC>(wparam);
        if (type_of(facet(face, sym.draw)) == TYPE_BLOCK || paint_image_gdiplus(hwnd, dc, face))
            return 1;
        // A tab page shows the colour of the tab control's display area.
        if (face_type(facet(face, sym.parent)) == FT_TAB_PANEL) {
            RECT rc;
            GetClientRect(hwnd, &rc);
            FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
            return 1;
        }
        break;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        Cell* cf = face_of(reinterpret_cast<HWND>(lparam));
        if (!cf) break;
        HDC dc = reinterpret_cast<HDC>(wparam);
        COLORREF text, back;
        const Cell* font = facet(cf, sym.font);
        bool has_text = type_of(font) == TYPE_OBJECT && face_color(font, sym.color, &text);
        if (has_text) SetTextColor(dc, text);
        if (face_color(cf, sym.color, &back)) {
            SetBkColor(dc, back);
            if (!has_text) SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetDCBrushColor(dc, back);
            return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
        }
        if (has_text) {
            if (msg == WM_CTLCOLORSTATIC) {
                SetBkMode(dc, TRANSPARENT);
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
        }
        break;
    }
    case WM_SETCURSOR: {
        WindowRecord* target = record_of(reinterpret_cast<HWND>(wparam));
        if (target && target->cursor) {
            SetCursor(target->cursor);
            return 1;
        }
        break;
    }
    case WM_LBUTTONDOWN:
        SetCapture(hwnd);
        return 0;
    case WM_LBUTTONUP:
        ReleaseCapture();
        return 0;
    case WM_CLOSE:
        if (r->close_passes) break;
        if (!window) return 0;
        SetFocus(hwnd);
        if (make_event(hwnd, msg, wparam, lparam, 0, E_CLOSE) == 0) PostQuitMessage(0);
        return 0;
    case WM_GETMINMAXINFO:
        if (window && lparam &&
            update_min_max_info(hwnd, face, reinterpret_cast<MINMAXINFO*>(lparam)))
            return 0;
        break;
    case WM_DISPLAYCHANGE:
        refresh_screens();
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        break;
    case WM_THEMECHANGED:
        if (!window) break;
        set_default_font(hwnd);
        relayout_children(facet(face, sym.pane), 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

bool face_color(const Cell* face, uint32_t field, COLORREF* out) {
    const Cell* c = facet(face, field);
    if (type_of(c) != TYPE_TUPLE) return false;
    const uint8_t* b = tuple::bytes_of(c);
    *out = RGB(b[0], b[1], b[2]);
    return true;
}

} // namespace

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (!keep_record(hwnd, msg, lparam, false)) return FALSE;
    LRESULT result = 0;
    bool handled = guarded([&] {
        // A closed face's window only gets the default handling, also for
        // the close that destroys it.
        WindowRecord* r = record_of(hwnd);
        if (msg == WM_CLOSE && r && r->close_passes)
            result = DefWindowProcW(hwnd, msg, wparam, lparam);
        else
            result = handle_window(hwnd, msg, wparam, lparam);
    });
    if (!handled) result = DefWindowProcW(hwnd, msg, wparam, lparam);
    keep_record(hwnd, msg, lparam, true);
    return result;
}

LRESULT control_proc(int32_t cls, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (!keep_record(hwnd, msg, lparam, false)) return FALSE;
    WNDPROC base_proc = base_proc_of(cls);
    LRESULT result = 0;
    bool done = false;
    guarded([&] {
        WindowRecord* r = record_of(hwnd);
        FaceType type = r ? r->type : FT_OTHER;
        switch (msg) {
        case WM_KEYUP:
        case WM_LBUTTONUP:
            // The user's selection is read back and announced before the
            // control sees the message.
            if (type == FT_FIELD || type == FT_AREA) {
                if (Cell* found = face_of(hwnd)) {
                    get_selected(hwnd, stack::push(found));
                    make_event(hwnd, msg, wparam, lparam, 0, EV_SELECT);
                }
            }
            if (msg == WM_LBUTTONUP && type == FT_TEXT) {
                ReleaseCapture();
                done = true;
            }
            break;
        case WM_CHAR:
            if (type == FT_FIELD && (wparam == VK_RETURN || wparam == VK_TAB)) done = true;
            if (type == FT_AREA && wparam == 1) {
                SendMessageW(hwnd, EM_SETSEL, 0, -1);
                result = 1;
                done = true;
            }
            break;
        case WM_PASTE:
            // The control would cut the pasted text at its limit.
            if ((type == FT_FIELD || type == FT_AREA) &&
                IsClipboardFormatAvailable(CF_UNICODETEXT) && OpenClipboard(hwnd)) {
                size_t length = 0;
                if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
                    if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
                        length = wcslen(text);
                        GlobalUnlock(data);
                    }
                }
                CloseClipboard();
                extend_text_limit(hwnd, length);
            }
            break;
        case WM_COMMAND:
            // A menu shown over a drop-down reports its choice here.
            if ((type == FT_DROP_DOWN || type == FT_DROP_LIST) && menu_command_q(wparam, lparam)) {
                do_menu_event(hwnd);
                done = true;
            }
            break;
        case WM_MENUSELECT:
            if (type == FT_DROP_DOWN || type == FT_DROP_LIST) {
                store_menu_selection(wparam, lparam);
                done = true;
            }
            break;
        case WM_DESTROY:
            if (type == FT_BUTTON || type == FT_TOGGLE) free_button_images(hwnd);
            break;
        case WM_NCHITTEST:
            if (type == FT_TEXT) {
                result = HTCLIENT;
                done = true;
            }
            break;
        case WM_LBUTTONDOWN:
            if (type == FT_TEXT) {
                SetCapture(hwnd);
                done = true;
            } else if (type == FT_CALENDAR) {
                SetFocus(hwnd);
            }
            break;
        default:
            break;
        }
    });
    if (!done) result = CallWindowProcW(base_proc, hwnd, msg, wparam, lparam);
    keep_record(hwnd, msg, lparam, true);
    return result;
}

void CALLBACK timer_proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time) {
    guarded([&] { make_event(hwnd, WM_TIMER, id, 0, 0, E_TIME); });
}

void end_owning_level() {
    for (size_t i = loop.levels.size(); i-- > 0;) {
        if (!loop.levels[i].ending) {
            loop.levels[i].ending = true;
            if (i + 1 == loop.levels.size()) PostQuitMessage(0);
            return;
        }
    }
}

// Waiting: one loop level until its WM_QUIT; when an outer level's window
// went meanwhile, its quit follows. No wait: at most one message.
bool do_events(bool no_wait, bool* quit_kept) {
    int32_t saved_keys = loop.injected_key_flags;
    loop.injected_key_flags = -1;
    bool result = false;
    MSG m;
    if (no_wait) {
        if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            result = true;
            // A quit meant for a waiting level goes back for it.
            if (m.message == WM_QUIT) {
                if (!loop.levels.empty()) {
                    PostQuitMessage(static_cast<int>(m.wParam));
                    if (quit_kept) *quit_kept = true;
                }
            } else {
                dispatch_one(m);
            }
        }
    } else {
        if (loop.levels.size() >= MAX_LEVELS) {
            loop.injected_key_flags = saved_keys;
            fire(err::too_deep);
        }
        loop.levels.push_back(Level{false});
        while (GetMessageW(&m, nullptr, 0, 0) > 0) {
            result = true;
            dispatch_one(m);
        }
        loop.levels.pop_back();
        if (!loop.levels.empty() && loop.levels.back().ending) PostQuitMessage(0);
    }
    loop.injected_key_flags = saved_keys;
    return result;
}

void do_event_loop_star() {
    bool no_wait = type_of(stack::arguments) == TYPE_LOGIC && stack::arguments->data1;
    make_logic(stack::arguments, do_events(no_wait));
}

// A handler run by the flush that flushes again would take the messages
// queued behind its own out of order: it returns at once instead. A quit
// kept for a waiting level ends the flush, which would only take it again.
void flush_events() {
    static bool flushing = false;
    if (flushing) return;
    flushing = true;
    struct Done {
        ~Done() { flushing = false; }
    } done;
    bool quit_kept = false;
    while (do_events(true, &quit_kept) && !quit_kept) {
    }
}

POINT get_frame_size(HWND hwnd) {
    RECT window{}, client{};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    return POINT{(window.right - window.left) - (client.right - client.left),
                 (window.bottom - window.top) - (client.bottom - client.top)};
}

int32_t vkey_to_char(uint32_t vkey) {
    BYTE keys[256];
    if (!GetKeyboardState(keys)) return -1;
    WCHAR units[10];
    UINT scan = MapVirtualKeyW(vkey, 0);
    int n = ToUnicode(vkey, scan, keys, units, 10, 0);
    return n == 0 ? -1 : units[0] & 0xFF;
}

void exit_event_loop_star() {
    PostQuitMessage(0);
    make_none(stack::arguments);
}

// A made event becomes the message its type stands for, sent to its face's
// window (or posted).
void send_event_os_star() {
    Cell* a = stack::arguments;
    bool post = type_of(a + 1) == TYPE_LOGIC && a[1].data1;
    bool ok = false;
    if (a->header & event::FLAG_MADE) {
        Cell* face = event::get_field(a, event::F_FACE);
        HWND hwnd = face_handle(face);
        int32_t type = static_cast<int32_t>(a->data1);
        uint32_t flags = a->data3;
        if (hwnd && type >= E_MINIMIZE && type <= E_RESTORE) {
            LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
            WindowRecord* r = record_of(hwnd);
            bool allowed = r && r->type == FT_WINDOW &&
                           !(type == E_MINIMIZE && !(style & WS_MINIMIZEBOX)) &&
                           !(type == E_MAXIMIZE && !(style & WS_MAXIMIZEBOX));
            if (allowed) {
                ok = post ? PostMessageW(hwnd, WM_MOX_STATE, static_cast<WPARAM>(type), 0) != 0
                          : change_window_state(hwnd, type);
            }
        } else if (hwnd) {
            UINT msg = 0;
            WPARAM wparam = 0;
            bool mouse = true;
            switch (type) {
            case E_DOWN:
                msg = WM_LBUTTONDOWN;
                wparam = MK_LBUTTON;
                break;
            case E_UP:
                msg = WM_LBUTTONUP;
                break;
            case E_MID_DOWN:
                msg = WM_MBUTTONDOWN;
                wparam = MK_MBUTTON;
                break;
            case E_MID_UP:
                msg = WM_MBUTTONUP;
                break;
            case E_ALT_DOWN:
                msg = WM_RBUTTONDOWN;
                wparam = MK_RBUTTON;
                break;
            case E_ALT_UP:
                msg = WM_RBUTTONUP;
                break;
            case E_AUX_DOWN:
                msg = WM_XBUTTONDOWN;
                wparam = 0x10020;
                break;
            case E_AUX_UP:
                msg = WM_XBUTTONUP;
                wparam = 0x10000;
                break;
            case E_DBL_CLICK:
                msg = WM_LBUTTONDBLCLK;
                wparam = MK_LBUTTON;
                break;
            case E_WHEEL:
                msg = WM_MOUSEWHEEL;
                break;
            case E_OVER:
                msg = flags & event::AWAY ? WM_MOUSELEAVE : WM_MOUSEMOVE;
                break;
            case E_KEY:
                msg = WM_CHAR;
                wparam = flags & 0xFFFF;
                mouse = false;
                break;
            case E_KEY_DOWN:
            case E_KEY_UP:
                msg = type == E_KEY_DOWN ? WM_KEYDOWN : WM_KEYUP;
                wparam = VkKeyScanW(static_cast<WCHAR>(flags & 0xFFFF)) & 0xFF;
                mouse = false;
                break;
            default:
                break;
            }
            if (msg) {
                LPARAM lparam = 0;
                POINT pt{0, 0};
                if (mouse) {
                    if (flags & event::CONTROL) wparam |= MK_CONTROL;
                    if (flags & event::SHIFT) wparam |= MK_SHIFT;
                    if (flags & event::DOWN) wparam |= MK_LBUTTON;
                    if (flags & event::ALT_DOWN) wparam |= MK_RBUTTON;
                    if (flags & event::MID_DOWN) wparam |= MK_MBUTTON;
                    if (flags & event::AUX_DOWN) wparam |= MK_XBUTTON1;
                    Cell* offset = event::get_field(a, event::F_OFFSET);
                    POINT p{dpi_scale(coord(offset, false)), dpi_scale(coord(offset, true))};
                    if (msg == WM_MOUSEWHEEL || msg == WM_MOUSELEAVE) ClientToScreen(hwnd, &p);
                    if (msg == WM_MOUSEWHEEL) {
                        Cell* picked = event::get_field(a, event::F_PICKED);
                        if (type_of(picked) == TYPE_INTEGER)
                            wparam += static_cast<WPARAM>(
                                          static_cast<uint16_t>(get_integer(picked) * 120))
                                      << 16;
                    }
                    if (msg == WM_MOUSELEAVE) pt = p;
                    lparam = static_cast<LPARAM>((static_cast<uint32_t>(p.y) << 16) |
                                                 (static_cast<uint32_t>(p.x) & 0xFFFF));
                    if (msg == WM_MOUSEMOVE) loop.last_mouse = -1;
                    if (msg == WM_MOUSEMOVE || msg == WM_LBUTTONUP) wparam |= 0x8000;
                }
                if (post) {
                    ok = PostMessageW(hwnd, msg, wparam, lparam) != 0;
                } else {
                    MSG m{hwnd, msg, wparam, lparam, 0, pt};
                    int32_t saved = loop.injected_key_flags;
                    if (!mouse) loop.injected_key_flags = static_cast<int32_t>(flags & 0x73C00000);
                    if (pre_process(m) > 0) DispatchMessageW(&m);
                    loop.injected_key_flags = saved;
                    ok = true;
                }
            }
        }
    }
    make_logic(stack::arguments, ok);
}

} // namespace mox::gui::win
