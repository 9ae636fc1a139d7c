// The render thread: each pass takes the newest colour frame and skeleton frame, shows the
// picture with the tracked figures in the output window, and hands the frame buffer to whoever
// records it; then it sleeps 16 ms.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "sensor/NuiApi.h"

// Pause between passes.
constexpr DWORD kRenderPassSleepMs = 16;
// A skeleton frame older than this is no longer drawn.
constexpr int64_t kSkeletonShownMs = 500;

// The render thread's inputs. The stream handles and the depth size are set by the sensor's
// start and cleared by its stop (SensorControl) under KinectRuntimeLock, and read by the render
// thread only under it; the skeleton event is made before the thread starts and kept. The colour
// feed flag is written by the control window's checkbox and read on every pass.
extern HWND g_hwndOutput;
extern HANDLE g_colorStream;
extern HANDLE g_skeletonEvent;
extern std::atomic<bool> g_showColorFeed;
// The depth-and-player-index stream and its size; null and 0 x 0 when none could be opened.
extern HANDLE g_depthStream;
extern int g_depthWidth;
extern int g_depthHeight;

// The frame buffer, handed to the recording after each colour frame a pass takes, and once by a
// pass that takes none.
struct RenderedFrame {
    const BYTE* pixels;     // kFrameBytes, B, G, R, X
    uint64_t sequence;      // changes with every colour frame copied in; 0 before the first
    bool fetchedThisPass;   // the colour frame was copied in by this pass
    DWORD colorFrameNumber; // the runtime's number and time stamp of that colour frame
    int64_t colorTimeMs;
    // The newest skeleton frame taken at or before the pass that fetched the colour frame
    // (smoothed, as drawn), or null when there was none.
    const NUI_SKELETON_FRAME* skeletons;
    // The newest depth frame at the moment the colour frame was taken (depthWidth x
    // depthHeight values, depth in millimetres in bits 15-3, player index in bits 2-0), or null
    // when there is no depth stream or no depth frame came yet.
    const USHORT* depth;
    DWORD depthFrameNumber;
    int64_t depthTimeMs;
    // When the colour frame was taken: UTC, in 100 ns units since 1601 (a FILETIME), and the
    // same moment on the performance counter (HostTicks), which sound and a lab's clock share.
    uint64_t takenAt;
    int64_t takenTicks;
    // Since when the sensor is missing (UTC, as takenAt), 0 while it runs or when the picture
    // was fetched this pass: the picture is the last one it gave, and there are no skeletons.
    uint64_t sensorMissingSince;
};

// Receives the frame buffer on the render thread; must return at once.
using RenderedFrameSink = void (*)(const RenderedFrame& frame);

// Sets where each pass's frame goes. Call before the render thread starts.
void SetRenderedFrameSink(RenderedFrameSink sink);

// Receives, on the render thread, every skeleton frame a pass takes (smoothed, as drawn and
// saved) with the performance counter's reading (HostTicks) at its fetch; must return at once.
using SkeletonFrameSink = void (*)(const NUI_SKELETON_FRAME& frame, int64_t takenTicks);

// Sets where the skeleton frames go. Call before the render thread starts.
void SetSkeletonFrameSink(SkeletonFrameSink sink);

// The render thread's entry; the parameter is unused. Returns once RequestRenderStop was called.
DWORD WINAPI RenderThread(LPVOID parameter);

// Asks the render thread to end; it sees the request at the start of its next pass.
void RequestRenderStop();

// Asks for the output window to be painted again at the next pass, even with nothing new to
// show (it was uncovered or resized). Any thread.
void RequestOutputRepaint();

// Runs one pass (without the sleep).
void RenderPass();

// Releases what the passes keep between them (the off-screen picture). Render thread, after
// its last pass.
void EndRenderPasses();
