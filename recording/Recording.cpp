#include "recording/Recording.h"

#include <atomic>
#include <memory>

#include "platform/Platform.h"
#include "platform/ProcessFamily.h"
#include "platform/ProgramSearch.h"
#include "platform/ScopedHandle.h"
#include "recording/EncoderCommand.h"
#include "recording/FramePipe.h"
#include "recording/FrameQueue.h"
#include "recording/FrameTimeline.h"
#include "recording/FrameWriter.h"
#include "recording/RecordingFileName.h"
#include "recording/SkeletonCsv.h"
#include "settings/Settings.h"

namespace {

// A take runs. Set once the encoder is connected and the writer runs, cleared last at the stop.
std::atomic<bool> g_isRecording{false};
// Counts takes; a take's id goes with its encoder-lost report.
std::atomic<WPARAM> g_takeId{0};
HWND g_reportWindow = nullptr;
UINT g_reportMessage = 0;

// The running take; main thread only.
HANDLE g_pipe = nullptr;
PROCESS_INFORMATION g_encoder = {};
SYSTEMTIME g_recordStart = {};
std::wstring g_outputPath;
std::shared_ptr<FrameWriter> g_writer;
// The take's skeleton file: asked for, and made at the start.
bool g_savingSkeletons = false;
bool g_skeletonFileMade = false;

// What the render thread feeds; guarded by g_feedLock, which the main thread holds only to
// hand a take's queue over or take it back. A slim reader/writer lock needs no kernel object:
// MinGW's std::mutex makes one the first time two threads contend, a handle that would appear
// at some random take.
SRWLOCK g_feedLock = SRWLOCK_INIT;
std::shared_ptr<FrameQueue> g_feedQueue;
FrameTimeline g_timeline;
bool g_timelineStarted = false;
uint64_t g_lastQueuedSequence = 0;

// Holds g_feedLock for the scope it lives in.
class FeedLock {
public:
    FeedLock() { ::AcquireSRWLockExclusive(&g_feedLock); }
    ~FeedLock() { ::ReleaseSRWLockExclusive(&g_feedLock); }
    FeedLock(const FeedLock&) = delete;
    FeedLock& operator=(const FeedLock&) = delete;
};

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

// True when the pipe's client is the started encoder or a process it started (a launcher named
// ffmpeg.exe starts the real encoder), so that no other program receives the frames. The
// encoder's handle is held meanwhile, so no other process can have its id.
bool ClientIsEncoder(HANDLE pipe, const PROCESS_INFORMATION& encoder)
{
    DWORD clientId = FramePipeClientProcessId(pipe);
    return clientId != 0 &&
           IsSameOrDescendantProcess(clientId, encoder.hProcess, encoder.dwProcessId);
}

// How long the end of a terminated encoder is awaited, so the next start finds none.
constexpr DWORD kTerminationWaitMs = 2000;

// Ends the encoder (termination is asynchronous, so its end is awaited, within a bound).
void TerminateEncoder(const PROCESS_INFORMATION& encoder, UINT exitCode)
{
    ::TerminateProcess(encoder.hProcess, exitCode);
    ::WaitForSingleObject(encoder.hProcess, kTerminationWaitMs);
}

// Closes the encoder's handles; a process still running goes on by itself.
void ReleaseEncoder(PROCESS_INFORMATION& encoder)
{
    if (encoder.hProcess != nullptr) {
        ::CloseHandle(encoder.hProcess);
    }
    if (encoder.hThread != nullptr) {
        ::CloseHandle(encoder.hThread);
    }
    encoder = PROCESS_INFORMATION{};
}

// Ends an encoder whose start failed.
void EndFailedEncoder(PROCESS_INFORMATION& encoder)
{
    TerminateEncoder(encoder, 0);
    ReleaseEncoder(encoder);
}

// Gives the encoder, whose input is closed, kEncoderExitWaitMs to finish its file. One that
// had stalled and has not ended since is hung and is ended; any other is only slow and goes on
// by itself.
void AwaitEncoderEnd(PROCESS_INFORMATION& encoder, bool stalled)
{
    if (::WaitForSingleObject(encoder.hProcess, kEncoderExitWaitMs) != WAIT_OBJECT_0 && stalled) {
        TerminateEncoder(encoder, 1);
    }
    ReleaseEncoder(encoder);
}

// One line for a debugger (and the benchmarks) on how a take went, in UTF-8.
void ReportTake(const std::wstring& name, const FrameWriterResult& result, int64_t dropped)
{
    wchar_t line[512];
    if (FormatWide(line, 512,
                   L"Nimbra VIZ Recorder: take ended: %lld frames written, %lld dropped from "
                   L"the queue, %lld not handed over%ls: %ls\n",
                   static_cast<long long>(result.framesWritten), static_cast<long long>(dropped),
                   static_cast<long long>(result.framesAbandoned),
                   result.stalled ? L", encoder stalled" : L"", name.c_str()) <= 0) {
        return;
    }
    // The narrow call: Wine shows only narrow debug strings, and Windows narrows wide ones.
    char narrow[1024];
    if (::WideCharToMultiByte(CP_UTF8, 0, line, -1, narrow, sizeof(narrow), nullptr, nullptr) > 0) {
        ::OutputDebugStringA(narrow);
    }
}

// Takes the take's queue back from the render thread: no frame is put after this.
std::shared_ptr<FrameQueue> CloseFeed()
{
    std::shared_ptr<FrameQueue> queue;
    FeedLock lock;
    queue.swap(g_feedQueue);
    return queue;
}

} // namespace

void SetEncoderLostReport(HWND window, UINT message)
{
    g_reportWindow = window;
    g_reportMessage = message;
}

bool StartRecording(const std::wstring& path, bool saveSkeletons)
{
    wchar_t commandLine[kEncoderCommandCapacity];
    if (!BuildEncoderCommandLine(path, commandLine, kEncoderCommandCapacity)) {
        return false;
    }
    QueryLocalTime(&g_recordStart);
    g_outputPath = path;

    auto queue = std::make_shared<FrameQueue>();
    if (!FrameQueueOpen(*queue, kFrameQueueSlots)) {
        return false;
    }
    ScopedHandle pipe(CreateFramePipe());
    if (!pipe.IsValid() || !BeginFramePipeConnect(pipe.Get())) {
        return false;
    }
    PROCESS_INFORMATION encoder = {};
    const std::wstring encoderProgram = FindProgramBesideOrOnPath(kEncoderProgram);
    if (encoderProgram.empty() || !LaunchProcess(encoderProgram.c_str(), commandLine, &encoder)) {
        FinishFramePipeConnect(pipe.Get(), nullptr, 0);
        return false;
    }
    if (!FinishFramePipeConnect(pipe.Get(), encoder.hProcess, kEncoderConnectTimeoutMs) ||
        !ClientIsEncoder(pipe.Get(), encoder)) {
        EndFailedEncoder(encoder);
        return false;
    }
    const WPARAM takeId = g_takeId.load() + 1;
    const bool skeletonFileMade = saveSkeletons && SkeletonCsvOpen(SkeletonCsvPathFor(path));
    std::shared_ptr<FrameWriter> writer = FrameWriterStart(
        queue, pipe.Get(), EncoderLostReport{g_reportWindow, g_reportMessage, takeId},
        skeletonFileMade);
    if (!writer) {
        if (skeletonFileMade) {
            SkeletonCsvClose();
            ::DeleteFileW(SkeletonCsvPathFor(path).c_str());
        }
        EndFailedEncoder(encoder);
        return false;
    }
    g_savingSkeletons = saveSkeletons;
    g_skeletonFileMade = skeletonFileMade;

    g_takeId.store(takeId);
    g_pipe = pipe.Release();
    g_encoder = encoder;
    g_writer = writer;
    {
        FeedLock lock;
        g_feedQueue = queue;
        g_timelineStarted = false;
    }
    g_isRecording.store(true);
    return true;
}

StoppedTake StopRecording()
{
    StoppedTake stopped;
    if (!g_isRecording.load()) {
        return stopped;
    }
    std::shared_ptr<FrameQueue> queue = CloseFeed();
    FrameWriterResult result = FrameWriterFinish(*g_writer);
    g_writer.reset();
    // The encoder sees the end of its input.
    ::DisconnectNamedPipe(g_pipe);
    ::CloseHandle(g_pipe);
    g_pipe = nullptr;
    AwaitEncoderEnd(g_encoder, result.stalled);
    // A writer that is still running may still be writing rows: its file is not touched.
    const bool skeletonsSaved = g_skeletonFileMade && result.ended && SkeletonCsvClose();

    SYSTEMTIME end = {};
    QueryLocalTime(&end);
    std::wstring finalName = MakeRecordingFileName(g_outputPath, g_recordStart, end);
    // MoveFileW never replaces: an existing file of that name keeps this one under its start
    // name, and its skeleton file with it.
    const bool renamed =
        !finalName.empty() && ::MoveFileW(g_outputPath.c_str(), finalName.c_str()) != FALSE;
    std::wstring skeletonFile = SkeletonCsvPathFor(g_outputPath);
    if (renamed && g_skeletonFileMade &&
        ::MoveFileW(skeletonFile.c_str(), SkeletonCsvPathFor(finalName).c_str())) {
        skeletonFile = SkeletonCsvPathFor(finalName);
    }
    if (g_savingSkeletons && !skeletonsSaved) {
        stopped.unsavedSkeletonFile = skeletonFile;
    }
    // A name that could not be formed leaves the file, and LastPath, at the start name.
    WriteLastPath(finalName.empty() ? g_outputPath : finalName);
    ReportTake(renamed ? finalName : g_outputPath, result, FrameQueueDropped(*queue));

    g_savingSkeletons = false;
    g_skeletonFileMade = false;
    g_isRecording.store(false);
    return stopped;
}

void LeaveRecordingAtExit()
{
    if (!g_isRecording.load() || !g_writer) {
        return;
    }
    CloseFeed();
    if (FrameWriterFinish(*g_writer).ended && g_skeletonFileMade) {
        SkeletonCsvClose();
    }
}

bool IsRecording()
{
    return g_isRecording.load();
}

bool IsCurrentTake(WPARAM takeId)
{
    return g_isRecording.load() && takeId == g_takeId.load();
}

void FeedRecording(const RenderedFrame& frame)
{
    if (!g_isRecording.load()) {
        return;
    }
    FeedLock lock;
    if (!g_feedQueue) {
        return;
    }
    const int64_t now = NowTicks();
    if (!g_timelineStarted) {
        FrameTimelineStart(g_timeline, now, TicksPerSecond());
        g_timelineStarted = true;
        // A colour frame that was on screen before the take began is not new to it.
        g_lastQueuedSequence = frame.fetchedThisPass ? frame.sequence - 1 : frame.sequence;
    }
    const bool isNew = frame.sequence != g_lastQueuedSequence;
    const int due = FrameTimelineFramesDue(g_timeline, now, isNew);
    if (due > 0 && FrameQueuePut(*g_feedQueue, frame, due)) {
        FrameTimelineCountWritten(g_timeline, due);
        g_lastQueuedSequence = frame.sequence;
    }
}
