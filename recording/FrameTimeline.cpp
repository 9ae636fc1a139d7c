#include "recording/FrameTimeline.h"

namespace {

// A new frame may be written while the count is at most this far ahead of the timeline.
constexpr double kNewFrameLead = 0.25;
// The newest frame is written again once the count is this far behind the timeline.
constexpr double kRepeatLag = 1.25;

} // namespace

void FrameTimelineStart(FrameTimeline& timeline, int64_t nowTicks, int64_t ticksPerSecond)
{
    timeline.startTicks = nowTicks;
    timeline.ticksPerSecond = ticksPerSecond > 0 ? ticksPerSecond : 1;
    timeline.framesWritten = 0;
}

int FrameTimelineFramesDue(const FrameTimeline& timeline, int64_t nowTicks, bool haveNewFrame)
{
    double lead = FrameTimelineError(timeline, nowTicks);
    int frames = 0;
    if (haveNewFrame && lead <= kNewFrameLead) {
        ++frames;
        lead += 1.0;
    }
    while (lead <= -kRepeatLag && frames < kTimelineMaxFramesPerPass) {
        ++frames;
        lead += 1.0;
    }
    return frames;
}

void FrameTimelineCountWritten(FrameTimeline& timeline, int frames)
{
    timeline.framesWritten += frames;
}

double FrameTimelineError(const FrameTimeline& timeline, int64_t nowTicks)
{
    double elapsed = static_cast<double>(nowTicks - timeline.startTicks) /
                     static_cast<double>(timeline.ticksPerSecond);
    return static_cast<double>(timeline.framesWritten) - elapsed * kTimelineFramesPerSecond;
}
