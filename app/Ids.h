// Control, command and private message identifiers of the control window.
#pragma once

#include <windows.h>

constexpr int IDC_SHOW_COLOR = 1;
constexpr int IDC_START = 2;
constexpr int IDC_STOP = 3;
constexpr int IDC_SAVE_PATH = 4;
constexpr int IDC_PATH_EDIT = 0;
constexpr int IDM_QUIT = 101;
constexpr int IDM_ABOUT = 102;
constexpr int IDM_SAVE_SKELETON = 103;

// Posted by a take's writer thread to the control window when frame writes fail because the
// encoder has gone; wParam is the take's id, lParam is unused.
constexpr UINT WM_APP_ENCODER_LOST = WM_APP + 1;
