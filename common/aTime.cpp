#include "common/aTime.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

/* usleep takes less than a second. */
constexpr uint64_t kMaxSlice = 999999;

void sSleepSlice(uint32_t microseconds, void*) {
    struct timespec left {
        0, static_cast<long>(microseconds) * 1000
    };
    // A signal must not cut the sleep short.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

uint64_t aTime_GetMSTicks() {
    struct timeval tv;
    if (gettimeofday(&tv, nullptr) != 0) return 0;
    uint64_t ms = static_cast<uint64_t>(tv.tv_sec) * 1000 + static_cast<uint64_t>(tv.tv_usec) / 1000;
    return ms == UINT64_MAX ? 0 : ms;
}

int aTime_MSSleepSliced(uint64_t milliseconds, aTimeSliceProc slice, void* ref) {
    for (uint64_t left = milliseconds * 1000; left > 0;) {
        uint64_t now = left < kMaxSlice ? left : kMaxSlice;
        slice(static_cast<uint32_t>(now), ref);
        left -= now;
    }
    return 0;
}

int aTime_MSSleep(uint64_t milliseconds) { return aTime_MSSleepSliced(milliseconds, sSleepSlice, nullptr); }
