#include "platform/HostClock.h"

#include <windows.h>

namespace {

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
    time.ticks = HostTicks();
    time.utc = PreciseUtcNow();
    return time;
}
