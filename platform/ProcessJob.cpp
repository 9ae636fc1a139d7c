#include "platform/ProcessJob.h"

#include "platform/KillOnCloseJob.h"
#include "platform/Platform.h"

bool StartProcessInJob(const wchar_t* application, wchar_t* commandLine, JobProcess& started)
{
    started = JobProcess{};
    HANDLE job = CreateKillOnCloseJob();
    // LaunchProcess starts the program suspended, so nothing it starts can escape the job.
    if (!LaunchProcess(application, commandLine, &started.process)) {
        if (job != nullptr) {
            ::CloseHandle(job);
        }
        started = JobProcess{};
        return false;
    }
    if (job != nullptr && !::AssignProcessToJobObject(job, started.process.hProcess)) {
        ::CloseHandle(job);
        job = nullptr;
    }
    started.job = job;
    ::ResumeThread(started.process.hThread);
    return true;
}

bool HasJobProcessEnded(const JobProcess& started)
{
    return started.process.hProcess == nullptr ||
           ::WaitForSingleObject(started.process.hProcess, 0) == WAIT_OBJECT_0;
}

bool JobProcessExitCode(const JobProcess& started, DWORD& exitCode)
{
    return HasJobProcessEnded(started) && started.process.hProcess != nullptr &&
           ::GetExitCodeProcess(started.process.hProcess, &exitCode) && exitCode != STILL_ACTIVE;
}

void EndJobProcess(const JobProcess& started, UINT exitCode, DWORD waitMs)
{
    if (started.job != nullptr) {
        ::TerminateJobObject(started.job, exitCode);
    } else if (started.process.hProcess != nullptr) {
        ::TerminateProcess(started.process.hProcess, exitCode);
    }
    if (started.process.hProcess != nullptr) {
        ::WaitForSingleObject(started.process.hProcess, waitMs);
    }
}

void ReleaseJobProcess(JobProcess& started)
{
    for (HANDLE handle : {started.process.hProcess, started.process.hThread, started.job}) {
        if (handle != nullptr) {
            ::CloseHandle(handle);
        }
    }
    started = JobProcess{};
}
