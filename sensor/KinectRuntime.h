// The sensor runtime, bound at start-up from Kinect10.dll by export ordinal. Each call below
// forwards to the runtime; without the DLL or an export, or after NuiShutdown, a call reaches
// nothing and fails as it would with no sensor attached.
#pragma once

#include "sensor/NuiApi.h"

#include <mutex>

// Loads Kinect10.dll from the program's folder or the system folder and binds its exports by
// ordinal. Returns false, silently, when the DLL or any export is missing; the calls below then
// fail like a runtime without a sensor.
bool LoadKinectRuntime();

// Held by every call below, and by a caller across a sequence that also uses a frame's texture,
// so that NuiShutdown can't fall between a fetch and the frame's release.
std::recursive_mutex& KinectRuntimeLock();

HRESULT NuiInitialize(DWORD flags);
HRESULT NuiImageStreamOpen(int imageType, int resolution, DWORD frameFlags, DWORD frameLimit,
                           HANDLE nextFrameEvent, HANDLE* streamOut);
HRESULT NuiImageStreamGetNextFrame(HANDLE stream, DWORD waitMs, const NUI_IMAGE_FRAME** frameOut);
HRESULT NuiImageStreamReleaseFrame(HANDLE stream, const NUI_IMAGE_FRAME* frame);
HRESULT NuiSkeletonTrackingEnable(HANDLE nextFrameEvent, DWORD flags);
HRESULT NuiSkeletonGetNextFrame(DWORD waitMs, NUI_SKELETON_FRAME* frame);
HRESULT NuiTransformSmooth(NUI_SKELETON_FRAME* frame,
                           const NUI_TRANSFORM_SMOOTH_PARAMETERS* params);

// Shuts the runtime down. No call reaches the runtime afterwards: later calls fail at once.
void NuiShutdown();

// NuiShutdown for a process whose render thread could not be stopped: waits at most `timeoutMs`
// for a caller that holds KinectRuntimeLock. Returns false, leaving the runtime as it is, when
// the lock stayed taken.
bool NuiShutdownWithin(DWORD timeoutMs);
