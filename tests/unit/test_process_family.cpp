// Which processes count as an encoder's family: real processes of the relay, one of them in its
// launcher mode, which starts a copy of itself as its child.

#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <string>

#include "platform/ProcessFamily.h"
#include "platform/ProgramSearch.h"
#include "platform/ScopedHandle.h"

namespace {

// Starts the relay with NVR_RELAY_FAULT set to `fault`, reading a pipe that nobody serves (it
// keeps trying for a few seconds).
PROCESS_INFORMATION StartRelay(const wchar_t* fault)
{
    std::wstring relay = FindProgramBesideOrOnPath(L"ffmpeg.exe");
    std::wstring commandLine = L"ffmpeg.exe -f rawvideo -pixel_format bgra -video_size 640x480 "
                               L"-i \\\\.\\pipe\\nvr-family-" +
                               std::to_wstring(::GetCurrentProcessId()) + L" \"unused.mp4\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ::SetEnvironmentVariableW(L"NVR_RELAY_FAULT", fault);
    ::CreateProcessW(relay.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                     nullptr, nullptr, &startup, &process);
    ::SetEnvironmentVariableW(L"NVR_RELAY_FAULT", nullptr);
    return process;
}

// The id of a child of `parent`, waiting up to 10 s for one to appear; 0 if none did.
DWORD WaitForChildOf(DWORD parent)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
             more = ::Process32NextW(snapshot.Get(), &entry)) {
            if (entry.th32ParentProcessID == parent) {
                return entry.th32ProcessID;
            }
        }
        ::Sleep(50);
    }
    return 0;
}

TEST(ProcessFamily, TakesInALauncherAndItsChildButNoOtherProcess)
{
    PROCESS_INFORMATION launcher = StartRelay(L"launcher");
    ASSERT_NE(launcher.hProcess, nullptr);
    ScopedHandle launcherProcess(launcher.hProcess);
    ScopedHandle launcherThread(launcher.hThread);
    const DWORD child = WaitForChildOf(launcher.dwProcessId);
    ASSERT_NE(child, 0u);
    const DWORD self = ::GetCurrentProcessId();

    EXPECT_TRUE(
        IsSameOrDescendantProcess(launcher.dwProcessId, launcher.hProcess, launcher.dwProcessId));
    EXPECT_TRUE(IsSameOrDescendantProcess(child, launcher.hProcess, launcher.dwProcessId));
    EXPECT_TRUE(IsSameOrDescendantProcess(child, ::GetCurrentProcess(), self));
    // The process that started the encoder is not of its family.
    EXPECT_FALSE(IsSameOrDescendantProcess(self, launcher.hProcess, launcher.dwProcessId));

    // A process started after the child now holding the launcher's id, as after the launcher's
    // end and the id's reuse: the older child is not its descendant.
    PROCESS_INFORMATION later = StartRelay(L"no-open-exit");
    ASSERT_NE(later.hProcess, nullptr);
    ScopedHandle laterProcess(later.hProcess);
    ScopedHandle laterThread(later.hThread);
    EXPECT_FALSE(IsSameOrDescendantProcess(child, later.hProcess, launcher.dwProcessId));
    // Nor is a sibling of the encoder.
    EXPECT_FALSE(
        IsSameOrDescendantProcess(later.dwProcessId, launcher.hProcess, launcher.dwProcessId));

    // The launcher's child is in a kill-on-close job: it ends with the launcher.
    ::TerminateProcess(launcher.hProcess, 1);
}

} // namespace
