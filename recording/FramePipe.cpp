#include "recording/FramePipe.h"

namespace {

// The pending connection. Static, because a cancelled operation may still complete into it.
OVERLAPPED g_connect = {};
bool g_connected = false;

constexpr DWORD kCancelBoundMs = 1000;

} // namespace

HANDLE CreateFramePipe()
{
    return ::CreateNamedPipeW(kFramePipeName, PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
}

bool BeginFramePipeConnect(HANDLE pipe)
{
    if (g_connect.hEvent == nullptr) {
        g_connect.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (g_connect.hEvent == nullptr) {
            return false;
        }
    }
    HANDLE event = g_connect.hEvent;
    g_connect = OVERLAPPED{};
    g_connect.hEvent = event;
    ::ResetEvent(event);
    g_connected = false;
    if (::ConnectNamedPipe(pipe, &g_connect)) {
        g_connected = true;
        return true;
    }
    switch (::GetLastError()) {
    case ERROR_IO_PENDING:
        return true;
    case ERROR_PIPE_CONNECTED: // a client opened the pipe before the call
        g_connected = true;
        return true;
    default:
        return false;
    }
}

bool FinishFramePipeConnect(HANDLE pipe, HANDLE encoder, DWORD timeoutMs)
{
    if (g_connected) {
        return true;
    }
    HANDLE waits[] = {g_connect.hEvent, encoder};
    DWORD woken =
        encoder == nullptr ? WAIT_TIMEOUT : ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    DWORD bytes = 0;
    if (woken == WAIT_OBJECT_0) {
        return ::GetOverlappedResult(pipe, &g_connect, &bytes, FALSE) != FALSE;
    }
    ::CancelIoEx(pipe, &g_connect);
    if (::WaitForSingleObject(g_connect.hEvent, kCancelBoundMs) == WAIT_OBJECT_0) {
        // A client that came in the same moment as the give-up still counts.
        return ::GetOverlappedResult(pipe, &g_connect, &bytes, FALSE) != FALSE;
    }
    return false;
}

DWORD FramePipeClientProcessId(HANDLE pipe)
{
    ULONG clientId = 0;
    return ::GetNamedPipeClientProcessId(pipe, &clientId) ? clientId : 0;
}
