// The take file written beside a take that saves skeleton data or depth: JSON that says what
// made the take, when it ran, what it holds and how to read each stream (size, rate, pixel
// format and the runtime's nominal focal length, so depth can be turned into points).
#pragma once

#include <cstdint>
#include <string>

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
};

// The runtime's nominal focal lengths in pixels.
constexpr double kColorFocalLength640 = 531.15;
constexpr double kDepthFocalLength320 = 285.63;
constexpr double kDepthFocalLength640 = 571.26;

// The take file's text: UTF-8 JSON, "\r\n" line ends.
std::string TakeInfoJson(const TakeInfo& info);

// Writes the take file at `path`, replacing one there. False when it can't be written whole.
bool WriteTakeInfo(const std::wstring& path, const TakeInfo& info);
