#include "recording/RecordingFileName.h"

#include <cstdarg>
#include <cwchar>

namespace {

constexpr size_t kNameCapacity = 512;

// Hour 0-23 as shown on the 12-hour clock: 12, 1, ..., 11.
int TwelveHour(WORD hour)
{
    const int shown = hour % 12;
    return shown == 0 ? 12 : shown;
}

const wchar_t* HalfDayMark(WORD hour)
{
    return hour < 12 ? L"AM" : L"PM";
}

} // namespace

int FormatWide(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    if (buffer == nullptr || capacity == 0) {
        return -1;
    }
    if (format == nullptr) {
        buffer[0] = L'\0';
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int length = std::vswprintf(buffer, capacity, format, args);
    va_end(args);
    // Runtimes differ on a text that does not fit: some truncate, some leave it unterminated.
    if (length < 0 || static_cast<size_t>(length) >= capacity) {
        buffer[0] = L'\0';
        return -1;
    }
    return length;
}

std::wstring MakeRecordingFileName(const std::wstring& path, const SYSTEMTIME& start,
                                   const SYSTEMTIME& end)
{
    wchar_t name[kNameCapacity];
    const int length = FormatWide(
        name, kNameCapacity, L"%ls_%04d-%02d-%02d__%d-%02d%ls_to_%d-%02d%ls.mp4", path.c_str(),
        static_cast<int>(start.wYear), static_cast<int>(start.wMonth), static_cast<int>(start.wDay),
        TwelveHour(start.wHour), static_cast<int>(start.wMinute), HalfDayMark(start.wHour),
        TwelveHour(end.wHour), static_cast<int>(end.wMinute), HalfDayMark(end.wHour));
    if (length < 0) {
        return std::wstring();
    }
    return std::wstring(name, static_cast<size_t>(length));
}
