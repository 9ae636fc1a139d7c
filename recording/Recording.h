// Start and stop of a take, and what the render thread hands it: the frame pipe, the encoder
// process, the take's frame queue, writer thread and 30 fps timeline, and the final timestamped
// name. Start and stop run on the user-interface thread.
#pragma once

#include <windows.h>

#include <string>

#include "sensor/RenderLoop.h"

// How long a start waits for the encoder to open the frame pipe.
constexpr DWORD kEncoderConnectTimeoutMs = 10000;
// How long a stop waits for the encoder to end once its input was closed.
constexpr DWORD kEncoderExitWaitMs = 5000;

// Where a take reports that its encoder has gone: `message` is posted to `window` with the take's
// id as wParam (see IsCurrentTake). Main thread, before the first start.
void SetEncoderLostReport(HWND window, UINT message);

// Creates the frame pipe, starts the encoder for `path` and waits (bounded) until that encoder
// has opened the pipe; then the take runs. With `saveSkeletons` the take also writes its
// skeleton file beside the video (a file that can't be made does not stop the take). On failure
// nothing is left behind (no pipe, no encoder, no handle, no file) and false is returned.
// Precondition: no take runs.
bool StartRecording(const std::wstring& path, bool saveSkeletons = false);

// What the user is told after a stop.
struct StoppedTake {
    std::wstring unsavedSkeletonFile; // the skeleton file that could not be saved, or empty
};

// Ends the running take: the writer hands the encoder what is queued and the pipe is closed,
// within bounds; the encoder is given kEncoderExitWaitMs to end (only one that had stalled is
// then ended); the video, and its skeleton file, move to their timestamped names, and the
// video's is stored as LastPath. Does nothing unless a take runs.
StoppedTake StopRecording();

// At the program's end, with the render thread stopped: a running take is not stopped, but the
// frames it has taken are handed to the encoder first, within the stop's bounds. The file keeps
// its start name; the encoder sees its input end when the process ends.
void LeaveRecordingAtExit();

// A take runs (from a successful start to the end of its stop).
bool IsRecording();

// True when `takeId` (the wParam of an encoder-lost report) names the take that runs now.
bool IsCurrentTake(WPARAM takeId);

// Render thread, after every pass: puts the frames that the take's timeline calls for into the
// take's queue. Never waits for the encoder.
void FeedRecording(const RenderedFrame& frame);
