// The exports of the simulated sensor runtime Kinect10.dll and its session: initialisation,
// shutdown, the settings read from the environment, and DllMain.
#include "tools/kinect-sim/SimRuntime.h"

#include "tools/kinect-sim/SimCounters.h"
#include "tools/kinect-sim/SimFigure.h"
#include "tools/kinect-sim/SimFrameClock.h"
#include "tools/kinect-sim/SimImageStream.h"
#include "tools/kinect-sim/SimPlug.h"
#include "tools/kinect-sim/SimSkeleton.h"

#include <cwchar>
#include <initializer_list>
#include <iterator>
#include <type_traits>

std::mutex g_simLock;
SimPhase g_simPhase = SimPhase::Fresh;
DWORD g_simInitFlags = 0;
SimSettings g_simSettings;

namespace {

constexpr HRESULT kShutDownResult = E_FAIL;

// Reads an environment variable into `value`. Returns false when it is not set (or too long);
// an empty value counts as set.
bool ReadEnvironment(const wchar_t* name, wchar_t* value, DWORD capacity)
{
    value[0] = L'\0';
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(name, value, capacity);
    if (length >= capacity) {
        value[0] = L'\0';
        return false;
    }
    return length > 0 || ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

// A switch is on when its variable is set to anything but "" or "0".
bool ReadSwitch(const wchar_t* name)
{
    wchar_t value[16];
    if (!ReadEnvironment(name, value, static_cast<DWORD>(std::size(value)))) {
        return false;
    }
    return value[0] != L'\0' && std::wcscmp(value, L"0") != 0;
}

SimSettings ReadSettings()
{
    SimSettings settings;
    settings.noSensor = ReadSwitch(L"NVR_SIM_NO_SENSOR");
    settings.pitchZero = ReadSwitch(L"NVR_SIM_PITCH_ZERO");

    wchar_t value[256];
    settings.depth640 =
        !ReadEnvironment(L"NVR_SIM_DEPTH_640", value, static_cast<DWORD>(std::size(value))) ||
        std::wcscmp(value, L"0") != 0;
    if (ReadEnvironment(L"NVR_SIM_MOTION", value, static_cast<DWORD>(std::size(value))) &&
        value[0] != L'\0') {
        if (std::wcscmp(value, L"fixed") == 0) {
            settings.moving = false;
        } else if (std::wcscmp(value, L"moving") != 0) {
            SimDebugMessage("NVR_SIM_MOTION must be \"fixed\" or \"moving\"; using \"moving\"");
        }
    }
    if (ReadEnvironment(L"NVR_SIM_TRACKED", value, static_cast<DWORD>(std::size(value))) &&
        !SimParseTrackedList(value, &settings.trackedMask)) {
        SimDebugMessage("NVR_SIM_TRACKED holds entries that are not record indices 0 to 5 "
                        "(example: \"0,2,5\"); they are ignored");
    }
    ReadEnvironment(L"NVR_SIM_SKELETON_LOG", settings.skeletonLogPath,
                    static_cast<DWORD>(std::size(settings.skeletonLogPath)));
    return settings;
}

} // namespace

void SimDebugMessage(const char* text)
{
    static const char kPrefix[] = "Kinect10 (simulated): ";
    char line[512];
    size_t length = 0;
    for (const char* piece : {kPrefix, text}) {
        while (*piece != '\0' && length + 2 < sizeof(line)) {
            line[length++] = *piece++;
        }
    }
    line[length++] = '\n';
    line[length] = '\0';
    ::OutputDebugStringA(line);
}

HRESULT SimCheckUsable()
{
    switch (g_simPhase) {
    case SimPhase::Running:
        return S_OK;
    case SimPhase::NoSensor:
        return E_NUI_DEVICE_NOT_CONNECTED;
    case SimPhase::Unplugged:
        return E_NUI_DEVICE_GONE;
    case SimPhase::Fresh:
        SimCount(kCountCallsBeforeInitialize);
        return kShutDownResult;
    case SimPhase::ShutDown:
        break;
    }
    SimCount(kCountCallsAfterShutdown);
    return kShutDownResult;
}

extern "C" {

HRESULT WINAPI NuiInitialize(DWORD flags)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    SimCount(kCountInitialize);
    if (g_simPhase == SimPhase::Running) {
        return S_OK;
    }
    if (g_simPhase == SimPhase::Unplugged) {
        // As if running: the session's frames never come back without a NuiShutdown first.
        return SimIsPlugged() ? S_OK : E_NUI_DEVICE_NOT_CONNECTED;
    }
    g_simSettings = ReadSettings();
    SimReadCountsPath();
    if (g_simSettings.noSensor || !SimIsPlugged()) {
        g_simPhase = SimPhase::NoSensor;
        return E_NUI_DEVICE_NOT_CONNECTED;
    }
    g_simInitFlags = flags;
    SimStartClock();
    SimImageStartSession();
    SimSkeletonStartSession();
    g_simPhase = SimPhase::Running;
    return S_OK;
}

void WINAPI NuiShutdown()
{
    SimFrameEventThread eventThread;
    {
        std::lock_guard<std::mutex> lock(g_simLock);
        SimCount(kCountShutdown);
        if (g_simPhase != SimPhase::Fresh && g_simPhase != SimPhase::ShutDown) {
            g_simPhase = SimPhase::ShutDown;
            SimImageEndSession();
            SimSkeletonEndSession();
            eventThread = SimDetachFrameEvents();
        } else {
            SimCheckUsable();
        }
    }
    // Joined before returning: the caller closes its events as soon as this call is over.
    SimJoinFrameEvents(eventThread);
    SimWriteCounts(false);
}

HRESULT WINAPI NuiImageStreamOpen(int imageType, int resolution, DWORD /*frameFlags*/,
                                  DWORD frameLimit, HANDLE nextFrameEvent, HANDLE* streamOut)
{
    return SimImageOpen(imageType, resolution, frameLimit, nextFrameEvent, streamOut);
}

HRESULT WINAPI NuiImageStreamGetNextFrame(HANDLE stream, DWORD waitMs,
                                          const NUI_IMAGE_FRAME** frameOut)
{
    return SimImageGetNextFrame(stream, waitMs, frameOut);
}

HRESULT WINAPI NuiImageStreamReleaseFrame(HANDLE stream, const NUI_IMAGE_FRAME* frame)
{
    return SimImageReleaseFrame(stream, frame);
}

HRESULT WINAPI NuiSkeletonTrackingEnable(HANDLE nextFrameEvent, DWORD flags)
{
    return SimSkeletonTrackingEnable(nextFrameEvent, flags);
}

HRESULT WINAPI NuiSkeletonGetNextFrame(DWORD waitMs, NUI_SKELETON_FRAME* frame)
{
    return SimSkeletonGetNextFrame(waitMs, frame);
}

HRESULT WINAPI NuiTransformSmooth(NUI_SKELETON_FRAME* frame,
                                  const NUI_TRANSFORM_SMOOTH_PARAMETERS* params)
{
    return SimTransformSmooth(frame, params);
}

// Loader notifications. Runs under the loader lock: no waiting, no lock of our own (at process
// exit a thread that held it may have been killed), only the lock-free counts file write.
BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SimReadCountsPath();
    } else if (reason == DLL_PROCESS_DETACH) {
        SimWriteCounts(true);
    }
    return TRUE;
}

} // extern "C"

// The exports must keep exactly the types the program binds them with.
static_assert(std::is_same<decltype(&NuiInitialize), NuiInitializeFn>::value, "NuiInitialize");
static_assert(std::is_same<decltype(&NuiShutdown), NuiShutdownFn>::value, "NuiShutdown");
static_assert(std::is_same<decltype(&NuiImageStreamOpen), NuiImageStreamOpenFn>::value,
              "NuiImageStreamOpen");
static_assert(
    std::is_same<decltype(&NuiImageStreamGetNextFrame), NuiImageStreamGetNextFrameFn>::value,
    "NuiImageStreamGetNextFrame");
static_assert(
    std::is_same<decltype(&NuiImageStreamReleaseFrame), NuiImageStreamReleaseFrameFn>::value,
    "NuiImageStreamReleaseFrame");
static_assert(
    std::is_same<decltype(&NuiSkeletonTrackingEnable), NuiSkeletonTrackingEnableFn>::value,
    "NuiSkeletonTrackingEnable");
static_assert(std::is_same<decltype(&NuiSkeletonGetNextFrame), NuiSkeletonGetNextFrameFn>::value,
              "NuiSkeletonGetNextFrame");
static_assert(std::is_same<decltype(&NuiTransformSmooth), NuiTransformSmoothFn>::value,
              "NuiTransformSmooth");
