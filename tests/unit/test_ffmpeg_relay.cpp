// The ffmpeg.exe relay, driven exactly as the recorder drives an encoder: the frame pipe created
// as the server end, the relay started without a console or inherited handles, raw frames
// written with blocking writes, and the end of the input given by flush, disconnect and close.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/ScopedHandle.h"

namespace {

constexpr DWORD kFrameBytes = 640 * 480 * 4;
const wchar_t kPipeName[] = L"\\\\.\\pipe\\vuduvazidozu";
// The recorder's command line up to the opening quote of the output path.
const wchar_t kEncoderPrefix[] =
    L"ffmpeg.exe -y -f rawvideo -pixel_format bgra -video_size 640x480 -framerate 30 "
    L"-i \\\\.\\pipe\\vuduvazidozu -c:v libx264 -preset ultrafast ";

HANDLE CreateFramePipe()
{
    return ::CreateNamedPipeW(kPipeName, PIPE_ACCESS_OUTBOUND, 0, 1, 0, 0, 0, nullptr);
}

// Runs `work` on a thread of its own for at most `limitMs`, then cancels the thread's blocking
// call (again and again for up to 5 s: the cancel may come before the call has begun). Returns
// true when `work` finished within the limit.
bool RunBounded(const std::function<void()>& work, DWORD limitMs)
{
    auto* task = new std::function<void()>(work);
    HANDLE thread = ::CreateThread(
        nullptr, 0,
        [](void* param) -> DWORD {
            (*static_cast<std::function<void()>*>(param))();
            return 0;
        },
        task, 0, nullptr);
    const bool finished = ::WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
    bool ended = finished;
    for (int attempt = 0; !ended && attempt < 50; ++attempt) {
        ::CancelSynchronousIo(thread);
        ended = ::WaitForSingleObject(thread, 100) == WAIT_OBJECT_0;
    }
    EXPECT_TRUE(ended) << "a cancelled call did not return";
    ::CloseHandle(thread);
    if (ended) {
        delete task; // otherwise the thread may still use it
    }
    return finished;
}

// Waits (bounded) for the relay to open its end, as the recorder's start does.
bool ConnectBounded(HANDLE pipe, DWORD limitMs)
{
    bool connected = false;
    const bool finished = RunBounded(
        [&] {
            connected =
                ::ConnectNamedPipe(pipe, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
        },
        limitMs);
    return finished && connected;
}

// Frame `index`: its number in every blue byte, ramps in green and red.
void FillFrame(std::vector<BYTE>& frame, int index)
{
    for (size_t i = 0; i < frame.size(); i += 4) {
        frame[i] = static_cast<BYTE>(index);
        frame[i + 1] = static_cast<BYTE>(i / 2560 / 2);
        frame[i + 2] = static_cast<BYTE>(i / 4 % 640 / 3);
        frame[i + 3] = 0;
    }
}

struct WriteOutcome {
    int written = 0;
    DWORD error = 0;        // of the failed write
    bool cancelled = false; // a write was still blocked after the patience given, and cancelled
};

// Writes up to `count` frames, one blocking write each, stopping at the first failure. A write
// still blocked after `patienceMs` is cancelled, as the recorder's stop does.
WriteOutcome WriteFrames(HANDLE pipe, int count, DWORD patienceMs)
{
    WriteOutcome outcome;
    std::vector<BYTE> frame(kFrameBytes);
    for (int i = 0; i < count; ++i) {
        FillFrame(frame, i);
        BOOL ok = FALSE;
        outcome.cancelled = !RunBounded(
            [&] {
                DWORD done = 0;
                ok = ::WriteFile(pipe, frame.data(), kFrameBytes, &done, nullptr);
                outcome.error = ok ? 0 : ::GetLastError();
            },
            patienceMs);
        if (!ok) {
            break;
        }
        ++outcome.written;
    }
    return outcome;
}

// The relay process: terminated on destruction if it is still running.
class RelayProcess {
public:
    ~RelayProcess()
    {
        if (m_info.hProcess) {
            if (WaitExit(0) == -1) {
                ::TerminateProcess(m_info.hProcess, 99);
                ::WaitForSingleObject(m_info.hProcess, 5000);
            }
            ::CloseHandle(m_info.hProcess);
            ::CloseHandle(m_info.hThread);
        }
    }

    // Starts `commandLine` as the recorder does, in `folder` (or the test's current folder).
    bool Start(std::wstring commandLine, const std::wstring& folder = std::wstring())
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        const wchar_t* currentFolder = folder.empty() ? nullptr : folder.c_str();
        return ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                nullptr, currentFolder, &startup, &m_info) != FALSE;
    }

    // The exit code, or -1 when the relay is still running after `limitMs`.
    long WaitExit(DWORD limitMs)
    {
        DWORD code = 0;
        if (::WaitForSingleObject(m_info.hProcess, limitMs) != WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(m_info.hProcess, &code)) {
            return -1;
        }
        return static_cast<long>(code);
    }

    DWORD Id() const { return m_info.dwProcessId; }

private:
    PROCESS_INFORMATION m_info = {};
};

std::string ReadWholeFile(const std::wstring& path)
{
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file.IsValid()) {
        return bytes;
    }
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

// True when `path` holds a finished MP4: a file type box first and a movie box (written by
// ffmpeg only when it completes the file) somewhere, with real video data in between.
bool IsFinishedMp4(const std::wstring& path)
{
    const std::string bytes = ReadWholeFile(path);
    return bytes.size() > 10000 && bytes.compare(4, 4, "ftyp") == 0 &&
           bytes.find("moov") != std::string::npos;
}

// The value of `key=` in the record line of relay `pid`, or -1.
long RecordValue(const std::string& record, DWORD pid, const std::string& key)
{
    const std::string line = "pid=" + std::to_string(pid) + " ";
    const size_t start = record.find(line);
    if (start == std::string::npos) {
        return -1;
    }
    const size_t end = record.find('\n', start);
    const size_t at = record.find(" " + key + "=", start);
    if (at == std::string::npos || at > end) {
        return -1;
    }
    return std::stol(record.substr(at + key.size() + 2));
}

// True when relay `pid` left a helper folder under Linux /tmp.
bool HelperFolderLeft(DWORD pid)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = L"Z:\\tmp\\nvr-relay-" + std::to_wstring(pid) + L"-*";
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(search);
    return true;
}

class FfmpegRelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_folder =
            std::wstring(temp) + L"nvr-relay-test-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        ::SetEnvironmentVariableW(L"NVR_RELAY_RECORD", RecordPath().c_str());
        ::SetEnvironmentVariableW(L"NVR_RELAY_LOG", LogPath().c_str());
    }

    void TearDown() override
    {
        for (const wchar_t* name : {L"NVR_RELAY_RECORD", L"NVR_RELAY_LOG", L"NVR_RELAY_FAULT"}) {
            ::SetEnvironmentVariableW(name, nullptr);
        }
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW((m_folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                ::DeleteFileW((m_folder + L"\\" + found.cFileName).c_str());
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryW(m_folder.c_str());
    }

    // Creates the frame pipe and starts the relay with NVR_RELAY_FAULT set to `fault` (or unset).
    static bool Launch(ScopedHandle& pipe, RelayProcess& relay, const std::wstring& commandLine,
                       const wchar_t* fault = nullptr, const std::wstring& folder = std::wstring())
    {
        ::SetEnvironmentVariableW(L"NVR_RELAY_FAULT", fault);
        pipe.Reset(CreateFramePipe());
        return pipe.IsValid() && relay.Start(commandLine, folder);
    }

    std::wstring RecordPath() const { return m_folder + L"\\record.txt"; }
    std::wstring LogPath() const { return m_folder + L"\\relay.log"; }

    // One recording: starts the relay on `commandLine` in `folder`, connects, writes `frames`
    // frames, ends the input as the recorder's stop does and returns the relay's exit code.
    long Record(RelayProcess& relay, const std::wstring& commandLine, int frames,
                const std::wstring& folder = std::wstring())
    {
        ScopedHandle pipe;
        if (!Launch(pipe, relay, commandLine, nullptr, folder) ||
            !ConnectBounded(pipe.Get(), 15000)) {
            ADD_FAILURE() << "the relay did not open the frame pipe";
            return -1;
        }
        const WriteOutcome outcome = WriteFrames(pipe.Get(), frames, 15000);
        EXPECT_EQ(outcome.written, frames) << "write error " << outcome.error;
        EXPECT_TRUE(RunBounded([&] { ::FlushFileBuffers(pipe.Get()); }, 5000));
        ::DisconnectNamedPipe(pipe.Get());
        pipe.Reset();
        return relay.WaitExit(30000);
    }

    std::wstring m_folder;
};

TEST_F(FfmpegRelayTest, RecordsEveryFrameIntoAFinishedMp4)
{
    const std::wstring output = m_folder + L"\\take.mp4";
    RelayProcess relay;
    const long code =
        Record(relay, kEncoderPrefix + std::wstring(L"-pix_fmt yuv420p \"") + output + L"\"", 45);

    EXPECT_EQ(code, 0) << ReadWholeFile(LogPath());
    EXPECT_TRUE(IsFinishedMp4(output));
    const std::string record = ReadWholeFile(RecordPath());
    EXPECT_EQ(RecordValue(record, relay.Id(), "frames"), 45) << record;
    EXPECT_EQ(RecordValue(record, relay.Id(), "bytes"), 45L * static_cast<long>(kFrameBytes));
    EXPECT_EQ(RecordValue(record, relay.Id(), "exit"), 0);
    EXPECT_FALSE(HelperFolderLeft(relay.Id()));
}

TEST_F(FfmpegRelayTest, WritesARelativeNonAsciiPathInItsCurrentFolder)
{
    // Spaces, a quote for the shell and characters outside any code page.
    const std::wstring name = L"Zürich Привет 東京 it's.mp4";
    RelayProcess relay;
    const long code = Record(relay, kEncoderPrefix + (L"\"" + name + L"\""), 20, m_folder);

    EXPECT_EQ(code, 0) << ReadWholeFile(LogPath());
    EXPECT_TRUE(IsFinishedMp4(m_folder + L"\\" + name));
}

TEST_F(FfmpegRelayTest, RejectsCommandLinesItDoesNotUnderstandWithoutConnecting)
{
    const std::wstring pipe = L"-i \\\\.\\pipe\\vuduvazidozu ";
    const std::wstring out = L" \"x.mp4\"";
    const std::wstring lines[] = {
        L"ffmpeg.exe",
        L"ffmpeg.exe -y -f rawvideo " + pipe,            // no output after the input
        L"ffmpeg.exe -y -f rawvideo -c:v libx264" + out, // no input
        L"ffmpeg.exe -y " + pipe + L"stray" + out,       // a second output
        L"ffmpeg.exe -y -i C:\\frames.raw" + out,        // not a pipe
        L"ffmpeg.exe " + pipe + pipe + out,              // two inputs
    };
    ScopedHandle framePipe(CreateFramePipe());
    ASSERT_TRUE(framePipe.IsValid());
    for (const std::wstring& line : lines) {
        RelayProcess relay;
        ASSERT_TRUE(relay.Start(line));
        EXPECT_EQ(relay.WaitExit(10000), 2) << line;
    }
    ::SetEnvironmentVariableW(L"NVR_RELAY_FAULT", L"no-such-fault");
    RelayProcess relay;
    ASSERT_TRUE(relay.Start(kEncoderPrefix + std::wstring(L"\"x.mp4\"")));
    EXPECT_EQ(relay.WaitExit(10000), 2) << "an unknown fault mode";

    // A client that had opened and closed the pipe would make this connect fail at once.
    EXPECT_FALSE(ConnectBounded(framePipe.Get(), 500));
    EXPECT_NE(ReadWholeFile(LogPath()).find("bad command line"), std::string::npos);
}

TEST_F(FfmpegRelayTest, FailuresAfterConnectingEndTheRelayWithoutHanging)
{
    {
        SCOPED_TRACE("empty output path");
        ScopedHandle pipe;
        RelayProcess relay;
        ASSERT_TRUE(Launch(pipe, relay, kEncoderPrefix + std::wstring(L"\"\"")));
        ASSERT_TRUE(ConnectBounded(pipe.Get(), 15000));
        const WriteOutcome outcome = WriteFrames(pipe.Get(), 3, 5000);
        EXPECT_EQ(outcome.written, 0);
        EXPECT_FALSE(outcome.cancelled);
        EXPECT_EQ(relay.WaitExit(10000), 1);
        EXPECT_FALSE(HelperFolderLeft(relay.Id()));
    }
    {
        SCOPED_TRACE("ffmpeg rejects an option");
        ScopedHandle pipe;
        RelayProcess relay;
        ASSERT_TRUE(
            Launch(pipe, relay, kEncoderPrefix + (L"-crf nonsense \"" + m_folder + L"\\x.mp4\"")));
        ASSERT_TRUE(ConnectBounded(pipe.Get(), 15000));
        // ffmpeg dies once it has the first frame; the writes after it must fail, not block.
        const WriteOutcome outcome = WriteFrames(pipe.Get(), 200, 15000);
        EXPECT_LT(outcome.written, 200);
        EXPECT_FALSE(outcome.cancelled);
        pipe.Reset();
        EXPECT_EQ(relay.WaitExit(30000), 1);
        const std::string log = ReadWholeFile(LogPath());
        EXPECT_NE(log.find("ffmpeg failed with status 1"), std::string::npos) << log;
        EXPECT_NE(log.find("nonsense"), std::string::npos) << log; // ffmpeg's own message
        EXPECT_FALSE(HelperFolderLeft(relay.Id()));
    }
}

TEST_F(FfmpegRelayTest, FaultModesBehaveAsTheirNamesSay)
{
    const std::wstring commandLine = kEncoderPrefix + (L"\"" + m_folder + L"\\fault.mp4\"");
    {
        SCOPED_TRACE("no-open-exit");
        ScopedHandle pipe;
        RelayProcess relay;
        ASSERT_TRUE(Launch(pipe, relay, commandLine, L"no-open-exit"));
        EXPECT_EQ(relay.WaitExit(10000), 1);
        EXPECT_FALSE(ConnectBounded(pipe.Get(), 500));
    }
    {
        SCOPED_TRACE("no-open-hang");
        ScopedHandle pipe;
        RelayProcess relay;
        ASSERT_TRUE(Launch(pipe, relay, commandLine, L"no-open-hang"));
        EXPECT_FALSE(ConnectBounded(pipe.Get(), 2000));
        EXPECT_TRUE(relay.WaitExit(0) == -1);
    }
    {
        SCOPED_TRACE("read-few-exit");
        ScopedHandle pipe;
        RelayProcess relay;
        ASSERT_TRUE(Launch(pipe, relay, commandLine, L"read-few-exit"));
        ASSERT_TRUE(ConnectBounded(pipe.Get(), 10000));
        const WriteOutcome outcome = WriteFrames(pipe.Get(), 10, 5000);
        EXPECT_EQ(outcome.written, 5);
        EXPECT_FALSE(outcome.cancelled);
        EXPECT_EQ(relay.WaitExit(10000), 1);
        EXPECT_EQ(RecordValue(ReadWholeFile(RecordPath()), relay.Id(), "frames"), 5);
        EXPECT_FALSE(HelperFolderLeft(relay.Id()));
    }
    {
        SCOPED_TRACE("read-few-stall");
        ScopedHandle pipe;
        RelayProcess relay;
        ASSERT_TRUE(Launch(pipe, relay, commandLine, L"read-few-stall"));
        ASSERT_TRUE(ConnectBounded(pipe.Get(), 10000));
        const WriteOutcome outcome = WriteFrames(pipe.Get(), 10, 1000);
        EXPECT_EQ(outcome.written, 5);
        EXPECT_TRUE(outcome.cancelled);
        EXPECT_EQ(outcome.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
        EXPECT_TRUE(relay.WaitExit(0) == -1);
    }
    {
        SCOPED_TRACE("slow-finish");
        ScopedHandle pipe;
        RelayProcess relay;
        ASSERT_TRUE(Launch(pipe, relay, commandLine, L"slow-finish"));
        ASSERT_TRUE(ConnectBounded(pipe.Get(), 10000));
        EXPECT_EQ(WriteFrames(pipe.Get(), 10, 15000).written, 10);
        ::DisconnectNamedPipe(pipe.Get());
        pipe.Reset();
        const ULONGLONG closed = ::GetTickCount64();
        EXPECT_EQ(relay.WaitExit(30000), 0);
        EXPECT_GT(::GetTickCount64() - closed, 5000u);
        EXPECT_TRUE(IsFinishedMp4(m_folder + L"\\fault.mp4"));
    }
}

} // namespace
