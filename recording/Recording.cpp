#include "recording/Recording.h"

#include "app/AppState.h"
#include "platform/Platform.h"
#include "platform/ScopedHandle.h"
#include "recording/EncoderCommand.h"
#include "recording/FramePipe.h"
#include "recording/RecordingFileName.h"
#include "settings/Settings.h"

namespace {

DWORD WINAPI ConnectThread(LPVOID pipe)
{
    BOOL connected = ::ConnectNamedPipe(static_cast<HANDLE>(pipe), nullptr);
    // An encoder that opened the pipe before the call leaves it connected already.
    return (connected || ::GetLastError() == ERROR_PIPE_CONNECTED) ? 1 : 0;
}

// Waits until the encoder has opened the pipe, the encoder has exited, or the time-out ends.
// Returns true only when a client connected.
bool WaitForEncoderConnection(HANDLE pipe, HANDLE encoder)
{
    // ConnectNamedPipe on a blocking pipe has no time-out of its own: it runs on a helper thread
    // and the wait on it is bounded, together with the encoder's exit.
    ScopedHandle connector(::CreateThread(nullptr, 0, ConnectThread, pipe, 0, nullptr));
    if (!connector.IsValid()) {
        return false;
    }
    HANDLE waits[] = {connector.Get(), encoder};
    DWORD result = ::WaitForMultipleObjects(2, waits, FALSE, kEncoderConnectTimeoutMs);
    if (result != WAIT_OBJECT_0) {
        // Give up: cancel the connect, or, where the cancel can't reach it, end it by connecting
        // a client of our own, which the caller's failure path closes with the pipe.
        ::CancelSynchronousIo(connector.Get());
        if (::WaitForSingleObject(connector.Get(), 200) != WAIT_OBJECT_0) {
            ScopedHandle unblock(::CreateFileW(kFramePipeName, GENERIC_READ, 0, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
            ::WaitForSingleObject(connector.Get(), 2000);
        }
        return false;
    }
    DWORD connected = 0;
    return ::GetExitCodeThread(connector.Get(), &connected) && connected == 1;
}

// True when the pipe's client is the process `encoderId`, so that no other program receives
// the frames.
bool ClientIsEncoder(HANDLE pipe, DWORD encoderId)
{
    ULONG clientId = 0;
    return ::GetNamedPipeClientProcessId(pipe, &clientId) && clientId == encoderId;
}

void EndEncoder(PROCESS_INFORMATION& encoder)
{
    if (encoder.hProcess != nullptr) {
        ::TerminateProcess(encoder.hProcess, 0);
        // Termination is asynchronous; a bounded wait lets the next start find no encoder.
        ::WaitForSingleObject(encoder.hProcess, 2000);
        ::CloseHandle(encoder.hProcess);
    }
    if (encoder.hThread != nullptr) {
        ::CloseHandle(encoder.hThread);
    }
    encoder = PROCESS_INFORMATION{};
}

} // namespace

bool StartRecording(const std::wstring& path)
{
    wchar_t commandLine[kEncoderCommandCapacity];
    if (!BuildEncoderCommandLine(path, commandLine, kEncoderCommandCapacity)) {
        return false;
    }
    QueryLocalTime(&g_recordStart);
    g_outputPath = path;

    ScopedHandle pipe(CreateFramePipe());
    if (!pipe.IsValid()) {
        return false;
    }
    PROCESS_INFORMATION encoder = {};
    if (!LaunchProcess(commandLine, &encoder)) {
        return false;
    }
    if (!WaitForEncoderConnection(pipe.Get(), encoder.hProcess) ||
        !ClientIsEncoder(pipe.Get(), encoder.dwProcessId)) {
        EndEncoder(encoder);
        return false;
    }

    g_encoder = encoder;
    PublishFramePipe(pipe.Release());
    g_isRecording.store(true);
    ::EnableWindow(g_hwndStart, FALSE);
    ::EnableWindow(g_hwndStop, TRUE);
    return true;
}

void StopRecording()
{
    if (!g_isRecording.load()) {
        return;
    }
    CloseFramePipe();
    if (g_encoder.hProcess != nullptr) {
        ::WaitForSingleObject(g_encoder.hProcess, kEncoderExitWaitMs);
        ::CloseHandle(g_encoder.hProcess);
    }
    if (g_encoder.hThread != nullptr) {
        ::CloseHandle(g_encoder.hThread);
    }
    g_encoder = PROCESS_INFORMATION{};

    SYSTEMTIME end = {};
    QueryLocalTime(&end);
    std::wstring finalName = MakeRecordingFileName(g_outputPath, g_recordStart, end);
    if (!finalName.empty()) {
        // MoveFileW never replaces: an existing file of that name keeps this one under its
        // start name.
        ::MoveFileW(g_outputPath.c_str(), finalName.c_str());
    }
    // A name that could not be formed leaves the file, and LastPath, at the start name.
    WriteLastPath(finalName.empty() ? g_outputPath : finalName);

    g_isRecording.store(false);
    ::EnableWindow(g_hwndStart, TRUE);
    ::EnableWindow(g_hwndStop, FALSE);
}
