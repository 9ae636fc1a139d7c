// Process listing, waiting and termination inside the Wine prefix.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ProcessEntry {
    DWORD pid = 0;
    DWORD parentPid = 0;
    std::wstring exeName;
};

// Every process of the prefix, from a Toolhelp snapshot. Empty when the snapshot failed.
std::vector<ProcessEntry> ListProcesses();

// Keeps a handle of the process open, so that its exit code can be read after it has ended.
// Returns false when the process can't be opened. Watching a process twice is harmless.
bool WatchProcess(DWORD pid);

// Waits up to timeoutMs for the process to end. Returns WAIT_OBJECT_0 and its exit code, or
// WAIT_TIMEOUT, or WAIT_FAILED when the process can't be opened: no such process, or one that
// has ended and was not watched.
DWORD WaitForExit(DWORD pid, DWORD timeoutMs, DWORD* exitCode);

// Ends the process and every descendant of it that does not run from the Windows folder (Wine
// starts its desktop and services as children of the first program, and they must live on),
// then waits up to timeoutMs for all of them to be gone. Descendants are found also when the
// process itself has ended. Returns the number of processes ended, or -1 when there was neither
// the process nor a descendant; `stillRunning` counts those that did not end in time.
int TerminateTree(DWORD pid, DWORD timeoutMs, int* stillRunning);

// What a process holds now: kernel handles, GDI objects and private (committed) memory in bytes.
struct ProcessResources {
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    unsigned long long privateBytes = 0;
};

// Reads the process's resources; false when it can't be opened or queried.
bool QueryProcessResources(DWORD pid, ProcessResources* resources);

// Ends the process alone, not what it started, and waits up to timeoutMs for its end. Returns
// false when there is no such process or it did not end in time.
bool TerminateAlone(DWORD pid, DWORD timeoutMs);
