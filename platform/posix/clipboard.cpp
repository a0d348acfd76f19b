// The clipboard is a Windows service; the native test build has none and
// reports that it cannot be opened.
#include "platform/platform.h"

namespace mox::platform {

ClipKind clipboard_read(uint8_t** bytes, size_t* size, bool (*)(const uint8_t*, size_t),
                        void** bitmap) {
    *bytes = nullptr;
    *size = 0;
    *bitmap = nullptr;
    return CLIP_FAILED;
}

void delete_bitmap(void*) {}

bool clipboard_write(const ClipItem*, int) { return false; }

void set_clipboard_owner(void*) {}

} // namespace mox::platform
