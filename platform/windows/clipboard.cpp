// The clipboard on Windows: opening it (with the View back end's first
// window as owner, or a hidden message-only window of our own before one
// exists), copying what it holds out of its global memory, and setting
// prepared formats. Every opened clipboard is closed and every locked block
// unlocked before returning; memory not handed to the clipboard is freed.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

namespace mox::platform {

namespace {

HWND owner_window = nullptr;
HWND own_window = nullptr;

HWND owner() {
    if (owner_window) return owner_window;
    if (!own_window)
        own_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    return own_window;
}

// Up to three attempts; the clipboard may be held by another program for a
// moment.
bool open_clipboard() {
    HWND window = owner();
    for (int attempt = 0; attempt < 3; attempt++) {
        if (OpenClipboard(window)) return true;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        if (attempt < 2) Sleep(1);
    }
    return false;
}

// A malloc'd copy of a clipboard block, exactly as large as the block.
bool copy_block(HANDLE data, uint8_t** bytes, size_t* size) {
    if (!data) return false;
    const SIZE_T length = GlobalSize(data);
    void* locked = GlobalLock(data);
    if (!locked) return false;
    *bytes = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    if (*bytes) std::memcpy(*bytes, locked, length);
    GlobalUnlock(data);
    *size = length;
    return *bytes != nullptr;
}

UINT format_of(ClipKind kind) { return kind == CLIP_TEXT ? CF_UNICODETEXT : CF_HDROP; }

} // namespace

void set_clipboard_owner(void* window) {
    if (!owner_window) owner_window = static_cast<HWND>(window);
}

ClipKind clipboard_read(uint8_t** bytes, size_t* size) {
    *bytes = nullptr;
    *size = 0;
    if (!open_clipboard()) return CLIP_FAILED;
    ClipKind kind = CLIP_NONE;
    for (ClipKind k : {CLIP_TEXT, CLIP_FILES}) {
        if (!IsClipboardFormatAvailable(format_of(k))) continue;
        kind = copy_block(GetClipboardData(format_of(k)), bytes, size) ? k : CLIP_FAILED;
        break;
    }
    CloseClipboard();
    return kind;
}

bool clipboard_write(const ClipItem* items, int count) {
    HGLOBAL blocks[4] = {};
    if (count > 4) return false;
    bool prepared = true;
    for (int i = 0; i < count && prepared; i++) {
        blocks[i] = GlobalAlloc(GMEM_MOVEABLE, items[i].size ? items[i].size : 1);
        void* locked = blocks[i] ? GlobalLock(blocks[i]) : nullptr;
        if (!locked) {
            prepared = false;
            break;
        }
        std::memcpy(locked, items[i].bytes, items[i].size);
        GlobalUnlock(blocks[i]);
    }
    auto free_rest = [&](int from) {
        for (int i = from; i < count; i++)
            if (blocks[i]) GlobalFree(blocks[i]);
    };
    if (!prepared || !open_clipboard()) {
        free_rest(0);
        return false;
    }
    bool ok = EmptyClipboard();
    // A block the clipboard took belongs to it from then on.
    int taken = 0;
    while (ok && taken < count) {
        if (SetClipboardData(format_of(items[taken].kind), blocks[taken]))
            taken++;
        else
            ok = false;
    }
    free_rest(taken);
    CloseClipboard();
    return ok;
}

} // namespace mox::platform
