#include "platform/ProgramSearch.h"

#include <windows.h>

#include <vector>

#include "platform/Platform.h"

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// True for "X:\..." and "\\server\..." (also "\\?\..."): paths that do not depend on the current
// folder or the current drive.
bool IsAbsolutePath(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2])) {
        return (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    }
    return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

std::wstring JoinPath(const std::wstring& folder, const wchar_t* fileName)
{
    return IsSeparator(folder.back()) ? folder + fileName : folder + L"\\" + fileName;
}

// This program's folder, without a trailing separator; empty when it can't be read.
std::wstring ProgramFolder()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            size_t slash = path.find_last_of(L"\\/");
            return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring PathVariable()
{
    DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(size);
    DWORD length = ::GetEnvironmentVariableW(L"PATH", buffer.data(), size);
    return length < size ? std::wstring(buffer.data(), length) : std::wstring();
}

// The PATH's folders in order, without the quotes an entry may carry; empty and relative entries
// are left out.
std::vector<std::wstring> AbsolutePathFolders()
{
    std::vector<std::wstring> folders;
    std::wstring path = PathVariable();
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find(L';', begin);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        std::wstring entry = path.substr(begin, end - begin);
        if (entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"') {
            entry = entry.substr(1, entry.size() - 2);
        }
        if (IsAbsolutePath(entry)) {
            folders.push_back(entry);
        }
        begin = end + 1;
    }
    return folders;
}

} // namespace

std::wstring FindProgramBesideOrOnPath(const wchar_t* fileName)
{
    std::wstring folder = ProgramFolder();
    if (!folder.empty() && IsExistingFile(JoinPath(folder, fileName))) {
        return JoinPath(folder, fileName);
    }
    for (const std::wstring& entry : AbsolutePathFolders()) {
        std::wstring candidate = JoinPath(entry, fileName);
        if (IsExistingFile(candidate)) {
            return candidate;
        }
    }
    return std::wstring();
}
