// The status exports and the watch on the plug file. Like the real runtime at its worst: a
// pulled sensor fails every call of the session that used it (0x8007048F) before the program
// hears of it, and after its return it gives frames only once the program has shut that session
// down and initialised again.
#include "tools/kinect-sim/SimPlug.h"

#include "tools/kinect-sim/SimRuntime.h"

#include <atomic>
#include <iterator>
#include <type_traits>

namespace {

constexpr DWORD kPollMs = 5;
// A sensor plugged in first reports that it is initialising, for this long, unusable meanwhile.
constexpr DWORD kInitialisingMs = 150;
constexpr HRESULT S_NUI_INITIALIZING = static_cast<HRESULT>(0x03010001);
// How the runtime names the sensor: by its USB port, and as a device.
constexpr const wchar_t* kInstanceName = L"USB\\VID_045E&PID_02C2\\6&2B8A3E1C&0&2";
constexpr const wchar_t* kDeviceName = L"\\\\?\\USB#VID_045E&PID_02C2#6&2B8A3E1C&0&2";

// Guards the callback and the start of the watch; taken after g_simLock, never before it.
std::mutex g_plugLock;
NuiStatusProc g_callback = nullptr;
void* g_callbackUser = nullptr;
bool g_watchStarted = false;
wchar_t g_plugPath[4096] = {};
std::atomic<bool> g_plugged{true};

// The file says "0" (first byte) while the sensor is pulled; anything else, or no file, is
// plugged in.
bool ReadPlugFile()
{
    HANDLE file = ::CreateFileW(g_plugPath, GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return true;
    }
    char first = '1';
    DWORD read = 0;
    ::ReadFile(file, &first, 1, &read, nullptr);
    ::CloseHandle(file);
    return read == 0 || first != '0';
}

void Report(HRESULT status)
{
    NuiStatusProc callback = nullptr;
    void* user = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_plugLock);
        callback = g_callback;
        user = g_callbackUser;
    }
    if (callback != nullptr) {
        callback(status, kInstanceName, kDeviceName, user);
    }
}

// The runtime's thread that sees the plug change and reports it.
DWORD WINAPI PlugWatch(void*)
{
    for (;;) {
        ::Sleep(kPollMs);
        const bool plugged = ReadPlugFile();
        if (plugged == g_plugged.load()) {
            continue;
        }
        if (plugged) {
            Report(S_NUI_INITIALIZING);
            ::Sleep(kInitialisingMs);
        }
        {
            std::lock_guard<std::mutex> lock(g_simLock);
            g_plugged.store(plugged);
            if (!plugged && g_simPhase == SimPhase::Running) {
                g_simPhase = SimPhase::Unplugged;
            }
        }
        Report(plugged ? S_OK : E_NUI_DEVICE_NOT_CONNECTED);
    }
}

// Once NVR_SIM_PLUG names a file, starts the watch on it. g_plugLock held.
void StartWatch()
{
    if (g_watchStarted) {
        return;
    }
    const DWORD capacity = static_cast<DWORD>(std::size(g_plugPath));
    const DWORD length = ::GetEnvironmentVariableW(L"NVR_SIM_PLUG", g_plugPath, capacity);
    if (length == 0 || length >= capacity) {
        return;
    }
    g_watchStarted = true;
    g_plugged.store(ReadPlugFile());
    // The watch runs as long as the process: it keeps the DLL loaded for good.
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(&PlugWatch), &self);
    HANDLE thread = ::CreateThread(nullptr, 0, PlugWatch, nullptr, 0, nullptr);
    if (thread != nullptr) {
        ::CloseHandle(thread);
    }
}

} // namespace

bool SimIsPlugged()
{
    std::lock_guard<std::mutex> lock(g_plugLock);
    StartWatch();
    return g_plugged.load();
}

extern "C" {

void WINAPI NuiSetDeviceStatusCallback(NuiStatusProc callback, void* user)
{
    std::lock_guard<std::mutex> lock(g_plugLock);
    StartWatch();
    g_callback = callback;
    g_callbackUser = user;
}

HRESULT WINAPI NuiGetSensorCount(int* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    std::lock_guard<std::mutex> lock(g_simLock);
    *count = g_simPhase != SimPhase::NoSensor && SimIsPlugged() ? 1 : 0;
    return S_OK;
}

} // extern "C"

static_assert(
    std::is_same<decltype(&NuiSetDeviceStatusCallback), NuiSetDeviceStatusCallbackFn>::value,
    "NuiSetDeviceStatusCallback");
static_assert(std::is_same<decltype(&NuiGetSensorCount), NuiGetSensorCountFn>::value,
              "NuiGetSensorCount");
