// The simulated people: six standing stick figures placed left to right across the picture.
#pragma once

#include "sensor/NuiApi.h"

// Fills a whole skeleton frame (after zeroing it) for sensor frame `frameNumber`: every record
// holds a figure; the records whose bit is set in trackedMask are marked tracked (2), the others
// not tracked (0). With `moving` the figures sway and raise their arms over time; without it
// every frame holds the same positions.
void SimFillSkeletonFrame(NUI_SKELETON_FRAME* frame, LONGLONG frameNumber, unsigned trackedMask,
                          bool moving);

// Reads a list of record indices such as "0,2,5" ("" or "none": no record) into a bit mask.
// Returns false when an entry is not an index from 0 to 5; *mask then holds the valid ones.
bool SimParseTrackedList(const wchar_t* text, unsigned* mask);

// Writes the six records as text: `record r tracked t` (t 1 or 0), then 20 lines
// `joint j x y z` with each float printed by "%.9g", so it reads back exactly.
bool SimWriteSkeletonDump(const wchar_t* path, const NUI_SKELETON_FRAME& frame);
