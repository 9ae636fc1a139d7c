// The take file written beside a take that saves skeleton data or depth: JSON that says what
// made the take, when it ran, what it holds and how to read each stream (size, rate, pixel
// format and the runtime's nominal focal length, so depth can be turned into points).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The take's sound: the device, the file in its own format, and where the file lies on the
// video's clock (sample index of a moment t s after video frame 0 on the host clock:
// frame0Sample + t x measuredRate).
struct TakeSoundInterval {
    int64_t startSample = 0;
    int64_t samples = 0;
};
struct TakeSoundInfo {
    std::wstring deviceName;
    std::wstring deviceId;       // empty: the take was not asked to record sound
    bool missingAtStart = false; // the device was not there: no sound file
    std::wstring file;           // empty when not written
    int channels = 0;
    int sampleRate = 0;
    std::string sampleFormat; // "f32le", "s16le", ...
    uint32_t channelMask = 0;
    int64_t samples = 0;
    double offsetMs = 0.0;               // host time of sample 0 minus that of video frame 0
    double measuredRate = 0.0;           // device samples per host second, fitted over the take
    int64_t leadingSamples = 0;          // silence before the device's first sample
    std::vector<TakeSoundInterval> gaps; // silence filled where the device lost samples or was gone
    bool inVideo = false;                // the standard MP4 carries it as an AAC track
};

// A time of a take without the sensor: from when it went away (or the take began without it)
// to when its picture returned (or the take ended), UTC FILETIME values, and the video frames
// of that time, which repeat the last picture.
struct SensorGap {
    uint64_t start = 0;
    uint64_t end = 0;
    int64_t firstFrame = 0;
    int64_t frames = 0;
};

// A take's streams on the lab's network (Lab Streaming Layer): their names and source ids, and
// the LSL time of video frame 0's colour picture, so the take lines up with a lab recording even
// where its frames stream was not recorded. No streams: the take was not published.
struct TakeLabStream {
    std::string name;
    std::string sourceId;
};
struct TakeLabStreams {
    std::vector<TakeLabStream> streams;
    bool hasFrame0 = false;
    double frame0Time = 0.0; // seconds on lsl_local_clock
};

struct TakeInfo {
    std::string start;          // ISO 8601 local times
    std::string end;
    int64_t frames = 0;         // video frames
    int64_t repeated = 0;       // frames repeating the colour picture before them
    int64_t dropped = 0;        // frames the encoder could not take in time
    std::wstring video;         // file names, without their folder; empty when not written
    std::wstring skeleton;
    std::wstring depth;
    std::wstring framesFile;
    int depthWidth = 0;         // 0 without depth
    int depthHeight = 0;
    TakeSoundInfo sound;        // no device id: no sound entry
    std::vector<SensorGap> sensorGaps;
    TakeLabStreams lsl;
};

// Sets `info`'s start, end and sensor gaps for a video of info.frames frames whose first and
// last frames were fetched at `firstTakenAt` and `lastTakenAt` (0: never fetched): the take
// begins and ends with them, or with the gap it began or ended in. Gaps are cut to the frames
// the video holds; `startedAt` stands in when there is neither a frame nor a gap.
void SetTakeTimes(TakeInfo& info, uint64_t firstTakenAt, uint64_t lastTakenAt,
                  std::vector<SensorGap> gaps, uint64_t startedAt);

// The runtime's nominal focal lengths in pixels.
constexpr double kColorFocalLength640 = 531.15;
constexpr double kDepthFocalLength320 = 285.63;
constexpr double kDepthFocalLength640 = 571.26;

// The take file's text: UTF-8 JSON, "\r\n" line ends.
std::string TakeInfoJson(const TakeInfo& info);

// Writes the take file at `path`, replacing one there. False when it can't be written whole.
bool WriteTakeInfo(const std::wstring& path, const TakeInfo& info);
