// The Windows form of file names and the path the operating system is
// given (see file::to_local_path and file::to_OS_path in datatypes/file.h),
// shared by to-local-file, call, browse, size?, checksum of a file and the
// file actions.
#include <cstdlib>
#include <string>

#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "platform/platform.h"

namespace mox::file {

namespace {

// Code points of NUL-free UTF-16 text; an unpaired surrogate is kept as it is.
std::u32string from_utf16(const char16_t* units, int count) {
    std::u32string out;
    for (int i = 0; i < count; i++) {
        char32_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            i++;
        }
        out += u;
    }
    return out;
}

} // namespace

void to_local_path(Cell* file, Cell* out, bool full) {
    std::u32string name;
    {
        const int32_t n = string::ms_length_q(file);
        const uint32_t unit = string::buffer_of(file)->unit();
        const uint8_t* p = string::ms_head(file);
        for (int32_t i = 0; i < n; i++) name += string::get_char(p + i * unit, unit);
    }
    std::u32string local;
    size_t i = 0;
    if (!name.empty() && name[0] == U'/') {
        if (name.size() == 1) {
            local = U"\\";
            i = 1;
        } else if (name[1] == U'/') {
            local = U"\\";
            i = 2;
        } else if (name.size() == 2 || name[2] == U'/') {
            local = {name[1], U':', U'\\'};
            i = name.size() == 2 ? 2 : 3;
        } else {
            local = U"\\\\";
            i = 1;
        }
    } else if (full) {
        int length = 0;
        char16_t* dir = platform::get_current_dir(&length);
        if (dir) {
            local = from_utf16(dir, length);
            std::free(dir);
            if (local.empty() || local.back() != U'\\') local += U'\\';
        }
    }
    for (; i < name.size(); i++) local += name[i] == U'/' ? U'\\' : name[i];
    static_assert(sizeof(char32_t) == sizeof(uint32_t));
    string::append_chars(out, reinterpret_cast<const uint32_t*>(local.data()), local.size());
}

std::u16string to_OS_path(Cell* file) {
    Cell* saved = stack::top;
#ifdef _WIN32
    Cell* local = string::push_new(static_cast<uint32_t>(string::ms_length_q(file)) + 3);
    to_local_path(file, local, false);
    file = local;
#endif
    int32_t length = -1;
    const char16_t* units = unicode::to_utf16_part(file, &length, false);
    if (!units) fire(err::invalid_arg, file);
    std::u16string path(units, static_cast<size_t>(length));
    stack::top = saved;
    return path;
}

} // namespace mox::file
