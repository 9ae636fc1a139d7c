// The runtime's clock: sensor frames counted from NuiInitialize at 30 a second of wall time, and
// the background thread that signals the frame events as each frame begins.
#pragma once

#include <windows.h>

// Sets frame 0 to begin now. Lock held.
void SimStartClock();

// Starts the frame-event thread unless it runs already. Returns false if it could not be
// started. Lock held.
bool SimStartFrameEvents();

// The frame-event thread taken out of the session, to be joined once the lock is released.
struct SimFrameEventThread {
    HANDLE thread = nullptr;
    HANDLE stop = nullptr;
};

// Takes the frame-event thread out of the session: from now on it touches no event. Lock held,
// and the phase already moved away from Running.
SimFrameEventThread SimDetachFrameEvents();

// Wakes the detached thread and waits, bounded, for it to end; then closes its handles. Lock
// NOT held (the thread takes it).
void SimJoinFrameEvents(SimFrameEventThread detached);
