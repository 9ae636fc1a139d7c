// Whether a process is still at work on a file. Its output's size is no measure: ffmpeg's
// `+faststart` moves the whole copy up in place, for many seconds on a slow disk, and the size
// does not change meanwhile. What does show the work: the file's last-write time read through
// an open handle (here and on Windows), and on Windows the job's I/O counts (Wine fails that
// query; the file then tells alone).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/ScopedHandle.h"

struct WorkProgress {
    std::wstring path;  // the file the process writes
    HANDLE job = nullptr; // its job, or null
    ScopedHandle file;  // opened once the file is there; shares everything with the writer
    uint64_t lastWrite = 0;
    uint64_t size = 0;
    uint64_t transfers = 0; // the job's bytes read, written and otherwise moved
};

// Starts watching the work on `path` of the processes in `job` (null: the file alone).
void WatchWork(WorkProgress& watch, const std::wstring& path, HANDLE job);

// True when the file was written to (its last-write time or size moved) or the job moved bytes
// since the last call (or since WatchWork). Closes nothing; the watch's handle goes with it.
bool HasWorkProgressed(WorkProgress& watch);

// Lets go of the file, so that it can be renamed or removed.
void StopWatchingWork(WorkProgress& watch);
