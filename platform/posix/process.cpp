// Process services on POSIX: the floating-point state, the main thread's
// stack bounds, fault signals mapped to the runtime-error codes, the argument
// vector, the error box (standard error: POSIX has no message box) and exit.
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fpu.h"
#include "platform/platform.h"
#include "platform/posix/utf16.h"

namespace mox::platform {

// ---------------------------------------------------------------------------
// Floating point and stack
// ---------------------------------------------------------------------------

void reset_fpu() { reset_fpu_state(); }

namespace {

uintptr_t low_bound = 0;
uintptr_t high_bound = 0;

} // namespace

void record_stack_bounds() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &base, &size) == 0) {
        size_t guard = 0;
        pthread_attr_getguardsize(&attr, &guard);
        low_bound = reinterpret_cast<uintptr_t>(base) + guard;
        high_bound = reinterpret_cast<uintptr_t>(base) + size;
    }
    pthread_attr_destroy(&attr);
}

uintptr_t stack_low() { return low_bound; }
uintptr_t stack_high() { return high_bound; }

// ---------------------------------------------------------------------------
// Fault signals
// ---------------------------------------------------------------------------

namespace {

FaultHandler fault_handler = nullptr;

// A fault this close below the stack's low bound is the stack running out.
constexpr uintptr_t kStackSlack = 256 * 1024;

bool stack_overflow(uintptr_t address) {
    return low_bound && address < low_bound + 4096 && address + kStackSlack >= low_bound;
}

int fault_code(int sig, const siginfo_t* info) {
    switch (sig) {
    case SIGSEGV:
        return stack_overflow(reinterpret_cast<uintptr_t>(info->si_addr)) ? 19 : 1;
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? 2 : 16;
    case SIGILL:
        return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? 15 : 17;
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV:
            return 13;
        case FPE_INTOVF:
            return 14;
        case FPE_FLTDIV:
            return 7;
        case FPE_FLTOVF:
            return 10;
        case FPE_FLTUND:
            return 12;
        case FPE_FLTRES:
            return 8;
        case FPE_FLTINV:
            return 9;
        case FPE_FLTSUB:
            return 5;
        default:
            return 99;
        }
    default:
        return 99;
    }
}

uintptr_t instruction_address(const siginfo_t* info, void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return reinterpret_cast<uintptr_t>(info->si_addr);
#endif
}

void on_fault(int sig, siginfo_t* info, void* context) {
    fault_handler(fault_code(sig, info), instruction_address(info, context));
    _exit(99);
}

// Ctrl+C ends the process quietly. The signal can arrive anywhere, even
// inside malloc, so nothing here touches the runtime's state: the quiet exit
// has nothing to show and nothing the system would not reclaim itself.
void on_interrupt(int) { _exit(0); }

} // namespace

void install_fault_handler(FaultHandler handler) {
    fault_handler = handler;

    // Stack overflow is reported from a stack of its own, set up once.
    static void* alt_stack = nullptr;
    constexpr size_t kAltStack = 256 * 1024;
    if (!alt_stack) {
        void* p =
            mmap(nullptr, kAltStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            stack_t ss{};
            ss.ss_sp = p;
            ss.ss_size = kAltStack;
            sigaltstack(&ss, nullptr);
            alt_stack = p;
        }
    }

    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    // A second fault while reporting the first takes the default action
    // instead of looping back here.
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(sig, &sa, nullptr);

    struct sigaction si {};
    si.sa_handler = on_interrupt;
    sigemptyset(&si.sa_mask);
    sigaction(SIGINT, &si, nullptr);
}

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

namespace {

std::vector<std::string> args;
std::vector<const char*> arg_pointers{nullptr};
std::u16string whole_line;

// Quotes one argument the way the Windows command-line splitter reads it
// back, so that the whole line splits into the same vector on both builds.
void append_quoted(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            backslashes++;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

} // namespace

void init_process() {
    args.clear();
    std::FILE* f = std::fopen("/proc/self/cmdline", "rb");
    if (!f) {
        static const char kFailed[] = "CommandLineToArgvW failed!\n";
        write_stdout(kFailed, sizeof kFailed - 1);
    } else {
        std::string arg;
        for (int c; (c = std::fgetc(f)) != EOF;) {
            if (c) {
                arg += static_cast<char>(c);
            } else {
                args.push_back(arg);
                arg.clear();
            }
        }
        std::fclose(f);
    }
    arg_pointers.clear();
    std::string line;
    for (const std::string& a : args) {
        arg_pointers.push_back(a.c_str());
        if (!line.empty()) line += ' ';
        append_quoted(line, a);
    }
    arg_pointers.push_back(nullptr);
    whole_line = posix::to_utf16(line.c_str());
}

int arg_count() { return static_cast<int>(args.size()); }
const char* const* arg_vector() { return arg_pointers.data(); }
const char16_t* command_line() { return whole_line.c_str(); }

// ---------------------------------------------------------------------------
// Runtime start-up, error box, exit
// ---------------------------------------------------------------------------

// The POSIX build has no GDI+, COM or console modes; the random source needs
// no set-up.
void init() {}

void show_error_box(const char16_t* caption, const char16_t* text) {
    std::string line = posix::to_utf8(caption) + ": " + posix::to_utf8(text) + "\n";
    write_stderr(line.data(), line.size());
}

// No destructors or exit handlers run: the process may be ending from a
// fault handler, where they could fault again.
void exit_process(int code) {
    std::fflush(nullptr);
    _exit(code);
}

} // namespace mox::platform
