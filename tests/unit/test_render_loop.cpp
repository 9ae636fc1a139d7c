// The render loop against the simulated sensor runtime (Kinect10.dll beside this program) and a
// frame pipe reader of the test's own: what enters the pipe, when, and in which order.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sensor/Frame.h"
#include "sensor/KinectRuntime.h"
#include "sensor/RenderLoop.h"
#include "tests/support/FrameCode.h"

namespace {

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
    std::ifstream file(std::filesystem::path(countsPath), std::ios::binary);
    const std::string counts((std::istreambuf_iterator<char>(file)), {});
    file.close();
    ::DeleteFileW(countsPath.c_str());
    const std::string handed = std::to_string(fetched) + "\n";
    for (const std::string& line :
         {"\ncolor_handed=" + handed, "\ncolor_locked=" + handed, "\ncolor_unlocked=" + handed,
          "\ncolor_released=" + handed, std::string("\nrelease_invalid=0\n"),
          std::string("\ncalls_after_shutdown=0\n")}) {
        EXPECT_NE(counts.find(line), std::string::npos) << line << " not in:\n" << counts;
    }
}

} // namespace
