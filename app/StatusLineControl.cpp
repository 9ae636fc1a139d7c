#include "app/StatusLineControl.h"

#include "app/StatusLine.h"
#include "platform/Platform.h"
#include "recording/FrameTimeline.h"
#include "recording/Recording.h"

namespace {

constexpr DWORD kStatusStyle = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_ENDELLIPSIS | SS_NOPREFIX;
constexpr int kStatusHeight = 18;
constexpr int kStatusMargin = 4;
constexpr int kStatusCapacity = 512;

enum class StatusMode { Idle, Recording, Fixed };

HWND g_hwndStatus = nullptr;
StatusMode g_statusMode = StatusMode::Idle;
bool g_statusWarning = false;
// The running take's video, whose disk the recording line watches.
std::wstring g_takePath;
// The rate at which takes fill a disk.
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

DiskRoom DiskRoomOf(const std::wstring& path)
{
    DiskRoom disk;
    disk.bytesPerSecond = g_bytesPerSecond;
    disk.known = !path.empty() && QueryFreeDiskSpace(path, disk.freeBytes);
    disk.root = VolumeRootOf(path);
    return disk;
}

} // namespace

void CreateStatusLine(HWND parent, int id)
{
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

void RefreshStatusLine(const std::wstring& pathInBox)
{
    if (g_statusMode == StatusMode::Idle) {
        ShowStatus(IdleStatus(DiskRoomOf(pathInBox)), false);
    } else if (g_statusMode == StatusMode::Recording) {
        const TakeCounts counts = CurrentTakeCounts();
        const TakeSoundStatus sound = CurrentTakeSound();
        const StatusText status = RecordingStatus(counts.frames, counts.dropped, counts.repeated,
                                                  DiskRoomOf(g_takePath), &sound);
        ShowStatus(status.text, status.warning);
    }
}

void ShowTakeStatus(const std::wstring& takePath)
{
    g_statusMode = StatusMode::Recording;
    g_takePath = takePath;
    RefreshStatusLine(std::wstring());
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
