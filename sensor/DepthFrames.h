// The depth frames taken from the runtime, each matched to the colour frame it goes with: the
// newest depth picture taken at or before the colour picture, by the sensor's time stamps (the
// two cameras share the sensor's clock but not its beat). A pass that comes late takes colour
// frames that waited in the runtime's buffer while newer depth frames came; those depth frames
// wait here for the colour frames they belong to. Render thread only.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>

// The largest depth frame: 640 x 480 16-bit values.
constexpr int kDepthMaxPixels = 640 * 480;

// One depth frame as taken: its pixels (width x height of the stream, rows without gaps), the
// runtime's frame number and its sensor time stamp in milliseconds.
struct DepthFrame {
    const USHORT* pixels;
    DWORD number;
    int64_t timeMs;
};

class DepthFrames {
public:
    // The buffer the next depth frame taken from the runtime is copied into (kDepthMaxPixels
    // values). When every buffer is held, the oldest waiting frame becomes the current one and
    // the current one is given up for it.
    USHORT* NextBuffer();

    // Records that the frame numbered `number`, taken at `timeMs`, was copied into the buffer
    // NextBuffer() gave last.
    void Taken(DWORD number, int64_t timeMs);

    // Matches the colour frame taken at `colorTimeMs`: the newest waiting frame taken at or
    // before it becomes the current one, and the waiting frames older than that are given up.
    // When none was taken by then, the current frame stays. Returns the current frame, or
    // null before the first.
    const DepthFrame* MatchTo(int64_t colorTimeMs);

    // Gives up every frame, as before the first.
    void Clear();

private:
    static constexpr int kSlots = 4; // the current frame and those that wait

    bool Held(int slot) const;
    // Makes the oldest waiting frame the current one; returns the slot of the one before (-1
    // for none).
    int PromoteOldestWaiting();

    std::array<std::array<USHORT, kDepthMaxPixels>, kSlots> pixels_ = {};
    std::array<DepthFrame, kSlots> frames_ = {};
    int current_ = -1;
    std::array<int, kSlots> waiting_ = {}; // slots, oldest first
    int waitingCount_ = 0;
    int next_ = 0;
};
