// The render loop against the simulated sensor runtime (Kinect10.dll beside this program) and a
// frame pipe reader of the test's own: what enters the pipe, when, and in which order.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/AppState.h"
#include "recording/FramePipe.h"
#include "sensor/Frame.h"
#include "sensor/KinectRuntime.h"
#include "sensor/RenderLoop.h"
#include "tests/support/FramePipeClient.h"

namespace {

using Clock = std::chrono::steady_clock;

// The simulated runtime stamps each frame's number into its top 48 rows: 16 blocks of 40
// pixels, most significant bit first, white for 1.
int DecodeFrameNumber(const BYTE* frame)
{
    int number = 0;
    for (int block = 0; block < 16; ++block) {
        const BYTE* pixel = frame + 24 * kFrameStride + (block * 40 + 20) * kFrameBytesPerPixel;
        number = (number << 1) | (pixel[1] > 128 ? 1 : 0);
    }
    return number;
}

struct ReadFrame {
    int number;
    Clock::time_point at;
};

// Reads whole frames from the pipe's client end until the pipe closes.
void ReadPipe(std::vector<ReadFrame>* frames, std::atomic<bool>* ended)
{
    HANDLE pipe = OpenFramePipeClient(5000);
    std::vector<BYTE> frame(kFrameBytes);
    while (ReadWholeFrame(pipe, frame.data())) {
        frames->push_back({DecodeFrameNumber(frame.data()), Clock::now()});
    }
    ::CloseHandle(pipe);
    ended->store(true);
}

std::map<std::string, long> ReadCounts(const std::wstring& path)
{
    std::map<std::string, long> counts;
    std::ifstream file(std::string(path.begin(), path.end()));
    std::string line;
    while (std::getline(file, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            counts[line.substr(0, equals)] = std::stol(line.substr(equals + 1));
        }
    }
    return counts;
}

TEST(RenderLoop, FeedsThePipeOnTheRecordingTimelineOnly)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring countsPath = std::wstring(temp) + L"nvr-render-loop-counts-" +
                              std::to_wstring(::GetCurrentProcessId()) + L".txt";
    ::SetEnvironmentVariableW(L"NVR_SIM_COUNTS", countsPath.c_str());
    ::SetEnvironmentVariableW(L"NVR_SIM_MOTION", L"fixed");

    // The program's start-up, in short: an output window, the runtime, the render thread.
    g_hwndOutput = ::CreateWindowExW(0, L"STATIC", L"Kinect Output", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                     0, 0, 660, 520, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g_hwndOutput, nullptr);
    ASSERT_TRUE(LoadKinectRuntime());
    ASSERT_GE(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR | NUI_INITIALIZE_FLAG_USES_SKELETON), 0);
    NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr,
                       &g_colorStream);
    g_skeletonEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    NuiSkeletonTrackingEnable(g_skeletonEvent, 0);
    HANDLE renderThread = ::CreateThread(nullptr, 0, RenderThread, nullptr, 0, nullptr);

    HANDLE pipe = CreateFramePipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    std::vector<ReadFrame> frames;
    std::atomic<bool> ended{false};
    std::thread reader(ReadPipe, &frames, &ended);
    BOOL connected = ::ConnectNamedPipe(pipe, nullptr);
    ASSERT_TRUE(connected || ::GetLastError() == ERROR_PIPE_CONNECTED);

    // Nothing is written before the pipe is published, nor before the recording flag is set.
    ::Sleep(300);
    PublishFramePipe(pipe);
    ::Sleep(300);
    EXPECT_TRUE(frames.empty());

    Clock::time_point start = Clock::now();
    g_isRecording.store(true);
    ::Sleep(3000);
    Clock::time_point stop = Clock::now();
    CloseFramePipe();
    for (int wait = 0; wait < 200 && !ended.load(); ++wait) {
        ::Sleep(10);
    }
    reader.join();
    ASSERT_TRUE(ended.load());

    // With the flag still set but the pipe cleared, nothing more is written.
    static BYTE frame[kFrameBytes];
    EXPECT_EQ(WriteFramesToPipe(frame, 1), 0);
    g_isRecording.store(false);

    double seconds = std::chrono::duration<double>(stop - start).count();
    double expected = seconds * 30.0;
    std::printf("frames written in %.3f s: %zu (30 fps timeline: %.2f)\n", seconds, frames.size(),
                expected);
    // The timeline starts at the first pass that sees the flag, at most a pass after it is set.
    EXPECT_NEAR(static_cast<double>(frames.size()), expected, 1.5);
    for (const ReadFrame& read : frames) {
        EXPECT_GE(read.at, start);
    }
    // Each sensor frame once, in order; only the first may be one shown before the start.
    ASSERT_GE(frames.size(), 2u);
    for (size_t i = 2; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].number, frames[i - 1].number + 1) << "at frame " << i;
    }
    EXPECT_GT(frames[1].number, frames[0].number);

    RequestRenderStop();
    EXPECT_EQ(::WaitForSingleObject(renderThread, 5000), WAIT_OBJECT_0);
    ::CloseHandle(renderThread);
    NuiShutdown();
    ::CloseHandle(g_skeletonEvent);
    ::DestroyWindow(g_hwndOutput);

    // Every frame handed out was locked, unlocked and released once; nothing after shutdown.
    std::map<std::string, long> counts = ReadCounts(countsPath);
    ::DeleteFileW(countsPath.c_str());
    EXPECT_GT(counts["color_handed"], 90);
    EXPECT_EQ(counts["color_released"], counts["color_handed"]);
    EXPECT_EQ(counts["color_locked"], counts["color_handed"]);
    EXPECT_EQ(counts["color_unlocked"], counts["color_handed"]);
    EXPECT_EQ(counts["release_invalid"], 0);
    EXPECT_EQ(counts["calls_after_shutdown"], 0);
}

} // namespace
