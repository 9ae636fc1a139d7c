// The end of a take once its frames are handed over, away from the user-interface thread: the
// encoder finishes its fragmented file, which is then rewritten without re-encoding into a
// standard MP4 with its index in front under the final name; the take's files move together,
// and LastPath names the video as it is on disk. Nothing is deleted before what replaces it has
// been checked.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "recording/EncoderStream.h"
#include "recording/TakeFiles.h"
#include "recording/TakeInfo.h"

// Why a take ended.
enum class TakeEnd {
    Stopped,        // Stop, or a quit-less normal end
    EncoderLost,    // the encoder ended or closed its input
    EncoderStalled, // the encoder took nothing for kTakeStallMs
    DiskFull,       // the disk's free space fell below the take's floor
};

// What became of a finished take, for the user.
struct FinishedTake {
    TakeEnd end = TakeEnd::Stopped;
    std::wstring videoPath;       // the video as it is on disk now
    bool keptFirstName = false;   // the files keep their start names for a reason to tell
    bool rewritten = false;       // the video is a standard MP4 (else the fragmented one)
    int64_t framesHanded = 0;     // frames the encoder took
    int64_t framesInFile = -1;    // frames the video holds; -1 when it can't be read
    int64_t dropped = 0;          // frames the encoder could not take in time
    uint64_t bytes = 0;           // the video's size
    std::wstring unsavedSkeletonFile; // a skeleton file that did not get every row, or empty
};

// Everything the finishing needs of a take whose input has been closed.
struct TakeToFinish {
    std::shared_ptr<EncoderStream> video;
    FrameWriterResult written;
    std::shared_ptr<EncoderStream> depth; // null without depth
    FrameWriterResult depthWritten;
    int depthWidth = 0;
    int depthHeight = 0;
    uint64_t startedAt = 0; // UTC, for the take file
    int64_t dropped = 0;
    TakeFiles files;
    SYSTEMTIME start = {};
    TakeEnd end = TakeEnd::Stopped;
    std::wstring encoderProgram; // the take's ffmpeg.exe, which also rewrites its file
    bool savingSkeletons = false;
    TakeLabStreams lsl; // the lab's streams the take was published to, for the take file
    HWND reportWindow = nullptr; // gets `reportMessage` with a new FinishedTake* as lParam,
    UINT reportMessage = 0;      // which the receiver deletes
};

// Free space the rewrite leaves beside its copy of the file; without it the fragmented file is
// kept (it plays).
constexpr uint64_t kRewriteSpareBytes = 64ull * 1024 * 1024;
// A rewrite whose output has not grown for this long is ended.
constexpr DWORD kRewriteProgressMs = 10000;

// Finishes `take` on a thread of its own (right here when no thread can be had).
void FinishTakeInBackground(TakeToFinish take);

// Finishes `take` on the calling thread and returns what became of it (the report is also
// posted).
FinishedTake FinishTake(TakeToFinish& take);

// Waits up to `timeoutMs` for every take still finishing. True when none is left.
bool AwaitFinishingTakes(DWORD timeoutMs);

// The program is ending: takes still finishing give up at once. A rewrite in progress is ended
// and its partial output removed; those files keep their start names.
void AbandonFinishingTakes();

// True while a take is finishing.
bool IsFinishingTake();

// True when a take still finishing has a file at one of `files`' start paths: a take to them
// now would write over what is being saved.
bool IsFinishingAnyOf(const TakeFiles& files);
