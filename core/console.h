// The runtime's lowest output layer: text and numbers written to standard
// output, either a Windows console (UTF-16 through the console API, with ANSI
// escape sequences turned into console calls) or a redirected handle (UTF-8
// bytes, escapes passed through). Every low-level write is also handed to
// the write hooks (dyn-print.h) as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace mox::console {

// Output state: console mode or redirected, the output buffer, the kept
// attribute. Runs during platform start-up.
void init_output();
// Reads the console's current text attribute: the one SGR 0 restores.
void keep_attribute();
// Replaces the console device (tests install a recording fake); returns the
// previous one.
const platform::ConsoleDevice* set_device(const platform::ConsoleDevice* device);
// Forces the console path (true) or the redirected path (false).
void set_console_mode(bool on);

void write_cstring(const char* text);
void print_int(int32_t value);
void print_byte_hex(uint8_t value);
void print_hex(uint32_t value);
void print_float(double value);
void print_float32(float value);

// Units of 1, 2 or 4 bytes; count is in bytes. The _line forms end the text
// with a line break.
void write_latin1(const uint8_t* units, size_t bytes);
void write_latin1_line(const uint8_t* units, size_t bytes);
void write_ucs2(const uint16_t* units, size_t bytes);
void write_ucs2_line(const uint16_t* units, size_t bytes);
void write_ucs4(const uint32_t* units, size_t bytes);
void write_ucs4_line(const uint32_t* units, size_t bytes);
void write_units(const void* units, size_t bytes, uint32_t unit, bool new_line);

// Interprets the escape sequence at text (ESC then "["), of at most
// available units of the given size; returns the units consumed.
size_t ansi_escape(const void* text, size_t available, uint32_t unit);
// The attribute after applying SGR code to attribute a.
uint16_t sgr_attribute(uint16_t a, int code);

} // namespace mox::console
