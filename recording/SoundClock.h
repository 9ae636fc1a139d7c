// Where a sound device's samples lie on the host clock, so that a take's sound file starts at
// the video's frame 0 and sample n of it always lies n / rate seconds of device time after it.
//
// Each packet comes with the host time of its first frame (the performance counter in 100 ns
// units). The device's clock is not the host's: it runs a little fast or slow, so its frames are
// fitted against their stamps (least squares over the whole take), which also averages away the
// jitter of the stamps (Wine stamps a packet at the timer tick that formed it, 5-8 ms off). A
// packet is placed with the packets that follow it in view: a packet that came late (Wine stamps
// a backlog when it reads it) is followed by packets that catch up, while after lost frames
// every packet stays late. So a packet follows a gap only when it and all of those after it in
// view lie later than the fitted line by more than kSoundGapHns, or after a discontinuity or a
// jump of the device position: silence of that length is put before it.
// Sound before frame 0 is cut, a device that starts late is padded with silence, and sound that
// overlaps silence already written (while the device was gone) is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int64_t kHnsPerSecond = 10000000;
// A packet this much later than the line follows a gap; jitter of the stamps stays well below.
constexpr int64_t kSoundGapHns = 250000; // 25 ms
// A packet whose own stamp is this much later than its placement says came late: its stamp is
// left out of the fit.
constexpr int64_t kSoundLateHns = 200000; // 20 ms
// The writer places a packet once it holds this much sound after it (or the stream ends)...
constexpr int64_t kSoundLookaheadHns = 5000000; // 500 ms
// ...and this much until a packet has come on time: Wine hands out what the device held before
// the capture began (a second or two) at once, and only the packets after it tell when it began.
constexpr int64_t kSoundFirstLookaheadHns = 30000000; // 3 s

// Frames of silence put in the file at `from` (a file index).
struct SoundInterval {
    int64_t from = 0;
    int64_t frames = 0;
};

struct SoundClock {
    int64_t rate = 1;    // the device's nominal frames per second
    int64_t zeroHns = 0; // host time of video frame 0
    int64_t next = 0;    // file index of the next frame the device delivers (< 0 before frame 0)
    int64_t written = 0; // frames in the file, silence included
    int64_t leadingSilence = 0; // silence before the device's first frame in the file
    bool placed = false;        // a packet's sound is in the file
    bool anchored = false;      // a packet has been placed: the line has its anchor, the first
    int64_t anchorIndex = 0;    // packet's index and time, until the fit has points
    double anchorStamp = 0.0;
    bool positionKnown = false; // `expectedPosition` holds for the next packet
    uint64_t expectedPosition = 0;
    std::vector<SoundInterval> gaps; // silence filled after the first sound, adjacent ones merged
    // The fit of stamp (relative to frame 0) against file index: running means and co-moments.
    int64_t fitCount = 0;
    double meanIndex = 0.0;
    double meanStamp = 0.0;
    double indexMoment = 0.0;
    double crossMoment = 0.0;
    int64_t firstIndex = 0;
    int64_t lastIndex = 0;
};

// One packet's time: the stamp of its first frame, its length and the device's position.
struct SoundPacketTime {
    int64_t hostHns = 0;
    int64_t frames = 0;
    uint64_t devicePosition = 0;
    bool discontinuity = false; // the device says it lost frames before it
    bool timeError = false;     // the stamp is not to be trusted
};

// What to write for one packet: `silence` frames first, then the packet without its first `cut`
// frames.
struct SoundPlacement {
    int64_t silence = 0;
    int64_t cut = 0;
};

// Starts a clock for a device of `rate` frames a second whose file begins at `zeroHns`.
void SoundClockStart(SoundClock& clock, int64_t rate, int64_t zeroHns);

// How much sound after a packet must be in view to place it: kSoundFirstLookaheadHns until a
// packet has come on time, then kSoundLookaheadHns.
int64_t SoundClockLookaheadHns(const SoundClock& clock);

// Places `packets[0]`, with the `count` - 1 packets that follow it in view (as many as came
// within SoundClockLookaheadHns after it, with no loss of the device between).
SoundPlacement SoundClockPlace(SoundClock& clock, const SoundPacketTime* packets,
                               std::size_t count);

// The device was opened again: its position starts afresh, and its next packet is placed by
// its stamp alone.
void SoundClockReopened(SoundClock& clock);

// Silence to write now so that the file reaches the line at `hostHns` (a device that is gone,
// or the end of the take); 0 unless the file lags the line by more than kSoundGapHns.
int64_t SoundClockFillTo(SoundClock& clock, int64_t hostHns);

// The device's frames per host second, fitted over the take (the nominal rate until a second of
// packets has come).
double SoundClockMeasuredRate(const SoundClock& clock);

// Host time of file frame 0 minus that of video frame 0, in 100 ns units, as fitted.
double SoundClockOffsetHns(const SoundClock& clock);

// Total frames of silence filled for gaps (the leading silence not included).
int64_t SoundClockGapFrames(const SoundClock& clock);
