// ffmpeg.exe stand-in for Linux test machines: reads the raw frames that the recorder writes into
// its named pipe and relays them, through a FIFO, to Debian's real ffmpeg running beside Wine,
// which writes the MP4; a run whose input is a file (a remux) runs Debian's ffmpeg on it directly.
// Fault modes (NVR_RELAY_FAULT) imitate encoders that misbehave.
#include "Launcher.h"
#include "LinuxEncoder.h"
#include "RelayCommand.h"
#include "RelayLimits.h"
#include "RelayLog.h"
#include "platform/ScopedHandle.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cwchar>
#include <vector>

namespace {

enum class Fault {
    None,
    NoOpenExit,
    NoOpenHang,
    ReadFewExit,
    ReadFewStall,
    SlowFinish,
    LateStart,
    Pause,
    SlowRead,
    KillAfter4s,
    Stall,
    RemuxFail,
    SlowRewrite,
    HangRewrite,
    FailFinish,
    Launcher
};

// Maps NVR_RELAY_FAULT's value to a mode; false for an unknown value.
bool ParseFault(const std::wstring& name, Fault& fault)
{
    const struct {
        const wchar_t* name;
        Fault fault;
    } kModes[] = {{L"", Fault::None},
                  {L"no-open-exit", Fault::NoOpenExit},
                  {L"no-open-hang", Fault::NoOpenHang},
                  {L"read-few-exit", Fault::ReadFewExit},
                  {L"read-few-stall", Fault::ReadFewStall},
                  {L"slow-finish", Fault::SlowFinish},
                  {L"late-start", Fault::LateStart},
                  {L"pause", Fault::Pause},
                  {L"slow-read", Fault::SlowRead},
                  {L"kill-after-4s", Fault::KillAfter4s},
                  {L"stall", Fault::Stall},
                  {L"remux-fail", Fault::RemuxFail},
                  {L"slow-rewrite", Fault::SlowRewrite},
                  {L"hang-rewrite", Fault::HangRewrite},
                  {L"fail-finish", Fault::FailFinish},
                  {L"launcher", Fault::Launcher}};
    for (const auto& mode : kModes) {
        if (name == mode.name) {
            fault = mode.fault;
            return true;
        }
    }
    return false;
}

// Opens the client end of the frame pipe, retrying while it does not exist yet or is busy, for
// at most kPipeOpenLimitMs. INVALID_HANDLE_VALUE when it could not be opened in that time.
HANDLE OpenFramePipe(const std::wstring& name)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= kPipeOpenLimitMs) {
            return INVALID_HANDLE_VALUE;
        }
        const DWORD left = static_cast<DWORD>(kPipeOpenLimitMs - elapsed);
        // Fails at once while no instance of the name exists: then poll.
        if (!::WaitNamedPipeW(name.c_str(), std::min<DWORD>(left, 500))) {
            ::Sleep(std::min<DWORD>(left, 20));
            continue;
        }
        HANDLE pipe = ::CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            return pipe;
        }
    }
}

// Reads exactly `total` bytes from the pipe unless it ends first; adds what was read to `bytes`.
void ReadExactly(HANDLE pipe, uint64_t total, RunRecord& record)
{
    std::vector<BYTE> buffer(record.frameBytes);
    uint64_t done = 0;
    while (done < total) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(total - done, record.frameBytes));
        DWORD read = 0;
        if (!::ReadFile(pipe, buffer.data(), want, &read, nullptr) || read == 0) {
            LogMessage(L"the frame pipe ended after " + std::to_wstring(done) + L" bytes");
            return;
        }
        done += read;
        record.bytes += read;
    }
}

// When the FIFO write in progress began (GetTickCount64), or 0 while none is.
std::atomic<ULONGLONG> g_writeSince{0};

// Set once the kill-after-4s mode has killed Debian's ffmpeg.
std::atomic<bool> g_encoderKilled{false};

// Hanging fault modes: the record is written now, since the relay is usually killed meanwhile.
int Stall(RunRecord& record)
{
    record.exitCode = kExitFailure;
    AppendRunRecord(record);
    record.written = true;
    ::Sleep(kHangMs);
    return kExitFailure;
}

// Ends the relay when one FIFO write has been blocked for kStalledWriteLimitMs: ffmpeg has stopped
// reading without exiting, and Wine can't cancel a write blocked on a FIFO.
// `param` is the run's RunRecord, whose line is written before the relay ends.
DWORD WINAPI StalledWriteWatchdog(void* param)
{
    for (;;) {
        ::Sleep(1000);
        const ULONGLONG since = g_writeSince;
        if (since != 0 && ::GetTickCount64() - since > kStalledWriteLimitMs) {
            LogMessage(L"ffmpeg has taken nothing for " +
                       std::to_wstring(kStalledWriteLimitMs / 1000) + L" s; giving up");
            RunRecord& record = *static_cast<RunRecord*>(param);
            record.exitCode = kExitFailure;
            AppendRunRecord(record);
            ::ExitProcess(kExitFailure);
        }
    }
}

bool WriteAll(HANDLE file, const BYTE* data, DWORD size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, data, size, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Frames read from the pipe and not yet written to ffmpeg. The pipe is read on a thread of its
// own, as real ffmpeg reads its input, so the recorder's writes are taken at once even while
// Debian's ffmpeg is still starting up or briefly slower.
class ChunkQueue {
public:
    // Adds a chunk, waiting while the queue is full. False, dropping it, once the writer has
    // failed.
    bool Push(std::vector<BYTE> chunk)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return m_chunks.size() < kQueuedChunks || m_failed; });
        if (m_failed) {
            return false;
        }
        m_chunks.push_back(std::move(chunk));
        m_changed.notify_all();
        return true;
    }

    void End()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_ended = true;
        m_changed.notify_all();
    }

    void Fail()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_failed = true;
        m_changed.notify_all();
    }

    // The next chunk; false once the input has ended and everything was taken.
    bool Pop(std::vector<BYTE>& chunk)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return !m_chunks.empty() || m_ended; });
        if (m_chunks.empty()) {
            return false;
        }
        chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_changed.notify_all();
        return true;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::vector<BYTE>> m_chunks;
    bool m_ended = false;
    bool m_failed = false;
};

// How the pipe is read: the pacing that the late-start, pause and slow-read modes imitate, and
// the points where the kill-after-4s and stall modes act.
struct ReadPlan {
    DWORD startDelayMs = 0;             // nothing read for this long after the pipe is opened
    uint64_t pauseAfterBytes = 0;       // once this much was read (0: never) ...
    DWORD pauseMs = 0;                  // ... nothing is read for this long, once
    DWORD perFrameMs = 0;               // a pause after every frame
    uint64_t killEncoderAfterBytes = 0; // once this much was read (0: never), ffmpeg is killed
    uint64_t stallAfterBytes = 0;       // once this much was read (0: never), reading stops
};

ReadPlan PlanOf(Fault fault, uint32_t frameBytes)
{
    ReadPlan plan;
    if (fault == Fault::LateStart) {
        plan.startDelayMs = kLateStartMs;
    } else if (fault == Fault::Pause) {
        plan.pauseAfterBytes = uint64_t{kPauseAfterFrames} * frameBytes;
        // NVR_RELAY_PAUSE_MS makes the pause longer or shorter.
        const std::wstring pauseMs = EnvironmentValue(L"NVR_RELAY_PAUSE_MS");
        plan.pauseMs = pauseMs.empty()
                           ? kPauseMs
                           : static_cast<DWORD>(std::wcstoul(pauseMs.c_str(), nullptr, 10));
    } else if (fault == Fault::SlowRead) {
        plan.perFrameMs = kSlowReadMs;
    } else if (fault == Fault::KillAfter4s) {
        plan.killEncoderAfterBytes = uint64_t{kKillAfterFrames} * frameBytes;
    } else if (fault == Fault::Stall) {
        plan.stallAfterBytes = uint64_t{kStallAfterFrames} * frameBytes;
    }
    return plan;
}

struct PipeReader {
    HANDLE pipe;
    ChunkQueue* queue;
    RunRecord* record;
    ReadPlan plan;
    ULONGLONG openedAt;
    const LinuxEncoder* encoder;
};

// Reads the frame pipe into the queue, in frame-sized reads, until the pipe ends or the writer
// has failed, following the plan.
DWORD WINAPI ReadPipeIntoQueue(void* param)
{
    PipeReader& reader = *static_cast<PipeReader*>(param);
    ReadPlan& plan = reader.plan;
    const uint32_t frameBytes = reader.record->frameBytes;
    const ULONGLONG since = ::GetTickCount64() - reader.openedAt;
    if (since < plan.startDelayMs) {
        ::Sleep(static_cast<DWORD>(plan.startDelayMs - since));
    }
    for (;;) {
        const uint64_t bytes = reader.record->bytes;
        if (plan.pauseAfterBytes != 0 && bytes >= plan.pauseAfterBytes) {
            plan.pauseAfterBytes = 0;
            ::Sleep(plan.pauseMs);
        }
        if (plan.stallAfterBytes != 0 && bytes >= plan.stallAfterBytes) {
            LogMessage(L"stall: no more reads; the frame pipe stays open");
            // Without the end marker: ffmpeg is killed with the relay, whenever that is.
            ::ExitProcess(static_cast<UINT>(Stall(*reader.record)));
        }
        if (plan.killEncoderAfterBytes != 0 && bytes >= plan.killEncoderAfterBytes) {
            plan.killEncoderAfterBytes = 0;
            g_encoderKilled = KillLinuxEncoder(*reader.encoder);
            LogMessage(g_encoderKilled ? L"kill-after-4s: ffmpeg killed"
                                       : L"kill-after-4s: cannot kill ffmpeg");
        }
        const uint64_t framesBefore = bytes / frameBytes;
        std::vector<BYTE> chunk(frameBytes);
        DWORD read = 0;
        if (!::ReadFile(reader.pipe, chunk.data(), frameBytes, &read, nullptr)) {
            const DWORD error = ::GetLastError();
            // A closed pipe reads as 233 under Wine and 109 on Windows: both are the end.
            // 995 is the relay's own cancel once ffmpeg has stopped taking frames.
            if (error != ERROR_BROKEN_PIPE && error != ERROR_PIPE_NOT_CONNECTED &&
                error != ERROR_OPERATION_ABORTED) {
                LogMessage(L"frame pipe read failed (error " + std::to_wstring(error) +
                           L"); taken as the end of the input");
            }
            break;
        }
        if (read == 0) {
            break;
        }
        reader.record->bytes += read;
        chunk.resize(read);
        if (!reader.queue->Push(std::move(chunk))) {
            break;
        }
        if (reader.record->bytes / frameBytes != framesBefore) {
            ::Sleep(plan.perFrameMs);
        }
    }
    reader.queue->End();
    return 0;
}

// Ends the reader thread after a failed FIFO write: it stops at its next chunk, and a read that
// waits for the recorder is cancelled. Bounded by kReaderStopLimitMs.
void StopReader(HANDLE readerThread)
{
    const ULONGLONG start = ::GetTickCount64();
    while (::WaitForSingleObject(readerThread, 50) == WAIT_TIMEOUT &&
           ::GetTickCount64() - start < kReaderStopLimitMs) {
        ::CancelSynchronousIo(readerThread);
    }
}

// Copies the frame pipe into the FIFO until the pipe ends. Returns false when a FIFO write
// failed (ffmpeg stopped reading): the pipe is then no longer read, as a dead encoder's is not.
// True at the end of the input.
bool RelayFrames(HANDLE pipe, HANDLE fifo, RunRecord& record, const ReadPlan& plan,
                 ULONGLONG openedAt, const LinuxEncoder& encoder)
{
    // Lives until the process ends, since a reader thread that did not stop may still use it.
    static ChunkQueue queue;
    static PipeReader reader;
    reader = PipeReader{pipe, &queue, &record, plan, openedAt, &encoder};
    ScopedHandle readerThread(::CreateThread(nullptr, 0, ReadPipeIntoQueue, &reader, 0, nullptr));
    if (!readerThread.IsValid()) {
        return false;
    }
    std::vector<BYTE> chunk;
    while (queue.Pop(chunk)) {
        g_writeSince = ::GetTickCount64();
        const bool written = WriteAll(fifo, chunk.data(), static_cast<DWORD>(chunk.size()));
        g_writeSince = 0;
        if (!written) {
            LogMessage(L"writing to ffmpeg failed (error " + std::to_wstring(::GetLastError()) +
                       L"): it has stopped reading");
            queue.Fail();
            StopReader(readerThread.Get());
            return false;
        }
    }
    // The reader ended the queue on its way out.
    ::WaitForSingleObject(readerThread.Get(), 5000);
    return true;
}

// How many runs the NVR_RELAY_RECORD file holds (0 without one).
int RunsRecorded()
{
    ScopedHandle file(::CreateFileW(EnvironmentValue(L"NVR_RELAY_RECORD").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    int lines = 0;
    char buffer[4096];
    DWORD read = 0;
    while (file.IsValid() && ::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) &&
           read > 0) {
        lines += static_cast<int>(std::count(buffer, buffer + read, '\n'));
    }
    return lines;
}

// The Linux path of a Windows path given on the command line, relative to the current folder.
// False, with a message, when Wine can't map it.
bool LinuxPathOfArgument(const std::wstring& path, std::string& unixPath)
{
    std::vector<wchar_t> full(32768);
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (path.empty() || length == 0 || length >= full.size() ||
        !UnixPathOf(full.data(), unixPath)) {
        LogMessage(L"cannot use the path '" + path + L"'");
        return false;
    }
    return true;
}

// Makes the helper folder and starts Debian's ffmpeg there (see StartLinuxEncoder), waiting until
// its FIFO is ready. False, with a message, when it can't.
bool StartEncoderInHelperFolder(LinuxEncoder& encoder, const std::string& ffmpegCommand,
                                bool feedsInput)
{
    std::wstring error;
    if (!CreateHelperFolder(encoder, error)) {
        LogMessage(error);
        return false;
    }
    if (!StartLinuxEncoder(encoder, ffmpegCommand, feedsInput, error)) {
        LogMessage(error);
        RemoveHelperFolder(encoder, false);
        return false;
    }
    if (!WaitUntilReady(encoder, kReadyLimitMs)) {
        LogMessage(L"ffmpeg's FIFO did not appear in " + encoder.folder);
        return false;
    }
    return true;
}

void LogFifoOpenFailure()
{
    wchar_t code[16] = {};
    ::swprintf(code, 16, L"0x%08lX", ::GetLastError());
    LogMessage(L"cannot open ffmpeg's FIFO (NTSTATUS " + std::wstring(code) +
               L"): ffmpeg has already ended");
}

// After ffmpeg's status was read: logs a failure with ffmpeg's own messages and removes the
// helper folder (or keeps its files with NVR_RELAY_KEEP=1).
void FinishWithStatus(const LinuxEncoder& encoder, int status)
{
    if (status != 0) {
        LogMessage(L"ffmpeg failed with status " + std::to_wstring(status) + L"; its log:");
        LogBytes(ReadEncoderLog(encoder));
    }
    const bool keep = EnvironmentValue(L"NVR_RELAY_KEEP") == L"1";
    if (keep) {
        LogMessage(L"helper folder kept: " + encoder.folder);
    }
    RemoveHelperFolder(encoder, keep);
}

// The normal path after the pipe is open: runs ffmpeg on a FIFO, relays, returns ffmpeg's status
// (the relay's failure code once kill-after-4s has killed ffmpeg).
int Encode(const RelayCommand& command, HANDLE pipeHandle, RunRecord& record, Fault fault)
{
    const ULONGLONG openedAt = ::GetTickCount64();
    ScopedHandle pipe(pipeHandle);
    std::string unixOutput;
    if (!LinuxPathOfArgument(OutputPath(command), unixOutput)) {
        return kExitFailure;
    }
    LinuxEncoder encoder;
    if (!StartEncoderInHelperFolder(encoder, BuildEncoderCommand(command, "pipe:0", unixOutput),
                                    true)) {
        return kExitFailure;
    }

    ScopedHandle fifo(OpenFifoForWriting(encoder));
    if (fifo.IsValid()) {
        ScopedHandle watchdog(
            ::CreateThread(nullptr, 0, StalledWriteWatchdog, &record, 0, nullptr));
        RelayFrames(pipe.Get(), fifo.Get(), record, PlanOf(fault, record.frameBytes), openedAt,
                    encoder);
    } else {
        LogFifoOpenFailure();
    }
    // The marker and then the FIFO's close are ffmpeg's end of input; closing the pipe tells the
    // recorder we are done.
    MarkNormalEnd(encoder);
    pipe.Reset();
    fifo.Reset();

    int status = kExitFailure;
    if (!WaitForEncoderStatus(encoder, kFinishLimitMs, status)) {
        LogMessage(L"ffmpeg did not finish in time; helper folder kept: " + encoder.folder);
        return kExitFailure;
    }
    FinishWithStatus(encoder, status);
    return g_encoderKilled ? kExitFailure : status;
}

// The slow-rewrite mode's second pass: the finished copy at `path` is read and written back in
// place, a piece at a time over kSlowRewritePassMs, so its last-write time moves while its size
// stays. False when the file can't be rewritten.
bool RewriteInPlaceSlowly(const std::wstring& path)
{
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size)) {
        return false;
    }
    const uint64_t step = static_cast<uint64_t>(size.QuadPart) / kSlowRewriteSteps + 1;
    std::vector<BYTE> piece(static_cast<size_t>(step));
    for (uint64_t offset = 0; offset < static_cast<uint64_t>(size.QuadPart); offset += step) {
        LARGE_INTEGER at = {};
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD read = 0;
        if (!::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) ||
            !::ReadFile(file.Get(), piece.data(), static_cast<DWORD>(step), &read, nullptr) ||
            !::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) ||
            !WriteAll(file.Get(), piece.data(), read)) {
            return false;
        }
        ::Sleep(kSlowRewritePassMs / kSlowRewriteSteps);
    }
    return true;
}

// A run whose input is a file: Debian's ffmpeg reads it and writes the output itself, while the
// relay holds the FIFO open so that ffmpeg dies with it. Returns ffmpeg's status.
int Remux(const RelayCommand& command, Fault fault)
{
    std::string unixInput;
    std::string unixOutput;
    if (!LinuxPathOfArgument(InputName(command), unixInput) ||
        !LinuxPathOfArgument(OutputPath(command), unixOutput)) {
        return kExitFailure;
    }
    std::vector<std::string> unixMoreInputs;
    for (size_t index : command.moreInputs) {
        unixMoreInputs.emplace_back();
        if (!LinuxPathOfArgument(command.args[index], unixMoreInputs.back())) {
            return kExitFailure;
        }
    }
    LinuxEncoder encoder;
    if (!StartEncoderInHelperFolder(
            encoder, BuildEncoderCommand(command, unixInput, unixOutput, unixMoreInputs), false)) {
        return kExitFailure;
    }
    ScopedHandle fifo(OpenFifoForWriting(encoder));
    if (!fifo.IsValid()) {
        LogFifoOpenFailure();
    }

    int status = kExitFailure;
    if (!WaitForEncoderStatus(encoder, kRemuxLimitMs, status)) {
        LogMessage(L"ffmpeg did not finish the remux in time; killed");
        // The FIFO closing without the end marker kills ffmpeg too, and the script then removes
        // the helper folder itself.
        KillLinuxEncoder(encoder);
        return kExitFailure;
    }
    MarkNormalEnd(encoder);
    fifo.Reset();
    FinishWithStatus(encoder, status);
    if (fault == Fault::SlowRewrite && status == 0) {
        LogMessage(L"slow-rewrite: a second pass in place");
        return RewriteInPlaceSlowly(OutputPath(command)) ? 0 : kExitFailure;
    }
    return status;
}

int Run(int argc, wchar_t** argv, RunRecord& record)
{
    RelayCommand command;
    std::wstring error;
    if (!ParseRelayCommand(argc, argv, command, error)) {
        LogMessage(L"bad command line: " + error);
        return kExitBadCommand;
    }
    Fault fault = Fault::None;
    if (!ParseFault(EnvironmentValue(L"NVR_RELAY_FAULT"), fault)) {
        LogMessage(L"unknown NVR_RELAY_FAULT '" + EnvironmentValue(L"NVR_RELAY_FAULT") + L"'");
        return kExitBadCommand;
    }
    const std::wstring childFaultName = EnvironmentValue(L"NVR_RELAY_CHILD_FAULT");
    Fault childFault = Fault::None;
    if (!ParseFault(childFaultName, childFault)) {
        LogMessage(L"unknown NVR_RELAY_CHILD_FAULT '" + childFaultName + L"'");
        return kExitBadCommand;
    }
    if (EnvironmentValue(L"NVR_RELAY_FAULT_FIRST_ONLY") == L"1" && RunsRecorded() > 0) {
        fault = Fault::None;
    }
    // NVR_RELAY_FAULT_PIPE limits the fault to the runs that read that pipe (a take's depth
    // stream, say).
    const std::wstring faultPipe = EnvironmentValue(L"NVR_RELAY_FAULT_PIPE");
    if (!faultPipe.empty() && !command.remux &&
        InputName(command) != L"\\\\.\\pipe\\" + faultPipe) {
        fault = Fault::None;
    }
    if (fault == Fault::Launcher) {
        return RunChildCopy(childFaultName);
    }
    record.frameBytes = command.frameBytes;
    if (command.remux) {
        // Of the fault modes only remux-fail (and launcher, above) concern a remux.
        if (fault == Fault::RemuxFail) {
            LogMessage(L"remux-fail: no remux");
            return kExitFailure;
        }
        if (fault == Fault::HangRewrite) {
            LogMessage(L"hang-rewrite: no remux, no exit");
            return Stall(record);
        }
        if (!RunningUnderWine()) {
            LogMessage(L"this relay needs Wine: it runs the Linux ffmpeg");
            return kExitFailure;
        }
        return Remux(command, fault);
    }
    if (fault == Fault::NoOpenExit) {
        return kExitFailure;
    }
    if (fault == Fault::NoOpenHang) {
        return Stall(record);
    }
    if (fault != Fault::NoOpenExit && fault != Fault::NoOpenHang && fault != Fault::ReadFewExit &&
        fault != Fault::ReadFewStall && !RunningUnderWine()) {
        LogMessage(L"this relay needs Wine: it runs the Linux ffmpeg");
        return kExitFailure;
    }

    HANDLE pipe = OpenFramePipe(InputName(command));
    if (pipe == INVALID_HANDLE_VALUE) {
        LogMessage(L"cannot open the frame pipe " + InputName(command) + L" (error " +
                   std::to_wstring(::GetLastError()) + L")");
        return kExitNoPipe;
    }
    if (fault == Fault::ReadFewExit || fault == Fault::ReadFewStall) {
        ScopedHandle owned(pipe);
        ReadExactly(pipe, uint64_t{kFewFrames} * record.frameBytes, record);
        return fault == Fault::ReadFewExit ? kExitFailure : Stall(record);
    }

    const int status = Encode(command, pipe, record, fault);
    if (fault == Fault::SlowFinish || fault == Fault::SlowRead) {
        ::Sleep(kSlowFinishMs);
    }
    return fault == Fault::FailFinish ? kExitFailure : status;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    RunRecord record;
    const int exitCode = Run(argc, argv, record);
    if (!record.written) {
        record.exitCode = exitCode;
        AppendRunRecord(record);
    }
    return exitCode;
}
