#include "WindowOps.h"

namespace {

// The ids of the file-name field in the common file dialog: a combo box (cmb13) in the Explorer
// layout of Windows, an edit box (edt1) in Wine's and the old layout.
constexpr int kFileNameCombo = 0x047C;
constexpr int kFileNameEdit = 0x0480;

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
    return TRUE;
}

// The first EDIT control among the window's descendants, at most `depth` levels down.
HWND FindEditBelow(HWND parent, int depth)
{
    for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr && depth > 0;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        ::GetClassNameW(child, name, 16);
        if (::lstrcmpiW(name, L"Edit") == 0) {
            return child;
        }
        const HWND below = FindEditBelow(child, depth - 1);
        if (below != nullptr) {
            return below;
        }
    }
    return nullptr;
}

} // namespace

bool SendBounded(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result)
{
    DWORD_PTR answer = 0;
    const LRESULT sent =
        ::SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &answer);
    if (sent == 0) {
        return false;
    }
    if (result != nullptr) {
        *result = answer;
    }
    return true;
}

bool PollUntil(DWORD timeoutMs, const std::function<bool()>& done)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) {
            return true;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        ::Sleep(static_cast<DWORD>(deadline - now < 10 ? deadline - now : 10));
    }
}

bool ReadWindowText(HWND hwnd, std::wstring* text)
{
    DWORD_PTR length = 0;
    if (!SendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0, &length)) {
        return false;
    }
    // The length may grow between the two messages; the copy is cut to the buffer then.
    std::wstring buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendBounded(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]),
                     &copied)) {
        return false;
    }
    buffer.resize(copied < length ? copied : length);
    *text = buffer;
    return true;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = {};
    const int length = ::GetClassNameW(hwnd, name, 256);
    return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

DWORD ProcessOf(HWND hwnd)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

std::vector<HWND> TopLevelWindows(DWORD pid)
{
    std::vector<HWND> all;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    if (pid == 0) {
        return all;
    }
    std::vector<HWND> mine;
    for (HWND hwnd : all) {
        if (ProcessOf(hwnd) == pid) {
            mine.push_back(hwnd);
        }
    }
    return mine;
}

std::vector<HWND> DirectChildren(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

HWND FindDialog(DWORD pid, const std::wstring* caption)
{
    for (HWND hwnd : TopLevelWindows(pid)) {
        if (!::IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") {
            continue;
        }
        std::wstring text;
        if (caption == nullptr || (ReadWindowText(hwnd, &text) && text == *caption)) {
            return hwnd;
        }
    }
    return nullptr;
}

HWND FileNameEdit(HWND dialog)
{
    // Windows and Wine nest the edit box in the combo box (Wine: ComboBoxEx32 > ComboBox > Edit).
    const HWND combo = ::GetDlgItem(dialog, kFileNameCombo);
    if (combo != nullptr) {
        const HWND edit = FindEditBelow(combo, 3);
        if (edit != nullptr) {
            return edit;
        }
    }
    return ::GetDlgItem(dialog, kFileNameEdit);
}

std::vector<int> DialogButtons(HWND dialog)
{
    std::vector<int> ids;
    for (HWND child : DirectChildren(dialog)) {
        if (!::IsWindowVisible(child) || ::lstrcmpiW(ClassOf(child).c_str(), L"Button") != 0) {
            continue;
        }
        const LONG_PTR type = ::GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
            ids.push_back(::GetDlgCtrlID(child));
        }
    }
    return ids;
}
