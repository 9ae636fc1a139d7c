#include "app/AppState.h"

std::atomic<bool> g_showColorFeed{true};
std::atomic<bool> g_isRecording{false};

HWND g_hwndControl = nullptr;
HWND g_hwndOutput = nullptr;
HWND g_hwndPathEdit = nullptr;
HWND g_hwndStart = nullptr;
HWND g_hwndStop = nullptr;
HBITMAP g_banner = nullptr;

HANDLE g_colorStream = nullptr;
HANDLE g_skeletonEvent = nullptr;

BYTE g_colorFrame[kFrameBytes] = {};

HANDLE g_pipe = nullptr;
std::timed_mutex g_pipeLock;

PROCESS_INFORMATION g_encoder = {};
SYSTEMTIME g_recordStart = {};
std::wstring g_outputPath;
