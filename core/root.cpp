// The root block and the exit path (see root.h).
#include "core/root.h"

#include <cstdio>

#include "core/memory.h"
#include "core/sys-alloc.h"
#include "core/value.h"
#include "platform/platform.h"

namespace mox {

Cell root = {TYPE_UNSET, 0, 0, 0};
bool boot_rooting = false;

namespace {

const char* const kErrorTexts[] = {
    "access violation",                  // 1
    "invalid alignment",                 // 2
    "breakpoint",                        // 3
    "single step",                       // 4
    "bounds exceeded",                   // 5
    "float denormal operan",             // 6
    "float divide by zero",              // 7
    "float inexact result",              // 8
    "float invalid operation",           // 9
    "float overflow",                    // 10
    "float stack check",                 // 11
    "float underflow",                   // 12
    "integer divide by zero",            // 13
    "integer overflow",                  // 14
    "privileged instruction",            // 15
    "invalid virtual address",           // 16
    "illegal instruction",               // 17
    "non-continuable exception",         // 18
    "stack error or overflow",           // 19
    "invalid disposition",               // 20
    "guard page",                        // 21
    "invalid handle",                    // 22
    "illegal operand",                   // 23
    "illegal addressing mode",           // 24
    "illegal trap",                      // 25
    "coprocessor error",                 // 26
    "non-existent physical address",     // 27
    "object specific hardware error",    // 28
    "hardware memory error consumed AR", // 29
    "hardware memory error consumed AO", // 30
    "privileged register",               // 31
    "segmentation fault",                // 32
    "FPU error",                         // 33
    "Bus error",                         // 34
};

} // namespace

const char* runtime_error_text(int code) {
    if (code >= 1 && code <= 34) return kErrorTexts[code - 1];
    switch (code) {
    case 94:
        return "out of memory";
    case 95:
        return "no CATCH for THROW";
    case 98:
        return "assertion failed";
    case 99:
        return "unknown error";
    case 100:
        return "no value matched in CASE";
    case 101:
        return "no value matched in SWITCH";
    default:
        return "unknown error code!";
    }
}

void sys_quit(int code, uintptr_t address) {
    if (code != 0) {
        char text[160];
        std::snprintf(text, sizeof text, "*** Runtime Error %d: %s\n*** at: %08Xh", code,
                      runtime_error_text(code), static_cast<unsigned>(address));
        char16_t wide[160];
        size_t i = 0;
        for (; text[i] && i + 1 < sizeof wide / sizeof wide[0]; i++)
            wide[i] = static_cast<unsigned char>(text[i]);
        wide[i] = 0;
        platform::show_error_box(u"Mox App Error", wide);
    }
    if (exit_settle) exit_settle();
    sys_free_all();
    platform::exit_process(code);
}

void (*exit_hook)() = nullptr;
void (*exit_settle)() = nullptr;

void sys_quit_status(int status) {
    if (void (*hook)() = exit_hook) {
        exit_hook = nullptr;
        hook();
    }
    if (exit_settle) exit_settle();
    sys_free_all();
    platform::exit_process(status);
}

Cell* root_append(const Cell* value) {
    Cell copy = *value;
    Cell* c = memory::alloc_tail(root.data2);
    *c = copy;
    return c;
}

} // namespace mox

namespace mox::boot {

bool loading = false;

} // namespace mox::boot
