// nvrdrive-target.exe: a window of known controls for checking nvrdrive.exe itself.
// Controls: checkbox 1, edit 0, button 2 (asks a Yes/No question and writes the answer into the
// edit), button 3 (disabled), button 4 (Save dialog; writes the chosen path or "cancelled").
// Commands: 101 quits with exit code 7, 103 starts a child copy ("child" on its command line)
// with a window of class NvrDriveChild. Closing the window quits with exit code 0.
#include <windows.h>
#include <commdlg.h>

#include <cwchar>

namespace {

constexpr int kIdEdit = 0;
constexpr int kIdOption = 1;
constexpr int kIdAsk = 2;
constexpr int kIdOff = 3;
constexpr int kIdSave = 4;
constexpr int kIdQuit = 101;
constexpr int kIdSpawn = 103;

HWND g_edit = nullptr;

void AddControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y,
                int id)
{
    const HWND control = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y,
                                           cls[0] == L'E' ? 260 : 80, cls[0] == L'E' ? 20 : 25,
                                           parent,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                           nullptr, nullptr);
    if (id == kIdEdit) {
        g_edit = control;
    }
}

void CreateControls(HWND hwnd)
{
    AddControl(hwnd, L"BUTTON", L"Option", BS_AUTOCHECKBOX, 10, 10, kIdOption);
    AddControl(hwnd, L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL, 10, 40, kIdEdit);
    AddControl(hwnd, L"BUTTON", L"Ask", 0, 10, 70, kIdAsk);
    AddControl(hwnd, L"BUTTON", L"Off", WS_DISABLED, 100, 70, kIdOff);
    AddControl(hwnd, L"BUTTON", L"Save...", 0, 190, 70, kIdSave);
}

void AskQuestion(HWND hwnd)
{
    const int answer = ::MessageBoxW(hwnd, L"Line one\nLine two", L"Question", MB_YESNO);
    ::SetWindowTextW(g_edit, answer == IDYES ? L"yes" : L"no");
}

void ChooseFile(HWND hwnd)
{
    wchar_t path[MAX_PATH] = L"target.mp4";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = hwnd;
    dialog.lpstrFilter = L"MP4 Files (*.mp4)\0*.mp4\0All Files (*.*)\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.Flags = OFN_OVERWRITEPROMPT;
    dialog.lpstrDefExt = L"mp4";
    ::SetWindowTextW(g_edit, ::GetSaveFileNameW(&dialog) ? path : L"cancelled");
}

void SpawnChild()
{
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t commandLine[MAX_PATH + 16] = {};
    std::swprintf(commandLine, MAX_PATH + 16, L"\"%ls\" child", exe);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process)) {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
}

void OnCommand(HWND hwnd, int id)
{
    switch (id) {
    case kIdAsk: AskQuestion(hwnd); break;
    case kIdSave: ChooseFile(hwnd); break;
    case kIdQuit: ::PostQuitMessage(7); break;
    case kIdSpawn: SpawnChild(); break;
    default: break;
    }
}

LRESULT CALLBACK TargetWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateControls(hwnd);
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool RegisterAndCreate(HINSTANCE instance, const wchar_t* className, const wchar_t* title,
                       int show)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TargetWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    ::RegisterClassW(&windowClass);
    const HWND hwnd = ::CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 300, 200, nullptr, nullptr, instance,
                                        nullptr);
    if (hwnd == nullptr) {
        return false;
    }
    ::ShowWindow(hwnd, show);
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show)
{
    const bool child = std::wcsstr(commandLine, L"child") != nullptr;
    const bool created =
        child ? RegisterAndCreate(instance, L"NvrDriveChild", L"child", show)
              : RegisterAndCreate(instance, L"NvrDriveTarget", L"Drive target \u00fc", show);
    if (!created) {
        return 1;
    }
    MSG message = {};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
