#include "platform/DllSearch.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);

} // namespace

bool RestrictDllSearchToSafeFolders()
{
    // Looked up rather than imported: a Windows 7 without its loader update lacks the call, and
    // the program must still start there.
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (proc == nullptr) {
        return false;
    }
    auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(proc));
    return setDefaultDllDirectories(kSafeDllSearchFolders) != FALSE;
}
