#include "tools/kinect-sim/SimColour.h"

#include "tools/kinect-sim/SimCounters.h"
#include "tools/kinect-sim/SimFrameClock.h"
#include "tools/kinect-sim/SimPicture.h"
#include "tools/kinect-sim/SimRuntime.h"
#include "sensor/Frame.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

const IID kIidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidNuiFrameTexture = {
    0x13ea17f5, 0xff2e, 0x4670, {0x9e, 0xe5, 0x12, 0x97, 0xa6, 0xe8, 0x80, 0xd1}};

// The pixel buffer of one frame slot. It belongs to its slot for the life of the DLL: the
// slot's reference keeps the count above zero, so Release never frees it, and a program that
// calls it after shutdown reaches a live object that refuses, not freed memory.
class SimFrameTexture final : public INuiFrameTexture {
public:
    void SetSlot(DWORD slot) { m_slot = slot; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    int STDMETHODCALLTYPE BufferLen() override;
    int STDMETHODCALLTYPE Pitch() override;
    HRESULT STDMETHODCALLTYPE LockRect(UINT level, NUI_LOCKED_RECT* lockedRect, RECT* rect,
                                       DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, NUI_SURFACE_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE UnlockRect(UINT level) override;

private:
    DWORD m_slot = 0;
    std::atomic<ULONG> m_references{1};
};

struct FrameSlot {
    NUI_IMAGE_FRAME frame = {};
    SimFrameTexture texture;
    std::vector<BYTE> pixels; // the static picture; each hand-out stamps the code band
    bool handedOut = false;
    bool locked = false;
    unsigned long long releasedAt = 0; // release sequence number; 0: never released
};

FrameSlot g_slots[kSimMaxFrameLimit];
std::vector<BYTE> g_pitchZeroPixels;
bool g_streamOpen = false;
DWORD g_frameLimit = 0;
HANDLE g_frameEvent = nullptr;
LONGLONG g_lastHanded = -1;
unsigned long long g_releaseSequence = 0;
// Its address is the stream handle: unique, and never a valid kernel handle.
const char g_streamTag = 0;

HANDLE StreamHandle()
{
    return const_cast<char*>(&g_streamTag);
}

// The slot for the next frame: null once the frame limit is handed out, else the free slot
// released longest ago, so a frame just released keeps an unknown pointer for a few more frames
// and a second release of it is still caught.
FrameSlot* FreeSlot()
{
    DWORD handedOut = 0;
    FrameSlot* oldest = nullptr;
    for (FrameSlot& slot : g_slots) {
        if (slot.handedOut) {
            ++handedOut;
        } else if (oldest == nullptr || slot.releasedAt < oldest->releasedAt) {
            oldest = &slot;
        }
    }
    return handedOut < g_frameLimit ? oldest : nullptr;
}

FrameSlot* HandedSlot(const NUI_IMAGE_FRAME* frame)
{
    for (FrameSlot& slot : g_slots) {
        if (&slot.frame == frame && slot.handedOut) {
            return &slot;
        }
    }
    return nullptr;
}

bool IsOpenStream(HANDLE stream)
{
    return g_streamOpen && stream == StreamHandle();
}

void HandOut(FrameSlot* slot, LONGLONG frameNumber, LONGLONG newest)
{
    g_lastHanded = frameNumber;
    slot->handedOut = true;
    slot->locked = false;
    SimStampFrameCode(slot->pixels.data(), static_cast<DWORD>(frameNumber));
    NUI_IMAGE_FRAME& frame = slot->frame;
    frame = NUI_IMAGE_FRAME{};
    frame.liTimeStamp = SimFrameTimeStamp(frameNumber);
    frame.dwFrameNumber = static_cast<DWORD>(frameNumber);
    frame.eImageType = NUI_IMAGE_TYPE_COLOR;
    frame.eResolution = NUI_IMAGE_RESOLUTION_640x480;
    frame.pFrameTexture = &slot->texture;
    SimCount(kCountColorHanded);
    SimSetCounter(kCountLastColorFrame, frameNumber);
    // The newest frame is out: nothing newer waits until the next one begins.
    if (g_frameEvent != nullptr && frameNumber == newest) {
        ::ResetEvent(g_frameEvent);
    }
}

HRESULT SimFrameTexture::QueryInterface(REFIID iid, void** object)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    if (object != nullptr) {
        *object = nullptr;
    }
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    if (object == nullptr) {
        SimCount(kCountBadArguments);
        return E_POINTER;
    }
    if (iid != kIidUnknown && iid != kIidNuiFrameTexture) {
        return E_NOINTERFACE;
    }
    *object = static_cast<INuiFrameTexture*>(this);
    m_references.fetch_add(1);
    return S_OK;
}

ULONG SimFrameTexture::AddRef()
{
    std::lock_guard<std::mutex> lock(g_simLock);
    if (g_simPhase == SimPhase::ShutDown) {
        SimCount(kCountCallsAfterShutdown);
    }
    return m_references.fetch_add(1) + 1;
}

ULONG SimFrameTexture::Release()
{
    std::lock_guard<std::mutex> lock(g_simLock);
    if (g_simPhase == SimPhase::ShutDown) {
        SimCount(kCountCallsAfterShutdown);
    }
    ULONG count = m_references.load();
    if (count <= 1) {
        SimDebugMessage("INuiFrameTexture::Release: more releases than references");
        return 1;
    }
    return m_references.fetch_sub(1) - 1;
}

int SimFrameTexture::BufferLen()
{
    std::lock_guard<std::mutex> lock(g_simLock);
    return SUCCEEDED(SimCheckUsable()) ? static_cast<int>(kFrameBytes) : 0;
}

int SimFrameTexture::Pitch()
{
    std::lock_guard<std::mutex> lock(g_simLock);
    if (FAILED(SimCheckUsable()) || g_simSettings.pitchZero) {
        return 0;
    }
    return kFrameStride;
}

HRESULT SimFrameTexture::LockRect(UINT level, NUI_LOCKED_RECT* lockedRect, RECT* /*rect*/,
                                  DWORD /*flags*/)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    // Filled on every call: a caller that ignores the result still sees "nothing to copy".
    if (lockedRect != nullptr) {
        *lockedRect = NUI_LOCKED_RECT{0, 0, nullptr};
    }
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    if (lockedRect == nullptr || level != 0) {
        SimCount(kCountBadArguments);
        SimDebugMessage("INuiFrameTexture::LockRect: needs level 0 and a record to fill");
        return lockedRect == nullptr ? E_POINTER : E_INVALIDARG;
    }
    FrameSlot& slot = g_slots[m_slot];
    if (!slot.handedOut) {
        SimCount(kCountLockInvalid);
        SimDebugMessage("INuiFrameTexture::LockRect: the frame is not handed out (released?)");
        return E_FAIL;
    }
    slot.locked = true;
    SimCount(kCountColorLocked);
    if (g_simSettings.pitchZero) {
        lockedRect->pBits = g_pitchZeroPixels.data();
    } else {
        lockedRect->Pitch = kFrameStride;
        lockedRect->size = static_cast<INT>(kFrameBytes);
        lockedRect->pBits = slot.pixels.data();
    }
    return S_OK;
}

HRESULT SimFrameTexture::GetLevelDesc(UINT level, NUI_SURFACE_DESC* desc)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    if (desc == nullptr || level != 0) {
        SimCount(kCountBadArguments);
        return desc == nullptr ? E_POINTER : E_INVALIDARG;
    }
    desc->Width = kFrameWidth;
    desc->Height = kFrameHeight;
    return S_OK;
}

HRESULT SimFrameTexture::UnlockRect(UINT level)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    if (level != 0) {
        SimCount(kCountBadArguments);
        return E_INVALIDARG;
    }
    FrameSlot& slot = g_slots[m_slot];
    if (!slot.handedOut || !slot.locked) {
        SimCount(kCountUnlockInvalid);
        SimDebugMessage("INuiFrameTexture::UnlockRect: the frame is not locked");
        return E_FAIL;
    }
    slot.locked = false;
    SimCount(kCountColorUnlocked);
    return S_OK;
}

} // namespace

void SimColourStartSession()
{
    g_streamOpen = false;
    g_frameLimit = 0;
    g_frameEvent = nullptr;
    g_lastHanded = -1;
    for (FrameSlot& slot : g_slots) {
        slot.handedOut = false;
        slot.locked = false;
    }
}

void SimColourEndSession()
{
    g_streamOpen = false;
    g_frameEvent = nullptr;
}

void SimColourOnFrame(LONGLONG /*frameNumber*/)
{
    if (g_streamOpen && g_frameEvent != nullptr) {
        ::SetEvent(g_frameEvent);
    }
}

HRESULT SimColourOpen(int imageType, int resolution, DWORD frameLimit, HANDLE nextFrameEvent,
                      HANDLE* streamOut)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    SimCount(kCountStreamOpen);
    if (streamOut == nullptr) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamOpen: the stream handle pointer is null");
        return E_POINTER;
    }
    if ((g_simInitFlags & NUI_INITIALIZE_FLAG_USES_COLOR) == 0) {
        SimDebugMessage("NuiImageStreamOpen: NuiInitialize was called without the colour flag "
                        "(0x2)");
        return E_FAIL;
    }
    if (imageType != NUI_IMAGE_TYPE_COLOR || resolution != NUI_IMAGE_RESOLUTION_640x480) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamOpen: only the colour image (1) at 640x480 (2) is "
                        "simulated");
        return E_INVALIDARG;
    }
    if (frameLimit < 1 || frameLimit > kSimMaxFrameLimit) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamOpen: the frame limit must be 1 to 4");
        return E_INVALIDARG;
    }
    for (DWORD i = 0; i < kSimMaxFrameLimit; ++i) {
        FrameSlot& slot = g_slots[i];
        if (slot.pixels.empty()) {
            slot.pixels.resize(kFrameBytes);
            SimPaintStaticPicture(slot.pixels.data());
            slot.texture.SetSlot(i);
        }
    }
    if (g_simSettings.pitchZero && g_pitchZeroPixels.empty()) {
        g_pitchZeroPixels.resize(kFrameBytes);
        SimPaintPitchZeroPattern(g_pitchZeroPixels.data());
    }
    if (nextFrameEvent != nullptr && !SimStartFrameEvents()) {
        SimDebugMessage("NuiImageStreamOpen: cannot start the frame-event thread");
        return E_OUTOFMEMORY;
    }
    g_frameLimit = frameLimit;
    g_frameEvent = nextFrameEvent;
    g_streamOpen = true;
    *streamOut = StreamHandle();
    return S_OK;
}

HRESULT SimColourGetNextFrame(HANDLE stream, DWORD waitMs, const NUI_IMAGE_FRAME** frameOut)
{
    std::unique_lock<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    SimCount(kCountColorRequests);
    if (frameOut == nullptr || !IsOpenStream(stream)) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamGetNextFrame: needs the open stream's handle and a "
                        "pointer to receive the frame");
        return frameOut == nullptr ? E_POINTER : E_INVALIDARG;
    }
    FrameSlot* slot = FreeSlot();
    if (slot == nullptr) {
        SimCount(kCountColorRefused);
        return E_NUI_FRAME_NO_DATA;
    }
    const ULONGLONG deadline = ::GetTickCount64() + std::min(waitMs, kSimMaxWaitMs);
    LONGLONG newest = SimFrameNow();
    while (newest <= g_lastHanded) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            return E_NUI_FRAME_NO_DATA;
        }
        const DWORD pause = static_cast<DWORD>(
            std::min<ULONGLONG>(SimMillisecondsUntilFrame(g_lastHanded + 1), deadline - now));
        lock.unlock();
        ::Sleep(pause);
        lock.lock();
        if (g_simPhase != SimPhase::Running || !IsOpenStream(stream)) {
            return E_NUI_FRAME_NO_DATA;
        }
        // Another thread may have taken the free slot while this one slept.
        slot = FreeSlot();
        if (slot == nullptr) {
            SimCount(kCountColorRefused);
            return E_NUI_FRAME_NO_DATA;
        }
        newest = SimFrameNow();
    }
    // Like the runtime, the stream buffers the frame limit's worth of frames: a caller that comes
    // late gets the oldest frame still buffered, and only frames beyond the buffer are dropped.
    const LONGLONG oldestBuffered = newest - static_cast<LONGLONG>(g_frameLimit) + 1;
    HandOut(slot, std::max(g_lastHanded + 1, oldestBuffered), newest);
    *frameOut = &slot->frame;
    return S_OK;
}

HRESULT SimColourReleaseFrame(HANDLE stream, const NUI_IMAGE_FRAME* frame)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    if (!IsOpenStream(stream)) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamReleaseFrame: not the open stream's handle");
        return E_INVALIDARG;
    }
    FrameSlot* slot = HandedSlot(frame);
    if (slot == nullptr) {
        SimCount(kCountReleaseInvalid);
        SimDebugMessage("NuiImageStreamReleaseFrame: the frame is not handed out (unknown "
                        "pointer or released twice)");
        return E_INVALIDARG;
    }
    if (slot->locked) {
        SimCount(kCountReleasedLocked);
    }
    slot->handedOut = false;
    slot->locked = false;
    slot->releasedAt = ++g_releaseSequence;
    SimCount(kCountColorReleased);
    return S_OK;
}
