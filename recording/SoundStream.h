// A take's sound: one capture device recorded into the take's WAVE file, on the video's clock.
//
// Two threads of its own. The capture thread, woken by the device's event, only moves packets
// (with their device stamps) into a generous queue, so a slow disk never costs a sample; it also
// keeps the level the status line shows. When the device is lost it is opened again every
// kSoundRetryMs, and its sound goes on in the same file. The writer thread places the packets on
// the video's clock (SoundClock) once the take's frame 0 is known, fills gaps and the time the
// device was gone with silence, and brings the file's header up to date twice a second.
//
// The same life as the take's other streams: start, feed (the frame 0 time), stop (begin, then
// await the end, so a take can stop all of its streams at once), and a report.
#pragma once

#include <windows.h>

#include <mmreg.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/SoundClock.h"

struct SoundStream;

// A lost device is looked for again this often.
constexpr DWORD kSoundRetryMs = 3000;
// A start waits this long for the device to open.
constexpr DWORD kSoundOpenWaitMs = 5000;
// The queue between the threads holds up to this many seconds of sound (at most 64 MB).
constexpr int kSoundQueueSeconds = 120;
// Digital silence (or nothing at all) for this long from a present device is told.
constexpr int64_t kSoundSilentMs = 2000;

// Opens the capture device `deviceId` and makes the sound file `path` in its format. Null when
// the device can't be opened within kSoundOpenWaitMs or the file can't be made (nothing is left
// then); `error` says which (the device's HRESULT, or the file's).
std::shared_ptr<SoundStream> StartSoundStream(const std::wstring& deviceId,
                                              const std::wstring& path, HRESULT& error);

// Render thread: the take's video frame 0 was taken at `hostTicks` (HostTicks). The first call
// counts; sound is written from then on.
void SoundStreamSetFrameZero(SoundStream& stream, int64_t hostTicks);

// What the status line shows of a running stream. Any thread.
struct SoundStreamLevel {
    bool deviceGone = false; // lost; looked for again every kSoundRetryMs
    bool silent = false;     // present, but nothing but silence for kSoundSilentMs
    double peakDb = -200.0;  // the loudest channel over the last half second, dBFS
};
SoundStreamLevel SoundStreamLevelNow(const SoundStream& stream);

// The take has ended now: the capture stops, the writer writes what is queued (and silence up
// to now for a device that is gone) and closes the file. Returns at once.
void BeginSoundStreamStop(SoundStream& stream);

// What the stream recorded.
struct SoundStreamReport {
    WAVEFORMATEXTENSIBLE format = {};
    int64_t frames = 0;              // in the file
    double measuredRate = 0.0;       // device frames per host second
    double offsetMs = 0.0;           // host time of file frame 0 minus video frame 0's
    int64_t leadingSilence = 0;      // frames padded before the device's first
    std::vector<SoundInterval> gaps; // silence filled after the first sound (file frames)
    int64_t packetsDropped = 0;      // packets that found the queue full (filled as gaps)
    bool complete = false;           // every packet is in the file and the file is closed whole
};

// Waits up to `timeoutMs` for the stream to end and fills `report`. False when it did not end
// in time (the file then keeps its last header; the threads end on their own).
bool AwaitSoundStreamEnd(SoundStream& stream, DWORD timeoutMs, SoundStreamReport& report);
