// Queries and actions on other processes' windows. Everything sent to another process goes
// through SendMessageTimeoutW with the driver's send bound, so a hung target can't hang the driver.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The bound of every message sent to another process, in milliseconds.
constexpr DWORD kSendTimeoutMs = 5000;

// Sends one message with the send bound. Returns false when it timed out or failed.
bool SendBounded(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result);

// Calls `done` every 10 ms until it returns true or `timeoutMs` has passed; one last call is made
// at the deadline. Returns the last result.
bool PollUntil(DWORD timeoutMs, const std::function<bool()>& done);

// The window's text as its owner reports it (WM_GETTEXT, which an edit control answers with its
// contents). Returns false when the window did not answer within the send bound.
bool ReadWindowText(HWND hwnd, std::wstring* text);

std::wstring ClassOf(HWND hwnd);
DWORD ProcessOf(HWND hwnd);

// All top-level windows, in Z order; when pid is not 0, only those of that process.
std::vector<HWND> TopLevelWindows(DWORD pid);

// The window's direct children (not grandchildren), in Z order.
std::vector<HWND> DirectChildren(HWND parent);

// A visible top-level dialog (#32770) of the process whose caption equals `caption` (any caption
// when null); null when there is none.
HWND FindDialog(DWORD pid, const std::wstring* caption);

// The file-name edit box of a common file dialog, or null when `dialog` has none.
HWND FileNameEdit(HWND dialog);

// Ids of the dialog's visible push buttons, in Z order.
std::vector<int> DialogButtons(HWND dialog);
