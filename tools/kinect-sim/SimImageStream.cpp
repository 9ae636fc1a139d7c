#include "tools/kinect-sim/SimImageStream.h"

#include "tools/kinect-sim/SimCounters.h"
#include "tools/kinect-sim/SimDepthPicture.h"
#include "tools/kinect-sim/SimFigure.h"
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

// The counters a stream keeps of its own; misuse is counted for all streams together.
struct StreamCounters {
    SimCounter requests;
    SimCounter handed;
    SimCounter locked;
    SimCounter unlocked;
    SimCounter released;
    SimCounter refused;
    SimCounter lastFrame;
};

// Size of a stream's pictures.
struct PictureSize {
    int width;
    int height;
    int bytesPerPixel;

    int Pitch() const { return width * bytesPerPixel; }
    int Bytes() const { return Pitch() * height; }
};

struct ImageStream;

// The pixel buffer of one frame slot. It belongs to its slot for the life of the DLL: the
// slot's reference keeps the count above zero, so Release never frees it, and a program that
// calls it after shutdown reaches a live object that refuses, not freed memory.
class SimFrameTexture final : public INuiFrameTexture {
public:
    void Attach(ImageStream* stream, DWORD slot)
    {
        m_stream = stream;
        m_slot = slot;
    }

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
    ImageStream* m_stream = nullptr;
    DWORD m_slot = 0;
    std::atomic<ULONG> m_references{1};
};

struct FrameSlot {
    NUI_IMAGE_FRAME frame = {};
    SimFrameTexture texture;
    std::vector<BYTE> pixels; // the picture of the frame handed out last from this slot
    PictureSize size = {};    // its size
    bool handedOut = false;
    bool locked = false;
    unsigned long long releasedAt = 0; // release sequence number; 0: never released
};

// One camera's stream: its frame slots and what the program opened it with.
struct ImageStream {
    ImageStream(SimCamera cameraOf, DWORD offsetMsOf, StreamCounters countersOf)
        : camera(cameraOf), offsetMs(offsetMsOf), counters(countersOf)
    {
        for (DWORD i = 0; i < kSimMaxFrameLimit; ++i) {
            slots[i].texture.Attach(this, i);
        }
    }
    ImageStream(const ImageStream&) = delete;
    ImageStream& operator=(const ImageStream&) = delete;

    const SimCamera camera;
    const DWORD offsetMs; // when the camera's frame 0 begins
    const StreamCounters counters;
    FrameSlot slots[kSimMaxFrameLimit];
    bool open = false;
    int imageType = 0;
    int resolution = 0;
    PictureSize size = {};
    DWORD frameLimit = 0;
    HANDLE frameEvent = nullptr;
    LONGLONG lastHanded = -1;
    unsigned long long releaseSequence = 0;
    // Its address is the stream handle: unique, and never a valid kernel handle.
    const char tag = 0;

    HANDLE Handle() const { return const_cast<char*>(&tag); }
};

ImageStream g_colour(SimCamera::Colour, kSimColourOffsetMs,
                     {kCountColorRequests, kCountColorHanded, kCountColorLocked,
                      kCountColorUnlocked, kCountColorReleased, kCountColorRefused,
                      kCountLastColorFrame});
ImageStream g_depth(SimCamera::Depth, kSimDepthOffsetMs,
                    {kCountDepthRequests, kCountDepthHanded, kCountDepthLocked, kCountDepthUnlocked,
                     kCountDepthReleased, kCountDepthRefused, kCountLastDepthFrame});
ImageStream* const g_streams[] = {&g_colour, &g_depth};
std::vector<BYTE> g_pitchZeroPixels;
// The people a depth frame shows: the skeleton frame of the same number.
NUI_SKELETON_FRAME g_depthSkeletons;

constexpr int kDepthBytesPerPixel = 2;
constexpr size_t kDepthBufferBytes = static_cast<size_t>(640) * 480 * kDepthBytesPerPixel;

ImageStream& StreamOf(SimCamera camera)
{
    return camera == SimCamera::Depth ? g_depth : g_colour;
}

// The open stream whose handle `stream` is; null when it is none.
ImageStream* OpenStream(HANDLE stream)
{
    for (ImageStream* candidate : g_streams) {
        if (candidate->open && stream == candidate->Handle()) {
            return candidate;
        }
    }
    return nullptr;
}

// The slot for the stream's next frame: null once the frame limit is handed out, else the free
// slot released longest ago, so a frame just released keeps an unknown pointer for a few more
// frames and a second release of it is still caught.
FrameSlot* FreeSlot(ImageStream& stream)
{
    DWORD handedOut = 0;
    FrameSlot* oldest = nullptr;
    for (FrameSlot& slot : stream.slots) {
        if (slot.handedOut) {
            ++handedOut;
        } else if (oldest == nullptr || slot.releasedAt < oldest->releasedAt) {
            oldest = &slot;
        }
    }
    return handedOut < stream.frameLimit ? oldest : nullptr;
}

// The stream's slot of a frame it handed out and that is not released; null when none.
FrameSlot* HandedSlot(ImageStream& stream, const NUI_IMAGE_FRAME* frame)
{
    for (FrameSlot& slot : stream.slots) {
        if (&slot.frame == frame && slot.handedOut) {
            return &slot;
        }
    }
    return nullptr;
}

// Paints frame `frameNumber` of the stream into the slot's buffer: the colour picture's code
// band, or the whole depth picture with the people of the skeleton frame of that number.
void PaintFrame(const ImageStream& stream, FrameSlot* slot, LONGLONG frameNumber)
{
    if (stream.camera == SimCamera::Colour) {
        SimStampFrameCode(slot->pixels.data(), static_cast<DWORD>(frameNumber));
        return;
    }
    SimFillSkeletonFrame(&g_depthSkeletons, frameNumber, g_simSettings.trackedMask,
                         g_simSettings.moving);
    SimPaintDepthPicture(slot->pixels.data(), slot->size.width, slot->size.height,
                         static_cast<DWORD>(frameNumber), g_depthSkeletons,
                         stream.imageType == NUI_IMAGE_TYPE_DEPTH_AND_PLAYER_INDEX);
}

// Hands frame `frameNumber` out in `slot`; `newest` is the camera's newest frame.
void HandOut(ImageStream& stream, FrameSlot* slot, LONGLONG frameNumber, LONGLONG newest)
{
    stream.lastHanded = frameNumber;
    slot->handedOut = true;
    slot->locked = false;
    slot->size = stream.size;
    PaintFrame(stream, slot, frameNumber);
    NUI_IMAGE_FRAME& frame = slot->frame;
    frame = NUI_IMAGE_FRAME{};
    frame.liTimeStamp = SimFrameTimeStamp(frameNumber, stream.offsetMs);
    frame.dwFrameNumber = static_cast<DWORD>(frameNumber);
    frame.eImageType = stream.imageType;
    frame.eResolution = stream.resolution;
    frame.pFrameTexture = &slot->texture;
    SimCount(stream.counters.handed);
    SimSetCounter(stream.counters.lastFrame, frameNumber);
    // The newest frame is out: nothing newer waits until the next one begins.
    if (stream.frameEvent != nullptr && frameNumber == newest) {
        ::ResetEvent(stream.frameEvent);
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
    return SUCCEEDED(SimCheckUsable()) ? m_stream->slots[m_slot].size.Bytes() : 0;
}

int SimFrameTexture::Pitch()
{
    std::lock_guard<std::mutex> lock(g_simLock);
    if (FAILED(SimCheckUsable()) || g_simSettings.pitchZero) {
        return 0;
    }
    return m_stream->slots[m_slot].size.Pitch();
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
    FrameSlot& slot = m_stream->slots[m_slot];
    if (!slot.handedOut) {
        SimCount(kCountLockInvalid);
        SimDebugMessage("INuiFrameTexture::LockRect: the frame is not handed out (released?)");
        return E_FAIL;
    }
    slot.locked = true;
    SimCount(m_stream->counters.locked);
    if (g_simSettings.pitchZero) {
        lockedRect->pBits = g_pitchZeroPixels.data();
    } else {
        lockedRect->Pitch = slot.size.Pitch();
        lockedRect->size = slot.size.Bytes();
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
    desc->Width = static_cast<UINT>(m_stream->slots[m_slot].size.width);
    desc->Height = static_cast<UINT>(m_stream->slots[m_slot].size.height);
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
    FrameSlot& slot = m_stream->slots[m_slot];
    if (!slot.handedOut || !slot.locked) {
        SimCount(kCountUnlockInvalid);
        SimDebugMessage("INuiFrameTexture::UnlockRect: the frame is not locked");
        return E_FAIL;
    }
    slot.locked = false;
    SimCount(m_stream->counters.unlocked);
    return S_OK;
}

// The depth half of ChooseStream. Depth with player index needs NuiInitialize's flag 0x1, depth
// alone its flag 0x20; NVR_SIM_DEPTH_640=0 refuses 640x480 as an older runtime does.
HRESULT ChooseDepthStream(int imageType, int resolution, ImageStream** stream, PictureSize* size)
{
    const bool playerIndex = imageType == NUI_IMAGE_TYPE_DEPTH_AND_PLAYER_INDEX;
    const DWORD flag = playerIndex ? NUI_INITIALIZE_FLAG_USES_DEPTH_AND_PLAYER_INDEX
                                   : NUI_INITIALIZE_FLAG_USES_DEPTH;
    if ((g_simInitFlags & flag) == 0) {
        SimDebugMessage(playerIndex ? "NuiImageStreamOpen: depth with player index (0) needs "
                                      "NuiInitialize's flag 0x1"
                                    : "NuiImageStreamOpen: depth alone (4) needs "
                                      "NuiInitialize's flag 0x20");
        return E_FAIL;
    }
    if (resolution == NUI_IMAGE_RESOLUTION_640x480 && !g_simSettings.depth640) {
        SimDebugMessage("NuiImageStreamOpen: depth at 640x480 refused (NVR_SIM_DEPTH_640=0)");
        return E_INVALIDARG;
    }
    if (resolution != NUI_IMAGE_RESOLUTION_640x480 && resolution != NUI_IMAGE_RESOLUTION_320x240) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamOpen: depth is simulated at 640x480 (2) and 320x240 (1)");
        return E_INVALIDARG;
    }
    *stream = &g_depth;
    *size = resolution == NUI_IMAGE_RESOLUTION_640x480 ? PictureSize{640, 480, kDepthBytesPerPixel}
                                                       : PictureSize{320, 240, kDepthBytesPerPixel};
    return S_OK;
}

// Checks what NuiImageStreamOpen asks for and picks the stream and picture size; on failure
// returns the open's result, with the reason sent to the debugger.
HRESULT ChooseStream(int imageType, int resolution, ImageStream** stream, PictureSize* size)
{
    if (imageType == NUI_IMAGE_TYPE_DEPTH_AND_PLAYER_INDEX || imageType == NUI_IMAGE_TYPE_DEPTH) {
        return ChooseDepthStream(imageType, resolution, stream, size);
    }
    if ((g_simInitFlags & NUI_INITIALIZE_FLAG_USES_COLOR) == 0) {
        SimDebugMessage("NuiImageStreamOpen: NuiInitialize was called without the colour flag "
                        "(0x2)");
        return E_FAIL;
    }
    if (imageType != NUI_IMAGE_TYPE_COLOR || resolution != NUI_IMAGE_RESOLUTION_640x480) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamOpen: only the colour image (1) at 640x480 (2) and "
                        "depth (0 with player index, 4 alone) at 640x480 (2) or 320x240 (1) "
                        "are simulated");
        return E_INVALIDARG;
    }
    *stream = &g_colour;
    *size = PictureSize{kFrameWidth, kFrameHeight, kFrameBytesPerPixel};
    return S_OK;
}

// Gives the stream's slots their buffers, big enough for its largest picture, the first time it
// is opened; colour slots get the picture's parts that never change.
void PrepareSlots(ImageStream& stream)
{
    for (FrameSlot& slot : stream.slots) {
        if (!slot.pixels.empty()) {
            continue;
        }
        slot.size = stream.size;
        if (stream.camera == SimCamera::Colour) {
            slot.pixels.resize(kFrameBytes);
            SimPaintStaticPicture(slot.pixels.data());
        } else {
            slot.pixels.resize(kDepthBufferBytes);
        }
    }
}

} // namespace

void SimImageStartSession()
{
    for (ImageStream* stream : g_streams) {
        stream->open = false;
        stream->frameLimit = 0;
        stream->frameEvent = nullptr;
        stream->lastHanded = -1;
        for (FrameSlot& slot : stream->slots) {
            slot.handedOut = false;
            slot.locked = false;
        }
    }
}

void SimImageEndSession()
{
    for (ImageStream* stream : g_streams) {
        stream->open = false;
        stream->frameEvent = nullptr;
    }
}

void SimImageOnFrame(SimCamera camera)
{
    const ImageStream& stream = StreamOf(camera);
    if (stream.open && stream.frameEvent != nullptr) {
        ::SetEvent(stream.frameEvent);
    }
}

HRESULT SimImageOpen(int imageType, int resolution, DWORD frameLimit, HANDLE nextFrameEvent,
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
    ImageStream* stream = nullptr;
    PictureSize size = {};
    const HRESULT chosen = ChooseStream(imageType, resolution, &stream, &size);
    if (FAILED(chosen)) {
        return chosen;
    }
    if (frameLimit < 1 || frameLimit > kSimMaxFrameLimit) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamOpen: the frame limit must be 1 to 4");
        return E_INVALIDARG;
    }
    if (nextFrameEvent != nullptr && !SimStartFrameEvents()) {
        SimDebugMessage("NuiImageStreamOpen: cannot start the frame-event thread");
        return E_OUTOFMEMORY;
    }
    if (g_simSettings.pitchZero && g_pitchZeroPixels.empty()) {
        g_pitchZeroPixels.resize(kFrameBytes);
        SimPaintPitchZeroPattern(g_pitchZeroPixels.data());
    }
    stream->imageType = imageType;
    stream->resolution = resolution;
    stream->size = size;
    PrepareSlots(*stream);
    stream->frameLimit = frameLimit;
    stream->frameEvent = nextFrameEvent;
    stream->open = true;
    *streamOut = stream->Handle();
    return S_OK;
}

HRESULT SimImageGetNextFrame(HANDLE handle, DWORD waitMs, const NUI_IMAGE_FRAME** frameOut)
{
    std::unique_lock<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    ImageStream* stream = OpenStream(handle);
    if (stream != nullptr) {
        SimCount(stream->counters.requests);
    }
    if (frameOut == nullptr || stream == nullptr) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamGetNextFrame: needs an open stream's handle and a "
                        "pointer to receive the frame");
        return frameOut == nullptr ? E_POINTER : E_INVALIDARG;
    }
    FrameSlot* slot = FreeSlot(*stream);
    if (slot == nullptr) {
        SimCount(stream->counters.refused);
        return E_NUI_FRAME_NO_DATA;
    }
    const ULONGLONG deadline = ::GetTickCount64() + std::min(waitMs, kSimMaxWaitMs);
    LONGLONG newest = SimFrameNow(stream->offsetMs);
    while (newest <= stream->lastHanded) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            return E_NUI_FRAME_NO_DATA;
        }
        const DWORD pause = static_cast<DWORD>(std::min<ULONGLONG>(
            SimMillisecondsUntilFrame(stream->lastHanded + 1, stream->offsetMs), deadline - now));
        lock.unlock();
        ::Sleep(pause);
        lock.lock();
        if (g_simPhase != SimPhase::Running || OpenStream(handle) != stream) {
            return E_NUI_FRAME_NO_DATA;
        }
        // Another thread may have taken the free slot while this one slept.
        slot = FreeSlot(*stream);
        if (slot == nullptr) {
            SimCount(stream->counters.refused);
            return E_NUI_FRAME_NO_DATA;
        }
        newest = SimFrameNow(stream->offsetMs);
    }
    // Like the runtime, the stream buffers the frame limit's worth of frames: a caller that comes
    // late gets the oldest frame still buffered, and only frames beyond the buffer are dropped.
    const LONGLONG oldestBuffered = newest - static_cast<LONGLONG>(stream->frameLimit) + 1;
    HandOut(*stream, slot, std::max(stream->lastHanded + 1, oldestBuffered), newest);
    *frameOut = &slot->frame;
    return S_OK;
}

HRESULT SimImageReleaseFrame(HANDLE handle, const NUI_IMAGE_FRAME* frame)
{
    std::lock_guard<std::mutex> lock(g_simLock);
    const HRESULT usable = SimCheckUsable();
    if (FAILED(usable)) {
        return usable;
    }
    ImageStream* stream = OpenStream(handle);
    if (stream == nullptr) {
        SimCount(kCountBadArguments);
        SimDebugMessage("NuiImageStreamReleaseFrame: not an open stream's handle");
        return E_INVALIDARG;
    }
    FrameSlot* slot = HandedSlot(*stream, frame);
    if (slot == nullptr) {
        SimCount(kCountReleaseInvalid);
        SimDebugMessage("NuiImageStreamReleaseFrame: the frame is not handed out by this stream "
                        "(unknown pointer, released twice, or another stream's)");
        return E_INVALIDARG;
    }
    if (slot->locked) {
        SimCount(kCountReleasedLocked);
    }
    slot->handedOut = false;
    slot->locked = false;
    slot->releasedAt = ++stream->releaseSequence;
    SimCount(stream->counters.released);
    return S_OK;
}
