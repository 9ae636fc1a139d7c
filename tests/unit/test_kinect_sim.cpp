// The simulated sensor runtime Kinect10.dll, loaded as the program loads it (beside the test,
// bound by ordinal): its colour stream, frame limit, skeleton frames, switches and counts.
#include "sensor/NuiApi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr DWORD kColourAndSkeleton = 0x0000000A;
const IID kIidFrameTexture = {
    0x13ea17f5, 0xff2e, 0x4670, {0x9e, 0xe5, 0x12, 0x97, 0xa6, 0xe8, 0x80, 0xd1}};
const wchar_t* const kSwitches[] = {L"NVR_SIM_NO_SENSOR", L"NVR_SIM_PITCH_ZERO",
                                    L"NVR_SIM_MOTION",    L"NVR_SIM_TRACKED",
                                    L"NVR_SIM_COUNTS",    L"NVR_SIM_SKELETON_LOG"};

template <typename Fn> Fn Bind(HMODULE module, WORD ordinal)
{
    // Through void* so GCC accepts the cast from FARPROC to the real signature.
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

// Kinect10.dll loaded for one test and unloaded at its end, so every test starts afresh.
struct Runtime {
    Runtime() : module(::LoadLibraryW(L"Kinect10.dll")) {}
    ~Runtime() { Unload(); }
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    bool Bound() const
    {
        return module && initialize && shutdown && streamOpen && nextFrame && releaseFrame &&
               trackingEnable && nextSkeleton && smooth;
    }
    // Shuts the runtime down (again, if the test did), so that its ticker thread, which keeps
    // the DLL loaded, ends and the DLL really unloads.
    void Unload()
    {
        if (module != nullptr) {
            if (shutdown != nullptr) {
                shutdown();
            }
            ::FreeLibrary(module);
            module = nullptr;
        }
    }

    HMODULE module;
    NuiInitializeFn initialize = Bind<NuiInitializeFn>(module, NUI_ORDINAL_INITIALIZE);
    NuiShutdownFn shutdown = Bind<NuiShutdownFn>(module, NUI_ORDINAL_SHUTDOWN);
    NuiImageStreamOpenFn streamOpen =
        Bind<NuiImageStreamOpenFn>(module, NUI_ORDINAL_IMAGE_STREAM_OPEN);
    NuiImageStreamGetNextFrameFn nextFrame =
        Bind<NuiImageStreamGetNextFrameFn>(module, NUI_ORDINAL_IMAGE_STREAM_GET_NEXT_FRAME);
    NuiImageStreamReleaseFrameFn releaseFrame =
        Bind<NuiImageStreamReleaseFrameFn>(module, NUI_ORDINAL_IMAGE_STREAM_RELEASE_FRAME);
    NuiSkeletonTrackingEnableFn trackingEnable =
        Bind<NuiSkeletonTrackingEnableFn>(module, NUI_ORDINAL_SKELETON_TRACKING_ENABLE);
    NuiSkeletonGetNextFrameFn nextSkeleton =
        Bind<NuiSkeletonGetNextFrameFn>(module, NUI_ORDINAL_SKELETON_GET_NEXT_FRAME);
    NuiTransformSmoothFn smooth = Bind<NuiTransformSmoothFn>(module, NUI_ORDINAL_TRANSFORM_SMOOTH);
};

std::wstring TempFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    std::wstring path =
        std::wstring(folder) + L"nvr_sim_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + name;
    ::DeleteFileW(path.c_str());
    return path;
}

std::string ReadFileText(const std::wstring& path)
{
    std::string text;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    ::CloseHandle(file);
    return text;
}

// Gives each test a clean set of switches, with the counts going to a file of its own.
class KinectSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSwitches();
        m_countsPath = TempFile(L"counts.txt");
        ::SetEnvironmentVariableW(L"NVR_SIM_COUNTS", m_countsPath.c_str());
    }
    void TearDown() override
    {
        ClearSwitches();
        ::DeleteFileW(m_countsPath.c_str());
    }
    static void ClearSwitches()
    {
        for (const wchar_t* name : kSwitches) {
            ::SetEnvironmentVariableW(name, nullptr);
        }
    }

    std::map<std::string, long long> Counts() const
    {
        std::map<std::string, long long> counts;
        std::istringstream lines(ReadFileText(m_countsPath));
        std::string line;
        while (std::getline(lines, line)) {
            const size_t equals = line.find('=');
            if (equals != std::string::npos) {
                counts[line.substr(0, equals)] = std::atoll(line.c_str() + equals + 1);
            }
        }
        return counts;
    }

    std::wstring m_countsPath;
};

// The frame number spelled by the code band: block i (40 pixels wide) is bit 15 - i.
DWORD DecodeFrameNumber(const BYTE* pixels)
{
    DWORD code = 0;
    for (int block = 0; block < 16; ++block) {
        const BYTE* pixel = pixels + 24 * 2560 + (block * 40 + 20) * 4;
        code = (code << 1) | (pixel[0] > 128 ? 1u : 0u);
    }
    return code;
}

// R, G, B of the pixel at (x, y) of a B, G, R, X picture.
std::string ColourAt(const BYTE* pixels, int x, int y)
{
    const BYTE* pixel = pixels + y * 2560 + x * 4;
    return std::to_string(pixel[2]) + "," + std::to_string(pixel[1]) + "," +
           std::to_string(pixel[0]);
}

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TEST_F(KinectSim, ColourFramesArriveInTimeCarryTheirNumberAndAreCounted)
{
    Runtime nui;
    ASSERT_TRUE(nui.Bound()) << "Kinect10.dll missing beside the test, or an ordinal not exported";
    const struct {
        const char* name;
        WORD ordinal;
    } exports[] = {{"NuiImageStreamGetNextFrame", 11},
                   {"NuiImageStreamOpen", 12},
                   {"NuiImageStreamReleaseFrame", 13},
                   {"NuiInitialize", 14},
                   {"NuiShutdown", 16},
                   {"NuiSkeletonGetNextFrame", 17},
                   {"NuiSkeletonTrackingEnable", 19},
                   {"NuiTransformSmooth", 20}};
    for (const auto& e : exports) {
        EXPECT_EQ(::GetProcAddress(nui.module, e.name),
                  ::GetProcAddress(nui.module, MAKEINTRESOURCEA(e.ordinal)))
            << e.name << " by name and at ordinal " << e.ordinal;
    }
    ASSERT_EQ(nui.initialize(kColourAndSkeleton), S_OK);
    HANDLE stream = nullptr;
    ASSERT_EQ(nui.streamOpen(1, 2, 0, 2, nullptr, &stream), S_OK);
    ASSERT_NE(stream, nullptr);

    long long handed = 0;
    long long firstNumber = -1;
    long long lastNumber = -1;
    double firstAt = 0.0;
    double lastAt = 0.0;
    const double start = Seconds();
    while (Seconds() - start < 1.0) {
        const NUI_IMAGE_FRAME* frame = nullptr;
        const HRESULT result = nui.nextFrame(stream, 0, &frame);
        if (result == E_NUI_FRAME_NO_DATA) {
            ::Sleep(5);
            continue;
        }
        ASSERT_EQ(result, S_OK);
        const long long number = frame->dwFrameNumber;
        ASSERT_GT(number, lastNumber) << "a frame handed out twice or out of order";
        EXPECT_EQ(frame->liTimeStamp.QuadPart, number * 1000 / 30);
        EXPECT_EQ(frame->eImageType, NUI_IMAGE_TYPE_COLOR);
        EXPECT_EQ(frame->eResolution, NUI_IMAGE_RESOLUTION_640x480);

        NUI_LOCKED_RECT locked = {};
        ASSERT_EQ(frame->pFrameTexture->LockRect(0, &locked, nullptr, 0), S_OK);
        EXPECT_EQ(locked.Pitch, 2560);
        EXPECT_EQ(locked.size, 1228800);
        EXPECT_EQ(DecodeFrameNumber(locked.pBits), static_cast<DWORD>(number % 65536));
        // The quadrants below the code band, at their corners.
        EXPECT_EQ(ColourAt(locked.pBits, 0, 48) + " " + ColourAt(locked.pBits, 319, 263),
                  "200,40,40 200,40,40");
        EXPECT_EQ(ColourAt(locked.pBits, 320, 48) + " " + ColourAt(locked.pBits, 639, 263),
                  "40,40,200 40,40,200");
        EXPECT_EQ(ColourAt(locked.pBits, 0, 264) + " " + ColourAt(locked.pBits, 319, 479),
                  "200,200,40 200,200,40");
        EXPECT_EQ(ColourAt(locked.pBits, 320, 264) + " " + ColourAt(locked.pBits, 639, 479),
                  "200,40,200 200,40,200");
        EXPECT_EQ(frame->pFrameTexture->UnlockRect(0), S_OK);
        EXPECT_EQ(nui.releaseFrame(stream, frame), S_OK);

        ++handed;
        lastNumber = number;
        lastAt = Seconds();
        if (firstNumber < 0) {
            firstNumber = number;
            firstAt = lastAt;
        }
    }
    const double rate = static_cast<double>(lastNumber - firstNumber) / (lastAt - firstAt);
    std::printf("colour: %lld frames handed in 1 s, numbers advance %.1f a second\n", handed, rate);
    EXPECT_GT(rate, 20.0);
    EXPECT_LT(rate, 40.0);
    EXPECT_GE(handed, 15);

    nui.shutdown();
    auto counts = Counts();
    EXPECT_EQ(counts["final"], 0);
    EXPECT_EQ(counts["initialize"], 1);
    EXPECT_EQ(counts["stream_open"], 1);
    EXPECT_GE(counts["color_requests"], handed);
    for (const char* key : {"color_handed", "color_locked", "color_unlocked", "color_released"}) {
        EXPECT_EQ(counts[key], handed) << key;
    }
    EXPECT_EQ(counts["outstanding"], 0);
    EXPECT_EQ(counts["calls_after_shutdown"], 0);
    EXPECT_EQ(counts["last_color_frame"], lastNumber);

    // Unloading writes the counts once more, marked final.
    nui.Unload();
    counts = Counts();
    EXPECT_EQ(counts["final"], 1);
    EXPECT_EQ(counts["color_handed"], handed);
}

TEST_F(KinectSim, FrameLimitBufferedFramesAndBadReleases)
{
    Runtime nui;
    ASSERT_TRUE(nui.Bound());
    ASSERT_EQ(nui.initialize(kColourAndSkeleton), S_OK);
    HANDLE stream = nullptr;
    ASSERT_EQ(nui.streamOpen(1, 2, 0, 2, nullptr, &stream), S_OK);

    // A wait covers the 33 ms until the next frame.
    const NUI_IMAGE_FRAME* first = nullptr;
    const NUI_IMAGE_FRAME* second = nullptr;
    ASSERT_EQ(nui.nextFrame(stream, 500, &first), S_OK);
    ASSERT_EQ(nui.nextFrame(stream, 500, &second), S_OK);
    EXPECT_GT(second->dwFrameNumber, first->dwFrameNumber);
    const DWORD secondNumber = second->dwFrameNumber;

    // Two outstanding: a third request is refused although newer frames exist.
    ::Sleep(200);
    const NUI_IMAGE_FRAME* refused = nullptr;
    EXPECT_EQ(nui.nextFrame(stream, 0, &refused), E_NUI_FRAME_NO_DATA);
    EXPECT_EQ(refused, nullptr);

    // Once one is back, the older of the two buffered frames comes (those before it were
    // dropped), and the newer one follows at once.
    ASSERT_EQ(nui.releaseFrame(stream, second), S_OK);
    const NUI_IMAGE_FRAME* buffered = nullptr;
    ASSERT_EQ(nui.nextFrame(stream, 0, &buffered), S_OK);
    EXPECT_GE(buffered->dwFrameNumber, secondNumber + 4);
    const DWORD bufferedNumber = buffered->dwFrameNumber;
    ASSERT_EQ(nui.releaseFrame(stream, buffered), S_OK);
    const NUI_IMAGE_FRAME* newest = nullptr;
    ASSERT_EQ(nui.nextFrame(stream, 0, &newest), S_OK);
    EXPECT_EQ(newest->dwFrameNumber, bufferedNumber + 1);
    const long long newestNumber = newest->dwFrameNumber;

    // Releasing twice, or a frame never handed out, is refused; so is locking a released one.
    NUI_IMAGE_FRAME stranger = *first;
    EXPECT_EQ(nui.releaseFrame(stream, second), E_INVALIDARG);
    EXPECT_EQ(nui.releaseFrame(stream, &stranger), E_INVALIDARG);
    NUI_LOCKED_RECT locked = {};
    EXPECT_TRUE(FAILED(second->pFrameTexture->LockRect(0, &locked, nullptr, 0)));

    EXPECT_EQ(nui.releaseFrame(stream, first), S_OK);
    EXPECT_EQ(nui.releaseFrame(stream, newest), S_OK);
    nui.shutdown();
    auto counts = Counts();
    EXPECT_EQ(counts["color_handed"], 4);
    EXPECT_EQ(counts["color_refused"], 1);
    EXPECT_EQ(counts["release_invalid"], 2);
    EXPECT_EQ(counts["lock_invalid"], 1);
    EXPECT_EQ(counts["outstanding"], 0);
    EXPECT_EQ(counts["last_color_frame"], newestNumber);
}

// Whether joint (x, y, z) lands inside the picture by the overlay's projection.
bool ProjectsInsidePicture(const Vector4& joint)
{
    if (!(joint.z > 0.5f)) {
        return false;
    }
    const float px = 320.0f + 2.0f * joint.x * 285.63f / joint.z;
    const float py = 240.0f - 2.0f * joint.y * 285.63f / joint.z;
    return px >= 0.0f && px < 640.0f && py >= 0.0f && py < 480.0f;
}

// The skeleton log's text expected for a frame handed out: its exact values, floats printed
// with "%.9g".
std::string ExpectedLog(const NUI_SKELETON_FRAME& frame)
{
    char field[64];
    std::snprintf(field, sizeof(field), "frame %lu %lld\n",
                  static_cast<unsigned long>(frame.dwFrameNumber),
                  static_cast<long long>(frame.liTimeStamp.QuadPart));
    std::string text = field;
    for (int r = 0; r < NUI_SKELETON_COUNT; ++r) {
        const NUI_SKELETON_DATA& record = frame.SkeletonData[r];
        std::snprintf(field, sizeof(field), "record %d %d %lu", r, record.eTrackingState,
                      static_cast<unsigned long>(record.dwTrackingID));
        text += field;
        for (int j = 0; j < NUI_SKELETON_POSITION_COUNT; ++j) {
            const Vector4& p = record.SkeletonPositions[j];
            std::snprintf(field, sizeof(field), " %.9g %.9g %.9g %d", static_cast<double>(p.x),
                          static_cast<double>(p.y), static_cast<double>(p.z),
                          record.eSkeletonPositionTrackingState[j]);
            text += field;
        }
        text += '\n';
    }
    return text;
}

TEST_F(KinectSim, SkeletonFramesFollowTheEventAndTheTrackedList)
{
    const std::wstring logPath = TempFile(L"skeletons.txt");
    ::SetEnvironmentVariableW(L"NVR_SIM_SKELETON_LOG", logPath.c_str());
    ::SetEnvironmentVariableW(L"NVR_SIM_MOTION", L"fixed");
    std::string expectedLog; // every frame handed out, session after session
    const struct {
        const wchar_t* setting; // null: unset
        unsigned trackedMask;   // bit r: record r tracked
    } cases[] = {{nullptr, 0x03}, {L"1,4", 0x12}, {L"0, 2,5", 0x25}, {L"none", 0}, {L"", 0}};

    Runtime nui;
    ASSERT_TRUE(nui.Bound());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting ? c.setting : L"(unset)");
        ::SetEnvironmentVariableW(L"NVR_SIM_TRACKED", c.setting);
        ASSERT_EQ(nui.initialize(kColourAndSkeleton), S_OK);
        HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_EQ(nui.trackingEnable(event, 0), S_OK);

        ASSERT_EQ(::WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
        NUI_SKELETON_FRAME frame;
        std::memset(&frame, 0xCD, sizeof(frame));
        ASSERT_EQ(nui.nextSkeleton(0, &frame), S_OK);
        expectedLog += ExpectedLog(frame);
        // The fetch clears the event: it is set again only with a newer frame.
        const bool setAgain = ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        NUI_SKELETON_FRAME next = {};
        const HRESULT again = nui.nextSkeleton(0, &next);
        if (setAgain) {
            EXPECT_EQ(again, S_OK) << "the event was left set after the frame was taken";
        }
        if (again == S_OK) {
            expectedLog += ExpectedLog(next);
            EXPECT_GT(next.dwFrameNumber, frame.dwFrameNumber);
            EXPECT_EQ(
                std::memcmp(next.SkeletonData, frame.SkeletonData, sizeof(frame.SkeletonData)), 0)
                << "fixed figures moved";
        } else {
            EXPECT_EQ(again, E_NUI_FRAME_NO_DATA);
        }

        float previousCentre = -10.0f;
        for (int r = 0; r < NUI_SKELETON_COUNT; ++r) {
            const NUI_SKELETON_DATA& record = frame.SkeletonData[r];
            const bool tracked = ((c.trackedMask >> r) & 1) != 0;
            EXPECT_EQ(record.eTrackingState, tracked ? NUI_SKELETON_TRACKED : 0) << "record " << r;
            // Untracked records carry joints too, so drawing them would show.
            for (int j = 0; j < NUI_SKELETON_POSITION_COUNT; ++j) {
                EXPECT_TRUE(ProjectsInsidePicture(record.SkeletonPositions[j]))
                    << "record " << r << " joint " << j;
                EXPECT_EQ(record.SkeletonPositions[j].w, 1.0f);
            }
            EXPECT_GT(record.SkeletonPositions[0].x, previousCentre + 0.2f) << "record " << r;
            previousCentre = record.SkeletonPositions[0].x;
        }

        NUI_SKELETON_FRAME smoothed = frame;
        EXPECT_EQ(nui.smooth(&smoothed, nullptr), S_OK);
        EXPECT_EQ(std::memcmp(&smoothed, &frame, sizeof(frame)), 0) << "smoothing moved joints";
        nui.shutdown();
        // The log holds exactly what was handed out, appended to what earlier sessions left.
        EXPECT_EQ(ReadFileText(logPath), expectedLog);
        // The runtime must not set the event once shut down: the program closes it right away.
        ::ResetEvent(event);
        EXPECT_EQ(::WaitForSingleObject(event, 100), static_cast<DWORD>(WAIT_TIMEOUT));
        ::CloseHandle(event);
    }

    // Each NuiInitialize after a NuiShutdown starts over; the counts go on adding up.
    const auto counts = Counts();
    EXPECT_EQ(counts.at("initialize"), 5);
    EXPECT_EQ(counts.at("shutdown"), 5);
    EXPECT_EQ(counts.at("smooth_calls"), 5);
    EXPECT_GE(counts.at("skeleton_handed"), 5);
    ::DeleteFileW(logPath.c_str());
}

TEST_F(KinectSim, MovingFiguresAndTheirInferredJointsAreLoggedAsDelivered)
{
    const std::wstring logPath = TempFile(L"moving.txt");
    ::SetEnvironmentVariableW(L"NVR_SIM_SKELETON_LOG", logPath.c_str());
    Runtime nui;
    ASSERT_TRUE(nui.Bound());
    ASSERT_EQ(nui.initialize(kColourAndSkeleton), S_OK);
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(nui.trackingEnable(event, 0), S_OK);

    std::string expectedLog;
    NUI_SKELETON_FRAME previous = {};
    bool seen[2][3] = {}; // [tracked][joint state] seen
    for (int fetched = 0; fetched < 8; ++fetched) {
        ASSERT_EQ(::WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
        NUI_SKELETON_FRAME frame;
        ASSERT_EQ(nui.nextSkeleton(0, &frame), S_OK);
        expectedLog += ExpectedLog(frame);
        if (fetched > 0) {
            EXPECT_NE(frame.SkeletonData[0].SkeletonPositions[7].y,
                      previous.SkeletonData[0].SkeletonPositions[7].y)
                << "the arms did not move";
        }
        for (const NUI_SKELETON_DATA& record : frame.SkeletonData) {
            const bool tracked = record.eTrackingState == NUI_SKELETON_TRACKED;
            for (int state : record.eSkeletonPositionTrackingState) {
                ASSERT_TRUE(state >= 0 && state <= 2);
                seen[tracked][state] = true;
            }
        }
        previous = frame;
    }
    nui.shutdown();
    ::CloseHandle(event);
    EXPECT_EQ(ReadFileText(logPath), expectedLog);
    ::DeleteFileW(logPath.c_str());
    // Tracked records mix tracked and inferred joints; untracked ones carry no joint state.
    EXPECT_TRUE(seen[1][1] && seen[1][2] && !seen[1][0]);
    EXPECT_TRUE(seen[0][0] && !seen[0][1] && !seen[0][2]);
}

TEST_F(KinectSim, SwitchesForNoSensorAndPitchZero)
{
    Runtime nui;
    ASSERT_TRUE(nui.Bound());

    // No sensor: every call fails with "not connected", and nothing is handed out or signalled.
    ::SetEnvironmentVariableW(L"NVR_SIM_NO_SENSOR", L"1");
    EXPECT_EQ(nui.initialize(kColourAndSkeleton), E_NUI_DEVICE_NOT_CONNECTED);
    HANDLE stream = nullptr;
    EXPECT_EQ(nui.streamOpen(1, 2, 0, 2, nullptr, &stream), E_NUI_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(stream, nullptr);
    const NUI_IMAGE_FRAME* frame = nullptr;
    EXPECT_EQ(nui.nextFrame(stream, 0, &frame), E_NUI_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(frame, nullptr);
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(nui.trackingEnable(event, 0), E_NUI_DEVICE_NOT_CONNECTED);
    NUI_SKELETON_FRAME skeletons = {};
    EXPECT_EQ(nui.nextSkeleton(0, &skeletons), E_NUI_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(::WaitForSingleObject(event, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    nui.shutdown();
    ::CloseHandle(event);

    // Pitch zero: the lock reports no rows, over a buffer that is not the picture.
    ::SetEnvironmentVariableW(L"NVR_SIM_NO_SENSOR", nullptr);
    ::SetEnvironmentVariableW(L"NVR_SIM_PITCH_ZERO", L"1");
    ASSERT_EQ(nui.initialize(kColourAndSkeleton), S_OK);
    ASSERT_EQ(nui.streamOpen(1, 2, 0, 2, nullptr, &stream), S_OK);
    ASSERT_EQ(nui.nextFrame(stream, 500, &frame), S_OK);
    NUI_LOCKED_RECT locked = {};
    ASSERT_EQ(frame->pFrameTexture->LockRect(0, &locked, nullptr, 0), S_OK);
    EXPECT_EQ(locked.Pitch, 0);
    ASSERT_NE(locked.pBits, nullptr);
    int pictureBytes = 0;
    for (int i = 0; i < 1228800; i += 997) {
        pictureBytes += locked.pBits[i] != 0x55 ? 1 : 0;
    }
    EXPECT_EQ(pictureBytes, 0);
    EXPECT_EQ(frame->pFrameTexture->UnlockRect(0), S_OK);
    EXPECT_EQ(nui.releaseFrame(stream, frame), S_OK);
    nui.shutdown();

    const auto counts = Counts();
    EXPECT_EQ(counts.at("initialize"), 2);
    EXPECT_EQ(counts.at("color_handed"), 1);
    EXPECT_EQ(counts.at("skeleton_handed"), 0);
}

TEST_F(KinectSim, CallsAfterShutdownFailAndAreCounted)
{
    Runtime nui;
    ASSERT_TRUE(nui.Bound());
    ASSERT_EQ(nui.initialize(kColourAndSkeleton), S_OK);
    HANDLE stream = nullptr;
    ASSERT_EQ(nui.streamOpen(1, 2, 0, 2, nullptr, &stream), S_OK);
    ASSERT_EQ(nui.trackingEnable(nullptr, 0), S_OK);
    const NUI_IMAGE_FRAME* kept = nullptr;
    ASSERT_EQ(nui.nextFrame(stream, 500, &kept), S_OK);
    INuiFrameTexture* texture = nullptr;
    ASSERT_EQ(
        kept->pFrameTexture->QueryInterface(kIidFrameTexture, reinterpret_cast<void**>(&texture)),
        S_OK);
    EXPECT_EQ(texture, kept->pFrameTexture);
    EXPECT_EQ(texture->Release(), 1u);
    nui.shutdown();

    const NUI_IMAGE_FRAME* frame = nullptr;
    NUI_LOCKED_RECT locked = {};
    NUI_SKELETON_FRAME skeletons = {};
    EXPECT_TRUE(FAILED(nui.nextFrame(stream, 0, &frame)));
    EXPECT_TRUE(FAILED(nui.releaseFrame(stream, kept)));
    EXPECT_TRUE(FAILED(texture->LockRect(0, &locked, nullptr, 0)));
    EXPECT_TRUE(FAILED(texture->UnlockRect(0)));
    EXPECT_TRUE(FAILED(nui.nextSkeleton(0, &skeletons)));
    EXPECT_TRUE(FAILED(nui.smooth(&skeletons, nullptr)));
    EXPECT_TRUE(FAILED(nui.trackingEnable(nullptr, 0)));
    EXPECT_TRUE(FAILED(nui.streamOpen(1, 2, 0, 2, nullptr, &stream)));
    nui.shutdown(); // counted as well; it writes the counts again

    const auto counts = Counts();
    EXPECT_EQ(counts.at("calls_after_shutdown"), 9);
    EXPECT_EQ(counts.at("shutdown"), 2);
    EXPECT_EQ(counts.at("outstanding"), 1) << "the frame kept over the shutdown";
}

TEST_F(KinectSim, ShutdownWhileARenderThreadPollsIsSafe)
{
    Runtime nui;
    ASSERT_TRUE(nui.Bound());
    ASSERT_EQ(nui.initialize(kColourAndSkeleton), S_OK);
    HANDLE stream = nullptr;
    ASSERT_EQ(nui.streamOpen(1, 2, 0, 2, nullptr, &stream), S_OK);
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(nui.trackingEnable(event, 0), S_OK);

    // The program's render passes go on while its main thread shuts the runtime down.
    std::atomic<bool> stop(false);
    std::atomic<int> frames(0);
    std::thread render([&] {
        while (!stop) {
            const NUI_IMAGE_FRAME* frame = nullptr;
            if (SUCCEEDED(nui.nextFrame(stream, 0, &frame))) {
                NUI_LOCKED_RECT locked = {};
                frame->pFrameTexture->LockRect(0, &locked, nullptr, 0);
                frame->pFrameTexture->UnlockRect(0);
                nui.releaseFrame(stream, frame);
                ++frames;
            }
            NUI_SKELETON_FRAME skeletons;
            nui.nextSkeleton(0, &skeletons);
            ::Sleep(2);
        }
    });
    ::Sleep(300);
    nui.shutdown();
    ::CloseHandle(event);
    ::Sleep(100);
    stop = true;
    render.join();
    EXPECT_GT(frames.load(), 5);

    // Shutdown may fall between any two calls of a pass: at most the frame held then stays out.
    nui.Unload();
    const auto counts = Counts();
    EXPECT_EQ(counts.at("final"), 1);
    EXPECT_GT(counts.at("calls_after_shutdown"), 0);
    EXPECT_LE(counts.at("outstanding"), 1);
}

} // namespace
