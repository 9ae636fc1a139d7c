#include "app/ControlWindow.h"

#include <commdlg.h>

#include <string>

#include "app/ControlLayout.h"
#include "app/Ids.h"
#include "app/ReplaceConfirmation.h"
#include "platform/Platform.h"
#include "recording/Recording.h"
#include "recording/SkeletonCsv.h"
#include "sensor/RenderLoop.h"
#include "settings/Settings.h"

static_assert(sizeof(OPENFILENAMEW) == 152 || sizeof(void*) != 8, "OPENFILENAMEW is 152 bytes");

namespace {

constexpr const wchar_t* kBannerFile = L"Nimbra_Umbraline VIZ Banner small.bmp";
constexpr const wchar_t* kDefaultPath = L"output.mp4";
constexpr int kPathCapacity = MAX_PATH;

constexpr DWORD kCheckboxStyle = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE;

// The controls that the commands read or switch, and the banner; main thread only.
HWND g_hwndPathEdit = nullptr;
HWND g_hwndStart = nullptr;
HWND g_hwndStop = nullptr;
HBITMAP g_banner = nullptr;

// The Save Skeleton Data switch: whether the next take also writes its skeleton file. Read from
// the settings at creation, flipped by its menu item.
bool g_saveSkeletonData = false;

HWND CreateControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int x,
                   int y, int width, int height, int id)
{
    return ::CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

// Lays out the controls, loads the banner and puts the stored path into the edit box.
void OnCreate(HWND hwnd)
{
    GetSettingsIniPath(); // makes sure the settings folder exists
    SetEncoderLostReport(hwnd, WM_APP_ENCODER_LOST);
    RECT client = {};
    ::GetClientRect(hwnd, &client);
    int left = ControlBlockLeft(client.right);

    g_banner = static_cast<HBITMAP>(
        ::LoadImageW(nullptr, kBannerFile, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    std::wstring path = ReadLastPath();
    g_saveSkeletonData = ReadSaveSkeletonData();

    HWND checkbox = CreateControl(hwnd, L"BUTTON", L"Show Color Feed", kCheckboxStyle, left, 20,
                                  200, 25, IDC_SHOW_COLOR);
    ::SendMessageW(checkbox, BM_SETCHECK, BST_CHECKED, 0);
    g_hwndPathEdit =
        CreateControl(hwnd, L"EDIT", L"", kEditStyle, left + 90, 60, 170, 20, IDC_PATH_EDIT);
    ::SetWindowTextW(g_hwndPathEdit, path.c_str());
    g_hwndStart = CreateControl(hwnd, L"BUTTON", L"Start Recording", kButtonStyle, left, 100, 120,
                                30, IDC_START);
    g_hwndStop = CreateControl(hwnd, L"BUTTON", L"Stop Recording", kButtonStyle | WS_DISABLED,
                               left + 130, 100, 120, 30, IDC_STOP);
    CreateControl(hwnd, L"BUTTON", L"Save Path:", kButtonStyle, left, 60, 80, 22, IDC_SAVE_PATH);
}

// Paints the banner, stretched to 300 x 110, centred at the current client width.
void OnPaint(HWND hwnd)
{
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd, &paint);
    if (g_banner != nullptr) {
        HDC memory = ::CreateCompatibleDC(dc);
        HGDIOBJ previous = ::SelectObject(memory, g_banner);
        BITMAP bitmap = {};
        ::GetObjectW(g_banner, sizeof(bitmap), &bitmap);
        RECT client = {};
        ::GetClientRect(hwnd, &client);
        ::StretchBlt(dc, BannerLeft(client.right), kBannerTop, kBannerWidth, kBannerHeight, memory,
                     0, 0, bitmap.bmWidth, bitmap.bmHeight, SRCCOPY);
        ::SelectObject(memory, previous);
        ::DeleteDC(memory);
    }
    ::EndPaint(hwnd, &paint);
}

// Asks before the take replaces existing files: the video, unless the user has just confirmed
// it in the Save dialog, and the skeleton file when one is to be written. Returns true when the
// start may go on.
bool ConfirmReplace(HWND hwnd, const std::wstring& path)
{
    bool confirmed = IsReplaceConfirmed(path);
    std::wstring existing;
    int count = 0;
    if (!confirmed && IsExistingFile(path)) {
        existing = path;
        ++count;
    }
    const std::wstring skeletonFile = SkeletonCsvPathFor(path);
    if (g_saveSkeletonData && IsExistingFile(skeletonFile)) {
        existing += (count > 0 ? L"\n" : L"") + skeletonFile;
        ++count;
    }
    if (count == 0) {
        return true;
    }
    std::wstring question =
        existing + (count == 1 ? L" already exists.\nDo you want to replace it?"
                               : L"\nalready exist.\nDo you want to replace them?");
    return ::MessageBoxW(hwnd, question.c_str(), L"Nimbra VIZ Recorder",
                         MB_YESNO | MB_ICONWARNING) == IDYES;
}

// Start: store the edit box's text as LastPath, then start a recording when none runs.
void OnStart(HWND hwnd)
{
    wchar_t text[kPathCapacity] = {};
    ::GetWindowTextW(g_hwndPathEdit, text, kPathCapacity);
    std::wstring path = text;
    WriteLastPath(path);
    if (IsRecording()) {
        return;
    }
    if (!ConfirmReplace(hwnd, path)) {
        return;
    }
    if (!StartRecording(path, g_saveSkeletonData)) {
        ::MessageBoxW(hwnd, L"Failed to start FFmpeg.", L"Error", MB_OK);
        return;
    }
    NoteTakeStarted(path);
    ::EnableWindow(g_hwndStart, FALSE);
    ::EnableWindow(g_hwndStop, TRUE);
}

// Stop: ends the take, puts the buttons back, and tells the user of a skeleton file that could
// not be saved.
void OnStop(HWND hwnd)
{
    if (!IsRecording()) {
        return;
    }
    StoppedTake stopped = StopRecording();
    NoteTakeStopped();
    ::EnableWindow(g_hwndStart, TRUE);
    ::EnableWindow(g_hwndStop, FALSE);
    if (!stopped.unsavedSkeletonFile.empty()) {
        std::wstring text = L"Skeleton data could not be saved:\n" + stopped.unsavedSkeletonFile;
        ::MessageBoxW(hwnd, text.c_str(), L"Nimbra VIZ Recorder", MB_OK | MB_ICONWARNING);
    }
}

// The Save dialog, always proposing "output.mp4"; a chosen path goes into the edit box only.
void OnSavePath(HWND hwnd)
{
    wchar_t file[kPathCapacity] = {};
    ::lstrcpynW(file, kDefaultPath, kPathCapacity);
    static const wchar_t kFilter[] = L"MP4 Files (*.mp4)\0*.mp4\0All Files (*.*)\0*.*\0";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = hwnd;
    dialog.lpstrFilter = kFilter;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kPathCapacity;
    dialog.Flags = OFN_OVERWRITEPROMPT;
    dialog.lpstrDefExt = L"mp4";
    if (::GetSaveFileNameW(&dialog)) {
        ::SetWindowTextW(g_hwndPathEdit, file);
        RememberReplaceConfirmed(file);
    }
}

// Puts the switch's state on its check item, found by command in `menu` or its submenus.
void ShowSaveSkeletonCheck(HMENU menu)
{
    ::CheckMenuItem(menu, IDM_SAVE_SKELETON,
                    MF_BYCOMMAND | (g_saveSkeletonData ? MF_CHECKED : MF_UNCHECKED));
}

// Flips the switch, its check mark and the stored setting. A take already running keeps the
// choice it started with.
void OnToggleSaveSkeleton(HWND hwnd)
{
    g_saveSkeletonData = !g_saveSkeletonData;
    ShowSaveSkeletonCheck(::GetMenu(hwnd));
    WriteSaveSkeletonData(g_saveSkeletonData);
}

void OnAbout(HWND hwnd)
{
    ::MessageBoxW(hwnd,
                  L"Nimbra VIZ Recorder 1.0\n\n"
                  L"Shows a Kinect sensor's colour picture with its tracked skeletons and "
                  L"records the picture to MP4.\n\n"
                  L"Made by Nimbra Umbraline.\nhttps://www.nimbra-umbraline.com/viz-recorder",
                  L"About", MB_ICONINFORMATION);
}

void OnCommand(HWND hwnd, int id)
{
    switch (id) {
    case IDC_SHOW_COLOR:
        g_showColorFeed.store(::IsDlgButtonChecked(hwnd, IDC_SHOW_COLOR) == BST_CHECKED);
        break;
    case IDC_START:
        OnStart(hwnd);
        break;
    case IDC_STOP:
        OnStop(hwnd);
        break;
    case IDC_SAVE_PATH:
        OnSavePath(hwnd);
        break;
    case IDM_SAVE_SKELETON:
        OnToggleSaveSkeleton(hwnd);
        break;
    case IDM_QUIT:
        ::PostQuitMessage(0);
        break;
    case IDM_ABOUT:
        OnAbout(hwnd);
        break;
    default:
        break;
    }
}

// Frame writes failed because the encoder has gone: the take is stopped as if Stop had been
// pressed, and the user is told. A report from an earlier take is ignored.
void OnEncoderLost(HWND hwnd, WPARAM takeId)
{
    if (!IsCurrentTake(takeId)) {
        return;
    }
    OnStop(hwnd);
    ::MessageBoxW(hwnd, L"Recording stopped: FFmpeg ended unexpectedly.", L"Error", MB_OK);
}

// White background and black text for every control.
LRESULT OnControlColor(HDC dc)
{
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::SetTextColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
}

} // namespace

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(hwnd);
        break;
    case WM_PAINT:
        OnPaint(hwnd);
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        return OnControlColor(reinterpret_cast<HDC>(wParam));
    case WM_INITMENU:
        // The menu bar is given to the window only after its creation: the check mark is
        // brought up to date whenever the menu opens.
        ShowSaveSkeletonCheck(reinterpret_cast<HMENU>(wParam));
        break;
    case WM_APP_ENCODER_LOST:
        OnEncoderLost(hwnd, wParam);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        break;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}
