#include "recording/FramePipe.h"

#include <sddl.h>

#include <string>

#include "platform/ScopedHandle.h"

namespace {

constexpr DWORD kCancelBoundMs = 1000;

// "D:P(A;;GA;;;<the user's SID>)": a protected list that grants the current user alone every
// access. Empty when the user can't be told.
std::wstring CurrentUserOnlySddl()
{
    ScopedHandle token;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return std::wstring();
    }
    token.Reset(raw);
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size)) {
        return std::wstring();
    }
    wchar_t* sid = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        return std::wstring();
    }
    std::wstring sddl = std::wstring(L"D:P(A;;GA;;;") + sid + L")";
    ::LocalFree(sid);
    return sddl;
}

} // namespace

HANDLE CreateFramePipe(const wchar_t* name)
{
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = FALSE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring sddl = CurrentUserOnlySddl();
    if (sddl.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        // Without the user's own descriptor the pipe is not made with a looser one.
        return INVALID_HANDLE_VALUE;
    }
    attributes.lpSecurityDescriptor = descriptor;
    HANDLE pipe = ::CreateNamedPipeW(
        name, PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0,
        &attributes);
    ::LocalFree(descriptor);
    return pipe;
}

FramePipeConnect::~FramePipeConnect()
{
    if (io.hEvent != nullptr) {
        ::CloseHandle(io.hEvent);
    }
}

bool BeginFramePipeConnect(HANDLE pipe, FramePipeConnect& wait)
{
    if (wait.io.hEvent == nullptr) {
        wait.io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (wait.io.hEvent == nullptr) {
            return false;
        }
    }
    HANDLE event = wait.io.hEvent;
    wait.io = OVERLAPPED{};
    wait.io.hEvent = event;
    ::ResetEvent(event);
    wait.connected = false;
    if (::ConnectNamedPipe(pipe, &wait.io)) {
        wait.connected = true;
        return true;
    }
    switch (::GetLastError()) {
    case ERROR_IO_PENDING:
        return true;
    case ERROR_PIPE_CONNECTED: // a client opened the pipe before the call
        wait.connected = true;
        return true;
    default:
        return false;
    }
}

bool FinishFramePipeConnect(HANDLE pipe, FramePipeConnect& wait, HANDLE encoder, DWORD timeoutMs,
                            bool& abandoned)
{
    abandoned = false;
    if (wait.connected) {
        return true;
    }
    HANDLE waits[] = {wait.io.hEvent, encoder};
    DWORD woken =
        encoder == nullptr ? WAIT_TIMEOUT : ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    DWORD bytes = 0;
    if (woken == WAIT_OBJECT_0) {
        return ::GetOverlappedResult(pipe, &wait.io, &bytes, FALSE) != FALSE;
    }
    ::CancelIoEx(pipe, &wait.io);
    if (::WaitForSingleObject(wait.io.hEvent, kCancelBoundMs) == WAIT_OBJECT_0) {
        // A client that came in the same moment as the give-up still counts.
        return ::GetOverlappedResult(pipe, &wait.io, &bytes, FALSE) != FALSE;
    }
    abandoned = true;
    return false;
}

DWORD FramePipeClientProcessId(HANDLE pipe)
{
    ULONG clientId = 0;
    return ::GetNamedPipeClientProcessId(pipe, &clientId) ? clientId : 0;
}
