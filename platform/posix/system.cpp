// Files, the environment block, the shell and child processes on POSIX, for
// the native test build. Commands run through /bin/sh; there is no ANSI code
// page, so shell output is UTF-8 like the rest.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/utf16.h"

extern char** environ;

namespace mox::platform {

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

int64_t file_size(const char16_t* path) {
    int fd = open(posix::to_utf8(path).c_str(), O_RDONLY);
    if (fd < 0) return -1;
    struct stat st;
    int64_t size =
        fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
    close(fd);
    return size;
}

uint8_t* read_file(const char16_t* path, size_t* size) {
    int fd = open(posix::to_utf8(path).c_str(), O_RDONLY);
    if (fd < 0) return nullptr;
    size_t cap = 65536, used = 0;
    auto* buf = static_cast<uint8_t*>(std::malloc(cap));
    for (;;) {
        if (!buf) break;
        if (used == cap) {
            auto* bigger = static_cast<uint8_t*>(std::realloc(buf, cap * 2));
            if (!bigger) {
                std::free(buf);
                buf = nullptr;
                break;
            }
            buf = bigger;
            cap *= 2;
        }
        ssize_t n = read(fd, buf + used, cap - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::free(buf);
            buf = nullptr;
            break;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    close(fd);
    if (buf) *size = used;
    return buf;
}

// ---------------------------------------------------------------------------
// Environment block and shell
// ---------------------------------------------------------------------------

char16_t* env_strings() {
    std::u16string block;
    for (char** e = environ; e && *e; e++) {
        block += posix::to_utf16(*e);
        block += u'\0';
    }
    block += u'\0';
    auto* out = static_cast<char16_t*>(std::malloc(block.size() * sizeof(char16_t)));
    if (out) std::memcpy(out, block.data(), block.size() * sizeof(char16_t));
    return out;
}

void free_env_strings(char16_t* block) { std::free(block); }

namespace {

// The native build has no document handlers to start.
bool no_opener(const char16_t*, const char16_t*) { return false; }
ShellOpener opener = no_opener;

} // namespace

bool shell_open(const char16_t* verb, const char16_t* target) { return opener(verb, target); }
void set_shell_opener(ShellOpener o) { opener = o ? o : no_opener; }

char16_t* ansi_to_utf16(const uint8_t* bytes, size_t count, size_t* units) {
    std::u16string text =
        posix::to_utf16(std::string(reinterpret_cast<const char*>(bytes), count).c_str());
    auto* out = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
    if (!out) return nullptr;
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    *units = text.size();
    return out;
}

// The kernel's release numbers and machine, in the Windows record's terms
// (the native build is a test vehicle: there is no edition to report).
bool os_version(OsVersion* out) {
    struct utsname u;
    if (uname(&u) != 0) return false;
    *out = OsVersion{};
    std::sscanf(u.release, "%u.%u.%u", &out->major, &out->minor, &out->build);
    const std::string machine = u.machine;
    out->architecture = machine == "x86_64"            ? 9
                        : machine == "aarch64"         ? 12
                        : machine.rfind("arm", 0) == 0 ? 5
                        : machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86"
                            ? 0
                            : 0xFFFF;
    return true;
}

// ---------------------------------------------------------------------------
// Child processes
// ---------------------------------------------------------------------------

namespace {

// Appends what a pipe holds to its capture buffer (doubling from 4096
// bytes); false at the end of the stream or on an error.
bool drain(int fd, Redirect* r) {
    if (!r->captured) {
        r->captured = static_cast<uint8_t*>(std::malloc(4096));
        if (!r->captured) return false;
    }
    size_t cap = 4096; // the allocation: 4096 bytes doubled as often as needed
    while (cap < r->captured_size) cap *= 2;
    if (r->captured_size == cap) {
        auto* bigger = static_cast<uint8_t*>(std::realloc(r->captured, cap * 2));
        if (!bigger) return false;
        r->captured = bigger;
        cap *= 2;
    }
    ssize_t n = read(fd, r->captured + r->captured_size, cap - r->captured_size);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    r->captured_size += static_cast<size_t>(n);
    return n > 0;
}

} // namespace

int32_t call(const char16_t* command, CallOptions* o) {
    // A child that stops reading its input must not end this process.
    signal(SIGPIPE, SIG_IGN);
    Redirect* streams[3] = {o->input, o->output, o->error};
    const bool redirected = o->input || o->output || o->error;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int parent_end[3] = {-1, -1, -1};
    int child_end[3] = {-1, -1, -1};
    bool ok = true;
    for (int fd = 0; fd < 3 && ok; fd++) {
        Redirect* r = streams[fd];
        if (fd > 0 && !r) {
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
        } else if (r && r->path) {
            std::string path = posix::to_utf8(r->path);
            int flags = fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND;
            posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), flags, 0644);
        } else if (r) {
            int p[2];
            if (pipe(p) != 0) {
                ok = false;
                break;
            }
            child_end[fd] = fd == 0 ? p[0] : p[1];
            parent_end[fd] = fd == 0 ? p[1] : p[0];
            fcntl(parent_end[fd], F_SETFD, FD_CLOEXEC);
            posix_spawn_file_actions_adddup2(&actions, child_end[fd], fd);
        }
    }
    for (int fd = 0; fd < 3; fd++)
        if (child_end[fd] >= 0) posix_spawn_file_actions_addclose(&actions, child_end[fd]);
    pid_t pid = -1;
    if (ok) {
        std::string cmd = posix::to_utf8(command);
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), cmd.data(), nullptr};
        ok = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ) == 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int fd = 0; fd < 3; fd++)
        if (child_end[fd] >= 0) close(child_end[fd]);
    o->shell_used = true;
    if (!ok) {
        for (int fd = 0; fd < 3; fd++)
            if (parent_end[fd] >= 0) close(parent_end[fd]);
        return -1;
    }

    // Feed the input and drain both outputs in one loop.
    size_t fed = 0;
    if (parent_end[0] >= 0) fcntl(parent_end[0], F_SETFL, O_NONBLOCK);
    for (;;) {
        struct pollfd fds[3];
        int n = 0;
        for (int fd = 0; fd < 3; fd++) {
            if (parent_end[fd] < 0) continue;
            fds[n].fd = parent_end[fd];
            fds[n].events = fd == 0 ? POLLOUT : POLLIN;
            fds[n].revents = 0;
            n++;
        }
        if (n == 0) break;
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; i++) {
            if (!fds[i].revents) continue;
            int fd = fds[i].fd == parent_end[0] ? 0 : fds[i].fd == parent_end[1] ? 1 : 2;
            bool open = true;
            if (fd == 0) {
                Redirect* in = streams[0];
                if (fed < in->size) {
                    ssize_t w = write(parent_end[0], in->data + fed, in->size - fed);
                    if (w > 0)
                        fed += static_cast<size_t>(w);
                    else if (w < 0 && errno != EAGAIN && errno != EINTR)
                        open = false;
                }
                if (fed >= in->size) open = false;
            } else {
                open = drain(parent_end[fd], streams[fd]);
            }
            if (!open) {
                close(parent_end[fd]);
                parent_end[fd] = -1;
            }
        }
    }
    if (!o->wait && !redirected) return static_cast<int32_t>(pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return -1;
}

} // namespace mox::platform
