// Menus of faces: menu bars and pop-up (context) menus built from a face's
// menu block, the selection they report, and the menu event it becomes.
//
// Every item's command id is its position in its own menu, so ids repeat
// across sub-menus; the chosen item is therefore known as the pair (position,
// menu) that WM_MENUSELECT reports last, and the item's data holds the whole
// symbol id of its id word (or -1).
#include <windows.h>

#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

MenuState menus;

namespace {

constexpr ULONG_PTR NO_ID = static_cast<ULONG_PTR>(-1);

bool separator_q(const Cell* v) {
    static const uint32_t dashes = symbol::make("---");
    return type_of(v) == TYPE_WORD && same_word(v->data2, dashes);
}

bool popup_word_q(const Cell* v) {
    static const uint32_t popup = symbol::make("popup");
    return type_of(v) == TYPE_WORD && same_word(v->data2, popup);
}

} // namespace

// Fills a menu from a menu block: a string is an item, followed by a block
// (its sub-menu) or a word (its id word); the word --- is a separator;
// anything else is skipped. May collect.
HMENU build_menu(const Cell* block_in, HMENU menu) {
    if (type_of(block_in) != TYPE_BLOCK || !menu) return nullptr;
    Cell* base = stack::top;
    Cell* blk = stack::push(block_in);
    UINT count = 0;
    for (int32_t i = 0; i < block::rs_length_q(blk); i++) {
        const Cell* v = block::rs_head(blk) + i;
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.wID = count;
        item.dwItemData = NO_ID;
        std::u16string text;
        if (separator_q(v)) {
            item.fMask = MIIM_FTYPE | MIIM_DATA | MIIM_ID;
            item.fType = MFT_SEPARATOR;
        } else if (type_of(v) == TYPE_STRING) {
            text = wide_text(v);
            item.fMask = MIIM_STRING | MIIM_DATA | MIIM_ID | MIIM_FTYPE;
            item.fType = MFT_STRING;
            if (i + 1 < block::rs_length_q(blk)) {
                const Cell* next = block::rs_head(blk) + i + 1;
                if (type_of(next) == TYPE_BLOCK) {
                    Cell* sub = stack::push(next);
                    item.hSubMenu = build_menu(sub, CreatePopupMenu());
                    stack::top = sub;
                    if (item.hSubMenu) item.fMask |= MIIM_SUBMENU;
                    i++;
                } else if (type_of(next) == TYPE_WORD) {
                    item.dwItemData = next->data2;
                    i++;
                }
            }
            item.dwTypeData = reinterpret_cast<LPWSTR>(text.data());
            item.cch = static_cast<UINT>(text.size());
        } else {
            continue;
        }
        InsertMenuItemW(menu, count, TRUE, &item);
        count++;
    }
    stack::top = base;
    return menu;
}

bool menu_bar_q(const Cell* menu, FaceType type) {
    if (type != FT_WINDOW || type_of(menu) != TYPE_BLOCK || block::rs_length_q(menu) == 0)
        return false;
    return !popup_word_q(block::rs_head(menu));
}

void clear_menu_selection() {
    menus.item = -1;
    menus.item_menu = nullptr;
}

void store_menu_selection(WPARAM wparam, LPARAM lparam) {
    if (wparam == 0xFFFF0000) return;
    menus.item = static_cast<int16_t>(LOWORD(wparam));
    menus.item_menu = reinterpret_cast<HMENU>(lparam);
}

bool menu_command_q(WPARAM wparam, LPARAM lparam) {
    return lparam == 0 && wparam <= 999 && menus.item >= 0 && menus.item_menu;
}

namespace {

void free_popup() {
    if (menus.popup) DestroyMenu(menus.popup);
    menus.popup = nullptr;
    menus.target = nullptr;
}

} // namespace

// A right-button press over a face with a pop-up menu shows it at the screen
// point; the command it posts is handled by do_menu_event. True when a menu
// was shown. May collect.
bool show_context_menu(HWND hwnd, int32_t x, int32_t y) {
    Cell* found = face_of(hwnd);
    if (!found) return false;
    Cell* base = stack::top;
    Cell* face = stack::push(found);
    clear_menu_selection();
    Cell* menu = facet(face, sym.menu);
    if (type_of(menu) != TYPE_BLOCK || menu_bar_q(menu, face_type(face))) {
        stack::top = base;
        return false;
    }
    HWND owner = GetParent(hwnd);
    if (!owner) owner = hwnd;
    free_popup();
    menus.popup = build_menu(menu, CreatePopupMenu());
    stack::top = base;
    if (!menus.popup) return false;
    menus.target = hwnd;
    TrackPopupMenuEx(menus.popup, TPM_LEFTBUTTON, x, y, owner, nullptr);
    // A chosen item has posted its command by now; without one the menu was
    // cancelled and nothing will come back to free it.
    MSG pending;
    if (!PeekMessageW(&pending, owner, WM_COMMAND, WM_COMMAND, PM_NOREMOVE)) {
        free_popup();
        clear_menu_selection();
    }
    return true;
}

// The chosen item becomes a menu event on the window that showed the menu
// (or the given one for a menu bar). May collect.
void do_menu_event(HWND hwnd) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_DATA;
    ULONG_PTR data = NO_ID;
    if (GetMenuItemInfoW(menus.item_menu, static_cast<UINT>(menus.item), TRUE, &item))
        data = item.dwItemData;
    HWND target = menus.target ? menus.target : hwnd;
    clear_menu_selection();
    uint32_t id = data == NO_ID ? NO_MENU_ID : static_cast<uint32_t>(data);
    make_event(target, WM_COMMAND, 0, 0, id, EV_MENU);
    free_popup();
}

// A window face's menu bar from its menu block, or null.
HMENU make_menu_bar(const Cell* face) {
    const Cell* menu = facet(face, sym.menu);
    if (!menu_bar_q(menu, face_type(face))) return nullptr;
    HMENU bar = CreateMenu();
    Cell* base = stack::top;
    HMENU made = build_menu(stack::push(menu), bar);
    stack::top = base;
    return made;
}

// A changed menu facet replaces the menu bar (or removes it).
void update_menu_bar(HWND hwnd, const Cell* face) {
    if (face_type(face) != FT_WINDOW) return;
    HMENU old = GetMenu(hwnd);
    HMENU bar = make_menu_bar(face);
    SetMenu(hwnd, bar);
    if (old) DestroyMenu(old);
    DrawMenuBar(hwnd);
}

} // namespace mox::gui::win
