// The platform layer: every operating-system service the portable runtime
// uses goes through the functions declared here. platform/windows/ holds the
// product's implementation; platform/posix/ holds the one the native test
// build runs on. Nothing outside platform/ (and the Windows view back end)
// includes <windows.h>.
//
// Text crossing this layer is UTF-16 (char16_t) where the Windows API takes
// wide strings, and UTF-8 for the argument vector; the POSIX side converts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mox::platform {

// ---------------------------------------------------------------------------
// Process start-up and exit
// ---------------------------------------------------------------------------

// Resets the x87 control word to 0x27F: all exceptions masked, 53-bit
// precision, round to nearest.
void reset_fpu();

// Records the main thread's stack bounds, so that native recursion can be
// guarded; reads them back.
void record_stack_bounds();
uintptr_t stack_low();   // lowest usable address of the main thread's stack
uintptr_t stack_high();  // the stack's base (highest address)

// Installs the process-wide handler of hardware faults. The handler receives
// the runtime-error code (1-22 per fault kind, 99 for anything else, 0 for a
// Ctrl+C) and the faulting address; it must not return.
using FaultHandler = void (*)(int code, uintptr_t address);
void install_fault_handler(FaultHandler handler);

// Takes the standard handles and builds the UTF-8 argument vector from the
// process's command line. A failure to split the command line prints
// "CommandLineToArgvW failed!" and leaves the vector empty.
void init_process();
int arg_count();
const char* const* arg_vector();  // NULL-terminated, UTF-8
// The whole command line as the OS gives it (NUL-terminated UTF-16).
const char16_t* command_line();

// Runtime services started once during runtime initialisation: GDI+, COM
// (apartment-threaded), the cryptographic provider, console output mode, and
// standard output and error in UTF-16 text mode.
void init();

// Shows a task-modal error box and returns when it is closed. When the
// environment variable MOX_ERROR_BOX is "stderr", the caption and text go to
// standard error instead (as "caption: text" plus a newline), so that
// unattended runs never wait on a window.
void show_error_box(const char16_t* caption, const char16_t* text);

[[noreturn]] void exit_process(int code);

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

size_t page_size();
// Address space only, no access; nullptr on failure.
void* reserve(size_t bytes);
// Makes reserved pages readable and writable (zero-filled when first used).
bool commit(void* address, size_t bytes);
// Returns the pages' memory to the system; the range stays reserved.
void decommit(void* address, size_t bytes);
void release(void* address, size_t bytes);
// Fresh committed read-write pages (read-write-execute with exec); nullptr on failure.
void* alloc_virtual(size_t bytes, bool exec);
bool free_virtual(void* address, size_t bytes);

// ---------------------------------------------------------------------------
// Standard output and the console
// ---------------------------------------------------------------------------

// True when standard output is a console (text goes out as UTF-16 through
// the console API); false for a pipe, a file, or a process without a console.
bool stdout_is_console();
void write_stdout(const void* bytes, size_t count);  // raw bytes
void write_stderr(const void* bytes, size_t count);

struct ScreenInfo {
    int width, height;          // screen-buffer size
    int cursor_x, cursor_y;
    uint16_t attribute;         // current text attribute
    int left, top, right, bottom;  // window rectangle
    int max_width, max_height;     // maximum window size
};

// The console device used by the output layer's console path. Tests replace
// it with a recording fake (console::set_device).
struct ConsoleDevice {
    void (*write_units)(const char16_t* units, size_t count);
    bool (*get_info)(ScreenInfo* info);
    void (*set_cursor)(int x, int y);
    void (*set_attribute)(uint16_t attribute);
    // Fills count cells from (x, y) with blanks and the attribute.
    void (*fill)(int x, int y, uint32_t count, uint16_t attribute);
};
const ConsoleDevice& console_device();

// ---------------------------------------------------------------------------
// Environment, directories, time
// ---------------------------------------------------------------------------

// The current directory as a malloc'd NUL-terminated UTF-16 string; its
// length (without the NUL) is stored through length. The caller frees it.
char16_t* get_current_dir(int* length);
bool set_current_dir(const char16_t* path);

// Sleeps the given seconds, at least 1 ms; huge and non-finite durations are
// clamped rather than converted.
void wait(double seconds);

bool set_env(const char16_t* name, const char16_t* value);  // null value deletes
// Length copied, the size needed when buf is too small, 0 when not set.
int get_env(const char16_t* name, char16_t* buf, int size);

// Current UTC time of day in seconds; with precise, to 100 ns.
double get_time(bool precise);
// Current date as a packed date word: year << 17 | month << 12 | day << 7 | zone,
// zone = sign (bit 6, west of UTC) | hours (bits 2-5) | quarter hours (bits 0-1).
uint32_t get_date(bool utc);
// Packs a zone offset in minutes into the 7-bit zone field.
uint32_t pack_zone(int offset_minutes);

// Fills the buffer from the system's secure random source.
bool secure_random(void* buffer, size_t count);

}  // namespace mox::platform
