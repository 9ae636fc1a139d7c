#include "recording/EncoderStream.h"

#include "platform/Platform.h"
#include "platform/ProcessFamily.h"
#include "platform/ProcessJob.h"
#include "platform/ScopedHandle.h"
#include "recording/FramePipe.h"

namespace {

// How long the end of an ended encoder family is awaited, so the next start finds none.
constexpr DWORD kTerminationWaitMs = 2000;
constexpr DWORD kFinishPollMs = 100;

int64_t NowMs()
{
    return static_cast<int64_t>(::GetTickCount64());
}

} // namespace

struct EncoderStream {
    JobProcess encoder;
    ScopedHandle pipe;
    std::shared_ptr<FrameQueue> queue;
    std::shared_ptr<FrameWriter> writer;

    ~EncoderStream()
    {
        // Closing the job ends whatever of the family still runs.
        ReleaseJobProcess(encoder);
    }
};

namespace {

// True when the pipe's client is the started encoder or a process it started (a launcher named
// ffmpeg.exe starts the real encoder), so that no other program receives the frames. The
// encoder's handle is held meanwhile, so no other process can have its id.
bool ClientIsEncoder(HANDLE pipe, const PROCESS_INFORMATION& encoder)
{
    DWORD clientId = FramePipeClientProcessId(pipe);
    return clientId != 0 &&
           IsSameOrDescendantProcess(clientId, encoder.hProcess, encoder.dwProcessId);
}

// The connection wait of a start that failed: kept for good when a cancelled wait may still
// complete into it.
void DropConnectWait(std::unique_ptr<FramePipeConnect>& wait, bool abandoned)
{
    if (abandoned) {
        wait.release();
    }
}

} // namespace

std::shared_ptr<EncoderStream> StartEncoderStream(const std::wstring& program,
                                                  const wchar_t* pipeName, wchar_t* commandLine,
                                                  std::size_t frameBytes,
                                                  const EncoderLostReport& report,
                                                  FrameRowFiles rows)
{
    auto stream = std::make_shared<EncoderStream>();
    stream->queue = std::make_shared<FrameQueue>();
    if (!FrameQueueOpen(*stream->queue, kFrameQueueSlots, frameBytes)) {
        return nullptr;
    }
    stream->pipe.Reset(CreateFramePipe(pipeName));
    auto wait = std::make_unique<FramePipeConnect>();
    if (!stream->pipe.IsValid() || !BeginFramePipeConnect(stream->pipe.Get(), *wait)) {
        return nullptr;
    }
    bool abandoned = false;
    if (program.empty() || !StartProcessInJob(program.c_str(), commandLine, stream->encoder)) {
        FinishFramePipeConnect(stream->pipe.Get(), *wait, nullptr, 0, abandoned);
        DropConnectWait(wait, abandoned);
        return nullptr;
    }
    const bool connected =
        FinishFramePipeConnect(stream->pipe.Get(), *wait, stream->encoder.process.hProcess,
                               kEncoderConnectTimeoutMs, abandoned);
    DropConnectWait(wait, abandoned);
    if (!connected || !ClientIsEncoder(stream->pipe.Get(), stream->encoder.process)) {
        EndJobProcess(stream->encoder, 0, kTerminationWaitMs);
        return nullptr;
    }
    stream->writer = FrameWriterStart(stream->queue, stream->pipe.Get(), report, std::move(rows));
    if (!stream->writer) {
        EndJobProcess(stream->encoder, 0, kTerminationWaitMs);
        return nullptr;
    }
    return stream;
}

std::shared_ptr<FrameQueue> EncoderStreamQueue(const EncoderStream& stream)
{
    return stream.queue;
}

int64_t EncoderStreamFramesTaken(const EncoderStream& stream)
{
    return FrameWriterFramesWritten(*stream.writer);
}

int64_t EncoderStreamWaitingMs(const EncoderStream& stream)
{
    return FrameWriterWaitingMs(*stream.writer);
}

void BeginCloseEncoderInput(EncoderStream& stream)
{
    FrameWriterBeginFinish(*stream.writer);
}

FrameWriterResult CloseEncoderInput(EncoderStream& stream)
{
    FrameWriterResult result = FrameWriterFinish(*stream.writer);
    // The encoder sees the end of its input.
    ::DisconnectNamedPipe(stream.pipe.Get());
    stream.pipe.Reset();
    return result;
}

EncoderEnd AwaitEncoderEnd(EncoderStream& stream, const std::wstring& outputPath, bool hung,
                           const std::atomic<bool>* abandon, DWORD limitMs)
{
    EncoderEnd end;
    const int64_t began = NowMs();
    int64_t grewAt = began;
    uint64_t lastSize = 0;
    QueryFileSize(outputPath, lastSize);
    while (!hung && !HasJobProcessEnded(stream.encoder)) {
        if (abandon != nullptr && abandon->load()) {
            break;
        }
        const int64_t now = NowMs();
        uint64_t size = 0;
        if (QueryFileSize(outputPath, size) && size != lastSize) {
            lastSize = size;
            grewAt = now;
        }
        const bool pastFirstWait = now - began >= kEncoderExitWaitMs;
        if ((pastFirstWait && now - grewAt >= kEncoderFinishProgressMs) ||
            now - began >= limitMs) {
            break;
        }
        ::Sleep(kFinishPollMs);
    }
    DWORD exitCode = 1;
    end.finished = JobProcessExitCode(stream.encoder, exitCode) && exitCode == 0;
    end.ended = !HasJobProcessEnded(stream.encoder);
    // A launcher's child may outlive the launcher: the whole family goes.
    EndJobProcess(stream.encoder, 1, kTerminationWaitMs);
    return end;
}

void EndEncoder(EncoderStream& stream)
{
    EndJobProcess(stream.encoder, 1, kTerminationWaitMs);
}
