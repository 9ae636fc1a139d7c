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

std::wstring PathBesideProgram(const wchar_t* name)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1) + name;
}

HMODULE LoadLibraryBesideProgram(const wchar_t* name)
{
    const std::wstring path = PathBesideProgram(name);
    if (path.empty() || ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return nullptr;
    }
    // A full path is never searched for; the flags say where its own imports come from.
    return ::LoadLibraryExW(path.c_str(), nullptr,
                            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}
