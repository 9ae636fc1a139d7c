// Which depth frame goes with a colour frame: the newest taken at or before it by the sensor's
// clock, also when the render pass came late and newer depth frames were taken with it.

#include <gtest/gtest.h>

#include <memory>

#include "sensor/DepthFrames.h"

namespace {

// Takes a depth frame as the render pass does: its first pixel carries its number.
void Take(DepthFrames& frames, DWORD number, int64_t timeMs)
{
    frames.NextBuffer()[0] = static_cast<USHORT>(number);
    frames.Taken(number, timeMs);
}

// The number of the frame matched to a colour frame taken at `colorTimeMs`; -1 for none.
long Match(DepthFrames& frames, int64_t colorTimeMs)
{
    const DepthFrame* frame = frames.MatchTo(colorTimeMs);
    if (frame == nullptr) {
        return -1;
    }
    EXPECT_EQ(frame->pixels[0], static_cast<USHORT>(frame->number)) << "pixels of another frame";
    return static_cast<long>(frame->number);
}

TEST(DepthFrames, MatchesTheNewestTakenAtOrBeforeTheColourFrame)
{
    // Too big for the stack: four 640 x 480 frames.
    auto frames = std::make_unique<DepthFrames>();
    EXPECT_EQ(Match(*frames, 0), -1);
    Take(*frames, 0, 13);
    EXPECT_EQ(Match(*frames, 0), -1) << "taken after the colour frame";
    EXPECT_EQ(Match(*frames, 13), 0) << "taken at the same moment";

    // A late pass: colour frames 1 and 2 (33, 66 ms) waited while depth 1 and 2 (46, 79 ms)
    // came; each colour frame gets the depth taken before it, and keeps nothing of later ones.
    Take(*frames, 1, 46);
    Take(*frames, 2, 79);
    EXPECT_EQ(Match(*frames, 33), 0);
    EXPECT_EQ(Match(*frames, 66), 1);
    EXPECT_EQ(Match(*frames, 100), 2);
    EXPECT_EQ(Match(*frames, 133), 2) << "no newer one: the current frame stays";

    // More waiting than there are buffers: the oldest become current in turn, the rest wait
    // intact.
    for (DWORD n = 3; n < 9; ++n) {
        Take(*frames, n, 13 + n * 33);
    }
    EXPECT_EQ(Match(*frames, 190), 5);
    EXPECT_EQ(Match(*frames, 300), 8);

    // The sensor came back and its clock starts again: frames of the new run go with colour
    // frames of the new run, and a frame of the old run left waiting is given up.
    Take(*frames, 9, 310);
    Take(*frames, 0, 13);
    EXPECT_EQ(Match(*frames, 20), 0);
    Take(*frames, 1, 46);
    EXPECT_EQ(Match(*frames, 50), 1);

    // Frames taken without a colour frame to match, from none at all: the newest wins.
    frames->Clear();
    EXPECT_EQ(Match(*frames, 1000), -1);
    for (DWORD n = 0; n < 6; ++n) {
        Take(*frames, n, n * 33);
    }
    EXPECT_EQ(Match(*frames, 1000), 5);
}

} // namespace
