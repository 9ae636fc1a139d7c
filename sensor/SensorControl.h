// The sensor's start and shutdown, on the main thread, as often as it comes and goes. The
// runtime's device status callback only hands each change to the control window, which acts on
// it here; the render thread uses the streams only while the sensor runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Starts the sensor as at start-up: NuiInitialize (colour, depth with player index, skeleton),
// the colour stream at 640 x 480, the depth stream (640 x 480, else 320 x 240, else none) and
// skeleton tracking; then the render thread uses it. True when it runs; a failed start leaves
// it shut down. Main thread.
bool StartSensor();

// The render thread stops using the sensor at once, and it is shut down. Main thread.
void StopSensor();

// True while the sensor runs. Any thread.
bool IsSensorRunning();

// UTC (a FILETIME's value) since when the sensor is missing: not started, or gone since it ran;
// 0 while it runs and before the first start was tried. Any thread.
uint64_t SensorMissingSince();

// Sends each change of a sensor the runtime reports to `window` as `message` (for
// TakeSensorStatus), and once now the state the runtime sees, should it have changed since the
// start. Nothing with a runtime that reports no changes. Main thread, once.
void WatchSensorStatus(HWND window, UINT message);

// What a status message did to the sensor.
enum class SensorChange {
    None,        // nothing (a change of another sensor, or no change)
    Started,     // it was connected and has been started
    StartFailed, // it was connected but could not be started (RetrySensorStart may try again)
    Lost,        // it went away and has been shut down
};

// Acts on a status message that WatchSensorStatus sent: starts the sensor when one is
// connected, shuts it down when it goes away. Main thread.
SensorChange TakeSensorStatus(WPARAM wParam, LPARAM lParam);

// Tries again to start a sensor reported connected whose start failed. Main thread.
SensorChange RetrySensorStart();

// The instance name of the sensor in use or last used, which names the USB port it sits on
// (the same after a replug there); empty until the runtime has reported one. Any thread.
std::wstring SensorInstanceName();
