// Render loop benchmark against the simulated 30 fps sensor while a take runs: passes per second,
// the render thread's CPU time per second and per pass, frames taken per second and the
// timeline's error, once with an encoder that takes frames as fast as it can and once with one
// that stalls for a second in the middle. Prints figures; asserts nothing.

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "recording/Recording.h"
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
    double stallAt = -1.0; // seconds after the start; negative: never stalls
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

Reader g_reader;
std::thread g_readerThread;

// Stands in for the encoder's start: the reader thread opens the pipe; the "process" handle is
// an event set when the reader has seen the end of its input.
BOOL StartReader(const wchar_t*, wchar_t*, PROCESS_INFORMATION* process)
{
    HANDLE ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE endedCopy = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ended, ::GetCurrentProcess(), &endedCopy, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    g_readerThread = std::thread([endedCopy] {
        ReadFrames(&g_reader);
        ::SetEvent(endedCopy);
        ::CloseHandle(endedCopy);
    });
    process->hProcess = ended;
    process->hThread = nullptr;
    process->dwProcessId = ::GetCurrentProcessId();
    return TRUE;
}

void RunCase(const char* name, double seconds, double stallAt, double stallFor)
{
    g_reader.stallAt = stallAt;
    g_reader.stallFor = stallFor;
    g_reader.frames = 0;
    g_reader.start = Now();
    SetProcessLauncher(StartReader);
    if (StartRecording(FullPathOf(L"bench.mp4")) != StartResult::Started) {
        std::printf("the take did not start\n");
        return;
    }
    long passes = 0;
    double worstError = 0.0;
    double worstErrorAfterCatchUp = 0.0;
    double cpuBefore = ThreadCpuSeconds();
    g_reader.start = Now();
    for (;;) {
        double elapsed = Now() - g_reader.start;
        if (elapsed >= seconds) {
            break;
        }
        RenderPass();
        ++passes;
        double error = std::fabs(g_reader.frames.load() - 30.0 * (Now() - g_reader.start));
        worstError = std::max(worstError, error);
        if (stallAt < 0 || elapsed > stallAt + stallFor + 2.0) {
            worstErrorAfterCatchUp = std::max(worstErrorAfterCatchUp, error);
        }
        ::Sleep(kRenderPassSleepMs);
    }
    double cpu = ThreadCpuSeconds() - cpuBefore;
    double elapsed = Now() - g_reader.start;
    long taken = g_reader.frames.load();
    StopRecording();
    AwaitFinishingTakes(30000);
    g_readerThread.join();
    SetProcessLauncher(nullptr);

    std::printf("%s\n", name);
    std::printf("  run time                    %8.3f s\n", elapsed);
    std::printf("  passes per second           %8.1f\n", passes / elapsed);
    std::printf("  render CPU per second       %8.1f ms\n", 1000.0 * cpu / elapsed);
    std::printf("  render CPU per pass         %8.3f ms\n", 1000.0 * cpu / passes);
    std::printf("  frames taken per second     %8.2f (%ld frames)\n", taken / elapsed, taken);
    std::printf("  timeline error at the end   %+8.2f frames (taken - 30 x elapsed)\n",
                taken - 30.0 * elapsed);
    std::printf("  largest timeline error      %8.2f frames (as read by the encoder)\n",
                worstError);
    if (stallAt >= 0) {
        std::printf("  largest error 2 s after the stall %8.2f frames\n", worstErrorAfterCatchUp);
    }
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    ::SetEnvironmentVariableW(L"NVR_SIM_MOTION", L"moving");
    ::SetEnvironmentVariableW(L"NVR_SIM_TRACKED", L"0,1,2");
    g_hwndOutput =
        ::CreateWindowExW(0, L"STATIC", L"Kinect Output", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                          660, 520, nullptr, nullptr, nullptr, nullptr);
    if (!LoadKinectRuntime()) {
        std::printf("Kinect10.dll (the simulated runtime) must be beside this program\n");
        return 1;
    }
    NuiInitialize(NUI_INITIALIZE_FLAG_USES_COLOR | NUI_INITIALIZE_FLAG_USES_SKELETON);
    NuiImageStreamOpen(NUI_IMAGE_TYPE_COLOR, NUI_IMAGE_RESOLUTION_640x480, 0, 2, nullptr,
                       &g_colorStream);
    g_skeletonEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    NuiSkeletonTrackingEnable(g_skeletonEvent, 0);
    SetRenderedFrameSink(FeedRecording);

    std::printf("render loop, simulated 30 fps sensor, three tracked skeletons, %.0f s a case\n",
                seconds);
    RunCase("encoder takes frames as fast as it can", seconds, -1.0, 0.0);
    RunCase("encoder stalls for 1 s after 3 s", seconds, 3.0, 1.0);

    NuiShutdown();
    ::CloseHandle(g_skeletonEvent);
    return 0;
}
