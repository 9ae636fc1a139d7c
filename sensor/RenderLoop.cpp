#include "sensor/RenderLoop.h"

#include <cstring>
#include <mutex>

#include "platform/HostClock.h"
#include "platform/ThreadName.h"
#include "sensor/DepthFrames.h"
#include "sensor/Frame.h"
#include "sensor/KinectRuntime.h"
#include "sensor/SensorControl.h"
#include "sensor/SkeletonOverlay.h"

HWND g_hwndOutput = nullptr;
HANDLE g_colorStream = nullptr;
HANDLE g_skeletonEvent = nullptr;
std::atomic<bool> g_showColorFeed{true};
HANDLE g_depthStream = nullptr;
int g_depthWidth = 0;
int g_depthHeight = 0;

namespace {

// At most this many colour frames are taken in one pass: the stream's frame limit.
constexpr int kColorFramesPerPass = 2;

std::atomic<bool> g_renderStopRequested{false};
std::atomic<bool> g_repaintRequested{true};
RenderedFrameSink g_sink = nullptr;
SkeletonFrameSink g_skeletonSink = nullptr;

// The frame buffer and what is known of the colour frame in it; render thread only.
BYTE g_colorFrame[kFrameBytes] = {};
uint64_t g_frameSequence = 0;
DWORD g_frameColorNumber = 0;
int64_t g_frameColorTimeMs = 0;
NUI_SKELETON_FRAME g_frameSkeletons = {};
bool g_frameHasSkeletons = false;
uint64_t g_frameTakenAt = 0;
int64_t g_frameTakenTicks = 0;

// The depth frames taken and the one that goes with the colour frame in the buffer; render
// thread only.
DepthFrames g_depthFrames;
const DepthFrame* g_frameDepth = nullptr;
// At most this many depth frames are taken in one go: the stream's frame limit.
constexpr int kDepthFramesPerFetch = 2;

// The newest skeleton frame, drawn on every pass until a newer one replaces it or it is older
// than kSkeletonShownMs.
NUI_SKELETON_FRAME g_newestSkeletons = {};
bool g_haveSkeletons = false;
int64_t g_skeletonsTakenMs = 0;
bool g_figuresShown = false;

// What the window shows now, so a pass with nothing new need not paint again.
bool g_feedShown = true;
bool g_skeletonsUnshown = false; // a newer skeleton frame than the window shows
int64_t g_colorFrameShownMs = 0;
// Colour frames count as coming while the last one is at most this old.
constexpr int64_t kColourPauseMs = 100;
RECT g_shownClient = {};

// The off-screen picture that a pass composes before putting it on the window in one step: a
// DIB section, which the picture is stretched into in memory rather than in the X server.
HDC g_composeDC = nullptr;
HBITMAP g_composeBitmap = nullptr;
HGDIOBJ g_composeOriginal = nullptr;
LONG g_composeWidth = 0;
LONG g_composeHeight = 0;

int64_t NowMs()
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000 / frequency.QuadPart;
}

// Takes the next frame of `stream` and hands its locked pixels to `copy`, which returns whether
// it took them; the frame is unlocked and released at once. Returns true when `copy` took them,
// with the frame's number and time stamp. `stream` is read under the runtime's lock, which its
// owner holds to change it.
template <typename Copy>
bool TakeImageFrame(const HANDLE& stream, Copy copy, DWORD& frameNumber, int64_t& timeMs)
{
    // The lock keeps the runtime from being shut down between the fetch and the release.
    std::lock_guard<std::recursive_mutex> runtime(KinectRuntimeLock());
    const NUI_IMAGE_FRAME* frame = nullptr;
    if (stream == nullptr || NuiImageStreamGetNextFrame(stream, 0, &frame) < 0 ||
        frame == nullptr) {
        return false;
    }
    bool copied = false;
    INuiFrameTexture* texture = frame->pFrameTexture;
    if (texture != nullptr) {
        NUI_LOCKED_RECT locked = {};
        texture->LockRect(0, &locked, nullptr, 0);
        copied = locked.pBits != nullptr && copy(locked);
        texture->UnlockRect(0);
    }
    if (copied) {
        frameNumber = frame->dwFrameNumber;
        timeMs = frame->liTimeStamp.QuadPart;
    }
    NuiImageStreamReleaseFrame(stream, frame);
    return copied;
}

// Copies the newest colour frame into g_colorFrame. Returns true when one was copied.
bool FetchColorFrame()
{
    HostTime taken;
    const auto copy = [&taken](const NUI_LOCKED_RECT& locked) {
        if (locked.Pitch == 0) {
            return false;
        }
        // The frame's moment is read as soon as the runtime has handed it over.
        taken = HostTimeNow();
        std::memcpy(g_colorFrame, locked.pBits, kFrameBytes);
        return true;
    };
    if (!TakeImageFrame(g_colorStream, copy, g_frameColorNumber, g_frameColorTimeMs)) {
        return false;
    }
    ++g_frameSequence;
    g_frameTakenAt = taken.utc;
    g_frameTakenTicks = taken.ticks;
    return true;
}

// Copies one depth frame into the next of g_depthFrames' buffers, row by row. Returns true when
// one was copied.
bool FetchOneDepthFrame()
{
    USHORT* buffer = g_depthFrames.NextBuffer();
    const auto copy = [buffer](const NUI_LOCKED_RECT& locked) {
        // Called under the runtime's lock, which guards the size too.
        const size_t rowBytes = static_cast<size_t>(g_depthWidth) * sizeof(USHORT);
        if (g_depthWidth * g_depthHeight > kDepthMaxPixels ||
            locked.Pitch < static_cast<INT>(rowBytes)) {
            return false;
        }
        for (int row = 0; row < g_depthHeight; ++row) {
            std::memcpy(buffer + row * g_depthWidth, locked.pBits + row * locked.Pitch, rowBytes);
        }
        return true;
    };
    DWORD number = 0;
    int64_t timeMs = 0;
    if (!TakeImageFrame(g_depthStream, copy, number, timeMs)) {
        return false;
    }
    g_depthFrames.Taken(number, timeMs);
    return true;
}

// Takes the depth frames the runtime holds and picks the one that goes with the colour frame
// in the buffer.
void MatchDepthFrame()
{
    for (int taken = 0; taken < kDepthFramesPerFetch && FetchOneDepthFrame(); ++taken) {
    }
    g_frameDepth = g_depthFrames.MatchTo(g_frameColorTimeMs);
}

// Takes a ready skeleton frame, smoothed, as the newest one. Returns true when one was taken.
bool FetchSkeletonFrame()
{
    if (::WaitForSingleObject(g_skeletonEvent, 0) != WAIT_OBJECT_0) {
        return false;
    }
    NUI_SKELETON_FRAME skeletons = {};
    int64_t takenTicks = 0;
    {
        std::lock_guard<std::recursive_mutex> runtime(KinectRuntimeLock());
        if (NuiSkeletonGetNextFrame(0, &skeletons) < 0) {
            return false;
        }
        takenTicks = HostTicks();
        NuiTransformSmooth(&skeletons, nullptr);
    }
    g_newestSkeletons = skeletons;
    g_haveSkeletons = true;
    g_skeletonsTakenMs = NowMs();
    if (g_skeletonSink != nullptr) {
        g_skeletonSink(g_newestSkeletons, takenTicks);
    }
    return true;
}

// Makes the off-screen picture match the client size; false when it can't be had.
bool PrepareComposition(HDC windowDC, LONG width, LONG height)
{
    if (g_composeDC == nullptr) {
        g_composeDC = ::CreateCompatibleDC(windowDC);
        if (g_composeDC == nullptr) {
            return false;
        }
    }
    if (g_composeBitmap != nullptr && g_composeWidth == width && g_composeHeight == height) {
        return true;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(windowDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        return false;
    }
    HGDIOBJ previous = ::SelectObject(g_composeDC, bitmap);
    if (g_composeBitmap == nullptr) {
        g_composeOriginal = previous;
    } else {
        ::DeleteObject(g_composeBitmap);
    }
    g_composeBitmap = bitmap;
    g_composeWidth = width;
    g_composeHeight = height;
    return true;
}

// The buffer stretched over the whole client area, or the window colour; then the figures.
void Compose(HDC dc, const RECT& client, bool feedShown, bool figuresShown)
{
    if (feedShown) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = kFrameWidth;
        info.bmiHeader.biHeight = -kFrameHeight; // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        ::StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, kFrameWidth, kFrameHeight,
                        g_colorFrame, &info, DIB_RGB_COLORS, SRCCOPY);
    } else {
        ::FillRect(dc, &client, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    }
    if (figuresShown) {
        for (const NUI_SKELETON_DATA& skeleton : g_newestSkeletons.SkeletonData) {
            if (skeleton.eTrackingState == NUI_SKELETON_TRACKED) {
                DrawSkeleton(dc, skeleton);
            }
        }
    }
}

// Composes the picture off-screen and puts it on the window in one step, so a figure is never
// seen half drawn.
void Paint(const RECT& client, bool feedShown, bool figuresShown)
{
    HDC windowDC = ::GetDC(g_hwndOutput);
    if (windowDC == nullptr) {
        return;
    }
    if (PrepareComposition(windowDC, client.right, client.bottom)) {
        Compose(g_composeDC, client, feedShown, figuresShown);
        ::BitBlt(windowDC, 0, 0, client.right, client.bottom, g_composeDC, 0, 0, SRCCOPY);
    } else {
        Compose(windowDC, client, feedShown, figuresShown);
    }
    ::ReleaseDC(g_hwndOutput, windowDC);
}

// Hands the frame buffer, as it is now, to the sink.
void HandOn(bool fetchedNow)
{
    if (g_sink != nullptr) {
        RenderedFrame frame = {};
        frame.pixels = g_colorFrame;
        frame.sequence = g_frameSequence;
        frame.fetchedThisPass = fetchedNow;
        frame.colorFrameNumber = g_frameColorNumber;
        frame.colorTimeMs = g_frameColorTimeMs;
        frame.skeletons = g_frameHasSkeletons ? &g_frameSkeletons : nullptr;
        frame.depth = g_frameDepth != nullptr ? g_frameDepth->pixels : nullptr;
        frame.depthFrameNumber = g_frameDepth != nullptr ? g_frameDepth->number : 0;
        frame.depthTimeMs = g_frameDepth != nullptr ? g_frameDepth->timeMs : 0;
        frame.takenAt = g_frameTakenAt;
        frame.takenTicks = g_frameTakenTicks;
        // A picture fetched this pass was taken while the sensor was there, even when it went
        // away between the fetch and now: it is live, and the time without it begins after it.
        frame.sensorMissingSince = fetchedNow ? 0 : SensorMissingSince();
        if (frame.sensorMissingSince != 0) {
            frame.skeletons = nullptr;
        }
        g_sink(frame);
    }
}

} // namespace

void SetRenderedFrameSink(RenderedFrameSink sink)
{
    g_sink = sink;
}

void SetSkeletonFrameSink(SkeletonFrameSink sink)
{
    g_skeletonSink = sink;
}

void RenderPass()
{
    if (SensorMissingSince() != 0) {
        // The last figures are not drawn again, nor written, once the sensor has gone.
        g_haveSkeletons = false;
    }
    if (FetchSkeletonFrame()) {
        g_skeletonsUnshown = true;
    }
    // Every colour frame the runtime holds is taken and handed on, so a pass that came late
    // loses none of the frames buffered meanwhile; the last one is shown.
    int fetched = 0;
    if (g_showColorFeed.load()) {
        while (fetched < kColorFramesPerPass && FetchColorFrame()) {
            ++fetched;
            // The depth picture that goes with this colour frame, and the newest skeletons taken
            // up to this moment.
            MatchDepthFrame();
            g_frameSkeletons = g_newestSkeletons;
            g_frameHasSkeletons = g_haveSkeletons;
            HandOn(true);
        }
    }
    if (fetched == 0) {
        HandOn(false);
    }

    const int64_t now = NowMs();
    bool feedShown = g_showColorFeed.load();
    bool figuresShown = g_haveSkeletons && now - g_skeletonsTakenMs <= kSkeletonShownMs;
    RECT client = {};
    ::GetClientRect(g_hwndOutput, &client);
    bool resized = client.right != g_shownClient.right || client.bottom != g_shownClient.bottom;
    // While colour frames come, new figures wait for the next one (at most a frame's time), so
    // the window is painted once a frame rather than once for each of the two streams.
    if (fetched > 0) {
        g_colorFrameShownMs = now;
    }
    bool colourComing = feedShown && now - g_colorFrameShownMs <= kColourPauseMs;
    bool changed = fetched > 0 || (g_skeletonsUnshown && !colourComing) ||
                   figuresShown != g_figuresShown || feedShown != g_feedShown || resized;
    if ((g_repaintRequested.exchange(false) || changed) && client.right > 0 && client.bottom > 0) {
        Paint(client, feedShown, figuresShown);
        g_skeletonsUnshown = false;
    }
    g_feedShown = feedShown;
    g_figuresShown = figuresShown;
    g_shownClient = client;
}

void EndRenderPasses()
{
    if (g_composeDC != nullptr) {
        if (g_composeBitmap != nullptr) {
            ::SelectObject(g_composeDC, g_composeOriginal);
            ::DeleteObject(g_composeBitmap);
        }
        ::DeleteDC(g_composeDC);
    }
    g_composeDC = nullptr;
    g_composeBitmap = nullptr;
    g_composeWidth = 0;
    g_composeHeight = 0;
}

DWORD WINAPI RenderThread(LPVOID)
{
    NameThisThread(L"render");
    while (!g_renderStopRequested.load()) {
        RenderPass();
        ::Sleep(kRenderPassSleepMs);
    }
    EndRenderPasses();
    return 0;
}

void RequestRenderStop()
{
    g_renderStopRequested.store(true);
}

void RequestOutputRepaint()
{
    g_repaintRequested.store(true);
}
