#include "recording/Recording.h"

#include <atomic>
#include <memory>

#include "platform/Platform.h"
#include "platform/ProgramSearch.h"
#include "recording/EncoderCommand.h"
#include "recording/EncoderStream.h"
#include "recording/FramePipe.h"
#include "recording/FrameQueue.h"
#include "recording/FrameTimeline.h"
#include "recording/RecordingFileName.h"
#include "recording/SkeletonCsv.h"

namespace {

// A take runs. Set once the encoder is connected and the writer runs, cleared at the stop.
std::atomic<bool> g_isRecording{false};
// Counts takes; a take's id goes with its fault reports.
std::atomic<WPARAM> g_takeId{0};
HWND g_reportWindow = nullptr;
UINT g_faultMessage = 0;
UINT g_finishedMessage = 0;

// The running take; main thread only.
struct Take {
    std::shared_ptr<EncoderStream> video;
    TakeFiles files;
    SYSTEMTIME start = {};
    std::wstring encoderProgram;
    bool savingSkeletons = false;
};
Take g_take;

// What the render thread feeds; guarded by g_feedLock, which the main thread holds only to
// hand a take's queue over or take it back. A slim reader/writer lock needs no kernel object:
// MinGW's std::mutex makes one the first time two threads contend, a handle that would appear
// at some random take.
SRWLOCK g_feedLock = SRWLOCK_INIT;
std::shared_ptr<FrameQueue> g_feedQueue;
FrameTimeline g_timeline;
bool g_timelineStarted = false;
uint64_t g_lastQueuedSequence = 0;
// Frames put that repeat the picture before them; written under g_feedLock, read by anyone.
std::atomic<int64_t> g_framesRepeated{0};
// The take's frame limit (0: none), the frames queued towards it (under g_feedLock), and
// whether they are all queued.
std::atomic<int64_t> g_frameLimit{0};
int64_t g_framesQueued = 0;
std::atomic<bool> g_frameLimitReached{false};

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

// The take's skeleton file, made at `path`; null when it can't be made.
std::unique_ptr<SkeletonCsvFile> OpenSkeletonFile(const std::wstring& path)
{
    auto file = std::make_unique<SkeletonCsvFile>();
    if (!SkeletonCsvOpen(*file, path)) {
        SkeletonCsvClose(*file);
        ::DeleteFileW(path.c_str());
        return nullptr;
    }
    return file;
}

} // namespace

void SetRecordingReports(HWND window, UINT faultMessage, UINT finishedMessage)
{
    g_reportWindow = window;
    g_faultMessage = faultMessage;
    g_finishedMessage = finishedMessage;
}

StartResult StartRecording(const std::wstring& path, bool saveSkeletons)
{
    wchar_t commandLine[kEncoderCommandCapacity];
    if (!BuildEncoderCommandLine(path, commandLine, kEncoderCommandCapacity)) {
        return StartResult::Failed;
    }
    uint64_t freeBytes = 0;
    if (QueryFreeDiskSpace(path, freeBytes) && freeBytes < kStartFreeBytes) {
        return StartResult::NotEnoughSpace;
    }
    Take take;
    QueryLocalTime(&take.start);
    take.files = TakeFilesFor(path, saveSkeletons);
    take.savingSkeletons = saveSkeletons;
    take.encoderProgram = FindProgramBesideOrOnPath(kEncoderProgram);

    std::unique_ptr<SkeletonCsvFile> skeletons;
    if (saveSkeletons) {
        skeletons = OpenSkeletonFile(SkeletonCsvPathFor(path));
    }
    const bool skeletonFileMade = skeletons != nullptr;
    const WPARAM takeId = g_takeId.load() + 1;
    take.video = StartEncoderStream(take.encoderProgram, kFramePipeName, commandLine,
                                    EncoderLostReport{g_reportWindow, g_faultMessage, takeId},
                                    std::move(skeletons));
    if (!take.video) {
        if (skeletonFileMade) {
            ::DeleteFileW(SkeletonCsvPathFor(path).c_str());
        }
        return StartResult::Failed;
    }
    g_takeId.store(takeId);
    g_take = std::move(take);
    {
        FeedLock lock;
        g_feedQueue = EncoderStreamQueue(*g_take.video);
        g_timelineStarted = false;
        g_framesRepeated.store(0);
        g_frameLimit.store(0);
        g_framesQueued = 0;
        g_frameLimitReached.store(false);
    }
    g_isRecording.store(true);
    return StartResult::Started;
}

bool StopRecording(TakeEnd why)
{
    if (!g_isRecording.load()) {
        return false;
    }
    std::shared_ptr<FrameQueue> queue = CloseFeed();
    TakeToFinish finish;
    finish.written = CloseEncoderInput(*g_take.video);
    finish.dropped = FrameQueueDropped(*queue);
    ReportTake(g_take.files.video.startPath, finish.written, finish.dropped);
    finish.video = std::move(g_take.video);
    finish.files = g_take.files;
    finish.start = g_take.start;
    finish.end = why;
    finish.encoderProgram = g_take.encoderProgram;
    finish.savingSkeletons = g_take.savingSkeletons;
    finish.reportWindow = g_reportWindow;
    finish.reportMessage = g_finishedMessage;
    g_take = Take{};
    g_isRecording.store(false);
    const bool stalled = finish.written.stalled;
    FinishTakeInBackground(std::move(finish));
    return stalled;
}

void LeaveRecordingAtExit()
{
    if (g_isRecording.load()) {
        CloseFeed();
        const FrameWriterResult written = CloseEncoderInput(*g_take.video);
        AwaitEncoderEnd(*g_take.video, g_take.files.video.startPath, written.stalled, nullptr,
                        kEncoderExitWaitMs);
        g_take = Take{};
        g_isRecording.store(false);
    }
    if (!AwaitFinishingTakes(kQuitFinishWaitMs)) {
        AbandonFinishingTakes();
        AwaitFinishingTakes(kEncoderExitWaitMs);
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

TakeCounts CurrentTakeCounts()
{
    TakeCounts counts;
    if (!g_isRecording.load()) {
        return counts;
    }
    std::shared_ptr<FrameQueue> queue = EncoderStreamQueue(*g_take.video);
    counts.frames = EncoderStreamFramesTaken(*g_take.video);
    counts.dropped = FrameQueueDropped(*queue);
    counts.repeated = g_framesRepeated.load();
    return counts;
}

void SetTakeFrameLimit(int64_t frames)
{
    g_frameLimit.store(frames);
}

bool IsTakeFrameLimitReached()
{
    return g_frameLimitReached.load();
}

bool IsTakeDiskFull()
{
    uint64_t freeBytes = 0;
    return g_isRecording.load() && QueryFreeDiskSpace(g_take.files.video.startPath, freeBytes) &&
           freeBytes < kTakeFreeBytes;
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
    int due = FrameTimelineFramesDue(g_timeline, now, isNew);
    const int64_t limit = g_frameLimit.load();
    if (limit > 0 && due > limit - g_framesQueued) {
        due = static_cast<int>(limit - g_framesQueued);
    }
    if (due > 0) {
        // Frames that find the queue full are dropped and counted once: the timeline moves on
        // past them, so the video misses them rather than catching up with repeats.
        if (FrameQueuePut(*g_feedQueue, frame, due)) {
            g_framesQueued += due;
        }
        FrameTimelineCountWritten(g_timeline, due);
        g_framesRepeated.fetch_add(isNew ? due - 1 : due);
        g_lastQueuedSequence = frame.sequence;
    }
    if (limit > 0 && g_framesQueued >= limit) {
        g_frameLimitReached.store(true);
    }
}
