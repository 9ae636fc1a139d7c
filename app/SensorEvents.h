// The control window's reaction to the sensor coming and going.
#pragma once

#include <windows.h>

// A sensor's change reported by the runtime (WM_APP_SENSOR_STATUS): the sensor is started or
// shut down, and the status line tells whether it is there. Main thread.
void OnSensorStatus(HWND hwnd, WPARAM wParam, LPARAM lParam);

// IDT_SENSOR_START: another try to start a sensor that is connected but did not start.
void OnSensorStartTimer(HWND hwnd);
