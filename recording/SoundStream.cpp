#include "recording/SoundStream.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>

#include "platform/HostClock.h"
#include "platform/ScopedHandle.h"
#include "platform/SoundDevices.h"
#include "platform/SrwLock.h"
#include "platform/ThreadName.h"
#include "recording/WavFile.h"

namespace {

// The capture thread takes the device's packets this often (the device's buffer holds a
// second), and the writer what the capture thread took.
constexpr DWORD kCapturePollMs = 50;
constexpr DWORD kWriterPollMs = 100;
// At the stop the device is given this long, looked at this often, to deliver the sound up to
// the stop's moment: a packet comes a period or two after its sound.
constexpr int64_t kStopDrainMs = 300;
constexpr DWORD kStopPollMs = 10;
// Twice a second: with the half second the clock looks ahead, a killed take keeps all but about
// the last second of its sound.
constexpr int64_t kHeaderEveryMs = 500;
// While the device is gone, the file is filled with silence up to this long before now (its
// return is placed by its stamps, and sound that overlaps silence already written is cut).
constexpr int64_t kLostFillLagHns = 5000000;
constexpr std::size_t kQueueMaxBytes = 64u * 1024 * 1024;
constexpr int64_t kPeakWindowMs = 500;

const GUID kSubtypeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

struct SoundItem {
    enum class Kind { Packet, Lost, Back } kind = Kind::Packet;
    int64_t hostHns = 0;
    int64_t frames = 0;
    uint64_t position = 0;
    bool discontinuity = false;
    bool timeError = false;
    std::vector<BYTE> data; // empty: silence
};

int64_t TicksToHns(int64_t ticks)
{
    const int64_t perSecond = HostTicksPerSecond();
    return ticks / perSecond * kHnsPerSecond + ticks % perSecond * kHnsPerSecond / perSecond;
}

int64_t TicksToMs(int64_t ticks)
{
    return TicksToHns(ticks) / 10000;
}

// The loudest sample of `frames` frames, as a fraction of full scale.
float PeakOf(const WAVEFORMATEXTENSIBLE& format, const BYTE* data, UINT32 frames)
{
    const std::size_t samples = static_cast<std::size_t>(frames) * format.Format.nChannels;
    const int bits = format.Format.wBitsPerSample;
    const bool isFloat = ::IsEqualGUID(format.SubFormat, kSubtypeFloat);
    float peak = 0.0f;
    for (std::size_t i = 0; i < samples; ++i) {
        float value = 0.0f;
        if (isFloat && bits == 32) {
            std::memcpy(&value, data + i * 4, 4);
        } else if (bits == 16) {
            int16_t v;
            std::memcpy(&v, data + i * 2, 2);
            value = v / 32768.0f;
        } else if (bits == 24) {
            const BYTE* s = data + i * 3;
            const int32_t v = static_cast<int32_t>((uint32_t{s[2]} << 24) | (uint32_t{s[1]} << 16) |
                                                   (uint32_t{s[0]} << 8));
            value = v / 2147483648.0f;
        } else if (bits == 32) {
            int32_t v;
            std::memcpy(&v, data + i * 4, 4);
            value = v / 2147483648.0f;
        } else if (bits == 8) {
            value = (data[i] - 128) / 128.0f;
        }
        peak = std::max(peak, std::fabs(value));
    }
    return peak;
}

} // namespace

struct SoundStream {
    std::wstring deviceId;
    WAVEFORMATEXTENSIBLE format = {};
    // The queue between the threads, guarded by `lock`; `changed` wakes the writer.
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::deque<SoundItem> items;
    std::size_t queuedBytes = 0;
    std::size_t maxQueuedBytes = 0;
    int64_t packetsDropped = 0;
    bool captureEnded = false;

    ScopedHandle stopEvent; // manual reset: the take has ended
    ScopedHandle openedEvent;
    ScopedHandle captureThread;
    ScopedHandle writerThread;
    std::atomic<HRESULT> openResult{E_PENDING};
    std::atomic<bool> stopping{false};
    std::atomic<int64_t> stopHns{0};
    std::atomic<int64_t> frameZeroTicks{0};
    std::atomic<bool> hasFrameZero{false};

    std::atomic<bool> deviceGone{false};
    std::atomic<int64_t> lastSoundTicks{0}; // when a packet last held a sample that was not 0
    std::atomic<float> peak{0.0f};          // the last complete half second's
    std::atomic<int64_t> peakAtTicks{0};
    float windowPeak = 0.0f; // capture thread only
    int64_t windowStartTicks = 0;
    int64_t capturedToHns = 0; // host time the last packet's sound reaches; capture thread only

    // The writer's.
    WavFile wav;
    SoundClock clock;
    bool clockStarted = false;
    bool writeFailed = false;
    bool lost = false;
    std::deque<SoundItem> pending; // taken from the queue, waiting for the packets after them
    int64_t headerAtMs = 0;
    SoundStreamReport report;
};

namespace {

// Capture thread: hands one item to the writer, which takes what came every kWriterPollMs; a
// packet that finds the queue full is dropped (the writer sees the hole in the stamps and
// fills it).
void Push(SoundStream& s, SoundItem item)
{
    ExclusiveLock locked(s.lock);
    if (item.kind == SoundItem::Kind::Packet &&
        s.queuedBytes + item.data.size() > s.maxQueuedBytes) {
        ++s.packetsDropped;
        return;
    }
    s.queuedBytes += item.data.size();
    s.items.push_back(std::move(item));
}

SoundItem Marker(SoundItem::Kind kind)
{
    SoundItem item;
    item.kind = kind;
    item.hostHns = TicksToHns(HostTicks());
    return item;
}

void NoteLevel(SoundStream& s, const SoundPacket& packet)
{
    const int64_t now = HostTicks();
    const float peak = packet.silent || packet.data == nullptr
                           ? 0.0f
                           : PeakOf(s.format, packet.data, packet.frames);
    if (peak > 0.0f) {
        s.lastSoundTicks.store(now);
    }
    s.windowPeak = std::max(s.windowPeak, peak);
    if (TicksToMs(now - s.windowStartTicks) >= kPeakWindowMs) {
        s.peak.store(s.windowPeak);
        s.peakAtTicks.store(now);
        s.windowPeak = 0.0f;
        s.windowStartTicks = now;
    }
}

// Moves every ready packet on. Returns the device's error, or S_OK.
HRESULT DrainPackets(SoundStream& s, SoundCapture& capture)
{
    for (;;) {
        SoundPacket packet;
        const HRESULT hr = capture.NextPacket(packet);
        if (hr != S_OK) {
            return FAILED(hr) ? hr : S_OK;
        }
        SoundItem item;
        item.hostHns = static_cast<int64_t>(packet.hostTime);
        item.frames = packet.frames;
        item.position = packet.devicePosition;
        item.discontinuity = packet.discontinuity;
        item.timeError = packet.timeError;
        if (!packet.silent && packet.data != nullptr) {
            item.data.assign(packet.data, packet.data + std::size_t{packet.frames} *
                                                            s.format.Format.nBlockAlign);
        }
        NoteLevel(s, packet);
        s.capturedToHns = item.hostHns + static_cast<int64_t>(packet.frames) * kHnsPerSecond /
                                             std::max<int64_t>(1, s.format.Format.nSamplesPerSec);
        const HRESULT released = capture.ReleasePacket(packet.frames);
        Push(s, std::move(item));
        if (FAILED(released)) {
            return released;
        }
    }
}

// At the stop: takes the packets that hold the sound up to the stop's moment, for at most
// kStopDrainMs. Returns the device's error, or S_OK.
HRESULT DrainToStop(SoundStream& s, SoundCapture& capture)
{
    const ULONGLONG began = ::GetTickCount64();
    HRESULT hr = DrainPackets(s, capture);
    while (SUCCEEDED(hr) && s.capturedToHns < s.stopHns.load() &&
           static_cast<int64_t>(::GetTickCount64() - began) < kStopDrainMs) {
        ::Sleep(kStopPollMs);
        hr = DrainPackets(s, capture);
    }
    return hr;
}

// Opens the device again in the take's format; null when it is not back (or came back in
// another format, which can't go on in the same file).
std::unique_ptr<SoundCapture> Reopen(SoundStream& s)
{
    HRESULT error = S_OK;
    std::unique_ptr<SoundCapture> capture = OpenSoundCapture(s.deviceId, error);
    if (capture && std::memcmp(&capture->Format(), &s.format, sizeof(s.format)) == 0 &&
        SUCCEEDED(capture->Start())) {
        return capture;
    }
    return nullptr;
}

DWORD WINAPI CaptureThread(LPVOID parameter)
{
    NameThisThread(L"sound capture");
    std::shared_ptr<SoundStream> s(*static_cast<std::shared_ptr<SoundStream>*>(parameter));
    delete static_cast<std::shared_ptr<SoundStream>*>(parameter);
    {
        // The device's objects live and die on this thread.
        SoundThreadScope com;
        HRESULT error = S_OK;
        std::unique_ptr<SoundCapture> capture = OpenSoundCapture(s->deviceId, error);
        if (capture) {
            s->format = capture->Format();
            error = capture->Start();
        }
        s->windowStartTicks = HostTicks();
        s->lastSoundTicks.store(s->windowStartTicks);
        s->openResult.store(capture && SUCCEEDED(error) ? S_OK : (FAILED(error) ? error : E_FAIL));
        ::SetEvent(s->openedEvent.Get());
        if (FAILED(s->openResult.load())) {
            capture.reset();
        }
        while (capture) {
            if (::WaitForSingleObject(s->stopEvent.Get(), kCapturePollMs) == WAIT_OBJECT_0) {
                DrainToStop(*s, *capture);
                break;
            }
            const HRESULT hr = DrainPackets(*s, *capture);
            if (FAILED(hr)) {
                // Unplugged, or its driver restarted: the take goes on with silence.
                capture.reset();
                s->deviceGone.store(true);
                Push(*s, Marker(SoundItem::Kind::Lost));
                while (!capture &&
                       ::WaitForSingleObject(s->stopEvent.Get(), kSoundRetryMs) == WAIT_TIMEOUT) {
                    capture = Reopen(*s);
                }
                if (capture) {
                    s->deviceGone.store(false);
                    s->lastSoundTicks.store(HostTicks());
                    Push(*s, Marker(SoundItem::Kind::Back));
                }
            }
        }
    }
    ExclusiveLock locked(s->lock);
    s->captureEnded = true;
    ::WakeConditionVariable(&s->changed);
    return 0;
}

void Write(SoundStream& s, const void* data, std::size_t bytes)
{
    if (!s.writeFailed && !WavFileWrite(s.wav, data, bytes)) {
        s.writeFailed = true;
    }
}

void WriteSilence(SoundStream& s, int64_t frames)
{
    if (frames > 0 && !s.writeFailed && !WavFileWriteSilence(s.wav, frames)) {
        s.writeFailed = true;
    }
}

SoundPacketTime TimeOf(const SoundItem& item)
{
    SoundPacketTime time;
    time.hostHns = item.hostHns;
    time.frames = item.frames;
    time.devicePosition = item.position;
    time.discontinuity = item.discontinuity;
    time.timeError = item.timeError;
    return time;
}

// Writer thread: the first item it holds on the file, the packet placed by the clock with the
// packets in `view` (the packet and those after it).
void WriteFront(SoundStream& s, const std::vector<SoundPacketTime>& view)
{
    const SoundItem& item = s.pending.front();
    if (item.kind == SoundItem::Kind::Lost) {
        s.lost = true;
        return;
    }
    if (item.kind == SoundItem::Kind::Back) {
        s.lost = false;
        SoundClockReopened(s.clock);
        return;
    }
    const SoundPlacement placement = SoundClockPlace(s.clock, view.data(), view.size());
    WriteSilence(s, placement.silence);
    const int64_t kept = item.frames - placement.cut;
    if (kept <= 0) {
        return;
    }
    if (item.data.empty()) {
        WriteSilence(s, kept);
    } else {
        const std::size_t block = s.format.Format.nBlockAlign;
        Write(s, item.data.data() + static_cast<std::size_t>(placement.cut) * block,
              static_cast<std::size_t>(kept) * block);
    }
}

// Writer thread: writes the items it holds, each packet once the clock has the sound after it
// in view that it asks for (a loss of the device ends the view), or all of them when `all`.
void WritePending(SoundStream& s, bool all)
{
    const int64_t lookahead = SoundClockLookaheadHns(s.clock) *
                              static_cast<int64_t>(s.format.Format.nSamplesPerSec) / kHnsPerSecond;
    std::vector<SoundPacketTime> view;
    while (!s.pending.empty()) {
        view.clear();
        int64_t ahead = 0;
        bool closed = all;
        for (const SoundItem& item : s.pending) {
            if (item.kind != SoundItem::Kind::Packet || ahead >= lookahead) {
                closed = true;
                break;
            }
            if (!view.empty()) {
                ahead += item.frames;
            }
            view.push_back(TimeOf(item));
        }
        if (!closed && s.pending.front().kind == SoundItem::Kind::Packet) {
            return; // more is to come before the front can be placed
        }
        WriteFront(s, view);
        s.pending.pop_front();
    }
}

DWORD WINAPI WriterThread(LPVOID parameter)
{
    NameThisThread(L"sound writer");
    std::shared_ptr<SoundStream> s(*static_cast<std::shared_ptr<SoundStream>*>(parameter));
    delete static_cast<std::shared_ptr<SoundStream>*>(parameter);
    s->headerAtMs = static_cast<int64_t>(::GetTickCount64());
    for (;;) {
        std::deque<SoundItem> batch;
        bool ended = false;
        {
            ExclusiveLock locked(s->lock);
            if (s->items.empty() && !s->captureEnded) {
                ::SleepConditionVariableSRW(&s->changed, &s->lock, kWriterPollMs, 0);
            }
            ended = s->captureEnded;
            // Nothing is placed before frame 0 is known; a take that ends without one has none.
            if (s->hasFrameZero.load() || ended) {
                batch.swap(s->items);
                s->queuedBytes = 0;
            }
        }
        if (!s->clockStarted && s->hasFrameZero.load()) {
            SoundClockStart(s->clock, s->format.Format.nSamplesPerSec,
                            TicksToHns(s->frameZeroTicks.load()));
            s->clockStarted = true;
        }
        if (s->clockStarted) {
            for (SoundItem& item : batch) {
                s->pending.push_back(std::move(item));
            }
            WritePending(*s, ended);
            if (s->lost) {
                WriteSilence(*s,
                             SoundClockFillTo(s->clock, TicksToHns(HostTicks()) - kLostFillLagHns));
            }
        }
        if (ended) {
            break;
        }
        const int64_t nowMs = static_cast<int64_t>(::GetTickCount64());
        if (nowMs - s->headerAtMs >= kHeaderEveryMs) {
            s->headerAtMs = nowMs;
            if (!s->writeFailed && !WavFileUpdateHeader(s->wav)) {
                s->writeFailed = true;
            }
        }
    }
    if (s->clockStarted && s->lost) {
        WriteSilence(*s, SoundClockFillTo(s->clock, s->stopHns.load()));
    }
    SoundStreamReport& r = s->report;
    r.format = s->format;
    r.frames = WavFileFrames(s->wav);
    r.measuredRate = s->clockStarted ? SoundClockMeasuredRate(s->clock)
                                     : static_cast<double>(s->format.Format.nSamplesPerSec);
    r.offsetMs = SoundClockOffsetHns(s->clock) / 10000.0;
    r.leadingSilence = s->clock.leadingSilence;
    r.gaps = s->clock.gaps;
    {
        ExclusiveLock locked(s->lock);
        r.packetsDropped = s->packetsDropped;
    }
    r.complete = WavFileClose(s->wav) && !s->writeFailed;
    return 0;
}

HANDLE StartThread(LPTHREAD_START_ROUTINE routine, const std::shared_ptr<SoundStream>& stream)
{
    auto* parameter = new std::shared_ptr<SoundStream>(stream);
    HANDLE thread = ::CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
    if (thread == nullptr) {
        delete parameter;
    }
    return thread;
}

} // namespace

std::shared_ptr<SoundStream> StartSoundStream(const std::wstring& deviceId,
                                              const std::wstring& path, HRESULT& error)
{
    auto stream = std::make_shared<SoundStream>();
    stream->deviceId = deviceId;
    stream->stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stream->openedEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stream->stopEvent.IsValid() || !stream->openedEvent.IsValid()) {
        error = HRESULT_FROM_WIN32(::GetLastError());
        return nullptr;
    }
    stream->captureThread.Reset(StartThread(CaptureThread, stream));
    if (!stream->captureThread.IsValid()) {
        error = HRESULT_FROM_WIN32(::GetLastError());
        return nullptr;
    }
    ::WaitForSingleObject(stream->openedEvent.Get(), kSoundOpenWaitMs);
    error = stream->openResult.load();
    const uint64_t bytesPerSecond =
        uint64_t{stream->format.Format.nSamplesPerSec} * stream->format.Format.nBlockAlign;
    stream->maxQueuedBytes = static_cast<std::size_t>(
        std::min<uint64_t>(bytesPerSecond * kSoundQueueSeconds, kQueueMaxBytes));
    if (SUCCEEDED(error) && !WavFileCreate(stream->wav, path, stream->format)) {
        error = HRESULT_FROM_WIN32(::GetLastError());
    }
    if (SUCCEEDED(error)) {
        stream->writerThread.Reset(StartThread(WriterThread, stream));
        if (!stream->writerThread.IsValid()) {
            error = HRESULT_FROM_WIN32(::GetLastError());
            stream->wav.file.Reset();
            ::DeleteFileW(path.c_str());
        }
    }
    if (FAILED(error)) {
        // The capture thread ends by itself (it holds the stream while it runs).
        ::SetEvent(stream->stopEvent.Get());
        return nullptr;
    }
    return stream;
}

void SoundStreamSetFrameZero(SoundStream& stream, int64_t hostTicks)
{
    if (!stream.hasFrameZero.load()) {
        stream.frameZeroTicks.store(hostTicks);
        stream.hasFrameZero.store(true);
    }
}

SoundStreamLevel SoundStreamLevelNow(const SoundStream& stream)
{
    SoundStreamLevel level;
    const int64_t now = HostTicks();
    level.deviceGone = stream.deviceGone.load();
    level.silent =
        !level.deviceGone && TicksToMs(now - stream.lastSoundTicks.load()) >= kSoundSilentMs;
    const float peak = stream.peak.load();
    if (!level.deviceGone && peak > 0.0f &&
        TicksToMs(now - stream.peakAtTicks.load()) < 2 * kPeakWindowMs) {
        level.peakDb = 20.0 * std::log10(static_cast<double>(peak));
    }
    return level;
}

void BeginSoundStreamStop(SoundStream& stream)
{
    if (!stream.stopping.exchange(true)) {
        stream.stopHns.store(TicksToHns(HostTicks()));
        ::SetEvent(stream.stopEvent.Get());
    }
}

bool AwaitSoundStreamEnd(SoundStream& stream, DWORD timeoutMs, SoundStreamReport& report)
{
    BeginSoundStreamStop(stream);
    HANDLE threads[2] = {stream.captureThread.Get(), stream.writerThread.Get()};
    if (::WaitForMultipleObjects(2, threads, TRUE, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    report = stream.report;
    return true;
}
