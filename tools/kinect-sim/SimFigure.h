// The simulated people: six standing stick figures placed left to right across the picture.
#pragma once

#include "sensor/NuiApi.h"

#include <string>

// Fills a whole skeleton frame (after zeroing it) for sensor frame `frameNumber`: every record
// holds a figure; the records whose bit is set in trackedMask are marked tracked (2), with
// tracking id r + 1 and joints tracked (2), the others not tracked (0), with id 0 and joints 0.
// With `moving` the figures sway and raise their arms as a function of frameNumber / 30 s, and
// a tracked record's hand_left (7) is inferred (1) on odd frames and its foot_right (19) when
// (frameNumber + record) % 3 == 0; without it every frame holds the same positions and states.
void SimFillSkeletonFrame(NUI_SKELETON_FRAME* frame, LONGLONG frameNumber, unsigned trackedMask,
                          bool moving);

// Reads a list of record indices such as "0,2,5" ("" or "none": no record) into a bit mask.
// Returns false when an entry is not an index from 0 to 5; *mask then holds the valid ones.
bool SimParseTrackedList(const wchar_t* text, unsigned* mask);

// Appends the skeleton log's text for one frame handed out: a line `frame n timestamp`, then for
// each of the six records a line `record r trackingState trackingId` followed by x y z state
// of its 20 joints; floats by "%.9g", so they read back exactly.
void SimAppendSkeletonLog(std::string& text, const NUI_SKELETON_FRAME& frame);
