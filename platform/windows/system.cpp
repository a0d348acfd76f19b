// Files, the environment block, the shell and child processes on Windows.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace mox::platform {

namespace {

const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

} // namespace

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

int64_t file_size(const char16_t* path) {
    HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size;
    int64_t result = GetFileSizeEx(h, &size) ? size.QuadPart : -1;
    CloseHandle(h);
    return result;
}

uint8_t* read_file(const char16_t* path, size_t* size) {
    HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER length;
    uint8_t* buf = nullptr;
    if (GetFileSizeEx(h, &length) && static_cast<uint64_t>(length.QuadPart) < SIZE_MAX) {
        size_t total = static_cast<size_t>(length.QuadPart);
        buf = static_cast<uint8_t*>(std::malloc(total ? total : 1));
        size_t done = 0;
        while (buf && done < total) {
            DWORD chunk = total - done > 0x10000000 ? 0x10000000 : static_cast<DWORD>(total - done);
            DWORD got = 0;
            if (!ReadFile(h, buf + done, chunk, &got, nullptr) || got == 0) {
                std::free(buf);
                buf = nullptr;
            }
            done += got;
        }
        if (buf) *size = total;
    }
    CloseHandle(h);
    return buf;
}

// ---------------------------------------------------------------------------
// Environment block and shell
// ---------------------------------------------------------------------------

char16_t* env_strings() { return reinterpret_cast<char16_t*>(GetEnvironmentStringsW()); }

void free_env_strings(char16_t* block) {
    if (block) FreeEnvironmentStringsW(reinterpret_cast<wchar_t*>(block));
}

namespace {

bool system_opener(const char16_t* verb, const char16_t* target) {
    auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, wide(verb), wide(target), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}
ShellOpener opener = system_opener;

} // namespace

bool shell_open(const char16_t* verb, const char16_t* target) { return opener(verb, target); }
void set_shell_opener(ShellOpener o) { opener = o ? o : system_opener; }

char16_t* ansi_to_utf16(const uint8_t* bytes, size_t count, size_t* units) {
    int n = count ? MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes),
                                        static_cast<int>(count), nullptr, 0)
                  : 0;
    auto* out = static_cast<char16_t*>(std::malloc((n + 1) * sizeof(char16_t)));
    if (!out) return nullptr;
    if (n)
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes),
                            static_cast<int>(count), reinterpret_cast<wchar_t*>(out), n);
    out[n] = 0;
    *units = static_cast<size_t>(n);
    return out;
}

bool os_version(OsVersion* out) {
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return false;
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    out->major = v.dwMajorVersion;
    out->minor = v.dwMinorVersion;
    out->build = v.dwBuildNumber;
    out->service_pack_major = v.wServicePackMajor;
    out->server = v.wProductType != VER_NT_WORKSTATION;
    static_assert(sizeof out->service_pack == sizeof v.szCSDVersion);
    std::memcpy(out->service_pack, v.szCSDVersion, sizeof out->service_pack);
    out->service_pack[127] = 0;
    out->architecture = si.wProcessorArchitecture;
    return true;
}

// ---------------------------------------------------------------------------
// Child processes
// ---------------------------------------------------------------------------

namespace {

// A pipe end served by a thread of its own while the child runs, so that the
// input is written and both outputs are read at the same time.
struct Pump {
    HANDLE handle;
    Redirect* stream;
    bool write;
};

// Closes its pipe end when done: the child sees the end of its input as
// soon as the last byte is written.
DWORD WINAPI pump(void* arg) {
    auto* p = static_cast<Pump*>(arg);
    Redirect* r = p->stream;
    struct Closer {
        HANDLE h;
        ~Closer() { CloseHandle(h); }
    } closer{p->handle};
    if (p->write) {
        size_t done = 0;
        while (done < r->size) {
            DWORD chunk = r->size - done > 65536 ? 65536 : static_cast<DWORD>(r->size - done);
            DWORD wrote = 0;
            if (!WriteFile(p->handle, r->data + done, chunk, &wrote, nullptr)) break;
            done += wrote;
        }
        return 0;
    }
    size_t cap = 4096;
    r->captured = static_cast<uint8_t*>(std::malloc(cap));
    while (r->captured) {
        if (r->captured_size == cap) {
            auto* bigger = static_cast<uint8_t*>(std::realloc(r->captured, cap * 2));
            if (!bigger) break;
            r->captured = bigger;
            cap *= 2;
        }
        DWORD got = 0;
        DWORD room = cap - r->captured_size > 0x10000000
                         ? 0x10000000
                         : static_cast<DWORD>(cap - r->captured_size);
        if (!ReadFile(p->handle, r->captured + r->captured_size, room, &got, nullptr)) break;
        r->captured_size += got;
    }
    return 0;
}

HANDLE open_redirect_file(const Redirect* r, bool input, SECURITY_ATTRIBUTES* sa) {
    if (input)
        return CreateFileW(wide(r->path), GENERIC_READ, 0, sa, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    HANDLE h = CreateFileW(wide(r->path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, sa,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) SetFilePointer(h, 0, nullptr, FILE_END);
    return h;
}

bool start(std::u16string line, STARTUPINFOW* si, PROCESS_INFORMATION* pi) {
    return CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE,
                          0, nullptr, nullptr, si, pi) != 0;
}

std::u16string through_shell(const char16_t* command) {
    return u"cmd /s /c \"" + std::u16string(command) + u"\"";
}

} // namespace

int32_t call(const char16_t* command, CallOptions* o) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    if (!o->show) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }
    HANDLE nul =
        CreateFileW(L"nul:", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    Redirect* streams[3] = {o->input, o->output, o->error};
    HANDLE child_end[3] = {GetStdHandle(STD_INPUT_HANDLE), nul, nul};
    HANDLE parent_end[3] = {nullptr, nullptr, nullptr};
    bool owned[3] = {false, false, false};
    bool ok = true;
    for (int i = 0; i < 3 && ok; i++) {
        Redirect* r = streams[i];
        if (!r) continue;
        if (r->path) {
            HANDLE h = open_redirect_file(r, i == 0, &sa);
            if (h == INVALID_HANDLE_VALUE) {
                // An output file that cannot be opened leaves that stream
                // without a handle; an input file is needed.
                if (i == 0) ok = false;
                child_end[i] = nullptr;
                continue;
            }
            child_end[i] = h;
            owned[i] = true;
            continue;
        }
        HANDLE read_end, write_end;
        if (!CreatePipe(&read_end, &write_end, &sa, 0)) {
            ok = false;
            break;
        }
        child_end[i] = i == 0 ? read_end : write_end;
        parent_end[i] = i == 0 ? write_end : read_end;
        owned[i] = true;
        SetHandleInformation(parent_end[i], HANDLE_FLAG_INHERIT, 0);
    }
    si.hStdInput = child_end[0];
    si.hStdOutput = child_end[1];
    si.hStdError = child_end[2];

    PROCESS_INFORMATION pi{};
    o->shell_used = o->shell;
    if (ok) {
        ok = start(o->shell ? through_shell(command) : std::u16string(command), &si, &pi);
        if (!ok && !o->shell && GetLastError() == ERROR_FILE_NOT_FOUND) {
            o->shell_used = true;
            ok = start(through_shell(command), &si, &pi);
        }
    }
    for (int i = 0; i < 3; i++)
        if (owned[i]) CloseHandle(child_end[i]);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);

    Pump pumps[3];
    HANDLE threads[3];
    int running = 0;
    for (int i = 0; i < 3; i++) {
        if (!parent_end[i]) continue;
        if (!ok) {
            CloseHandle(parent_end[i]);
            continue;
        }
        pumps[i] = {parent_end[i], streams[i], i == 0};
        HANDLE t = CreateThread(nullptr, 0, pump, &pumps[i], 0, nullptr);
        if (t)
            threads[running++] = t;
        else
            pump(&pumps[i]);
    }
    if (running) WaitForMultipleObjects(running, threads, TRUE, INFINITE);
    for (int i = 0; i < running; i++) CloseHandle(threads[i]);
    if (!ok) return -1;

    int32_t result = static_cast<int32_t>(pi.dwProcessId);
    if (o->wait || o->input || o->output || o->error) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        result = GetExitCodeProcess(pi.hProcess, &code) ? static_cast<int32_t>(code) : -1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

} // namespace mox::platform
