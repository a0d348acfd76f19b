// The operating-system information object behind the os-info routine and
// about/debug: name, arch, version and build, from the platform's version
// record.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::os_info {

// The edition of a Windows version ("10", "Server 2019" ...): by major and
// minor version, server products and, from version 10, the build number.
const char* edition(uint32_t major, uint32_t minor, uint32_t build, bool server);

// The word naming a processor architecture code: "x86-32", "ARM",
// "IA-64", "x86-64", "ARM64", or "Unknown".
const char* arch_name(uint32_t architecture);

// Pushes the object [name arch version build] (none when the system gives
// no version record) and returns it. May collect.
Cell* get_OS_info();

} // namespace mox::os_info
