// The frame pipe between the recorder and the encoder: its creation, the bounded wait for the
// encoder to open it, and the check that the client is the encoder.
//
// The pipe is opened for overlapped I/O so that every wait on it has a bound: the connection is
// raced against the encoder's exit and a time-out, and the writer thread's frame writes can be
// given up on without a second thread touching the handle.
#pragma once

#include <windows.h>

// The pipe's name; the encoder opens it by this name.
constexpr const wchar_t* kFramePipeName = L"\\\\.\\pipe\\vuduvazidozu";

// Creates the server end: outbound, byte stream, one instance, system-sized buffers, not
// inheritable. Returns INVALID_HANDLE_VALUE on failure (for example the name is taken).
HANDLE CreateFramePipe();

// Starts waiting for the pipe's client. Call before the encoder starts, so no moment exists in
// which the encoder could open the pipe unnoticed. Main thread; one wait at a time.
bool BeginFramePipeConnect(HANDLE pipe);

// Ends the wait begun above: true when a client opened the pipe within `timeoutMs`, false when
// `encoder` exited first or the time ran out (a null `encoder` gives up at once). A wait given
// up on is cancelled before this returns, so nothing is left pending on the pipe.
bool FinishFramePipeConnect(HANDLE pipe, HANDLE encoder, DWORD timeoutMs);

// The process id of the pipe's client, or 0 when it can't be told.
DWORD FramePipeClientProcessId(HANDLE pipe);
