// The status line: its texts for the counts and disks a take meets, and the control window's
// idle line and Open Recordings Folder against the platform's seams.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/ControlWindow.h"
#include "app/Ids.h"
#include "app/StatusLine.h"
#include "platform/Platform.h"
#include "recording/Recording.h"

namespace {

constexpr uint64_t kGB = 1024ull * 1024 * 1024;

DiskRoom Disk(uint64_t freeBytes, double bytesPerSecond = kAssumedBytesPerSecond)
{
    DiskRoom disk;
    disk.known = true;
    disk.freeBytes = freeBytes;
    disk.root = L"D:\\";
    disk.bytesPerSecond = bytesPerSecond;
    return disk;
}

TEST(StatusLine, TextsGiveTheVideosLengthCountsAndRoom)
{
    EXPECT_EQ(IdleStatus(Disk(41 * kGB + kGB / 5)), L"Ready. 41.2 GB free on D:\\ (about 11 h)");
    EXPECT_EQ(IdleStatus(DiskRoom{}), L"Ready.");
    // 22,620 frames are 12 min 34 s of video, whatever the wall clock says.
    const StatusText rec = RecordingStatus(22620, 0, 0, Disk(41 * kGB + kGB / 5, 1.3e6));
    EXPECT_EQ(rec.text,
              L"REC 0:12:34 \u00B7 22,620 frames \u00B7 0 dropped \u00B7 41.2 GB free (about 9 h)");
    EXPECT_FALSE(rec.warning);
    EXPECT_EQ(RecordingStatus(1234567, 3, 12, Disk(512ull << 20)).text,
              L"REC 11:25:52 \u00B7 1,234,567 frames \u00B7 3 dropped \u00B7 12 repeated \u00B7 "
              L"512 MB free (about 8 min)");
    EXPECT_EQ(SavedStatus(22620, 0, L"take.mp4_2024-03-05__11-58AM_to_12-11PM.mp4"),
              L"Saved 0:12:34 \u00B7 22,620 frames \u00B7 0 dropped: "
              L"take.mp4_2024-03-05__11-58AM_to_12-11PM.mp4");
    EXPECT_EQ(SavedStatus(3, 0, L"t.mp4", false),
              L"Saved (as recorded: the standard copy could not be made) 0:00:00 \u00B7 3 frames "
              L"\u00B7 0 dropped: t.mp4");
}

TEST(StatusLine, WarnsAboveOnePercentDroppedAndUnderFiveMinutesOfDisk)
{
    EXPECT_FALSE(RecordingStatus(990, 10, 0, Disk(kGB)).warning) << "exactly 1 %";
    const StatusText dropping = RecordingStatus(989, 11, 0, Disk(kGB));
    EXPECT_TRUE(dropping.warning);
    EXPECT_EQ(dropping.text.rfind(L"Warning: frames are being dropped. REC 0:00:32", 0), 0u)
        << std::string(dropping.text.begin(), dropping.text.end());
    // 300 s at 1 MB/s is the edge.
    EXPECT_FALSE(RecordingStatus(30, 0, 0, Disk(300ull << 20)).warning);
    const StatusText full = RecordingStatus(30, 0, 0, Disk((300ull << 20) - 1));
    EXPECT_TRUE(full.warning);
    EXPECT_EQ(full.text.rfind(L"Warning: the disk is nearly full. REC", 0), 0u);
    EXPECT_NE(full.text.find(L"(about 4 min)"), std::wstring::npos);
    // The take stops at its floor, not at an empty disk: the five minutes are counted to it.
    DiskRoom floored = Disk((364ull << 20) - 1);
    floored.floorBytes = 64ull << 20;
    EXPECT_TRUE(RecordingStatus(30, 0, 0, floored).warning);
}

TEST(StatusLine, TheTakesSoundShowsItsLevelAndWarnsWhileItFails)
{
    TakeSoundStatus sound;
    EXPECT_EQ(RecordingStatus(30, 0, 0, Disk(kGB), &sound).text,
              RecordingStatus(30, 0, 0, Disk(kGB)).text)
        << "no sound chosen";
    sound.chosen = true;
    sound.peakDb = -18.5;
    sound.deviceName = L"Microphone Array (Xbox NUI Sensor)";
    const StatusText level = RecordingStatus(22620, 0, 2, Disk(41 * kGB + kGB / 5), &sound);
    EXPECT_EQ(level.text, L"REC 0:12:34 \u00B7 0 dropped \u00B7 2 repeated \u00B7 sound \u2212"
                          L"19 dB \u00B7 41.2 GB free");
    EXPECT_FALSE(level.warning);
    sound.peakDb = -200;
    EXPECT_NE(RecordingStatus(30, 0, 0, Disk(kGB), &sound)
                  .text.find(L"sound \u2212"
                             L"99 dB"),
              std::wstring::npos);
    // Each warning in turn, the one about the start before the others; no level with any.
    const std::wstring warnings[] = {
        L"Warning: no sound is coming in. REC 0:12:34",
        L"Warning: the sound device is gone. REC 0:12:34",
        std::wstring(L"Warning: no sound device: Microphone Array (Xbox NUI Sensor). ") +
            L"REC 0:12:34"};
    bool* flags[] = {&sound.silent, &sound.deviceGone, &sound.missingAtStart};
    for (int i = 0; i < 3; ++i) {
        *flags[i] = true;
        const StatusText warned = RecordingStatus(22620, 0, 0, Disk(41 * kGB), &sound);
        EXPECT_EQ(warned.text, warnings[i]);
        EXPECT_TRUE(warned.warning);
    }
}

uint64_t g_freeBytes = 0;
std::wstring g_askedFor;
std::wstring g_shownFolder;
std::wstring g_shownFile;
HANDLE g_diskAnswers = nullptr; // the disk answers only once this is set

// Runs the window's messages until `done` or `ms` have passed; whether `done` came.
template <typename Done>
bool PumpUntil(Done done, DWORD ms)
{
    for (const ULONGLONG until = ::GetTickCount64() + ms; ::GetTickCount64() < until;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageW(&message);
        }
        if (done()) {
            return true;
        }
        ::Sleep(10);
    }
    return false;
}

TEST(StatusLine, ControlWindowReadsTheBoxsDiskOffItsThreadAndOpensItsFolder)
{
    SetAppDataFolderQuery([](std::wstring&) { return false; });
    g_diskAnswers = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    SetFreeDiskSpaceQuery([](const std::wstring& path, uint64_t& freeBytes) {
        ::WaitForSingleObject(g_diskAnswers, 3000); // a share whose server is slow
        g_askedFor = path;
        freeBytes = g_freeBytes;
        return true;
    });
    SetFolderShower([](const std::wstring& folder, const std::wstring& file) {
        g_shownFolder = folder;
        g_shownFile = file;
    });
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kControlWindowClass;
    ::RegisterClassW(&windowClass);
    g_freeBytes = 3 * kGB;
    HWND window = ::CreateWindowExW(0, kControlWindowClass, kControlWindowTitle,
                                    WS_OVERLAPPEDWINDOW, 0, 0, kControlWindowWidth,
                                    kControlWindowHeight, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HWND status = ::GetDlgItem(window, IDC_STATUS);
    const auto text = [status] {
        wchar_t buffer[256] = {};
        ::GetWindowTextW(status, buffer, 256);
        return std::wstring(buffer);
    };
    // The default bare name is asked for in the current folder, on the platform's reading.
    wchar_t current[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring folder = std::wstring(current) + L"\\";
    EXPECT_TRUE(PumpUntil([&] { return text().rfind(L"Ready. 3.0 GB free on ", 0) == 0; }, 3000))
        << text();
    EXPECT_EQ(g_askedFor, folder + L"output.mp4");
    EXPECT_NE(text().find(L"(about 51 min)"), std::wstring::npos);

    // A long take's line with sound, and each sound warning up to "REC", fit the window's width.
    RECT room = {};
    ::GetClientRect(status, &room);
    HDC dc = ::GetDC(status);
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageW(status, WM_GETFONT, 0, 0));
    HGDIOBJ previous = ::SelectObject(dc, font != nullptr ? font : ::GetStockObject(SYSTEM_FONT));
    TakeSoundStatus sound;
    sound.chosen = true;
    sound.peakDb = -18;
    sound.deviceName = L"Microphone Array (Xbox NUI Sensor)";
    for (int i = 0; i < 4; ++i) {
        sound.silent = i == 1;
        sound.deviceGone = i == 2;
        sound.missingAtStart = i == 3;
        std::wstring line = RecordingStatus(1079999, 12, 0, Disk(412 * kGB), &sound).text;
        line = line.substr(0, i == 3 ? line.find(L" REC") : std::wstring::npos);
        SIZE size = {};
        ::GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        EXPECT_LE(size.cx, room.right) << std::string(line.begin(), line.end());
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(status, dc);

    // A disk that does not answer: the window goes on at once, and shows the new path's disk
    // once it answers, half a second after the box stopped changing.
    ::ResetEvent(g_diskAnswers);
    g_freeBytes = 7 * kGB;
    const ULONGLONG began = ::GetTickCount64();
    ::SetWindowTextW(::GetDlgItem(window, IDC_PATH_EDIT), L"C:\\takes\\a.mp4");
    PumpUntil([] { return false; }, 1500);
    ::SendMessageW(window, WM_TIMER, IDT_STATUS, 0);
    EXPECT_LT(::GetTickCount64() - began, 1700u);
    EXPECT_EQ(text(), L"Ready.");
    ::SetEvent(g_diskAnswers);
    EXPECT_TRUE(PumpUntil([&] { return text().rfind(L"Ready. 7.0 GB free on ", 0) == 0; }, 3000))
        << text();
    EXPECT_EQ(g_askedFor, L"C:\\takes\\a.mp4");

    // Before any take, the box's folder opens, nothing selected.
    ::SendMessageW(window, WM_COMMAND, IDM_OPEN_FOLDER, 0);
    EXPECT_EQ(g_shownFolder, L"C:\\takes\\");
    EXPECT_EQ(g_shownFile, L"");
    ::DestroyWindow(window);
    SetFolderShower(nullptr);
    SetFreeDiskSpaceQuery(nullptr);
    SetAppDataFolderQuery(nullptr);
}

} // namespace
