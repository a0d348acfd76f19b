// Standard output on POSIX: always a byte stream (there is no console API),
// so the output layer takes its redirected path. The console device exists
// for completeness: it writes UTF-8 and reports no screen buffer.
#include <errno.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/utf16.h"

namespace mox::platform {

namespace {

void write_all(int fd, const void* bytes, size_t count) {
    auto p = static_cast<const char*>(bytes);
    while (count) {
        ssize_t n = ::write(fd, p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // a closed stream loses the output, as on Windows
        p += n;
        count -= static_cast<size_t>(n);
    }
}

void device_write(const char16_t* units, size_t count) {
    std::string text = posix::to_utf8(units, count);
    write_all(STDOUT_FILENO, text.data(), text.size());
}
bool device_info(ScreenInfo*) { return false; }
void device_cursor(int, int) {}
void device_attribute(uint16_t) {}
void device_fill(int, int, uint32_t, uint16_t) {}

constexpr ConsoleDevice kDevice{device_write, device_info, device_cursor, device_attribute,
                                device_fill};

} // namespace

bool stdout_is_console() { return false; }

void write_stdout(const void* bytes, size_t count) { write_all(STDOUT_FILENO, bytes, count); }
void write_stderr(const void* bytes, size_t count) { write_all(STDERR_FILENO, bytes, count); }

const ConsoleDevice& console_device() { return kDevice; }

} // namespace mox::platform
