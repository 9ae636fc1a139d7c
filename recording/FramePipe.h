// The frame pipe between the render thread and the encoder: its creation, the render thread's
// guarded frame writes, and its bounded close at the end of a recording.
//
// g_pipe is read, written and closed only under g_pipeLock, so the render thread sees the pipe
// whenever it sees g_isRecording set and never writes to a handle that has been closed. A write
// that an encoder no longer takes is abandoned (cancelled) rather than waited for.
#pragma once

#include <windows.h>

#include <cstdint>

// The pipe's name; the encoder opens it by this name.
constexpr const wchar_t* kFramePipeName = L"\\\\.\\pipe\\vuduvazidozu";

// How long a close waits for a frame write in progress before abandoning it.
constexpr DWORD kWritePatienceMs = 1000;
// How long a close waits for the encoder to take what has been written (flush).
constexpr DWORD kFlushBoundMs = 4000;

// Creates the server end: outbound, blocking byte stream, one instance, system-sized buffers,
// not inheritable. Returns INVALID_HANDLE_VALUE on failure (for example the name is taken).
HANDLE CreateFramePipe();

// Main thread: makes `pipe` the recording's frame pipe (g_pipe) and starts a new recording
// generation. Call before g_isRecording is set.
void PublishFramePipe(HANDLE pipe);

// Render thread: while g_isRecording is set and g_pipe is held, writes `count` copies of the
// frame (kFrameBytes each, one blocking write per frame). Returns how many entered the pipe.
// When a write fails because the encoder has gone, posts WM_APP_ENCODER_LOST (with the
// recording's generation as wParam) to the control window once and writes nothing more.
int WriteFramesToPipe(const BYTE* frame, int count);

// Main thread: closes g_pipe within a bounded time (flush, disconnect, close, set to null).
// A write in progress is given kWritePatienceMs, then abandoned; the flush gives up after
// kFlushBoundMs. Returns false when the encoder had stopped taking frames (a write was
// abandoned or the flush given up), true when it took everything or no pipe was held.
bool CloseFramePipe();

// The current recording's generation; it changes with every PublishFramePipe.
uint32_t FramePipeGeneration();
