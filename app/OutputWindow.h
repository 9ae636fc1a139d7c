// The output window, on which the render thread draws the picture and the skeletons.
#pragma once

#include <windows.h>

constexpr const wchar_t* kOutputWindowClass = L"KinectOutput";
constexpr const wchar_t* kOutputWindowTitle = L"Kinect Output";
constexpr int kOutputWindowWidth = 660;
constexpr int kOutputWindowHeight = 520;

// The output window's procedure: destroying it ends the program; the render thread paints it,
// asked again whenever the window needs painting.
LRESULT CALLBACK OutputWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
