#include "app/ScriptedTake.h"

#include <vector>

#include "app/ControlWindow.h"
#include "app/Ids.h"
#include "app/SoundChoice.h"
#include "platform/Platform.h"
#include "recording/Recording.h"
#include "recording/TakeFiles.h"

namespace {

// Every copy that runs its windows holds this open, so a later start can tell it is there.
constexpr const wchar_t* kRunningMutexName = L"Local\\NimbraVIZRecorder.Running";
constexpr const wchar_t* kAppCaption = L"Nimbra VIZ Recorder";
// A running copy may still be starting: its control window is waited for this long...
constexpr DWORD kFindWindowMs = 10000;
constexpr DWORD kFindWindowPollMs = 100;
// ...and its answer this long: a start waits up to 10 s for the encoder to open the pipe.
constexpr UINT kHandOverAnswerMs = 30000;
// How often a take with a frame limit is looked at: it stops within a third of a frame of its
// last frame being queued.
constexpr UINT kFrameLimitPollMs = 10;

// Main thread only, like the control window that uses them.
ScriptRequest g_startupRequest;
bool g_startupRequestPending = false;
SwitchChoice g_depthChoice = SwitchChoice::Unset;
int g_exitCode = kExitTakeEnded;

// The scripted take from its start until its files have their names.
struct ScriptedTake {
    bool active = false;
    std::wstring startPath;
    bool exitWhenDone = false;
};
ScriptedTake g_take;

void ShowUsage(const std::wstring& problem)
{
    const std::wstring text = (problem.empty() ? L"" : problem + L"\n\n") + UsageText();
    ::MessageBoxW(nullptr, text.c_str(), kAppCaption,
                  MB_OK | (problem.empty() ? MB_ICONINFORMATION : MB_ICONWARNING));
}

// Gives `request` to the running copy's control window and returns its answer: the request's
// exit code, or 6 when no copy took it in time.
int HandToRunningCopy(const ScriptRequest& request)
{
    HWND window = ::FindWindowW(kControlWindowClass, kControlWindowTitle);
    for (DWORD waited = 0; window == nullptr && waited < kFindWindowMs;
         waited += kFindWindowPollMs) {
        ::Sleep(kFindWindowPollMs);
        window = ::FindWindowW(kControlWindowClass, kControlWindowTitle);
    }
    if (window == nullptr) {
        return kExitNothingToDo;
    }
    std::vector<unsigned char> packed = PackRequest(request);
    COPYDATASTRUCT copyData = {};
    copyData.dwData = kHandedRequestTag;
    copyData.cbData = static_cast<DWORD>(packed.size());
    copyData.lpData = packed.data();
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copyData),
                               SMTO_ABORTIFHUNG, kHandOverAnswerMs, &answer)) {
        return kExitNothingToDo;
    }
    const DWORD_PTR code = answer - kHandedAnswerTag;
    return answer >= static_cast<DWORD_PTR>(kHandedAnswerTag) &&
                   code <= static_cast<DWORD_PTR>(kExitNothingToDo)
               ? static_cast<int>(code)
               : kExitNothingToDo;
}

// True when `videoPath`, a finished take's video as it is on disk, is the take recorded to
// `startPath`: under that name, or under the final name made from it.
bool IsTakeOf(const std::wstring& videoPath, const std::wstring& startPath)
{
    return videoPath == startPath || videoPath.rfind(startPath + L"_", 0) == 0;
}

// While a scripted take with a frame limit runs: once the limit's frames are queued, Stop is
// pressed, which hands them to the encoder.
void CALLBACK OnFrameLimitTimer(HWND window, UINT, UINT_PTR timer, DWORD)
{
    if (!IsRecording()) {
        ::KillTimer(window, timer);
    } else if (IsTakeFrameLimitReached()) {
        ::KillTimer(window, timer);
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_STOP)));
    }
}

} // namespace

bool TakeCommandLine(const wchar_t* arguments, int& exitCode)
{
    ParsedCommandLine parsed = ParseCommandLine(arguments);
    ScriptRequest& request = parsed.request;
    if (parsed.understood && request.record) {
        // Against the current folder of the start, which a running copy does not share.
        request.path = FullPathOf(request.path);
        if (request.path.empty() || request.path.size() > kMaxTakePathChars) {
            parsed.understood = false;
            parsed.problem = L"--record needs a path of 1 to 259 characters.";
        }
    }
    TakeSound sound;
    if (parsed.understood && !request.sound.empty() &&
        !ResolveSoundArgument(request.sound, sound, parsed.problem)) {
        parsed.understood = false;
    }
    if (!parsed.understood) {
        ShowUsage(parsed.problem);
        exitCode = kExitUsage;
        return false;
    }
    if (request.stop) {
        // Only looked for: a start that just stops must never look like a running copy.
        HANDLE running = ::OpenMutexW(SYNCHRONIZE, FALSE, kRunningMutexName);
        exitCode = running != nullptr ? HandToRunningCopy(request) : kExitNothingToDo;
        if (running != nullptr) {
            ::CloseHandle(running);
        }
        return false;
    }
    // Held for the life of the process: the system closes it at the end.
    HANDLE running = ::CreateMutexW(nullptr, FALSE, kRunningMutexName);
    if (request.record && running != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(running);
        exitCode = HandToRunningCopy(request);
        return false;
    }
    g_startupRequest = request;
    g_startupRequestPending = request.record || request.skeleton != SwitchChoice::Unset ||
                              request.depth != SwitchChoice::Unset || !request.sound.empty();
    return true;
}

void PostStartupRequest(HWND control)
{
    if (g_startupRequestPending) {
        ::PostMessageW(control, WM_APP_SCRIPT_REQUEST, 0, 0);
    }
}

bool TakeStartupRequest(ScriptRequest& request)
{
    if (!g_startupRequestPending) {
        return false;
    }
    g_startupRequestPending = false;
    request = g_startupRequest;
    return true;
}

void NoteStartupRequestDone(int code)
{
    if (code == kExitTakeEnded) {
        return;
    }
    g_exitCode = code;
    if (g_startupRequest.exitWhenDone) {
        ::PostQuitMessage(code);
    }
}

bool ReadHandedRequest(const COPYDATASTRUCT* copyData, ScriptRequest& request)
{
    return copyData != nullptr && copyData->dwData == kHandedRequestTag &&
           UnpackRequest(copyData->lpData, copyData->cbData, request);
}

void NoteScriptRequest(const ScriptRequest& request)
{
    g_depthChoice = request.depth;
}

bool SaveDepthForThisRun(bool current)
{
    return ChosenSwitch(g_depthChoice, current);
}

bool PublishLslForThisRun(bool stored)
{
    return ChosenSwitch(g_startupRequest.lsl, stored);
}

std::wstring FirstExistingTakeFile(const std::wstring& path, bool skeletons, bool depth, bool sound)
{
    const TakeFiles files = TakeFilesFor(path, skeletons, depth, sound);
    if (IsExistingFile(files.video.startPath)) {
        return files.video.startPath;
    }
    for (const TakeFile& companion : files.companions) {
        if (IsExistingFile(companion.startPath)) {
            return companion.startPath;
        }
    }
    return std::wstring();
}

void NoteScriptedTakeStarted(HWND window, const ScriptRequest& request, const std::wstring& path)
{
    g_take.active = true;
    g_take.startPath = path;
    g_take.exitWhenDone = request.exitWhenDone;
    SetTakeFrameLimit(request.frameLimit);
    if (request.frameLimit > 0) {
        ::SetTimer(window, IDT_FRAME_LIMIT, kFrameLimitPollMs, OnFrameLimitTimer);
    }
}

bool IsScriptedTakeActive()
{
    return g_take.active;
}

void NoteTakeFinished(const FinishedTake& take)
{
    if (!g_take.active || !IsTakeOf(take.videoPath, g_take.startPath)) {
        return;
    }
    g_take.active = false;
    g_exitCode = take.whole ? kExitTakeEnded : kExitTakeFault;
    if (g_take.exitWhenDone) {
        ::PostQuitMessage(g_exitCode);
    }
}

int ScriptExitCode()
{
    return g_take.active ? kExitTakeFault : g_exitCode;
}
