#include "app/TaskbarOverlay.h"

#include <objbase.h>
#include <shobjidl.h>

namespace {

ITaskbarList3* g_taskbar = nullptr;
HICON g_recordingIcon = nullptr;
bool g_comStarted = false;

// A 16 x 16 red disc on a transparent ground.
HICON CreateRecordingIcon()
{
    constexpr int kSize = 16;
    BITMAPV5HEADER header = {};
    header.bV5Size = sizeof(header);
    header.bV5Width = kSize;
    header.bV5Height = -kSize;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HBITMAP colour = ::CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                        DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    HBITMAP mask = ::CreateBitmap(kSize, kSize, 1, 1, nullptr);
    HICON icon = nullptr;
    if (colour != nullptr && mask != nullptr) {
        auto* pixels = static_cast<DWORD*>(bits);
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const int dx = 2 * x - (kSize - 1);
                const int dy = 2 * y - (kSize - 1);
                const bool inside = dx * dx + dy * dy <= (kSize - 1) * (kSize - 1);
                pixels[y * kSize + x] = inside ? 0xFFE00000 : 0;
            }
        }
        ICONINFO info = {};
        info.fIcon = TRUE;
        info.hbmColor = colour;
        info.hbmMask = mask;
        icon = ::CreateIconIndirect(&info);
    }
    if (colour != nullptr) {
        ::DeleteObject(colour);
    }
    if (mask != nullptr) {
        ::DeleteObject(mask);
    }
    return icon;
}

} // namespace

UINT TaskbarButtonCreatedMessage()
{
    static const UINT message = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

void OnTaskbarButtonCreated()
{
    if (!g_comStarted) {
        g_comStarted = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    if (g_taskbar == nullptr &&
        SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITaskbarList3, reinterpret_cast<void**>(&g_taskbar)))) {
        if (FAILED(g_taskbar->HrInit())) {
            g_taskbar->Release();
            g_taskbar = nullptr;
        }
    }
}

void ShowRecordingOverlay(HWND window, bool recording)
{
    if (g_taskbar == nullptr) {
        return;
    }
    if (recording && g_recordingIcon == nullptr) {
        g_recordingIcon = CreateRecordingIcon();
    }
    g_taskbar->SetOverlayIcon(window, recording ? g_recordingIcon : nullptr,
                              recording ? L"Recording" : nullptr);
}

void ReleaseTaskbarOverlay()
{
    if (g_taskbar != nullptr) {
        g_taskbar->Release();
        g_taskbar = nullptr;
    }
    if (g_recordingIcon != nullptr) {
        ::DestroyIcon(g_recordingIcon);
        g_recordingIcon = nullptr;
    }
    if (g_comStarted) {
        ::CoUninitialize();
        g_comStarted = false;
    }
}
