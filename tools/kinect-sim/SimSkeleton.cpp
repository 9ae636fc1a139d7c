#include "tools/kinect-sim/SimSkeleton.h"

#include "tools/kinect-sim/SimCounters.h"
#include "tools/kinect-sim/SimFigure.h"
#include "tools/kinect-sim/SimFrameClock.h"
#include "tools/kinect-sim/SimRuntime.h"

#include <algorithm>
#include <string>

namespace {

bool g_trackingEnabled = false;
HANDLE g_trackingEvent = nullptr;
LONGLONG g_readyFrame = -1;                  // newest skeleton frame announced
LONGLONG g_fetchedFrame = -1;                // newest skeleton frame handed out
HANDLE g_skeletonLog = INVALID_HANDLE_VALUE; // the session's NVR_SIM_SKELETON_LOG, if any
std::string g_logText;                       // one frame's log text

void CloseSkeletonLog()
{
    if (g_skeletonLog != INVALID_HANDLE_VALUE) {
        ::CloseHandle(g_skeletonLog);
        g_skeletonLog = INVALID_HANDLE_VALUE;
    }
}

// Opens the log named by the settings for appending (creating it), shared so that a test can
// read it while the session runs.
void OpenSkeletonLog()
{
    CloseSkeletonLog();
    if (g_simSettings.skeletonLogPath[0] == L'\0') {
        return;
    }
    g_skeletonLog = ::CreateFileW(g_simSettings.skeletonLogPath, FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_skeletonLog == INVALID_HANDLE_VALUE) {
        SimDebugMessage("cannot open the skeleton log (NVR_SIM_SKELETON_LOG)");
    }
}

// Appends what `frame` delivered to the log, in one write.
void LogSkeletonFrame(const NUI_SKELETON_FRAME& frame)
{
    if (g_skeletonLog == INVALID_HANDLE_VALUE) {
        return;
    }
    g_logText.clear();
    SimAppendSkeletonLog(g_logText, frame);
    DWORD written = 0;
    if (!::WriteFile(g_skeletonLog, g_logText.data(), static_cast<DWORD>(g_logText.size()),
                     &written, nullptr) ||
        written != g_logText.size()) {
        SimDebugMessage("cannot write the skeleton log (NVR_SIM_SKELETON_LOG)");
    }
}

bool InRange(float value, float low, float high)
{
    // Written so that a NaN fails too.
    return value >= low && value <= high;
}

bool ValidSmoothing(const NUI_TRANSFORM_SMOOTH_PARAMETERS& params)
{
    const float kNoLimit = 1.0e6f;
    return InRange(params.fSmoothing, 0.0f, 1.0f) && InRange(params.fCorrection, 0.0f, 1.0f) &&
           InRange(params.fPrediction, 0.0f, kNoLimit) &&
           InRange(params.fJitterRadius, 0.0f, kNoLimit) &&
           InRange(params.fMaxDeviationRadius, 0.0f, kNoLimit);
}

void HandOut(NUI_SKELETON_FRAME* frame)
{
    g_fetchedFrame = g_readyFrame;
    if (g_trackingEvent != nullptr) {
        ::ResetEvent(g_trackingEvent);
    }
    SimFillSkeletonFrame(frame, g_fetchedFrame, g_simSettings.trackedMask, g_simSettings.moving);
    SimCount(kCountSkeletonHanded);
    SimSetCounter(kCountLastSkeletonFrame, g_fetchedFrame);
    LogSkeletonFrame(*frame);
}

} // namespace

void SimSkeletonStartSession()
{
    g_trackingEnabled = false;
    g_trackingEvent = nullptr;
    g_readyFrame = -1;
    g_fetchedFrame = -1;
    OpenSkeletonLog();
}

void SimSkeletonEndSession()
{
    g_trackingEnabled = false;
    g_trackingEvent = nullptr;
    CloseSkeletonLog();
}

void SimSkeletonOnFrame(LONGLONG frameNumber)
{
    if (!g_trackingEnabled) {
        return;
    }
    g_readyFrame = frameNumber;
    if (g_trackingEvent != nullptr) {
        ::SetEvent(g_trackingEvent);
    }
}

HRESULT SimSkeletonTrackingEnable(HANDLE nextFrameEvent, DWORD /*flags*/)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    SimCount(kCountSkeletonEnable);
    if ((g_simInitFlags & NUI_INITIALIZE_FLAG_USES_SKELETON) == 0) {
        SimDebugMessage("NuiSkeletonTrackingEnable: NuiInitialize was called without the "
                        "skeleton flag (0x8)");
        return E_FAIL;
    }
    if (!SimStartFrameEvents()) {
        SimDebugMessage("NuiSkeletonTrackingEnable: cannot start the frame-event thread");
        return E_OUTOFMEMORY;
    }
    g_trackingEnabled = true;
    g_trackingEvent = nextFrameEvent;
    return S_OK;
}

HRESULT SimSkeletonGetNextFrame(DWORD waitMs, NUI_SKELETON_FRAME* frame)
{
    std::unique_lock<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    SimCount(kCountSkeletonRequests);
    if (frame == nullptr) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiSkeletonGetNextFrame: the frame pointer is null");
        return E_POINTER;
    }
    if (!g_trackingEnabled) {
        SimDebugMessage("NuiSkeletonGetNextFrame: skeleton tracking is not enabled");
        return E_FAIL;
    }
    const ULONGLONG deadline = ::GetTickCount64() + std::min(waitMs, kSimMaxWaitMs);
    while (g_readyFrame <= g_fetchedFrame) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            return E_NUI_FRAME_NO_DATA;
        }
        const DWORD pause = static_cast<DWORD>(std::min<ULONGLONG>(
            SimMillisecondsUntilFrame(g_fetchedFrame + 1, kSimColourOffsetMs) + 1, deadline - now));
        lock.unlock();
        ::Sleep(pause);
        lock.lock();
        if (g_simPhase != SimPhase::Running || !g_trackingEnabled) {
            return E_NUI_FRAME_NO_DATA;
        }
    }
    HandOut(frame);
    return S_OK;
}

HRESULT SimTransformSmooth(NUI_SKELETON_FRAME* frame, const NUI_TRANSFORM_SMOOTH_PARAMETERS* params)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    SimCount(kCountSmoothCalls);
    if (frame == nullptr) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiTransformSmooth: the frame pointer is null");
        return E_POINTER;
    }
    if (params != nullptr && !ValidSmoothing(*params)) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiTransformSmooth: a smoothing parameter is out of range");
        return E_INVALIDARG;
    }
    // The simulated figures move smoothly already: the frame is left exactly as it is.
    return S_OK;
}
