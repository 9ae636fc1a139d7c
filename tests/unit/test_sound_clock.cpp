// The sound clock, fed by a simulated 16 kHz device whose clock runs off the host's, whose
// packets are stamped with Wine's timer jitter, that starts late, pauses and is lost.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "recording/SoundClock.h"

namespace {

constexpr int64_t kRate = 16000;
constexpr int64_t kPacket = 160;
constexpr int64_t kZero = 5 * kHnsPerSecond; // host time of video frame 0

struct Device {
    double ppm = 0.0;      // the device clock's error against the host's
    double startAt = 0.0;  // host seconds after frame 0 of its first frame
    double jitter = 0.007; // stamps are off by up to this many seconds
    double pauseAt = -1.0; // delivers nothing for pauseFor s (its position does not move)
    double pauseFor = 0.0;
    double lostAt = -1.0; // gone for lostFor s, then opened again (position from 0)
    double lostFor = 0.0;
    bool positionJumps = false;   // a pause shows as a position jump and a discontinuity
    std::size_t backlogEvery = 0; // packets between backlogs that come at once (0: none)
    std::size_t startBacklog = 0; // the first packets come at once, stamped with the last's

    double worstError = 0.0; // largest |file index - true index| of a packet's first frame, s
    double lastError = 0.0;  // the same, signed, of the last packet
    SoundClock clock;
};

// Runs `seconds` of the device's frames through a clock, each packet placed with the packets
// after it in view that the clock asks for, and checks where each lands.
void RunDevice(Device& d, double seconds)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-d.jitter, d.jitter);
    const double rate = kRate * (1.0 + d.ppm * 1e-6); // device frames per host second
    struct Packet {
        SoundPacketTime time;
        double t = 0.0;          // true host time of its first frame, after frame 0
        bool lostBefore = false; // the device was gone before it
    };
    std::vector<Packet> packets;
    uint64_t position = 0;
    bool flagged = false;
    bool lost = false;
    for (double deviceTime = 0.0;;) {
        const double t = d.startAt + deviceTime;
        if (d.pauseAt >= 0 && t >= d.pauseAt && t < d.pauseAt + d.pauseFor) {
            deviceTime += d.pauseFor;
            if (d.positionJumps) {
                position += static_cast<uint64_t>(std::llround(d.pauseFor * rate));
                flagged = true;
            }
            continue;
        }
        if (d.lostAt >= 0 && t >= d.lostAt && !lost) {
            deviceTime += d.lostFor;
            position = 0;
            lost = true;
            packets.push_back(Packet{});
            packets.back().lostBefore = true;
            continue;
        }
        if (t >= seconds) {
            break;
        }
        Packet p;
        p.t = t;
        p.time = SoundPacketTime{kZero + std::llround((t + jitter(random)) * 1e7), kPacket,
                                 position, flagged, false};
        packets.push_back(p);
        flagged = false;
        position += kPacket;
        deviceTime += kPacket / rate;
    }
    // A backlog: the packets of 40 ms come at once, all stamped when the last of them came.
    for (std::size_t i = 0; d.backlogEvery > 0 && i + 4 < packets.size(); i += d.backlogEvery) {
        for (std::size_t k = i; k < i + 4; ++k) {
            packets[k].time.hostHns = packets[i + 4].time.hostHns;
        }
    }
    for (std::size_t k = 0; k + 1 < d.startBacklog && d.startBacklog <= packets.size(); ++k) {
        packets[k].time.hostHns = packets[d.startBacklog - 1].time.hostHns;
    }
    SoundClockStart(d.clock, kRate, kZero);
    int64_t file = 0; // frames written so far
    std::vector<SoundPacketTime> view;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].lostBefore) {
            // While it is gone the stream fills silence, half a second behind, every 100 ms.
            for (double now = d.lostAt; now < d.lostAt + d.lostFor; now += 0.1) {
                file += SoundClockFillTo(d.clock, kZero + std::llround((now - 0.5) * 1e7));
            }
            SoundClockReopened(d.clock);
            continue;
        }
        view.clear();
        const std::size_t inView =
            static_cast<std::size_t>(SoundClockLookaheadHns(d.clock) / 100000) + 1;
        for (std::size_t j = i; j < packets.size() && j < i + inView && !packets[j].lostBefore;
             ++j) {
            view.push_back(packets[j].time);
        }
        const SoundPlacement p = SoundClockPlace(d.clock, view.data(), view.size());
        // The packet's first uncut frame must lie where its true time puts it.
        if (p.cut < kPacket) {
            const double trueIndex = (packets[i].t * rate) + p.cut;
            const double index = static_cast<double>(file + p.silence);
            d.lastError = (index - trueIndex) / rate;
            d.worstError = std::max(d.worstError, std::fabs(d.lastError));
        }
        file += p.silence + kPacket - p.cut;
    }
    EXPECT_EQ(file, d.clock.written);
}

TEST(SoundClock, DriftingLateDeviceLandsOnTheVideoClock)
{
    Device d;
    d.ppm = 2000.0; // 0.2 % fast
    d.startAt = 0.3;
    RunDevice(d, 120.0);
    // The start is placed by the earliest time the first 3 s allow: a few ms early with jitter.
    EXPECT_LE(d.worstError, 0.015);
    EXPECT_NEAR(SoundClockMeasuredRate(d.clock), kRate * 1.002, 0.5);
    EXPECT_NEAR(static_cast<double>(d.clock.leadingSilence) / kRate, 0.3 * 1.002, 0.015);
    // Where the file's frame 0 truly lies, to 1 ms: the first stamp's jitter is fitted out.
    EXPECT_NEAR(SoundClockOffsetHns(d.clock) / 1e7, -d.lastError, 0.001);
    EXPECT_TRUE(d.clock.gaps.empty());
}

TEST(SoundClock, SoundBeforeFrameZeroIsCutAndJitterOrABacklogIsNoGap)
{
    for (double jitter : {0.0, 0.008, 0.012}) {
        Device d;
        d.startAt = -0.7;
        d.ppm = -2000.0;
        d.jitter = jitter;
        d.backlogEvery = 150;
        d.startBacklog = 180; // what it held before it was opened, handed out at once (Wine)
        RunDevice(d, 30.0);
        SCOPED_TRACE(jitter);
        EXPECT_TRUE(d.clock.gaps.empty());
        EXPECT_EQ(d.clock.leadingSilence, 0);
        EXPECT_LE(d.worstError, jitter + 0.003); // 0.7 s before frame 0 at 0.2 %: 1.4 ms
        EXPECT_NEAR(SoundClockOffsetHns(d.clock) / 1e7, -d.lastError, 0.001);
    }
}

TEST(SoundClock, PauseAndLossAreFilledWithSilenceOfTheirLength)
{
    Device d;
    d.ppm = 2000.0;
    d.pauseAt = 10.0;
    d.pauseFor = 3.0;
    d.lostAt = 20.0;
    d.lostFor = 7.0;
    RunDevice(d, 40.0);
    // The gaps are found by their stamps alone; the sound after each stays in place.
    EXPECT_LE(d.worstError, 0.020);
    ASSERT_EQ(d.clock.gaps.size(), 2u);
    EXPECT_NEAR(d.clock.gaps[0].frames / (kRate * 1.002), 3.0, 0.02);
    EXPECT_NEAR(d.clock.gaps[0].from / (kRate * 1.002), 10.0, 0.02);
    EXPECT_NEAR(d.clock.gaps[1].frames / (kRate * 1.002), 7.0, 0.02);
    EXPECT_EQ(SoundClockGapFrames(d.clock), d.clock.gaps[0].frames + d.clock.gaps[1].frames);
    EXPECT_NEAR(SoundClockMeasuredRate(d.clock), kRate * 1.002, 1.0);
}

TEST(SoundClock, ShortGapTheDeviceReportsIsFilledExactly)
{
    Device d;
    d.jitter = 0.0;
    d.pauseAt = 5.0;
    d.pauseFor = 0.02; // below the stamps' threshold: only the position tells
    d.positionJumps = true;
    RunDevice(d, 8.0);
    ASSERT_EQ(d.clock.gaps.size(), 1u);
    EXPECT_EQ(d.clock.gaps[0].frames, 320);
    EXPECT_LE(d.worstError, 0.0001);
}

} // namespace
