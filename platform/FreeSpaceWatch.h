// The free space of a disk, read off the user-interface thread. On a network share or a mapped
// drive whose server is gone each reading can block for many seconds: a thread of its own makes
// the readings (QueryFreeDiskSpace, at most one a second) and the window only ever looks at the
// latest one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Minimum time between two readings.
constexpr DWORD kFreeSpaceReadingMs = 1000;

// Asks for a reading of the disk of `path` (a full path), and of the total size of `files` on
// it, as soon as the last reading is a second old; a newer request replaces one not yet served.
// A `window` given gets `message` after each reading from then on. Never waits for the disk.
void RequestFreeSpace(const std::wstring& path, const std::vector<std::wstring>& files = {},
                      HWND window = nullptr, UINT message = 0);

// The latest reading of the disk of `path`: false when there is none for that path yet, or the
// disk could not be read. `filesBytes`, when given, gets the size of the files read with it.
bool LatestFreeSpace(const std::wstring& path, uint64_t& freeBytes,
                     uint64_t* filesBytes = nullptr);
