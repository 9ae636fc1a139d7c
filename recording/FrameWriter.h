// The writer thread of a take: it alone writes the frame pipe, taking the frames from the take's
// queue in order, and at the stop hands the encoder what is still queued, within bounds.
//
// The encoder is judged by its progress only. While the take runs, one that has taken no bytes
// for kTakeStallMs is stalled: the writer gives up on it and says so. Once the stop began, one
// that takes nothing for kStallMs is stalled. An encoder that keeps taking bytes, however
// slowly, is never called stalled; it gets what is queued for up to kDrainMs after the stop
// began.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "recording/FrameQueue.h"
#include "recording/FramesCsv.h"
#include "recording/SkeletonCsv.h"

constexpr DWORD kTakeStallMs = 10000;
constexpr DWORD kStallMs = 2000;
constexpr DWORD kDrainMs = 5000;

// What went wrong with the encoder while the take ran.
enum EncoderFault : LPARAM {
    kEncoderGone = 0,    // frame writes fail: the encoder has ended or closed its input
    kEncoderStalled = 1, // the encoder has taken nothing for kTakeStallMs
};
// Added to the fault by the depth stream's writer.
constexpr LPARAM kDepthStreamFault = 0x100;

// Where the writer reports, once, that the encoder has failed: it posts `message` with `tag` as
// wParam and the EncoderFault plus `stream` as lParam to `window` (nothing when window is null).
struct EncoderLostReport {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM tag = 0;
    LPARAM stream = 0;
};

struct FrameWriter;

// What a finished writer leaves behind.
struct FrameWriterResult {
    int64_t framesWritten = 0;   // whole frames the encoder took
    int64_t framesAbandoned = 0; // queued frames that never reached it
    bool stalled = false;        // the encoder had stopped taking bytes (see above)
    bool ended = false;          // the writer thread has ended (else it ends by itself later)
    bool rowsComplete = false;   // it had a skeleton file, closed with every row in it
    bool framesRowsComplete = false; // the same for its frames file
    int64_t framesRepeated = 0;  // frames taken that repeat the colour picture before them
    uint64_t firstTakenAt = 0;   // when the first and the last frame taken were fetched (UTC
    uint64_t lastTakenAt = 0;    // FILETIME values; 0 without a frame or a fetch)
    int64_t firstFrameTicks = 0; // when video frame 0's colour picture was taken; 0: no frame
    // The moment the video's time 0 stands for, minus firstFrameTicks, in milliseconds: where
    // the line through the fresh pictures' times against their places in the video (30 a
    // second) meets frame 0. Frame 0's own picture may lie up to a frame or more off that line
    // (the last picture before the take, or one taken early in its slot); what the video shows
    // at a time is the line's.
    double timelineZeroMs = 0.0;
};

// The files a writer fills with a row for each video frame the encoder takes; either may be
// null. The writer owns them and closes them when it ends. With `labFrames` each such frame is
// also published to the lab's frames stream (LabStreams), alongside its row.
struct FrameRowFiles {
    std::unique_ptr<SkeletonCsvFile> skeletons;
    std::unique_ptr<FramesCsvFile> frames;
    bool labFrames = false;
};

// Starts the writer thread on its own duplicate of `pipe` (connected, overlapped), taking frames
// from `queue`. The thread holds the queue and its pipe handle until it ends, so nothing it uses
// is freed or closed under it. Each frame the encoder takes also gets its rows in `rows`. Null
// when the thread can't be started; the files are closed then too.
std::shared_ptr<FrameWriter> FrameWriterStart(std::shared_ptr<FrameQueue> queue, HANDLE pipe,
                                              const EncoderLostReport& report, FrameRowFiles rows);

// After the last frame was put: lets the writer hand over what is queued and flush the pipe,
// without waiting. The bounds of FrameWriterFinish count from here.
void FrameWriterBeginFinish(FrameWriter& writer);

// Main thread, after the last frame was put: lets the writer hand over what is queued and flush
// the pipe (if FrameWriterBeginFinish did not already), and waits for it to end. A stalled encoder,
// or a drain past kDrainMs, makes the writer give up what is left. Returns within about kDrainMs
// plus a second; if the writer still has not ended then, it is left to end by itself with what it
// holds.
FrameWriterResult FrameWriterFinish(FrameWriter& writer);

// Frames the encoder has taken so far; any thread.
int64_t FrameWriterFramesWritten(const FrameWriter& writer);

// Milliseconds since the encoder last took bytes while a write waits on it; 0 while none waits.
// Any thread.
int64_t FrameWriterWaitingMs(const FrameWriter& writer);
