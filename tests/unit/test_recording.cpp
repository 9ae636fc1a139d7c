// Recording start and stop against stand-in encoders: a launcher seam starts, instead of a
// process, a thread of this test that plays the encoder's part on the frame pipe.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/HostClock.h"
#include "platform/Platform.h"
#include "platform/ScopedHandle.h"
#include "recording/FramePipe.h"
#include "recording/IsoTime.h"
#include "recording/Recording.h"
#include "settings/Settings.h"
#include "tests/support/FakeSoundDevice.h"
#include "tests/support/FramePipeClient.h"

namespace {

enum class EncoderPart {
    Reads,      // opens the pipe, reads to the end, then "exits"
    NeverOpens, // exits at once without opening the pipe
    OpensEarly, // opens the pipe before the recorder waits for it
    Pauses,     // reads 10 frames, takes nothing for 3 s, then reads to the end
    Lingers,    // reads to the end, then takes 2 s to "exit"
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
        while (ReadWholeFrame(pipe, frame.data())) {
            if (log->framesRead.fetch_add(1) == 9 && part == EncoderPart::Pauses) {
                ::Sleep(3000);
            }
        }
        log->sawEnd.store(true);
        ::CloseHandle(pipe);
    }
    if (part == EncoderPart::Lingers) {
        ::Sleep(2000);
    }
    ::SetEvent(exited);
}

BOOL StandInLauncher(const wchar_t*, wchar_t* commandLine, PROCESS_INFORMATION* process)
{
    if (std::wstring(commandLine).find(L"+faststart") != std::wstring::npos) {
        return FALSE; // the rewrite of a file that is no video
    }
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
std::wstring g_appData;

class Recording : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"nvr-recording-test-" +
                   std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++s_counter);
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        g_appData = m_folder;
        SetAppDataFolderQuery([](std::wstring& folder) {
            folder = g_appData;
            return true;
        });
        SetLocalTimeQuery([](SYSTEMTIME* time) { *time = g_clock; });
        SetProcessLauncher(StandInLauncher);
        g_clientProcessId = ::GetCurrentProcessId();
        g_part = EncoderPart::Reads;
        g_log = &m_log;
        g_launches = 0;
        g_clock = SYSTEMTIME{2024, 3, 2, 5, 11, 58, 0, 0};
    }

    void TearDown() override
    {
        Stop();
        for (std::thread& thread : g_encoderThreads) {
            thread.join();
        }
        g_encoderThreads.clear();
        SetProcessLauncher(nullptr);
        SetLocalTimeQuery(nullptr);
        SetAppDataFolderQuery(nullptr);
        SetFreeDiskSpaceQuery(nullptr);
    }

    // Stops the take and waits until its files have their names.
    static void Stop()
    {
        StopRecording();
        EXPECT_TRUE(AwaitFinishingTakes(30000));
    }

    static bool Start(const std::wstring& path, bool skeletons = false)
    {
        return StartRecording(path, skeletons) == StartResult::Started;
    }

    std::wstring Path(const wchar_t* name) const { return m_folder + L"\\" + name; }

    // The pipe name is free again: nothing of a failed or finished recording holds it.
    static bool PipeNameIsFree() { return ScopedHandle(CreateFramePipe()).IsValid(); }

    static void ExpectIdle()
    {
        EXPECT_FALSE(IsRecording());
        EXPECT_TRUE(PipeNameIsFree());
    }

    EncoderLog m_log;
    std::wstring m_folder;
    static int s_counter;
};

int Recording::s_counter = 0;

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A colour frame as the render thread hands it on, fetched in its pass (a black picture).
RenderedFrame HandFedFrame()
{
    static BYTE pixels[kFrameBytes];
    RenderedFrame frame = {};
    frame.pixels = pixels;
    frame.fetchedThisPass = true;
    return frame;
}

// The render thread's part: `count` new colour frames at the sensor's 30 a second.
void FeedNewFrames(int count)
{
    static uint64_t sequence = 0;
    for (int i = 0; i < count; ++i) {
        RenderedFrame frame = HandFedFrame();
        frame.sequence = ++sequence;
        frame.takenTicks = HostTicks();
        FeedRecording(frame);
        ::Sleep(34);
    }
}

// What the encoder would have written: the file holds `text` alone.
void WriteTextFile(const std::wstring& path, const std::string& text)
{
    std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc) << text;
}

std::string ReadTextFile(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST_F(Recording, RunsFromConnectionToStopAndEndsUnderItsFinalName)
{
    std::wstring path = Path(L"take.mp4");
    ASSERT_TRUE(Start(path));
    EXPECT_TRUE(IsRecording());
    FeedNewFrames(3);
    WriteTextFile(path, "video"); // what the encoder would have written

    g_clock = SYSTEMTIME{2024, 3, 2, 5, 12, 3, 0, 0};
    Stop();
    ExpectIdle();
    EXPECT_EQ(m_log.framesRead.load(), 3);
    EXPECT_TRUE(m_log.sawEnd.load());
    std::wstring finalName = path + L"_2024-03-05__11-58AM_to_12-03PM.mp4";
    EXPECT_TRUE(FileExists(finalName));
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(ReadLastPath(), finalName);
    // Once the take has ended nothing more is taken.
    FeedNewFrames(1);
}

TEST_F(Recording, SecondRecordingOfTheSameMinutesKeepsItsStartName)
{
    std::wstring path = Path(L"same.mp4");
    std::wstring finalName = path + L"_2024-03-05__11-58AM_to_11-58AM.mp4";
    for (const char* content : {"first", "second"}) {
        ASSERT_TRUE(Start(path));
        WriteTextFile(path, content);
        Stop();
        ExpectIdle();
    }
    // The first file is untouched; the second stays at the start path, which LastPath names.
    EXPECT_EQ(ReadTextFile(finalName), "first");
    EXPECT_EQ(ReadTextFile(path), "second");
    EXPECT_EQ(ReadLastPath(), path);
}

TEST_F(Recording, TheTakesFilesMoveTogetherOrNotAtAll)
{
    const std::wstring path = Path(L"pair.mp4");
    const std::wstring skeletons = Path(L"pair.skeleton.csv");
    const std::wstring finalName = path + L"_2024-03-05__11-58AM_to_11-58AM.mp4";
    const std::wstring finalSkeletons = path + L"_2024-03-05__11-58AM_to_11-58AM.skeleton.csv";
    // A stale file holds the skeleton file's final name: both keep their start names.
    WriteTextFile(finalSkeletons, "stale");
    ASSERT_TRUE(Start(path, true));
    WriteTextFile(path, "video");
    Stop();
    EXPECT_EQ(ReadTextFile(path), "video");
    EXPECT_TRUE(FileExists(skeletons));
    EXPECT_FALSE(FileExists(finalName));
    EXPECT_EQ(ReadTextFile(finalSkeletons), "stale");
    EXPECT_EQ(ReadLastPath(), path);

    // With the name free, both move.
    ::DeleteFileW(finalSkeletons.c_str());
    ASSERT_TRUE(Start(path, true));
    Stop();
    EXPECT_TRUE(FileExists(finalName));
    EXPECT_TRUE(FileExists(finalSkeletons));
    EXPECT_FALSE(FileExists(path) || FileExists(skeletons));
    EXPECT_EQ(ReadLastPath(), finalName);
}

// A take with sound, from a device through the capture seam: its sound file starts with the
// video, moves with the take's other files and is described in the take file; a device that
// is absent at the start leaves the take without sound, and the take goes on.
TEST_F(Recording, SoundIsRecordedWithTheTakeAndAnAbsentDeviceLeavesItWithout)
{
    SetSoundCaptureOpener(fake_sound::OpenFakeSound);
    const std::wstring path = Path(L"voice.mp4");
    const std::wstring stem = path + L"_2024-03-05__11-58AM_to_11-58AM";
    ASSERT_EQ(StartRecording(path, false, false, TakeSound{L"{fake}", L"Fake Mic"}),
              StartResult::Started);
    FeedNewFrames(30);
    const TakeSoundStatus status = CurrentTakeSound();
    EXPECT_TRUE(status.chosen && !status.missingAtStart && !status.deviceGone);
    EXPECT_EQ(status.deviceName, L"Fake Mic");
    WriteTextFile(path, "video");
    Stop();
    EXPECT_FALSE(CurrentTakeSound().chosen);
    EXPECT_TRUE(FileExists(stem + L".mp4") && FileExists(stem + L".frames.csv"));
    std::string json = ReadTextFile(stem + L".take.json");
    EXPECT_NE(
        json.find("\"sound\": {\"file\": \"voice.mp4_2024-03-05__11-58AM_to_11-58AM.sound.wav\", "
                  "\"device\": \"Fake Mic\", \"endpoint_id\": \"{fake}\""),
        std::string::npos)
        << json;
    EXPECT_NE(json.find("\"channels\": 4, \"sample_rate\": 16000, \"sample_format\": \"f32le\""),
              std::string::npos);
    // About the second of frames fed, from frame 0 on.
    const size_t samples = json.find("\"samples\": ");
    ASSERT_NE(samples, std::string::npos);
    EXPECT_NEAR(std::stod(json.substr(samples + 11)), 16000.0, 2400.0);
    uint64_t bytes = 0;
    EXPECT_TRUE(QueryFileSize(stem + L".sound.wav", bytes) && bytes > 100000);

    fake_sound::g_absent.store(true);
    ASSERT_EQ(StartRecording(path, false, false, TakeSound{L"{fake}", L"Fake Mic"}),
              StartResult::Started);
    EXPECT_TRUE(CurrentTakeSound().missingAtStart);
    FeedNewFrames(3);
    WriteTextFile(path, "video");
    g_clock.wMinute = 59;
    Stop();
    fake_sound::g_absent.store(false);
    SetSoundCaptureOpener(nullptr);
    const std::wstring second = path + L"_2024-03-05__11-58AM_to_11-59AM";
    EXPECT_TRUE(FileExists(second + L".mp4"));
    EXPECT_FALSE(FileExists(second + L".sound.wav"));
    json = ReadTextFile(second + L".take.json");
    EXPECT_NE(json.find("\"sound\": {\"file\": null, \"device\": \"Fake Mic\", \"endpoint_id\": "
                        "\"{fake}\", \"missing_at_start\": true}"),
              std::string::npos)
        << json;
}

TEST_F(Recording, ABareNameIsRecordedAndNamedWhereTheCurrentFolderWasAtStart)
{
    wchar_t before[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, before);
    ::SetCurrentDirectoryW(m_folder.c_str());
    const std::wstring path = FullPathOf(L"bare.mp4");
    EXPECT_EQ(path, Path(L"bare.mp4"));
    ASSERT_TRUE(Start(path));
    WriteTextFile(path, "video");
    // As Windows' Save dialog does unless told not to.
    ::SetCurrentDirectoryW(before);
    Stop();
    EXPECT_EQ(ReadTextFile(Path(L"bare.mp4_2024-03-05__11-58AM_to_11-58AM.mp4")), "video");
    EXPECT_EQ(ReadLastPath(), Path(L"bare.mp4_2024-03-05__11-58AM_to_11-58AM.mp4"));
}

uint64_t g_freeBytes = 0;
std::atomic<int> g_readings{0};

// The disk watch's verdict on a reading that began after this call (readings come at most once
// a second, off this thread).
bool DiskFullOnNextReading()
{
    const int seen = g_readings.load();
    for (int waited = 0; g_readings.load() < seen + 2 && waited < 4000; waited += 20) {
        IsTakeDiskFull();
        ::Sleep(20);
    }
    return IsTakeDiskFull();
}

TEST_F(Recording, TheDiskIsWatchedAtStartAndWhileTheTakeRuns)
{
    SetFreeDiskSpaceQuery([](const std::wstring&, uint64_t& freeBytes) {
        freeBytes = g_freeBytes;
        g_readings.fetch_add(1);
        return true;
    });
    g_freeBytes = kStartFreeBytes - 1;
    EXPECT_EQ(StartRecording(Path(L"full.mp4")), StartResult::NotEnoughSpace);
    EXPECT_EQ(g_launches.load(), 0);
    ExpectIdle();

    g_freeBytes = kStartFreeBytes;
    ASSERT_TRUE(Start(Path(L"filling.mp4")));
    g_freeBytes = kTakeFreeBytes;
    EXPECT_FALSE(DiskFullOnNextReading());
    g_freeBytes = kTakeFreeBytes - 1;
    EXPECT_TRUE(DiskFullOnNextReading());
    Stop();
    EXPECT_FALSE(IsTakeDiskFull());
}

TEST_F(Recording, ATakeBeingSavedIsSafeFromTheNextTakeToItsPath)
{
    // Its encoder takes 2 s to finish the file: meanwhile a take to the same path (in any case)
    // would write over its files and does not start; one to another path does.
    g_part = EncoderPart::Lingers;
    const std::wstring path = Path(L"again.mp4");
    ASSERT_TRUE(Start(path, true));
    FeedNewFrames(3);
    WriteTextFile(path, "first");
    StopRecording();
    EXPECT_EQ(StartRecording(Path(L"AGAIN.mp4")), StartResult::StillSaving);
    EXPECT_EQ(StartRecording(path, true), StartResult::StillSaving);
    EXPECT_EQ(ReadTextFile(path), "first");
    g_part = EncoderPart::Reads;
    ASSERT_TRUE(Start(Path(L"other.mp4")));
    Stop();
    EXPECT_FALSE(IsSavingTakeTo(path));
    const std::wstring finalName = path + L"_2024-03-05__11-58AM_to_11-58AM";
    EXPECT_EQ(ReadTextFile(finalName + L".mp4"), "first");
    EXPECT_NE(ReadTextFile(finalName + L".skeleton.csv"), "");
    EXPECT_TRUE(Start(path));
    Stop();
}

TEST_F(Recording, FramesAPausedEncoderCouldNotTakeAreCountedOnceEach)
{
    // 3 s without reading is more than the queue holds: frames are dropped, each counted once,
    // so the video's frames and the dropped ones add up to the take's timeline.
    g_part = EncoderPart::Pauses;
    ASSERT_TRUE(Start(Path(L"paused.mp4")));
    const auto began = std::chrono::steady_clock::now();
    FeedNewFrames(150);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ::Sleep(1000); // the encoder catches up with what is queued
    const TakeCounts counts = CurrentTakeCounts();
    Stop();
    EXPECT_GT(counts.dropped, 0);
    EXPECT_EQ(counts.frames, m_log.framesRead.load());
    EXPECT_NEAR(static_cast<double>(counts.frames + counts.dropped), seconds * 30, 3.0);
}

// A time without the sensor, from when it went away to its first new picture, which ends it
// even when the full queue of a paused encoder drops that picture.
TEST_F(Recording, TheTakeFileListsTheTimeWithoutTheSensor)
{
    g_part = EncoderPart::Pauses;
    const std::wstring path = Path(L"gap.mp4");
    ASSERT_TRUE(Start(path, true));
    RenderedFrame frame = HandFedFrame();
    const uint64_t base = PreciseUtcNow() - 3600ull * 10000000;
    const auto feed = [&](int count, bool missing) {
        for (int i = 0; i < count; ++i, ::Sleep(34)) {
            frame.sequence += missing ? 0 : 1;
            frame.takenAt = missing ? frame.takenAt : base + frame.sequence * 10000000;
            FeedRecording(frame);
        }
    };
    feed(3, false);
    // The fourth picture was fetched by a pass that queued nothing; the sensor went away before
    // the next pass queued it: it is live, and the time without the sensor begins after it.
    ++frame.sequence;
    frame.takenAt = base + frame.sequence * 10000000;
    frame.sensorMissingSince = PreciseUtcNow();
    const uint64_t missingSince = frame.sensorMissingSince;
    feed(60, true);
    frame.sensorMissingSince = 0;
    feed(45, false);
    WriteTextFile(path, "video");
    Stop();
    const std::string json =
        ReadTextFile(path + L"_2024-03-05__11-58AM_to_11-58AM" + kTakeInfoSuffix);
    const std::string entry = "\"sensor_missing\": [\r\n    {\"start\": \"" +
                              FormatIsoLocalTime(missingSince) + "\", \"end\": \"" +
                              FormatIsoLocalTime(base + 5 * 10000000ull) + "\", \"first_frame\": ";
    ASSERT_NE(json.find(entry), std::string::npos) << json;
    // The only entry: the list closes after it.
    EXPECT_EQ(json.find("}", json.find(entry)), json.find("}\r\n  ],", json.find(entry))) << json;
    EXPECT_EQ(json.substr(json.find(entry) + entry.size(), 2), "4,") << json;
}

// The seconds of an ISO time's "HH:MM:SS.mmm" after `key` in `json`, within its day.
double SecondsOfDayAfter(const std::string& json, const std::string& key)
{
    const std::size_t at = json.find('T', json.find(key)) + 1;
    return std::stoi(json.substr(at, 2)) * 3600.0 + std::stoi(json.substr(at + 3, 2)) * 60.0 +
           std::stod(json.substr(at + 6, 6));
}

// The frames' host times keep the counter's steps while the system time leaps a second a frame
// (a clock being corrected): they line up with the take's sound and a lab's clock.
TEST_F(Recording, HostTimesFollowTheCounterWhateverTheSystemTimeDoes)
{
    const std::wstring path = Path(L"leaps.mp4");
    ASSERT_TRUE(Start(path, true));
    RenderedFrame frame = HandFedFrame();
    for (int i = 0; i < 10; ++i, ::Sleep(34)) {
        ++frame.sequence;
        frame.takenTicks = HostTicks();
        frame.takenAt = PreciseUtcNow() + frame.sequence * 10000000ull;
        FeedRecording(frame);
    }
    WriteTextFile(path, "video");
    Stop();
    const std::string json =
        ReadTextFile(path + L"_2024-03-05__11-58AM_to_11-58AM" + kTakeInfoSuffix);
    ASSERT_NE(json.find("\"end\""), std::string::npos) << json;
    const double seconds = std::fmod(
        SecondsOfDayAfter(json, "\"end\"") - SecondsOfDayAfter(json, "\"start\"") + 86400.0,
        86400.0);
    EXPECT_NEAR(seconds, 9 * 0.034, 0.2) << json;
}

TEST_F(Recording, EncoderThatConnectsEarlyCounts)
{
    g_part = EncoderPart::OpensEarly;
    ASSERT_TRUE(Start(Path(L"early.mp4")));
    Stop();
    ExpectIdle();
}

TEST_F(Recording, FailedStartsLeaveNothingBehind)
{
    // A double quote would end the quoted path: nothing is even started.
    EXPECT_FALSE(Start(Path(L"a\" -f null \"b.mp4")));
    EXPECT_EQ(g_launches.load(), 0);
    ExpectIdle();

    // No encoder to be found: the skeleton and frames files the start made are removed; an
    // earlier take's take file, which it never opened, stays.
    WriteTextFile(Path(L"none.take.json"), "earlier");
    SetProcessLauncher(FailingLauncher);
    EXPECT_FALSE(Start(Path(L"none.mp4"), true));
    ExpectIdle();
    SetProcessLauncher(StandInLauncher);
    EXPECT_FALSE(FileExists(Path(L"none.skeleton.csv")) || FileExists(Path(L"none.frames.csv")));
    EXPECT_EQ(ReadTextFile(Path(L"none.take.json")), "earlier");

    // An encoder that exits without opening the pipe fails the start at once, not after the
    // connection time-out.
    g_part = EncoderPart::NeverOpens;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(Start(Path(L"exits.mp4")));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    ExpectIdle();

    // A client that is not the started encoder is refused.
    g_part = EncoderPart::Reads;
    g_clientProcessId = ::GetCurrentProcessId() + 4;
    EXPECT_FALSE(Start(Path(L"stranger.mp4")));
    ExpectIdle();

    // A start after all that succeeds.
    g_clientProcessId = ::GetCurrentProcessId();
    EXPECT_TRUE(Start(Path(L"after.mp4")));
    Stop();
    ExpectIdle();
}

} // namespace
