// The process entry: start-up, the message loop and shutdown.

#include <windows.h>

#include "app/ControlWindow.h"
#include "app/Ids.h"
#include "app/Menu.h"
#include "app/OutputWindow.h"
#include "app/ScriptedTake.h"
#include "app/TaskbarOverlay.h"
#include "platform/DllSearch.h"
#include "recording/LabStreams.h"
#include "recording/Recording.h"
#include "sensor/KinectRuntime.h"
#include "sensor/RenderLoop.h"
#include "sensor/SensorControl.h"

namespace {

// How long shutdown waits for the render thread to finish its pass. A pass never waits for the
// encoder, so only a stuck platform call could hold it longer.
constexpr DWORD kRenderJoinBoundMs = 2000;
// How long shutdown waits for the runtime's lock when the render thread could not be joined.
constexpr DWORD kAbandonedRuntimeLockWaitMs = 1000;

ATOM RegisterWindowClass(HINSTANCE instance, const wchar_t* name, UINT style, WNDPROC procedure)
{
    WNDCLASSW windowClass = {};
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = name;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    return ::RegisterClassW(&windowClass);
}

HWND CreateTopLevelWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title,
                          int width, int height)
{
    return ::CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             width, height, nullptr, nullptr, instance, nullptr);
}

// Asks the render thread to stop and waits for it, within a bound. Returns true when it ended.
bool JoinRenderThread(HANDLE renderThread)
{
    if (renderThread == nullptr) {
        return true;
    }
    RequestRenderStop();
    bool ended = ::WaitForSingleObject(renderThread, kRenderJoinBoundMs) == WAIT_OBJECT_0;
    ::CloseHandle(renderThread);
    return ended;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand)
{
    // A drive with no disk in it (an empty card reader) fails its calls instead of raising the
    // system's "There is no disk in the drive" box, which would hold the program up.
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS);
    RestrictDllSearchToSafeFolders();
    int exitCode = 0;
    if (!TakeCommandLine(commandLine, exitCode)) {
        return exitCode;
    }
    RegisterWindowClass(instance, kControlWindowClass, CS_OWNDC, MainWndProc);
    HMENU menuBar = CreateMainMenu();
    HWND control = CreateTopLevelWindow(instance, kControlWindowClass, kControlWindowTitle,
                                        kControlWindowWidth, kControlWindowHeight);
    ::ShowWindow(control, showCommand);
    ::SetMenu(control, menuBar);
    ::DrawMenuBar(control);

    RegisterWindowClass(instance, kOutputWindowClass, 0, OutputWndProc);
    g_hwndOutput = CreateTopLevelWindow(instance, kOutputWindowClass, kOutputWindowTitle,
                                        kOutputWindowWidth, kOutputWindowHeight);
    ::ShowWindow(g_hwndOutput, showCommand);

    // A missing runtime leaves every call failing, exactly as a missing sensor does.
    LoadKinectRuntime();
    StartSensor();
    WatchSensorStatus(control, WM_APP_SENSOR_STATUS);
    SetRenderedFrameSink(FeedRecording);
    SetSkeletonFrameSink(PublishSkeletonFrame);
    HANDLE renderThread = ::CreateThread(nullptr, 0, RenderThread, nullptr, 0, nullptr);
    PostStartupRequest(control);

    MSG message = {};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }

    // A running take is left running: what it has taken is handed over, its pipe closes with
    // the process, and the encoder finishes the file under the name it was started with.
    if (!JoinRenderThread(renderThread)) {
        // The render thread may still hold the runtime's lock or be inside the runtime: nothing
        // it may use is destroyed. The process ends here; the frame pipe closes with it, so an
        // encoder still sees the end of its input.
        NuiShutdownWithin(kAbandonedRuntimeLockWaitMs);
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(ScriptExitCode()));
    }
    LeaveRecordingAtExit();
    EndLabStreams();
    ReleaseTaskbarOverlay();
    StopSensor();
    if (g_skeletonEvent != nullptr) {
        ::CloseHandle(g_skeletonEvent);
    }
    return ScriptExitCode();
}
