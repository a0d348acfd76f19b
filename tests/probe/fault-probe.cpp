// A probe for the whole-program checks: installs the runtime's fault handler
// like the entry does, then faults (or waits for a signal) on request.
//   fault-probe null     writes through a null pointer
//   fault-probe wait     waits for Ctrl+C (SIGINT on POSIX)
#include <cstring>

#include "platform/platform.h"
#include "program/startup.h"

namespace {

void on_fault(int code, uintptr_t address) { mox::sys_quit(code, address); }

// The fault must reach the handler, not a sanitizer's check.
__attribute__((no_sanitize("address", "undefined"))) void write_null() {
    volatile int* p = nullptr;
    *p = 1;
}

} // namespace

int main(int argc, char** argv) {
    mox::platform::install_fault_handler(&on_fault);
    mox::platform::init_process();
    if (argc > 1 && std::strcmp(argv[1], "null") == 0) write_null();
    if (argc > 1 && std::strcmp(argv[1], "wait") == 0) {
        for (int i = 0; i < 100; i++) mox::platform::wait(0.1);
        return 3; // no signal came
    }
    return 0;
}
