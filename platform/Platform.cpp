#include "platform/Platform.h"

#include <shlobj.h>

namespace {

bool RealAppDataFolder(std::wstring& folder)
{
    wchar_t buffer[MAX_PATH] = {};
    // The buffer's content is only meaningful when the query succeeds.
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)) ||
        buffer[0] == L'\0') {
        return false;
    }
    folder = buffer;
    return true;
}

BOOL RealLaunchProcess(const wchar_t* application, wchar_t* commandLine,
                       PROCESS_INFORMATION* process)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // The program is named by its full path, so the command line's first token is never
    // looked up in the current folder.
    return ::CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, process);
}

// Written only by tests before the code under test runs; the program never changes them.
AppDataFolderQuery g_appDataFolderQuery = RealAppDataFolder;
LocalTimeQuery g_localTimeQuery = ::GetLocalTime;
ProcessLauncher g_processLauncher = RealLaunchProcess;

} // namespace

bool QueryAppDataFolder(std::wstring& folder)
{
    return g_appDataFolderQuery(folder);
}

void QueryLocalTime(SYSTEMTIME* time)
{
    g_localTimeQuery(time);
}

BOOL LaunchProcess(const wchar_t* application, wchar_t* commandLine, PROCESS_INFORMATION* process)
{
    return g_processLauncher(application, commandLine, process);
}

bool IsExistingFile(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void SetAppDataFolderQuery(AppDataFolderQuery query)
{
    g_appDataFolderQuery = query ? query : RealAppDataFolder;
}

void SetLocalTimeQuery(LocalTimeQuery query)
{
    g_localTimeQuery = query ? query : ::GetLocalTime;
}

void SetProcessLauncher(ProcessLauncher launcher)
{
    g_processLauncher = launcher ? launcher : RealLaunchProcess;
}
