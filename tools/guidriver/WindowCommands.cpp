// Commands that find, inspect, place and act on windows.
#include "CommandSupport.h"
#include "Protocol.h"
#include "WindowOps.h"

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
    const bool placed = PollUntil(kSendTimeoutMs, [&] {
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
