// The output window, on which the render thread draws the picture and the skeletons.
#pragma once

#include <windows.h>

constexpr const wchar_t* kOutputWindowClass = L"KinectOutput";
constexpr const wchar_t* kOutputWindowTitle = L"Kinect Output";
constexpr int kOutputWindowWidth = 660;
constexpr int kOutputWindowHeight = 520;

// The output window's procedure: destroying it ends the program; it paints nothing itself.
LRESULT CALLBACK OutputWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
