// One stream of a take: the encoder process (in its job), the frame pipe it reads, the bounded
// queue the render pass fills and the writer thread that empties it into the pipe. A take owns
// one per stream it records.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "recording/FrameQueue.h"
#include "recording/FrameWriter.h"
#include "recording/SkeletonCsv.h"

// How long a start waits for the encoder to open the frame pipe.
constexpr DWORD kEncoderConnectTimeoutMs = 10000;
// How long the end of an encoder whose input was closed is awaited before its file is looked
// at; longer while the file still grows.
constexpr DWORD kEncoderExitWaitMs = 5000;
// An encoder that finishes its file grows it at least this often, or it is ended.
constexpr DWORD kEncoderFinishProgressMs = 10000;
// The longest a finishing encoder is awaited, however its file grows.
constexpr DWORD kEncoderFinishLimitMs = 120000;

struct EncoderStream;

// Creates the pipe `pipeName`, starts `program` (full path) with `commandLine` in a job of its
// own and waits (bounded) until that encoder, or a process it started, has opened the pipe;
// then starts the writer, which owns `rows`. The queue's frames are `frameBytes` each. Null,
// with nothing left behind (no pipe, no process, no handle), on any failure.
std::shared_ptr<EncoderStream> StartEncoderStream(const std::wstring& program,
                                                  const wchar_t* pipeName, wchar_t* commandLine,
                                                  std::size_t frameBytes,
                                                  const EncoderLostReport& report,
                                                  FrameRowFiles rows);

// The queue that the render pass fills; shared with the writer.
std::shared_ptr<FrameQueue> EncoderStreamQueue(const EncoderStream& stream);

// Frames the encoder has taken so far, and how long a write has now waited on it; any thread.
int64_t EncoderStreamFramesTaken(const EncoderStream& stream);
int64_t EncoderStreamWaitingMs(const EncoderStream& stream);

// After the last frame was put: the writer begins to hand over what is queued, without waiting,
// so that every stream of a take can end its input at once.
void BeginCloseEncoderInput(EncoderStream& stream);

// After the last frame was put: the writer hands over what is queued, within its bounds counted
// from BeginCloseEncoderInput (or now), and the pipe is closed, so the encoder sees the end of
// its input. Returns what the writer did.
FrameWriterResult CloseEncoderInput(EncoderStream& stream);

// How an encoder ended.
struct EncoderEnd {
    bool finished = false; // it ended by itself, exit code 0
    bool ended = false;    // it had to be ended (hung, given up, or too slow)
};

// After CloseEncoderInput: waits for the encoder to finish `outputPath`, at least
// kEncoderExitWaitMs and then for as long as the file grows, within `limitMs`; one that `hung`
// (it stalled) is ended at once. Whatever of its family still runs is ended. Any thread, one at
// a time. `abandon`, when it becomes true, ends the wait and the encoder.
EncoderEnd AwaitEncoderEnd(EncoderStream& stream, const std::wstring& outputPath, bool hung,
                           const std::atomic<bool>* abandon = nullptr,
                           DWORD limitMs = kEncoderFinishLimitMs);

// Ends the encoder's whole family at once. A stream that is freed ends it too.
void EndEncoder(EncoderStream& stream);

