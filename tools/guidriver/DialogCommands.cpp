// Commands for message boxes and the common Save dialog.
#include "CommandSupport.h"
#include "Protocol.h"
#include "WindowOps.h"

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
