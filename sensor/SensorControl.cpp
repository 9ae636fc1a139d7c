#include "sensor/SensorControl.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/HostClock.h"
#include "sensor/KinectRuntime.h"
#include "sensor/RenderLoop.h"

namespace {

HWND g_statusWindow = nullptr;
UINT g_statusMessage = 0;
std::atomic<bool> g_running{false};
std::atomic<uint64_t> g_missingSince{0};
// The sensor's instance name, and that of a connected one whose start failed; g_nameLock.
std::mutex g_nameLock;
std::wstring g_instanceName;
std::wstring g_pendingName;

constexpr DWORD kInitializeFlags = NUI_INITIALIZE_FLAG_USES_DEPTH_AND_PLAYER_INDEX |
                                   NUI_INITIALIZE_FLAG_USES_COLOR |
                                   NUI_INITIALIZE_FLAG_USES_SKELETON;

struct DepthStream {
    HANDLE stream = nullptr;
    int width = 0;
    int height = 0;
};

// Opens the depth-and-player-index stream at 640 x 480, or at 320 x 240 where the runtime
// refuses that; without either, the recorder saves no depth.
DepthStream OpenDepthStream()
{
    const struct {
        int resolution;
        int width;
        int height;
    } kSizes[] = {{NUI_IMAGE_RESOLUTION_640x480, 640, 480},
                  {NUI_IMAGE_RESOLUTION_320x240, 320, 240}};
    for (const auto& size : kSizes) {
        HANDLE stream = nullptr;
        if (NuiImageStreamOpen(NUI_IMAGE_TYPE_DEPTH_AND_PLAYER_INDEX, size.resolution, 0, 2,
                               nullptr, &stream) >= 0 &&
            stream != nullptr) {
            return DepthStream{stream, size.width, size.height};
        }
    }
    return DepthStream{};
}

void NoteMissing()
{
    uint64_t none = 0;
    g_missingSince.compare_exchange_strong(none, PreciseUtcNow());
}

// Runs on a thread of the runtime's: only hands the change on. The runtime must not be called
// from here (it may be in the middle of the change).
void CALLBACK OnDeviceStatus(HRESULT status, const OLECHAR* instanceName, const OLECHAR*, void*)
{
    auto* name = new std::wstring(instanceName != nullptr ? instanceName : L"");
    if (!::PostMessageW(g_statusWindow, g_statusMessage,
                        static_cast<WPARAM>(static_cast<ULONG>(status)),
                        reinterpret_cast<LPARAM>(name))) {
        delete name;
    }
}

// Starts the sensor, and on success keeps `name` as the instance name.
SensorChange StartNamed(const std::wstring& name)
{
    const bool started = StartSensor();
    std::lock_guard<std::mutex> lock(g_nameLock);
    if (!started) {
        g_pendingName = name;
        return SensorChange::StartFailed;
    }
    if (!name.empty()) {
        g_instanceName = name;
    }
    return SensorChange::Started;
}

} // namespace

bool StartSensor()
{
    if (g_running.load()) {
        return true;
    }
    if (g_skeletonEvent == nullptr) {
        // Made once, before the render thread starts, and kept for every later start.
        g_skeletonEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    HANDLE colour = nullptr;
    const bool started = NuiInitialize(kInitializeFlags) >= 0 &&
                         NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0,
                                            2, nullptr, &colour) >= 0 &&
                         colour != nullptr;
    DepthStream depth;
    if (started) {
        depth = OpenDepthStream();
        NuiSkeletonTrackingEnable(g_skeletonEvent, 0);
    }
    std::lock_guard<std::recursive_mutex> runtime(KinectRuntimeLock());
    if (!started) {
        NuiShutdown();
        NoteMissing();
        return false;
    }
    g_colorStream = colour;
    g_depthStream = depth.stream;
    if (depth.stream != nullptr) {
        // A take that records depth keeps the size it started with: the size stays known while
        // the sensor is away.
        g_depthWidth = depth.width;
        g_depthHeight = depth.height;
    }
    g_running.store(true);
    g_missingSince.store(0);
    return true;
}

void StopSensor()
{
    // Under the lock no frame is between its fetch and its release: the render thread sees the
    // handles gone at its next fetch.
    std::lock_guard<std::recursive_mutex> runtime(KinectRuntimeLock());
    g_colorStream = nullptr;
    g_depthStream = nullptr;
    g_running.store(false);
    NoteMissing();
    NuiShutdown();
}

bool IsSensorRunning()
{
    return g_running.load();
}

uint64_t SensorMissingSince()
{
    return g_missingSince.load();
}

void WatchSensorStatus(HWND window, UINT message)
{
    g_statusWindow = window;
    g_statusMessage = message;
    if (!NuiSetDeviceStatusCallback(OnDeviceStatus, nullptr)) {
        return;
    }
    // A change between the start and the callback's registration would go unseen.
    const int count = NuiSensorCount();
    if (count >= 0 && (count > 0) != IsSensorRunning()) {
        OnDeviceStatus(count > 0 ? S_OK : E_NUI_DEVICE_NOT_CONNECTED, nullptr, nullptr, nullptr);
    }
}

SensorChange TakeSensorStatus(WPARAM wParam, LPARAM lParam)
{
    const std::unique_ptr<std::wstring> name(reinterpret_cast<std::wstring*>(lParam));
    const HRESULT status = static_cast<HRESULT>(static_cast<ULONG>(wParam));
    const std::wstring instance = name ? *name : std::wstring();
    if (status == S_OK) {
        return IsSensorRunning() ? SensorChange::None : StartNamed(instance);
    }
    if (status > S_OK) {
        return SensorChange::None; // still initialising
    }
    {
        std::lock_guard<std::mutex> lock(g_nameLock);
        // Another sensor than the one in use went away.
        if (!g_instanceName.empty() && !instance.empty() && instance != g_instanceName) {
            return SensorChange::None;
        }
        g_pendingName.clear();
    }
    const bool wasRunning = IsSensorRunning();
    StopSensor();
    return wasRunning ? SensorChange::Lost : SensorChange::None;
}

SensorChange RetrySensorStart()
{
    if (IsSensorRunning()) {
        return SensorChange::None;
    }
    std::wstring name;
    {
        std::lock_guard<std::mutex> lock(g_nameLock);
        name = g_pendingName;
    }
    return StartNamed(name);
}

std::wstring SensorInstanceName()
{
    std::lock_guard<std::mutex> lock(g_nameLock);
    return g_instanceName;
}
