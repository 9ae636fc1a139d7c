#include "recording/FramePipe.h"

#include <atomic>
#include <chrono>
#include <mutex>

#include "app/AppState.h"
#include "app/Ids.h"

namespace {

std::atomic<uint32_t> g_generation{0};
// Set once a write has failed for the current pipe; cleared when a new pipe is published.
// Guarded by g_pipeLock.
bool g_pipeBroken = false;
// The thread inside a frame write, or 0: a close cancels that thread's stalled write.
std::atomic<DWORD> g_writingThreadId{0};

bool IsHeld(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Cancels the synchronous frame write that is in progress, if any.
void CancelWriteInProgress()
{
    DWORD threadId = g_writingThreadId.load();
    if (threadId == 0) {
        return;
    }
    HANDLE thread = ::OpenThread(THREAD_TERMINATE, FALSE, threadId);
    if (thread != nullptr) {
        ::CancelSynchronousIo(thread);
        ::CloseHandle(thread);
    }
}

// Takes g_pipeLock from the main thread. A write in progress gets kWritePatienceMs to finish;
// after that it is an encoder that no longer reads, and the write is cancelled until the lock
// comes free. Cancellation only works while the writer is inside the write, so it is repeated.
// Sets `abandoned` when a write had to be cancelled.
std::unique_lock<std::timed_mutex> LockPipeAbandoningStalledWrite(bool& abandoned)
{
    std::unique_lock<std::timed_mutex> lock(g_pipeLock, std::defer_lock);
    abandoned = false;
    if (lock.try_lock_for(std::chrono::milliseconds(kWritePatienceMs))) {
        return lock;
    }
    abandoned = true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        CancelWriteInProgress();
        if (lock.try_lock_for(std::chrono::milliseconds(50))) {
            return lock;
        }
    }
    // Still held after five more seconds: break the pipe itself, which fails any write.
    ::DisconnectNamedPipe(g_pipe);
    lock.lock();
    return lock;
}

DWORD WINAPI FlushThread(LPVOID pipe)
{
    ::FlushFileBuffers(static_cast<HANDLE>(pipe));
    return 0;
}

// Waits until the encoder has read everything written, for at most kFlushBoundMs. Returns
// false when the flush had to be given up.
bool FlushWithinBound(HANDLE pipe)
{
    // FlushFileBuffers has no time-out of its own, so it runs on a helper thread that can be
    // cancelled when the encoder stops reading.
    HANDLE flusher = ::CreateThread(nullptr, 0, FlushThread, pipe, 0, nullptr);
    if (flusher == nullptr) {
        return false;
    }
    bool flushed = ::WaitForSingleObject(flusher, kFlushBoundMs) == WAIT_OBJECT_0;
    if (!flushed) {
        ::CancelSynchronousIo(flusher);
        // The disconnect that follows ends any flush that the cancel missed.
        ::DisconnectNamedPipe(pipe);
        ::WaitForSingleObject(flusher, 1000);
    }
    ::CloseHandle(flusher);
    return flushed;
}

} // namespace

HANDLE CreateFramePipe()
{
    return ::CreateNamedPipeW(kFramePipeName, PIPE_ACCESS_OUTBOUND,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 0, 0,
                              nullptr);
}

void PublishFramePipe(HANDLE pipe)
{
    std::lock_guard<std::timed_mutex> lock(g_pipeLock);
    g_pipe = pipe;
    g_pipeBroken = false;
    g_generation.fetch_add(1);
}

int WriteFramesToPipe(const BYTE* frame, int count)
{
    if (!g_isRecording.load()) {
        return 0;
    }
    std::lock_guard<std::timed_mutex> lock(g_pipeLock);
    if (!IsHeld(g_pipe) || g_pipeBroken) {
        return 0;
    }
    int written = 0;
    while (written < count) {
        DWORD bytes = 0;
        g_writingThreadId.store(::GetCurrentThreadId());
        BOOL ok = ::WriteFile(g_pipe, frame, static_cast<DWORD>(kFrameBytes), &bytes, nullptr);
        g_writingThreadId.store(0);
        if (ok && bytes == kFrameBytes) {
            ++written;
            continue;
        }
        // A cancelled write was abandoned by a close that is under way; anything else means the
        // encoder has gone. Either way this pipe takes no more frames.
        DWORD error = ::GetLastError();
        g_pipeBroken = true;
        if (error != ERROR_OPERATION_ABORTED) {
            ::PostMessageW(g_hwndControl, WM_APP_ENCODER_LOST, g_generation.load(), 0);
        }
        break;
    }
    return written;
}

bool CloseFramePipe()
{
    bool abandoned = false;
    std::unique_lock<std::timed_mutex> lock = LockPipeAbandoningStalledWrite(abandoned);
    if (!IsHeld(g_pipe)) {
        g_pipe = nullptr;
        return !abandoned;
    }
    bool flushed = FlushWithinBound(g_pipe);
    ::DisconnectNamedPipe(g_pipe);
    ::CloseHandle(g_pipe);
    g_pipe = nullptr;
    return flushed && !abandoned;
}

uint32_t FramePipeGeneration()
{
    return g_generation.load();
}
