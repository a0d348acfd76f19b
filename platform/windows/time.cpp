// Clock, calendar date and sleeping on Windows.
#include <windows.h>

#include "platform/clock-math.h"
#include "platform/platform.h"

namespace mox::platform {

void wait(double seconds) { Sleep(clock_math::wait_milliseconds(seconds)); }

double get_time(bool precise) {
    FILETIME ft;
    SYSTEMTIME st;
    GetSystemTimeAsFileTime(&ft);
    FileTimeToSystemTime(&ft, &st);
    double seconds = st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond;
    if (precise) {
        uint32_t ticks = clock_math::ticks_mod_10000(ft.dwLowDateTime, ft.dwHighDateTime);
        seconds += (st.wMilliseconds * 1000000.0 + ticks * 100.0) / 1e9;
    }
    return seconds;
}

uint32_t pack_zone(int offset_minutes) { return clock_math::zone_field(offset_minutes); }

uint32_t get_date(bool utc) {
    SYSTEMTIME st;
    uint32_t zone = 0;
    if (utc) {
        GetSystemTime(&st);
    } else {
        GetLocalTime(&st);
        TIME_ZONE_INFORMATION tz;
        LONG bias = GetTimeZoneInformation(&tz) == TIME_ZONE_ID_DAYLIGHT ? tz.Bias + tz.DaylightBias
                                                                         : tz.Bias;
        zone = pack_zone(static_cast<int>(-bias));
    }
    return static_cast<uint32_t>(st.wYear) << 17 | static_cast<uint32_t>(st.wMonth) << 12 |
           static_cast<uint32_t>(st.wDay) << 7 | zone;
}

} // namespace mox::platform
