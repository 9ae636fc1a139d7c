// The take file written beside a take that saves skeleton data or depth: JSON that says what
// made the take, when it ran, what it holds and how to read each stream (size, rate, pixel
// format and the runtime's nominal focal length, so depth can be turned into points).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
    TakeLabStreams lsl;
};

// The runtime's nominal focal lengths in pixels.
constexpr double kColorFocalLength640 = 531.15;
constexpr double kDepthFocalLength320 = 285.63;
constexpr double kDepthFocalLength640 = 571.26;

// The take file's text: UTF-8 JSON, "\r\n" line ends.
std::string TakeInfoJson(const TakeInfo& info);

// Writes the take file at `path`, replacing one there. False when it can't be written whole.
bool WriteTakeInfo(const std::wstring& path, const TakeInfo& info);
