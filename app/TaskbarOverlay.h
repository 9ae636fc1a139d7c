// The sign on the program's taskbar button while a take runs: a red overlay icon described as
// "Recording". Where the shell offers no taskbar interface (older systems, Wine), nothing is
// shown and nothing fails.
#pragma once

#include <windows.h>

// The message the shell sends once the window's taskbar button exists; 0 when unregistered.
UINT TaskbarButtonCreatedMessage();

// The program's taskbar button exists (again, after the shell restarted): the interface is
// taken.
void OnTaskbarButtonCreated();

// Shows or removes the red overlay on the button of `window`.
void ShowRecordingOverlay(HWND window, bool recording);

// Releases the interface and the icon. Main thread, at the end.
void ReleaseTaskbarOverlay();
