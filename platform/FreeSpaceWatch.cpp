#include "platform/FreeSpaceWatch.h"

#include <mutex>

#include "platform/Platform.h"
#include "platform/ThreadName.h"

namespace {

// Guarded by g_lock: what is asked for, and the latest reading.
std::mutex g_lock;
std::wstring g_requested;
std::vector<std::wstring> g_requestedFiles;
bool g_pending = false;
HWND g_window = nullptr;
UINT g_message = 0;
std::wstring g_readPath;
bool g_readOk = false;
uint64_t g_readBytes = 0;
uint64_t g_readFilesBytes = 0;
// Wakes the reading thread; made with it, on the first request.
HANDLE g_wake = nullptr;

DWORD WINAPI ReadingThread(LPVOID)
{
    NameThisThread(L"free space");
    ULONGLONG lastReading = 0;
    for (;;) {
        ::WaitForSingleObject(g_wake, INFINITE);
        const ULONGLONG since = ::GetTickCount64() - lastReading;
        if (lastReading != 0 && since < kFreeSpaceReadingMs) {
            ::Sleep(static_cast<DWORD>(kFreeSpaceReadingMs - since));
        }
        std::wstring path;
        std::vector<std::wstring> files;
        {
            std::lock_guard<std::mutex> lock(g_lock);
            path = g_requested;
            files = g_requestedFiles;
            g_pending = false;
        }
        lastReading = ::GetTickCount64();
        uint64_t freeBytes = 0;
        const bool ok = QueryFreeDiskSpace(path, freeBytes); // may block for long
        uint64_t filesBytes = 0;
        for (const std::wstring& file : files) {
            uint64_t size = 0;
            filesBytes += QueryFileSize(file, size) ? size : 0;
        }
        HWND window = nullptr;
        UINT message = 0;
        {
            std::lock_guard<std::mutex> lock(g_lock);
            g_readPath = path;
            g_readOk = ok;
            g_readBytes = freeBytes;
            g_readFilesBytes = filesBytes;
            window = g_window;
            message = g_message;
        }
        if (window != nullptr) {
            ::PostMessageW(window, message, 0, 0);
        }
    }
}

} // namespace

void RequestFreeSpace(const std::wstring& path, const std::vector<std::wstring>& files,
                      HWND window, UINT message)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_requested = path;
    g_requestedFiles = files;
    if (window != nullptr) {
        g_window = window;
        g_message = message;
    }
    if (g_wake == nullptr) {
        // An auto-reset event: requests made while a reading blocks make one more reading.
        g_wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        HANDLE thread =
            g_wake != nullptr ? ::CreateThread(nullptr, 0, ReadingThread, nullptr, 0, nullptr)
                              : nullptr;
        if (thread == nullptr) {
            if (g_wake != nullptr) {
                ::CloseHandle(g_wake);
            }
            g_wake = nullptr;
            return;
        }
        ::CloseHandle(thread); // it runs for the life of the process
    }
    if (!g_pending) {
        g_pending = true;
        ::SetEvent(g_wake);
    }
}

bool LatestFreeSpace(const std::wstring& path, uint64_t& freeBytes, uint64_t* filesBytes)
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_readOk || g_readPath != path) {
        return false;
    }
    freeBytes = g_readBytes;
    if (filesBytes != nullptr) {
        *filesBytes = g_readFilesBytes;
    }
    return true;
}
