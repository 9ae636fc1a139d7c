// The ffmpeg.exe relay beside the test, started on the recorder's command lines and fed through
// the frame pipe as the recorder feeds an encoder: a short take must become a finished MP4
// holding every frame sent, its remux must put the index first and keep every frame, and a relay
// that is killed mid-take must leave the file unfinished, as a killed ffmpeg.exe does.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/ProgramSearch.h"
#include "platform/ScopedHandle.h"
#include "platform/SoundDevices.h"
#include "recording/EncoderCommand.h"
#include "recording/FramePipe.h"
#include "recording/Mp4Frames.h"
#include "recording/WavFile.h"
#include "sensor/Frame.h"

namespace {

constexpr int kFramesSent = 10;

// The fragmented MP4 that the recorder's encoder writes, ahead of the output path.
constexpr const wchar_t* kFragmentedCommandPrefix =
    L"ffmpeg.exe -y -f rawvideo -pixel_format bgra -video_size 640x480 -framerate 30 "
    L"-i \\\\.\\pipe\\vuduvazidozu -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 30 "
    L"-movflags +frag_keyframe+empty_moov+default_base_moof -frag_duration 1000000 \"";

// The feeding thread's pipe, goal and progress; file-level, as a stuck thread may outlive a test.
HANDLE g_feedPipe = nullptr;
int g_framesToSend = 0;
int g_framesWritten = 0;

// Waits for the relay to open the pipe, writes g_framesToSend frames with blocking writes and
// ends the input by flush and disconnect, as the recorder's stop does. The frames have fine
// detail, as a camera's have: each takes tens of kilobytes in the file, so ffmpeg's fragments
// outgrow its output buffer and reach the disk as they are made.
DWORD WINAPI FeedFrames(void*)
{
    if (!::ConnectNamedPipe(g_feedPipe, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED) {
        return 1;
    }
    std::vector<BYTE> frame(kFrameBytes);
    uint32_t noise = 1;
    for (int i = 0; i < g_framesToSend; ++i) {
        for (size_t at = 0; at < frame.size(); at += 64) {
            noise = noise * 1103515245u + 12345u;
            frame[at] = static_cast<BYTE>(noise >> 16);
        }
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

// A relay process, the frame pipe it reads and the thread that feeds the pipe.
struct FedRelay {
    ScopedHandle pipe;
    ScopedHandle process;
    ScopedHandle thread;
    DWORD processId = 0;
    ScopedHandle feeder;
};

// Starts the ffmpeg.exe beside the test on `commandLine`, as the recorder starts its encoder.
void StartRelay(const std::wstring& commandLine, PROCESS_INFORMATION& started)
{
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    ASSERT_TRUE(LaunchProcess(FindProgramBesideOrOnPath(kEncoderProgram).c_str(), writable.data(),
                              &started));
    ::ResumeThread(started.hThread); // started suspended, as for a job
}

// Creates the frame pipe, starts the relay on `commandLine` and a thread that feeds it `frames`
// frames.
void StartFedRelay(const std::wstring& commandLine, int frames, FedRelay& relay)
{
    // A blocking pipe of the frame pipe's name: the relay reads it as it reads the recorder's.
    relay.pipe.Reset(
        ::CreateNamedPipeW(kFramePipeName, PIPE_ACCESS_OUTBOUND, 0, 1, 0, 0, 0, nullptr));
    ASSERT_TRUE(relay.pipe.IsValid());
    PROCESS_INFORMATION started = {};
    ASSERT_NO_FATAL_FAILURE(StartRelay(commandLine, started));
    relay.process.Reset(started.hProcess);
    relay.thread.Reset(started.hThread);
    relay.processId = started.dwProcessId;
    g_feedPipe = relay.pipe.Get();
    g_framesToSend = frames;
    g_framesWritten = 0;
    relay.feeder.Reset(::CreateThread(nullptr, 0, FeedFrames, nullptr, 0, nullptr));
    ASSERT_TRUE(relay.feeder.IsValid());
}

// Waits up to `limitMs` for the feeder; a feeder that is still waiting has its connect or write
// cancelled. True when it fed every frame.
bool WaitForFeeder(FedRelay& relay, DWORD limitMs)
{
    const bool fed = ::WaitForSingleObject(relay.feeder.Get(), limitMs) == WAIT_OBJECT_0;
    if (!fed) {
        ::CancelSynchronousIo(relay.feeder.Get());
        ::WaitForSingleObject(relay.feeder.Get(), 5000);
    }
    relay.pipe.Reset();
    DWORD result = 1;
    ::GetExitCodeThread(relay.feeder.Get(), &result);
    return fed && result == 0;
}

// The exit code of a process, ended with 99 when it does not exit within `limitMs`.
DWORD WaitForExit(HANDLE process, DWORD limitMs)
{
    if (::WaitForSingleObject(process, limitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process, 99);
        ::WaitForSingleObject(process, 5000);
    }
    DWORD exitCode = 99;
    ::GetExitCodeProcess(process, &exitCode);
    return exitCode;
}

// Records `frames` frames into `output` with the relay on `prefix` + output; its exit code.
DWORD RecordTake(const wchar_t* prefix, const std::wstring& output, int frames)
{
    FedRelay relay;
    StartFedRelay(prefix + output + L"\"", frames, relay);
    const bool fed = WaitForFeeder(relay, 30000);
    EXPECT_TRUE(fed) << "the relay did not take the frames; it took " << g_framesWritten;
    return WaitForExit(relay.process.Get(), 30000);
}

std::string ReadWholeFile(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

uint32_t BigEndian32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

// The boxes of an MP4 between `begin` and `end`, as (type, offset of the box, its size); a box
// cut short by the end of a truncated file ends the list.
struct Box {
    std::string type;
    size_t offset;
    size_t size;
};

std::vector<Box> BoxesIn(const std::string& mp4, size_t begin, size_t end)
{
    std::vector<Box> boxes;
    for (size_t at = begin; at + 8 <= end;) {
        const size_t size = BigEndian32(mp4, at);
        if (size < 8 || size > end - at) {
            break;
        }
        boxes.push_back(Box{mp4.substr(at + 4, 4), at, size});
        at += size;
    }
    return boxes;
}

// The video frames that an MP4 indexes: the first track's sample count in a plain file (`stsz`,
// written when ffmpeg finishes), the samples of every fragment's `trun` in a fragmented one.
long FrameCount(const std::string& mp4, size_t begin = 0, size_t end = std::string::npos)
{
    const std::string containers[] = {"moov", "trak", "mdia", "minf", "stbl", "moof", "traf"};
    long frames = 0;
    for (const Box& box : BoxesIn(mp4, begin, std::min(end, mp4.size()))) {
        if (box.type == "stsz" && box.size >= 20) {
            return BigEndian32(mp4, box.offset + 16);
        }
        if (box.type == "trun" && box.size >= 16) {
            frames += BigEndian32(mp4, box.offset + 12);
        } else if (std::find(std::begin(containers), std::end(containers), box.type) !=
                   std::end(containers)) {
            frames += FrameCount(mp4, box.offset + 8, box.offset + box.size);
        }
    }
    return frames;
}

std::vector<std::string> TopLevelBoxTypes(const std::string& mp4)
{
    std::vector<std::string> types;
    for (const Box& box : BoxesIn(mp4, 0, mp4.size())) {
        types.push_back(box.type);
    }
    return types;
}

std::string Joined(const std::vector<std::string>& types)
{
    std::string text;
    for (const std::string& type : types) {
        text += type + ' ';
    }
    return text;
}

std::wstring TempFile(const std::wstring& name)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name + L" " + std::to_wstring(::GetCurrentProcessId());
}

TEST(FfmpegRelay, RecordsEveryFrameSentIntoAFinishedMp4)
{
    // A space and characters outside any code page, as users' folders have them.
    const std::wstring output = TempFile(L"nvr relay Zürich 東京") + L".mp4";
    wchar_t commandLine[kEncoderCommandCapacity];
    ASSERT_TRUE(BuildEncoderCommandLine(output, commandLine, kEncoderCommandCapacity));

    FedRelay relay;
    ASSERT_NO_FATAL_FAILURE(StartFedRelay(commandLine, kFramesSent, relay));
    EXPECT_TRUE(WaitForFeeder(relay, 30000))
        << "the relay did not take the frames; it took " << g_framesWritten;
    EXPECT_EQ(WaitForExit(relay.process.Get(), 30000), 0u);

    const std::string mp4 = ReadWholeFile(output);
    ::DeleteFileW(output.c_str());
    EXPECT_TRUE(mp4.size() > 8 && mp4.compare(4, 4, "ftyp") == 0) << mp4.size() << " bytes";
    EXPECT_EQ(FrameCount(mp4), kFramesSent);
}

// The recorder's stop: a fragmented take, finished, then rewritten by the same ffmpeg.exe with
// the index first.
TEST(FfmpegRelay, RemuxOfARecordedTakePutsTheIndexFirstWithEveryFrame)
{
    const std::wstring take = TempFile(L"nvr relay take") + L".mp4";
    const std::wstring remuxed = TempFile(L"nvr relay remuxed") + L".mp4";
    EXPECT_EQ(RecordTake(kFragmentedCommandPrefix, take, kFramesSent), 0u);
    const std::string fragmented = ReadWholeFile(take);
    const std::vector<std::string> takeBoxes = TopLevelBoxTypes(fragmented);
    EXPECT_EQ(FrameCount(fragmented), kFramesSent) << Joined(takeBoxes);
    EXPECT_EQ(std::count(takeBoxes.begin(), takeBoxes.end(), "mfra"), 1)
        << "ffmpeg did not finish the take: " << Joined(takeBoxes);

    PROCESS_INFORMATION started = {};
    ASSERT_NO_FATAL_FAILURE(StartRelay(L"ffmpeg.exe -nostdin -y -i \"" + take +
                                           L"\" -c copy -movflags +faststart \"" + remuxed + L"\"",
                                       started));
    ScopedHandle process(started.hProcess);
    ScopedHandle thread(started.hThread);
    EXPECT_EQ(WaitForExit(process.Get(), 60000), 0u);

    const std::string mp4 = ReadWholeFile(remuxed);
    ::DeleteFileW(take.c_str());
    ::DeleteFileW(remuxed.c_str());
    const std::vector<std::string> boxes = TopLevelBoxTypes(mp4);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    EXPECT_TRUE(!boxes.empty() && boxes[0] == "ftyp" && moov < mdat && mdat != boxes.end())
        << Joined(boxes);
    EXPECT_EQ(FrameCount(mp4), kFramesSent) << Joined(boxes);
}

// The rewrite after a take with sound: the relay hands Debian's ffmpeg both files, and the copy
// gets an AAC track beside every video frame.
TEST(FfmpegRelay, RewriteWithTheTakesSoundAddsAnAacTrack)
{
    const std::wstring take = TempFile(L"nvr relay sound take") + L".mp4";
    const std::wstring wavPath = TempFile(L"nvr relay sound") + L".wav";
    const std::wstring rewritten = TempFile(L"nvr relay with sound") + L".mp4";
    EXPECT_EQ(RecordTake(kFragmentedCommandPrefix, take, kFramesSent), 0u);
    WAVEFORMATEXTENSIBLE format = {};
    format.Format = {WAVE_FORMAT_EXTENSIBLE, 4, 16000, 16000 * 16, 16, 32, 22};
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = DefaultChannelMask(4);
    format.SubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}};
    WavFile wav;
    ASSERT_TRUE(WavFileCreate(wav, wavPath, format));
    const std::vector<float> tone(16000 * 4, 0.5f);
    ASSERT_TRUE(WavFileWrite(wav, tone.data(), tone.size() * sizeof(float)));
    ASSERT_TRUE(WavFileClose(wav));

    RewriteSound sound{wavPath, 16000, 4, 16032.0, -5.0, true, kFramesSent};
    std::wstring line;
    ASSERT_TRUE(BuildRewriteCommandLine(take, rewritten, line, &sound));
    PROCESS_INFORMATION started = {};
    ASSERT_NO_FATAL_FAILURE(StartRelay(line, started));
    ScopedHandle process(started.hProcess);
    ScopedHandle thread(started.hThread);
    EXPECT_EQ(WaitForExit(process.Get(), 60000), 0u);
    const std::string mp4 = ReadWholeFile(rewritten);
    Mp4FrameCount video; // the recorder's own check of the copy: the video track's frames
    EXPECT_TRUE(CountMp4FileFrames(rewritten, video) && video.indexBeforeMedia);
    for (const std::wstring& path : {take, wavPath, rewritten}) {
        ::DeleteFileW(path.c_str());
    }
    EXPECT_EQ(video.frames, static_cast<uint64_t>(kFramesSent));
    EXPECT_NE(mp4.find("soun"), std::string::npos);
    EXPECT_NE(mp4.find("mp4a"), std::string::npos);
}

// The helper folder (Z:\tmp\nvr-relay-PID-...) of relay process `relayId` whose script names
// `outputName`; empty when there is none. Other test runs' relays, in Wine prefixes of their own,
// may have the same process id and share Linux /tmp.
std::wstring HelperFolderOf(DWORD relayId, const std::string& outputName)
{
    const std::wstring pattern = L"Z:\\tmp\\nvr-relay-" + std::to_wstring(relayId) + L"-*";
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    std::wstring folder;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more && folder.empty();
         more = ::FindNextFileW(search, &found)) {
        const std::wstring candidate = std::wstring(L"Z:\\tmp\\") + found.cFileName;
        if (ReadWholeFile(candidate + L"\\run.sh").find(outputName) != std::string::npos) {
            folder = candidate;
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
    }
    return folder;
}

// Waits up to `limitMs` for `folder` to go: the relay's Linux side removes it once ffmpeg has
// ended. True when it has gone.
bool WaitUntilGone(const std::wstring& folder, DWORD limitMs)
{
    const ULONGLONG start = ::GetTickCount64();
    while (::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (::GetTickCount64() - start >= limitMs) {
            return false;
        }
        ::Sleep(100);
    }
    return true;
}

// The recorder ends an encoder that stopped taking frames: like a killed ffmpeg.exe, the relay's
// ffmpeg must write nothing more, so the fragmented file keeps the fragments on disk and stays
// without its closing index (mfra).
TEST(FfmpegRelay, TerminatedRelayLeavesItsTakeUnfinished)
{
    const std::string outputName = "nvr relay killed " + std::to_string(::GetCurrentProcessId());
    const std::wstring output = TempFile(L"nvr relay killed") + L".mp4";
    const std::wstring record = TempFile(L"nvr relay record") + L".txt";
    ::DeleteFileW(record.c_str());
    ::SetEnvironmentVariableW(L"NVR_RELAY_FAULT", L"stall");
    ::SetEnvironmentVariableW(L"NVR_RELAY_RECORD", record.c_str());
    FedRelay relay;
    StartFedRelay(kFragmentedCommandPrefix + output + L"\"", 200, relay);
    ::SetEnvironmentVariableW(L"NVR_RELAY_FAULT", nullptr);
    ::SetEnvironmentVariableW(L"NVR_RELAY_RECORD", nullptr);
    ASSERT_TRUE(relay.process.IsValid());

    // The stall writes the run's record when it begins.
    const ULONGLONG start = ::GetTickCount64();
    while (ReadWholeFile(record).empty() && ::GetTickCount64() - start < 30000) {
        ::Sleep(50);
    }
    const std::string stallRecord = ReadWholeFile(record);
    EXPECT_NE(stallRecord.find(" frames=60 "), std::string::npos) << stallRecord;
    const std::wstring helperFolder = HelperFolderOf(relay.processId, outputName);
    EXPECT_FALSE(helperFolder.empty());
    // Terminated only once ffmpeg has written a fragment of the frames that the relay passed on.
    const auto fragments = [&output] {
        const std::vector<std::string> boxes = TopLevelBoxTypes(ReadWholeFile(output));
        return std::count(boxes.begin(), boxes.end(), "moof");
    };
    while (fragments() == 0 && ::GetTickCount64() - start < 45000) {
        ::Sleep(50);
    }
    ::TerminateProcess(relay.process.Get(), 1);
    EXPECT_EQ(WaitForExit(relay.process.Get(), 10000), 1u);
    WaitForFeeder(relay, 5000);
    EXPECT_TRUE(helperFolder.empty() || WaitUntilGone(helperFolder, 15000))
        << "ffmpeg has not ended";

    const std::string mp4 = ReadWholeFile(output);
    ::DeleteFileW(output.c_str());
    ::DeleteFileW(record.c_str());
    const std::vector<std::string> boxes = TopLevelBoxTypes(mp4);
    EXPECT_TRUE(!boxes.empty() && boxes[0] == "ftyp" &&
                std::count(boxes.begin(), boxes.end(), "moof") > 0)
        << mp4.size() << " bytes: " << Joined(boxes);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "mfra"), 0) << Joined(boxes);
}

} // namespace
