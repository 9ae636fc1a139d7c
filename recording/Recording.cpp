#include "recording/Recording.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "platform/FreeSpaceWatch.h"
#include "platform/HostClock.h"
#include "platform/Platform.h"
#include "platform/ProgramSearch.h"
#include "platform/SrwLock.h"
#include "recording/EncoderCommand.h"
#include "recording/EncoderStream.h"
#include "recording/FramePipe.h"
#include "recording/FrameQueue.h"
#include "recording/FrameTimeline.h"
#include "recording/FramesCsv.h"
#include "recording/IsoTime.h"
#include "recording/LabStreams.h"
#include "recording/RecordingFileName.h"
#include "recording/SkeletonCsv.h"
#include "recording/SoundStream.h"

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
    std::shared_ptr<EncoderStream> depth; // null when the take saves no depth
    int depthWidth = 0;
    int depthHeight = 0;
    TakeFiles files;
    SYSTEMTIME start = {};
    std::wstring encoderProgram;
    bool savingSkeletons = false;
    uint64_t startedAt = 0; // UTC
    std::shared_ptr<SoundStream> sound; // null without sound
    TakeSound soundChoice;
    bool soundMissing = false; // asked for, but the device could not be opened
    TakeLabStreams lsl;     // the lab's streams when the take started
};
Take g_take;

// What the render thread feeds; guarded by g_feedLock, which the main thread holds only to
// hand a take's queue over or take it back. A slim reader/writer lock needs no kernel object:
// MinGW's std::mutex makes one the first time two threads contend, a handle that would appear
// at some random take.
SRWLOCK g_feedLock = SRWLOCK_INIT;
std::shared_ptr<FrameQueue> g_feedQueue;
std::shared_ptr<FrameQueue> g_feedDepthQueue; // null without depth
std::shared_ptr<SoundStream> g_feedSound;     // null without sound; told the time of frame 0
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
// The take's times without the sensor, the last still open while its picture has not returned.
// Under g_feedLock.
std::vector<SensorGap> g_sensorGaps;
bool g_sensorGapOpen = false;
// The take's line of host times, drawn when the timeline began (its utc is the take's start):
// every time the take writes is placed on it by the counter, so its frames' times keep the
// steps that its sound and a lab's clock see, whatever the system time does meanwhile. Under
// g_feedLock.
HostTime g_takeClock;

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

// A stream's stop in two halves: `begin` ends its input without waiting, `await` waits (within
// the stream's own bounds) until it has taken what it was given.
struct StreamStop {
    std::function<void()> begin;
    std::function<void()> await;
};

// Ends every stream's input at once, then awaits each: the stop lasts as long as its slowest
// stream, not the sum of them.
void StopTogether(const std::vector<StreamStop>& streams)
{
    for (const StreamStop& stream : streams) {
        stream.begin();
    }
    for (const StreamStop& stream : streams) {
        stream.await();
    }
}

// The stop of an encoder stream; what its writer did goes to `written`.
StreamStop EncoderStop(EncoderStream& stream, FrameWriterResult& written)
{
    return StreamStop{[&stream] { BeginCloseEncoderInput(stream); },
                      [&stream, &written] { written = CloseEncoderInput(stream); }};
}

// The stops of the running take's streams, each result going to its place in `finish`.
std::vector<StreamStop> TakeStreamStops(FrameWriterResult& video, FrameWriterResult& depth)
{
    std::vector<StreamStop> stops{EncoderStop(*g_take.video, video)};
    if (g_take.depth) {
        stops.push_back(EncoderStop(*g_take.depth, depth));
    }
    if (g_take.sound) {
        // The sound's end is awaited by the take's finish, which also closes its file.
        SoundStream& sound = *g_take.sound;
        stops.push_back(StreamStop{[&sound] { BeginSoundStreamStop(sound); }, [] {}});
    }
    return stops;
}

// Takes the take's queues back from the render thread: no frame is put after this. Returns the
// video's.
std::shared_ptr<FrameQueue> CloseFeed()
{
    std::shared_ptr<FrameQueue> queue;
    ExclusiveLock lock(g_feedLock);
    queue.swap(g_feedQueue);
    g_feedDepthQueue.reset();
    g_feedSound.reset();
    return queue;
}

// Takes the take's times without the sensor, the open one ending now.
std::vector<SensorGap> TakeSensorGaps()
{
    ExclusiveLock lock(g_feedLock);
    if (g_sensorGapOpen) {
        g_sensorGaps.back().end = UtcAtTicks(g_takeClock, HostTicks());
        g_sensorGapOpen = false;
    }
    std::vector<SensorGap> gaps;
    gaps.swap(g_sensorGaps);
    return gaps;
}

// Render thread, under g_feedLock, for a frame the timeline called for: `count` video frames
// from `first` on hold `frame` (0 when they were dropped; `isNew` when its picture is new to the
// take). A time without the sensor lasts until a new picture comes, whether or not the video
// gets it, whatever the sensor does meanwhile. A new picture's own frame is never part of it:
// the picture was taken while the sensor was there, even when a pass queues it after the sensor
// went away.
void NoteSensorGap(const RenderedFrame& frame, bool isNew, int64_t first, int count)
{
    const bool missing = frame.sensorMissingSince != 0;
    if (g_sensorGapOpen && !missing && isNew) {
        g_sensorGaps.back().end = frame.takenAt;
        g_sensorGapOpen = false;
    }
    const int live = isNew && count > 0 ? 1 : 0;
    const int repeats = count - live;
    if ((!missing && !g_sensorGapOpen) || repeats == 0) {
        return;
    }
    if (!g_sensorGapOpen) {
        SensorGap gap;
        gap.start = std::max(frame.sensorMissingSince, g_takeClock.utc);
        gap.firstFrame = first + live;
        g_sensorGaps.push_back(gap);
        g_sensorGapOpen = true;
    }
    g_sensorGaps.back().frames += repeats;
}

// A row file of the take, made at `path`; null when it can't be made (nothing it made is left
// there; a file that was there before, which it could not replace, is left alone).
template <typename File, typename Open, typename Close>
std::unique_ptr<File> OpenRowFile(const std::wstring& path, Open open, Close close)
{
    const bool existed = IsExistingFile(path);
    auto file = std::make_unique<File>();
    if (!open(*file, path)) {
        close(*file);
        if (!existed) {
            ::DeleteFileW(path.c_str());
        }
        return nullptr;
    }
    return file;
}

// Removes the files a failed start made; what it never opened (the take file, an earlier take's
// depth file whose encoder did not start) stays.
void DeleteStartedFiles(const std::vector<std::wstring>& made)
{
    for (const std::wstring& path : made) {
        ::DeleteFileW(path.c_str());
    }
}

// Starts the depth stream's encoder for `path`; null when it can't be.
std::shared_ptr<EncoderStream> StartDepthStream(const std::wstring& program,
                                                const std::wstring& path, WPARAM takeId)
{
    wchar_t commandLine[kEncoderCommandCapacity];
    if (!BuildDepthCommandLine(path, g_depthWidth, g_depthHeight, commandLine,
                               kEncoderCommandCapacity)) {
        return nullptr;
    }
    const std::size_t frameBytes =
        static_cast<std::size_t>(g_depthWidth) * static_cast<std::size_t>(g_depthHeight) * 2;
    return StartEncoderStream(
        program, kDepthPipeName, commandLine, frameBytes,
        EncoderLostReport{g_reportWindow, g_faultMessage, takeId, kDepthStreamFault},
        FrameRowFiles{});
}

} // namespace

void SetRecordingReports(HWND window, UINT faultMessage, UINT finishedMessage)
{
    g_reportWindow = window;
    g_faultMessage = faultMessage;
    g_finishedMessage = finishedMessage;
}

bool IsDepthAvailable()
{
    // Known once a depth stream was open, also while the sensor is away.
    return g_depthWidth > 0 && g_depthHeight > 0;
}

bool IsSavingTakeTo(const std::wstring& path)
{
    return IsFinishingAnyOf(TakeFilesFor(path, true, true, true));
}

// Ends a sound stream that a failed start made, within bounds, so its file can be removed.
void EndStartedSound(std::shared_ptr<SoundStream>& sound)
{
    if (sound) {
        SoundStreamReport report;
        AwaitSoundStreamEnd(*sound, kEncoderExitWaitMs, report);
        sound.reset();
    }
}

StartResult StartRecording(const std::wstring& path, bool saveSkeletons, bool saveDepth,
                           const TakeSound& sound)
{
    if (IsSavingTakeTo(path)) {
        return StartResult::StillSaving;
    }
    saveDepth = saveDepth && IsDepthAvailable();
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
    take.startedAt = UtcNow();
    const bool soundChosen = !sound.deviceId.empty();
    take.files = TakeFilesFor(path, saveSkeletons, saveDepth, soundChosen);
    take.soundChoice = sound;
    take.savingSkeletons = saveSkeletons;
    take.encoderProgram = FindProgramBesideOrOnPath(kEncoderProgram);

    FrameRowFiles rows;
    std::vector<std::wstring> made; // the files this start has opened
    if (saveSkeletons) {
        rows.skeletons = OpenRowFile<SkeletonCsvFile>(SkeletonCsvPathFor(path), SkeletonCsvOpen,
                                                      SkeletonCsvClose);
        if (rows.skeletons) {
            made.push_back(SkeletonCsvPathFor(path));
            NoteTakeFileCreated(take.files, made.back());
        }
    }
    if (saveSkeletons || saveDepth || soundChosen) {
        rows.frames =
            OpenRowFile<FramesCsvFile>(FramesCsvPathFor(path), FramesCsvOpen, FramesCsvClose);
        if (rows.frames) {
            made.push_back(FramesCsvPathFor(path));
            NoteTakeFileCreated(take.files, made.back());
        }
    }
    rows.labFrames = true;
    const WPARAM takeId = g_takeId.load() + 1;
    if (saveDepth) {
        const TakeFile* depthFile = FindTakeFile(take.files, kDepthSuffix);
        take.depth = StartDepthStream(take.encoderProgram, depthFile->startPath, takeId);
        take.depthWidth = g_depthWidth;
        take.depthHeight = g_depthHeight;
        if (!take.depth) {
            rows = FrameRowFiles{};
            DeleteStartedFiles(made);
            return StartResult::Failed;
        }
        made.push_back(depthFile->startPath); // its encoder has it open (with -y)
        NoteTakeFileCreated(take.files, made.back());
    }
    if (soundChosen) {
        // A device that is not there leaves the take without sound; it goes on.
        const std::wstring& soundPath = FindTakeFile(take.files, kSoundSuffix)->startPath;
        HRESULT soundError = S_OK;
        take.sound = StartSoundStream(sound.deviceId, soundPath, soundError);
        take.soundMissing = !take.sound;
        if (take.sound) {
            made.push_back(soundPath);
            NoteTakeFileCreated(take.files, soundPath);
        }
    }
    take.video = StartEncoderStream(take.encoderProgram, kFramePipeName, commandLine, kFrameBytes,
                                    EncoderLostReport{g_reportWindow, g_faultMessage, takeId, 0},
                                    std::move(rows));
    if (!take.video) {
        if (take.depth) {
            CloseEncoderInput(*take.depth);
            EndEncoder(*take.depth);
            take.depth.reset();
        }
        EndStartedSound(take.sound);
        DeleteStartedFiles(made);
        return StartResult::Failed;
    }
    NoteTakeFileCreated(take.files, path);
    g_takeId.store(takeId);
    g_take = std::move(take);
    {
        ExclusiveLock lock(g_feedLock);
        g_feedQueue = EncoderStreamQueue(*g_take.video);
        g_feedDepthQueue = g_take.depth ? EncoderStreamQueue(*g_take.depth) : nullptr;
        g_feedSound = g_take.sound;
        g_timelineStarted = false;
        g_framesRepeated.store(0);
        g_frameLimit.store(0);
        g_framesQueued = 0;
        g_frameLimitReached.store(false);
        g_sensorGaps.clear();
        g_sensorGapOpen = false;
    }
    g_isRecording.store(true);
    g_take.lsl = LabStreamsForTake();
    PublishMarker(L"take started " + path);
    return StartResult::Started;
}

bool StopRecording(TakeEnd why)
{
    if (!g_isRecording.load()) {
        return false;
    }
    std::shared_ptr<FrameQueue> queue = CloseFeed();
    TakeToFinish finish;
    StopTogether(TakeStreamStops(finish.written, finish.depthWritten));
    finish.dropped = FrameQueueDropped(*queue);
    ReportTake(g_take.files.video.startPath, finish.written, finish.dropped);
    finish.video = std::move(g_take.video);
    finish.depth = std::move(g_take.depth);
    finish.depthWidth = g_take.depthWidth;
    finish.depthHeight = g_take.depthHeight;
    finish.startedAt = g_take.startedAt;
    finish.sensorGaps = TakeSensorGaps();
    finish.files = g_take.files;
    finish.start = g_take.start;
    finish.end = why;
    finish.encoderProgram = g_take.encoderProgram;
    finish.savingSkeletons = g_take.savingSkeletons;
    finish.sound = std::move(g_take.sound);
    finish.soundDeviceId = g_take.soundChoice.deviceId;
    finish.soundDeviceName = g_take.soundChoice.deviceName;
    finish.soundMissingAtStart = g_take.soundMissing;
    // The streams it was published to: those at its start, or those turned on since.
    finish.lsl = LabStreamsForTake(finish.written.firstFrameTicks);
    if (!g_take.lsl.streams.empty()) {
        finish.lsl.streams = g_take.lsl.streams;
    }
    finish.reportWindow = g_reportWindow;
    finish.reportMessage = g_finishedMessage;
    g_take = Take{};
    g_isRecording.store(false);
    const bool stalled = finish.written.stalled || finish.depthWritten.stalled;
    FinishTakeInBackground(std::move(finish));
    return stalled;
}

void LeaveRecordingAtExit()
{
    if (g_isRecording.load()) {
        CloseFeed();
        FrameWriterResult written;
        FrameWriterResult depthWritten;
        StopTogether(TakeStreamStops(written, depthWritten));
        if (g_take.depth) {
            AwaitEncoderEnd(*g_take.depth, FindTakeFile(g_take.files, kDepthSuffix)->startPath,
                            depthWritten.stalled, nullptr, kEncoderExitWaitMs);
        }
        AwaitEncoderEnd(*g_take.video, g_take.files.video.startPath, written.stalled, nullptr,
                        kEncoderExitWaitMs);
        EndStartedSound(g_take.sound);
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

TakeSoundStatus CurrentTakeSound()
{
    TakeSoundStatus status;
    if (!g_isRecording.load() || g_take.soundChoice.deviceId.empty()) {
        return status;
    }
    status.chosen = true;
    status.deviceName = g_take.soundChoice.deviceName;
    status.missingAtStart = g_take.soundMissing;
    if (g_take.sound) {
        const SoundStreamLevel level = SoundStreamLevelNow(*g_take.sound);
        status.deviceGone = level.deviceGone;
        status.silent = level.silent;
        status.peakDb = level.peakDb;
    }
    return status;
}

std::vector<std::wstring> RunningTakeFiles()
{
    std::vector<std::wstring> paths;
    if (!g_isRecording.load()) {
        return paths;
    }
    if (g_take.files.video.created) {
        paths.push_back(g_take.files.video.startPath);
    }
    for (const TakeFile& companion : g_take.files.companions) {
        if (companion.created) {
            paths.push_back(companion.startPath);
        }
    }
    return paths;
}

std::wstring RunningTakeFile(const wchar_t* suffix)
{
    const TakeFile* file = g_isRecording.load() ? FindTakeFile(g_take.files, suffix) : nullptr;
    return file != nullptr ? file->startPath : std::wstring();
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
    if (!g_isRecording.load()) {
        return false;
    }
    uint64_t freeBytes = 0;
    RequestFreeSpace(g_take.files.video.startPath, RunningTakeFiles());
    return LatestFreeSpace(g_take.files.video.startPath, freeBytes) && freeBytes < kTakeFreeBytes;
}

void FeedRecording(const RenderedFrame& frame)
{
    if (!g_isRecording.load()) {
        return;
    }
    ExclusiveLock lock(g_feedLock);
    if (!g_feedQueue) {
        return;
    }
    const int64_t now = HostTicks();
    if (!g_timelineStarted) {
        FrameTimelineStart(g_timeline, now, HostTicksPerSecond());
        g_timelineStarted = true;
        g_takeClock = HostTimeNow();
        // A colour frame that was on screen before the take began is not new to it.
        g_lastQueuedSequence = frame.fetchedThisPass ? frame.sequence - 1 : frame.sequence;
    }
    const bool isNew = frame.sequence != g_lastQueuedSequence;
    RenderedFrame onLine = frame;
    if (frame.takenTicks != 0) {
        onLine.takenAt = UtcAtTicks(g_takeClock, frame.takenTicks);
    }
    int due = FrameTimelineFramesDue(g_timeline, now, isNew);
    const int64_t limit = g_frameLimit.load();
    if (limit > 0 && due > limit - g_framesQueued) {
        due = static_cast<int>(limit - g_framesQueued);
    }
    if (due > 0) {
        // Frames that find a queue full are dropped and counted once: the timeline moves on
        // past them, so the video misses them rather than catching up with repeats. The depth
        // stream takes a frame exactly when the video does, so the two stay frame for frame.
        if (FrameQueueHasRoom(*g_feedQueue) &&
            (!g_feedDepthQueue || FrameQueueHasRoom(*g_feedDepthQueue))) {
            FrameQueuePut(*g_feedQueue, onLine, onLine.pixels, due, !isNew);
            if (g_feedSound && g_framesQueued == 0) {
                // The take's video frame 0: its sound starts at the moment it was taken (now,
                // for a frame that does not say).
                SoundStreamSetFrameZero(*g_feedSound,
                                        frame.takenTicks != 0 ? frame.takenTicks : now);
            }
            if (g_feedDepthQueue) {
                FrameQueuePut(*g_feedDepthQueue, onLine,
                              reinterpret_cast<const BYTE*>(onLine.depth), due, !isNew);
            }
            NoteSensorGap(onLine, isNew, g_framesQueued, due);
            g_framesQueued += due;
        } else {
            NoteSensorGap(onLine, isNew, g_framesQueued, 0);
            FrameQueueCountDropped(*g_feedQueue, due);
            if (g_feedDepthQueue) {
                FrameQueueCountDropped(*g_feedDepthQueue, due);
            }
        }
        FrameTimelineCountWritten(g_timeline, due);
        g_framesRepeated.fetch_add(isNew ? due - 1 : due);
        g_lastQueuedSequence = frame.sequence;
    }
    if (limit > 0 && g_framesQueued >= limit) {
        g_frameLimitReached.store(true);
    }
}
