#include "recording/TakeFinish.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/Platform.h"
#include "platform/ProcessJob.h"
#include "platform/ScopedHandle.h"
#include "platform/SoundDevices.h"
#include "platform/ThreadName.h"
#include "platform/WorkProgress.h"
#include "recording/EncoderCommand.h"
#include "recording/IsoTime.h"
#include "recording/LabStreams.h"
#include "recording/Mp4Frames.h"
#include "recording/TakeInfo.h"
#include "recording/SkeletonCsv.h"
#include "recording/WavFile.h"
#include "settings/Settings.h"

namespace {

constexpr DWORD kRewritePollMs = 100;
constexpr DWORD kTerminationWaitMs = 2000;
// However its output grows, a rewrite is ended after this long (a copy of hours of video takes
// a minute or two).
constexpr DWORD kRewriteLimitMs = 30 * 60 * 1000;
// The sound's writer gets this long to write what it still holds (a slow disk) and close.
constexpr DWORD kSoundEndWaitMs = 30000;

std::atomic<bool> g_abandon{false};
std::atomic<int> g_finishing{0};
// Threads of finishing takes, to be waited on, and the start paths of their files, which
// nothing else may write until the take is finished; guarded by g_threadsLock.
std::mutex g_threadsLock;
std::vector<HANDLE> g_threads;
std::vector<std::wstring> g_finishingPaths;

// The start paths of the take's files.
std::vector<std::wstring> StartPathsOf(const TakeFiles& files)
{
    std::vector<std::wstring> paths{files.video.startPath};
    for (const TakeFile& companion : files.companions) {
        paths.push_back(companion.startPath);
    }
    return paths;
}

// Whether two full paths name the same file, as Windows compares names.
bool IsSamePath(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The take's files are no longer the finishing's: they have their final names, or keep their
// start names for good.
void ReleaseFinishingPaths(const TakeFiles& files)
{
    std::lock_guard<std::mutex> lock(g_threadsLock);
    for (const std::wstring& path : StartPathsOf(files)) {
        const auto held = std::find(g_finishingPaths.begin(), g_finishingPaths.end(), path);
        if (held != g_finishingPaths.end()) {
            g_finishingPaths.erase(held);
        }
    }
}

int64_t NowMs()
{
    return static_cast<int64_t>(::GetTickCount64());
}

// Frames in the MP4 file `path`, or -1 when it can't be read as one.
int64_t FramesIn(const std::wstring& path, bool* indexInFront = nullptr)
{
    Mp4FrameCount count;
    if (!CountMp4FileFrames(path, count)) {
        return -1;
    }
    if (indexInFront != nullptr) {
        *indexInFront = count.indexBeforeMedia;
    }
    return static_cast<int64_t>(count.frames);
}

// Runs the rewrite of `input` into `output` with `program` (adding `sound` when given), ending it
// when it shows no work for kRewriteProgressMs, runs past kRewriteLimitMs or the program is
// ending. True when it ended by itself with exit code 0.
bool RunRewrite(const std::wstring& program, const std::wstring& input, const std::wstring& output,
                const RewriteSound* sound = nullptr)
{
    std::wstring line;
    if (!BuildRewriteCommandLine(input, output, line, sound)) {
        return false;
    }
    JobProcess rewrite;
    if (!StartProcessInJob(program.c_str(), &line[0], rewrite)) {
        return false;
    }
    WorkProgress work;
    WatchWork(work, output, rewrite.job);
    const int64_t began = NowMs();
    int64_t workedAt = began;
    while (!HasJobProcessEnded(rewrite) && !g_abandon.load()) {
        const int64_t now = NowMs();
        if (HasWorkProgressed(work)) {
            workedAt = now;
        }
        if (now - workedAt >= kRewriteProgressMs || now - began >= kRewriteLimitMs) {
            break;
        }
        ::Sleep(kRewritePollMs);
    }
    StopWatchingWork(work);
    DWORD exitCode = 1;
    const bool succeeded = JobProcessExitCode(rewrite, exitCode) && exitCode == 0;
    EndJobProcess(rewrite, 1, kTerminationWaitMs);
    ReleaseJobProcess(rewrite);
    return succeeded;
}

// The rewrite's temporary copy beside the final name.
std::wstring RewritePathOf(const TakeFiles& files)
{
    return TakeFileStem(files.video.finalPath) + kRewriteSuffix;
}

// Rewrites the take's fragmented file into a standard MP4 at its temporary name when there is
// room for it and the name is free, and checks the copy: it must hold `expectedFrames` with its
// index in front. A copy that fails the check is removed (the name was free: the copy is the
// rewrite's own). True when the checked copy is there. With `sound`, the copy also gets the
// take's sound.
bool RewriteVideo(const TakeToFinish& take, int64_t expectedFrames,
                  const RewriteSound* sound = nullptr)
{
    const TakeFile& video = take.files.video;
    const std::wstring copy = RewritePathOf(take.files);
    uint64_t size = 0;
    uint64_t freeBytes = 0;
    if (expectedFrames <= 0 || IsExistingFile(copy) || !QueryFileSize(video.startPath, size) ||
        !QueryFreeDiskSpace(video.finalPath, freeBytes) || freeBytes < size + kRewriteSpareBytes) {
        return false;
    }
    const bool ran = RunRewrite(take.encoderProgram, video.startPath, copy, sound);
    bool indexInFront = false;
    if (ran && !g_abandon.load() && FramesIn(copy, &indexInFront) == expectedFrames &&
        indexInFront) {
        return true;
    }
    ::DeleteFileW(copy.c_str());
    return false;
}

// Gives the take's files their final names together: the checked standard copy of the video
// or, failing that, the fragmented file itself, and the companions. Fills in where the video is
// and whether the user is to be told that the files kept their start names. With `sound` the
// copy carries the take's sound when it can be made so, else it is made without.
void MoveTakeFiles(const TakeToFinish& take, int64_t expectedFrames, FinishedTake& finished,
                   const RewriteSound* sound)
{
    const TakeFiles& files = take.files;
    finished.videoPath = files.video.startPath;
    if (!IsExistingFile(files.video.startPath)) {
        return; // the encoder made no file: there is nothing to name
    }
    const FinalNames names = CheckFinalNames(files);
    if (names != FinalNames::Free) {
        finished.keptFirstName = names == FinalNames::CompanionTaken;
        return;
    }
    // A copy with the sound that can't be made leaves the video without sound; the WAV stays.
    finished.soundInVideo = sound != nullptr && RewriteVideo(take, expectedFrames, sound);
    if (finished.soundInVideo || (!g_abandon.load() && RewriteVideo(take, expectedFrames))) {
        const std::wstring copy = RewritePathOf(files);
        const bool named = MoveCompanions(files);
        // MoveFileW never replaces: a file that took the final name meanwhile is left alone.
        if (!named || !::MoveFileW(copy.c_str(), files.video.finalPath.c_str())) {
            if (named) {
                MoveCompanionsBack(files);
            }
            // The checked standard copy takes the fragmented file's place under the start name.
            finished.rewritten = ::MoveFileExW(copy.c_str(), files.video.startPath.c_str(),
                                               MOVEFILE_REPLACE_EXISTING) != FALSE;
            if (!finished.rewritten) {
                ::DeleteFileW(copy.c_str());
            }
            finished.soundInVideo = finished.soundInVideo && finished.rewritten;
            finished.keptFirstName = true;
            return;
        }
        ::DeleteFileW(files.video.startPath.c_str());
        finished.videoPath = files.video.finalPath;
        finished.rewritten = true;
        return;
    }
    if (g_abandon.load()) {
        return; // the program is ending: everything keeps its start name
    }
    if (!::MoveFileW(files.video.startPath.c_str(), files.video.finalPath.c_str())) {
        finished.keptFirstName = true;
        return;
    }
    if (!MoveCompanions(files)) {
        if (::MoveFileW(files.video.finalPath.c_str(), files.video.startPath.c_str())) {
            finished.keptFirstName = true;
            return;
        }
        // The video could not be moved back: it is told where it is.
        finished.videoPath = files.video.finalPath;
        finished.keptFirstName = true;
        return;
    }
    finished.videoPath = files.video.finalPath;
}

// The name without its folder.
std::wstring NameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Where `file` of the take is now: under its final name once the take's files have moved (the
// video is no longer under its start name), else under its start name.
const std::wstring& PathNow(const TakeToFinish& take, const FinishedTake& finished,
                            const TakeFile& file)
{
    return finished.videoPath != take.files.video.startPath ? file.finalPath : file.startPath;
}

// The take's sound for the rewrite; null without a whole sound file.
std::unique_ptr<RewriteSound> SoundForRewrite(const TakeToFinish& take,
                                              const SoundStreamReport& report, int64_t videoFrames)
{
    const TakeFile* file = FindTakeFile(take.files, kSoundSuffix);
    if (file == nullptr || report.frames <= 0 || videoFrames <= 0 ||
        !IsExistingFile(file->startPath)) {
        return nullptr;
    }
    auto sound = std::make_unique<RewriteSound>();
    sound->wavPath = file->startPath;
    sound->sampleRate = static_cast<int>(report.format.Format.nSamplesPerSec);
    sound->channels = report.format.Format.nChannels;
    sound->measuredRate = report.measuredRate;
    // Placed on the video's own time, which the fresh pictures follow more closely than frame
    // 0's picture alone.
    sound->offsetMs = report.offsetMs - take.written.timelineZeroMs;
    // The sensor's array (and any other device of more than two) is heard as one mono mix; a
    // stereo device stays stereo.
    sound->mono = sound->channels != 2 || IsSensorArrayName(take.soundDeviceName);
    sound->videoFrames = videoFrames;
    return sound;
}

// The take file's sound entry.
TakeSoundInfo SoundInfo(const TakeToFinish& take, const SoundStreamReport& report,
                        const std::wstring& soundFile, bool inVideo)
{
    TakeSoundInfo info;
    info.deviceId = take.soundDeviceId;
    info.deviceName = take.soundDeviceName;
    info.missingAtStart = take.soundMissingAtStart;
    if (soundFile.empty()) {
        return info;
    }
    const size_t slash = soundFile.find_last_of(L"\\/");
    info.file = slash == std::wstring::npos ? soundFile : soundFile.substr(slash + 1);
    info.channels = report.format.Format.nChannels;
    info.sampleRate = static_cast<int>(report.format.Format.nSamplesPerSec);
    info.sampleFormat = WavSampleFormatName(report.format);
    info.channelMask = report.format.dwChannelMask;
    info.samples = report.frames;
    info.offsetMs = report.offsetMs;
    info.measuredRate = report.measuredRate;
    info.leadingSamples = report.leadingSilence;
    for (const SoundInterval& gap : report.gaps) {
        info.gaps.push_back(TakeSoundInterval{gap.from, gap.frames});
    }
    info.inVideo = inVideo;
    return info;
}

// Writes the take file beside the video, wherever the video is now, naming the take's files as
// they are there (only those the take made). False when it could not be written whole.
bool WriteTakeFile(const TakeToFinish& take, const FinishedTake& finished,
                   const SoundStreamReport& sound)
{
    const auto where = [&](const wchar_t* suffix) {
        const TakeFile* file = FindTakeFile(take.files, suffix);
        if (file == nullptr || !file->created) {
            return std::wstring();
        }
        const std::wstring& path = PathNow(take, finished, *file);
        return IsExistingFile(path) ? path : std::wstring();
    };
    TakeInfo info;
    info.frames = take.written.framesWritten;
    SetTakeTimes(info, take.written.firstTakenAt, take.written.lastTakenAt, take.sensorGaps,
                 take.startedAt);
    info.repeated = take.written.framesRepeated;
    info.dropped = take.dropped + take.written.framesAbandoned;
    info.video = NameOf(finished.videoPath);
    info.skeleton = NameOf(where(kSkeletonSuffix));
    info.depth = NameOf(where(kDepthSuffix));
    info.framesFile = NameOf(where(kFramesSuffix));
    if (FindTakeFile(take.files, kDepthSuffix) != nullptr) {
        info.depthWidth = take.depthWidth;
        info.depthHeight = take.depthHeight;
    }
    info.sound = SoundInfo(take, sound, finished.soundFile, finished.soundInVideo);
    info.lsl = take.lsl;
    const TakeFile* takeFile = FindTakeFile(take.files, kTakeInfoSuffix);
    return WriteTakeInfo(PathNow(take, finished, *takeFile), info);
}

// What went wrong with an encoder that was to finish its file by itself, for the user; empty
// when it did. `file` names the file it wrote.
std::wstring EncoderEndFault(const EncoderEnd& end, const wchar_t* file)
{
    if (end.finished) {
        return std::wstring();
    }
    return end.ended ? std::wstring(L"FFmpeg did not finish the ") + file + L" in time."
                     : std::wstring(L"FFmpeg ended with an error finishing the ") + file + L".";
}

// Whether the file `file` that the program writes (rows or sound) holds all the take gave it.
bool WrittenWhole(const TakeToFinish& take, const TakeFile& file, const SoundStreamReport& sound)
{
    const std::wstring suffix = file.suffix;
    return suffix == kSkeletonSuffix ? take.written.rowsComplete
           : suffix == kFramesSuffix ? take.written.framesRowsComplete
           : suffix == kSoundSuffix  ? sound.complete
                                     : true;
}

// Fills in the row files the take could not make or write whole, where they are (or were to be
// made), and the first fault that the end of the take did not already tell.
void NoteFaults(const TakeToFinish& take, const EncoderEnd& video, const EncoderEnd& depth,
                const SoundStreamReport& sound, bool takeFileWritten, FinishedTake& finished)
{
    std::vector<std::wstring> faults;
    for (const TakeFile& file : take.files.companions) {
        const std::wstring suffix = file.suffix;
        if (suffix == kDepthSuffix || suffix == kTakeInfoSuffix) {
            continue; // told by their encoder's end and by takeFileWritten
        }
        if (suffix == kSoundSuffix && !file.created) {
            continue; // the device was not there at Start: the take was made without sound
        }
        if (!file.created || !WrittenWhole(take, file, sound)) {
            const bool moved = file.created && !file.finalPath.empty() &&
                               finished.videoPath != take.files.video.startPath;
            finished.unsavedFiles.push_back(std::wstring(TakeFileContent(file)) +
                                            L" could not be saved:\n" +
                                            (moved ? file.finalPath : file.startPath));
            faults.push_back(std::wstring(TakeFileContent(file)) + L" could not be saved.");
        }
    }
    if (!takeFileWritten) {
        faults.insert(faults.begin(), L"The take file could not be written.");
    }
    const std::wstring depthFault = EncoderEndFault(depth, L"depth file");
    if (!depthFault.empty()) {
        faults.insert(faults.begin(), depthFault);
    }
    // ffmpeg that runs out of disk still exits with success: the frames in the file tell.
    if (finished.framesInFile != take.written.framesWritten) {
        const int64_t held = std::max<int64_t>(finished.framesInFile, 0);
        faults.insert(faults.begin(), L"The video holds " + std::to_wstring(held) + L" of the " +
                                          std::to_wstring(take.written.framesWritten) +
                                          L" frames recorded.");
    }
    const std::wstring videoFault = EncoderEndFault(video, L"video");
    if (!videoFault.empty()) {
        faults.insert(faults.begin(), videoFault);
    }
    const bool stalled = take.written.stalled || take.depthWritten.stalled;
    finished.whole = take.end == TakeEnd::Stopped && !stalled && faults.empty();
    if (take.end == TakeEnd::Stopped && !stalled && !faults.empty()) {
        finished.fault = faults.front();
    }
}

// Closes the handles of finishing threads that have ended, so that a long session of takes
// holds none of theirs. Call with g_threadsLock held.
void CloseEndedThreads()
{
    const auto ended = std::remove_if(g_threads.begin(), g_threads.end(), [](HANDLE thread) {
        if (::WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) {
            return false;
        }
        ::CloseHandle(thread);
        return true;
    });
    g_threads.erase(ended, g_threads.end());
}

DWORD WINAPI FinishThread(LPVOID parameter)
{
    NameThisThread(L"take finish");
    std::unique_ptr<TakeToFinish> take(static_cast<TakeToFinish*>(parameter));
    FinishTake(*take);
    g_finishing.fetch_sub(1);
    return 0;
}

} // namespace

FinishedTake FinishTake(TakeToFinish& take)
{
    FinishedTake finished;
    finished.end = take.end;
    finished.framesHanded = take.written.framesWritten;
    // A stall of the depth stream's encoder leaves the video's to finish its file.
    const bool videoHung =
        take.written.stalled || (take.end == TakeEnd::EncoderStalled && !take.depthWritten.stalled);
    const EncoderEnd encoderEnd =
        AwaitEncoderEnd(*take.video, take.files.video.startPath, videoHung, &g_abandon);
    take.video.reset();
    EncoderEnd depthEnd;
    depthEnd.finished = true;
    if (take.depth) {
        depthEnd = AwaitEncoderEnd(*take.depth, FindTakeFile(take.files, kDepthSuffix)->startPath,
                                   take.depthWritten.stalled, &g_abandon);
        take.depth.reset();
    }
    SoundStreamReport sound;
    if (take.sound) {
        // A writer that can't finish in time leaves its file as its last header says.
        if (!AwaitSoundStreamEnd(*take.sound, kSoundEndWaitMs, sound)) {
            sound = SoundStreamReport{};
        }
        take.sound.reset();
    }

    SYSTEMTIME end = {};
    QueryLocalTime(&end);
    NameTakeFiles(take.files, take.start, end);
    const int64_t framesInTake = FramesIn(take.files.video.startPath);
    // A take that ended normally must be whole in its copy; one whose encoder was lost or ended
    // is kept as far as its file goes.
    const bool whole = take.end == TakeEnd::Stopped && encoderEnd.finished;
    const int64_t expectedFrames = whole ? finished.framesHanded : framesInTake;
    if (!g_abandon.load()) {
        const std::unique_ptr<RewriteSound> rewriteSound =
            SoundForRewrite(take, sound, expectedFrames);
        MoveTakeFiles(take, expectedFrames, finished, rewriteSound.get());
    } else {
        finished.videoPath = take.files.video.startPath;
    }
    if (const TakeFile* soundFile = FindTakeFile(take.files, kSoundSuffix)) {
        const std::wstring& path = PathNow(take, finished, *soundFile);
        finished.soundFile = IsExistingFile(path) ? path : std::wstring();
    }
    bool takeFileWritten = true;
    if (FindTakeFile(take.files, kTakeInfoSuffix) != nullptr) {
        takeFileWritten = WriteTakeFile(take, finished, sound);
    }
    finished.framesInFile = FramesIn(finished.videoPath);
    // Frames not handed over at the stop are missing from the video as the dropped ones are.
    finished.dropped = take.dropped + take.written.framesAbandoned;
    QueryFileSize(finished.videoPath, finished.bytes);
    finished.takeBytes = finished.bytes;
    for (const TakeFile& file : take.files.companions) {
        uint64_t size = 0;
        if (file.created && QueryFileSize(PathNow(take, finished, file), size)) {
            finished.takeBytes += size;
        }
    }
    NoteFaults(take, encoderEnd, depthEnd, sound, takeFileWritten, finished);
    if (!g_abandon.load()) {
        WriteLastPath(finished.videoPath);
    }
    // Before the report: whoever it tells may start the next take to the same path at once.
    ReleaseFinishingPaths(take.files);
    PublishMarker(L"take saved " + finished.videoPath);
    if (take.reportWindow != nullptr) {
        auto* report = new FinishedTake(finished);
        if (!::PostMessageW(take.reportWindow, take.reportMessage, 0,
                            reinterpret_cast<LPARAM>(report))) {
            delete report;
        }
    }
    return finished;
}

void FinishTakeInBackground(TakeToFinish take)
{
    {
        std::lock_guard<std::mutex> lock(g_threadsLock);
        for (std::wstring& path : StartPathsOf(take.files)) {
            g_finishingPaths.push_back(std::move(path));
        }
    }
    auto* parameter = new TakeToFinish(std::move(take));
    g_finishing.fetch_add(1);
    HANDLE thread = ::CreateThread(nullptr, 0, FinishThread, parameter, 0, nullptr);
    if (thread == nullptr) {
        FinishThread(parameter);
        return;
    }
    std::lock_guard<std::mutex> lock(g_threadsLock);
    CloseEndedThreads();
    g_threads.push_back(thread);
}

bool AwaitFinishingTakes(DWORD timeoutMs)
{
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        HANDLE thread = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_threadsLock);
            if (g_threads.empty()) {
                return true;
            }
            thread = g_threads.front();
        }
        const int64_t left = deadline - NowMs();
        if (left <= 0 ||
            ::WaitForSingleObject(thread, static_cast<DWORD>(left)) != WAIT_OBJECT_0) {
            return false;
        }
        std::lock_guard<std::mutex> lock(g_threadsLock);
        ::CloseHandle(thread);
        g_threads.erase(g_threads.begin());
    }
}

void AbandonFinishingTakes()
{
    g_abandon.store(true);
}

bool IsFinishingTake()
{
    return g_finishing.load() > 0;
}

bool IsFinishingAnyOf(const TakeFiles& files)
{
    std::lock_guard<std::mutex> lock(g_threadsLock);
    for (const std::wstring& path : StartPathsOf(files)) {
        for (const std::wstring& held : g_finishingPaths) {
            if (IsSamePath(path, held)) {
                return true;
            }
        }
    }
    return false;
}
