// Clock, calendar date and sleeping on POSIX.
#include <errno.h>
#include <time.h>

#include "platform/clock-math.h"
#include "platform/platform.h"

namespace mox::platform {

void wait(double seconds) {
    uint32_t ms = clock_math::wait_milliseconds(seconds);
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

double get_time(bool precise) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    double seconds = static_cast<double>(now.tv_sec % 86400);
    if (precise) seconds += static_cast<double>(now.tv_nsec / 100 * 100) / 1e9;
    return seconds;
}

uint32_t pack_zone(int offset_minutes) { return clock_math::zone_field(offset_minutes); }

uint32_t get_date(bool utc) {
    time_t now = time(nullptr);
    tm parts;
    if (utc) {
        gmtime_r(&now, &parts);
    } else {
        localtime_r(&now, &parts);
    }
    uint32_t zone = utc ? 0 : pack_zone(static_cast<int>(parts.tm_gmtoff / 60));
    return static_cast<uint32_t>(parts.tm_year + 1900) << 17 |
           static_cast<uint32_t>(parts.tm_mon + 1) << 12 |
           static_cast<uint32_t>(parts.tm_mday) << 7 | zone;
}

} // namespace mox::platform
