#include "LinuxEncoder.h"

#include "RelayCommand.h"

#include <winternl.h>

#include <cstdlib>

namespace {

const wchar_t* const kHelperFiles[] = {L"ready", L"status",     L"status.tmp", L"run.sh",
                                       L"end",   L"ffmpeg.pid", L"gone",       L"ffmpeg.log"};
constexpr DWORD kPollMs = 10;

// The script around the ffmpeg command. Wine opens a FIFO without waiting for the other end, so
// a write end can only be opened while a reader has it open: the script holds a read end of its
// own for that (fd 4), whether or not the FIFO's real reader has opened it yet. After ffmpeg ends
// the FIFO is removed before that read end is dropped, so a late open fails and a write in
// progress fails (broken pipe) instead of waiting forever. A watchdog releases a reader still
// waiting in its own open of the FIFO after 30 s (the relay has given up by then): it then sees
// an empty input.
//
// The FIFO closing tells a relay that ended its input (it leaves `end` first) from one that was
// killed: Wine closes the killed process's FIFO just the same, and a real ffmpeg.exe that is
// killed writes nothing more. So `cat` reads the FIFO and, for a recording, passes it on to
// ffmpeg's standard input; when the FIFO ends without `end`, ffmpeg is sent SIGKILL while its own
// input is still open, so it never sees the end of its input and never finishes the file. For a
// remux the relay writes nothing into the FIFO and holds it open while it waits for ffmpeg.
// ffmpeg.pid is written before `ready`, so it is there before the relay can open the FIFO.
//
// The relay takes `status` away as soon as it has read it; a status left for 60 s means the relay
// was killed meanwhile, and the script removes the folder itself. A relay known to be gone
// (`gone`) gets no status: the folder goes at once.
std::string BuildScript(const std::string& unixFolder, const std::string& ffmpegCommand,
                        bool feedsInput)
{
    const std::string folder = ShellQuote(unixFolder);
    const std::string startFfmpeg =
        "/bin/sh -c 'echo $$ >ffmpeg.pid && touch ready && exec \"$@\"' sh " + ffmpegCommand;
    // One line of the script per line here.
    // clang-format off
    const std::string runFfmpeg = feedsInput ?
           "{ if cat fifo && [ ! -e end ]; then touch gone; fi;"
           " [ -e end ] || kill -9 \"$(cat ffmpeg.pid)\"; } 4<&- | " + startFfmpeg + " 4<&- 2>ffmpeg.log\n"
           "status=$?\n" :
           startFfmpeg + " 4<&- </dev/null 2>ffmpeg.log &\n"
           "ffmpeg=$!\n"
           "{ if cat fifo >/dev/null && [ ! -e end ]; then touch gone; kill -9 $ffmpeg; fi; } 4<&- &\n"
           "monitor=$!\n"
           "wait $ffmpeg\n"
           "status=$?\n"
           "kill $monitor\n";
    return "#!/bin/sh\n"
           "# ffmpeg-relay helper: Debian's ffmpeg runs for the Windows relay, which holds the FIFO.\n"
           "PATH=/usr/bin:/bin\n"
           "export PATH\n"
           "cd " + folder + " || exit 1\n"
           "exec </dev/null >/dev/null 2>&1\n"
           "if ! mkfifo fifo; then echo 127 >status.tmp; mv -f status.tmp status; exit 1; fi\n"
           "exec 3<>fifo\n"
           "exec 4<fifo\n"
           "exec 3>&-\n"
           "( exec 4<&-; n=0; while [ $n -lt 30 ]; do sleep 1; n=$((n + 1)); done;"
           " [ -p fifo ] && : <>fifo ) &\n"
           "watchdog=$!\n" +
           runFfmpeg +
           "kill $watchdog\n"
           "rm -f fifo\n"
           "exec 4<&-\n"
           "if [ -e gone ]; then cd / && rm -rf " + folder + "; exit 0; fi\n"
           "echo $status >status.tmp\n"
           "mv -f status.tmp status\n"
           "n=0\n"
           "while [ -e status ] && [ $n -lt 60 ]; do sleep 1; n=$((n + 1)); done\n"
           "if [ -e status ]; then cd / && rm -rf " + folder + "; fi\n";
    // clang-format on
}

std::wstring HelperFile(const LinuxEncoder& encoder, const wchar_t* name)
{
    return encoder.folder + L"\\" + name;
}

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

// Reads at most `limit` bytes of a file; empty when it can't be opened.
std::string ReadFileHead(const std::wstring& path, DWORD limit)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string bytes(limit, '\0');
    DWORD read = 0;
    if (!::ReadFile(file, &bytes[0], limit, &read, nullptr)) {
        read = 0;
    }
    ::CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

using UnixFileNameFn = char*(__cdecl*)(const wchar_t*);

UnixFileNameFn FindUnixFileName()
{
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel ? ::GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
    // Through void(*)() so the compilers accept the cast between unrelated function types.
    return proc ? reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void (*)()>(proc)) : nullptr;
}

} // namespace

bool RunningUnderWine()
{
    return FindUnixFileName() != nullptr;
}

bool UnixPathOf(const std::wstring& windowsPath, std::string& unixPath)
{
    const UnixFileNameFn unixFileName = FindUnixFileName();
    if (!unixFileName) {
        return false;
    }
    char* name = unixFileName(windowsPath.c_str());
    if (!name) {
        return false;
    }
    unixPath = name;
    // Wine allocates the result on the process heap.
    ::HeapFree(::GetProcessHeap(), 0, name);
    return !unixPath.empty();
}

bool CreateHelperFolder(LinuxEncoder& encoder, std::wstring& error)
{
    const std::wstring base = L"Z:\\tmp\\nvr-relay-" + std::to_wstring(::GetCurrentProcessId()) +
                              L"-" + std::to_wstring(::GetTickCount64());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring folder = attempt == 0 ? base : base + L"-" + std::to_wstring(attempt);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) {
            encoder.folder = folder;
            if (!UnixPathOf(folder, encoder.unixFolder)) {
                ::RemoveDirectoryW(folder.c_str());
                error = L"no Linux path for " + folder;
                return false;
            }
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            error =
                L"cannot create " + folder + L" (error " + std::to_wstring(::GetLastError()) + L")";
            return false;
        }
    }
    error = L"cannot find a free helper folder name at " + base;
    return false;
}

bool StartLinuxEncoder(const LinuxEncoder& encoder, const std::string& ffmpegCommand,
                       bool feedsInput, std::wstring& error)
{
    if (!WriteWholeFile(HelperFile(encoder, L"run.sh"),
                        BuildScript(encoder.unixFolder, ffmpegCommand, feedsInput))) {
        error = L"cannot write " + HelperFile(encoder, L"run.sh");
        return false;
    }
    // Wine starts a Linux program from a Linux path; its process handle can't be waited on, so
    // the script reports through files instead.
    std::wstring commandLine = L"/bin/sh " + FromUtf8(encoder.unixFolder) + L"/run.sh";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &process)) {
        error =
            L"cannot start " + commandLine + L" (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

bool WaitUntilReady(const LinuxEncoder& encoder, DWORD limitMs)
{
    const ULONGLONG start = ::GetTickCount64();
    while (!FileExists(HelperFile(encoder, L"ready"))) {
        if (FileExists(HelperFile(encoder, L"status")) || ::GetTickCount64() - start >= limitMs) {
            return false;
        }
        ::Sleep(kPollMs);
    }
    return true;
}

HANDLE OpenFifoForWriting(const LinuxEncoder& encoder)
{
    // CreateFileW always adds read access, and Wine then opens the FIFO read-write: the relay
    // would be a reader itself and never see ffmpeg go (writes block instead of failing). The
    // native call with write access only gives a true write end.
    using NtCreateFileFn =
        NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                         ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    FARPROC proc = ntdll ? ::GetProcAddress(ntdll, "NtCreateFile") : nullptr;
    if (!proc) {
        return INVALID_HANDLE_VALUE;
    }
    const auto ntCreateFile = reinterpret_cast<NtCreateFileFn>(reinterpret_cast<void (*)()>(proc));

    std::wstring path = L"\\??\\" + HelperFile(encoder, L"fifo");
    UNICODE_STRING name;
    name.Buffer = &path[0];
    name.Length = static_cast<USHORT>(path.size() * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE fifo = INVALID_HANDLE_VALUE;
    const NTSTATUS status =
        ntCreateFile(&fifo, FILE_WRITE_DATA | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                     FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
    if (status < 0) {
        ::SetLastError(static_cast<DWORD>(status));
        return INVALID_HANDLE_VALUE;
    }
    return fifo;
}

bool MarkNormalEnd(const LinuxEncoder& encoder)
{
    return WriteWholeFile(HelperFile(encoder, L"end"), std::string());
}

bool KillLinuxEncoder(const LinuxEncoder& encoder)
{
    const std::string text = ReadFileHead(HelperFile(encoder, L"ffmpeg.pid"), 32);
    const long pid = std::atol(text.c_str());
    if (pid <= 1) {
        return false;
    }
    std::wstring commandLine = L"/bin/kill -9 " + std::to_wstring(pid);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &process)) {
        return false;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

bool WaitForEncoderStatus(const LinuxEncoder& encoder, DWORD limitMs, int& status)
{
    const std::wstring path = HelperFile(encoder, L"status");
    const ULONGLONG start = ::GetTickCount64();
    while (!FileExists(path)) {
        if (::GetTickCount64() - start >= limitMs) {
            return false;
        }
        ::Sleep(kPollMs);
    }
    const std::string text = ReadFileHead(path, 32);
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    status = std::atoi(text.c_str());
    return true;
}

std::string ReadEncoderLog(const LinuxEncoder& encoder)
{
    return ReadFileHead(HelperFile(encoder, L"ffmpeg.log"), 64 * 1024);
}

void RemoveHelperFolder(const LinuxEncoder& encoder, bool keepFiles)
{
    if (keepFiles) {
        ::DeleteFileW(HelperFile(encoder, L"status").c_str());
        return;
    }
    for (const wchar_t* name : kHelperFiles) {
        ::DeleteFileW(HelperFile(encoder, name).c_str());
    }
    ::RemoveDirectoryW(encoder.folder.c_str());
}
