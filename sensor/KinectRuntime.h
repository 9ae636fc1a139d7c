// The sensor runtime, bound at start-up from Kinect10.dll by export ordinal. Each call below
// forwards to the runtime; without the DLL or an export, or outside a successful NuiInitialize
// and its NuiShutdown, a call reaches nothing and fails as it would with no sensor attached.
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

// Shuts the sensor down after a successful NuiInitialize. No call but NuiInitialize reaches the
// runtime afterwards: the others fail at once until the next successful NuiInitialize.
void NuiShutdown();

// Registers the runtime's device status callback. False when the runtime has none (it then
// never reports a change).
bool NuiSetDeviceStatusCallback(NuiStatusProc callback, void* user);

// The number of sensors the runtime sees; -1 when it can't tell.
int NuiSensorCount();

// NuiShutdown for a process whose render thread could not be stopped: waits at most `timeoutMs`
// for a caller that holds KinectRuntimeLock. Returns false, leaving the runtime as it is, when
// the lock stayed taken.
bool NuiShutdownWithin(DWORD timeoutMs);
