// The platform's clock fixed for one scope through the system-call seam:
// CLOCK_REALTIME reads `now` (the other clocks run on) and local time is UTC
// shifted by `utcOffset` seconds, whatever TZ says.
#pragma once

#include <time.h>

#include "tests/support/Seam.h"

namespace vlibtest {

class FixedClock {
public:
    FixedClock(timespec now, long utcOffset) : m_seam(Edit(now, utcOffset)) {}

private:
    using TableEdit = void (*)(vplatform::Syscalls&);

    static TableEdit Edit(timespec now, long utcOffset) {
        s_now = now;
        s_utcOffset = utcOffset;
        return +[](vplatform::Syscalls& s) {
            s.clock_gettime = [](clockid_t clock, timespec* out) {
                if (clock != CLOCK_REALTIME) return vplatform::test::RealSyscalls().clock_gettime(clock, out);
                *out = s_now;
                return 0;
            };
            s.localtime_r = [](const time_t* time, struct tm* out) -> struct tm* {
                const time_t shifted = *time + s_utcOffset;
                if (gmtime_r(&shifted, out) == nullptr) return nullptr;
                out->tm_gmtoff = s_utcOffset;
                return out;
            };
        };
    }

    static inline timespec s_now{};
    static inline long s_utcOffset = 0;
    SeamScope m_seam;
};

}  // namespace vlibtest
