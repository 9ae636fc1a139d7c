// Start and stop of a take, and what the render thread hands it. A take owns its video stream
// (encoder, pipe, queue, writer), its files, its 30 fps timeline and the watch on its disk. At
// the stop the frames are handed over on the user-interface thread, within bounds; the
// encoder's end, the rewrite and the naming of the files go on in the background (TakeFinish).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "recording/TakeFinish.h"
#include "sensor/RenderLoop.h"

// A take starts only with this much free space on its disk...
constexpr uint64_t kStartFreeBytes = 256ull * 1024 * 1024;
// ...and ends when the free space falls below this.
constexpr uint64_t kTakeFreeBytes = 64ull * 1024 * 1024;

// Where a take reports. `faultMessage` is posted with the take's id as wParam (see
// IsCurrentTake) and an EncoderFault as lParam when its encoder fails; `finishedMessage` with a
// new FinishedTake* as lParam when its files have their names. Main thread, before the first
// start.
void SetRecordingReports(HWND window, UINT faultMessage, UINT finishedMessage);

enum class StartResult {
    Started,
    NotEnoughSpace, // the disk has less than kStartFreeBytes free: nothing was started
    Failed,         // the encoder could not be started or did not connect
    StillSaving,    // a take to the same path is still being saved: nothing was started
};

// True when a take to the full path `path` (with any of its companions) would write over files
// of a take still being saved.
bool IsSavingTakeTo(const std::wstring& path);

// The sound a take records: a capture device by its endpoint id (empty: no sound) and its
// friendly name.
struct TakeSound {
    std::wstring deviceId;
    std::wstring deviceName;
};

// Starts a take to the full path `path`: checks the disk, creates the frame pipe, starts the
// encoder and waits (bounded) until it has opened the pipe; then the take runs. With
// `saveSkeletons` the take also writes its skeleton file beside the video, with `saveDepth` (and
// a depth stream) its depth file through a second encoder, with `sound` its sound file from that
// device (a device that can't be opened leaves the take without sound, it does not stop it),
// and with any of them its frames and take files (a row file that can't be made does not stop
// the take). On failure nothing is left behind (no pipe, no encoder, no handle, no file).
// Precondition: no take runs.
StartResult StartRecording(const std::wstring& path, bool saveSkeletons = false,
                           bool saveDepth = false, const TakeSound& sound = TakeSound{});

// True when the sensor gives a depth stream that a take can save.
bool IsDepthAvailable();

// The running take's file with `suffix` (kDepthSuffix, ...) under its start name; empty when no
// take runs or it has no such file.
std::wstring RunningTakeFile(const wchar_t* suffix);

// The running take's files that it made so far, under their start names; empty when no take
// runs. Main thread.
std::vector<std::wstring> RunningTakeFiles();

// Ends the running take for `why`: every stream's input is ended at once (each writer hands its
// encoder what is queued and the pipe is closed, within bounds); then the take finishes in the
// background (its report follows). Returns true when the encoder had stopped taking frames and
// was given up on (it is then ended). Does nothing unless a take runs.
bool StopRecording(TakeEnd why = TakeEnd::Stopped);

// At the program's end, with the render thread stopped: a running take is not named, but the
// frames it has taken are handed to the encoder and its end is awaited, within the stop's bounds,
// so the file under the start name is whole. Takes still finishing get up to kQuitFinishWaitMs,
// then give up and keep their start names.
constexpr DWORD kQuitFinishWaitMs = 10000;
void LeaveRecordingAtExit();

// A take runs (from a successful start to its stop).
bool IsRecording();

// True when `takeId` (the wParam of a fault report) names the take that runs now.
bool IsCurrentTake(WPARAM takeId);

// What the running take has recorded so far: the frames the encoder has taken (the video's
// length is frames / 30 s), the frames it could not take in time (left out of the video), and
// the frames that repeat the picture before them because the sensor sent no new one.
struct TakeCounts {
    int64_t frames = 0;
    int64_t dropped = 0;
    int64_t repeated = 0;
};

// The running take's counts (all zero when none runs). Main thread; takes no lock that the
// render or writer thread holds for more than a copy.
TakeCounts CurrentTakeCounts();

// What the status line tells of the running take's sound.
struct TakeSoundStatus {
    bool chosen = false;         // the take was asked to record sound
    bool missingAtStart = false; // the device was absent at Start: no sound in this take
    bool deviceGone = false;     // lost during the take; looked for again every 3 s
    bool silent = false;         // 2 s of digital silence (or nothing) from a present device
    double peakDb = -200.0;      // loudest channel over the last half second, dBFS
    std::wstring deviceName;
};

// The running take's sound; all default when no take runs. Main thread.
TakeSoundStatus CurrentTakeSound();

// Main thread, after a successful start: the running take records `frames` video frames and
// no more (0: no limit; every start clears it). Frames dropped for a full queue do not count,
// and frames past the limit are not queued, so a Stop once IsTakeFrameLimitReached says so
// makes a video of exactly `frames` frames.
void SetTakeFrameLimit(int64_t frames);

// True once the running take has queued every frame its limit allows. Any thread.
bool IsTakeFrameLimitReached();

// Main thread, about once a second while a take runs: true when the latest reading of the
// take's disk (FreeSpaceWatch; this asks for the next one) has less than kTakeFreeBytes free, so
// the take must end.
bool IsTakeDiskFull();

// Render thread, after every pass: puts the frames that the take's timeline calls for into the
// take's queue. Never waits for the encoder.
void FeedRecording(const RenderedFrame& frame);
