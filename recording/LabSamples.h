// What the program publishes to Lab Streaming Layer, as data: the streams' channels, a skeleton
// frame as one sample, the source ids and the library's configuration. Pure: nothing here
// touches the library, a file or the sensor.
#pragma once

#include <cstdint>
#include <string>

#include "sensor/NuiApi.h"

// Per skeleton slot: its tracking id, then x, y, z (metres) and the state of each of the 20
// joints in the runtime's order (the skeleton file's).
constexpr int kSkeletonSlotChannels = 1 + 4 * NUI_SKELETON_POSITION_COUNT;
constexpr int kSkeletonChannels = NUI_SKELETON_COUNT * kSkeletonSlotChannels;
// The video frame number, the sensor's colour frame number, 1 for a repeated frame.
constexpr int kFrameChannels = 3;

// One channel's description in a stream's metadata.
struct LabChannel {
    std::string label; // "S0_HeadX"
    const char* type;  // "PositionX", "TrackingId", ...
    const char* unit;  // "meters", or "" for numbers without one
};

// The skeleton stream's channel `index` (0 .. kSkeletonChannels - 1).
LabChannel SkeletonChannel(int index);

// The frames stream's channel `index` (0 .. kFrameChannels - 1).
LabChannel FrameChannel(int index);

// Fills `sample` (kSkeletonChannels values) from `frame`: a tracked slot gets its tracking id
// and joints; every other slot is all zeros (tracking id 0: nobody).
void FillSkeletonSample(const NUI_SKELETON_FRAME& frame, float* sample);

// A stream's source id: the same for the same computer, sensor port and stream on every run, so
// a lab recorder finds the stream again. An empty `sensor` stands for the first sensor.
std::string LabSourceId(const std::wstring& computer, const std::wstring& sensor,
                        const char* stream);

// The configuration the library is given: the user's own (`userConfig`, INI text, may be empty)
// with the program's settings on top, which keep the library from changing the process's timer
// resolution and from writing its log where a user sees it.
std::string LabConfigContent(const std::string& userConfig);
