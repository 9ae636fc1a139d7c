#include "sensor/RenderLoop.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "app/AppState.h"
#include "recording/FramePipe.h"
#include "sensor/FrameTimeline.h"
#include "sensor/KinectRuntime.h"
#include "sensor/SkeletonOverlay.h"

namespace {

std::atomic<bool> g_renderStopRequested{false};

// The render thread's own recording state: the timeline of the recording it is feeding.
FrameTimeline g_timeline;
uint32_t g_timelineGeneration = 0;

int64_t NowTicks()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t TicksPerSecond()
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// Step 1: copies the newest colour frame into g_colorFrame. Returns true when one was copied.
bool FetchColorFrame()
{
    // The lock keeps the runtime from being shut down between the fetch and the release.
    std::lock_guard<std::recursive_mutex> runtime(KinectRuntimeLock());
    const NUI_IMAGE_FRAME* frame = nullptr;
    if (NuiImageStreamGetNextFrame(g_colorStream, 0, &frame) < 0 || frame == nullptr) {
        return false;
    }
    bool copied = false;
    INuiFrameTexture* texture = frame->pFrameTexture;
    if (texture != nullptr) {
        NUI_LOCKED_RECT locked = {};
        texture->LockRect(0, &locked, nullptr, 0);
        if (locked.Pitch != 0 && locked.pBits != nullptr) {
            std::memcpy(g_colorFrame, locked.pBits, kFrameBytes);
            copied = true;
        }
        texture->UnlockRect(0);
    }
    NuiImageStreamReleaseFrame(g_colorStream, frame);
    return copied;
}

// Step 3: the buffer stretched over the whole client area, or the window colour.
void PaintFrame(HDC dc, const RECT& client)
{
    if (!g_showColorFeed.load()) {
        ::FillRect(dc, &client, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
        return;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kFrameWidth;
    info.bmiHeader.biHeight = -kFrameHeight; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, kFrameWidth, kFrameHeight,
                    g_colorFrame, &info, DIB_RGB_COLORS, SRCCOPY);
}

// Step 4: the tracked skeletons of a ready skeleton frame, drawn into the window only.
void DrawTrackedSkeletons(HDC dc)
{
    if (::WaitForSingleObject(g_skeletonEvent, 0) != WAIT_OBJECT_0) {
        return;
    }
    NUI_SKELETON_FRAME skeletons = {};
    {
        std::lock_guard<std::recursive_mutex> runtime(KinectRuntimeLock());
        if (NuiSkeletonGetNextFrame(0, &skeletons) < 0) {
            return;
        }
        NuiTransformSmooth(&skeletons, nullptr);
    }
    for (const NUI_SKELETON_DATA& skeleton : skeletons.SkeletonData) {
        if (skeleton.eTrackingState == NUI_SKELETON_TRACKED) {
            DrawSkeleton(dc, skeleton);
        }
    }
}

// Step 5: while a recording runs, the frames that its timeline calls for enter the pipe.
void FeedRecording(bool& haveNewFrame, bool fetchedThisPass)
{
    if (!g_isRecording.load()) {
        return;
    }
    int64_t now = NowTicks();
    uint32_t generation = FramePipeGeneration();
    if (generation != g_timelineGeneration) {
        // A new recording: its timeline starts now, and a frame fetched before this pass is
        // already on screen, not new to the recording.
        FrameTimelineStart(g_timeline, now, TicksPerSecond());
        g_timelineGeneration = generation;
        haveNewFrame = fetchedThisPass;
    }
    int due = FrameTimelineFramesDue(g_timeline, now, haveNewFrame);
    if (due == 0) {
        return;
    }
    int written = WriteFramesToPipe(g_colorFrame, due);
    FrameTimelineCountWritten(g_timeline, written);
    if (written > 0) {
        haveNewFrame = false;
    }
}

} // namespace

void RenderPass(bool& haveNewFrame)
{
    bool fetched = g_showColorFeed.load() && FetchColorFrame();
    if (fetched) {
        haveNewFrame = true;
    }
    HDC dc = ::GetDC(g_hwndOutput);
    RECT client = {};
    ::GetClientRect(g_hwndOutput, &client);
    PaintFrame(dc, client);
    DrawTrackedSkeletons(dc);
    FeedRecording(haveNewFrame, fetched);
    ::ReleaseDC(g_hwndOutput, dc);
}

DWORD WINAPI RenderThread(LPVOID)
{
    bool haveNewFrame = false;
    while (!g_renderStopRequested.load()) {
        RenderPass(haveNewFrame);
        ::Sleep(kRenderPassSleepMs);
    }
    return 0;
}

void RequestRenderStop()
{
    g_renderStopRequested.store(true);
}
