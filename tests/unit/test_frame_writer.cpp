// The take's frame queue and writer thread against a stand-in encoder on the other end of the
// frame pipe: what a full queue does, and how the stop ends with an encoder that takes
// everything, one that is slow and one that stalls.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/HostClock.h"
#include "recording/FramePipe.h"
#include "recording/FrameQueue.h"
#include "recording/FrameWriter.h"
#include "sensor/Frame.h"
#include "tests/support/FramePipeClient.h"

namespace {

using Clock = std::chrono::steady_clock;

// How much earlier than the rest frame 0's picture was taken: the last picture before a take.
constexpr double kFrameZeroEarlyMs = 40.0;

// A frame whose first bytes carry `number`, its picture taken 30 a second after frame 0's, which
// came kFrameZeroEarlyMs early.
RenderedFrame NumberedFrame(std::vector<BYTE>& pixels, uint32_t number)
{
    pixels.assign(kFrameBytes, 0);
    std::memcpy(pixels.data(), &number, sizeof(number));
    RenderedFrame frame = {};
    frame.pixels = pixels.data();
    frame.sequence = number;
    frame.fetchedThisPass = true;
    frame.colorFrameNumber = number;
    const int64_t perSecond = HostTicksPerSecond();
    frame.takenTicks =
        perSecond * 100 + number * perSecond / 30 +
        (number > 0 ? static_cast<int64_t>(kFrameZeroEarlyMs) * perSecond / 1000 : 0);
    return frame;
}

// Puts frame `number` as `copies` video frames.
bool Put(FrameQueue& queue, std::vector<BYTE>& pixels, uint32_t number, int copies)
{
    const RenderedFrame frame = NumberedFrame(pixels, number);
    return FrameQueuePut(queue, frame, frame.pixels, copies);
}

// What a writer did with `frames` numbered frames for an encoder that reads whole frames,
// pausing `pauseMs` after each, and after `stallAfter` frames stops reading but keeps the pipe
// open until the writer has finished.
struct WriterRun {
    FrameWriterResult result;
    std::vector<uint32_t> numbersRead;
    double finishSeconds = 0;
};

WriterRun RunWriter(DWORD pauseMs, size_t stallAfter, uint32_t frames,
                    const EncoderLostReport& report = EncoderLostReport{},
                    const std::function<void()>& beforeFinish = [] {})
{
    WriterRun run;
    auto queue = std::make_shared<FrameQueue>();
    EXPECT_TRUE(FrameQueueOpen(*queue, kFrameQueueSlots));
    HANDLE pipe = CreateFramePipe();
    FramePipeConnect wait;
    EXPECT_TRUE(BeginFramePipeConnect(pipe, wait));
    std::atomic<bool> finished{false};
    std::thread encoder([&] {
        HANDLE client = OpenFramePipeClient(5000);
        std::vector<BYTE> frame(kFrameBytes);
        while (run.numbersRead.size() < stallAfter && ReadWholeFrame(client, frame.data())) {
            uint32_t number = 0;
            std::memcpy(&number, frame.data(), sizeof(number));
            run.numbersRead.push_back(number);
            ::Sleep(pauseMs);
        }
        while (!finished.load()) {
            ::Sleep(10);
        }
        ::CloseHandle(client);
    });
    HANDLE neverEnds = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool abandoned = false;
    EXPECT_TRUE(FinishFramePipeConnect(pipe, wait, neverEnds, 5000, abandoned));
    ::CloseHandle(neverEnds);
    std::shared_ptr<FrameWriter> writer = FrameWriterStart(queue, pipe, report, FrameRowFiles{});
    std::vector<BYTE> pixels;
    for (uint32_t number = 0; number < frames; ++number) {
        EXPECT_TRUE(Put(*queue, pixels, number, 1));
    }
    beforeFinish();
    const Clock::time_point began = Clock::now();
    run.result = FrameWriterFinish(*writer);
    run.finishSeconds = std::chrono::duration<double>(Clock::now() - began).count();
    finished.store(true);
    ::DisconnectNamedPipe(pipe);
    ::CloseHandle(pipe);
    encoder.join();
    return run;
}

TEST(FrameQueue, AFullQueueDropsAndCountsAndTheWriterGetsTheRestInOrder)
{
    auto queue = std::make_shared<FrameQueue>();
    ASSERT_TRUE(FrameQueueOpen(*queue, 3));
    std::vector<BYTE> pixels;
    EXPECT_TRUE(Put(*queue, pixels, 1, 1));
    EXPECT_TRUE(Put(*queue, pixels, 2, 2)); // the newest, repeated
    EXPECT_TRUE(Put(*queue, pixels, 3, 1));
    EXPECT_FALSE(Put(*queue, pixels, 4, 3));
    EXPECT_EQ(FrameQueueDropped(*queue), 3);
    EXPECT_EQ(FrameQueueQueuedFrames(*queue), 4);

    QueuedFrame* front = FrameQueueFront(*queue, 0);
    ASSERT_NE(front, nullptr);
    EXPECT_EQ(front->colorFrameNumber, 1u);
    FrameQueuePop(*queue);
    EXPECT_TRUE(Put(*queue, pixels, 5, 1)); // a slot came free
    for (uint32_t expected : {2u, 3u, 5u}) {
        front = FrameQueueFront(*queue, 0);
        ASSERT_NE(front, nullptr);
        uint32_t number = 0;
        std::memcpy(&number, front->pixels, sizeof(number));
        EXPECT_EQ(number, expected);
        FrameQueuePop(*queue);
    }
    EXPECT_EQ(FrameQueueFront(*queue, 10), nullptr);
}

TEST(FrameWriter, AnEncoderThatTakesEveryFrameFastOrSlowlyGetsThemAllInOrder)
{
    std::vector<uint32_t> all(20);
    std::iota(all.begin(), all.end(), 0u);
    // 150 ms a frame: far below 30 a second, yet always taking bytes.
    for (DWORD pauseMs : {0u, 150u}) {
        const WriterRun run = RunWriter(pauseMs, SIZE_MAX, 20);
        EXPECT_FALSE(run.result.stalled);
        EXPECT_EQ(run.result.framesWritten, 20);
        EXPECT_EQ(run.result.framesAbandoned, 0);
        EXPECT_EQ(run.numbersRead, all);
        // The video's time 0 lies where the pictures' line puts it, not at frame 0's picture.
        EXPECT_NEAR(run.result.timelineZeroMs, kFrameZeroEarlyMs * 19 / 20, 0.1);
    }
}

TEST(FrameWriter, AStalledEncoderIsGivenUpOnWithinTheBound)
{
    const WriterRun run = RunWriter(0, 3, 10);
    EXPECT_TRUE(run.result.stalled);
    EXPECT_EQ(run.numbersRead.size(), 3u);
    EXPECT_LE(run.result.framesWritten, 3);
    EXPECT_GE(run.result.framesAbandoned, 6);
    EXPECT_LT(run.finishSeconds, (kStallMs + 2000) / 1000.0);
}

TEST(FrameWriter, AnEncoderStalledWhileTheTakeRunsIsReportedOnceAndGivenUp)
{
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    constexpr UINT kFault = WM_APP + 7;
    std::vector<LPARAM> faults;
    const Clock::time_point began = Clock::now();
    double reportedAfter = 0;
    const WriterRun run = RunWriter(0, 3, 10, EncoderLostReport{window, kFault, 42}, [&] {
        MSG message;
        while (faults.empty() && Clock::now() - began < std::chrono::seconds(20)) {
            while (::PeekMessageW(&message, window, kFault, kFault, PM_REMOVE)) {
                EXPECT_EQ(message.wParam, 42u);
                faults.push_back(message.lParam);
            }
            ::Sleep(50);
        }
        reportedAfter = std::chrono::duration<double>(Clock::now() - began).count();
    });
    EXPECT_EQ(faults, std::vector<LPARAM>{kEncoderStalled});
    EXPECT_GE(reportedAfter, kTakeStallMs / 1000.0);
    EXPECT_LT(reportedAfter, kTakeStallMs / 1000.0 + 2);
    EXPECT_TRUE(run.result.stalled);
    EXPECT_TRUE(run.result.ended);
    EXPECT_EQ(run.result.framesWritten, 3);
    ::DestroyWindow(window);
}

} // namespace
