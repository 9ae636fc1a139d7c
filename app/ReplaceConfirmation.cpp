#include "app/ReplaceConfirmation.h"

#include <windows.h>

namespace {

// Main thread only, like the control window that uses them.
std::wstring g_confirmedPath;
std::wstring g_takePath;

bool FileExists(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

void RememberReplaceConfirmed(const std::wstring& path)
{
    g_confirmedPath = path;
}

bool IsReplaceConfirmed(const std::wstring& path)
{
    return !g_confirmedPath.empty() && path == g_confirmedPath;
}

void NoteTakeStarted(const std::wstring& path)
{
    g_confirmedPath.clear();
    g_takePath = path;
}

void NoteTakeStopped()
{
    if (!g_confirmedPath.empty() && g_takePath == g_confirmedPath && FileExists(g_takePath)) {
        g_confirmedPath.clear();
    }
    g_takePath.clear();
}
