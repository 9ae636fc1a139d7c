#include "Commands.h"

#include <cstddef>

#include "ProcessOps.h"
#include "Protocol.h"
#include "WindowOps.h"

namespace {

using Fields = std::vector<std::string>;

// A command's arguments after they have been checked and converted; handlers throw nothing and
// report every problem through the answer.
struct Call {
    const Fields& args;
    Answer& answer;
};

using Handler = void (*)(Call& call);

struct Command {
    const char* name;
    std::size_t minArgs;
    std::size_t maxArgs; // the last of them keeps its spaces
    const char* usage;
    Handler handler;
};

void Ok(Call& call, const std::string& text = std::string())
{
    call.answer.result = text.empty() ? "ok" : "ok " + text;
}

void Err(Call& call, const std::string& message)
{
    call.answer.result = "err " + message;
}

std::string Flag(bool value)
{
    return value ? "1" : "0";
}

std::string Int(long long value)
{
    return std::to_string(value);
}

// Argument readers: each reports a clear error and returns false on bad input.
bool WindowArg(Call& call, std::size_t index, HWND* hwnd)
{
    if (!ParseHandle(call.args[index], hwnd)) {
        Err(call, "bad window handle: " + call.args[index]);
        return false;
    }
    if (!::IsWindow(*hwnd)) {
        Err(call, "no such window: " + call.args[index]);
        return false;
    }
    return true;
}

bool NumberArg(Call& call, std::size_t index, unsigned long* value)
{
    if (!ParseNumber(call.args[index], value)) {
        Err(call, "bad number: " + call.args[index]);
        return false;
    }
    return true;
}

bool IntArg(Call& call, std::size_t index, int* value)
{
    if (!ParseInt(call.args[index], value)) {
        Err(call, "bad number: " + call.args[index]);
        return false;
    }
    return true;
}

bool TextArg(Call& call, std::size_t index, std::wstring* text)
{
    std::string plain;
    if (!UnescapeText(call.args[index], &plain)) {
        Err(call, "bad escape in: " + call.args[index]);
        return false;
    }
    *text = Utf8ToWide(plain);
    return true;
}

// The window's text for a reply; its server-side title when the owner does not answer in time.
std::string TextOf(HWND hwnd)
{
    std::wstring text;
    if (!ReadWindowText(hwnd, &text)) {
        wchar_t title[1024] = {};
        const int length = ::InternalGetWindowText(hwnd, title, 1024);
        text.assign(title, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    return WideToUtf8(text);
}

std::string ClassText(HWND hwnd)
{
    return EscapeText(WideToUtf8(ClassOf(hwnd)), false);
}

void Ping(Call& call)
{
    Ok(call, "pong");
}

void Quit(Call& call)
{
    call.answer.quit = true;
    Ok(call, "bye");
}

void SendTimeout(Call& call)
{
    unsigned long timeoutMs = 0;
    if (NumberArg(call, 0, &timeoutMs)) {
        SetSendTimeout(timeoutMs);
        Ok(call);
    }
}

void Find(Call& call)
{
    std::wstring className = Utf8ToWide(call.args[0]);
    unsigned long timeoutMs = 0;
    std::wstring title;
    if (!NumberArg(call, 1, &timeoutMs) || (call.args.size() > 2 && !TextArg(call, 2, &title))) {
        return;
    }
    const wchar_t* classArg = className == L"*" ? nullptr : className.c_str();
    const wchar_t* titleArg = call.args.size() > 2 ? title.c_str() : nullptr;
    // Only a visible window: one is found before its WM_CREATE has run, while it is shown only
    // after its creation has finished.
    HWND found = nullptr;
    if (PollUntil(timeoutMs, [&] {
            found = nullptr;
            do {
                found = ::FindWindowExW(nullptr, found, classArg, titleArg);
            } while (found != nullptr && !::IsWindowVisible(found));
            return found != nullptr;
        })) {
        Ok(call, FormatHandle(found));
    } else {
        Err(call, "timeout");
    }
}

void Windows(Call& call)
{
    unsigned long pid = 0;
    if (!NumberArg(call, 0, &pid)) {
        return;
    }
    for (HWND hwnd : TopLevelWindows(pid)) {
        call.answer.items.push_back("item " + FormatHandle(hwnd) + " " + Int(ProcessOf(hwnd)) +
                                    " " + ClassText(hwnd) + " " +
                                    Flag(::IsWindowVisible(hwnd) != FALSE) + " " +
                                    EscapeText(TextOf(hwnd), true));
    }
    Ok(call, "end");
}

void Child(Call& call)
{
    HWND parent = nullptr;
    int id = 0;
    if (!WindowArg(call, 0, &parent) || !IntArg(call, 1, &id)) {
        return;
    }
    const HWND child = ::GetDlgItem(parent, id);
    if (child == nullptr) {
        Err(call, "no child with id " + call.args[1]);
    } else {
        Ok(call, FormatHandle(child));
    }
}

void Children(Call& call)
{
    HWND parent = nullptr;
    if (!WindowArg(call, 0, &parent)) {
        return;
    }
    for (HWND child : DirectChildren(parent)) {
        RECT rect = {};
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
        call.answer.items.push_back(
            "item " + FormatHandle(child) + " " + Int(::GetDlgCtrlID(child)) + " " +
            ClassText(child) + " " + FormatHex(static_cast<unsigned long>(style)) + " " +
            Flag(::IsWindowEnabled(child) != FALSE) + " " +
            Flag(::IsWindowVisible(child) != FALSE) + " " + Int(rect.left) + " " +
            Int(rect.top) + " " + Int(rect.right - rect.left) + " " +
            Int(rect.bottom - rect.top) + " " + EscapeText(TextOf(child), true));
    }
    Ok(call, "end");
}

void Class(Call& call)
{
    HWND hwnd = nullptr;
    if (WindowArg(call, 0, &hwnd)) {
        Ok(call, EscapeText(WideToUtf8(ClassOf(hwnd)), true));
    }
}

void Pid(Call& call)
{
    HWND hwnd = nullptr;
    if (WindowArg(call, 0, &hwnd)) {
        Ok(call, Int(ProcessOf(hwnd)));
    }
}

void Rect(Call& call)
{
    HWND hwnd = nullptr;
    if (!WindowArg(call, 0, &hwnd)) {
        return;
    }
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    Ok(call, Int(rect.left) + " " + Int(rect.top) + " " + Int(rect.right - rect.left) + " " +
                 Int(rect.bottom - rect.top));
}

void Client(Call& call)
{
    HWND hwnd = nullptr;
    if (!WindowArg(call, 0, &hwnd)) {
        return;
    }
    RECT rect = {};
    ::GetClientRect(hwnd, &rect);
    POINT origin = {0, 0};
    ::ClientToScreen(hwnd, &origin);
    Ok(call, Int(rect.right) + " " + Int(rect.bottom) + " " + Int(origin.x) + " " +
                 Int(origin.y));
}

void Move(Call& call)
{
    HWND hwnd = nullptr;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    const bool sized = call.args.size() == 5;
    if (call.args.size() == 4) {
        Err(call, "usage: move HWND X Y [W H]");
        return;
    }
    if (!WindowArg(call, 0, &hwnd) || !IntArg(call, 1, &x) || !IntArg(call, 2, &y) ||
        (sized && (!IntArg(call, 3, &width) || !IntArg(call, 4, &height)))) {
        return;
    }
    // Asynchronous: a synchronous SetWindowPos on another thread's window waits without bound
    // for that thread to answer. The result is awaited below instead.
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS;
    if (!sized) {
        flags |= SWP_NOSIZE;
    }
    if (!::SetWindowPos(hwnd, nullptr, x, y, width, height, flags)) {
        Err(call, "SetWindowPos failed, error " + Int(::GetLastError()));
        return;
    }
    const bool placed = PollUntil(GetSendTimeout(), [&] {
        RECT rect = {};
        ::GetWindowRect(hwnd, &rect);
        return rect.left == x && rect.top == y &&
               (!sized || (rect.right - rect.left == width && rect.bottom - rect.top == height));
    });
    if (placed) {
        Ok(call);
    } else {
        Err(call, "timeout");
    }
}

void Click(Call& call)
{
    HWND hwnd = nullptr;
    if (!WindowArg(call, 0, &hwnd)) {
        return;
    }
    // A user can't click a hidden or disabled control, nor one in a window disabled by a
    // modal box; `command` sends the command regardless.
    const HWND root = ::GetAncestor(hwnd, GA_ROOT);
    if (!::IsWindowVisible(hwnd)) {
        Err(call, "not visible");
    } else if (!::IsWindowEnabled(hwnd)) {
        Err(call, "disabled");
    } else if (root != nullptr && !::IsWindowEnabled(root)) {
        Err(call, "its window is disabled");
    } else if (!::PostMessageW(hwnd, BM_CLICK, 0, 0)) {
        // Posted, not sent: a modal box opened by the click's handler would hold a send open.
        Err(call, "PostMessage failed, error " + Int(::GetLastError()));
    } else {
        Ok(call);
    }
}

void CommandMessage(Call& call)
{
    HWND hwnd = nullptr;
    unsigned long id = 0;
    if (!WindowArg(call, 0, &hwnd) || !NumberArg(call, 1, &id)) {
        return;
    }
    if (id > 0xFFFF) {
        Err(call, "command id out of range: " + call.args[1]);
    } else if (!::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0)) {
        Err(call, "PostMessage failed, error " + Int(::GetLastError()));
    } else {
        Ok(call);
    }
}

void Close(Call& call)
{
    HWND hwnd = nullptr;
    if (!WindowArg(call, 0, &hwnd)) {
        return;
    }
    if (::PostMessageW(hwnd, WM_CLOSE, 0, 0)) {
        Ok(call);
    } else {
        Err(call, "PostMessage failed, error " + Int(::GetLastError()));
    }
}

void GetText(Call& call)
{
    HWND hwnd = nullptr;
    if (!WindowArg(call, 0, &hwnd)) {
        return;
    }
    std::wstring text;
    if (ReadWindowText(hwnd, &text)) {
        Ok(call, EscapeText(WideToUtf8(text), true));
    } else {
        Err(call, "timeout reading the text");
    }
}

void SetText(Call& call)
{
    HWND hwnd = nullptr;
    std::wstring text;
    if (!WindowArg(call, 0, &hwnd) || !TextArg(call, 1, &text)) {
        return;
    }
    DWORD_PTR result = 0;
    if (!SendBounded(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result)) {
        Err(call, "timeout setting the text");
    } else if (result != TRUE) {
        Err(call, "the window refused the text");
    } else {
        Ok(call);
    }
}

void Enabled(Call& call)
{
    HWND hwnd = nullptr;
    if (WindowArg(call, 0, &hwnd)) {
        Ok(call, Flag(::IsWindowEnabled(hwnd) != FALSE));
    }
}

void Visible(Call& call)
{
    HWND hwnd = nullptr;
    if (WindowArg(call, 0, &hwnd)) {
        Ok(call, Flag(::IsWindowVisible(hwnd) != FALSE));
    }
}

void Checked(Call& call)
{
    HWND hwnd = nullptr;
    if (!WindowArg(call, 0, &hwnd)) {
        return;
    }
    DWORD_PTR state = 0;
    if (SendBounded(hwnd, BM_GETCHECK, 0, 0, &state)) {
        Ok(call, Int(static_cast<long long>(state)));
    } else {
        Err(call, "timeout reading the check state");
    }
}

void Style(Call& call)
{
    HWND hwnd = nullptr;
    if (!WindowArg(call, 0, &hwnd)) {
        return;
    }
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    Ok(call, FormatHex(static_cast<unsigned long>(style)) + " " +
                 FormatHex(static_cast<unsigned long>(exStyle)));
}

void Dialogs(Call& call)
{
    unsigned long pid = 0;
    if (!NumberArg(call, 0, &pid)) {
        return;
    }
    for (HWND hwnd : TopLevelWindows(pid)) {
        if (!::IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") {
            continue;
        }
        std::string buttons;
        for (int id : DialogButtons(hwnd)) {
            buttons += (buttons.empty() ? "" : ",") + Int(id);
        }
        // The message text of a message box is the static control 0xFFFF.
        const HWND message = ::GetDlgItem(hwnd, 0xFFFF);
        call.answer.items.push_back(
            "item " + FormatHandle(hwnd) + " " + (buttons.empty() ? "-" : buttons) + " " +
            EscapeText(TextOf(hwnd), false) + " " +
            EscapeText(message != nullptr ? TextOf(message) : std::string(), true));
    }
    Ok(call, "end");
}

void Press(Call& call)
{
    HWND dialog = nullptr;
    int id = 0;
    if (!WindowArg(call, 0, &dialog) || !IntArg(call, 1, &id)) {
        return;
    }
    const HWND button = ::GetDlgItem(dialog, id);
    if (button == nullptr || !::IsWindowVisible(button)) {
        Err(call, "no button " + call.args[1] + " in that dialog");
    } else if (!::IsWindowEnabled(button)) {
        Err(call, "button " + call.args[1] + " is disabled");
    } else if (!::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                               reinterpret_cast<LPARAM>(button))) {
        // The notification a click of that button sends its dialog.
        Err(call, "PostMessage failed, error " + Int(::GetLastError()));
    } else {
        Ok(call);
    }
}

void WaitDialog(Call& call)
{
    unsigned long pid = 0;
    unsigned long timeoutMs = 0;
    std::wstring caption;
    const bool byCaption = call.args.size() > 2;
    if (!NumberArg(call, 0, &pid) || !NumberArg(call, 1, &timeoutMs) ||
        (byCaption && !TextArg(call, 2, &caption))) {
        return;
    }
    HWND found = nullptr;
    if (PollUntil(timeoutMs, [&] {
            found = FindDialog(pid, byCaption ? &caption : nullptr);
            return found != nullptr;
        })) {
        Ok(call, FormatHandle(found));
    } else {
        Err(call, "timeout");
    }
}

void WaitGone(Call& call)
{
    HWND hwnd = nullptr;
    unsigned long timeoutMs = 0;
    if (!ParseHandle(call.args[0], &hwnd)) {
        Err(call, "bad window handle: " + call.args[0]);
        return;
    }
    if (!NumberArg(call, 1, &timeoutMs)) {
        return;
    }
    if (PollUntil(timeoutMs, [&] { return !::IsWindow(hwnd); })) {
        Ok(call);
    } else {
        Err(call, "timeout");
    }
}

void SaveDialog(Call& call)
{
    unsigned long pid = 0;
    unsigned long timeoutMs = 0;
    if (!NumberArg(call, 0, &pid) || !NumberArg(call, 1, &timeoutMs)) {
        return;
    }
    HWND found = nullptr;
    const bool appeared = PollUntil(timeoutMs, [&] {
        for (HWND hwnd : TopLevelWindows(pid)) {
            if (::IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770" &&
                FileNameEdit(hwnd) != nullptr) {
                found = hwnd;
                return true;
            }
        }
        return false;
    });
    if (appeared) {
        Ok(call, FormatHandle(found));
    } else {
        Err(call, "timeout");
    }
}

void SaveDialogChoose(Call& call)
{
    HWND dialog = nullptr;
    std::wstring path;
    if (!WindowArg(call, 0, &dialog) || !TextArg(call, 1, &path)) {
        return;
    }
    const HWND edit = FileNameEdit(dialog);
    if (edit == nullptr) {
        Err(call, "not a file dialog");
        return;
    }
    DWORD_PTR result = 0;
    if (!SendBounded(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), &result)) {
        Err(call, "timeout typing the file name");
    } else if (!::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)))) {
        Err(call, "PostMessage failed, error " + Int(::GetLastError()));
    } else {
        Ok(call);
    }
}

void SaveDialogCancel(Call& call)
{
    HWND dialog = nullptr;
    if (!WindowArg(call, 0, &dialog)) {
        return;
    }
    if (::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDCANCEL)))) {
        Ok(call);
    } else {
        Err(call, "PostMessage failed, error " + Int(::GetLastError()));
    }
}

void Processes(Call& call)
{
    for (const ProcessEntry& entry : ListProcesses()) {
        call.answer.items.push_back("item " + Int(entry.pid) + " " + Int(entry.parentPid) + " " +
                                    EscapeText(WideToUtf8(entry.exeName), true));
    }
    Ok(call, "end");
}

void Watch(Call& call)
{
    unsigned long pid = 0;
    if (!NumberArg(call, 0, &pid)) {
        return;
    }
    if (WatchProcess(pid)) {
        Ok(call);
    } else {
        Err(call, "no such process: " + call.args[0]);
    }
}

void Unwatch(Call& call)
{
    unsigned long pid = 0;
    if (!NumberArg(call, 0, &pid)) {
        return;
    }
    if (UnwatchProcess(pid)) {
        Ok(call);
    } else {
        Err(call, "not watched: " + call.args[0]);
    }
}

void WaitExit(Call& call)
{
    unsigned long pid = 0;
    unsigned long timeoutMs = 0;
    if (!NumberArg(call, 0, &pid) || !NumberArg(call, 1, &timeoutMs)) {
        return;
    }
    DWORD exitCode = 0;
    const DWORD waited = WaitForExit(pid, timeoutMs, &exitCode);
    if (waited == WAIT_OBJECT_0) {
        Ok(call, Int(exitCode));
    } else if (waited == WAIT_TIMEOUT) {
        Err(call, "timeout");
    } else {
        Err(call, "no such process (or it ended unwatched): " + call.args[0]);
    }
}

void Terminate(Call& call)
{
    unsigned long pid = 0;
    unsigned long timeoutMs = 0;
    if (!NumberArg(call, 0, &pid) || !NumberArg(call, 1, &timeoutMs)) {
        return;
    }
    int stillRunning = 0;
    const int ended = TerminateTree(pid, timeoutMs, &stillRunning);
    if (ended < 0) {
        Err(call, "no such process: " + call.args[0]);
    } else if (stillRunning > 0) {
        Err(call, "timeout");
    } else {
        Ok(call, Int(ended));
    }
}

const Command kCommands[] = {
    {"ping", 0, 0, "ping", Ping},
    {"quit", 0, 0, "quit", Quit},
    {"sendtimeout", 1, 1, "sendtimeout MS", SendTimeout},
    {"find", 2, 3, "find CLASS TIMEOUT [TITLE]", Find},
    {"windows", 1, 1, "windows PID", Windows},
    {"child", 2, 2, "child HWND ID", Child},
    {"children", 1, 1, "children HWND", Children},
    {"class", 1, 1, "class HWND", Class},
    {"pid", 1, 1, "pid HWND", Pid},
    {"rect", 1, 1, "rect HWND", Rect},
    {"client", 1, 1, "client HWND", Client},
    {"move", 3, 5, "move HWND X Y [W H]", Move},
    {"click", 1, 1, "click HWND", Click},
    {"command", 2, 2, "command HWND ID", CommandMessage},
    {"close", 1, 1, "close HWND", Close},
    {"gettext", 1, 1, "gettext HWND", GetText},
    {"settext", 2, 2, "settext HWND TEXT", SetText},
    {"enabled", 1, 1, "enabled HWND", Enabled},
    {"visible", 1, 1, "visible HWND", Visible},
    {"checked", 1, 1, "checked HWND", Checked},
    {"style", 1, 1, "style HWND", Style},
    {"dialogs", 1, 1, "dialogs PID", Dialogs},
    {"press", 2, 2, "press DIALOG BUTTONID", Press},
    {"wait-dialog", 2, 3, "wait-dialog PID TIMEOUT [CAPTION]", WaitDialog},
    {"wait-gone", 2, 2, "wait-gone HWND TIMEOUT", WaitGone},
    {"savedialog", 2, 2, "savedialog PID TIMEOUT", SaveDialog},
    {"savedialog-choose", 2, 2, "savedialog-choose DIALOG PATH", SaveDialogChoose},
    {"savedialog-cancel", 1, 1, "savedialog-cancel DIALOG", SaveDialogCancel},
    {"ps", 0, 0, "ps", Processes},
    {"watch", 1, 1, "watch PID", Watch},
    {"unwatch", 1, 1, "unwatch PID", Unwatch},
    {"wait-exit", 2, 2, "wait-exit PID TIMEOUT", WaitExit},
    {"terminate", 2, 2, "terminate PID TIMEOUT", Terminate},
};

} // namespace

Answer HandleRequest(const std::string& line)
{
    Answer answer;
    const std::vector<std::string> head = SplitFields(line, 2);
    if (head.empty() || head[0].empty()) {
        answer.result = "err empty request";
        return answer;
    }
    for (const Command& command : kCommands) {
        if (head[0] != command.name) {
            continue;
        }
        Fields args;
        if (head.size() > 1 && command.maxArgs > 0) {
            args = SplitFields(head[1], command.maxArgs);
        } else if (head.size() > 1) {
            args.push_back(head[1]); // too many: caught below
        }
        if (args.size() < command.minArgs || args.size() > command.maxArgs) {
            answer.result = std::string("err usage: ") + command.usage;
            return answer;
        }
        Call call{args, answer};
        command.handler(call);
        return answer;
    }
    answer.result = "err unknown command: " + head[0];
    return answer;
}
