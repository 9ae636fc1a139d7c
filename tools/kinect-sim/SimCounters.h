// Call counters of the simulated sensor runtime and the counts file a test reads after a run.
// Counters are atomics so the file can be written from DllMain without taking the runtime's lock.
#pragma once

#include <windows.h>

enum SimCounter {
    kCountInitialize,
    kCountShutdown,
    kCountStreamOpen,
    kCountColorRequests,
    kCountColorHanded,
    kCountColorLocked,
    kCountColorUnlocked,
    kCountColorReleased,
    kCountColorRefused,
    kCountDepthRequests,
    kCountDepthHanded,
    kCountDepthLocked,
    kCountDepthUnlocked,
    kCountDepthReleased,
    kCountDepthRefused,
    kCountReleaseInvalid,
    kCountLockInvalid,
    kCountUnlockInvalid,
    kCountReleasedLocked,
    kCountSkeletonEnable,
    kCountSkeletonRequests,
    kCountSkeletonHanded,
    kCountSmoothCalls,
    kCountBadArguments,
    kCountCallsBeforeInitialize,
    kCountCallsAfterShutdown,
    kCountLastColorFrame,
    kCountLastSkeletonFrame,
    kCountLastDepthFrame,
    kCounterCount
};

// Adds one to a counter.
void SimCount(SimCounter counter);

// Sets a counter that holds a value rather than a tally (the last frame numbers).
void SimSetCounter(SimCounter counter, long long value);

// Reads a counter.
long long SimCounterValue(SimCounter counter);

// Takes the counts file's path from the environment variable NVR_SIM_COUNTS (unset or empty:
// no file). Safe in DllMain: only kernel32 calls and a fixed buffer.
void SimReadCountsPath();

// Writes every counter as `key=value` lines, then `outstanding` (frames of either image stream
// handed out and not released) and `final`, to the counts file, replacing it. Does nothing without
// a path. Safe in DllMain: no lock, no allocation.
bool SimWriteCounts(bool final);
