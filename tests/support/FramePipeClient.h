// The encoder's side of the frame pipe, for tests and benchmarks that stand in for the encoder.
#pragma once

#include <windows.h>

#include "recording/FramePipe.h"
#include "sensor/Frame.h"

// Opens the frame pipe's client end, retrying every 10 ms while it does not exist yet, for
// about `timeoutMs`. INVALID_HANDLE_VALUE when it could not be opened in that time.
inline HANDLE OpenFramePipeClient(DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 10) {
        HANDLE pipe =
            ::CreateFileW(kFramePipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE || waited >= timeoutMs) {
            return pipe;
        }
        ::Sleep(10);
    }
}

// Reads one whole frame (kFrameBytes) into `frame`. False once the stream has ended.
inline bool ReadWholeFrame(HANDLE pipe, BYTE* frame)
{
    size_t filled = 0;
    while (filled < kFrameBytes) {
        DWORD got = 0;
        if (!::ReadFile(pipe, frame + filled, static_cast<DWORD>(kFrameBytes - filled), &got,
                        nullptr) ||
            got == 0) {
            return false;
        }
        filled += got;
    }
    return true;
}
