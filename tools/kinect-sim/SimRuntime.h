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
};

// Settings read from the environment at each NuiInitialize.
struct SimSettings {
    bool noSensor = false;
    bool pitchZero = false;
    bool moving = true;
    unsigned trackedMask = 0x3;         // bit r set: skeleton record r is tracked
    wchar_t skeletonLogPath[4096] = {}; // empty: no skeleton log
};

// Guards everything below and the colour, skeleton and clock state of the other files.
extern std::mutex g_simLock;
extern SimPhase g_simPhase;
extern DWORD g_simInitFlags;
extern SimSettings g_simSettings;

// Result handed back by a call that finds the runtime failed, not started or shut down; S_OK
// while it runs. Counts a call made before NuiInitialize or after NuiShutdown. Lock held.
HRESULT SimCheckUsable();

// Number of the sensor frame of the current moment: floor(seconds since NuiInitialize * 30).
// Lock held.
LONGLONG SimFrameNow();

// Milliseconds (rounded up, at least 1) until sensor frame `frame` begins. Lock held.
DWORD SimMillisecondsUntilFrame(LONGLONG frame);

// Time stamp of sensor frame `frame`: milliseconds since NuiInitialize.
LARGE_INTEGER SimFrameTimeStamp(LONGLONG frame);

// Longest wait a fetch honours, whatever it asks for: no call may block indefinitely.
constexpr DWORD kSimMaxWaitMs = 10000;

// Sends one line to the debugger output, prefixed with the runtime's name.
void SimDebugMessage(const char* text);
