#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "recording/RecordingFileName.h"

namespace {

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute)
{
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = 59; // seconds never show in the name
    return time;
}

struct NameCase {
    const wchar_t* path;
    SYSTEMTIME start;
    SYSTEMTIME end;
    const wchar_t* expected;
};

TEST(RecordingFileName, FormsDateAndTwelveHourTimes)
{
    const NameCase cases[] = {
        {L"output.mp4", At(2024, 3, 5, 0, 0), At(2024, 3, 5, 0, 7),
         L"output.mp4_2024-03-05__12-00AM_to_12-07AM.mp4"},
        {L"D:\\rec\\take.mp4", At(2024, 3, 5, 12, 0), At(2024, 3, 5, 12, 45),
         L"D:\\rec\\take.mp4_2024-03-05__12-00PM_to_12-45PM.mp4"},
        {L"D:\\rec\\take.mp4", At(2024, 3, 5, 11, 58), At(2024, 3, 5, 12, 3),
         L"D:\\rec\\take.mp4_2024-03-05__11-58AM_to_12-03PM.mp4"},
        // Past midnight: the start's date only, and the end reads earlier than the start.
        {L"D:\\rec\\take.mp4", At(2024, 12, 31, 23, 59), At(2025, 1, 1, 0, 4),
         L"D:\\rec\\take.mp4_2024-12-31__11-59PM_to_12-04AM.mp4"},
        {L"D:\\rec\\take", At(2025, 7, 4, 9, 5), At(2025, 7, 4, 13, 10),
         L"D:\\rec\\take_2025-07-04__9-05AM_to_1-10PM.mp4"},
        {L"a.mp4", At(999, 1, 1, 1, 0), At(999, 1, 1, 23, 59),
         L"a.mp4_0999-01-01__1-00AM_to_11-59PM.mp4"},
        // Wide characters, surrogate pairs included, pass through unchanged.
        {L"C:\\Видео\\東京 🎥.mp4", At(2024, 6, 1, 10, 30), At(2024, 6, 1, 11, 0),
         L"C:\\Видео\\東京 🎥.mp4_2024-06-01__10-30AM_to_11-00AM.mp4"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(MakeRecordingFileName(c.path, c.start, c.end), c.expected) << c.expected;
    }
}

TEST(RecordingFileName, LongestPathsFitAndLongerOnesGiveNoName)
{
    const SYSTEMTIME start = At(2024, 12, 31, 23, 59);
    const SYSTEMTIME end = At(2024, 12, 31, 23, 59);
    const size_t suffix = std::wstring(L"_2024-12-31__11-59PM_to_11-59PM.mp4").size();

    EXPECT_EQ(MakeRecordingFileName(std::wstring(259, L'p'), start, end).size(), 259 + suffix);
    // 511 characters and the terminator fill the 512-character buffer exactly.
    EXPECT_EQ(MakeRecordingFileName(std::wstring(511 - suffix, L'p'), start, end).size(), 511u);
    EXPECT_EQ(MakeRecordingFileName(std::wstring(512 - suffix, L'p'), start, end), L"");
    EXPECT_EQ(MakeRecordingFileName(std::wstring(600, L'p'), start, end), L"");
}

TEST(FormatWide, StaysWithinCapacityAndAlwaysTerminates)
{
    wchar_t area[8 + 8];
    std::wmemset(area, L'#', 16);
    EXPECT_EQ(FormatWide(area, 8, L"%ls-%d", L"abcd", 42), 7);
    EXPECT_STREQ(area, L"abcd-42");

    // One character more than fits: only the terminator is left, and nothing past the end.
    std::wmemset(area, L'#', 16);
    EXPECT_EQ(FormatWide(area, 8, L"%ls-%d", L"abcd", 421), -1);
    EXPECT_EQ(area[0], L'\0');
    EXPECT_EQ(std::wstring(area + 8, 8), std::wstring(8, L'#'));
    EXPECT_EQ(FormatWide(nullptr, 0, L"x"), -1);
}

} // namespace
