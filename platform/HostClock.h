// The host's clocks as the take's streams share them: the performance counter, which the
// sensor's frames, the sound device's packets and a lab's clock are all placed on, and the
// system time to the finest step the system gives, for the times the files write.
#pragma once

#include <cstdint>

// The performance counter now, in its own ticks.
int64_t HostTicks();

// The performance counter's ticks per second (fixed while the system runs).
int64_t HostTicksPerSecond();

// Now, UTC, in 100 ns units since 1601 (a FILETIME), from GetSystemTimePreciseAsFileTime where
// the system has it (Windows 8 and later), else from the coarser GetSystemTimeAsFileTime.
uint64_t PreciseUtcNow();

// One moment read on both clocks.
struct HostTime {
    int64_t ticks = 0; // HostTicks()
    uint64_t utc = 0;  // PreciseUtcNow()
};

// Now on both clocks: the system time bracketed by two counter readings, the tightest of a
// few, so that a thread switched out between the reads does not part the two.
HostTime HostTimeNow();

// The system time at the counter's reading `ticks` on the line through `anchor`: the anchor's
// system time advanced by the counter alone. Times placed on one line keep the counter's steps
// whatever is done to the system time meanwhile (a correction, a slew).
uint64_t UtcAtTicks(const HostTime& anchor, int64_t ticks);
