// The boot image: the Mox files that library/order.txt lists, loaded at
// build time by tools/make-boot-image and written as one Moxbin document,
// embedded in the executable. At start-up it is decoded and each file's
// code is evaluated in order in the global context. They define the
// natives, actions, operators and the parts of the system object the
// runtime reads.
//
// The image holds one block: for each file its name (a file! value, so
// that a failing file can be named) and its loaded, unevaluated code.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox {

// Start-up without the boot image: every table up to it, with the rooting
// flag set and the collector off (the image tool runs only this).
void init_runtime();

} // namespace mox

namespace mox::boot {

// Generated at build time (boot-image.cpp).
extern const unsigned char image[];
extern const uint32_t image_size;

// Test hook: when set before start-up, the image is read from this file
// instead of the embedded one.
extern const char* image_file;

// Decodes the image and evaluates every file's code in order. An image
// that cannot be decoded prints "Error: Not a Moxbin file!" and ends the
// process with status 1; a file that fails prints its error and the file's
// name and ends the process with runtime error 98. May collect.
void load();

} // namespace mox::boot
