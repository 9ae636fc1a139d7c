// The frames file written beside a take that saves skeleton data or depth: one row per video
// frame, telling which colour and depth frames it holds and when the colour picture was taken,
// so a take can be lined up with other instruments.
//
// Format: UTF-8 without a byte-order mark, comma separated, "\r\n" line ends, one header row:
// frame,time_s,color_frame,color_time_ms,depth_frame,depth_time_ms,repeated,host_time
// time_s is frame / 30 with six decimals; repeated is 1 when the frame repeats the colour
// picture before it; host_time is ISO 8601 local time with milliseconds and the UTC offset. The
// depth columns are empty when the take saves no depth (or no depth frame had come yet).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "recording/CsvFile.h"

struct FramesCsvRow {
    int64_t videoFrame;
    DWORD colorFrameNumber;
    int64_t colorTimeMs;
    bool hasDepth; // the depth columns are filled
    DWORD depthFrameNumber;
    int64_t depthTimeMs;
    bool repeated;
    uint64_t takenAt; // UTC FILETIME value of the colour picture's fetch
};

// One open frames file; used by one thread at a time.
using FramesCsvFile = CsvFile;

// The frames file's path for a video: "D:\rec\take.mp4" gives "D:\rec\take.frames.csv".
std::wstring FramesCsvPathFor(const std::wstring& videoPath);

// Creates the file, replacing one that is there, and writes the header. False when it can't.
bool FramesCsvOpen(FramesCsvFile& file, const std::wstring& path);

// Writes one row; nothing once a write has failed.
void FramesCsvAppend(FramesCsvFile& file, const FramesCsvRow& row);

// Closes the file. True only when it was opened and every row reached it.
bool FramesCsvClose(FramesCsvFile& file);

// Appends one row's text to `out`.
void AppendFramesCsvRow(std::string& out, const FramesCsvRow& row);
