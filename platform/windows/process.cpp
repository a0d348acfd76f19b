// Process services on Windows: the floating-point state, the main thread's
// stack bounds, the unhandled-exception filter and the Ctrl+C handler, the
// argument vector, start-up of GDI+, COM and the console streams, the error
// box and exit.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/fpu.h"
#include "platform/platform.h"
#include "platform/windows/crypto.h"
#include "platform/windows/wide.h"

// The GDI+ flat entry used here: only start-up is needed, and the C++
// wrapper headers do not build with the runtime's compile settings.
struct GdiplusStartupRecord {
    UINT32 version;
    void* debug_callback;
    BOOL suppress_background_thread;
    BOOL suppress_external_codecs;
};
extern "C" int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupRecord* input,
                                     void* output);

namespace mox::platform {

// ---------------------------------------------------------------------------
// Floating point and stack
// ---------------------------------------------------------------------------

void reset_fpu() { reset_fpu_state(); }

namespace {

uintptr_t low_bound = 0;
uintptr_t high_bound = 0;

// The lowest pages of the stack are the guard region and the room the
// system keeps for raising the overflow exception.
constexpr uintptr_t kOverflowRoom = 64 * 1024;

} // namespace

void record_stack_bounds() {
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    low_bound = low + kOverflowRoom;
    high_bound = high;
}

uintptr_t stack_low() { return low_bound; }
uintptr_t stack_high() { return high_bound; }

// ---------------------------------------------------------------------------
// Faults and Ctrl+C
// ---------------------------------------------------------------------------

namespace {

FaultHandler fault_handler = nullptr;

struct CodeMapping {
    DWORD exception;
    int code;
};
constexpr CodeMapping kFaultCodes[] = {
    {EXCEPTION_ACCESS_VIOLATION, 1},
    {EXCEPTION_DATATYPE_MISALIGNMENT, 2},
    {EXCEPTION_BREAKPOINT, 3},
    {EXCEPTION_SINGLE_STEP, 4},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, 5},
    {EXCEPTION_FLT_DENORMAL_OPERAND, 6},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, 7},
    {EXCEPTION_FLT_INEXACT_RESULT, 8},
    {EXCEPTION_FLT_INVALID_OPERATION, 9},
    {EXCEPTION_FLT_OVERFLOW, 10},
    {EXCEPTION_FLT_STACK_CHECK, 11},
    {EXCEPTION_FLT_UNDERFLOW, 12},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, 13},
    {EXCEPTION_INT_OVERFLOW, 14},
    {EXCEPTION_PRIV_INSTRUCTION, 15},
    {EXCEPTION_IN_PAGE_ERROR, 16},
    {EXCEPTION_ILLEGAL_INSTRUCTION, 17},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, 18},
    {EXCEPTION_STACK_OVERFLOW, 19},
    {EXCEPTION_INVALID_DISPOSITION, 20},
    {EXCEPTION_GUARD_PAGE, 21},
    {EXCEPTION_INVALID_HANDLE, 22},
    {static_cast<DWORD>(CONTROL_C_EXIT), 0},
};

int fault_code(DWORD exception) {
    for (const CodeMapping& m : kFaultCodes) {
        if (m.exception == exception) return m.code;
    }
    return 99;
}

// The stack overflow waiting to be reported on the spare stack.
uintptr_t overflow_address = 0;

[[noreturn]] void report_overflow() {
    fault_handler(19, overflow_address);
    ExitProcess(19);
}

// The report of a stack overflow (formatting, a message box) runs on a stack
// of its own: the exhausted one has too little room even for the system's
// exception dispatch to reach the unhandled-exception filter.
alignas(16) char report_stack[256 * 1024];

// Sees a stack overflow before any frame-based handler and resumes the
// thread in report_overflow on the spare stack, as if called there.
LONG CALLBACK on_first_chance(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    overflow_address = reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    auto top = reinterpret_cast<uintptr_t>(report_stack + sizeof report_stack) & ~uintptr_t{15};
    CONTEXT* c = info->ContextRecord;
#if defined(_WIN64)
    c->Rsp = top - 40; // a return address and the callee's 32-byte home area
    c->Rip = reinterpret_cast<DWORD64>(&report_overflow);
#else
    c->Esp = static_cast<DWORD>(top - 4); // a return address
    c->Eip = reinterpret_cast<DWORD>(&report_overflow);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

LONG WINAPI on_exception(EXCEPTION_POINTERS* info) {
    fault_handler(fault_code(info->ExceptionRecord->ExceptionCode),
                  reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress));
    return EXCEPTION_EXECUTE_HANDLER;
}

// Ctrl+C ends the process quietly. The handler runs on a thread of its own
// while the main thread goes on, so it touches none of the runtime's state:
// a quiet exit has nothing to show.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT) return FALSE;
    ExitProcess(0);
}

} // namespace

void install_fault_handler(FaultHandler handler) {
    fault_handler = handler;
    static bool installed = false;
    if (installed) return;
    installed = true;
    AddVectoredExceptionHandler(1, on_first_chance);
    SetUnhandledExceptionFilter(on_exception);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

namespace {

std::vector<std::string> args;
std::vector<const char*> arg_pointers{nullptr};

} // namespace

void init_process() {
    SetErrorMode(SEM_FAILCRITICALERRORS);
    args.clear();
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) {
        static const char kFailed[] = "CommandLineToArgvW failed!\n";
        write_stdout(kFailed, sizeof kFailed - 1);
    } else {
        for (int i = 0; i < count; i++) {
            args.push_back(windows::to_utf8(reinterpret_cast<const char16_t*>(list[i])));
        }
        LocalFree(list);
    }
    arg_pointers.clear();
    for (const std::string& a : args) arg_pointers.push_back(a.c_str());
    arg_pointers.push_back(nullptr);
}

int arg_count() { return static_cast<int>(args.size()); }
const char* const* arg_vector() { return arg_pointers.data(); }
const char16_t* command_line() { return reinterpret_cast<const char16_t*>(GetCommandLineW()); }

// ---------------------------------------------------------------------------
// Runtime start-up, error box, exit
// ---------------------------------------------------------------------------

namespace {

ULONG_PTR gdiplus_token = 0; // GDI+ lives until the process ends

} // namespace

void init() {
    GdiplusStartupRecord input{1, nullptr, FALSE, FALSE};
    GdiplusStartup(&gdiplus_token, &input, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    windows::crypto_provider();
    // The runtime writes through the system calls directly; the C library's
    // streams are put in UTF-16 mode so that wide output of the C library
    // reaches a console intact.
    _setmode(_fileno(stdout), _O_U16TEXT);
    _setmode(_fileno(stderr), _O_U16TEXT);
}

void show_error_box(const char16_t* caption, const char16_t* text) {
    wchar_t mode[8];
    DWORD n = GetEnvironmentVariableW(L"MOX_ERROR_BOX", mode, 8);
    if (n == 6 && lstrcmpW(mode, L"stderr") == 0) {
        std::string line = windows::to_utf8(caption) + ": " + windows::to_utf8(text) + "\n";
        write_stderr(line.data(), line.size());
        return;
    }
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text),
                reinterpret_cast<const wchar_t*>(caption), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// No destructors or exit handlers run: the process may be ending from the
// exception filter, where they could fault again.
void exit_process(int code) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

} // namespace mox::platform
