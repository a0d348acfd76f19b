// Native widgets kept in step with their faces: the items of list and combo
// boxes, the tabs and pages of tab panels, calendars, cursors from the
// cursor option, the caret face, and dark mode.
//
// Only string-like values (string!, file!, url!, tag!, email!, ref!) of a
// data block become items or tabs, and positions in the widget count only
// those values.
#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/image-store.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

bool string_like_q(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
        return true;
    default:
        return false;
    }
}

std::u16string wide_text(const Cell* value) {
    if (!string_like_q(value)) return {};
    Cell* base = stack::top;
    Cell* s = stack::push(value);
    int32_t length = -1;
    const char16_t* units = unicode::to_utf16_part(s, &length, false);
    std::u16string out = units ? std::u16string(units, static_cast<size_t>(length)) : u"";
    stack::top = base;
    return out;
}

namespace {

// The values of a data facet as a block cell pushed on the stack (a map!
// gives its key and value block), or null for any other value.
Cell* push_items(const Cell* data) {
    if (type_of(data) == TYPE_BLOCK || type_of(data) == TYPE_HASH) return stack::push(data);
    if (type_of(data) == TYPE_MAP) return make_series(stack::push_cell(), TYPE_BLOCK, data->data2);
    return nullptr;
}

bool same_series(const Cell* a, const Cell* b) {
    auto series = [](const Cell* c) {
        return is_any_block(type_of(c)) || is_any_string(type_of(c)) || type_of(c) == TYPE_BINARY;
    };
    return series(a) && series(b) && a->data2 == b->data2;
}

// The widget position of the value at index of a data block: the number of
// string-like values before it, from the block's head.
int32_t list_position(const Cell* items, int32_t index) {
    int32_t pos = 0, n = block::rs_length_q(items);
    int32_t head = static_cast<int32_t>(items->data1);
    for (int32_t i = 0; i < n && head + i < index; i++)
        if (string_like_q(block::rs_head(items) + i)) pos++;
    return pos;
}

int32_t integer_facet(const Cell* face, uint32_t symbol, int32_t otherwise) {
    const Cell* v = facet(face, symbol);
    return type_of(v) == TYPE_INTEGER ? get_integer(v) : otherwise;
}

void set_integer_facet(const Cell* face, uint32_t symbol, int32_t n) {
    Cell v;
    make_integer(&v, n);
    set_facet(face, symbol, &v);
}

uint32_t action_symbol(const char* name) { return symbol::make(name); }

bool action_in(const Cell* action, std::initializer_list<const char*> names) {
    if (!is_any_word(type_of(action))) return false;
    for (const char* n : names)
        if (same_word(action->data2, action_symbol(n))) return true;
    return false;
}

} // namespace

// --- lists and combo boxes ------------------------------------------------

void set_list_extent(HWND hwnd, const std::u16string& text) {
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.c_str()),
                          static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    SendMessageW(hwnd, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(size.cx + 4), 0);
}

// The items of a list box from the face's data, then its selection. May
// collect.
void set_list_data(HWND hwnd, const Cell* face_in) {
    Cell* base = stack::top;
    Cell* face = stack::push(face_in);
    SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
    Cell* items = push_items(facet(face, sym.data));
    std::u16string longest;
    bool any = false;
    for (int32_t i = 0; items && i < block::rs_length_q(items); i++) {
        const Cell* v = block::rs_head(items) + i;
        if (!string_like_q(v)) continue;
        std::u16string text = wide_text(v);
        SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (!any || text.size() > longest.size()) longest = text;
        any = true;
    }
    WindowRecord* r = record_of(hwnd);
    if (r) r->list_longest = static_cast<int32_t>(longest.size());
    if (any) set_list_extent(hwnd, longest);
    const Cell* sel = facet(face, sym.selected);
    if (type_of(sel) == TYPE_INTEGER) {
        int32_t n = get_integer(sel);
        SendMessageW(hwnd, LB_SETCURSEL, n > 0 ? n - 1 : -1, 0);
    } else {
        set_integer_facet(face, sym.selected, -1);
    }
    stack::top = base;
}

// The items of a combo box from the face's data; a drop-list, or a face
// without text, then selects from selected, a drop-down shows its text. May
// collect.
void set_combo_data(HWND hwnd, const Cell* face_in, bool drop_list) {
    Cell* base = stack::top;
    Cell* face = stack::push(face_in);
    Cell* items = push_items(facet(face, sym.data));
    if (items) {
        SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
        for (int32_t i = 0; i < block::rs_length_q(items); i++) {
            const Cell* v = block::rs_head(items) + i;
            if (!string_like_q(v)) continue;
            std::u16string text = wide_text(v);
            SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
    }
    const Cell* text = facet(face, sym.text);
    if (type_of(text) != TYPE_STRING || drop_list) {
        const Cell* sel = facet(face, sym.selected);
        if (type_of(sel) == TYPE_INTEGER) SendMessageW(hwnd, CB_SETCURSEL, get_integer(sel) - 1, 0);
    } else {
        std::u16string t = wide_text(text);
        SetWindowTextW(hwnd, reinterpret_cast<LPCWSTR>(t.c_str()));
    }
    stack::top = base;
}

// The text of a drop-down's item into its face's text (in place when it
// is a string). May collect.
void read_combo_item(HWND hwnd, Cell* face, int32_t index) {
    LRESULT n = SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n < 0) return;
    std::u16string text(static_cast<size_t>(n) + 1, u'\0');
    n = SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(text.data()));
    if (n < 0) return;
    Cell* current = facet(face, sym.text);
    if (type_of(current) == TYPE_STRING) {
        Cell* target = stack::push(current);
        target->data1 = 0;
        unicode::load_utf16(text.data(), static_cast<uint32_t>(n), target, false);
        stack::top = target;
    } else {
        Cell s;
        make_series(&s, TYPE_STRING,
                    unicode::load_utf16(text.data(), static_cast<uint32_t>(n), nullptr, false));
        set_facet(face, sym.text, &s);
    }
}

namespace {

void insert_list_item(HWND hwnd, const Cell* value, int32_t pos, bool combo) {
    if (!string_like_q(value)) return;
    std::u16string text = wide_text(value);
    int32_t count =
        static_cast<int32_t>(SendMessageW(hwnd, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
    if (pos > count) pos = count;
    if (pos < 0) pos = 0;
    SendMessageW(hwnd, combo ? CB_INSERTSTRING : LB_INSERTSTRING, static_cast<WPARAM>(pos),
                 reinterpret_cast<LPARAM>(text.c_str()));
    WindowRecord* r = record_of(hwnd);
    if (!combo && r && static_cast<int32_t>(text.size()) > r->list_longest) {
        r->list_longest = static_cast<int32_t>(text.size());
        set_list_extent(hwnd, text);
    }
}

void delete_list_item(HWND hwnd, int32_t pos, bool combo) {
    SendMessageW(hwnd, combo ? CB_DELETESTRING : LB_DELETESTRING, static_cast<WPARAM>(pos), 0);
}

// The selection of a list or combo box from its face again (an item
// deleted and inserted again loses it).
void reselect(HWND hwnd, const Cell* face, bool combo) {
    int32_t n = integer_facet(face, sym.selected, 0);
    SendMessageW(hwnd, combo ? CB_SETCURSEL : LB_SETCURSEL, n > 0 ? n - 1 : -1, 0);
}

} // namespace

// A change inside a list's data applied in place: values leaving are
// removed from the widget before the change, values arriving inserted
// after it. A changed item string is put back at its own position. May
// collect.
void update_list_data(Cell* face, Cell* target, const Cell* action, int32_t index, int32_t part,
                      bool combo) {
    HWND hwnd = face_handle(face);
    if (!hwnd) return;
    Cell* base = stack::top;
    Cell* items = push_items(facet(face, sym.data));
    if (!items) {
        stack::top = base;
        return;
    }
    if (same_series(target, items)) {
        int32_t pos = list_position(items, index);
        int32_t length = static_cast<int32_t>(block::rs_length_q(items) + items->data1);
        if (part < 0) part = 0;
        if (index + part > length) part = length - index > 0 ? length - index : 0;
        Cell at;
        make_series(&at, TYPE_BLOCK, items->data2, static_cast<uint32_t>(index));
        Cell* from = stack::push(&at);
        if (action_in(action, {"remove", "take", "clear", "reverse", "put", "poke", "move"})) {
            if (!action_in(action, {"move"})) ownership::unbind_range(from, index, part);
            if (action_in(action, {"clear"}) && index == 0) {
                SendMessageW(hwnd, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
            } else {
                for (int32_t i = 0; i < part; i++)
                    if (string_like_q(block::rs_head(from) + i)) delete_list_item(hwnd, pos, combo);
            }
        } else if (action_in(action,
                             {"inserted", "appended", "poked", "put-ed", "reversed", "moved"})) {
            Cell* field = word::push_symbol(sym.data);
            for (int32_t i = 0; i < part && i < block::rs_length_q(from); i++) {
                Cell* v = stack::push(block::rs_head(from) + i);
                if (string_like_q(v)) {
                    insert_list_item(hwnd, v, pos++, combo);
                    ownership::bind(v, face, field);
                }
                stack::top = v;
            }
        }
    } else if (string_like_q(target)) {
        for (int32_t i = 0, pos = 0; i < block::rs_length_q(items); i++) {
            const Cell* v = block::rs_head(items) + i;
            if (!string_like_q(v)) continue;
            if (same_series(v, target)) {
                Cell* item = stack::push(v);
                delete_list_item(hwnd, pos, combo);
                insert_list_item(hwnd, item, pos, combo);
                reselect(hwnd, face, combo);
                break;
            }
            pos++;
        }
    }
    stack::top = base;
}

// --- tab panels -----------------------------------------------------------

namespace {

void insert_tab(HWND hwnd, const Cell* value, int32_t pos) {
    std::u16string text = wide_text(value);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = reinterpret_cast<LPWSTR>(text.data());
    item.cchTextMax = static_cast<int>(text.size());
    item.iImage = -1;
    SendMessageW(hwnd, TCM_INSERTITEMW, static_cast<WPARAM>(pos), reinterpret_cast<LPARAM>(&item));
    if (!g.composition) InvalidateRect(hwnd, nullptr, FALSE);
}

// The page face at a 1-based position of a tab panel's pane, pushed, or null.
Cell* push_page(const Cell* face, int32_t n) {
    const Cell* pane = facet(face, sym.pane);
    if (type_of(pane) != TYPE_BLOCK || n < 1 || n > block::rs_length_q(pane)) return nullptr;
    const Cell* page = block::rs_head(pane) + n - 1;
    return type_of(page) == TYPE_OBJECT ? stack::push(page) : nullptr;
}

void show_page(Cell* page, bool shown) {
    Cell v;
    make_logic(&v, shown);
    set_facet(page, sym.visible_q, &v);
    HWND hwnd = face_handle(page);
    if (!hwnd) return;
    ShowWindow(hwnd, shown ? SW_SHOW : SW_HIDE);
    if (shown) BringWindowToTop(hwnd);
}

// The page of the new tab is shown, every other page hidden: a selection
// set from the language side has already replaced the face's selected by
// the time the control changes, so the previous page is not known there.
void show_tab_page(Cell* face, int32_t index) {
    Cell* base = stack::top;
    if (Cell* page = push_page(face, index + 1); page && face_handle(page)) show_page(page, true);
    stack::top = base;
    const Cell* pane = facet(face, sym.pane);
    int32_t n = type_of(pane) == TYPE_BLOCK ? block::rs_length_q(pane) : 0;
    for (int32_t i = 1; i <= n; i++) {
        Cell* page = i == index + 1 ? nullptr : push_page(face, i);
        if (page && face_handle(page)) {
            const Cell* v = facet(page, sym.visible_q);
            if (!(type_of(v) == TYPE_LOGIC && !v->data1)) show_page(page, false);
        }
        stack::top = base;
    }
}

} // namespace

// The tabs from the strings of the face's data, then the selected one
// (clamped to the tabs there are). May collect.
void set_tabs_data(HWND hwnd, const Cell* face_in) {
    Cell* base = stack::top;
    Cell* face = stack::push(face_in);
    SendMessageW(hwnd, TCM_DELETEALLITEMS, 0, 0);
    Cell* items = push_items(facet(face, sym.data));
    int32_t count = 0;
    for (int32_t i = 0; items && i < block::rs_length_q(items); i++) {
        const Cell* v = block::rs_head(items) + i;
        if (string_like_q(v)) insert_tab(hwnd, v, count++);
    }
    const Cell* sel = facet(face, sym.selected);
    if (type_of(sel) == TYPE_INTEGER) {
        int32_t n = get_integer(sel);
        if (n < 1) n = 1;
        if (n > count) n = count;
        set_integer_facet(face, sym.selected, n);
        if (n >= 1) select_tab(hwnd, n - 1);
    } else {
        set_integer_facet(face, sym.selected, 1);
    }
    stack::top = base;
}

// Selects a tab as a click would: select, then (unless it was refused)
// change, once each; the tab already selected raises nothing, as a click on
// it does not. The control is moved with TCM_SETCURSEL, which notifies
// nobody. May collect.
void select_tab(HWND hwnd, int32_t index) {
    if (index == SendMessageW(hwnd, TCM_GETCURSEL, 0, 0)) return;
    if (on_tab_changing(hwnd)) return;
    SendMessageW(hwnd, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    on_tab_changed(hwnd);
}

// TCN_SELCHANGING: raises select with the current tab; true refuses the
// change (the handler answered stop). May collect.
bool on_tab_changing(HWND hwnd) {
    if (!face_of(hwnd)) return false;
    int32_t current = static_cast<int32_t>(SendMessageW(hwnd, TCM_GETCURSEL, 0, 0));
    return make_event(hwnd, WM_NOTIFY, 0, 0, static_cast<uint32_t>(current), EV_SELECT) == 0;
}

// TCN_SELCHANGE: shows the new page, raises change and stores the
// selection. May collect.
void on_tab_changed(HWND hwnd) {
    Cell* found = face_of(hwnd);
    if (!found) return;
    Cell* base = stack::top;
    Cell* face = stack::push(found);
    int32_t index = static_cast<int32_t>(SendMessageW(hwnd, TCM_GETCURSEL, 0, 0));
    show_tab_page(face, index);
    make_event(hwnd, WM_NOTIFY, 0, 0, static_cast<uint32_t>(index + 1), EV_CHANGE);
    if (face_of(hwnd)) set_integer_facet(face, sym.selected, index + 1);
    stack::top = base;
}

// A tab page's offset and size from its tab control's display area.
void fit_tab_page(Cell* page, HWND tab) {
    RECT client, display;
    GetClientRect(tab, &client);
    display = client;
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    float x = static_cast<float>(display.left - client.left);
    float y = static_cast<float>(display.top - client.top);
    float w = static_cast<float>(display.right - display.left);
    float h = static_cast<float>(display.bottom - display.top);
    if (g.scale == 1.0f) {
        x -= 3;
        y -= 1;
        w += 4;
        h += 3;
    } else {
        x = dpi_unscale(x);
        y = dpi_unscale(y);
        w = dpi_unscale(w);
        h = dpi_unscale(h);
    }
    Cell v;
    point2D::make_cell(&v, x, y);
    set_facet(page, sym.offset, &v);
    if (type_of(facet(page, sym.size)) == TYPE_PAIR)
        pair::make_cell(&v, static_cast<int32_t>(w), static_cast<int32_t>(h));
    else
        point2D::make_cell(&v, w, h);
    set_facet(page, sym.size, &v);
}

// A page window becomes a sibling of its tab control, placed over the
// control's display area.
void place_tab_page(HWND page, HWND tab, int32_t x, int32_t y) {
    HWND parent = GetParent(tab);
    RECT rc;
    GetWindowRect(tab, &rc);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
    SetParent(page, parent);
    SetWindowPos(page, nullptr, rc.left + x, rc.top + y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// An offset (1), size (2) or visibility (9) change of a tab panel carried
// to its pages. May collect.
void update_tab_panel(HWND hwnd, Cell* face, int32_t which) {
    Cell* base = stack::top;
    const Cell* pane = facet(face, sym.pane);
    int32_t n = type_of(pane) == TYPE_BLOCK ? block::rs_length_q(pane) : 0;
    for (int32_t i = 1; i <= n; i++) {
        Cell* page = push_page(face, i);
        HWND ph = page ? face_handle(page) : nullptr;
        if (!ph) {
            stack::top = base;
            continue;
        }
        if (which == 9) {
            if (i == integer_facet(face, sym.selected, 0)) {
                const Cell* v = facet(face, sym.visible_q);
                show_page(page, type_of(v) == TYPE_LOGIC && v->data1);
            }
        } else {
            fit_tab_page(page, hwnd);
            int32_t x = dpi_scale(coord(facet(page, sym.offset), false));
            int32_t y = dpi_scale(coord(facet(page, sym.offset), true));
            if (which == 1) {
                place_tab_page(ph, hwnd, x, y);
            } else {
                SetWindowPos(ph, nullptr, 0, 0, dpi_scale(coord(facet(page, sym.size), false)),
                             dpi_scale(coord(facet(page, sym.size), true)),
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
        stack::top = base;
    }
}

// A change inside a tab panel's data applied to its tabs. May collect.
void update_tabs_data(Cell* face, Cell* target, const Cell* action, int32_t index, int32_t part) {
    HWND hwnd = face_handle(face);
    if (!hwnd) return;
    Cell* base = stack::top;
    Cell* items = push_items(facet(face, sym.data));
    if (!items || !same_series(target, items)) {
        set_tabs_data(hwnd, face);
        stack::top = base;
        return;
    }
    int32_t pos = list_position(items, index);
    Cell at;
    make_series(&at, TYPE_BLOCK, items->data2, static_cast<uint32_t>(index));
    Cell* from = stack::push(&at);
    if (part < 0) part = 0;
    if (action_in(action, {"remove", "take", "clear"})) {
        ownership::unbind_range(from, index, part);
        for (int32_t i = 0; i < part && i < block::rs_length_q(from); i++) {
            if (!string_like_q(block::rs_head(from) + i)) continue;
            SendMessageW(hwnd, TCM_DELETEITEM, static_cast<WPARAM>(pos), 0);
            InvalidateRect(hwnd, nullptr, TRUE);
        }
    } else if (action_in(action, {"inserted", "appended", "poke", "put"})) {
        bool replace = action_in(action, {"poke", "put"});
        for (int32_t i = 0; i < part && i < block::rs_length_q(from); i++) {
            Cell* v = stack::push(block::rs_head(from) + i);
            if (string_like_q(v)) {
                if (replace) SendMessageW(hwnd, TCM_DELETEITEM, static_cast<WPARAM>(pos), 0);
                insert_tab(hwnd, v, pos++);
            }
            stack::top = v;
        }
    }
    stack::top = base;
}

// --- button images --------------------------------------------------------

// A button's images from its image facet: one image at its own size, or a
// block of images (one per button state: normal, hot, pressed, disabled,
// focused, stylus hot; the first stands in for missing ones) at the face's
// size or at the pair that follows a single image. A button without images
// keeps its text. May collect.
void set_button_images(HWND hwnd, const Cell* face_in) {
    Cell* base = stack::top;
    Cell* face = stack::push(face_in);
    Cell* value = stack::push(facet(face, sym.image));
    std::vector<Cell*> images;
    int32_t w = 0, h = 0, slots = 1;
    if (type_of(value) == TYPE_IMAGE) {
        images.push_back(value);
        w = static_cast<int32_t>(image::width_of(value));
        h = static_cast<int32_t>(image::height_of(value));
    } else if (type_of(value) == TYPE_BLOCK) {
        int32_t n = block::rs_length_q(value);
        const Cell* size = facet(face, sym.size);
        if (n == 2 && type_of(block::rs_head(value) + 1) == TYPE_PAIR)
            size = block::rs_head(value) + 1;
        w = static_cast<int32_t>(coord(size, false));
        h = static_cast<int32_t>(coord(size, true));
        for (int32_t i = 0; i < n; i++)
            if (type_of(block::rs_head(value) + i) == TYPE_IMAGE)
                images.push_back(stack::push(block::rs_head(value) + i));
        if (n >= 2) slots = 6;
    }
    BUTTON_IMAGELIST old{};
    SendMessageW(hwnd, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&old));
    bool had = old.himl && old.himl != reinterpret_cast<HIMAGELIST>(-1);
    if (images.empty() || w <= 0 || h <= 0) {
        if (had) {
            BUTTON_IMAGELIST none{
                reinterpret_cast<HIMAGELIST>(-1), {0, 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_CENTER};
            SendMessageW(hwnd, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&none));
            ImageList_Destroy(old.himl);
            SetWindowLongPtrW(hwnd, GWL_STYLE, GetWindowLongPtrW(hwnd, GWL_STYLE) & ~BS_BITMAP);
            InvalidateRect(hwnd, nullptr, TRUE);
        }
        stack::top = base;
        return;
    }
    HIMAGELIST list = ImageList_Create(w, h, ILC_COLOR32, slots, 0);
    for (int32_t i = 0; list && i < slots; i++) {
        Cell* source = i < static_cast<int32_t>(images.size()) ? images[i] : images[0];
        Cell* scaled = image::scale(stack::push_cell(), source, static_cast<uint32_t>(w),
                                    static_cast<uint32_t>(h));
        auto bitmap = static_cast<HBITMAP>(image::to_HBITMAP(scaled));
        if (bitmap) {
            ImageList_Add(list, bitmap, nullptr);
            DeleteObject(bitmap);
        }
        stack::top = scaled;
    }
    // Wine's BM_SETSTYLE keeps only the type bits.
    LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE) | BS_BITMAP;
    SendMessageW(hwnd, BM_SETSTYLE, static_cast<WPARAM>(style), TRUE);
    if (!(GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_BITMAP))
        SetWindowLongPtrW(hwnd, GWL_STYLE, style);
    BUTTON_IMAGELIST record{list ? list : reinterpret_cast<HIMAGELIST>(-1),
                            {0, 0, 0, 0},
                            BUTTON_IMAGELIST_ALIGN_CENTER};
    BUTTON_IMAGELIST nothing{};
    SendMessageW(hwnd, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&nothing));
    SendMessageW(hwnd, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&record));
    if (had) ImageList_Destroy(old.himl);
    stack::top = base;
}

// The image list of a button goes with its window.
void free_button_images(HWND hwnd) {
    BUTTON_IMAGELIST old{};
    if (SendMessageW(hwnd, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&old)) && old.himl &&
        old.himl != reinterpret_cast<HIMAGELIST>(-1))
        ImageList_Destroy(old.himl);
}

// --- calendars ------------------------------------------------------------

int32_t clamp_year(int32_t y) { return y <= 1600 ? 1601 : y >= 10000 ? 9999 : y; }

namespace {

// The control's date into the face's data (a date without time).
void get_calendar_date(HWND hwnd, const Cell* face) {
    SYSTEMTIME st{};
    if (!SendMessageW(hwnd, MCM_GETCURSEL, 0, reinterpret_cast<LPARAM>(&st))) return;
    Cell v;
    date::make_cell(&v, clamp_year(st.wYear), st.wMonth, st.wDay, 0, 0, 0, false);
    set_facet(face, sym.data, &v);
}

} // namespace

// A date selects its day in the control; a date the control refuses (Wine
// knows no day before 1752-09-14) leaves the control as it is and the face
// gets the control's date, so the two never disagree.
void set_calendar_date(HWND hwnd, const Cell* face) {
    const Cell* data = facet(face, sym.data);
    if (type_of(data) != TYPE_DATE) return;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(clamp_year(date::year_of(data->data1)));
    st.wMonth = static_cast<WORD>(date::month_of(data->data1));
    st.wDay = static_cast<WORD>(date::day_of(data->data1));
    if (!SendMessageW(hwnd, MCM_SETCURSEL, 0, reinterpret_cast<LPARAM>(&st)))
        get_calendar_date(hwnd, face);
}

void sync_calendar(HWND hwnd, const Cell* face) {
    if (type_of(facet(face, sym.data)) == TYPE_DATE)
        set_calendar_date(hwnd, face);
    else
        get_calendar_date(hwnd, face);
}

void set_calendar_color(HWND hwnd, const Cell* face) {
    const Cell* c = facet(face, sym.color);
    COLORREF color;
    if (type_of(c) == TYPE_TUPLE) {
        const uint8_t* b = tuple::bytes_of(c);
        color = RGB(b[0], b[1], b[2]);
    } else if (type_of(c) == TYPE_NONE) {
        color = GetSysColor(COLOR_BTNFACE);
    } else {
        return;
    }
    SendMessageW(hwnd, MCM_SETCOLOR, MCSC_BACKGROUND, static_cast<LPARAM>(color));
}

// MCN_SELCHANGE: the date into the face, then change. May collect.
void on_calendar_change(HWND hwnd) {
    Cell* face = face_of(hwnd);
    if (!face) return;
    get_calendar_date(hwnd, face);
    make_event(hwnd, WM_NOTIFY, 0, 0, 0, EV_CHANGE);
}

namespace {

// NM_CUSTOMDRAW: a button's label in its face's font colour, which the
// control itself never reads. 0 leaves the drawing to the control.
LRESULT process_custom_draw(const NMCUSTOMDRAW* cd) {
    if (cd->dwDrawStage != CDDS_PREPAINT || cd->uItemState == CDIS_DISABLED) return 0;
    WindowRecord* r = record_of(cd->hdr.hwndFrom);
    FaceType type = r ? r->type : FT_OTHER;
    if (type != FT_BUTTON && type != FT_TOGGLE && type != FT_CHECK && type != FT_RADIO) return 0;
    Cell* found = face_of(cd->hdr.hwndFrom);
    if (!found || type_of(facet(found, sym.font)) != TYPE_OBJECT) return 0;
    Cell* base = stack::top;
    Cell* face = stack::push(found);
    HDC dc = cd->hdc;
    int mode = SetBkMode(dc, TRANSPARENT);
    const Cell* color = facet(facet(face, sym.font), sym.color);
    if (type_of(color) == TYPE_TUPLE) {
        const uint8_t* b = tuple::bytes_of(color);
        COLORREF c = RGB(b[0], b[1], b[2]);
        if (c) SetTextColor(dc, c);
    }
    RECT rc = cd->rc;
    // The box of a check or radio button sits left of its label.
    if (type == FT_CHECK || type == FT_RADIO) rc.left += dpi_scale(16);
    const Cell* text = facet(face, sym.text);
    if (type_of(text) == TYPE_STRING) {
        // The para's alignment as text-drawing flags; without one a label
        // is centred in its button, beside its box in a check or radio.
        const Cell* para = facet(face, sym.para);
        UINT align = type_of(para) == TYPE_OBJECT           ? get_para_flags(FT_BASE, para) & 0x0F
                     : type == FT_CHECK || type == FT_RADIO ? DT_VCENTER
                                                            : DT_CENTER | DT_VCENTER;
        std::u16string units = wide_text(text);
        DrawTextW(dc, reinterpret_cast<LPCWSTR>(units.c_str()), static_cast<int>(units.size()), &rc,
                  align | DT_SINGLELINE);
    }
    SetBkMode(dc, mode);
    stack::top = base;
    return CDRF_SKIPDEFAULT;
}

} // namespace

// The notifications of tab panels, calendars and buttons; false for the
// others.
bool notify_widget(const NMHDR* hdr, LRESULT* result) {
    *result = 0;
    if (!record_of(hdr->hwndFrom)) return true;
    switch (hdr->code) {
    case NM_CUSTOMDRAW:
        *result = process_custom_draw(reinterpret_cast<const NMCUSTOMDRAW*>(hdr));
        return *result != 0;
    case TCN_SELCHANGING:
        *result = on_tab_changing(hdr->hwndFrom) ? TRUE : FALSE;
        return true;
    case TCN_SELCHANGE:
        on_tab_changed(hdr->hwndFrom);
        return true;
    case MCN_SELCHANGE:
        on_calendar_change(hdr->hwndFrom);
        return true;
    default:
        return false;
    }
}

// --- cursors and the caret ------------------------------------------------

const Cell* option_value(const Cell* face, uint32_t key) {
    const Cell* opts = facet(face, sym.options);
    if (type_of(opts) != TYPE_BLOCK) return nullptr;
    int32_t n = block::rs_length_q(opts);
    for (int32_t i = 0; i + 1 < n; i++) {
        const Cell* k = block::rs_head(opts) + i;
        if (is_any_word(type_of(k)) && same_word(k->data2, key)) return k + 1;
    }
    return nullptr;
}

namespace {

// A cursor of an image's pixels with its hot spot at the top left. The
// icon is made from a colour and a mask bitmap (Wine's GDI+ makes no icon
// from a bitmap).
HICON image_cursor(const Cell* img) {
    uint32_t w = image::width_of(img), h = image::height_of(img);
    if (!w || !h) return nullptr;
    auto color = static_cast<HBITMAP>(image::to_HBITMAP(img));
    if (!color) return nullptr;
    // An all-zero mask: every pixel is the image's own (its alpha decides).
    std::vector<uint8_t> zeros(((w + 15) / 16) * 2 * h, 0);
    HBITMAP mask = CreateBitmap(static_cast<int>(w), static_cast<int>(h), 1, 1, zeros.data());
    ICONINFO info{FALSE, 0, 0, mask, color};
    HICON icon = mask ? CreateIconIndirect(&info) : nullptr;
    if (mask) DeleteObject(mask);
    DeleteObject(color);
    return icon;
}

} // namespace

// The cursor of the face's cursor option for WM_SETCURSOR: a word names a
// system cursor, an image becomes one; nothing leaves the class cursor.
void set_cursor(HWND hwnd, const Cell* face) {
    WindowRecord* r = record_of(hwnd);
    if (!r) return;
    r->cursor = nullptr;
    if (r->cursor_icon) DestroyIcon(r->cursor_icon);
    r->cursor_icon = nullptr;
    const Cell* v = option_value(face, sym.cursor);
    if (v && type_of(v) == TYPE_IMAGE) {
        r->cursor_icon = image_cursor(v);
        r->cursor = r->cursor_icon;
        return;
    }
    if (!v || !is_any_word(type_of(v))) return;
    struct Named {
        uint32_t* symbol;
        LPCWSTR id;
    };
    const Named names[] = {{&sym.I_beam, IDC_IBEAM},     {&sym.hand, IDC_HAND},
                           {&sym.cross, IDC_CROSS},      {&sym.resize_ns, IDC_SIZENS},
                           {&sym.resize_ew, IDC_SIZEWE}, {&sym.resize_we, IDC_SIZEWE}};
    LPCWSTR id = IDC_ARROW;
    for (const Named& n : names)
        if (same_word(v->data2, *n.symbol)) id = n.id;
    r->cursor = LoadCursorW(nullptr, id);
}

// The system caret of a caret face, in the window of the face it serves,
// sized as the face and placed at its offset.
void make_caret(HWND hwnd, const Cell* face) {
    WindowRecord* r = record_of(hwnd);
    if (!r || !r->caret_parent) return;
    const Cell* size = facet(face, sym.size);
    int32_t w = dpi_scale(coord(size, false)), h = dpi_scale(coord(size, true));
    if (!CreateCaret(r->caret_parent, nullptr, w, h)) return;
    if (WindowRecord* p = record_of(r->caret_parent)) p->flags |= WF_HAS_CARET;
    const Cell* offset = facet(face, sym.offset);
    SetCaretPos(dpi_scale(coord(offset, false)), dpi_scale(coord(offset, true)));
}

// A face whose options name a caret face's key `caret` becomes a caret: the
// value is the face whose window gets the system caret.
void attach_caret(HWND hwnd, const Cell* face) {
    static const uint32_t caret = symbol::make("caret");
    const Cell* opts = facet(face, sym.options);
    if (type_of(opts) != TYPE_BLOCK || block::rs_length_q(opts) % 2) return;
    const Cell* v = option_value(face, caret);
    WindowRecord* r = record_of(hwnd);
    if (!v || !r || type_of(v) != TYPE_OBJECT) return;
    HWND target = face_handle(v);
    if (!target) return;
    r->flags |= WF_CARET;
    r->caret_parent = target;
    make_caret(hwnd, face);
}

// Offset, visibility and enabled? changes of a caret face move, make or
// destroy the system caret.
void update_caret(HWND hwnd, const Cell* face, uint32_t offset_bit, uint32_t shown_bit,
                  uint32_t bits) {
    WindowRecord* r = record_of(hwnd);
    if (!r || !(r->flags & WF_CARET)) return;
    if (bits & shown_bit) {
        const Cell* v = facet(face, sym.visible_q);
        const Cell* e = facet(face, sym.enabled_q);
        bool shown =
            type_of(v) == TYPE_LOGIC && v->data1 && !(type_of(e) == TYPE_LOGIC && !e->data1);
        if (shown)
            make_caret(hwnd, face);
        else
            DestroyCaret();
    } else if (bits & offset_bit) {
        const Cell* offset = facet(face, sym.offset);
        SetCaretPos(dpi_scale(coord(offset, false)), dpi_scale(coord(offset, true)));
    }
}

// --- dark mode ------------------------------------------------------------

namespace {

using DarkModeFn = BOOL(WINAPI*)();

// The theme export that tells whether apps use dark mode (by ordinal only);
// Wine has none.
DarkModeFn dark_mode_fn() {
    static DarkModeFn fn = [] {
        if (!g.win10) return static_cast<DarkModeFn>(nullptr);
        HMODULE theme = LoadLibraryA("uxtheme.dll");
        return theme ? reinterpret_cast<DarkModeFn>(
                           reinterpret_cast<void*>(GetProcAddress(theme, MAKEINTRESOURCEA(132))))
                     : nullptr;
    }();
    return fn;
}

bool high_contrast_q() {
    HIGHCONTRASTW hc{};
    hc.cbSize = sizeof hc;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) &&
           (hc.dwFlags & HCF_HIGHCONTRASTON);
}

} // namespace

// Dark mode needs the theme export; without it (Wine) there is none to
// support, whatever the version says.
void support_dark_mode_q_star() {
    make_logic(stack::arguments, g.win10 && dark_mode_fn() && !high_contrast_q());
}

bool dark_mode_active_q() { return dark_mode_fn() && !high_contrast_q() && dark_mode_fn()(); }

// Without dark-mode support this changes nothing.
void set_dark_mode(HWND hwnd, bool dark, bool is_window) {
    if (!hwnd || !dark_mode_fn()) return;
    using SetAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    using SetThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static auto set_attribute = reinterpret_cast<SetAttributeFn>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryA("dwmapi.dll"), "DwmSetWindowAttribute")));
    static auto set_theme = reinterpret_cast<SetThemeFn>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("uxtheme.dll"), "SetWindowTheme")));
    if (is_window && set_attribute) {
        BOOL on = dark;
        set_attribute(hwnd, 20, &on, sizeof on);
    }
    if (set_theme) set_theme(hwnd, dark ? L"DarkMode_Explorer" : L"Explorer", nullptr);
}

void set_dark_mode_star() {
    Cell* a = stack::arguments;
    set_dark_mode(face_handle(a), type_of(a + 1) == TYPE_LOGIC && a[1].data1,
                  face_type(a) == FT_WINDOW);
    make_none(stack::arguments);
}

void refresh_dark_mode(const Cell* pane) {
    if (type_of(pane) != TYPE_BLOCK) return;
    bool dark = dark_mode_active_q();
    int32_t n = block::rs_length_q(pane);
    for (int32_t i = 0; i < n; i++) {
        const Cell* face = block::rs_head(pane) + i;
        FaceType t = face_type(face);
        if (t == FT_BASE || t == FT_RICH_TEXT || t == FT_WINDOW || t == FT_PANEL)
            set_dark_mode(face_handle(face), dark, t == FT_WINDOW);
    }
}

} // namespace mox::gui::win
