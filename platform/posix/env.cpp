// Environment variables, the current directory and the secure random source
// on POSIX. The interface is UTF-16, as on Windows; names and values are
// UTF-8 underneath.
#include <errno.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/utf16.h"

namespace mox::platform {

char16_t* get_current_dir(int* length) {
    std::string dir;
    for (size_t size = 256;; size *= 2) {
        dir.resize(size);
        if (getcwd(dir.data(), size)) break;
        if (errno != ERANGE) {
            dir.clear();
            break;
        }
    }
    std::u16string wide = posix::to_utf16(dir.c_str());
    auto* out = static_cast<char16_t*>(std::malloc((wide.size() + 1) * sizeof(char16_t)));
    if (!out) return nullptr;
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    if (length) *length = static_cast<int>(wide.size());
    return out;
}

bool set_current_dir(const char16_t* path) { return chdir(posix::to_utf8(path).c_str()) == 0; }

bool set_env(const char16_t* name, const char16_t* value) {
    std::string n = posix::to_utf8(name);
    if (!value) return unsetenv(n.c_str()) == 0;
    return setenv(n.c_str(), posix::to_utf8(value).c_str(), 1) == 0;
}

// Answers as GetEnvironmentVariableW does: the units copied without the NUL,
// or the size needed with the NUL when buf is too small, or 0 when unset.
int get_env(const char16_t* name, char16_t* buf, int size) {
    const char* value = std::getenv(posix::to_utf8(name).c_str());
    if (!value) return 0;
    std::u16string wide = posix::to_utf16(value);
    int needed = static_cast<int>(wide.size()) + 1;
    if (!buf || size < needed) return needed;
    std::memcpy(buf, wide.c_str(), needed * sizeof(char16_t));
    return needed - 1;
}

bool secure_random(void* buffer, size_t count) {
    auto p = static_cast<char*>(buffer);
    while (count) {
        ssize_t n = getrandom(p, count, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace mox::platform
