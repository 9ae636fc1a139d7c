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

#include "sensor/Frame.h"
#include "sensor/KinectRuntime.h"
#include "sensor/RenderLoop.h"

namespace {

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

// What each pass handed on.
struct Handed {
    uint64_t sequence;
    bool fetched;
    DWORD colorFrameNumber;
    int numberInPixels;
    long skeletonFrameNumber; // -1: no skeleton frame yet
};
std::vector<Handed> g_handed;

void Capture(const RenderedFrame& frame)
{
    g_handed.push_back({frame.sequence, frame.fetchedThisPass, frame.colorFrameNumber,
                        DecodeFrameNumber(frame.pixels),
                        frame.skeletons ? static_cast<long>(frame.skeletons->dwFrameNumber) : -1});
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

TEST(RenderLoop, HandsOnEverySensorFrameOnceWithTheSkeletonsTakenUpToIt)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring countsPath = std::wstring(temp) + L"nvr-render-loop-counts-" +
                              std::to_wstring(::GetCurrentProcessId()) + L".txt";
    ::SetEnvironmentVariableW(L"NVR_SIM_COUNTS", countsPath.c_str());
    ::SetEnvironmentVariableW(L"NVR_SIM_MOTION", L"fixed");

    // The program's start-up, in short: an output window, the runtime, the render thread.
    g_hwndOutput =
        ::CreateWindowExW(0, L"STATIC", L"Kinect Output", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                          660, 520, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g_hwndOutput, nullptr);
    ASSERT_TRUE(LoadKinectRuntime());
    ASSERT_GE(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR | NUI_INITIALIZE_FLAG_USES_SKELETON), 0);
    NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr,
                       &g_colorStream);
    g_skeletonEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    NuiSkeletonTrackingEnable(g_skeletonEvent, 0);
    g_handed.reserve(1000);
    SetRenderedFrameSink(Capture);
    HANDLE renderThread = ::CreateThread(nullptr, 0, RenderThread, nullptr, 0, nullptr);
    ::Sleep(3000);
    RequestRenderStop();
    EXPECT_EQ(::WaitForSingleObject(renderThread, 5000), WAIT_OBJECT_0);
    ::CloseHandle(renderThread);
    SetRenderedFrameSink(nullptr);
    NuiShutdown();
    ::CloseHandle(g_skeletonEvent);
    ::DestroyWindow(g_hwndOutput);

    // Every pass hands the buffer on; each colour frame once, in order, with its own number and
    // the newest skeleton frame taken up to its pass.
    ASSERT_GT(g_handed.size(), 120u);
    const Handed* previous = nullptr;
    int fetched = 0;
    for (const Handed& pass : g_handed) {
        if (pass.fetched) {
            ++fetched;
            EXPECT_EQ(pass.numberInPixels, static_cast<int>(pass.colorFrameNumber & 0xFFFF));
            if (previous != nullptr) {
                EXPECT_EQ(pass.sequence, previous->sequence + 1);
                EXPECT_EQ(pass.colorFrameNumber, previous->colorFrameNumber + 1);
                EXPECT_GE(pass.skeletonFrameNumber, previous->skeletonFrameNumber);
            }
            if (pass.skeletonFrameNumber >= 0) {
                EXPECT_LE(pass.skeletonFrameNumber, static_cast<long>(pass.colorFrameNumber) + 1);
            }
            previous = &pass;
        } else if (previous != nullptr) {
            EXPECT_EQ(pass.sequence, previous->sequence); // a repeat carries the same frame
            EXPECT_EQ(pass.skeletonFrameNumber, previous->skeletonFrameNumber);
        }
    }
    EXPECT_GT(fetched, 80);
    EXPECT_GE(g_handed.back().skeletonFrameNumber, 60);

    // Every frame handed out was locked, unlocked and released once; nothing after shutdown.
    std::map<std::string, long> counts = ReadCounts(countsPath);
    ::DeleteFileW(countsPath.c_str());
    EXPECT_EQ(counts["color_handed"], fetched);
    EXPECT_EQ(counts["color_released"], counts["color_handed"]);
    EXPECT_EQ(counts["color_locked"], counts["color_handed"]);
    EXPECT_EQ(counts["color_unlocked"], counts["color_handed"]);
    EXPECT_EQ(counts["release_invalid"], 0);
    EXPECT_EQ(counts["calls_after_shutdown"], 0);
}

} // namespace
