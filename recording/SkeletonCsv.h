// The skeleton file written beside a take: for every video frame, one row per person tracked in
// the skeleton frame that goes with it, so row `frame` describes exactly the picture the video
// shows at frame / 30 s.
//
// Format: UTF-8 without a byte-order mark, comma separated, "\r\n" line ends, one header row.
// Columns: frame, time_s, color_frame, color_time_ms, skeleton_frame, skeleton_time_ms,
// skeleton, tracking_id, then for each of the 20 joints in the runtime's order (hip_center ...
// foot_right) <joint>_x, _y, _z (metres, the shortest text that reads back as the same 32-bit
// float), _u, _v (the overlay's point in the 640x480 picture) and _state (0, 1 or 2).
// time_s is frame / 30 with exactly six decimals. Numbers never depend on the user's locale.
//
// A file belongs to the take that made it and is used by one thread at a time; the formatter
// is pure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "recording/CsvFile.h"
#include "sensor/NuiApi.h"

// One open skeleton file; its buffer holds one frame's rows, its capacity reserved at open.
using SkeletonCsvFile = CsvFile;

// What one video frame carries into the skeleton file.
struct SkeletonCsvFrame {
    int64_t videoFrame;                  // index in the video, from 0 (shown at videoFrame/30 s)
    DWORD colorFrameNumber;              // runtime's dwFrameNumber of the colour frame
    int64_t colorTimeMs;                 // its liTimeStamp
    const NUI_SKELETON_FRAME* skeletons; // newest skeleton frame at or before that colour
                                         // frame's pass (smoothed), or null: none yet
};

// The skeleton file's path for a video: the video's path without the extension of its last
// component, followed by ".skeleton.csv" ("D:\rec\take.mp4" gives "D:\rec\take.skeleton.csv").
std::wstring SkeletonCsvPathFor(const std::wstring& videoPath);

// Creates the file at `path`, replacing one that is there, and writes the header row. Returns
// false when it can't be created or written; the file then counts as failed.
bool SkeletonCsvOpen(SkeletonCsvFile& file, const std::wstring& path);

// Writes the rows of `frame` with one WriteFile call; nothing when no one is tracked. Does
// nothing when no file is open or a write has failed before (the file then stays failed).
void SkeletonCsvAppend(SkeletonCsvFile& file, const SkeletonCsvFrame& frame);

// Closes the file. True only when it was opened and every row reached it.
bool SkeletonCsvClose(SkeletonCsvFile& file);

// Appends to `out` one row for each tracked record of frame.skeletons, in record order; nothing
// when skeletons is null or no record is tracked.
void AppendSkeletonCsvRows(std::string& out, const SkeletonCsvFrame& frame);
