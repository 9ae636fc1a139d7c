#include "tools/kinect-sim/SimFrameClock.h"

#include "tools/kinect-sim/SimImageStream.h"
#include "tools/kinect-sim/SimRuntime.h"
#include "tools/kinect-sim/SimSkeleton.h"

#include <algorithm>

namespace {

constexpr LONGLONG kFramesPerSecond = 30;
constexpr DWORD kJoinTimeoutMs = 5000;

LARGE_INTEGER g_clockOrigin = {};
LARGE_INTEGER g_clockFrequency = {};

HANDLE g_eventThread = nullptr;
HANDLE g_eventThreadStop = nullptr;
// Bumped whenever a thread is detached, so a thread that outlives its session stays idle.
unsigned g_eventThreadGeneration = 0;

LONGLONG TicksSinceStart()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart - g_clockOrigin.QuadPart;
}

// Clock ticks from NuiInitialize to a camera's frame 0, rounded up like every frame start.
LONGLONG OffsetTicks(DWORD offsetMs)
{
    return (static_cast<LONGLONG>(offsetMs) * g_clockFrequency.QuadPart + 999) / 1000;
}

// Body of the frame-event thread. It holds a reference on this DLL, dropped as it exits, so a
// FreeLibrary while it runs cannot unload the code under it.
DWORD WINAPI FrameEventThread(void* parameter)
{
    const unsigned generation = static_cast<unsigned>(reinterpret_cast<UINT_PTR>(parameter));
    HANDLE stop = nullptr;
    LONGLONG lastColourFrame = -1;
    LONGLONG lastDepthFrame = -1;
    for (;;) {
        DWORD pause = 0;
        {
            std::lock_guard<std::mutex> lock(g_simLock);
            if (g_simPhase != SimPhase::Running || generation != g_eventThreadGeneration) {
                break;
            }
            stop = g_eventThreadStop;
            const LONGLONG colourFrame = SimFrameNow(kSimColourOffsetMs);
            if (colourFrame > lastColourFrame) {
                lastColourFrame = colourFrame;
                SimImageOnFrame(SimCamera::Colour);
                SimSkeletonOnFrame(colourFrame);
            }
            const LONGLONG depthFrame = SimFrameNow(kSimDepthOffsetMs);
            if (depthFrame > lastDepthFrame) {
                lastDepthFrame = depthFrame;
                SimImageOnFrame(SimCamera::Depth);
            }
            pause = std::min(SimMillisecondsUntilFrame(lastColourFrame + 1, kSimColourOffsetMs),
                             SimMillisecondsUntilFrame(lastDepthFrame + 1, kSimDepthOffsetMs));
        }
        if (::WaitForSingleObject(stop, pause) != WAIT_TIMEOUT) {
            break;
        }
    }
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&FrameEventThread), &self);
    ::FreeLibraryAndExitThread(self, 0);
}

} // namespace

void SimStartClock()
{
    ::QueryPerformanceFrequency(&g_clockFrequency);
    ::QueryPerformanceCounter(&g_clockOrigin);
}

LONGLONG SimFrameNow(DWORD offsetMs)
{
    const LONGLONG ticks = TicksSinceStart() - OffsetTicks(offsetMs);
    if (ticks < 0) {
        return -1;
    }
    const LONGLONG frequency = g_clockFrequency.QuadPart;
    // Split so the product cannot overflow however long the session runs.
    return ticks / frequency * kFramesPerSecond + ticks % frequency * kFramesPerSecond / frequency;
}

DWORD SimMillisecondsUntilFrame(LONGLONG frame, DWORD offsetMs)
{
    const LONGLONG frequency = g_clockFrequency.QuadPart;
    const LONGLONG frameStart =
        OffsetTicks(offsetMs) + frame / kFramesPerSecond * frequency +
        (frame % kFramesPerSecond * frequency + kFramesPerSecond - 1) / kFramesPerSecond;
    const LONGLONG remaining = frameStart - TicksSinceStart();
    if (remaining <= 0) {
        return 0;
    }
    return static_cast<DWORD>((remaining * 1000 + frequency - 1) / frequency);
}

LARGE_INTEGER SimFrameTimeStamp(LONGLONG frame, DWORD offsetMs)
{
    LARGE_INTEGER stamp;
    stamp.QuadPart = offsetMs + frame * 1000 / kFramesPerSecond;
    return stamp;
}

bool SimStartFrameEvents()
{
    if (g_eventThread != nullptr) {
        return true;
    }
    HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr) {
        return false;
    }
    // The thread's own reference on this DLL; FreeLibraryAndExitThread drops it.
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&FrameEventThread), &self)) {
        ::CloseHandle(stop);
        return false;
    }
    const UINT_PTR generation = g_eventThreadGeneration;
    HANDLE thread = ::CreateThread(nullptr, 0, FrameEventThread,
                                   reinterpret_cast<void*>(generation), 0, nullptr);
    if (thread == nullptr) {
        ::FreeLibrary(self);
        ::CloseHandle(stop);
        return false;
    }
    g_eventThread = thread;
    g_eventThreadStop = stop;
    return true;
}

SimFrameEventThread SimDetachFrameEvents()
{
    SimFrameEventThread detached;
    detached.thread = g_eventThread;
    detached.stop = g_eventThreadStop;
    g_eventThread = nullptr;
    g_eventThreadStop = nullptr;
    ++g_eventThreadGeneration;
    return detached;
}

void SimJoinFrameEvents(SimFrameEventThread detached)
{
    if (detached.thread == nullptr) {
        return;
    }
    ::SetEvent(detached.stop);
    if (::WaitForSingleObject(detached.thread, kJoinTimeoutMs) != WAIT_OBJECT_0) {
        // The thread may still be waiting on the stop event: leave both handles open rather
        // than close an object another thread is using. It touches no frame event any more.
        SimDebugMessage("NuiShutdown: the frame-event thread did not end in time");
        return;
    }
    ::CloseHandle(detached.thread);
    ::CloseHandle(detached.stop);
}
