// The recording's timeline, driven by a simulated render loop: a 30 fps sensor polled by passes
// of 16 ms plus some work, an encoder that may stall, and a feed that may pause.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "recording/FrameTimeline.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

int64_t Ticks(double seconds)
{
    return static_cast<int64_t>(std::llround(seconds * kTicksPerSecond));
}

struct Simulation {
    double sensorPhase = 0.0;    // first sensor frame after the start, in frames
    double passWorkMax = 0.004;  // each pass works 0 to this many seconds besides its sleep
    double sensorGapFrom = -1.0; // the sensor delivers nothing in [from, to)
    double sensorGapTo = -1.0;
    double stallAt = -1.0; // the encoder takes nothing for stallSeconds from here
    double stallSeconds = 0.0;
    unsigned seed = 1;

    std::vector<int> written; // sensor frame number of every frame written, in order
    double worstError = 0.0;  // largest |written - 30 t| seen after a pass
    double finalError = 0.0;  // written - 30 t after the last pass
};

// Runs `seconds` of passes and records what enters the pipe.
void RunPasses(Simulation& sim, double seconds)
{
    std::mt19937 random(sim.seed);
    std::uniform_real_distribution<double> work(0.0, sim.passWorkMax);
    FrameTimeline timeline;
    FrameTimelineStart(timeline, 0, kTicksPerSecond);
    int buffer = -1; // frame number in the buffer; -1 is the frame shown before the start
    bool haveNewFrame = false;
    bool stalled = false;
    double t = 0.0;
    while (t < seconds) {
        bool inGap = t >= sim.sensorGapFrom && t < sim.sensorGapTo;
        int newest = static_cast<int>(std::floor(t * 30.0 - sim.sensorPhase));
        if (!inGap && newest >= 0 && newest > buffer) {
            buffer = newest;
            haveNewFrame = true;
        }
        t += work(random);
        int due = FrameTimelineFramesDue(timeline, Ticks(t), haveNewFrame);
        if (due > 0 && !stalled && sim.stallAt >= 0 && t >= sim.stallAt) {
            // The first write blocks until the encoder reads again, then goes through.
            stalled = true;
            t += sim.stallSeconds;
        }
        for (int i = 0; i < due; ++i) {
            sim.written.push_back(buffer);
        }
        FrameTimelineCountWritten(timeline, due);
        if (due > 0) {
            haveNewFrame = false;
        }
        sim.finalError = FrameTimelineError(timeline, Ticks(t));
        double error = std::fabs(sim.finalError);
        if (t > sim.stallAt + sim.stallSeconds + 1.0 || sim.stallAt < 0) {
            sim.worstError = std::max(sim.worstError, error);
        }
        t += 0.016;
    }
}

// Sensor frames in [first, last] that were written other than exactly once.
std::vector<int> FramesNotWrittenOnce(const std::vector<int>& written, int first, int last)
{
    std::map<int, int> counts;
    for (int frame : written) {
        ++counts[frame];
    }
    std::vector<int> wrong;
    for (int frame = first; frame <= last; ++frame) {
        if (counts[frame] != 1) {
            wrong.push_back(frame);
        }
    }
    return wrong;
}

TEST(FrameTimeline, SteadySensorLocksOnAtAnyPhase)
{
    for (int tenth = 0; tenth < 10; ++tenth) {
        Simulation sim;
        sim.sensorPhase = tenth / 10.0;
        sim.seed = 100 + tenth;
        RunPasses(sim, 10.0);
        SCOPED_TRACE(testing::Message() << "sensor phase " << sim.sensorPhase);
        EXPECT_LE(sim.worstError, 1.3);
        EXPECT_LE(std::fabs(sim.finalError), 1.3);
        EXPECT_TRUE(FramesNotWrittenOnce(sim.written, 0, sim.written.back()).empty());
        // In order, and only the frame shown at the start may come before the sensor's first.
        for (std::size_t i = 1; i < sim.written.size(); ++i) {
            EXPECT_LE(sim.written[i - 1], sim.written[i]);
        }
    }
}

TEST(FrameTimeline, GapInDeliveryRepeatsTheLastFrameAndKeepsTime)
{
    Simulation sim;
    sim.sensorGapFrom = 2.0;
    sim.sensorGapTo = 3.0;
    RunPasses(sim, 6.0);
    EXPECT_LE(sim.worstError, 1.3);
    // The frame before the gap fills it; everything delivered is written once.
    int lastBeforeGap = static_cast<int>(std::floor(2.0 * 30.0 - sim.sensorPhase)) - 1;
    int repeats = 0;
    for (int frame : sim.written) {
        repeats += frame == lastBeforeGap || frame == lastBeforeGap + 1;
    }
    EXPECT_GE(repeats, 28);
    std::vector<int> wrong = FramesNotWrittenOnce(sim.written, 91, sim.written.back());
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " frames after the gap were not written once";
}

TEST(FrameTimeline, StalledEncoderIsCaughtUpWithoutDrift)
{
    Simulation sim;
    sim.stallAt = 2.0;
    sim.stallSeconds = 1.0;
    RunPasses(sim, 6.0);
    // After the stall the writer catches up (a few passes of up to eight frames) and then stays
    // on the timeline instead of running a second behind.
    EXPECT_LE(sim.worstError, 1.3);
    EXPECT_LE(std::fabs(sim.finalError), 1.3);
    EXPECT_NEAR(static_cast<double>(sim.written.size()), 6.0 * 30.0, 1.5);
}

TEST(FrameTimeline, NothingIsDueBeforeTheFirstFrameOrAheadOfTime)
{
    FrameTimeline timeline;
    FrameTimelineStart(timeline, 1000, kTicksPerSecond);
    EXPECT_EQ(FrameTimelineFramesDue(timeline, 1000, false), 0);
    EXPECT_EQ(FrameTimelineFramesDue(timeline, 1000, true), 1);
    FrameTimelineCountWritten(timeline, 1);
    // One frame written at the start: a second new frame must wait for its slot.
    EXPECT_EQ(FrameTimelineFramesDue(timeline, 1000 + Ticks(0.010), true), 0);
    EXPECT_EQ(FrameTimelineFramesDue(timeline, 1000 + Ticks(0.034), true), 1);
    // Far behind, one pass writes no more than its cap.
    EXPECT_EQ(FrameTimelineFramesDue(timeline, 1000 + Ticks(10.0), true),
              kTimelineMaxFramesPerPass);
}

} // namespace
