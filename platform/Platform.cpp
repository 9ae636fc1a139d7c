#include "platform/Platform.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

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
    return ::CreateProcessW(application, commandLine, nullptr, nullptr, FALSE,
                            CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                            process);
}

// The folder part of a full file path, with its trailing separator ("C:\" for a file at a
// drive's root), which GetDiskFreeSpaceExW wants.
std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool RealFreeDiskSpace(const std::wstring& path, uint64_t& freeBytes)
{
    const std::wstring folder = FolderOf(path);
    ULARGE_INTEGER available = {};
    if (folder.empty() ||
        !::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) {
        return false;
    }
    freeBytes = available.QuadPart;
    return true;
}

void RealShowInFolder(const std::wstring& folder, const std::wstring& file)
{
    if (file.empty()) {
        ::ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    // Explorer by its full path: a program is never looked for in the current folder.
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    const std::wstring explorer = std::wstring(windows) + L"\\explorer.exe";
    const std::wstring arguments = L"/select,\"" + file + L"\"";
    ::ShellExecuteW(nullptr, L"open", explorer.c_str(), arguments.c_str(), nullptr,
                    SW_SHOWNORMAL);
}

// Written only by tests before the code under test runs; the program never changes them.
AppDataFolderQuery g_appDataFolderQuery = RealAppDataFolder;
LocalTimeQuery g_localTimeQuery = ::GetLocalTime;
ProcessLauncher g_processLauncher = RealLaunchProcess;
FreeDiskSpaceQuery g_freeDiskSpaceQuery = RealFreeDiskSpace;
FolderShower g_folderShower = RealShowInFolder;

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

bool QueryFreeDiskSpace(const std::wstring& path, uint64_t& freeBytes)
{
    return g_freeDiskSpaceQuery(path, freeBytes);
}

std::wstring FullPathOf(const std::wstring& path)
{
    if (path.empty()) {
        return std::wstring();
    }
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return std::wstring();
    }
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) {
        return std::wstring();
    }
    full.resize(length);
    return full;
}

std::wstring VolumeRootOf(const std::wstring& path)
{
    std::vector<wchar_t> root(path.size() + 2);
    if (path.empty() ||
        !::GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        return std::wstring();
    }
    return root.data();
}

void ShowInFolder(const std::wstring& folder, const std::wstring& file)
{
    g_folderShower(folder, file);
}

bool QueryFileSize(const std::wstring& path, uint64_t& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
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

void SetFreeDiskSpaceQuery(FreeDiskSpaceQuery query)
{
    g_freeDiskSpaceQuery = query ? query : RealFreeDiskSpace;
}

void SetFolderShower(FolderShower shower)
{
    g_folderShower = shower ? shower : RealShowInFolder;
}
