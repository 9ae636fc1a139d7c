// The simulated depth picture: a frame-number code band over a flat background, and a box for
// each tracked person at that person's distance, marked with the person's player index.
#pragma once

#include "sensor/NuiApi.h"

// Depths in millimetres of the picture's parts.
constexpr int kSimDepthCodeSetMm = 3000;
constexpr int kSimDepthCodeClearMm = 1000;
constexpr int kSimDepthBackgroundMm = 3500;

// Paints depth frame `frameNumber` into `pixels`: width x height 16-bit pixels (little-endian,
// rows top to bottom, pitch width * 2), each (depth in mm << 3) | player index, for 640x480 or
// 320x240. The top tenth of the rows holds 16 blocks, block i at kSimDepthCodeSetMm when bit
// (15 - i) of frameNumber mod 65536 is set, else at kSimDepthCodeClearMm. Below it lies the
// background at kSimDepthBackgroundMm, and each tracked record r of `skeletons` is a box over
// its joints' projected bounding box at its spine's depth, player index r + 1; where boxes
// overlap the nearer person covers the other (the lower record at equal depth). With
// `playerIndex` false every player index is 0.
void SimPaintDepthPicture(BYTE* pixels, int width, int height, DWORD frameNumber,
                          const NUI_SKELETON_FRAME& skeletons, bool playerIndex);
