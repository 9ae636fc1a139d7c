#include "app/ControlWindow.h"

#include <commdlg.h>

#include <memory>
#include <string>
#include <vector>

#include "app/ControlLayout.h"
#include "app/Ids.h"
#include "app/Menu.h"
#include "app/ReplaceConfirmation.h"
#include "app/ScriptedTake.h"
#include "app/SensorEvents.h"
#include "app/SoundChoice.h"
#include "app/StatusLine.h"
#include "app/StatusLineControl.h"
#include "app/TaskbarOverlay.h"
#include "Version.h"
#include "platform/Platform.h"
#include "recording/LabStreams.h"
#include "recording/Recording.h"
#include "sensor/RenderLoop.h"
#include "settings/Settings.h"

static_assert(sizeof(OPENFILENAMEW) == 152 || sizeof(void*) != 8, "OPENFILENAMEW is 152 bytes");

namespace {

constexpr const wchar_t* kBannerFile = L"Nimbra_Umbraline VIZ Banner small.bmp";
constexpr const wchar_t* kDefaultPath = L"output.mp4";
constexpr int kPathCapacity = MAX_PATH;

constexpr DWORD kCheckboxStyle = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE;
constexpr const wchar_t* kAppCaption = L"Nimbra VIZ Recorder";

// The controls that the commands read or switch, and the banner; main thread only.
HWND g_hwndPathEdit = nullptr;
HWND g_hwndStart = nullptr;
HWND g_hwndStop = nullptr;
HBITMAP g_banner = nullptr;

// The last take's video as it is on disk.
std::wstring g_lastTakePath;

// The Save Skeleton Data and Save Depth switches: whether the next take also writes its skeleton
// file, and its depth file. Read from the settings at creation, flipped by their menu items.
bool g_saveSkeletonData = false;
bool g_saveDepth = false;
// Publish to Lab Streaming Layer: on for this run, and whether lsl.dll, beside the program, has
// failed to give the streams.
bool g_publishLsl = false;
bool g_labLibraryFailed = false;

HWND CreateControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int x,
                   int y, int width, int height, int id)
{
    return ::CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

// A message box for the user, but none about a take that a script runs: its status line and the
// exit code tell.
void TellUser(HWND hwnd, const std::wstring& text, const wchar_t* caption, UINT type)
{
    if (!IsScriptedTakeActive()) {
        ::MessageBoxW(hwnd, text.c_str(), caption, type);
    }
}

// The full path that the edit box names now (against the current folder for a bare name).
std::wstring PathInBox()
{
    wchar_t text[kPathCapacity] = {};
    ::GetWindowTextW(g_hwndPathEdit, text, kPathCapacity);
    return FullPathOf(text);
}

// Brings the status line up to date with the path in the box or the running take.
void UpdateStatus()
{
    RefreshStatusLine(PathInBox());
}

// lsl.dll is beside the program and has not failed.
bool IsLabLibraryUsable()
{
    return !g_labLibraryFailed && IsLabLibraryBesideProgram();
}

// The lab's streams exist exactly while the item is ticked and the library can give them.
void ApplyPublishLsl()
{
    if (IsLabLibraryUsable() && SetLabStreamsOn(g_publishLsl) != g_publishLsl) {
        g_labLibraryFailed = true;
    }
}

// A take ended for a fault: the lab's markers say why.
void PublishTakeFault(const std::wstring& text)
{
    PublishMarker(L"take ended: " + text);
}

// Lays out the controls, loads the banner and puts the stored path into the edit box.
void OnCreate(HWND hwnd)
{
    GetSettingsIniPath(); // makes sure the settings folder exists
    SetRecordingReports(hwnd, WM_APP_ENCODER_FAULT, WM_APP_TAKE_FINISHED);
    RECT client = {};
    ::GetClientRect(hwnd, &client);
    int left = ControlBlockLeft(client.right);

    g_banner = static_cast<HBITMAP>(
        ::LoadImageW(nullptr, kBannerFile, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    std::wstring path = ReadLastPath();
    g_saveSkeletonData = ReadSaveSkeletonData();
    g_saveDepth = ReadSaveDepth();
    LoadSoundChoice();
    g_publishLsl = PublishLslForThisRun(ReadPublishLsl());
    ApplyPublishLsl();

    HWND checkbox = CreateControl(hwnd, L"BUTTON", L"Show Color Feed", kCheckboxStyle, left, 20,
                                  200, 25, IDC_SHOW_COLOR);
    ::SendMessageW(checkbox, BM_SETCHECK, BST_CHECKED, 0);
    g_hwndPathEdit =
        CreateControl(hwnd, L"EDIT", L"", kEditStyle, left + 90, 60, 170, 20, IDC_PATH_EDIT);
    ::SetWindowTextW(g_hwndPathEdit, path.c_str());
    g_hwndStart = CreateControl(hwnd, L"BUTTON", L"Start Recording", kButtonStyle, left, 100, 120,
                                30, IDC_START);
    g_hwndStop = CreateControl(hwnd, L"BUTTON", L"Stop Recording", kButtonStyle | WS_DISABLED,
                               left + 130, 100, 120, 30, IDC_STOP);
    CreateControl(hwnd, L"BUTTON", L"Save Path:", kButtonStyle, left, 60, 80, 22, IDC_SAVE_PATH);
    CreateStatusLine(hwnd, IDC_STATUS);
    UpdateStatus();
    ::SetTimer(hwnd, IDT_STATUS, 500, nullptr);
}

// Paints the banner, stretched to 300 x 110, centred at the current client width.
void OnPaint(HWND hwnd)
{
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd, &paint);
    if (g_banner != nullptr) {
        HDC memory = ::CreateCompatibleDC(dc);
        HGDIOBJ previous = ::SelectObject(memory, g_banner);
        BITMAP bitmap = {};
        ::GetObjectW(g_banner, sizeof(bitmap), &bitmap);
        RECT client = {};
        ::GetClientRect(hwnd, &client);
        ::StretchBlt(dc, BannerLeft(client.right), kBannerTop, kBannerWidth, kBannerHeight, memory,
                     0, 0, bitmap.bmWidth, bitmap.bmHeight, SRCCOPY);
        ::SelectObject(memory, previous);
        ::DeleteDC(memory);
    }
    ::EndPaint(hwnd, &paint);
}

// Asks before the take replaces existing files: the video, unless the user has just confirmed
// it in the Save dialog, and every file the take writes beside it. Returns true when the start
// may go on.
bool ConfirmReplace(HWND hwnd, const std::wstring& path)
{
    std::vector<std::wstring> existing;
    if (!IsReplaceConfirmed(path) && IsExistingFile(path)) {
        existing.push_back(path);
    }
    const TakeFiles files =
        TakeFilesFor(path, g_saveSkeletonData, g_saveDepth && IsDepthAvailable(),
                     !SoundForNextTake().deviceId.empty());
    for (const TakeFile& companion : files.companions) {
        if (IsExistingFile(companion.startPath)) {
            existing.push_back(companion.startPath);
        }
    }
    if (existing.empty()) {
        return true;
    }
    std::wstring question;
    for (const std::wstring& file : existing) {
        question += (question.empty() ? L"" : L"\n") + file;
    }
    question += existing.size() == 1 ? L" already exists.\nDo you want to replace it?"
                                     : L"\nalready exist.\nDo you want to replace them?";
    return ::MessageBoxW(hwnd, question.c_str(), kAppCaption, MB_YESNO | MB_ICONWARNING) == IDYES;
}

// The folder part of a full path, for the user.
std::wstring FolderPart(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(0, slash + 1);
}

// The file's name without its folder.
std::wstring FileNamePart(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return path.substr(slash == std::wstring::npos ? 0 : slash + 1);
}

// The take to `path` has started: the buttons, the disk watch, the status line and the overlay
// show it.
void ShowTakeStarted(HWND hwnd, const std::wstring& path)
{
    NoteTakeStarted(path);
    ::EnableWindow(g_hwndStart, FALSE);
    ::EnableWindow(g_hwndStop, TRUE);
    ::SetTimer(hwnd, IDT_DISK_WATCH, 1000, nullptr);
    ShowTakeStatus(path);
    ShowRecordingOverlay(hwnd, true);
}

// Why a take to `path` can't start now: the last one there is still being saved, and a take
// would write over it.
std::wstring StillSavingText(const std::wstring& path)
{
    return L"The last recording to this file is still being saved:\n" + path;
}

void TellStillSaving(HWND hwnd, const std::wstring& path)
{
    const std::wstring text = StillSavingText(path) + L"\nStart again once it is saved.";
    ::MessageBoxW(hwnd, text.c_str(), kAppCaption, MB_OK | MB_ICONWARNING);
}

// Start: the edit box's text, made a full path against the current folder of this moment, is
// stored as LastPath; then a take to that path starts when none runs.
void OnStart(HWND hwnd)
{
    wchar_t text[kPathCapacity] = {};
    ::GetWindowTextW(g_hwndPathEdit, text, kPathCapacity);
    // The one path of the take: a later change of the current folder moves nothing.
    std::wstring path = FullPathOf(text);
    if (path.empty()) {
        path = text;
    }
    WriteLastPath(path);
    if (IsRecording()) {
        return;
    }
    // Before the question: the file that exists is the one being saved.
    if (IsSavingTakeTo(path)) {
        TellStillSaving(hwnd, path);
        return;
    }
    if (!ConfirmReplace(hwnd, path)) {
        return;
    }
    switch (StartRecording(path, g_saveSkeletonData, g_saveDepth, SoundForNextTake())) {
    case StartResult::Started:
        break;
    case StartResult::StillSaving:
        TellStillSaving(hwnd, path);
        return;
    case StartResult::NotEnoughSpace: {
        const std::wstring message = L"Not enough free space to record to:\n" + FolderPart(path);
        ShowFixedStatus(message);
        ::MessageBoxW(hwnd, message.c_str(), kAppCaption, MB_OK | MB_ICONWARNING);
        return;
    }
    case StartResult::Failed:
        ShowFixedStatus(L"Failed to start FFmpeg.");
        ::MessageBoxW(hwnd, L"Failed to start FFmpeg.", L"Error", MB_OK);
        return;
    }
    ShowTakeStarted(hwnd, path);
}

constexpr const wchar_t* kEncoderStalledText = L"Recording stopped: FFmpeg stopped taking frames.";
constexpr const wchar_t* kEncoderLostText = L"Recording stopped: FFmpeg ended unexpectedly.";
constexpr const wchar_t* kDiskFullText = L"Recording stopped: the disk is full.";
constexpr const wchar_t* kSavingText = L"Saving the recording...";

// Ends the take for `why` and puts the buttons back; the take's files get their names in the
// background. Returns true when the encoder had stalled and was given up on.
bool EndTake(HWND hwnd, TakeEnd why)
{
    if (!IsRecording()) {
        return false;
    }
    ::KillTimer(hwnd, IDT_DISK_WATCH);
    const bool stalled = StopRecording(why);
    NoteTakeStopped();
    // The status line says so before Start is on again, so whoever waits for Start sees it.
    ShowFixedStatus(kSavingText);
    ::EnableWindow(g_hwndStart, TRUE);
    ::EnableWindow(g_hwndStop, FALSE);
    ShowRecordingOverlay(hwnd, false);
    return stalled;
}

// Stop. An encoder that had stopped taking frames is ended, and the user is told.
void OnStop(HWND hwnd)
{
    if (EndTake(hwnd, TakeEnd::Stopped)) {
        PublishTakeFault(kEncoderStalledText);
        ShowFixedStatus(kEncoderStalledText);
        TellUser(hwnd, kEncoderStalledText, L"Error", MB_OK);
    }
}

// A script's request, from this run's command line or a second start: Stop, or Start to the
// request's path as the button would, but a file of the take that exists fails the start
// unless overwriting was asked for, and a failure goes to the status line, not a box. Its
// switches hold for this run and are not stored. Returns the request's exit code.
int RunScriptRequest(HWND hwnd, const ScriptRequest& request)
{
    // A stop needs a running take. A start needs none, and no box or dialog open over the
    // window: a Start asking whether to replace a file would start a second take when answered.
    if (IsRecording() != request.stop || (!request.stop && !::IsWindowEnabled(hwnd))) {
        return kExitNothingToDo;
    }
    if (request.stop) {
        OnStop(hwnd);
        return kExitTakeEnded;
    }
    NoteScriptRequest(request);
    g_saveSkeletonData = ChosenSwitch(request.skeleton, g_saveSkeletonData);
    g_saveDepth = SaveDepthForThisRun(g_saveDepth);
    if (!request.sound.empty()) {
        TakeSound sound;
        std::wstring problem;
        if (!ResolveSoundArgument(request.sound, sound, problem)) {
            ShowFixedStatus(problem);
            return kExitUsage;
        }
        SetSoundForThisRun(sound);
    }
    if (!request.record) {
        return kExitTakeEnded;
    }
    std::wstring path = FullPathOf(request.path);
    if (path.empty()) {
        path = request.path;
    }
    ::SetWindowTextW(g_hwndPathEdit, path.c_str());
    WriteLastPath(path);
    if (IsSavingTakeTo(path)) {
        ShowFixedStatus(StillSavingText(path));
        return kExitFileExists;
    }
    const std::wstring existing =
        FirstExistingTakeFile(path, g_saveSkeletonData, g_saveDepth && IsDepthAvailable(),
                              !SoundForNextTake().deviceId.empty());
    if (!request.overwrite && !existing.empty()) {
        ShowFixedStatus(L"Not recorded, the file exists: " + existing);
        return kExitFileExists;
    }
    switch (StartRecording(path, g_saveSkeletonData, g_saveDepth, SoundForNextTake())) {
    case StartResult::Started:
        break;
    case StartResult::StillSaving:
        ShowFixedStatus(StillSavingText(path));
        return kExitFileExists;
    case StartResult::NotEnoughSpace:
        ShowFixedStatus(L"Not enough free space to record to:\n" + FolderPart(path));
        return kExitNotStarted;
    case StartResult::Failed:
        ShowFixedStatus(L"Failed to start FFmpeg.");
        return kExitNotStarted;
    }
    ShowTakeStarted(hwnd, path);
    NoteScriptedTakeStarted(hwnd, request, path);
    return kExitTakeEnded;
}

// Runs the command line's request, once: when the windows are up, or first thing when a second
// start's request comes before that.
void RunStartupRequest(HWND hwnd)
{
    ScriptRequest request;
    if (TakeStartupRequest(request)) {
        NoteStartupRequestDone(RunScriptRequest(hwnd, request));
    }
}

// Once a second while a take runs: a disk that is nearly full ends the take while what it
// recorded can still be saved.
void OnDiskWatch(HWND hwnd)
{
    if (IsTakeDiskFull()) {
        EndTake(hwnd, TakeEnd::DiskFull);
        PublishTakeFault(kDiskFullText);
        ShowFixedStatus(kDiskFullText);
        TellUser(hwnd, kDiskFullText, L"Error", MB_OK);
    }
}

// The Save dialog, always proposing "output.mp4"; a chosen path goes into the edit box only.
void OnSavePath(HWND hwnd)
{
    wchar_t file[kPathCapacity] = {};
    ::lstrcpynW(file, kDefaultPath, kPathCapacity);
    static const wchar_t kFilter[] = L"MP4 Files (*.mp4)\0*.mp4\0All Files (*.*)\0*.*\0";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = hwnd;
    dialog.lpstrFilter = kFilter;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kPathCapacity;
    // Windows' dialog otherwise makes the chosen folder the current one.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    dialog.lpstrDefExt = L"mp4";
    if (::GetSaveFileNameW(&dialog)) {
        ::SetWindowTextW(g_hwndPathEdit, file);
        RememberReplaceConfirmed(file);
    }
}

// Puts the switches' states on their check items, found by command in `menu` or its submenus.
void ShowSwitchChecks(HMENU menu)
{
    ::CheckMenuItem(menu, IDM_SAVE_SKELETON,
                    MF_BYCOMMAND | (g_saveSkeletonData ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(menu, IDM_SAVE_DEPTH, MF_BYCOMMAND | (g_saveDepth ? MF_CHECKED : MF_UNCHECKED));
    const bool usable = IsLabLibraryUsable();
    ::ModifyMenuW(menu, IDM_PUBLISH_LSL,
                  MF_BYCOMMAND | MF_STRING | (usable ? MF_ENABLED : MF_GRAYED) |
                      (usable && g_publishLsl ? MF_CHECKED : MF_UNCHECKED),
                  IDM_PUBLISH_LSL, usable ? kPublishLslText : kPublishLslMissingText);
}

// Flips a switch, its check mark and the stored setting. A take already running keeps the
// choice it started with.
void OnToggleSaveSkeleton(HWND hwnd)
{
    g_saveSkeletonData = !g_saveSkeletonData;
    ShowSwitchChecks(::GetMenu(hwnd));
    WriteSaveSkeletonData(g_saveSkeletonData);
}

void OnToggleSaveDepth(HWND hwnd)
{
    g_saveDepth = !g_saveDepth;
    ShowSwitchChecks(::GetMenu(hwnd));
    WriteSaveDepth(g_saveDepth);
}

// Publish to Lab Streaming Layer: the streams appear or end at once, take or no take.
void OnTogglePublishLsl(HWND hwnd)
{
    if (!IsLabLibraryUsable()) {
        return;
    }
    g_publishLsl = !g_publishLsl;
    ApplyPublishLsl();
    ShowSwitchChecks(::GetMenu(hwnd));
    WritePublishLsl(g_publishLsl);
}

// Opens the folder of the last take with its video selected, or before any take the folder
// that the edit box names.
void OnOpenRecordingsFolder()
{
    if (!g_lastTakePath.empty()) {
        ShowInFolder(FolderPart(g_lastTakePath), g_lastTakePath);
        return;
    }
    ShowInFolder(FolderPart(PathInBox()), std::wstring());
}

void OnAbout(HWND hwnd)
{
    ::MessageBoxW(hwnd,
                  L"Nimbra VIZ Recorder " NVR_VERSION_TEXT "\n\n"
                  L"Shows a Kinect sensor's colour picture with its tracked skeletons and "
                  L"records the picture to MP4.\n\n"
                  L"Made by Nimbra Umbraline.\nhttps://www.nimbra-umbraline.com/viz-recorder",
                  L"About", MB_ICONINFORMATION);
}

void OnCommand(HWND hwnd, int id, int notification)
{
    switch (id) {
    case IDC_PATH_EDIT:
        if (notification == EN_CHANGE) {
            // Its disk is read once the box has not changed for half a second.
            ::SetTimer(hwnd, IDT_PATH_SETTLED, 500, nullptr);
        }
        break;
    case IDM_OPEN_FOLDER:
        OnOpenRecordingsFolder();
        break;
    case IDC_SHOW_COLOR:
        g_showColorFeed.store(::IsDlgButtonChecked(hwnd, IDC_SHOW_COLOR) == BST_CHECKED);
        break;
    case IDC_START:
        OnStart(hwnd);
        break;
    case IDC_STOP:
        OnStop(hwnd);
        break;
    case IDC_SAVE_PATH:
        OnSavePath(hwnd);
        break;
    case IDM_SAVE_SKELETON:
        OnToggleSaveSkeleton(hwnd);
        break;
    case IDM_SAVE_DEPTH:
        OnToggleSaveDepth(hwnd);
        break;
    case IDM_PUBLISH_LSL:
        OnTogglePublishLsl(hwnd);
        break;
    case IDM_QUIT:
        ::PostQuitMessage(0);
        break;
    case IDM_ABOUT:
        OnAbout(hwnd);
        break;
    default:
        ChooseSoundFromMenu(id);
        break;
    }
}

// The encoder has gone or stalled: the take ends as if Stop had been pressed, keeping what the
// encoder was given, and the user is told. A report from an earlier take is ignored.
void OnEncoderFault(HWND hwnd, WPARAM takeId, LPARAM fault)
{
    if (!IsCurrentTake(takeId)) {
        return;
    }
    const bool stalled = (fault & ~kDepthStreamFault) == kEncoderStalled;
    std::wstring text = stalled ? kEncoderStalledText : kEncoderLostText;
    if ((fault & kDepthStreamFault) != 0) {
        // The depth file's encoder: the message names its file.
        text = (stalled ? L"Recording stopped: FFmpeg stopped taking depth frames:\n"
                        : L"Recording stopped: FFmpeg ended unexpectedly while writing depth:\n") +
               RunningTakeFile(kDepthSuffix);
    }
    EndTake(hwnd, stalled ? TakeEnd::EncoderStalled : TakeEnd::EncoderLost);
    PublishTakeFault(text);
    ShowFixedStatus(text);
    TellUser(hwnd, text.c_str(), L"Error", MB_OK);
}

// A take's files have their names: the status line says where the video is, and the user is
// told of files that kept their start names and of skeleton data that was not saved.
void OnTakeFinished(HWND hwnd, std::unique_ptr<FinishedTake> take)
{
    g_lastTakePath = take->videoPath;
    NoteTakeDataRate(take->takeBytes, take->framesInFile);
    // A failure's text stays; a take that started meanwhile shows its own line. A fault found
    // while saving comes first.
    if (IsStatusShowing(kSavingText)) {
        const int64_t frames = take->framesInFile > 0 ? take->framesInFile : 0;
        const std::wstring name = FileNamePart(take->videoPath);
        const std::wstring saved =
            take->soundFile.empty() || take->soundInVideo
                ? SavedStatus(frames, take->dropped, name, take->rewritten)
                : SavedWithoutSoundStatus(frames, take->dropped, name,
                                          FileNamePart(take->soundFile), take->rewritten);
        ShowFixedStatus(take->fault.empty() ? saved : take->fault + L" " + saved);
    }
    if (take->keptFirstName) {
        const std::wstring text = L"The recording kept its first name:\n" + take->videoPath;
        TellUser(hwnd, text, kAppCaption, MB_OK | MB_ICONWARNING);
    }
    for (const std::wstring& text : take->unsavedFiles) {
        TellUser(hwnd, text, kAppCaption, MB_OK | MB_ICONWARNING);
    }
    NoteTakeFinished(*take);
}

// White background and black text for every control; a warning on the status line in red.
LRESULT OnControlColor(HDC dc, HWND control)
{
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::SetTextColor(dc, StatusLineTextColor(control));
    return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
}

} // namespace

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(hwnd);
        break;
    case WM_PAINT:
        OnPaint(hwnd);
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam), HIWORD(wParam));
        break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        return OnControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_INITMENU:
        // The menu bar is given to the window only after its creation: the check mark is
        // brought up to date whenever the menu opens.
        ShowSwitchChecks(reinterpret_cast<HMENU>(wParam));
        break;
    case WM_INITMENUPOPUP:
        // The sound devices are listed as they are when the submenu opens.
        if (::GetMenuItemID(reinterpret_cast<HMENU>(wParam), 0) == IDM_SOUND_NONE) {
            FillSoundMenu(reinterpret_cast<HMENU>(wParam));
        }
        break;
    case WM_SIZE:
        PlaceStatusLine(hwnd);
        break;
    case WM_TIMER:
        if (wParam == IDT_DISK_WATCH) {
            OnDiskWatch(hwnd);
            return 0;
        }
        if (wParam == IDT_STATUS) {
            UpdateStatus();
            return 0;
        }
        if (wParam == IDT_SENSOR_START) {
            OnSensorStartTimer(hwnd);
            UpdateStatus();
            return 0;
        }
        if (wParam == IDT_PATH_SETTLED) {
            ::KillTimer(hwnd, IDT_PATH_SETTLED);
            UpdateStatus();
            return 0;
        }
        break;
    case WM_APP_SENSOR_STATUS:
        OnSensorStatus(hwnd, wParam, lParam);
        UpdateStatus();
        return 0;
    case WM_APP_FREE_SPACE:
        // A new reading: shown at once, and a take's disk that is nearly full ends the take.
        RefreshStatusLine(PathInBox(), false);
        if (IsRecording()) {
            OnDiskWatch(hwnd);
        }
        return 0;
    case WM_APP_ENCODER_FAULT:
        OnEncoderFault(hwnd, wParam, lParam);
        return 0;
    case WM_APP_TAKE_FINISHED:
        OnTakeFinished(hwnd,
                       std::unique_ptr<FinishedTake>(reinterpret_cast<FinishedTake*>(lParam)));
        return 0;
    case WM_APP_SCRIPT_REQUEST:
        RunStartupRequest(hwnd);
        return 0;
    case WM_COPYDATA: {
        ScriptRequest request;
        if (!ReadHandedRequest(reinterpret_cast<const COPYDATASTRUCT*>(lParam), request)) {
            break;
        }
        RunStartupRequest(hwnd);
        return kHandedAnswerTag + RunScriptRequest(hwnd, request);
    }
    case WM_DESTROY:
        ::KillTimer(hwnd, IDT_STATUS);
        ::PostQuitMessage(0);
        break;
    default:
        if (message != 0 && message == TaskbarButtonCreatedMessage()) {
            OnTaskbarButtonCreated();
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}
