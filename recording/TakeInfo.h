// The take file written beside a take that saves skeleton data or depth: JSON that says what
// made the take, when it ran, what it holds and how to read each stream (size, rate, pixel
// format and the runtime's nominal focal length, so depth can be turned into points).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A time of a take without the sensor: from when it went away (or the take began without it)
// to when its picture returned (or the take ended), UTC FILETIME values, and the video frames
// of that time, which repeat the last picture.
struct SensorGap {
    uint64_t start = 0;
    uint64_t end = 0;
    int64_t firstFrame = 0;
    int64_t frames = 0;
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
    std::vector<SensorGap> sensorGaps;
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
