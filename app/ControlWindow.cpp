#include "app/ControlWindow.h"

#include "app/AppState.h"
#include "app/Ids.h"
#include "recording/FramePipe.h"
#include "recording/Recording.h"

namespace {

// Frame writes failed because the encoder has gone: the recording is stopped as if Stop had
// been pressed, and the user is told. A report from an earlier recording is ignored.
void OnEncoderLost(HWND hwnd, WPARAM generation)
{
    if (!g_isRecording.load() || generation != FramePipeGeneration()) {
        return;
    }
    StopRecording();
    ::MessageBoxW(hwnd, L"Recording stopped: FFmpeg ended unexpectedly.", L"Error", MB_OK);
}

} // namespace

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_QUIT) {
            ::PostQuitMessage(0);
        }
        break;
    case WM_APP_ENCODER_LOST:
        OnEncoderLost(hwnd, wParam);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        break;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}
