#include "recording/SoundClock.h"

#include <algorithm>
#include <cmath>

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

// The line's stamp (relative to frame 0) at file index `index`.
double StampAt(const SoundClock& clock, double index)
{
    return clock.meanStamp + (index - clock.meanIndex) * Slope(clock);
}

// The line's file index at `stamp` (relative to frame 0).
double IndexAt(const SoundClock& clock, double stamp)
{
    return clock.meanIndex + (stamp - clock.meanStamp) / Slope(clock);
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

SoundPlacement SoundClockPlace(SoundClock& clock, int64_t hostHns, int64_t frames,
                               uint64_t devicePosition, bool discontinuity, bool timeError)
{
    const double stamp = static_cast<double>(hostHns - clock.zeroHns);
    if (!clock.placed && timeError) {
        timeError = false; // the first packet has only its stamp to go by
    }
    if (clock.fitCount == 0) {
        clock.next = std::llround(stamp * clock.rate / kHnsPerSecond);
    } else {
        int64_t lost = 0;
        if (clock.positionKnown && devicePosition > clock.expectedPosition) {
            lost = static_cast<int64_t>(devicePosition - clock.expectedPosition);
        }
        if (!timeError) {
            const double lag = stamp - StampAt(clock, static_cast<double>(clock.next));
            if (lag > kSoundGapHns || (discontinuity && lag > 0.0)) {
                lost = std::max<int64_t>(lost, std::llround(lag / Slope(clock)));
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
    clock.expectedPosition = devicePosition + static_cast<uint64_t>(frames);
    if (!timeError) {
        AddToFit(clock, start, stamp);
    }
    return placement;
}

void SoundClockReopened(SoundClock& clock)
{
    clock.positionKnown = false;
}

int64_t SoundClockFillTo(SoundClock& clock, int64_t hostHns)
{
    if (clock.fitCount == 0) {
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
    return clock.fitCount > 0 ? StampAt(clock, 0.0) : 0.0;
}

int64_t SoundClockGapFrames(const SoundClock& clock)
{
    int64_t frames = 0;
    for (const SoundInterval& gap : clock.gaps) {
        frames += gap.frames;
    }
    return frames;
}
