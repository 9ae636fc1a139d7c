#include "platform/HostClock.h"

#include <windows.h>

namespace {

constexpr int kBracketAttempts = 3;
constexpr int64_t kHnsPerSecond = 10000000;

using PreciseTimeFn = void(WINAPI*)(LPFILETIME);

// GetSystemTimePreciseAsFileTime, or null before Windows 8; looked up once.
PreciseTimeFn PreciseTimeFunction()
{
    static const PreciseTimeFn function = [] {
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        FARPROC proc =
            kernel != nullptr ? ::GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : nullptr;
        return reinterpret_cast<PreciseTimeFn>(reinterpret_cast<void*>(proc));
    }();
    return function;
}

} // namespace

int64_t HostTicks()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t HostTicksPerSecond()
{
    static const int64_t frequency = [] {
        LARGE_INTEGER value;
        ::QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return frequency;
}

uint64_t PreciseUtcNow()
{
    FILETIME now = {};
    // The plain call steps with the system timer (15.6 ms by default on Windows).
    if (PreciseTimeFn precise = PreciseTimeFunction()) {
        precise(&now);
    } else {
        ::GetSystemTimeAsFileTime(&now);
    }
    return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

HostTime HostTimeNow()
{
    HostTime time;
    int64_t tightest = -1;
    for (int attempt = 0; attempt < kBracketAttempts; ++attempt) {
        const int64_t before = HostTicks();
        const uint64_t utc = PreciseUtcNow();
        const int64_t after = HostTicks();
        if (tightest < 0 || after - before < tightest) {
            tightest = after - before;
            time.ticks = before + (after - before) / 2;
            time.utc = utc;
        }
    }
    return time;
}

uint64_t UtcAtTicks(const HostTime& anchor, int64_t ticks)
{
    // Whole seconds and the rest apart: ticks times 10^7 would overflow after a few days.
    const int64_t perSecond = HostTicksPerSecond();
    const int64_t elapsed = ticks - anchor.ticks;
    const int64_t hns = elapsed / perSecond * kHnsPerSecond +
                        elapsed % perSecond * kHnsPerSecond / perSecond;
    return anchor.utc + static_cast<uint64_t>(hns);
}
