// A frame pipe between the recorder and an encoder: its creation, the bounded wait for the
// encoder to open it, and the check that the client is the encoder.
//
// The pipe is opened for overlapped I/O so that every wait on it has a bound: the connection is
// raced against the encoder's exit and a time-out, and the writer thread's frame writes can be
// given up on without a second thread touching the handle.
#pragma once

#include <windows.h>

// The colour stream's pipe; the encoder opens it by this name.
constexpr const wchar_t* kFramePipeName = L"\\\\.\\pipe\\vuduvazidozu";

// Creates the server end of the pipe `name`: outbound, byte stream, one instance, the first and
// only instance of the name, local clients only, open to the current user alone, system-sized
// buffers, not inheritable. Returns INVALID_HANDLE_VALUE on failure (for example the name is
// taken by another copy of the recorder or by anyone else).
HANDLE CreateFramePipe(const wchar_t* name = kFramePipeName);

// One connection wait. It is never freed once a wait was begun that a cancel did not end: a
// cancelled operation may still complete into it.
struct FramePipeConnect {
    OVERLAPPED io = {};
    bool connected = false;
    ~FramePipeConnect();
};

// Starts waiting for the pipe's client. Call before the encoder starts, so no moment exists in
// which the encoder could open the pipe unnoticed.
bool BeginFramePipeConnect(HANDLE pipe, FramePipeConnect& wait);

// Ends the wait begun above: true when a client opened the pipe within `timeoutMs`, false when
// `encoder` exited first or the time ran out (a null `encoder` gives up at once). A wait given
// up on is cancelled before this returns; false from here with `wait.io` still pending is
// reported by `abandoned`, and the record must then be kept for good.
bool FinishFramePipeConnect(HANDLE pipe, FramePipeConnect& wait, HANDLE encoder, DWORD timeoutMs,
                            bool& abandoned);

// The process id of the pipe's client, or 0 when it can't be told.
DWORD FramePipeClientProcessId(HANDLE pipe);
