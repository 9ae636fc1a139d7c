// The status line on screen: a static text along the bottom of the control window that shows
// the idle line (kept up to date for the path in the box), the running take's line, or a fixed
// text (saving, saved, a failure) until the next take. Main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Creates the status line as child `id` of `parent`, at the bottom of its client area.
void CreateStatusLine(HWND parent, int id);

// Moves the status line to the bottom of `parent`'s client area, whose height changes once the
// menu bar is attached.
void PlaceStatusLine(HWND parent);

// Brings the idle line up to date for `pathInBox` (a full path), or the running take's line; a
// fixed text stays. Shows the latest reading of the disk; with `read` asks for the next one (at
// most one a second; the parent gets WM_APP_FREE_SPACE when it is there). Never waits for a disk.
void RefreshStatusLine(const std::wstring& pathInBox, bool read = true);

// From now on the line follows the take recording to `takePath`, until a fixed text.
void ShowTakeStatus(const std::wstring& takePath);

// Back to the idle line (the take's line while a take runs) at the next refresh.
void ShowIdleStatus();

// Shows `text` until the next take.
void ShowFixedStatus(const std::wstring& text);

// Whether the line shows `text` now.
bool IsStatusShowing(const std::wstring& text);

// A finished take whose files hold `bytes` for `frames` of video: later estimates of the time left
// on a disk use its data rate. Nothing changes for an empty file.
void NoteTakeDataRate(uint64_t bytes, int64_t frames);

// The colour of `control`'s text: red on the status line while it warns, otherwise black.
COLORREF StatusLineTextColor(HWND control);
