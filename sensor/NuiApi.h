// Declarations of the Kinect for Windows v1 runtime (Kinect10.dll): the records, constants and
// function types that the recorder and the simulated runtime share. Written from the runtime's
// published binary interface; every size and offset is checked below.
#pragma once

#include <windows.h>
// IUnknown; windows.h leaves it out under WIN32_LEAN_AND_MEAN.
#include <unknwn.h>

#include <cstddef>

// The texture interface's methods use the COM calling convention on every compiler.
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE __stdcall
#endif

struct Vector4 {
    float x;
    float y;
    float z;
    float w;
};

struct NUI_IMAGE_VIEW_AREA {
    int eDigitalZoom;
    LONG lCenterX;
    LONG lCenterY;
};

struct NUI_LOCKED_RECT {
    INT Pitch;
    INT size;
    BYTE* pBits;
};

struct NUI_SURFACE_DESC {
    UINT Width;
    UINT Height;
};

// COM interface of a frame's pixel buffer; only LockRect and UnlockRect are used by the recorder.
struct INuiFrameTexture : public IUnknown {
    virtual int STDMETHODCALLTYPE BufferLen() = 0;
    virtual int STDMETHODCALLTYPE Pitch() = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRect(UINT level, NUI_LOCKED_RECT* lockedRect, RECT* rect,
                                               DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, NUI_SURFACE_DESC* desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRect(UINT level) = 0;
};

struct NUI_IMAGE_FRAME {
    LARGE_INTEGER liTimeStamp;
    DWORD dwFrameNumber;
    int eImageType;
    int eResolution;
    INuiFrameTexture* pFrameTexture;
    DWORD dwFrameFlags;
    NUI_IMAGE_VIEW_AREA ViewArea;
};

constexpr int NUI_SKELETON_COUNT = 6;
constexpr int NUI_SKELETON_POSITION_COUNT = 20;

struct NUI_SKELETON_DATA {
    int eTrackingState;
    DWORD dwTrackingID;
    DWORD dwEnrollmentIndex;
    DWORD dwUserIndex;
    Vector4 Position;
    Vector4 SkeletonPositions[NUI_SKELETON_POSITION_COUNT];
    int eSkeletonPositionTrackingState[NUI_SKELETON_POSITION_COUNT];
    DWORD dwQualityFlags;
};

struct NUI_SKELETON_FRAME {
    LARGE_INTEGER liTimeStamp;
    DWORD dwFrameNumber;
    DWORD dwFlags;
    Vector4 vFloorClipPlane;
    Vector4 vNormalToGravity;
    NUI_SKELETON_DATA SkeletonData[NUI_SKELETON_COUNT];
};

struct NUI_TRANSFORM_SMOOTH_PARAMETERS {
    float fSmoothing;
    float fCorrection;
    float fPrediction;
    float fJitterRadius;
    float fMaxDeviationRadius;
};

// Layout checks: these records cross the DLL boundary, so a mismatch corrupts memory.
static_assert(sizeof(Vector4) == 16, "Vector4");
static_assert(sizeof(NUI_IMAGE_VIEW_AREA) == 12, "NUI_IMAGE_VIEW_AREA");
static_assert(sizeof(NUI_SURFACE_DESC) == 8, "NUI_SURFACE_DESC");
static_assert(sizeof(NUI_SKELETON_DATA) == 436, "NUI_SKELETON_DATA");
static_assert(offsetof(NUI_SKELETON_DATA, Position) == 16, "NUI_SKELETON_DATA::Position");
static_assert(offsetof(NUI_SKELETON_DATA, SkeletonPositions) == 32,
              "NUI_SKELETON_DATA::SkeletonPositions");
static_assert(offsetof(NUI_SKELETON_DATA, eSkeletonPositionTrackingState) == 352,
              "NUI_SKELETON_DATA::eSkeletonPositionTrackingState");
static_assert(offsetof(NUI_SKELETON_DATA, dwQualityFlags) == 432,
              "NUI_SKELETON_DATA::dwQualityFlags");
static_assert(sizeof(NUI_SKELETON_FRAME) == 2664, "NUI_SKELETON_FRAME");
static_assert(offsetof(NUI_SKELETON_FRAME, vFloorClipPlane) == 16,
              "NUI_SKELETON_FRAME::vFloorClipPlane");
static_assert(offsetof(NUI_SKELETON_FRAME, vNormalToGravity) == 32,
              "NUI_SKELETON_FRAME::vNormalToGravity");
static_assert(offsetof(NUI_SKELETON_FRAME, SkeletonData) == 48, "NUI_SKELETON_FRAME::SkeletonData");
static_assert(sizeof(NUI_TRANSFORM_SMOOTH_PARAMETERS) == 20, "NUI_TRANSFORM_SMOOTH_PARAMETERS");
#if defined(_WIN64)
static_assert(sizeof(NUI_IMAGE_FRAME) == 48, "NUI_IMAGE_FRAME");
static_assert(offsetof(NUI_IMAGE_FRAME, pFrameTexture) == 24, "NUI_IMAGE_FRAME::pFrameTexture");
static_assert(offsetof(NUI_IMAGE_FRAME, dwFrameFlags) == 32, "NUI_IMAGE_FRAME::dwFrameFlags");
static_assert(offsetof(NUI_IMAGE_FRAME, ViewArea) == 36, "NUI_IMAGE_FRAME::ViewArea");
static_assert(sizeof(NUI_LOCKED_RECT) == 16, "NUI_LOCKED_RECT");
static_assert(offsetof(NUI_LOCKED_RECT, pBits) == 8, "NUI_LOCKED_RECT::pBits");
#else
static_assert(sizeof(NUI_IMAGE_FRAME) == 40, "NUI_IMAGE_FRAME");
static_assert(offsetof(NUI_IMAGE_FRAME, pFrameTexture) == 20, "NUI_IMAGE_FRAME::pFrameTexture");
static_assert(sizeof(NUI_LOCKED_RECT) == 12, "NUI_LOCKED_RECT");
static_assert(offsetof(NUI_LOCKED_RECT, pBits) == 8, "NUI_LOCKED_RECT::pBits");
#endif

// Constants used by the recorder and the simulated runtime.
constexpr DWORD NUI_INITIALIZE_FLAG_USES_DEPTH_AND_PLAYER_INDEX = 0x00000001;
constexpr DWORD NUI_INITIALIZE_FLAG_USES_COLOR = 0x00000002;
constexpr DWORD NUI_INITIALIZE_FLAG_USES_SKELETON = 0x00000008;
constexpr DWORD NUI_INITIALIZE_FLAG_USES_DEPTH = 0x00000020;
constexpr int NUI_IMAGE_TYPE_DEPTH_AND_PLAYER_INDEX = 0;
constexpr int NUI_IMAGE_TYPE_COLOR = 1;
constexpr int NUI_IMAGE_TYPE_DEPTH = 4;
constexpr int NUI_IMAGE_RESOLUTION_80x60 = 0;
constexpr int NUI_IMAGE_RESOLUTION_320x240 = 1;
constexpr int NUI_IMAGE_RESOLUTION_640x480 = 2;
// A depth pixel (16 bits): the depth in millimetres above this shift (0: unknown), the player
// index (0: no one, else skeleton record + 1) in the bits of the mask; zero in depth alone.
constexpr int NUI_IMAGE_PLAYER_INDEX_SHIFT = 3;
constexpr USHORT NUI_IMAGE_PLAYER_INDEX_MASK = 0x0007;
constexpr int NUI_SKELETON_NOT_TRACKED = 0;
constexpr int NUI_SKELETON_POSITION_ONLY = 1;
constexpr int NUI_SKELETON_TRACKED = 2;
constexpr HRESULT E_NUI_FRAME_NO_DATA = static_cast<HRESULT>(0x83010001);
constexpr HRESULT E_NUI_DEVICE_NOT_CONNECTED = static_cast<HRESULT>(0x83010014);
// A per-frame call while the sensor is away: HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
constexpr HRESULT E_NUI_DEVICE_GONE = static_cast<HRESULT>(0x8007048F);

// The exports, with the ordinals at which the runtime publishes them.
using NuiInitializeFn = HRESULT(WINAPI*)(DWORD flags);
using NuiShutdownFn = void(WINAPI*)();
using NuiImageStreamOpenFn = HRESULT(WINAPI*)(int imageType, int resolution, DWORD frameFlags,
                                              DWORD frameLimit, HANDLE nextFrameEvent,
                                              HANDLE* streamOut);
using NuiImageStreamGetNextFrameFn = HRESULT(WINAPI*)(HANDLE stream, DWORD waitMs,
                                                      const NUI_IMAGE_FRAME** frameOut);
using NuiImageStreamReleaseFrameFn = HRESULT(WINAPI*)(HANDLE stream, const NUI_IMAGE_FRAME* frame);
using NuiSkeletonTrackingEnableFn = HRESULT(WINAPI*)(HANDLE nextFrameEvent, DWORD flags);
using NuiSkeletonGetNextFrameFn = HRESULT(WINAPI*)(DWORD waitMs, NUI_SKELETON_FRAME* frame);
using NuiTransformSmoothFn = HRESULT(WINAPI*)(NUI_SKELETON_FRAME* frame,
                                              const NUI_TRANSFORM_SMOOTH_PARAMETERS* params);

// Bound by name, and only where the runtime has them: the device status of sensors that come and
// go. The callback runs on a thread of the runtime's, once per change of any sensor.
using NuiStatusProc = void(CALLBACK*)(HRESULT status, const OLECHAR* instanceName,
                                      const OLECHAR* uniqueDeviceName, void* user);
using NuiSetDeviceStatusCallbackFn = void(WINAPI*)(NuiStatusProc callback, void* user);
using NuiGetSensorCountFn = HRESULT(WINAPI*)(int* count);

constexpr WORD NUI_ORDINAL_IMAGE_STREAM_GET_NEXT_FRAME = 11;
constexpr WORD NUI_ORDINAL_IMAGE_STREAM_OPEN = 12;
constexpr WORD NUI_ORDINAL_IMAGE_STREAM_RELEASE_FRAME = 13;
constexpr WORD NUI_ORDINAL_INITIALIZE = 14;
constexpr WORD NUI_ORDINAL_SHUTDOWN = 16;
constexpr WORD NUI_ORDINAL_SKELETON_GET_NEXT_FRAME = 17;
constexpr WORD NUI_ORDINAL_SKELETON_TRACKING_ENABLE = 19;
constexpr WORD NUI_ORDINAL_TRANSFORM_SMOOTH = 20;
