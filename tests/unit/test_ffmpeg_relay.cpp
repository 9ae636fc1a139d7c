// The ffmpeg.exe relay beside the test, started on the recorder's command line and fed through
// the frame pipe as the recorder feeds an encoder: one short take must become a finished MP4
// holding every frame sent.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/ProgramSearch.h"
#include "platform/ScopedHandle.h"
#include "recording/EncoderCommand.h"
#include "recording/FramePipe.h"
#include "sensor/Frame.h"

namespace {

constexpr int kFramesSent = 10;

// The feeding thread's pipe and progress; file-level, as a stuck thread may outlive the test.
HANDLE g_feedPipe = nullptr;
int g_framesWritten = 0;

// Waits for the relay to open the pipe, writes kFramesSent frames with blocking writes and
// ends the input by flush and disconnect, as the recorder's stop does.
DWORD WINAPI FeedFrames(void*)
{
    if (!::ConnectNamedPipe(g_feedPipe, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED) {
        return 1;
    }
    std::vector<BYTE> frame(kFrameBytes);
    for (int i = 0; i < kFramesSent; ++i) {
        std::fill(frame.begin(), frame.end(), static_cast<BYTE>(i * 20));
        DWORD done = 0;
        if (!::WriteFile(g_feedPipe, frame.data(), kFrameBytes, &done, nullptr)) {
            return 1;
        }
        ++g_framesWritten;
    }
    ::FlushFileBuffers(g_feedPipe);
    ::DisconnectNamedPipe(g_feedPipe);
    return 0;
}

// The sample count of the first "stsz" box (the video track's frames), or -1 without one.
// ffmpeg writes that box, in the movie box, only when it finishes the file.
long SampleCount(const std::string& mp4)
{
    const size_t box = mp4.find("stsz");
    if (box == std::string::npos || box + 16 > mp4.size()) {
        return -1;
    }
    long count = 0;
    for (size_t i = box + 12; i < box + 16; ++i) {
        count = (count << 8) | static_cast<unsigned char>(mp4[i]);
    }
    return count;
}

TEST(FfmpegRelay, RecordsEveryFrameSentIntoAFinishedMp4)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    // A space and characters outside any code page, as users' folders have them.
    const std::wstring output = std::wstring(temp) + L"nvr relay Zürich 東京 " +
                                std::to_wstring(::GetCurrentProcessId()) + L".mp4";
    wchar_t commandLine[kEncoderCommandCapacity];
    ASSERT_TRUE(BuildEncoderCommandLine(output, commandLine, kEncoderCommandCapacity));

    // A blocking pipe of the frame pipe's name: the relay reads it as it reads the recorder's.
    ScopedHandle pipe(
        ::CreateNamedPipeW(kFramePipeName, PIPE_ACCESS_OUTBOUND, 0, 1, 0, 0, 0, nullptr));
    ASSERT_TRUE(pipe.IsValid());
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(
        LaunchProcess(FindProgramBesideOrOnPath(kEncoderProgram).c_str(), commandLine, &started));
    ScopedHandle relay(started.hProcess);
    ScopedHandle relayThread(started.hThread);

    g_feedPipe = pipe.Get();
    ScopedHandle feeder(::CreateThread(nullptr, 0, FeedFrames, nullptr, 0, nullptr));
    ASSERT_TRUE(feeder.IsValid());
    const bool fed = ::WaitForSingleObject(feeder.Get(), 30000) == WAIT_OBJECT_0;
    if (!fed) {
        ::CancelSynchronousIo(feeder.Get()); // the connect or write the relay never took
    }
    EXPECT_TRUE(fed) << "the relay did not take the frames; it took " << g_framesWritten;
    pipe.Reset();

    DWORD exitCode = 99;
    if (::WaitForSingleObject(relay.Get(), 30000) != WAIT_OBJECT_0) {
        ::TerminateProcess(relay.Get(), 99);
    }
    ::GetExitCodeProcess(relay.Get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);

    std::ifstream file(std::filesystem::path(output), std::ios::binary);
    const std::string mp4((std::istreambuf_iterator<char>(file)), {});
    file.close();
    ::DeleteFileW(output.c_str());
    EXPECT_TRUE(mp4.size() > 8 && mp4.compare(4, 4, "ftyp") == 0) << mp4.size() << " bytes";
    EXPECT_EQ(SampleCount(mp4), kFramesSent);
}

} // namespace
