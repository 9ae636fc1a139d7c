// Wall-clock times as the take's files write them: ISO 8601 local time with milliseconds and
// the offset from UTC, "2024-03-05T11:58:02.133+01:00".
#pragma once

#include <cstdint>
#include <string>

// Now, UTC, in 100 ns units since 1601 (a FILETIME).
uint64_t UtcNow();

// `utc` (a FILETIME's value) as local time in ISO 8601; empty when it can't be converted.
std::string FormatIsoLocalTime(uint64_t utc);
