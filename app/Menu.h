// The control window's menu bar: File > Open Recordings Folder, Record Sound From (a submenu),
// Save Skeleton Data, Save Depth and Publish to Lab Streaming Layer (check items) and &Quit, and
// Help > &About.
#pragma once

#include <windows.h>

constexpr const wchar_t* kPublishLslText = L"Publish to Lab Streaming Layer";
// Its text, greyed, when lsl.dll is not beside the program.
constexpr const wchar_t* kPublishLslMissingText =
    L"Publish to Lab Streaming Layer (lsl.dll not found)";

// Creates the menu bar, the File menu and the Help menu, in that order, and fills them. The
// Save Skeleton Data item starts unchecked; the control window shows the switch's state on it.
HMENU CreateMainMenu();
