// The control window: the feed checkbox, the save path, Start/Stop, the banner and the menu's
// commands.
#pragma once

#include <windows.h>

constexpr const wchar_t* kControlWindowClass = L"KinectMain";
constexpr const wchar_t* kControlWindowTitle = L"Nimbra VIZ Recorder";
constexpr int kControlWindowWidth = 400;
constexpr int kControlWindowHeight = 350;

// The control window's procedure.
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
