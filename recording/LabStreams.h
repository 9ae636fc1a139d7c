// The program's streams on the lab's network (Lab Streaming Layer): "NimbraVIZ Frames" (one
// sample per video frame of a take), "NimbraVIZ Skeleton" (one per skeleton frame taken) and
// "NimbraVIZ Markers" (what happens to takes and the sensor). This module alone owns lsl.dll,
// loaded from the program's own folder the first time the streams are wanted and kept until the
// process ends, and its outlets. While the streams are off every publish call returns at once;
// the rest of the program need not know whether they are on.
//
// Stamps are on the library's clock (lsl_local_clock), converted from the performance-counter
// readings the take's files are made from, never taken at the moment of pushing. A push only
// enqueues the sample for the library's own threads: a slow or absent lab recorder never holds
// up the caller.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "recording/TakeInfo.h"
#include "sensor/NuiApi.h"

constexpr const char* kLabFramesStream = "NimbraVIZ Frames";
constexpr const char* kLabSkeletonStream = "NimbraVIZ Skeleton";
constexpr const char* kLabMarkersStream = "NimbraVIZ Markers";

// True when lsl.dll is in the program's own folder (this does not load it).
bool IsLabLibraryBesideProgram();

// Main thread. Has the three streams made (loading the library the first time) or ended, at
// once but on a thread of this module's, so the caller never waits for either. Returns whether
// they are wanted now: turning on fails when the library is missing or incomplete.
bool SetLabStreamsOn(bool on);

// The streams exist (they appear a moment after SetLabStreamsOn). Any thread.
bool AreLabStreamsOn();

// Names the sensor whose port the source ids carry (its instance name; empty: the first
// sensor). Streams made after this use it. Main thread.
void SetLabSensorName(const std::wstring& instanceName);

// Writer thread: video frame `videoFrame` of the running take, holding colour frame
// `colorFrameNumber` (repeated: it repeats the picture before it), taken at `takenTicks`.
void PublishVideoFrame(int64_t videoFrame, DWORD colorFrameNumber, bool repeated,
                       int64_t takenTicks);

// Render thread: a skeleton frame the program took at `takenTicks` (as smoothed and saved).
void PublishSkeletonFrame(const NUI_SKELETON_FRAME& frame, int64_t takenTicks);

// Any thread: a marker, stamped now.
void PublishMarker(const std::wstring& text);

// The streams as a take's file names them: their names and source ids while they exist (none
// otherwise). With `frame0Ticks` (not 0) and the library loaded, also the LSL time of that
// performance-counter reading.
TakeLabStreams LabStreamsForTake(int64_t frame0Ticks = 0);

// At the program's end, with the render thread and the take's writer done: ends the streams,
// waiting for that up to a few seconds.
void EndLabStreams();
