#include "recording/SoundClock.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The fit's slope is trusted once its points span this many seconds of frames.
constexpr int64_t kFitSpanSeconds = 1;

bool SlopeFitted(const SoundClock& clock)
{
    return clock.fitCount >= 2 && clock.indexMoment > 0.0 &&
           clock.lastIndex - clock.firstIndex >= kFitSpanSeconds * clock.rate;
}

// Host time per frame, in 100 ns units.
double Slope(const SoundClock& clock)
{
    return SlopeFitted(clock) ? clock.crossMoment / clock.indexMoment
                              : static_cast<double>(kHnsPerSecond) / clock.rate;
}

// The line's stamp (relative to frame 0) at file index `index`: the fit, or the first packet's
// time at the nominal rate until the fit has a point.
double StampAt(const SoundClock& clock, double index)
{
    if (clock.fitCount == 0) {
        return clock.anchorStamp + (index - static_cast<double>(clock.anchorIndex)) * Slope(clock);
    }
    return clock.meanStamp + (index - clock.meanIndex) * Slope(clock);
}

// The line's file index at `stamp` (relative to frame 0).
double IndexAt(const SoundClock& clock, double stamp)
{
    const double index = static_cast<double>(clock.anchorIndex);
    return index + (stamp - StampAt(clock, index)) / Slope(clock);
}

// What the packets in view say of the time of the first one's first frame, relative to frame
// 0: the earliest they allow (a late packet is told by those after it that caught up) and
// their median (the jitter of single stamps evened out). False when none has a stamp to trust.
bool ViewTimes(const SoundClock& clock, const SoundPacketTime* packets, std::size_t count,
               double& earliest, double& median)
{
    std::vector<double> times;
    double ahead = 0.0; // frames between the first packet and this one
    for (std::size_t i = 0; i < count; ++i) {
        if (!packets[i].timeError) {
            times.push_back(static_cast<double>(packets[i].hostHns - clock.zeroHns) -
                            ahead * Slope(clock));
        }
        ahead += static_cast<double>(packets[i].frames);
    }
    if (times.empty()) {
        return false;
    }
    earliest = *std::min_element(times.begin(), times.end());
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    median = times[times.size() / 2];
    return true;
}

void AddToFit(SoundClock& clock, int64_t index, double stamp)
{
    if (clock.fitCount == 0) {
        clock.firstIndex = index;
    }
    clock.lastIndex = index;
    ++clock.fitCount;
    const double n = static_cast<double>(clock.fitCount);
    const double dIndex = static_cast<double>(index) - clock.meanIndex;
    clock.meanIndex += dIndex / n;
    clock.meanStamp += (stamp - clock.meanStamp) / n;
    clock.indexMoment += dIndex * (static_cast<double>(index) - clock.meanIndex);
    clock.crossMoment += dIndex * (stamp - clock.meanStamp);
}

// Puts `frames` of silence at the end of the file.
void AddSilence(SoundClock& clock, int64_t frames)
{
    if (frames <= 0) {
        return;
    }
    if (!clock.placed) {
        clock.leadingSilence += frames;
    } else if (!clock.gaps.empty() &&
               clock.gaps.back().from + clock.gaps.back().frames == clock.written) {
        clock.gaps.back().frames += frames;
    } else {
        clock.gaps.push_back(SoundInterval{clock.written, frames});
    }
    clock.written += frames;
}

} // namespace

void SoundClockStart(SoundClock& clock, int64_t rate, int64_t zeroHns)
{
    clock = SoundClock{};
    clock.rate = rate > 0 ? rate : 1;
    clock.zeroHns = zeroHns;
}

SoundPlacement SoundClockPlace(SoundClock& clock, const SoundPacketTime* packets, std::size_t count)
{
    const SoundPacketTime& packet = packets[0];
    const int64_t frames = packet.frames;
    const double stamp = static_cast<double>(packet.hostHns - clock.zeroHns);
    double earliest = stamp;
    double median = stamp;
    const bool known = ViewTimes(clock, packets, count, earliest, median);
    if (!clock.anchored) {
        // The first packet: its time, even an untrusted one, is all there is to go by.
        clock.next = std::llround(earliest * clock.rate / kHnsPerSecond);
        clock.anchored = true;
        clock.anchorIndex = clock.next;
        clock.anchorStamp = earliest;
    } else {
        int64_t lost = 0;
        if (clock.positionKnown && packet.devicePosition > clock.expectedPosition) {
            lost = static_cast<int64_t>(packet.devicePosition - clock.expectedPosition);
        }
        if (known) {
            // Lost frames when every packet in view is late; as many as most of them say.
            const double line = StampAt(clock, static_cast<double>(clock.next));
            const double lag = earliest - line;
            if (lag > kSoundGapHns || (packet.discontinuity && lag > 0.0)) {
                lost = std::max<int64_t>(lost, std::llround((median - line) / Slope(clock)));
            }
        }
        clock.next += lost;
    }
    const int64_t start = clock.next;
    SoundPlacement placement;
    placement.silence = std::max<int64_t>(0, start - clock.written);
    placement.cut = std::min(frames, std::max<int64_t>(0, clock.written - start));
    // Added before the packet's frames count as placed: padding before the first sound is the
    // device's late start, not a gap.
    AddSilence(clock, placement.silence);
    clock.written += frames - placement.cut;
    if (frames > placement.cut) {
        clock.placed = true;
    }
    clock.next = start + frames;
    clock.positionKnown = true;
    clock.expectedPosition = packet.devicePosition + static_cast<uint64_t>(frames);
    // A packet that came late says nothing of the device's clock.
    if (!packet.timeError && stamp - StampAt(clock, static_cast<double>(start)) <= kSoundLateHns) {
        AddToFit(clock, start, stamp);
    }
    return placement;
}

int64_t SoundClockLookaheadHns(const SoundClock& clock)
{
    return clock.fitCount > 0 ? kSoundLookaheadHns : kSoundFirstLookaheadHns;
}

void SoundClockReopened(SoundClock& clock)
{
    clock.positionKnown = false;
}

int64_t SoundClockFillTo(SoundClock& clock, int64_t hostHns)
{
    if (!clock.anchored) {
        return 0;
    }
    const int64_t target =
        std::llround(IndexAt(clock, static_cast<double>(hostHns - clock.zeroHns)));
    const int64_t silence = target - clock.written;
    if (static_cast<double>(silence) * Slope(clock) <= kSoundGapHns) {
        return 0;
    }
    AddSilence(clock, silence);
    return silence;
}

double SoundClockMeasuredRate(const SoundClock& clock)
{
    return kHnsPerSecond / Slope(clock);
}

double SoundClockOffsetHns(const SoundClock& clock)
{
    return clock.anchored ? StampAt(clock, 0.0) : 0.0;
}

int64_t SoundClockGapFrames(const SoundClock& clock)
{
    int64_t frames = 0;
    for (const SoundInterval& gap : clock.gaps) {
        frames += gap.frames;
    }
    return frames;
}
