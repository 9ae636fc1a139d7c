// The process-wide state that the control window, the render thread and the recording share.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "sensor/Frame.h"

// The colour feed is shown (and fetched). Written by the checkbox command, read by the render
// thread on every pass.
extern std::atomic<bool> g_showColorFeed;
// A recording runs. Written by StartRecording/StopRecording on the main thread; read by the
// render thread before each frame write.
extern std::atomic<bool> g_isRecording;

extern HWND g_hwndControl;
extern HWND g_hwndOutput;
extern HWND g_hwndPathEdit;
extern HWND g_hwndStart;
extern HWND g_hwndStop;
extern HBITMAP g_banner;

// Written at start-up before the render thread starts, never again.
extern HANDLE g_colorStream;
extern HANDLE g_skeletonEvent;

// The render thread's frame buffer; no other thread touches it.
extern BYTE g_colorFrame[kFrameBytes];

// Server end of the frame pipe. Every read, write and close of it holds g_pipeLock.
extern HANDLE g_pipe;
extern std::timed_mutex g_pipeLock;

// The running encoder and the recording's start; main thread only.
extern PROCESS_INFORMATION g_encoder;
extern SYSTEMTIME g_recordStart;
extern std::wstring g_outputPath;
