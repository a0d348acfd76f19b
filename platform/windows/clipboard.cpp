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

UINT format_of(ClipKind kind) {
    switch (kind) {
    case CLIP_TEXT:
        return CF_UNICODETEXT;
    case CLIP_ENCODED_IMAGE:
        return RegisterClipboardFormatW(L"PNG");
    case CLIP_DIB:
        return CF_DIBV5;
    default:
        return CF_HDROP;
    }
}

// The first clipboard format available of a kind: encoded images are looked
// for as "PNG", "JFIF", then "GIF" (registered by name on every read); a
// bitmap as CF_DIBV5, then CF_DIB. 0 when none is there.
UINT available_format(ClipKind kind) {
    if (kind == CLIP_ENCODED_IMAGE) {
        for (const wchar_t* name : {L"PNG", L"JFIF", L"GIF"}) {
            UINT f = RegisterClipboardFormatW(name);
            if (f && IsClipboardFormatAvailable(f)) return f;
        }
        return 0;
    }
    if (kind == CLIP_DIB) {
        for (UINT f : {UINT(CF_DIBV5), UINT(CF_DIB)})
            if (IsClipboardFormatAvailable(f)) return f;
        return 0;
    }
    return IsClipboardFormatAvailable(format_of(kind)) ? format_of(kind) : 0;
}

// A copy of the clipboard's bitmap, which stays the clipboard's: CLIP_NONE
// when there is none, CLIP_FAILED when it cannot be had.
ClipKind copy_bitmap(void** bitmap) {
    if (!IsClipboardFormatAvailable(CF_BITMAP)) return CLIP_NONE;
    HANDLE own = GetClipboardData(CF_BITMAP);
    *bitmap = own ? CopyImage(own, IMAGE_BITMAP, 0, 0, 0) : nullptr;
    return *bitmap ? CLIP_BITMAP : CLIP_FAILED;
}

} // namespace

void set_clipboard_owner(void* window) {
    if (!owner_window) owner_window = static_cast<HWND>(window);
}

ClipKind clipboard_read(uint8_t** bytes, size_t* size,
                        bool (*dib_readable)(const uint8_t* block, size_t size), void** bitmap) {
    *bytes = nullptr;
    *size = 0;
    *bitmap = nullptr;
    if (!open_clipboard()) return CLIP_FAILED;
    ClipKind kind = CLIP_NONE;
    for (ClipKind k : {CLIP_TEXT, CLIP_FILES, CLIP_ENCODED_IMAGE, CLIP_DIB}) {
        const UINT format = available_format(k);
        if (!format) continue;
        kind = copy_block(GetClipboardData(format), bytes, size) ? k : CLIP_FAILED;
        if (kind == CLIP_DIB && !dib_readable(*bytes, *size)) {
            std::free(*bytes);
            *bytes = nullptr;
            *size = 0;
            kind = copy_bitmap(bitmap);
        }
        break;
    }
    CloseClipboard();
    return kind;
}

void delete_bitmap(void* bitmap) {
    if (bitmap) DeleteObject(static_cast<HBITMAP>(bitmap));
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
