#include "recording/Recording.h"

#include "app/AppState.h"
#include "platform/Platform.h"
#include "platform/ProcessFamily.h"
#include "platform/ProgramSearch.h"
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

// Starts waiting for the pipe's client on a helper thread: ConnectNamedPipe on a blocking pipe has
// no time-out of its own, and waiting before the encoder starts leaves no moment in which the
// encoder could open and read the pipe before the server is connected to it.
HANDLE StartConnecting(HANDLE pipe)
{
    return ::CreateThread(nullptr, 0, ConnectThread, pipe, 0, nullptr);
}

// Ends a connection wait that is given up: cancels it, or, where the cancel can't reach it,
// satisfies it with a client of our own, which goes when the caller closes the pipe.
void AbandonConnecting(HANDLE connector)
{
    ::CancelSynchronousIo(connector);
    if (::WaitForSingleObject(connector, 200) != WAIT_OBJECT_0) {
        ScopedHandle unblock(
            ::CreateFileW(kFramePipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ::WaitForSingleObject(connector, 2000);
    }
}

// Waits until a client has opened the pipe, the encoder has exited, or the time-out ends.
// Returns true only when a client connected.
bool WaitForEncoderConnection(HANDLE connector, HANDLE encoder)
{
    HANDLE waits[] = {connector, encoder};
    if (::WaitForMultipleObjects(2, waits, FALSE, kEncoderConnectTimeoutMs) != WAIT_OBJECT_0) {
        AbandonConnecting(connector);
        return false;
    }
    DWORD connected = 0;
    return ::GetExitCodeThread(connector, &connected) && connected == 1;
}

// True when the pipe's client is the encoder `encoderId` or a process it started (a launcher
// named ffmpeg.exe starts the real encoder), so that no other program receives the frames.
bool ClientIsEncoder(HANDLE pipe, DWORD encoderId)
{
    ULONG clientId = 0;
    if (!::GetNamedPipeClientProcessId(pipe, &clientId)) {
        return false;
    }
    // The recorder holds the encoder's handle meanwhile, so no other process can have its id.
    ScopedHandle encoder(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, encoderId));
    return encoder.IsValid() && IsSameOrDescendantProcess(clientId, encoder.Get(), encoderId);
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
    ScopedHandle connector(StartConnecting(pipe.Get()));
    if (!connector.IsValid()) {
        return false;
    }
    PROCESS_INFORMATION encoder = {};
    std::wstring encoderProgram = FindProgramBesideOrOnPath(kEncoderProgram);
    if (encoderProgram.empty() || !LaunchProcess(encoderProgram.c_str(), commandLine, &encoder)) {
        AbandonConnecting(connector.Get());
        return false;
    }
    if (!WaitForEncoderConnection(connector.Get(), encoder.hProcess) ||
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
    bool encoderTookEverything = CloseFramePipe();
    if (g_encoder.hProcess != nullptr) {
        if (::WaitForSingleObject(g_encoder.hProcess, kEncoderExitWaitMs) != WAIT_OBJECT_0 &&
            !encoderTookEverything) {
            // An encoder that stopped taking frames and has not ended since is hung: left
            // alone it would stay for good. One that took everything is only slow to finish
            // its file and goes on by itself.
            ::TerminateProcess(g_encoder.hProcess, 1);
        }
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
