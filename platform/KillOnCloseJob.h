// A job object that ends every process in it when its last handle closes.
#pragma once

#include <windows.h>

// A new kill-on-close job; null when the system gives none (the caller then goes without).
inline HANDLE CreateKillOnCloseJob()
{
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof(limits))) {
        ::CloseHandle(job);
        return nullptr;
    }
    return job;
}
