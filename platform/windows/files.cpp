// File handles, directories and attributes on Windows.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/platform.h"

namespace mox::platform {

namespace {

const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
HANDLE handle_of(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// ReadFile and WriteFile take 32-bit counts.
constexpr size_t MAX_IO = 0x40000000;

} // namespace

intptr_t open_file(const char16_t* path, int mode) {
    const bool read = (mode & FILE_READ) != 0;
    const DWORD access = read ? GENERIC_READ : GENERIC_WRITE;
    const DWORD disposition = read                                 ? OPEN_EXISTING
                              : (mode & (FILE_APPEND | FILE_SEEK)) ? OPEN_ALWAYS
                                                                   : CREATE_ALWAYS;
    HANDLE h = CreateFileW(wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? NO_FILE : reinterpret_cast<intptr_t>(h);
}

int64_t handle_size(intptr_t file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(handle_of(file), &size) ? size.QuadPart : -1;
}

int64_t read_handle(intptr_t file, void* buffer, size_t count) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(count < MAX_IO ? count : MAX_IO);
    if (!ReadFile(handle_of(file), buffer, want, &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return got;
}

bool write_handle(intptr_t file, const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        DWORD done = 0;
        const DWORD want = static_cast<DWORD>(count < MAX_IO ? count : MAX_IO);
        if (!WriteFile(handle_of(file), p, want, &done, nullptr) || done == 0) return false;
        p += done;
        count -= done;
    }
    return true;
}

bool seek_handle(intptr_t file, int64_t offset, bool to_end) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(handle_of(file), distance, nullptr, to_end ? FILE_END : FILE_BEGIN);
}

bool close_handle(intptr_t file) { return CloseHandle(handle_of(file)); }

bool make_dir(const char16_t* path) { return CreateDirectoryW(wide(path), nullptr); }

bool path_exists(const char16_t* path) {
    return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool delete_file(const char16_t* path) { return DeleteFileW(wide(path)); }

bool remove_dir(const char16_t* path) { return RemoveDirectoryW(wide(path)); }

bool rename_path(const char16_t* from, const char16_t* to) {
    return _wrename(wide(from), wide(to)) == 0;
}

bool file_stamp(const char16_t* path, FileStamp* out) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    SYSTEMTIME t;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data) ||
        !FileTimeToSystemTime(&data.ftLastWriteTime, &t))
        return false;
    out->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out->year = t.wYear;
    out->month = t.wMonth;
    out->day = t.wDay;
    out->hour = t.wHour;
    out->minute = t.wMinute;
    out->second = t.wSecond;
    out->millisecond = t.wMilliseconds;
    return true;
}

bool list_dir(const char16_t* path, DirVisitor visit, void* context) {
    size_t length = 0;
    while (path[length]) length++;
    wchar_t* pattern = static_cast<wchar_t*>(std::malloc((length + 2) * sizeof(wchar_t)));
    if (!pattern) return false;
    std::memcpy(pattern, path, length * sizeof(wchar_t));
    pattern[length] = L'*';
    pattern[length + 1] = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    std::free(pattern);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const wchar_t* name = found.cFileName;
        if (!std::wcscmp(name, L".") || !std::wcscmp(name, L"..")) continue;
        visit(context, reinterpret_cast<const char16_t*>(name), std::wcslen(name),
              (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

char16_t* drive_strings() {
    const DWORD needed = GetLogicalDriveStringsW(0, nullptr);
    if (needed == 0) return nullptr;
    auto* roots = static_cast<char16_t*>(std::calloc(needed + 2, sizeof(char16_t)));
    if (!roots) return nullptr;
    const DWORD got = GetLogicalDriveStringsW(needed + 1, reinterpret_cast<wchar_t*>(roots));
    if (got == 0 || got > needed + 1) {
        std::free(roots);
        return nullptr;
    }
    return roots;
}

} // namespace mox::platform
