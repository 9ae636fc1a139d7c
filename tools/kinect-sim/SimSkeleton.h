// The simulated skeleton stream: a frame of six records at 30 a second, announced through the
// event given to NuiSkeletonTrackingEnable.
#pragma once

#include "sensor/NuiApi.h"

// Forgets the previous session's tracking and event, and opens the skeleton log for appending
// when NVR_SIM_SKELETON_LOG names one. Lock held.
void SimSkeletonStartSession();

// Drops the tracking event at shutdown, so nothing touches it again, and closes the skeleton
// log. Lock held.
void SimSkeletonEndSession();

// Marks a new skeleton frame ready and sets the tracking event. Lock held.
void SimSkeletonOnFrame(LONGLONG frameNumber);

// The skeleton exports' bodies; each takes the lock itself.
HRESULT SimSkeletonTrackingEnable(HANDLE nextFrameEvent, DWORD flags);
HRESULT SimSkeletonGetNextFrame(DWORD waitMs, NUI_SKELETON_FRAME* frame);
HRESULT SimTransformSmooth(NUI_SKELETON_FRAME* frame,
                           const NUI_TRANSFORM_SMOOTH_PARAMETERS* params);
