// State shared by the parts of the simulated sensor runtime: the session's phase, its settings
// from the environment, its clock, and the one lock that every export takes.
#pragma once

#include "sensor/NuiApi.h"

#include <mutex>

enum class SimPhase {
    Fresh,    // NuiInitialize never called
    Running,  // initialised with a sensor
    NoSensor, // NuiInitialize reported that no sensor is attached
    ShutDown, // NuiShutdown called
    Unplugged, // the running session's sensor was pulled: it stays dead until NuiShutdown
};

// Settings read from the environment at each NuiInitialize.
struct SimSettings {
    bool noSensor = false;
    bool pitchZero = false;
    bool depth640 = true; // depth may be opened at 640x480
    bool moving = true;
    unsigned trackedMask = 0x3;         // bit r set: skeleton record r is tracked
    wchar_t skeletonLogPath[4096] = {}; // empty: no skeleton log
};

// Guards everything below and the image stream, skeleton and clock state of the other files.
extern std::mutex g_simLock;
extern SimPhase g_simPhase;
extern DWORD g_simInitFlags;
extern SimSettings g_simSettings;

// Result handed back by a call that finds the runtime failed, not started or shut down; S_OK
// while it runs. Counts a call made before NuiInitialize or after NuiShutdown. Lock held.
HRESULT SimCheckUsable();

// When each camera's frame 0 begins, in milliseconds after NuiInitialize. Both cameras run at
// 30 frames a second on the one sensor clock, but not in lockstep: frame n of a camera begins
// at offset + n * 1000 / 30 ms. Skeleton frames follow the colour camera.
constexpr DWORD kSimColourOffsetMs = 0;
constexpr DWORD kSimDepthOffsetMs = 13;

// Number of the camera's frame of the current moment, for the camera whose frame 0 begins
// `offsetMs` after NuiInitialize: floor((seconds since NuiInitialize - offset) * 30), or -1
// before its frame 0 has begun. Lock held.
LONGLONG SimFrameNow(DWORD offsetMs);

// Milliseconds (rounded up; 0 if it has begun) until frame `frame` of the camera whose frame 0
// begins `offsetMs` after NuiInitialize. Lock held.
DWORD SimMillisecondsUntilFrame(LONGLONG frame, DWORD offsetMs);

// Time stamp of that camera's frame `frame`: when it begins, in whole milliseconds since
// NuiInitialize (offsetMs + floor(frame * 1000 / 30)).
LARGE_INTEGER SimFrameTimeStamp(LONGLONG frame, DWORD offsetMs);

// Longest wait a fetch honours, whatever it asks for: no call may block indefinitely.
constexpr DWORD kSimMaxWaitMs = 10000;

// Sends one line to the debugger output, prefixed with the runtime's name.
void SimDebugMessage(const char* text);
