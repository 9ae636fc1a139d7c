// The take's frame queue and writer thread against a stand-in encoder on the other end of the
// frame pipe: what a full queue does, and how the stop ends with an encoder that takes
// everything, one that is slow and one that stalls.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "recording/FramePipe.h"
#include "recording/FrameQueue.h"
#include "recording/FrameWriter.h"
#include "sensor/Frame.h"
#include "tests/support/FramePipeClient.h"

namespace {

using Clock = std::chrono::steady_clock;

// A frame whose first bytes carry `number`.
RenderedFrame NumberedFrame(std::vector<BYTE>& pixels, uint32_t number)
{
    pixels.assign(kFrameBytes, 0);
    std::memcpy(pixels.data(), &number, sizeof(number));
    return RenderedFrame{pixels.data(), number, true, number, 0, nullptr};
}

// The encoder's side: reads whole frames, pausing `pauseMs` after each; after `stallAfter`
// frames it stops reading but keeps the pipe open until told to go.
struct StandInEncoder {
    std::vector<uint32_t> numbers;
    std::atomic<bool> release{false};
    std::thread thread;

    void Run(DWORD pauseMs, size_t stallAfter)
    {
        thread = std::thread([this, pauseMs, stallAfter] {
            HANDLE pipe = OpenFramePipeClient(5000);
            std::vector<BYTE> frame(kFrameBytes);
            while (numbers.size() < stallAfter && ReadWholeFrame(pipe, frame.data())) {
                uint32_t number = 0;
                std::memcpy(&number, frame.data(), sizeof(number));
                numbers.push_back(number);
                ::Sleep(pauseMs);
            }
            while (!release.load()) {
                ::Sleep(10);
            }
            ::CloseHandle(pipe);
        });
    }
    void Join()
    {
        release.store(true);
        thread.join();
    }
};

class FrameWriterTest : public testing::Test {
protected:
    // Connects a stand-in encoder and starts a writer on a queue of `slots`.
    void Start(DWORD pauseMs, size_t stallAfter, size_t slots = kFrameQueueSlots)
    {
        m_queue = std::make_shared<FrameQueue>();
        ASSERT_TRUE(FrameQueueOpen(*m_queue, slots));
        m_pipe = CreateFramePipe();
        ASSERT_NE(m_pipe, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(BeginFramePipeConnect(m_pipe));
        m_encoder.Run(pauseMs, stallAfter);
        HANDLE neverEnds = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(FinishFramePipeConnect(m_pipe, neverEnds, 5000));
        ::CloseHandle(neverEnds);
        m_writer = FrameWriterStart(m_queue, m_pipe, EncoderLostReport{}, false);
        ASSERT_NE(m_writer, nullptr);
    }

    void Put(uint32_t first, uint32_t count)
    {
        std::vector<BYTE> pixels;
        for (uint32_t number = first; number < first + count; ++number) {
            ASSERT_TRUE(FrameQueuePut(*m_queue, NumberedFrame(pixels, number), 1));
        }
    }

    FrameWriterResult Finish(double* seconds)
    {
        Clock::time_point began = Clock::now();
        FrameWriterResult result = FrameWriterFinish(*m_writer);
        *seconds = std::chrono::duration<double>(Clock::now() - began).count();
        ::DisconnectNamedPipe(m_pipe);
        ::CloseHandle(m_pipe);
        m_encoder.Join();
        return result;
    }

    std::shared_ptr<FrameQueue> m_queue;
    std::shared_ptr<FrameWriter> m_writer;
    HANDLE m_pipe = nullptr;
    StandInEncoder m_encoder;
};

TEST(FrameQueue, AFullQueueDropsAndCountsAndTheWriterGetsTheRestInOrder)
{
    auto queue = std::make_shared<FrameQueue>();
    ASSERT_TRUE(FrameQueueOpen(*queue, 3));
    std::vector<BYTE> pixels;
    EXPECT_TRUE(FrameQueuePut(*queue, NumberedFrame(pixels, 1), 1));
    EXPECT_TRUE(FrameQueuePut(*queue, NumberedFrame(pixels, 2), 2)); // the newest, repeated
    EXPECT_TRUE(FrameQueuePut(*queue, NumberedFrame(pixels, 3), 1));
    EXPECT_FALSE(FrameQueuePut(*queue, NumberedFrame(pixels, 4), 3));
    EXPECT_EQ(FrameQueueDropped(*queue), 3);
    EXPECT_EQ(FrameQueueQueuedFrames(*queue), 4);

    QueuedFrame* front = FrameQueueFront(*queue, 0);
    ASSERT_NE(front, nullptr);
    EXPECT_EQ(front->colorFrameNumber, 1u);
    FrameQueuePop(*queue);
    EXPECT_TRUE(FrameQueuePut(*queue, NumberedFrame(pixels, 5), 1)); // a slot came free
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

TEST_F(FrameWriterTest, AnEncoderThatTakesEverythingGetsEveryFrameInOrder)
{
    Start(0, SIZE_MAX);
    Put(0, 40);
    double seconds = 0;
    FrameWriterResult result = Finish(&seconds);
    EXPECT_FALSE(result.stalled);
    EXPECT_EQ(result.framesWritten, 40);
    EXPECT_EQ(result.framesAbandoned, 0);
    ASSERT_EQ(m_encoder.numbers.size(), 40u);
    for (uint32_t i = 0; i < 40; ++i) {
        EXPECT_EQ(m_encoder.numbers[i], i);
    }
}

TEST_F(FrameWriterTest, ASlowEncoderGetsWhatIsQueuedAndIsNotCalledStalled)
{
    // About 7 frames a second: far below 30, yet always taking bytes.
    Start(150, SIZE_MAX);
    Put(0, 20);
    double seconds = 0;
    FrameWriterResult result = Finish(&seconds);
    EXPECT_FALSE(result.stalled);
    EXPECT_EQ(result.framesWritten, 20);
    EXPECT_EQ(m_encoder.numbers.size(), 20u);
    std::printf("slow encoder: %lld frames in %.2f s\n",
                static_cast<long long>(result.framesWritten), seconds);
}

TEST_F(FrameWriterTest, AStalledEncoderIsGivenUpOnWithinTheBound)
{
    Start(0, 3);
    Put(0, 10);
    double seconds = 0;
    FrameWriterResult result = Finish(&seconds);
    EXPECT_TRUE(result.stalled);
    EXPECT_EQ(m_encoder.numbers.size(), 3u);
    EXPECT_LE(result.framesWritten, 3);
    EXPECT_GE(result.framesAbandoned, 6);
    EXPECT_LT(seconds, (kStallMs + 2000) / 1000.0);
}

} // namespace
