// The writer thread of a take: it alone writes the frame pipe, taking the frames from the take's
// queue in order, and at the stop hands the encoder what is still queued, within bounds.
//
// The encoder is judged by its progress only: one that has taken no bytes for kStallMs while a
// write waits is stalled. An encoder that keeps taking bytes, however slowly, is never called
// stalled; it gets what is queued for up to kDrainMs after the stop began.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "recording/FrameQueue.h"

constexpr DWORD kStallMs = 2000;
constexpr DWORD kDrainMs = 5000;

// Where the writer reports, once, that frame writes fail because the encoder has gone: it posts
// `message` with `tag` as wParam to `window` (nothing when window is null).
struct EncoderLostReport {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM tag = 0;
};

struct FrameWriter;

// What a finished writer leaves behind.
struct FrameWriterResult {
    int64_t framesWritten = 0;   // whole frames the encoder took
    int64_t framesAbandoned = 0; // queued frames that never reached it
    bool stalled = false;        // the encoder had taken no bytes for kStallMs
    bool ended = false;          // the writer thread has ended (else it ends by itself later)
};

// Starts the writer thread on its own duplicate of `pipe` (connected, overlapped), taking frames
// from `queue`. The thread holds the queue and its pipe handle until it ends, so nothing it uses
// is freed or closed under it. With `skeletonRows`, each frame the encoder takes also gets its
// rows in the open skeleton file. Null when the thread can't be started.
std::shared_ptr<FrameWriter> FrameWriterStart(std::shared_ptr<FrameQueue> queue, HANDLE pipe,
                                              const EncoderLostReport& report, bool skeletonRows);

// Main thread, after the last frame was put: lets the writer hand over what is queued and flush
// the pipe, and waits for it to end. A stalled encoder, or a drain past kDrainMs, makes the
// writer give up what is left. Returns within about kDrainMs plus a second; if the writer still
// has not ended then, it is left to end by itself with what it holds.
FrameWriterResult FrameWriterFinish(FrameWriter& writer);

// Frames the encoder has taken so far; any thread.
int64_t FrameWriterFramesWritten(const FrameWriter& writer);
