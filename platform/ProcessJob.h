// A program started with its whole family in a job object: ending the job ends every process in
// it, and so does closing its last handle, which happens at the latest when the recorder ends. A
// launcher and the encoder that it starts in turn go together.
#pragma once

#include <windows.h>

struct JobProcess {
    HANDLE job = nullptr;               // kill-on-close job; null where none could be made
    PROCESS_INFORMATION process = {};   // the started program's handles and ids
};

// Starts `application` (a full path) with the writable `commandLine` through LaunchProcess, in a
// new kill-on-close job, before it runs a single instruction. Returns false, holding nothing,
// when the program can't be started. Where the system refuses the job (a recorder already in a
// job that forbids nesting), the program runs without one and ending it ends it alone.
bool StartProcessInJob(const wchar_t* application, wchar_t* commandLine, JobProcess& started);

// True once the started program has ended (its job may still hold its children).
bool HasJobProcessEnded(const JobProcess& started);

// The started program's exit code; false while it runs or when it can't be read.
bool JobProcessExitCode(const JobProcess& started, DWORD& exitCode);

// Ends every process of the job (or the program alone without one) and waits, at most
// `waitMs`, for the program to be gone.
void EndJobProcess(const JobProcess& started, UINT exitCode, DWORD waitMs);

// Closes the handles. Whatever still runs in the job ends with it.
void ReleaseJobProcess(JobProcess& started);
