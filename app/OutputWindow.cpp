#include "app/OutputWindow.h"

#include "sensor/RenderLoop.h"

LRESULT CALLBACK OutputWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    case WM_ERASEBKGND:
        // The render thread covers the whole client area; erasing first would only flicker.
        return 1;
    case WM_PAINT: {
        // Uncovered or resized: the render thread's next pass puts the picture back.
        PAINTSTRUCT paint;
        ::BeginPaint(hwnd, &paint);
        ::EndPaint(hwnd, &paint);
        RequestOutputRepaint();
        return 0;
    }
    default:
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}
