#include "app/ReplaceConfirmation.h"

#include <windows.h>

#include "platform/Platform.h"

namespace {

// Main thread only, like the control window that uses them.
std::wstring g_confirmedPath;
std::wstring g_takePath;

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
    if (!g_confirmedPath.empty() && g_takePath == g_confirmedPath && IsExistingFile(g_takePath)) {
        g_confirmedPath.clear();
    }
    g_takePath.clear();
}
