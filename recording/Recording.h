// Start and stop of a recording: the frame pipe, the encoder process, and the recording's final,
// timestamped name. Both run on the user-interface thread.
#pragma once

#include <windows.h>

#include <string>

// How long a start waits for the encoder to open the frame pipe.
constexpr DWORD kEncoderConnectTimeoutMs = 10000;
// How long a stop waits for the encoder to finish the file.
constexpr DWORD kEncoderExitWaitMs = 5000;

// Creates the frame pipe, starts the encoder for `path` and waits (bounded) until that encoder
// has opened the pipe. On success the recording runs: g_isRecording is set, Start is disabled
// and Stop enabled. On failure nothing is left behind (no pipe, no encoder, no handle) and false
// is returned. Precondition: no recording runs.
bool StartRecording(const std::wstring& path);

// Ends the running recording: closes the pipe (bounded), waits up to kEncoderExitWaitMs for the
// encoder, moves the file to its timestamped name, stores that name as LastPath, and puts the
// buttons back. An encoder still running after the wait is left to finish its file, unless it
// had stopped taking frames: that one is hung and is ended. Does nothing unless a recording runs.
void StopRecording();
