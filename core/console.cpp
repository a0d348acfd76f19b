// The lowest output layer (see console.h): batching of text for standard
// output, the console path with its ANSI escape interpreter, the redirected
// path in UTF-8, and the write hooks that see every batch as UTF-8.
#include "core/console.h"

#include <cstdio>
#include <cstring>

#include "core/dyn-print.h"
#include "core/root.h"
#include "platform/utf8.h"

namespace mox::console {

namespace {

// ---------------------------------------------------------------------------
// Output state
// ---------------------------------------------------------------------------

const platform::ConsoleDevice* device = nullptr; // nullptr: the platform's own
bool console_mode = false;
uint16_t kept_attribute = 0x07;
int saved_x = 0, saved_y = 0;

// The console path flushes at 510 units; the redirected path once it holds
// more than 1,020 bytes. Both leave room for a surrogate pair and CR LF.
constexpr size_t kUnitBatch = 510;
constexpr size_t kByteBatch = 1020;
constexpr size_t kOutputBytes = 1024;

union {
    char16_t units[kOutputBytes / 2];
    char bytes[kOutputBytes];
} out;
size_t out_pos = 0; // units on the console path, bytes on the redirected path

// Every console batch is re-encoded for the write hooks: at most 3 bytes per
// UTF-16 unit.
char hook_text[kOutputBytes / 2 * 3];

const platform::ConsoleDevice& dev() { return device ? *device : platform::console_device(); }

constexpr char32_t kReplacement = 0xFFFD;

bool is_high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Encodes one code point; surrogates and values past U+10FFFF, which UTF-8
// cannot carry, become U+FFFD. Returns the bytes written.
size_t encode_utf8(char32_t cp, char* to) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    return static_cast<size_t>(platform::encode_utf8(cp, to));
}

// Decodes one UTF-8 sequence of at most `left` bytes at s; malformed input
// gives U+FFFD and consumes one byte.
char32_t decode_utf8(const unsigned char* s, size_t left, size_t* used) {
    *used = 1;
    unsigned char b = s[0];
    if (b < 0x80) return b;
    size_t extra;
    char32_t cp, min;
    if (b >= 0xC2 && b <= 0xDF) {
        extra = 1, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
        return kReplacement;
    }
    if (extra >= left) return kReplacement;
    for (size_t i = 1; i <= extra; i++) {
        if ((s[i] & 0xC0) != 0x80) return kReplacement;
        cp = cp << 6 | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    *used = extra + 1;
    return cp;
}

// Reads unit i of a text of 1-, 2- or 4-byte units.
char32_t unit_at(const void* text, size_t i, uint32_t unit) {
    switch (unit) {
    case 1:
        return static_cast<const uint8_t*>(text)[i];
    case 2:
        return static_cast<const uint16_t*>(text)[i];
    default:
        return static_cast<const uint32_t*>(text)[i];
    }
}

// ---------------------------------------------------------------------------
// Console path
// ---------------------------------------------------------------------------

// Hands count UTF-16 units to the write hooks as UTF-8.
void hook_units(const char16_t* units, size_t count) {
    if (!dyn_print::write_hook_count()) return;
    size_t n = 0;
    for (size_t i = 0; i < count; i++) {
        char32_t u = units[i];
        if (is_high_surrogate(u) && i + 1 < count && is_low_surrogate(units[i + 1])) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        n += encode_utf8(u, hook_text + n);
    }
    dyn_print::call_write_hooks(hook_text, n, 0);
}

// Writes the buffered units. A high surrogate at the end of a full batch
// waits for its partner in the next one, so that no batch splits a pair.
void flush_units(bool last) {
    size_t count = out_pos;
    bool carry = !last && count > 1 && is_high_surrogate(out.units[count - 1]);
    if (carry) count--;
    if (count) {
        dev().write_units(out.units, count);
        hook_units(out.units, count);
    }
    out_pos = 0;
    if (carry) out.units[out_pos++] = out.units[count];
}

void put_unit(char16_t u) {
    out.units[out_pos++] = u;
    if (out_pos >= kUnitBatch) flush_units(false);
}

void put_console_char(char32_t cp) {
    if (cp < 0x10000) {
        put_unit(static_cast<char16_t>(cp));
    } else if (cp <= 0x10FFFF) {
        cp -= 0x10000;
        put_unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
        put_unit(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
    } else {
        put_unit(static_cast<char16_t>(kReplacement));
    }
}

void write_console(const void* text, size_t count, uint32_t unit, bool new_line) {
    for (size_t i = 0; i < count;) {
        char32_t c = unit_at(text, i, unit);
        if (c == 0x1B) {
            flush_units(true);
            size_t used = ansi_escape(static_cast<const char*>(text) + i * unit, count - i, unit);
            if (used) {
                i += used;
                continue;
            }
        }
        put_console_char(c);
        i++;
    }
    if (new_line) {
        put_unit(u'\r');
        put_unit(u'\n');
    }
    flush_units(true);
}

// ---------------------------------------------------------------------------
// Redirected path
// ---------------------------------------------------------------------------

void flush_bytes() {
    if (!out_pos) return;
    platform::write_stdout(out.bytes, out_pos);
    dyn_print::call_write_hooks(out.bytes, out_pos, 0);
    out_pos = 0;
}

void write_redirected(const void* text, size_t count, uint32_t unit, bool new_line) {
    for (size_t i = 0; i < count; i++) {
        char32_t c = unit_at(text, i, unit);
        if (unit == 2 && is_high_surrogate(c) && i + 1 < count &&
            is_low_surrogate(unit_at(text, i + 1, unit))) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit_at(text, ++i, unit) - 0xDC00);
        }
        out_pos += encode_utf8(c, out.bytes + out_pos);
        if (out_pos > kByteBatch) flush_bytes();
    }
    if (new_line) {
        out.bytes[out_pos++] = '\r';
        out.bytes[out_pos++] = '\n';
    }
    flush_bytes();
}

// ---------------------------------------------------------------------------
// Escape sequences
// ---------------------------------------------------------------------------

void print_report() {
    platform::ScreenInfo s{};
    dev().get_info(&s);
    char line[96];
    const auto put = [&line](int n) { write_latin1_line(reinterpret_cast<uint8_t*>(line), n); };
    put(std::snprintf(line, sizeof line, "Screen buffer info:"));
    put(std::snprintf(line, sizeof line, "   size______ %dx%d", s.width, s.height));
    put(std::snprintf(line, sizeof line, "   cursor____ %dx%d", s.cursor_x, s.cursor_y));
    put(std::snprintf(line, sizeof line, "   attribute_ %d %d", s.attribute, kept_attribute));
    put(std::snprintf(line, sizeof line, "   left______ %d top: %d", s.left, s.top));
    put(std::snprintf(line, sizeof line, "   right_____ %d bottom: %d", s.right, s.bottom));
    put(std::snprintf(line, sizeof line, "   max_______ %dx%d", s.max_width, s.max_height));
}

// Clearing: J and K with no parameter (-1) or with 1 or 2.
void clear_screen(int n) {
    platform::ScreenInfo s{};
    if (!dev().get_info(&s)) return;
    uint32_t width = static_cast<uint32_t>(s.width);
    switch (n) {
    case -1:
        dev().fill(0, s.cursor_y, width * static_cast<uint32_t>(s.height - s.cursor_y),
                   kept_attribute);
        break;
    case 1:
        dev().fill(0, 0, width * static_cast<uint32_t>(s.cursor_y), kept_attribute);
        break;
    case 2:
        dev().fill(0, 0, width * static_cast<uint32_t>(s.height), kept_attribute);
        dev().set_cursor(0, 0);
        break;
    }
}

void clear_line(int n) {
    platform::ScreenInfo s{};
    if (!dev().get_info(&s)) return;
    switch (n) {
    case -1:
        dev().fill(s.cursor_x, s.cursor_y, static_cast<uint32_t>(s.width - s.cursor_x),
                   kept_attribute);
        break;
    case 1:
        dev().fill(0, s.cursor_y, static_cast<uint32_t>(s.cursor_x + 1), kept_attribute);
        dev().set_cursor(0, s.cursor_y);
        break;
    case 2:
        dev().fill(0, s.cursor_y, static_cast<uint32_t>(s.width), kept_attribute);
        dev().set_cursor(0, s.cursor_y);
        break;
    }
}

// Moves the cursor by (dx, dy), staying inside the screen buffer.
void move_cursor(int dx, int dy) {
    platform::ScreenInfo s{};
    if (!dev().get_info(&s)) return;
    int x = s.cursor_x + dx, y = s.cursor_y + dy;
    if (x < 0) x = 0;
    if (x > s.width - 1) x = s.width - 1;
    if (y < 0) y = 0;
    if (y > s.height - 1) y = s.height - 1;
    dev().set_cursor(x, y);
}

void save_cursor() {
    platform::ScreenInfo s{};
    if (!dev().get_info(&s)) return;
    saved_x = s.cursor_x;
    saved_y = s.cursor_y;
}

int current_attribute() {
    platform::ScreenInfo s{};
    return dev().get_info(&s) ? s.attribute : kept_attribute;
}

} // namespace

// ---------------------------------------------------------------------------
// Set-up
// ---------------------------------------------------------------------------

void init_output() {
    console_mode = platform::stdout_is_console();
    out_pos = 0;
}

void keep_attribute() {
    platform::ScreenInfo s{};
    if (dev().get_info(&s)) kept_attribute = s.attribute;
}

const platform::ConsoleDevice* set_device(const platform::ConsoleDevice* d) {
    const platform::ConsoleDevice* previous = &dev();
    device = d;
    return previous;
}

void set_console_mode(bool on) { console_mode = on; }

// ---------------------------------------------------------------------------
// Writers
// ---------------------------------------------------------------------------

void write_units(const void* units, size_t bytes, uint32_t unit, bool new_line) {
    if (unit != 1 && unit != 2 && unit != 4) sys_quit(101, 0);
    if (console_mode) {
        write_console(units, bytes / unit, unit, new_line);
    } else {
        write_redirected(units, bytes / unit, unit, new_line);
    }
}

// The runtime's own diagnostics: UTF-8 text, no escape processing.
void write_cstring(const char* text) {
    size_t length = std::strlen(text);
    if (!console_mode) {
        platform::write_stdout(text, length);
        dyn_print::call_write_hooks(text, length, 0);
        return;
    }
    auto s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0, used; i < length; i += used)
        put_console_char(decode_utf8(s + i, length - i, &used));
    flush_units(true);
}

namespace {

// Numbers are formatted into a fixed buffer: printing them never allocates.
template <typename... Args> void print_formatted(const char* format, Args... args) {
    char text[64];
    int n = std::snprintf(text, sizeof text, format, args...);
    if (n > 0) write_units(text, static_cast<size_t>(n), 1, false);
}

} // namespace

void print_int(int32_t value) { print_formatted("%i", static_cast<int>(value)); }
void print_byte_hex(uint8_t value) { print_formatted("%02X", static_cast<unsigned>(value)); }
void print_hex(uint32_t value) { print_formatted("%08X", static_cast<unsigned>(value)); }
void print_float(double value) { print_formatted("%.16g", value); }
void print_float32(float value) { print_formatted("%.7g", static_cast<double>(value)); }

void write_latin1(const uint8_t* units, size_t bytes) { write_units(units, bytes, 1, false); }
void write_latin1_line(const uint8_t* units, size_t bytes) { write_units(units, bytes, 1, true); }
void write_ucs2(const uint16_t* units, size_t bytes) { write_units(units, bytes, 2, false); }
void write_ucs2_line(const uint16_t* units, size_t bytes) { write_units(units, bytes, 2, true); }
void write_ucs4(const uint32_t* units, size_t bytes) { write_units(units, bytes, 4, false); }
void write_ucs4_line(const uint32_t* units, size_t bytes) { write_units(units, bytes, 4, true); }

// ---------------------------------------------------------------------------
// Escape interpreter
// ---------------------------------------------------------------------------

uint16_t sgr_attribute(uint16_t a, int code) {
    static constexpr uint16_t kForeground[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    static constexpr uint16_t kBackground[8] = {0x00, 0x40, 0x20, 0x60, 0x10, 0x50, 0x30, 0x70};
    if (code >= 30 && code <= 37) return static_cast<uint16_t>((a & 0xF8) + kForeground[code - 30]);
    if (code >= 40 && code <= 47) return static_cast<uint16_t>((a & 0x8F) + kBackground[code - 40]);
    switch (code) {
    case 0:
        return kept_attribute;
    case 1:
        return a | 0x88;
    case 4:
        return a | 0x8000;
    case 7:
        return static_cast<uint16_t>((a & 0x0F) << 4 | (a & 0xF0) >> 4);
    case 39:
        return a | 0x08;
    case 49:
        return a | 0x80;
    default:
        return a;
    }
}

// States: 1 before the first parameter, 2 in the first parameter n, 3 after
// ";" before the second, 4 in the second parameter m. Only the units given
// are read: a sequence cut off by the end of the text is consumed without
// effect.
size_t ansi_escape(const void* text, size_t available, uint32_t unit) {
    if (available < 2 || unit_at(text, 1, unit) != '[') return 0;
    int state = 1;
    uint32_t n = 0, m = 0;
    int attribute = -1; // unknown until the first SGR code needs it
    const auto apply = [&attribute](uint32_t code) {
        if (attribute < 0) attribute = current_attribute();
        attribute = sgr_attribute(static_cast<uint16_t>(attribute), static_cast<int>(code));
    };
    for (size_t i = 2; i < available; i++) {
        char32_t c = unit_at(text, i, unit);
        if (c >= '0' && c <= '9') {
            uint32_t digit = c - '0';
            if (state == 1 || state == 2) {
                n = state == 1 ? digit : (n * 10 + digit) % 65535;
                state = 2;
            } else {
                m = state == 3 ? digit : (m * 10 + digit) % 65535;
                state = 4;
            }
            continue;
        }
        if (c == ';' && (state == 2 || state == 4)) {
            if (state == 2) {
                state = 3;
                continue;
            }
            apply(n);
            apply(m);
            n = m = 0;
            state = 1;
            continue;
        }
        // The final character: n is -1 when no parameter was given; forms
        // with a second parameter only mean something to H, f and m.
        int param = state == 1 ? -1 : static_cast<int>(n);
        bool one = state <= 2;
        switch (c) {
        case 's':
            save_cursor();
            break;
        case 'u':
            dev().set_cursor(saved_x, saved_y);
            break;
        case 'H':
        case 'f':
            if (state == 1) dev().set_cursor(0, 0);
            if (state == 4) dev().set_cursor(static_cast<int>(n), static_cast<int>(m));
            break;
        case 'J':
            if (one) clear_screen(param);
            break;
        case 'K':
            if (one) clear_line(param);
            break;
        case '?':
            if (state == 1) print_report();
            break;
        case 'A':
            if (one) move_cursor(0, -static_cast<int>(n));
            break;
        case 'B':
            if (one) move_cursor(0, static_cast<int>(n));
            break;
        case 'C':
            if (one) move_cursor(static_cast<int>(n), 0);
            break;
        case 'D':
            if (one) move_cursor(-static_cast<int>(n), 0);
            break;
        case 'm':
            // ESC [ m alone resets, as SGR 0; after a chain ending in ";"
            // the attribute so far is set as it stands.
            if (state != 1 || attribute < 0) apply(n);
            if (state == 4) apply(m);
            dev().set_attribute(static_cast<uint16_t>(attribute));
            break;
        }
        return i + 1;
    }
    return available;
}

} // namespace mox::console
