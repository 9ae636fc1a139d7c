// The sensor's plug: a test pulls the simulated sensor out and puts it back through a file
// (NVR_SIM_PLUG), and the runtime reports each change to the program's status callback.
#pragma once

// True while the sensor is plugged in; without NVR_SIM_PLUG always. Starts watching the file
// on first use. Lock order: g_simLock may be held.
bool SimIsPlugged();
