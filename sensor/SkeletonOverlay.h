// The skeleton overlay: projects a tracked skeleton's joints onto the 640x480 colour picture,
// scales them to the output window's client area and draws the body's 19 bones as green lines.
// Runs on the render thread, into the device context of the current pass.
#pragma once

#include <windows.h>

#include "sensor/NuiApi.h"

// Largest magnitude of any coordinate the overlay hands to GDI: 2^27 - 1. GDI accepts device
// coordinates of about +-2^27, so a projection that runs off towards infinity is clamped here
// instead of overflowing an integer or making MoveToEx/LineTo fail.
constexpr LONG kOverlayCoordinateLimit = (LONG{1} << 27) - 1;

// Projects a joint (x right, y up, z distance from the sensor, in metres) to a point of the
// 640x480 picture, in 32-bit float steps: fx = ((x*2)*285.63f)/z, px = trunc((fx+320)+0.5);
// fy = ((y*2)*285.63f)/z, py = trunc((240-fy)+0.5); truncation is toward zero.
// z not greater than FLT_EPSILON (including NaN) gives (0, 0). Of a coordinate's final float,
// NaN gives 0 and anything beyond +-kOverlayCoordinateLimit (infinity included) gives that limit.
POINT SkeletonToScreen(float x, float y, float z);

// Scales a picture point to a client area of clientWidth x clientHeight:
// X = (W*px)/640, Y = (H*py)/480, multiplying first, dividing with truncation toward zero.
// Computed in 64 bits so no input overflows; results are clamped to +-kOverlayCoordinateLimit,
// which only points far outside the picture reach. A 0x0 client area gives (0, 0).
POINT ScaleToClient(POINT picturePoint, LONG clientWidth, LONG clientHeight);

// Draws one bone from joint fromJoint to joint toJoint with the pen selected in dc, scaled to
// the client area of g_hwndOutput as read by this call. Indices outside 0..19 draw nothing.
void DrawBone(HDC dc, const NUI_SKELETON_DATA& skeleton, int fromJoint, int toJoint);

// Draws the skeleton's 19 bones with a solid green pen of width 2, created and deleted here;
// the object selected in dc before the call is selected again afterwards.
void DrawSkeleton(HDC dc, const NUI_SKELETON_DATA& skeleton);
