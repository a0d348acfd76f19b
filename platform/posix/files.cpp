// File handles, directories and attributes on POSIX (the native test build).
// Paths arrive as UTF-16 and go to the system as UTF-8.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/posix/utf16.h"

namespace mox::platform {

namespace {

int fd_of(intptr_t file) { return static_cast<int>(file); }

} // namespace

intptr_t open_file(const char16_t* path, int mode) {
    const std::string name = posix::to_utf8(path);
    int flags;
    if (mode & FILE_READ)
        flags = O_RDONLY;
    else if (mode & (FILE_APPEND | FILE_SEEK))
        flags = O_WRONLY | O_CREAT;
    else
        flags = O_WRONLY | O_CREAT | O_TRUNC;
    const int fd = open(name.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) return NO_FILE;
    struct stat st;
    // A directory opens for reading on POSIX; the Windows layer refuses it.
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return NO_FILE;
    }
    return fd;
}

int64_t handle_size(intptr_t file) {
    struct stat st;
    if (fstat(fd_of(file), &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

int64_t read_handle(intptr_t file, void* buffer, size_t count) {
    for (;;) {
        const ssize_t n = read(fd_of(file), buffer, count);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

bool write_handle(intptr_t file, const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const ssize_t n = write(fd_of(file), p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool seek_handle(intptr_t file, int64_t offset, bool to_end) {
    return lseek(fd_of(file), static_cast<off_t>(offset), to_end ? SEEK_END : SEEK_SET) >= 0;
}

bool close_handle(intptr_t file) { return close(fd_of(file)) == 0; }

bool make_dir(const char16_t* path) { return mkdir(posix::to_utf8(path).c_str(), 0777) == 0; }

bool path_exists(const char16_t* path) {
    struct stat st;
    return stat(posix::to_utf8(path).c_str(), &st) == 0;
}

bool delete_file(const char16_t* path) {
    const std::string name = posix::to_utf8(path);
    struct stat st;
    return lstat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && unlink(name.c_str()) == 0;
}

bool remove_dir(const char16_t* path) { return rmdir(posix::to_utf8(path).c_str()) == 0; }

bool rename_path(const char16_t* from, const char16_t* to) {
    return std::rename(posix::to_utf8(from).c_str(), posix::to_utf8(to).c_str()) == 0;
}

bool file_stamp(const char16_t* path, FileStamp* out) {
    struct stat st;
    if (stat(posix::to_utf8(path).c_str(), &st) != 0) return false;
    struct tm t;
    const time_t seconds = st.st_mtim.tv_sec;
    if (!gmtime_r(&seconds, &t)) return false;
    out->directory = S_ISDIR(st.st_mode);
    out->year = t.tm_year + 1900;
    out->month = t.tm_mon + 1;
    out->day = t.tm_mday;
    out->hour = t.tm_hour;
    out->minute = t.tm_min;
    out->second = t.tm_sec;
    out->millisecond = static_cast<int>(st.st_mtim.tv_nsec / 1000000);
    return true;
}

bool list_dir(const char16_t* path, DirVisitor visit, void* context) {
    const std::string given = posix::to_utf8(path);
    DIR* dir = opendir(given.empty() ? "." : given.c_str());
    if (!dir) return false;
    const std::string name = given.empty() || given.back() == '/' ? given : given + "/";
    while (const dirent* entry = readdir(dir)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
        std::string full = name;
        full.append(entry->d_name);
        struct stat st;
        const bool directory = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        const std::u16string text = posix::to_utf16(entry->d_name);
        visit(context, text.c_str(), text.size(), directory);
    }
    closedir(dir);
    return true;
}

char16_t* drive_strings() {
    auto* roots = static_cast<char16_t*>(std::calloc(3, sizeof(char16_t)));
    if (roots) roots[0] = u'/';
    return roots;
}

} // namespace mox::platform
