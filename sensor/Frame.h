// The colour frame shared by the sensor, the output window and the encoder: 640x480 pixels of
// B, G, R, X bytes, rows top to bottom without gaps.
#pragma once

#include <cstddef>

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
constexpr int kFrameBytesPerPixel = 4;
constexpr int kFrameStride = kFrameWidth * kFrameBytesPerPixel;
constexpr std::size_t kFrameBytes = static_cast<std::size_t>(kFrameStride) * kFrameHeight;

static_assert(kFrameBytes == 1228800, "one frame is 1,228,800 bytes");
