#include "sensor/KinectRuntime.h"

#include <mutex>

#include "platform/DllSearch.h"

namespace {

struct RuntimeExports {
    NuiInitializeFn initialize = nullptr;
    NuiShutdownFn shutdown = nullptr;
    NuiImageStreamOpenFn imageStreamOpen = nullptr;
    NuiImageStreamGetNextFrameFn imageStreamGetNextFrame = nullptr;
    NuiImageStreamReleaseFrameFn imageStreamReleaseFrame = nullptr;
    NuiSkeletonTrackingEnableFn skeletonTrackingEnable = nullptr;
    NuiSkeletonGetNextFrameFn skeletonGetNextFrame = nullptr;
    NuiTransformSmoothFn transformSmooth = nullptr;
    NuiSetDeviceStatusCallbackFn setDeviceStatusCallback = nullptr; // may be missing
    NuiGetSensorCountFn getSensorCount = nullptr;                   // may be missing
};

// Bound once on the main thread before the render thread starts. g_sensorOpen is set by a
// successful NuiInitialize and cleared by NuiShutdown under the lock, so a render pass can never
// call into a sensor that has been shut down.
std::recursive_mutex g_runtimeLock;
RuntimeExports g_runtime;
bool g_runtimeBound = false;
bool g_sensorOpen = false;

template <typename Fn> bool BindExport(HMODULE module, WORD ordinal, Fn& slot)
{
    // The exports are bound by ordinal, which is how the runtime publishes them.
    FARPROC proc = ::GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
    return proc != nullptr;
}

} // namespace

std::recursive_mutex& KinectRuntimeLock()
{
    return g_runtimeLock;
}

bool LoadKinectRuntime()
{
    // Without the runtime installed the program still starts; it just sees no sensor. Only the
    // program's folder and the system folder are searched: a copy planted in the current folder
    // would run inside the recorder.
    HMODULE module = ::LoadLibraryExW(L"Kinect10.dll", nullptr, kSafeDllSearchFolders);
    if (module == nullptr) {
        return false;
    }
    RuntimeExports exports;
    bool complete =
        BindExport(module, NUI_ORDINAL_INITIALIZE, exports.initialize) &&
        BindExport(module, NUI_ORDINAL_SHUTDOWN, exports.shutdown) &&
        BindExport(module, NUI_ORDINAL_IMAGE_STREAM_OPEN, exports.imageStreamOpen) &&
        BindExport(module, NUI_ORDINAL_IMAGE_STREAM_GET_NEXT_FRAME,
                   exports.imageStreamGetNextFrame) &&
        BindExport(module, NUI_ORDINAL_IMAGE_STREAM_RELEASE_FRAME,
                   exports.imageStreamReleaseFrame) &&
        BindExport(module, NUI_ORDINAL_SKELETON_TRACKING_ENABLE, exports.skeletonTrackingEnable) &&
        BindExport(module, NUI_ORDINAL_SKELETON_GET_NEXT_FRAME, exports.skeletonGetNextFrame) &&
        BindExport(module, NUI_ORDINAL_TRANSFORM_SMOOTH, exports.transformSmooth);
    if (!complete) {
        ::FreeLibrary(module);
        return false;
    }
    // Older runtimes lack these; they are bound by name, which is how they are published.
    exports.setDeviceStatusCallback = reinterpret_cast<NuiSetDeviceStatusCallbackFn>(
        reinterpret_cast<void*>(::GetProcAddress(module, "NuiSetDeviceStatusCallback")));
    exports.getSensorCount = reinterpret_cast<NuiGetSensorCountFn>(
        reinterpret_cast<void*>(::GetProcAddress(module, "NuiGetSensorCount")));
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    g_runtime = exports;
    g_runtimeBound = true;
    return true;
}

HRESULT NuiInitialize(DWORD flags)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    if (!g_runtimeBound) {
        return E_NUI_DEVICE_NOT_CONNECTED;
    }
    const HRESULT result = g_runtime.initialize(flags);
    g_sensorOpen = g_sensorOpen || result >= 0;
    return result;
}

HRESULT NuiImageStreamOpen(int imageType, int resolution, DWORD frameFlags, DWORD frameLimit,
                           HANDLE nextFrameEvent, HANDLE* streamOut)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    return g_sensorOpen ? g_runtime.imageStreamOpen(imageType, resolution, frameFlags, frameLimit,
                                                    nextFrameEvent, streamOut)
                        : E_NUI_DEVICE_NOT_CONNECTED;
}

HRESULT NuiImageStreamGetNextFrame(HANDLE stream, DWORD waitMs, const NUI_IMAGE_FRAME** frameOut)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    return g_sensorOpen ? g_runtime.imageStreamGetNextFrame(stream, waitMs, frameOut)
                        : E_NUI_DEVICE_NOT_CONNECTED;
}

HRESULT NuiImageStreamReleaseFrame(HANDLE stream, const NUI_IMAGE_FRAME* frame)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    return g_sensorOpen ? g_runtime.imageStreamReleaseFrame(stream, frame)
                        : E_NUI_DEVICE_NOT_CONNECTED;
}

HRESULT NuiSkeletonTrackingEnable(HANDLE nextFrameEvent, DWORD flags)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    return g_sensorOpen ? g_runtime.skeletonTrackingEnable(nextFrameEvent, flags)
                        : E_NUI_DEVICE_NOT_CONNECTED;
}

HRESULT NuiSkeletonGetNextFrame(DWORD waitMs, NUI_SKELETON_FRAME* frame)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    return g_sensorOpen ? g_runtime.skeletonGetNextFrame(waitMs, frame)
                        : E_NUI_DEVICE_NOT_CONNECTED;
}

HRESULT NuiTransformSmooth(NUI_SKELETON_FRAME* frame, const NUI_TRANSFORM_SMOOTH_PARAMETERS* params)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    return g_sensorOpen ? g_runtime.transformSmooth(frame, params) : E_NUI_DEVICE_NOT_CONNECTED;
}

void NuiShutdown()
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    if (g_sensorOpen) {
        g_runtime.shutdown();
        g_sensorOpen = false;
    }
}

bool NuiSetDeviceStatusCallback(NuiStatusProc callback, void* user)
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    if (!g_runtimeBound || g_runtime.setDeviceStatusCallback == nullptr) {
        return false;
    }
    g_runtime.setDeviceStatusCallback(callback, user);
    return true;
}

int NuiSensorCount()
{
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock);
    int count = 0;
    if (!g_runtimeBound || g_runtime.getSensorCount == nullptr ||
        g_runtime.getSensorCount(&count) < 0) {
        return -1;
    }
    return count;
}

bool NuiShutdownWithin(DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    // A recursive_mutex has no timed lock of its own: it is tried until the deadline.
    while (!g_runtimeLock.try_lock()) {
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::Sleep(10);
    }
    std::lock_guard<std::recursive_mutex> lock(g_runtimeLock, std::adopt_lock);
    NuiShutdown();
    return true;
}
