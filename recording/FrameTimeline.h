// The recording's timeline: frames enter the pipe at 30 a second of wall-clock time from the
// moment the recording starts, so that a video lasts as long as its take.
//
// Each new colour frame is written once, as soon as the timeline allows; when no new frame has
// come for more than a frame's time (a gap in the sensor's delivery, the feed switched off, or a
// stalled encoder to catch up with), the newest frame is written again. The band between the two
// rules (a quarter frame ahead to a frame and a quarter behind) is wider than a render pass, so
// a sensor that delivers 30 frames a second locks onto the timeline: each of its frames is written
// exactly once and the count stays within about a frame of 30 per second.
#pragma once

#include <cstdint>

constexpr int kTimelineFramesPerSecond = 30;
// At most this many frames are written in one render pass while catching up, so that painting
// goes on while a slow encoder is caught up with.
constexpr int kTimelineMaxFramesPerPass = 8;

struct FrameTimeline {
    int64_t startTicks = 0;
    int64_t ticksPerSecond = 1;
    int64_t framesWritten = 0;
};

// Starts a timeline at `nowTicks` of a clock that runs at `ticksPerSecond`, with nothing written.
void FrameTimelineStart(FrameTimeline& timeline, int64_t nowTicks, int64_t ticksPerSecond);

// How many frames to write at `nowTicks`: the first of them is the new colour frame when
// `haveNewFrame` says the buffer holds one not yet written; the rest repeat the newest frame.
int FrameTimelineFramesDue(const FrameTimeline& timeline, int64_t nowTicks, bool haveNewFrame);

// Records that `frames` more frames entered the pipe.
void FrameTimelineCountWritten(FrameTimeline& timeline, int frames);

// Frames written minus frames due at `nowTicks` (30 x elapsed seconds): the timeline's error.
double FrameTimelineError(const FrameTimeline& timeline, int64_t nowTicks);
