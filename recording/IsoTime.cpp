#include "recording/IsoTime.h"

#include <windows.h>

#include <cstdio>

#include "platform/HostClock.h"

namespace {

FILETIME ToFileTime(uint64_t value)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

uint64_t FromSystemTime(const SYSTEMTIME& time)
{
    FILETIME file = {};
    if (!::SystemTimeToFileTime(&time, &file)) {
        return 0;
    }
    return (uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime;
}

} // namespace

uint64_t UtcNow()
{
    return PreciseUtcNow();
}

std::string FormatIsoLocalTime(uint64_t utc)
{
    const FILETIME file = ToFileTime(utc);
    SYSTEMTIME universal = {};
    SYSTEMTIME local = {};
    if (!::FileTimeToSystemTime(&file, &universal) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return std::string();
    }
    // The offset in force at that moment: local minus UTC, to the minute.
    const int64_t difference =
        static_cast<int64_t>(FromSystemTime(local)) - static_cast<int64_t>(FromSystemTime(universal));
    const int64_t minutes = (difference >= 0 ? difference + 300000000 : difference - 300000000) /
                            600000000;
    const int64_t shown = minutes < 0 ? -minutes : minutes;
    char text[40];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02d:%02d",
                  local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                  local.wMilliseconds, minutes < 0 ? '-' : '+', static_cast<int>(shown / 60),
                  static_cast<int>(shown % 60));
    return text;
}
