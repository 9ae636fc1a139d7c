// The relay's fixed sizes and time limits.
#pragma once

#include <windows.h>

#include <cstdint>

// How long the relay tries to open the frame pipe before giving up (exit code 3).
constexpr DWORD kPipeOpenLimitMs = 10000;
// How long the Linux side gets to create the FIFO and signal `ready`.
constexpr DWORD kReadyLimitMs = 10000;
// How long ffmpeg gets to finish the file after the end of the input.
constexpr DWORD kFinishLimitMs = 120000;
// How long one write into the FIFO may stay blocked before the relay gives ffmpeg up.
constexpr DWORD kStalledWriteLimitMs = 30000;
// How long the hanging fault modes stay alive.
constexpr DWORD kHangMs = 120000;
// The extra wait of the slow-finish fault mode.
constexpr DWORD kSlowFinishMs = 7000;
// The late-start mode reads nothing for this long after opening the pipe.
constexpr DWORD kLateStartMs = 300;
// Frame counts below are in frames of the pipe input's size (-video_size, -pixel_format).
// The pause mode stops reading for kPauseMs once kPauseAfterFrames frames were read.
constexpr uint32_t kPauseAfterFrames = 60;
constexpr DWORD kPauseMs = 1000;
// The slow-read mode pauses this long after every read: about 10 frames a second.
constexpr DWORD kSlowReadMs = 100;
// How long the launcher fault mode waits for its child, the real encoder: longer than any take.
constexpr DWORD kLauncherWaitMs = 4 * 60 * 60 * 1000;
// The kill-after-4s mode kills Debian's ffmpeg once this many frames were read (4 s at 30 fps).
constexpr uint32_t kKillAfterFrames = 120;
// The stall mode stops reading once this many frames were read, and hangs for kHangMs.
constexpr uint32_t kStallAfterFrames = 60;
// The slow-rewrite mode's second pass over the finished copy: this long, in this many steps,
// the file rewritten in place without growing (ffmpeg's +faststart on a slow disk).
constexpr DWORD kSlowRewritePassMs = 14000;
constexpr int kSlowRewriteSteps = 70;
// How long a remux run waits for Debian's ffmpeg before killing it.
constexpr DWORD kRemuxLimitMs = 10 * 60 * 1000;
// How long the relay waits for its reader thread once ffmpeg has stopped taking frames.
constexpr DWORD kReaderStopLimitMs = 5000;
// Frames read by the read-few fault modes.
constexpr uint32_t kFewFrames = 5;
// Frames the relay holds while Debian's ffmpeg is slower than the recorder (about 74 MB).
constexpr size_t kQueuedChunks = 60;

// Exit codes of the relay's own failures (ffmpeg's status is passed on unchanged).
constexpr int kExitFailure = 1;
constexpr int kExitBadCommand = 2;
constexpr int kExitNoPipe = 3;
