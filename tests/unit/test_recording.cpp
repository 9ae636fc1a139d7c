// Recording start and stop against stand-in encoders: a launcher seam starts, instead of a
// process, a thread of this test that plays the encoder's part on the frame pipe.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/AppState.h"
#include "platform/Platform.h"
#include "recording/FramePipe.h"
#include "recording/Recording.h"
#include "settings/Settings.h"
#include "tests/support/FramePipeClient.h"

namespace {

enum class EncoderPart {
    Reads,           // opens the pipe, reads to the end, then "exits"
    NeverOpens,      // exits at once without opening the pipe
    OpensEarly,      // opens the pipe before the recorder waits for it
    StopsReading,    // opens the pipe, reads one frame, then stops reading without closing
};

// What the stand-in encoder did; written by its thread.
struct EncoderLog {
    std::atomic<int> framesRead{0};
    std::atomic<bool> sawEnd{false};
};

EncoderPart g_part = EncoderPart::Reads;
EncoderLog* g_log = nullptr;
DWORD g_clientProcessId = 0;
std::vector<std::thread> g_encoderThreads;
std::atomic<int> g_launches{0};

// The "process" handle given to the recorder is an event that is set when the part is over.
void PlayEncoder(HANDLE exited, EncoderPart part, EncoderLog* log)
{
    if (part != EncoderPart::NeverOpens) {
        HANDLE pipe = OpenFramePipeClient(2000);
        std::vector<BYTE> frame(kFrameBytes);
        for (;;) {
            if (part == EncoderPart::StopsReading && log->framesRead.load() >= 1) {
                ::Sleep(6000);
                break;
            }
            if (!ReadWholeFrame(pipe, frame.data())) {
                log->sawEnd.store(true);
                break;
            }
            log->framesRead.fetch_add(1);
        }
        ::CloseHandle(pipe);
    }
    ::SetEvent(exited);
}

BOOL StandInLauncher(const wchar_t*, wchar_t*, PROCESS_INFORMATION* process)
{
    g_launches.fetch_add(1);
    HANDLE exited = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    process->hProcess = exited;
    ::DuplicateHandle(::GetCurrentProcess(), exited, ::GetCurrentProcess(), &process->hThread, 0,
                      FALSE, DUPLICATE_SAME_ACCESS);
    process->dwProcessId = g_clientProcessId;
    process->dwThreadId = 0;
    if (g_part == EncoderPart::OpensEarly) {
        // Connect before StartRecording waits: the connection then reports ERROR_PIPE_CONNECTED.
        g_encoderThreads.emplace_back(PlayEncoder, exited, EncoderPart::Reads, g_log);
        ::Sleep(300);
    } else {
        g_encoderThreads.emplace_back(PlayEncoder, exited, g_part, g_log);
    }
    return TRUE;
}

BOOL FailingLauncher(const wchar_t*, wchar_t*, PROCESS_INFORMATION*)
{
    g_launches.fetch_add(1);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

SYSTEMTIME g_clock = {};
void FixedClock(SYSTEMTIME* time)
{
    *time = g_clock;
}

std::wstring g_appData;
bool TestAppData(std::wstring& folder)
{
    folder = g_appData;
    return true;
}

class Recording : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"nvr-recording-test-" +
                   std::to_wstring(::GetCurrentProcessId()) + L"-" +
                   std::to_wstring(++s_counter);
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        g_appData = m_folder;
        SetAppDataFolderQuery(TestAppData);
        SetLocalTimeQuery(FixedClock);
        SetProcessLauncher(StandInLauncher);
        g_clientProcessId = ::GetCurrentProcessId();
        g_part = EncoderPart::Reads;
        g_log = &m_log;
        g_launches = 0;
        g_clock = SYSTEMTIME{2024, 3, 2, 5, 11, 58, 0, 0};
        // The buttons whose states a start and a stop switch, on a hidden parent of their own.
        m_parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                     nullptr, nullptr);
        g_hwndStart = ::CreateWindowExW(0, L"BUTTON", L"Start", WS_CHILD, 0, 0, 10, 10, m_parent,
                                        nullptr, nullptr, nullptr);
        g_hwndStop = ::CreateWindowExW(0, L"BUTTON", L"Stop", WS_CHILD | WS_DISABLED, 0, 0, 10, 10,
                                       m_parent, nullptr, nullptr, nullptr);
        ASSERT_NE(g_hwndStart, nullptr);
        ASSERT_NE(g_hwndStop, nullptr);
    }

    void TearDown() override
    {
        if (g_isRecording.load()) {
            StopRecording();
        }
        for (std::thread& thread : g_encoderThreads) {
            thread.join();
        }
        g_encoderThreads.clear();
        ::DestroyWindow(m_parent);
        SetProcessLauncher(nullptr);
        SetLocalTimeQuery(nullptr);
        SetAppDataFolderQuery(nullptr);
    }

    std::wstring Path(const wchar_t* name) const { return m_folder + L"\\" + name; }

    // The pipe name is free again: nothing of a failed or finished recording holds it.
    static bool PipeNameIsFree()
    {
        HANDLE pipe = CreateFramePipe();
        if (pipe == INVALID_HANDLE_VALUE) {
            return false;
        }
        ::CloseHandle(pipe);
        return true;
    }

    static void ExpectIdle()
    {
        EXPECT_FALSE(g_isRecording.load());
        EXPECT_EQ(g_pipe, nullptr);
        EXPECT_EQ(g_encoder.hProcess, nullptr);
        EXPECT_TRUE(::IsWindowEnabled(g_hwndStart));
        EXPECT_FALSE(::IsWindowEnabled(g_hwndStop));
        EXPECT_TRUE(PipeNameIsFree());
    }

    EncoderLog m_log;
    std::wstring m_folder;
    HWND m_parent = nullptr;
    static int s_counter;
};

int Recording::s_counter = 0;

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteTextFile(const std::wstring& path, const char* text)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    ::CloseHandle(file);
}

TEST_F(Recording, RunsFromConnectionToStopAndEndsUnderItsFinalName)
{
    std::wstring path = Path(L"take.mp4");
    ASSERT_TRUE(StartRecording(path));
    EXPECT_TRUE(g_isRecording.load());
    EXPECT_FALSE(::IsWindowEnabled(g_hwndStart));
    EXPECT_TRUE(::IsWindowEnabled(g_hwndStop));

    // The render thread's part: a few frames while the recording runs.
    static BYTE frame[kFrameBytes];
    EXPECT_EQ(WriteFramesToPipe(frame, 3), 3);
    WriteTextFile(path, "video");  // what the encoder would have written

    g_clock = SYSTEMTIME{2024, 3, 2, 5, 12, 3, 0, 0};
    StopRecording();
    ExpectIdle();
    EXPECT_EQ(m_log.framesRead.load(), 3);
    EXPECT_TRUE(m_log.sawEnd.load());
    std::wstring finalName = path + L"_2024-03-05__11-58AM_to_12-03PM.mp4";
    EXPECT_TRUE(FileExists(finalName));
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(ReadLastPath(), finalName);
    // Once the pipe is gone nothing more is written, even with the flag still read as set.
    EXPECT_EQ(WriteFramesToPipe(frame, 1), 0);
}

TEST_F(Recording, SecondRecordingOfTheSameMinutesKeepsItsStartName)
{
    std::wstring path = Path(L"same.mp4");
    std::wstring finalName = path + L"_2024-03-05__11-58AM_to_11-58AM.mp4";
    for (const char* content : {"first", "second"}) {
        ASSERT_TRUE(StartRecording(path));
        WriteTextFile(path, content);
        StopRecording();
        ExpectIdle();
    }
    // The first file is untouched; the second stays at the start path; LastPath names the
    // final name all the same.
    EXPECT_TRUE(FileExists(finalName));
    EXPECT_TRUE(FileExists(path));
    HANDLE file = ::CreateFileW(finalName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    char text[16] = {};
    DWORD read = 0;
    ::ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    ::CloseHandle(file);
    EXPECT_STREQ(text, "first");
    EXPECT_EQ(ReadLastPath(), finalName);
}

TEST_F(Recording, EncoderThatConnectsEarlyCounts)
{
    g_part = EncoderPart::OpensEarly;
    ASSERT_TRUE(StartRecording(Path(L"early.mp4")));
    StopRecording();
    ExpectIdle();
}

TEST_F(Recording, FailedStartsLeaveNothingBehind)
{
    // A double quote would end the quoted path: nothing is even started.
    EXPECT_FALSE(StartRecording(Path(L"a\" -f null \"b.mp4")));
    EXPECT_EQ(g_launches.load(), 0);
    ExpectIdle();

    // No encoder to be found.
    SetProcessLauncher(FailingLauncher);
    EXPECT_FALSE(StartRecording(Path(L"none.mp4")));
    ExpectIdle();
    SetProcessLauncher(StandInLauncher);

    // An encoder that exits without opening the pipe fails the start at once, not after the
    // connection time-out.
    g_part = EncoderPart::NeverOpens;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(StartRecording(Path(L"exits.mp4")));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    ExpectIdle();

    // A client that is not the started encoder is refused.
    g_part = EncoderPart::Reads;
    g_clientProcessId = ::GetCurrentProcessId() + 4;
    EXPECT_FALSE(StartRecording(Path(L"stranger.mp4")));
    ExpectIdle();

    // A start after all that succeeds.
    g_clientProcessId = ::GetCurrentProcessId();
    EXPECT_TRUE(StartRecording(Path(L"after.mp4")));
    StopRecording();
    ExpectIdle();
}

TEST_F(Recording, StopIsBoundedWhenTheEncoderStopsReading)
{
    g_part = EncoderPart::StopsReading;
    ASSERT_TRUE(StartRecording(Path(L"stall.mp4")));
    // A render thread blocked in a write that the encoder no longer takes.
    static BYTE frame[kFrameBytes];
    std::atomic<int> written{-1};
    std::thread writer([&] { written = WriteFramesToPipe(frame, 3); });
    ::Sleep(500);

    auto begin = std::chrono::steady_clock::now();
    StopRecording();
    auto took = std::chrono::steady_clock::now() - begin;
    writer.join();
    ExpectIdle();
    EXPECT_LT(written.load(), 3);
    // Patience for the write, the flush bound and the encoder wait, each bounded.
    EXPECT_LT(took, std::chrono::seconds(15));
}

} // namespace
