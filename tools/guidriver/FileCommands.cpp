// Commands that hold files open as another program would: a spreadsheet that has a take's CSV
// file open keeps it from being renamed or deleted until it lets go.
#include <vector>

#include "CommandSupport.h"
#include "platform/ScopedHandle.h"

namespace {

// The files held, until release-files or the driver's end.
std::vector<ScopedHandle> g_heldFiles;

} // namespace

void HoldFile(Call& call)
{
    std::wstring path;
    if (!TextArg(call, 0, &path)) {
        return;
    }
    // Reading, and sharing reading and writing but not deletion: a rename fails meanwhile.
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        Err(call, "cannot open the file (error " + Int(::GetLastError()) + ")");
        return;
    }
    g_heldFiles.push_back(std::move(file));
    Ok(call);
}

void ReleaseFiles(Call& call)
{
    g_heldFiles.clear();
    Ok(call);
}
