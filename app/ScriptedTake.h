// Scripted takes: a take asked for on the command line, or by a second start that hands its
// request to the running copy. The control window runs it as if its buttons were pressed, but
// asks no question and shows no box: the outcome goes to the status line and the exit code.
#pragma once

#include <windows.h>

#include <string>

#include "app/CommandLine.h"
#include "recording/TakeFinish.h"

// Start-up, before any window: reads wWinMain's `arguments`. True when this process goes on to
// run the program (with the request kept for PostStartupRequest). Otherwise the process ends
// with `exitCode`: the usage was shown (2), the request was handed to a running copy (its
// answer), or there was no running copy to take it (6).
bool TakeCommandLine(const wchar_t* arguments, int& exitCode);

// Posts WM_APP_SCRIPT_REQUEST to the control window when the command line asked for anything.
void PostStartupRequest(HWND control);

// The command line's request, once: true with it in `request` the first time, false after
// that, and when the command line asked for nothing.
bool TakeStartupRequest(ScriptRequest& request);

// The control window ran the command line's request with the exit code `code`: a take that
// could not start gives the run its exit code, and with --exit ends it.
void NoteStartupRequestDone(int code);

// The request of a WM_COPYDATA from a second start; false when it holds none.
bool ReadHandedRequest(const COPYDATASTRUCT* copyData, ScriptRequest& request);

// The control window runs `request`: its --depth holds for this run (SaveDepthForThisRun).
void NoteScriptRequest(const ScriptRequest& request);

// The Save Depth switch for this run: `current`, unless the request being run sets it.
bool SaveDepthForThisRun(bool current);

// Publish to Lab Streaming Layer for this run: `stored`, unless the command line sets it.
bool PublishLslForThisRun(bool stored);

// The first of the files a take to `path` would make (the video, and the files written beside
// it with `skeletons`, `depth` or `sound`) that exists already; empty when none does.
std::wstring FirstExistingTakeFile(const std::wstring& path, bool skeletons, bool depth,
                                   bool sound = false);

// The control window `window` started the take of `request` to `path`: with a frame limit it is
// stopped (as by Stop) once the limit's frames are recorded; its end gives the exit code.
void NoteScriptedTakeStarted(HWND window, const ScriptRequest& request, const std::wstring& path);

// True from a scripted take's start until its files have their names: no box is shown for it.
bool IsScriptedTakeActive();

// A take's files have their names. When it is the scripted take, its end gives the exit code
// (0 when every file of it is whole, 5 for any fault), and with --exit the run ends.
void NoteTakeFinished(const FinishedTake& take);

// The process's exit code at the end of the run: the last scripted take's (5 when it was not
// saved by then), 0 without one.
int ScriptExitCode();
