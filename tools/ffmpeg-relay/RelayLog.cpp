#include "RelayLog.h"

#include "RelayCommand.h"

#include <windows.h>

#include <vector>

namespace {

// Appends `bytes` to the file at `path` with one write, creating the file when it is missing.
void AppendToFile(const std::wstring& path, const std::string& bytes)
{
    if (path.empty() || bytes.empty()) {
        return;
    }
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

} // namespace

std::wstring EnvironmentValue(const wchar_t* name)
{
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD length =
            ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

void LogMessage(const std::wstring& message)
{
    const std::string line =
        "[ffmpeg-relay " + std::to_string(::GetCurrentProcessId()) + "] " + ToUtf8(message) + "\n";
    AppendToFile(EnvironmentValue(L"NVR_RELAY_LOG"), line);
}

void LogBytes(const std::string& bytes)
{
    AppendToFile(EnvironmentValue(L"NVR_RELAY_LOG"), bytes);
}

void AppendRunRecord(const RunRecord& record)
{
    const uint64_t bytes = record.bytes;
    const uint64_t frames = record.frameBytes == 0 ? 0 : bytes / record.frameBytes;
    const std::string line =
        "pid=" + std::to_string(::GetCurrentProcessId()) + " bytes=" + std::to_string(bytes) +
        " frames=" + std::to_string(frames) + " exit=" + std::to_string(record.exitCode) +
        " cmdline=" + ToUtf8(::GetCommandLineW()) + "\n";
    AppendToFile(EnvironmentValue(L"NVR_RELAY_RECORD"), line);
}
