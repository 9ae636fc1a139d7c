// The end of a take once its frames are handed over, away from the user-interface thread: the
// encoder finishes its fragmented file, which is then rewritten without re-encoding into a
// standard MP4 with its index in front, under a temporary name beside it that becomes the final
// name once its frames are checked; the take's files move together, and LastPath names the
// video as it is on disk. Nothing is deleted before what replaces it has been checked, and
// nothing the take did not make is deleted or moved.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/EncoderStream.h"
#include "recording/SoundStream.h"
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
    std::wstring soundFile;       // the take's sound file as it is on disk, or empty
    bool soundInVideo = false;    // the standard MP4 carries the sound as an AAC track
    uint64_t takeBytes = 0;       // the size of every file of the take
    // Every file of the take is whole: it ended by Stop, no encoder stalled, failed or had to
    // be ended, and every file it was to write has every row. Else a fault...
    bool whole = true;
    // ...which this tells when it was found only while finishing (empty when the take's end
    // was already told).
    std::wstring fault;
    // "Skeleton data could not be saved:\n<path>", one for each row file not made or not whole.
    std::vector<std::wstring> unsavedFiles;
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
    std::vector<SensorGap> sensorGaps; // the times without the sensor
    int64_t dropped = 0;
    TakeFiles files;
    SYSTEMTIME start = {};
    TakeEnd end = TakeEnd::Stopped;
    std::wstring encoderProgram; // the take's ffmpeg.exe, which also rewrites its file
    bool savingSkeletons = false;
    std::shared_ptr<SoundStream> sound; // null without sound; its stop has begun
    std::wstring soundDeviceId;         // empty: the take was not asked to record sound
    std::wstring soundDeviceName;
    bool soundMissingAtStart = false;
    TakeLabStreams lsl; // the lab's streams the take was published to, for the take file
    HWND reportWindow = nullptr; // gets `reportMessage` with a new FinishedTake* as lParam,
    UINT reportMessage = 0;      // which the receiver deletes
};

// Free space the rewrite leaves beside its copy of the file; without it the fragmented file is
// kept (it plays).
constexpr uint64_t kRewriteSpareBytes = 64ull * 1024 * 1024;
// A rewrite that shows no work at all for this long (see platform/WorkProgress) is ended.
constexpr DWORD kRewriteProgressMs = 30000;
// The temporary name of the rewrite's copy: the final name's stem and this.
constexpr const wchar_t* kRewriteSuffix = L".saving.mp4";

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
