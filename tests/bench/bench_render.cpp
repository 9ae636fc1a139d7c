// Render loop benchmark against the simulated 30 fps sensor: passes painted per second, the
// render thread's CPU time per pass, frames written per second and the recording timeline's
// error, once with a reader that takes frames as fast as it can and once with a reader that
// stalls for a second in the middle. Prints figures; asserts nothing.

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/AppState.h"
#include "recording/FramePipe.h"
#include "sensor/KinectRuntime.h"
#include "sensor/RenderLoop.h"
#include "tests/support/FramePipeClient.h"

namespace {

double Now()
{
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ThreadCpuSeconds()
{
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& time) {
        ULARGE_INTEGER value;
        value.LowPart = time.dwLowDateTime;
        value.HighPart = time.dwHighDateTime;
        return static_cast<double>(value.QuadPart) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

struct Reader {
    double stallAt = -1.0;  // seconds after the start; negative: never stalls
    double stallFor = 0.0;
    double start = 0.0;
    std::atomic<long> frames{0};
};

void ReadFrames(Reader* reader)
{
    HANDLE pipe = OpenFramePipeClient(10000);
    std::vector<BYTE> buffer(kFrameBytes);
    bool stalled = false;
    for (;;) {
        if (!stalled && reader->stallAt >= 0 && Now() - reader->start >= reader->stallAt) {
            stalled = true;
            ::Sleep(static_cast<DWORD>(reader->stallFor * 1000));
        }
        if (!ReadWholeFrame(pipe, buffer.data())) {
            break;
        }
        reader->frames.fetch_add(1);
    }
    ::CloseHandle(pipe);
}

void RunCase(const char* name, double seconds, double stallAt, double stallFor)
{
    HANDLE pipe = CreateFramePipe();
    Reader reader;
    reader.stallAt = stallAt;
    reader.stallFor = stallFor;
    std::thread readerThread(ReadFrames, &reader);
    ::ConnectNamedPipe(pipe, nullptr);
    PublishFramePipe(pipe);

    bool haveNewFrame = false;
    long passes = 0;
    double worstError = 0.0;
    double worstErrorAfterCatchUp = 0.0;
    double cpuBefore = ThreadCpuSeconds();
    reader.start = Now();
    g_isRecording.store(true);
    for (;;) {
        double elapsed = Now() - reader.start;
        if (elapsed >= seconds) {
            break;
        }
        RenderPass(haveNewFrame);
        ++passes;
        double error = std::fabs(reader.frames.load() - 30.0 * (Now() - reader.start));
        worstError = std::max(worstError, error);
        if (stallAt < 0 || elapsed > stallAt + stallFor + 1.0) {
            worstErrorAfterCatchUp = std::max(worstErrorAfterCatchUp, error);
        }
        ::Sleep(kRenderPassSleepMs);
    }
    double cpu = ThreadCpuSeconds() - cpuBefore;
    double elapsed = Now() - reader.start;
    CloseFramePipe();
    g_isRecording.store(false);
    readerThread.join();

    long written = reader.frames.load();
    std::printf("%s\n", name);
    std::printf("  run time                    %8.3f s\n", elapsed);
    std::printf("  passes painted per second   %8.1f\n", passes / elapsed);
    std::printf("  CPU time per pass           %8.3f ms\n", 1000.0 * cpu / passes);
    std::printf("  frames written per second   %8.2f (%ld frames)\n", written / elapsed, written);
    std::printf("  timeline error at the end   %+8.2f frames (written - 30 x elapsed)\n",
                written - 30.0 * elapsed);
    std::printf("  largest timeline error      %8.2f frames (as read by the reader)\n", worstError);
    if (stallAt >= 0) {
        std::printf("  largest error 1 s after the stall %8.2f frames\n", worstErrorAfterCatchUp);
    }
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    ::SetEnvironmentVariableW(L"NVR_SIM_MOTION", L"moving");
    ::SetEnvironmentVariableW(L"NVR_SIM_TRACKED", L"0,1,2");
    g_hwndOutput = ::CreateWindowExW(0, L"STATIC", L"Kinect Output",
                                     WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 660, 520, nullptr,
                                     nullptr, nullptr, nullptr);
    if (!LoadKinectRuntime()) {
        std::printf("Kinect10.dll (the simulated runtime) must be beside this program\n");
        return 1;
    }
    NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR | NUI_INITIALIZE_FLAG_USES_SKELETON);
    NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr,
                       &g_colorStream);
    g_skeletonEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    NuiSkeletonTrackingEnable(g_skeletonEvent, 0);

    std::printf("render loop, simulated 30 fps sensor, three tracked skeletons, %.0f s a case\n",
                seconds);
    RunCase("reader takes frames as fast as it can", seconds, -1.0, 0.0);
    RunCase("reader stalls for 1 s after 3 s", seconds, 3.0, 1.0);

    NuiShutdown();
    ::CloseHandle(g_skeletonEvent);
    return 0;
}
