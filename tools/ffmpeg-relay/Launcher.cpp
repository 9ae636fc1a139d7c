#include "Launcher.h"

#include "RelayLimits.h"
#include "RelayLog.h"
#include "platform/KillOnCloseJob.h"
#include "platform/ScopedHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

// This program's own full path; empty when it can't be read.
std::wstring OwnPath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

int RunChildCopy(const std::wstring& childFault)
{
    const std::wstring self = OwnPath();
    std::wstring commandLine = ::GetCommandLineW();
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    // The child inherits this environment: it must run as the encoder, not launch again.
    ::SetEnvironmentVariableW(L"NVR_RELAY_FAULT",
                              childFault.empty() ? nullptr : childFault.c_str());
    ::SetEnvironmentVariableW(L"NVR_RELAY_CHILD_FAULT", nullptr);

    ScopedHandle job(CreateKillOnCloseJob());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (self.empty() || !::CreateProcessW(self.c_str(), writable.data(), nullptr, nullptr, FALSE,
                                          CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr,
                                          &startup, &child)) {
        LogMessage(L"launcher: cannot start " + self + L" (error " +
                   std::to_wstring(::GetLastError()) + L")");
        return kExitFailure;
    }
    ScopedHandle process(child.hProcess);
    ScopedHandle thread(child.hThread);
    if (job.IsValid()) {
        ::AssignProcessToJobObject(job.Get(), process.Get());
    }
    ::ResumeThread(thread.Get());
    LogMessage(L"launcher: started the encoder as process " + std::to_wstring(child.dwProcessId));

    if (::WaitForSingleObject(process.Get(), kLauncherWaitMs) != WAIT_OBJECT_0) {
        LogMessage(L"launcher: the encoder did not end in time");
        ::TerminateProcess(process.Get(), kExitFailure);
        return kExitFailure;
    }
    DWORD status = kExitFailure;
    ::GetExitCodeProcess(process.Get(), &status);
    return static_cast<int>(status);
}
