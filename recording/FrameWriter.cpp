#include "recording/FrameWriter.h"

#include <algorithm>
#include <atomic>

#include "platform/HostClock.h"
#include "platform/ThreadName.h"
#include "recording/FrameTimeline.h"
#include "recording/LabStreams.h"
#include "sensor/Frame.h"

namespace {

// Frames go out in quarters, so the progress of an encoder that reads slowly is seen within a
// frame, at few calls a frame.
constexpr std::size_t kChunksPerFrame = 4;
constexpr DWORD kPollMs = 50;
constexpr DWORD kCancelBoundMs = 1000;
// How long the stop waits for a writer that was told to give up: longer than the writer's own
// bound on a cancelled write.
constexpr DWORD kGiveUpBoundMs = kCancelBoundMs + 1000;

int64_t NowMs()
{
    return static_cast<int64_t>(::GetTickCount64());
}

} // namespace

struct FrameWriter {
    std::shared_ptr<FrameQueue> queue;
    HANDLE pipe = nullptr;   // the writer thread's own duplicate; it closes it when it ends
    HANDLE thread = nullptr; // for the stop to wait on and cancel; closed with this record
    OVERLAPPED io = {};      // the write in progress; its event is the writer thread's
    EncoderLostReport report;
    FrameRowFiles rows; // writer thread only, until it ends

    std::atomic<bool> finishing{false}; // no more frames will be put
    std::atomic<int64_t> finishBeganMs{0};
    std::atomic<bool> givingUp{false};  // hand over nothing more
    std::atomic<bool> stalled{false};   // the writer gave up on an encoder that took nothing
    std::atomic<bool> rowsComplete{false};
    std::atomic<bool> framesRowsComplete{false};
    std::atomic<int64_t> framesRepeated{0};
    std::atomic<uint64_t> firstTakenAt{0};
    std::atomic<uint64_t> lastTakenAt{0};
    std::atomic<bool> waiting{false};   // a write or the flush waits on the encoder
    std::atomic<int64_t> progressMs{0}; // when the encoder last took bytes (or a wait began)
    std::atomic<int64_t> framesWritten{0};
    std::atomic<int64_t> firstFrameTicks{0};
    // The fresh pictures' times against their places in the video (writer thread only), and
    // their mean lead (FrameWriterResult::timelineZeroMs).
    int64_t freshFrames = 0;
    double meanLeadTicks = 0.0;
    std::atomic<double> timelineZeroMs{0.0};
    bool ioPending = false; // a cancelled write did not complete; writer thread only

    ~FrameWriter()
    {
        if (thread != nullptr) {
            ::CloseHandle(thread);
        }
    }
};

namespace {

// Tells the control window, once, what became of the encoder.
void ReportEncoderFault(const FrameWriter& writer, EncoderFault fault)
{
    if (writer.report.window != nullptr) {
        ::PostMessageW(writer.report.window, writer.report.message, writer.report.tag,
                       fault | writer.report.stream);
    }
}

// While the take runs, an encoder that has taken nothing for kTakeStallMs is given up on: the
// writer stops, and the take is told.
void GiveUpIfStalled(FrameWriter& writer)
{
    if (!writer.finishing.load() && !writer.stalled.load() &&
        NowMs() - writer.progressMs.load() > kTakeStallMs) {
        writer.stalled.store(true);
        writer.givingUp.store(true);
        ReportEncoderFault(writer, kEncoderStalled);
    }
}

// Waits for the write in `writer.io` to complete, giving up when told to. Returns true when
// all `bytes` were taken.
bool AwaitWrite(FrameWriter& writer, DWORD bytes)
{
    for (;;) {
        if (::WaitForSingleObject(writer.io.hEvent, kPollMs) == WAIT_OBJECT_0) {
            DWORD taken = 0;
            return ::GetOverlappedResult(writer.pipe, &writer.io, &taken, FALSE) && taken == bytes;
        }
        GiveUpIfStalled(writer);
        if (writer.givingUp.load()) {
            ::CancelIoEx(writer.pipe, &writer.io);
            if (::WaitForSingleObject(writer.io.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) {
                writer.ioPending = true;
            }
            ::SetLastError(ERROR_OPERATION_ABORTED);
            return false;
        }
    }
}

// Writes one frame, piece by piece. False when the pipe took it not whole.
bool WriteFrame(FrameWriter& writer, const BYTE* pixels)
{
    writer.progressMs.store(NowMs());
    writer.waiting.store(true);
    bool whole = true;
    const std::size_t frameBytes = writer.queue->frameBytes;
    const std::size_t chunk = (frameBytes + kChunksPerFrame - 1) / kChunksPerFrame;
    for (std::size_t offset = 0; offset < frameBytes && whole; offset += chunk) {
        const DWORD bytes = static_cast<DWORD>(std::min(chunk, frameBytes - offset));
        if (!::WriteFile(writer.pipe, pixels + offset, bytes, nullptr, &writer.io) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            whole = false;
            break;
        }
        whole = AwaitWrite(writer, bytes);
        writer.progressMs.store(NowMs());
    }
    writer.waiting.store(false);
    return whole;
}

// The rows of one video frame that the encoder took.
void WriteRows(FrameWriter& writer, const QueuedFrame& slot, int64_t videoFrame, bool repeated)
{
    if (writer.rows.skeletons) {
        SkeletonCsvAppend(*writer.rows.skeletons,
                          SkeletonCsvFrame{videoFrame, slot.colorFrameNumber, slot.colorTimeMs,
                                           slot.hasSkeletons ? &slot.skeletons : nullptr});
    }
    if (writer.rows.frames) {
        FramesCsvAppend(*writer.rows.frames,
                        FramesCsvRow{videoFrame, slot.colorFrameNumber, slot.colorTimeMs,
                                     slot.hasDepth, slot.depthFrameNumber, slot.depthTimeMs,
                                     repeated, slot.takenAt});
    }
    if (writer.rows.labFrames) {
        PublishVideoFrame(videoFrame, slot.colorFrameNumber, repeated, slot.takenTicks);
    }
}

// Adds a fresh picture, taken at `takenTicks` and shown as video frame `videoFrame`, to the
// mean of where the pictures lie against the video's 30 frames a second.
void CountPictureTime(FrameWriter& writer, int64_t videoFrame, int64_t takenTicks)
{
    if (takenTicks == 0) {
        return;
    }
    const double ticksPerSecond = static_cast<double>(HostTicksPerSecond());
    const double lead = static_cast<double>(takenTicks - writer.firstFrameTicks.load()) -
                        static_cast<double>(videoFrame) * ticksPerSecond / kTimelineFramesPerSecond;
    ++writer.freshFrames;
    writer.meanLeadTicks += (lead - writer.meanLeadTicks) / static_cast<double>(writer.freshFrames);
    writer.timelineZeroMs.store(writer.meanLeadTicks * 1000.0 / ticksPerSecond);
}

void RunWriter(FrameWriter& writer)
{
    while (!writer.givingUp.load()) {
        QueuedFrame* slot = FrameQueueFront(*writer.queue, kPollMs);
        if (slot == nullptr) {
            if (writer.finishing.load()) {
                break; // everything put has been handed over
            }
            continue;
        }
        for (int copy = 0; copy < slot->copies; ++copy) {
            if (!WriteFrame(writer, slot->pixels)) {
                // A cancelled write was given up by the stop; anything else means the encoder
                // has gone, and this pipe takes nothing more.
                if (::GetLastError() != ERROR_OPERATION_ABORTED) {
                    ReportEncoderFault(writer, kEncoderGone);
                }
                return;
            }
            const int64_t videoFrame = writer.framesWritten.fetch_add(1);
            if (videoFrame == 0) {
                writer.firstTakenAt.store(slot->takenAt);
                writer.firstFrameTicks.store(slot->takenTicks);
            }
            writer.lastTakenAt.store(slot->takenAt);
            const bool repeated = copy > 0 || slot->repeats;
            if (repeated) {
                writer.framesRepeated.fetch_add(1);
            } else {
                CountPictureTime(writer, videoFrame, slot->takenTicks);
            }
            WriteRows(writer, *slot, videoFrame, repeated);
        }
        FrameQueuePop(*writer.queue);
    }
    if (writer.givingUp.load()) {
        return;
    }
    // Returns once the encoder has read everything, so the disconnect that follows discards
    // nothing. The stop cancels it if the encoder makes no progress.
    writer.progressMs.store(NowMs());
    writer.waiting.store(true);
    ::FlushFileBuffers(writer.pipe);
    writer.waiting.store(false);
}

DWORD WINAPI WriterThread(LPVOID parameter)
{
    NameThisThread(L"frame writer");
    std::shared_ptr<FrameWriter> writer = *static_cast<std::shared_ptr<FrameWriter>*>(parameter);
    delete static_cast<std::shared_ptr<FrameWriter>*>(parameter);
    RunWriter(*writer);
    if (writer->rows.skeletons) {
        writer->rowsComplete.store(SkeletonCsvClose(*writer->rows.skeletons));
    }
    if (writer->rows.frames) {
        writer->framesRowsComplete.store(FramesCsvClose(*writer->rows.frames));
    }
    if (writer->ioPending) {
        // The write may still complete into writer->io: the record and its event are kept for
        // good rather than let that memory be reused.
        new std::shared_ptr<FrameWriter>(writer);
    } else {
        ::CloseHandle(writer->io.hEvent);
    }
    ::CloseHandle(writer->pipe);
    return 0;
}

} // namespace

std::shared_ptr<FrameWriter> FrameWriterStart(std::shared_ptr<FrameQueue> queue, HANDLE pipe,
                                              const EncoderLostReport& report, FrameRowFiles rows)
{
    auto writer = std::make_shared<FrameWriter>();
    writer->queue = std::move(queue);
    writer->report = report;
    writer->rows = std::move(rows);
    writer->io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (writer->io.hEvent == nullptr) {
        return nullptr;
    }
    if (!::DuplicateHandle(::GetCurrentProcess(), pipe, ::GetCurrentProcess(), &writer->pipe, 0,
                           FALSE, DUPLICATE_SAME_ACCESS)) {
        ::CloseHandle(writer->io.hEvent);
        return nullptr;
    }
    auto* parameter = new std::shared_ptr<FrameWriter>(writer);
    writer->thread = ::CreateThread(nullptr, 0, WriterThread, parameter, 0, nullptr);
    if (writer->thread == nullptr) {
        delete parameter;
        ::CloseHandle(writer->pipe);
        ::CloseHandle(writer->io.hEvent);
        return nullptr;
    }
    return writer;
}

void FrameWriterBeginFinish(FrameWriter& writer)
{
    if (!writer.finishing.load()) {
        writer.finishBeganMs.store(NowMs());
        writer.finishing.store(true);
    }
}

FrameWriterResult FrameWriterFinish(FrameWriter& writer)
{
    FrameWriterResult result;
    FrameWriterBeginFinish(writer);
    const int64_t began = writer.finishBeganMs.load();
    int64_t gaveUpAt = 0;
    bool ended = false;
    for (;;) {
        if (::WaitForSingleObject(writer.thread, kPollMs) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        const int64_t now = NowMs();
        if (gaveUpAt == 0) {
            result.stalled = writer.waiting.load() && now - writer.progressMs.load() > kStallMs;
            if (result.stalled || now - began > kDrainMs) {
                writer.givingUp.store(true);
                gaveUpAt = now;
            }
        } else if (now - gaveUpAt > kGiveUpBoundMs) {
            break;
        }
        if (gaveUpAt != 0) {
            // Ends a flush that waits on the encoder; repeated, since it reaches only an
            // operation already under way.
            ::CancelSynchronousIo(writer.thread);
        }
    }
    result.ended = ended;
    result.stalled = result.stalled || writer.stalled.load();
    result.rowsComplete = ended && writer.rowsComplete.load();
    result.framesRowsComplete = ended && writer.framesRowsComplete.load();
    result.framesRepeated = writer.framesRepeated.load();
    result.firstTakenAt = writer.firstTakenAt.load();
    result.lastTakenAt = writer.lastTakenAt.load();
    result.framesWritten = writer.framesWritten.load();
    result.firstFrameTicks = writer.firstFrameTicks.load();
    result.timelineZeroMs = writer.timelineZeroMs.load();
    result.framesAbandoned = FrameQueueQueuedFrames(*writer.queue);
    return result;
}

int64_t FrameWriterFramesWritten(const FrameWriter& writer)
{
    return writer.framesWritten.load();
}

int64_t FrameWriterWaitingMs(const FrameWriter& writer)
{
    return writer.waiting.load() ? NowMs() - writer.progressMs.load() : 0;
}
