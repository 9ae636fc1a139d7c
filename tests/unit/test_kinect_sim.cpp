// The simulated sensor runtime Kinect10.dll beside the test, bound by ordinal as the program
// binds it: what the other tests rely on it for.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "sensor/KinectRuntime.h"
#include "tests/support/FrameCode.h"

namespace {

TEST(KinectSim, HandsOutNumberedFramesTheChosenSkeletonsAndCountsWhatWasDone)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring countsPath = std::wstring(temp) + L"nvr-sim-counts-" +
                                    std::to_wstring(::GetCurrentProcessId()) + L".txt";
    ::SetEnvironmentVariableW(L"NVR_SIM_COUNTS", countsPath.c_str());
    ::SetEnvironmentVariableW(L"NVR_SIM_TRACKED", L"1,4");
    ASSERT_TRUE(LoadKinectRuntime()) << "Kinect10.dll missing beside the test, or an export";
    ASSERT_EQ(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR | NUI_INITIALIZE_FLAG_USES_SKELETON),
              S_OK);
    HANDLE stream = nullptr;
    ASSERT_EQ(NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr,
                                 &stream),
              S_OK);
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(NuiSkeletonTrackingEnable(event, 0), S_OK);

    // Each frame carries its own number in the code band. The second is released still
    // locked, which the counts must show.
    for (int i = 0; i < 2; ++i) {
        const NUI_IMAGE_FRAME* frame = nullptr;
        ASSERT_EQ(NuiImageStreamGetNextFrame(stream, 500, &frame), S_OK);
        NUI_LOCKED_RECT locked = {};
        ASSERT_EQ(frame->pFrameTexture->LockRect(0, &locked, nullptr, 0), S_OK);
        ASSERT_EQ(locked.Pitch, kFrameStride);
        EXPECT_EQ(DecodeFrameNumber(locked.pBits), static_cast<int>(frame->dwFrameNumber % 65536));
        if (i == 0) {
            frame->pFrameTexture->UnlockRect(0);
        }
        NuiImageStreamReleaseFrame(stream, frame);
    }

    // Only the records named in NVR_SIM_TRACKED are tracked; the others still stand in front
    // of the sensor (their hip centre, joint 0, too), so drawing them would show.
    ASSERT_EQ(::WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    NUI_SKELETON_FRAME skeletons = {};
    ASSERT_EQ(NuiSkeletonGetNextFrame(0, &skeletons), S_OK);
    for (int r = 0; r < NUI_SKELETON_COUNT; ++r) {
        const NUI_SKELETON_DATA& record = skeletons.SkeletonData[r];
        EXPECT_EQ(record.eTrackingState == NUI_SKELETON_TRACKED, r == 1 || r == 4) << r;
        EXPECT_GT(record.SkeletonPositions[0].z, 0.5f) << r;
    }
    NuiShutdown();
    ::CloseHandle(event);

    std::ifstream file(std::filesystem::path(countsPath), std::ios::binary);
    const std::string counts((std::istreambuf_iterator<char>(file)), {});
    file.close();
    ::DeleteFileW(countsPath.c_str());
    for (const char* line : {"color_handed=2\n", "color_unlocked=1\n", "color_released=2\n",
                             "released_locked=1\n", "calls_after_shutdown=0\n"}) {
        EXPECT_NE(counts.find(line), std::string::npos) << line << " not in:\n" << counts;
    }
}

} // namespace
