// The simulated sensor runtime Kinect10.dll beside the test, bound by ordinal as the program
// binds it: what the other tests rely on it for.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "sensor/KinectRuntime.h"
#include "tests/support/FrameCode.h"

namespace {

// A path in the temporary folder, named for this process.
std::wstring TempPath(const wchar_t* name)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name + std::to_wstring(::GetCurrentProcessId()) + L".txt";
}

// The text of a file, which is then deleted.
std::string TakeFile(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), {});
    file.close();
    ::DeleteFileW(path.c_str());
    return text;
}

// Pixel (x, y) of a locked 16-bit depth picture.
USHORT DepthAt(const NUI_LOCKED_RECT& locked, int x, int y)
{
    USHORT value = 0;
    std::memcpy(&value, locked.pBits + y * locked.Pitch + x * 2, sizeof(value));
    return value;
}

TEST(KinectSim, HandsOutNumberedFramesTheChosenSkeletonsAndCountsWhatWasDone)
{
    const std::wstring countsPath = TempPath(L"nvr-sim-counts-");
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

    const std::string counts = TakeFile(countsPath);
    for (const char* line : {"color_handed=2\n", "color_unlocked=1\n", "color_released=2\n",
                             "released_locked=1\n", "calls_after_shutdown=0\n"}) {
        EXPECT_NE(counts.find(line), std::string::npos) << line << " not in:\n" << counts;
    }
}

// Depth beside colour, at 640x480 and at 320x240 after the 640x480 open is refused: a frame
// spells its number in the code band, a tracked person is a box at the spine's depth with the
// record's player index, an untracked one is not there, and the frame goes back to its own
// stream only.
TEST(KinectSim, DepthFramesCarryTheirNumberAndTrackedPlayersBesideColour)
{
    const std::wstring countsPath = TempPath(L"nvr-sim-depth-counts-");
    ::SetEnvironmentVariableW(L"NVR_SIM_COUNTS", countsPath.c_str());
    ::SetEnvironmentVariableW(L"NVR_SIM_TRACKED", L"1,4");
    ::SetEnvironmentVariableW(L"NVR_SIM_MOTION", L"fixed");
    for (const int width : {640, 320}) {
        SCOPED_TRACE(width);
        ::SetEnvironmentVariableW(L"NVR_SIM_DEPTH_640", width == 640 ? nullptr : L"0");
        ASSERT_TRUE(LoadKinectRuntime());
        ASSERT_EQ(NuiInitialize(NUI_INITIALIZE_FLAG_USES_DEPTH_AND_PLAYER_INDEX |
                                NUI_INITIALIZE_FLAG_USES_COLOR | NUI_INITIALIZE_FLAG_USES_SKELETON),
                  S_OK);
        HANDLE colour = nullptr;
        HANDLE depth = nullptr;
        ASSERT_EQ(NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2,
                                     nullptr, &colour),
                  S_OK);
        HRESULT opened = NuiImageStreamOpen(NUI_IMAGE_TYPE_DEPTH_AND_PLAYER_INDEX,
                                            NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr, &depth);
        if (width == 320) {
            EXPECT_EQ(opened, E_INVALIDARG);
            opened = NuiImageStreamOpen(NUI_IMAGE_TYPE_DEPTH_AND_PLAYER_INDEX,
                                        NUI_IMAGE_RESOLUTION_320x240, 0, 2, nullptr, &depth);
        }
        ASSERT_EQ(opened, S_OK);
        ASSERT_NE(depth, colour);
        HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_EQ(NuiSkeletonTrackingEnable(event, 0), S_OK);
        ASSERT_EQ(::WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
        NUI_SKELETON_FRAME skeletons = {};
        ASSERT_EQ(NuiSkeletonGetNextFrame(0, &skeletons), S_OK);

        // Late, so the frame number is past 0 and has set bits to read.
        ::Sleep(100);
        const NUI_IMAGE_FRAME* frame = nullptr;
        ASSERT_EQ(NuiImageStreamGetNextFrame(depth, 500, &frame), S_OK);
        const DWORD n = frame->dwFrameNumber;
        ASSERT_GE(n, 1u);
        EXPECT_EQ(frame->liTimeStamp.QuadPart, n * 1000 / 30 + 13);
        EXPECT_EQ(frame->eResolution,
                  width == 640 ? NUI_IMAGE_RESOLUTION_640x480 : NUI_IMAGE_RESOLUTION_320x240);
        NUI_LOCKED_RECT locked = {};
        ASSERT_EQ(frame->pFrameTexture->LockRect(0, &locked, nullptr, 0), S_OK);
        ASSERT_EQ(locked.Pitch, width * 2);
        const int height = width * 3 / 4;
        for (int block = 0; block < 16; ++block) {
            const int millimetres = ((n >> (15 - block)) & 1u) != 0 ? 3000 : 1000;
            EXPECT_EQ(DepthAt(locked, block * width / 16 + width / 32, height / 20),
                      millimetres << 3)
                << "block " << block << " of frame " << n;
        }
        // Where the spine is seen: record 1 (tracked) at its depth with player index 2; record 2
        // (not tracked) leaves the background, 3500 mm and no player.
        for (const int record : {1, 2}) {
            const Vector4& spine = skeletons.SkeletonData[record].SkeletonPositions[1];
            const double focal = 571.26 * width / 640;
            const int x = static_cast<int>(width / 2 + spine.x * focal / spine.z);
            const int y = static_cast<int>(height / 2 - spine.y * focal / spine.z);
            const int millimetres = static_cast<int>(std::floor(spine.z * 1000.0 + 0.5));
            EXPECT_EQ(DepthAt(locked, x, y), record == 1 ? millimetres << 3 | 2 : 3500 << 3)
                << "record " << record;
        }
        frame->pFrameTexture->UnlockRect(0);
        EXPECT_EQ(NuiImageStreamReleaseFrame(colour, frame), E_INVALIDARG);
        EXPECT_EQ(NuiImageStreamReleaseFrame(depth, frame), S_OK);
        NuiShutdown();
        ::CloseHandle(event);
    }
    ::SetEnvironmentVariableW(L"NVR_SIM_DEPTH_640", nullptr);
    ::SetEnvironmentVariableW(L"NVR_SIM_MOTION", nullptr);

    const std::string counts = TakeFile(countsPath);
    for (const char* line : {"depth_handed=2\n", "depth_released=2\n", "outstanding=0\n"}) {
        EXPECT_NE(counts.find(line), std::string::npos) << line << " not in:\n" << counts;
    }
}

// A pulled sensor: every call of its session fails at once, the status callback says so, and
// after its return frames come only once the session has been shut down and started again.
std::vector<HRESULT> g_statuses;
std::mutex g_statusLock;

void CALLBACK KeepStatus(HRESULT status, const OLECHAR* instance, const OLECHAR*, void*)
{
    std::lock_guard<std::mutex> lock(g_statusLock);
    g_statuses.push_back(instance != nullptr && instance[0] != L'\0' ? status : E_FAIL);
}

bool AwaitStatus(HRESULT status)
{
    for (int i = 0; i < 100; ++i, ::Sleep(10)) {
        std::lock_guard<std::mutex> lock(g_statusLock);
        if (!g_statuses.empty() && g_statuses.back() == status) {
            return true;
        }
    }
    return false;
}

void Plug(const std::wstring& path, const char* state)
{
    std::ofstream(std::filesystem::path(path), std::ios::binary) << state;
}

TEST(KinectSim, APulledSensorFailsItsSessionUntilStartedAgain)
{
    const std::wstring plugPath = TempPath(L"nvr-sim-plug-");
    Plug(plugPath, "1");
    ::SetEnvironmentVariableW(L"NVR_SIM_PLUG", plugPath.c_str());
    ASSERT_TRUE(LoadKinectRuntime());
    ASSERT_TRUE(NuiSetDeviceStatusCallback(KeepStatus, nullptr));
    ASSERT_EQ(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR), S_OK);
    HANDLE stream = nullptr;
    ASSERT_EQ(NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr,
                                 &stream),
              S_OK);
    const NUI_IMAGE_FRAME* frame = nullptr;
    ASSERT_EQ(NuiImageStreamGetNextFrame(stream, 500, &frame), S_OK);
    ASSERT_EQ(NuiImageStreamReleaseFrame(stream, frame), S_OK);
    EXPECT_EQ(NuiSensorCount(), 1);

    Plug(plugPath, "0");
    ASSERT_TRUE(AwaitStatus(E_NUI_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(NuiImageStreamGetNextFrame(stream, 100, &frame), E_NUI_DEVICE_GONE);
    EXPECT_EQ(NuiSensorCount(), 0);
    Plug(plugPath, "1");
    ASSERT_TRUE(AwaitStatus(S_OK));
    EXPECT_EQ(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR), S_OK);
    EXPECT_EQ(NuiImageStreamGetNextFrame(stream, 100, &frame), E_NUI_DEVICE_GONE);
    NuiShutdown();
    ASSERT_EQ(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR), S_OK);
    ASSERT_EQ(NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr,
                                 &stream),
              S_OK);
    ASSERT_EQ(NuiImageStreamGetNextFrame(stream, 500, &frame), S_OK);
    EXPECT_EQ(NuiImageStreamReleaseFrame(stream, frame), S_OK);

    // Absent from the start: no session until it is plugged in.
    NuiShutdown();
    Plug(plugPath, "0");
    ASSERT_TRUE(AwaitStatus(E_NUI_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR), E_NUI_DEVICE_NOT_CONNECTED);
    Plug(plugPath, "1");
    ASSERT_TRUE(AwaitStatus(S_OK));
    EXPECT_EQ(NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR), S_OK);
    NuiShutdown();
    ::SetEnvironmentVariableW(L"NVR_SIM_PLUG", nullptr);
    ::DeleteFileW(plugPath.c_str());
}

} // namespace
