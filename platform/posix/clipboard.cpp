// The clipboard is a Windows service; the native test build has none and
// reports that it cannot be opened.
#include "platform/platform.h"

namespace mox::platform {

ClipKind clipboard_read(uint8_t** bytes, size_t* size) {
    *bytes = nullptr;
    *size = 0;
    return CLIP_FAILED;
}

bool clipboard_write(const ClipItem*, int) { return false; }

void set_clipboard_owner(void*) {}

} // namespace mox::platform
