// The final name of a recording: its start path followed by the date and the start and end
// times on a 12-hour clock.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Bounded wide-character printf. Writes at most `capacity` characters into `buffer`,
// terminator included, and always terminates it when `capacity` > 0. Returns the length
// without the terminator, or -1 (buffer left empty) when formatting fails or the text would
// not fit. Wide string arguments take %ls (%s means a narrow string on conforming runtimes).
int FormatWide(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);

// `path` followed by "_YYYY-MM-DD__H-MMAM_to_H-MMPM.mp4" from the start's date and time and the
// end's time. Returns an empty string when the name would not fit its 512-character buffer,
// which no path of up to 259 characters reaches: the caller then keeps the file under `path`.
std::wstring MakeRecordingFileName(const std::wstring& path, const SYSTEMTIME& start,
                                   const SYSTEMTIME& end);
