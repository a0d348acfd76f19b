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
uintptr_t stack_low();  // lowest usable address of the main thread's stack
uintptr_t stack_high(); // the stack's base (highest address)

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
const char* const* arg_vector(); // NULL-terminated, UTF-8
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
// Asks the system to back committed pages now, in one call, where it can:
// for pages about to be written anyway, that costs far less than a fault a
// page. A hint only; the pages are usable either way.
void populate(void* address, size_t bytes);
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
void write_stdout(const void* bytes, size_t count); // raw bytes
void write_stderr(const void* bytes, size_t count);

struct ScreenInfo {
    int width, height; // screen-buffer size
    int cursor_x, cursor_y;
    uint16_t attribute;           // current text attribute
    int left, top, right, bottom; // window rectangle
    int max_width, max_height;    // maximum window size
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

bool set_env(const char16_t* name, const char16_t* value); // null value deletes
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

// One stretch of a digest's input.
struct ByteSpan {
    const void* data;
    size_t count;
};
// Digest algorithms, numbered as the checksum methods.
enum DigestAlgorithm { DIGEST_MD5 = 2, DIGEST_SHA1, DIGEST_SHA256, DIGEST_SHA384, DIGEST_SHA512 };
// Hashes the spans, in order, as one input into out (room for the digest's
// size: 16, 20, 32, 48 or 64 bytes). False when the system's service fails;
// out is then not a digest.
bool digest(DigestAlgorithm algorithm, const ByteSpan* spans, int count, uint8_t* out);

// ---------------------------------------------------------------------------
// Files, the environment block, the shell and child processes
// ---------------------------------------------------------------------------

// The size in bytes of the file at path, or -1 when it cannot be opened for
// reading or its size cannot be read.
int64_t file_size(const char16_t* path);
// The whole file in a malloc'd buffer (its bytes in *size), or null when it
// cannot be read. The caller frees it.
uint8_t* read_file(const char16_t* path, size_t* size);

// The process environment: NUL-terminated "name=value" entries ended by an
// empty entry, or null when the system gives none. Released with
// free_env_strings.
char16_t* env_strings();
void free_env_strings(char16_t* block);

// Hands a document, folder or URL to the shell with a verb ("open"). Tests
// install an opener that records the request instead (null restores the
// system's), so that no test starts a handler.
using ShellOpener = bool (*)(const char16_t* verb, const char16_t* target);
bool shell_open(const char16_t* verb, const char16_t* target);
void set_shell_opener(ShellOpener opener);

// One redirected standard stream of a child process: a file (read for the
// input, appended to for an output), bytes to feed as its input, or an
// output to capture into a malloc'd buffer the caller frees.
struct Redirect {
    const char16_t* path = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool capture = false;
    uint8_t* captured = nullptr;
    size_t captured_size = 0;
};

struct CallOptions {
    bool wait = false;
    bool show = false;  // show the child's window
    bool shell = false; // run the command through the system's shell
    Redirect* input = nullptr;
    Redirect* output = nullptr;
    Redirect* error = nullptr;
    bool shell_used = false; // set when the command ran through the shell
};

// Starts the command line. Any redirection implies waiting; the streams are
// fed and drained together, so a child filling both output pipes cannot stall
// on its parent. Returns the exit code when waiting, else the process id;
// -1 when the process (or a pipe or file it needs) cannot be made. Outputs
// that are not redirected go to the null device.
int32_t call(const char16_t* command, CallOptions* options);

// ---------------------------------------------------------------------------
// File handles, directories and file attributes
// ---------------------------------------------------------------------------

// Open modes of open_file, as bits: read (else write), append, seek. A
// write without append or seek truncates the file; with either it is opened
// (or created) without truncation. Other openers may read and write too.
enum FileMode { FILE_READ = 1, FILE_APPEND = 4, FILE_SEEK = 8 };
constexpr intptr_t NO_FILE = -1;

intptr_t open_file(const char16_t* path, int mode); // NO_FILE on failure
// The file's size in bytes (64 bits); 0 for files whose size the system
// does not know in advance; -1 on failure.
int64_t handle_size(intptr_t file);
// Reads up to count bytes; the number read (0 at the end), or -1.
int64_t read_handle(intptr_t file, void* buffer, size_t count);
// Writes all count bytes; false on a failed or short write.
bool write_handle(intptr_t file, const void* bytes, size_t count);
// Moves to offset from the start, or to the end with to_end.
bool seek_handle(intptr_t file, int64_t offset, bool to_end);
bool close_handle(intptr_t file);

bool make_dir(const char16_t* path);    // no parents are made
bool path_exists(const char16_t* path); // files and directories alike
bool delete_file(const char16_t* path);
bool remove_dir(const char16_t* path); // only when empty
bool rename_path(const char16_t* from, const char16_t* to);

// The last-write time (UTC) of a file or directory.
struct FileStamp {
    bool directory;
    int year, month, day, hour, minute, second, millisecond;
};
bool file_stamp(const char16_t* path, FileStamp* out);

// Calls visit for every entry of the directory (path ends with a separator)
// but "." and "..", in the system's order. False when it cannot be listed.
using DirVisitor = void (*)(void* context, const char16_t* name, size_t length, bool directory);
bool list_dir(const char16_t* path, DirVisitor visit, void* context);
// The roots of the file system as NUL-separated strings ended by an empty
// one ("C:\", "Z:\" on Windows): a malloc'd buffer the caller frees, or
// null.
char16_t* drive_strings();

// ---------------------------------------------------------------------------
// HTTP and the clipboard (Windows services: the POSIX layer reports failure)
// ---------------------------------------------------------------------------

// One synchronous request. Header names and values alternate in headers.
// body_kind: 0 none (the omitted parameter), 1 bytes, 2 UTF-16 text.
struct HttpRequest {
    const char16_t* method;
    const char16_t* url;
    const char16_t* const* headers;
    int header_count; // pairs
    int body_kind;
    const void* body;
    size_t body_size; // bytes, or UTF-16 units for text
    bool want_headers;
};
// The status, the headers as one UTF-16 text and the body bytes, each a
// malloc'd buffer the caller frees (null when empty).
struct HttpResponse {
    int32_t status;
    char16_t* headers;
    size_t header_units;
    uint8_t* body;
    size_t body_size;
};
// False when any step of the request fails; nothing is then left to free.
bool http_request(const HttpRequest& request, HttpResponse* response);

// What a clipboard read found: its kind and a malloc'd copy of its bytes
// (exactly the size of the system's block) that the caller frees.
// Images come as encoded bytes (the registered "PNG", "JFIF" or "GIF"
// formats) or as a device-independent bitmap block (CF_DIBV5, else CF_DIB);
// an image is written as "PNG" and as CF_DIBV5. A bitmap block that
// dib_readable refuses gives way to the system's own bitmap of it
// (CF_BITMAP): CLIP_BITMAP, no bytes, and in *bitmap a copy of that bitmap
// (an HBITMAP) that the caller frees with delete_bitmap.
enum ClipKind {
    CLIP_FAILED = -1,
    CLIP_NONE = 0,
    CLIP_TEXT = 1,
    CLIP_FILES = 2,
    CLIP_ENCODED_IMAGE = 3,
    CLIP_DIB = 4,
    CLIP_BITMAP = 5
};
ClipKind clipboard_read(uint8_t** bytes, size_t* size,
                        bool (*dib_readable)(const uint8_t* block, size_t size), void** bitmap);
void delete_bitmap(void* bitmap);
// Empties the clipboard and sets each item (none for a plain emptying):
// true when it opened and every item was set.
struct ClipItem {
    ClipKind kind;
    const void* bytes;
    size_t size;
};
bool clipboard_write(const ClipItem* items, int count);
// The window that owns the clipboard while it is open: the View back end's
// first window, set once. Until then the clipboard uses a hidden window of
// its own.
void set_clipboard_owner(void* window);

// The operating system's version record and processor architecture.
struct OsVersion {
    uint32_t major, minor, build, service_pack_major;
    bool server;                // not a workstation product
    char16_t service_pack[128]; // NUL-terminated; empty without a service pack
    uint32_t architecture;      // 0 x86-32, 5 ARM, 6 IA-64, 9 x86-64, 12 ARM64
};
// False when the system does not answer.
bool os_version(OsVersion* out);

// Text in the system's ANSI code page (what programs run through the shell
// write) as UTF-16: a malloc'd buffer of *count units the caller frees.
char16_t* ansi_to_utf16(const uint8_t* bytes, size_t count, size_t* units);

} // namespace mox::platform
