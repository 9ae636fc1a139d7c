#include "app/StatusLineControl.h"

#include "app/Ids.h"
#include "app/StatusLine.h"
#include "platform/FreeSpaceWatch.h"
#include "platform/Platform.h"
#include "recording/FrameTimeline.h"
#include "recording/Recording.h"
#include "sensor/SensorControl.h"

namespace {

constexpr DWORD kStatusStyle = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_ENDELLIPSIS | SS_NOPREFIX;
constexpr int kStatusHeight = 18;
constexpr int kStatusMargin = 4;
constexpr int kStatusCapacity = 512;

enum class StatusMode { Idle, Recording, Fixed };

constexpr const wchar_t* kNoSensorText =
    L"No sensor. Plug the Kinect into USB and its power supply.";
constexpr const wchar_t* kSensorMissingWarning = L"Warning: the sensor is disconnected. ";
// A take's own rate is used once it has run this long; before that, the last take's.
constexpr int64_t kMeasuredRateFrames = 5 * kTimelineFramesPerSecond;

HWND g_hwndStatus = nullptr;
HWND g_parent = nullptr;
StatusMode g_statusMode = StatusMode::Idle;
bool g_statusWarning = false;
// The running take's video, whose disk the recording line watches.
std::wstring g_takePath;
// The rate at which takes fill a disk, every stream of the take together.
double g_bytesPerSecond = kAssumedBytesPerSecond;

std::wstring ShownText()
{
    wchar_t shown[kStatusCapacity] = {};
    ::GetWindowTextW(g_hwndStatus, shown, kStatusCapacity);
    return shown;
}

// Sets the text and colour, touching the control only for a change: the line is refreshed twice
// a second and a screen reader announces every new text.
void ShowStatus(const std::wstring& text, bool warning)
{
    if (warning != g_statusWarning) {
        g_statusWarning = warning;
        ::InvalidateRect(g_hwndStatus, nullptr, TRUE);
    }
    if (text != ShownText()) {
        ::SetWindowTextW(g_hwndStatus, text.c_str());
    }
}

// The latest reading of `path`'s disk (after asking for the next one when `read`), with the
// size of `files` on it. Never waits for the disk.
DiskRoom DiskRoomOf(const std::wstring& path, bool read, const std::vector<std::wstring>& files,
                    uint64_t& filesBytes)
{
    DiskRoom disk;
    disk.bytesPerSecond = g_bytesPerSecond;
    if (read && !path.empty()) {
        RequestFreeSpace(path, files, g_parent, WM_APP_FREE_SPACE);
    }
    disk.known = !path.empty() && LatestFreeSpace(path, disk.freeBytes, &filesBytes);
    disk.root = VolumeRootOf(path);
    return disk;
}

} // namespace

void CreateStatusLine(HWND parent, int id)
{
    g_parent = parent;
    g_hwndStatus =
        ::CreateWindowExW(0, L"STATIC", L"Ready.", kStatusStyle, 0, 0, 0, 0, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    // The dialog font rather than the wider system font: a take's line with its sound and a
    // warning in front stays within the window's width.
    ::SendMessageW(g_hwndStatus, WM_SETFONT,
                   reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    PlaceStatusLine(parent);
}

void PlaceStatusLine(HWND parent)
{
    RECT client = {};
    ::GetClientRect(parent, &client);
    ::MoveWindow(g_hwndStatus, kStatusMargin, client.bottom - kStatusHeight,
                 client.right - 2 * kStatusMargin, kStatusHeight, TRUE);
}

void RefreshStatusLine(const std::wstring& pathInBox, bool read)
{
    // While the sensor is missing the idle line says what to do, and a take's line warns first.
    const bool sensorMissing = SensorMissingSince() != 0;
    uint64_t takeBytes = 0;
    if (g_statusMode == StatusMode::Idle) {
        ShowStatus(sensorMissing ? kNoSensorText
                                 : IdleStatus(DiskRoomOf(pathInBox, read, {}, takeBytes)),
                   false);
    } else if (g_statusMode == StatusMode::Recording) {
        const TakeCounts counts = CurrentTakeCounts();
        DiskRoom disk = DiskRoomOf(g_takePath, read, RunningTakeFiles(), takeBytes);
        // Every file of the take at the rate it grows: video, depth and whatever else it writes.
        if (counts.frames >= kMeasuredRateFrames && takeBytes > 0) {
            disk.bytesPerSecond = static_cast<double>(takeBytes) * kTimelineFramesPerSecond /
                                  static_cast<double>(counts.frames);
        }
        disk.floorBytes = kTakeFreeBytes;
        const TakeSoundStatus sound = CurrentTakeSound();
        StatusText status =
            RecordingStatus(counts.frames, counts.dropped, counts.repeated, disk, &sound);
        if (sensorMissing) {
            status.text = kSensorMissingWarning + status.text;
            status.warning = true;
        }
        ShowStatus(status.text, status.warning);
    }
}

void ShowIdleStatus()
{
    if (g_statusMode == StatusMode::Fixed) {
        g_statusMode = StatusMode::Idle;
    }
}

void ShowTakeStatus(const std::wstring& takePath)
{
    g_statusMode = StatusMode::Recording;
    g_takePath = takePath;
    RefreshStatusLine(std::wstring(), true);
}

void ShowFixedStatus(const std::wstring& text)
{
    g_statusMode = StatusMode::Fixed;
    ShowStatus(text, false);
}

bool IsStatusShowing(const std::wstring& text)
{
    return ShownText() == text;
}

void NoteTakeDataRate(uint64_t bytes, int64_t frames)
{
    if (frames > 0 && bytes > 0) {
        g_bytesPerSecond =
            static_cast<double>(bytes) * kTimelineFramesPerSecond / static_cast<double>(frames);
    }
}

COLORREF StatusLineTextColor(HWND control)
{
    return control == g_hwndStatus && g_statusWarning ? RGB(204, 0, 0) : RGB(0, 0, 0);
}
