// The computer's sound capture devices (the active capture endpoints of the Windows audio
// session API) and the capture of one of them in shared mode, in the device's own mix format.
// The capture sits behind a seam, so a test can deliver packets with the stamps it chooses, let
// the device drop out, or lose it.
#pragma once

#include <windows.h>

#include <mmreg.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SoundDeviceInfo {
    std::wstring id;            // the endpoint id (IMMDevice::GetId)
    std::wstring name;          // the friendly name
    bool isSensorArray = false; // the sensor's microphone array
};

// The active capture endpoints, in the system's order. Any thread: initialises COM for itself.
// Empty when there are none or the audio service can't be asked.
std::vector<SoundDeviceInfo> ListSoundDevices();

// True when a friendly name is the sensor's microphone array's ("Xbox NUI Sensor" or "Kinect
// USB Audio" in it, in any case).
bool IsSensorArrayName(const std::wstring& name);

// True when a device's PnP identity ("...USB\VID_045E&PID_02BB...") is one of the sensor's
// audio functions.
bool IsSensorArrayHardwareId(const std::wstring& deviceId);

// One packet from a capture: `frames` frames of the mix format at `data` (null when `silent`).
struct SoundPacket {
    const BYTE* data = nullptr;
    UINT32 frames = 0;
    uint64_t devicePosition = 0; // the device's count of frames at the packet's first frame
    uint64_t hostTime = 0;       // the performance counter at its first frame, in 100 ns units
    bool discontinuity = false;  // the device lost frames before this packet
    bool silent = false;         // the packet is silence; `data` is not to be read
    bool timeError = false;      // `hostTime` is not to be trusted
};

// A capture of one endpoint in shared mode, polled for its packets. Used by one thread, the one
// that opened it (COM initialised there, multithreaded).
class SoundCapture {
public:
    virtual ~SoundCapture() = default;
    // The mix format as WAVE_FORMAT_EXTENSIBLE (a plain format is widened with the usual
    // speaker mask for its channel count).
    virtual const WAVEFORMATEXTENSIBLE& Format() const = 0;
    virtual HRESULT Start() = 0;
    virtual void Stop() = 0;
    // The next packet: S_OK with `packet` filled (hand it back with ReleasePacket), S_FALSE when
    // none is ready, or the error, AUDCLNT_E_DEVICE_INVALIDATED when the device is gone.
    virtual HRESULT NextPacket(SoundPacket& packet) = 0;
    virtual HRESULT ReleasePacket(UINT32 frames) = 0;
};

// Opens the endpoint `id` for capture; null with `error` set when it can't be (not found, not
// active, in use exclusively, or no audio service).
std::unique_ptr<SoundCapture> OpenSoundCapture(const std::wstring& id, HRESULT& error);

// COM for the calling thread while this lives (multithreaded; a thread already in another mode
// keeps it): a capture is opened, used and released on one such thread.
class SoundThreadScope {
public:
    SoundThreadScope();
    ~SoundThreadScope();
    SoundThreadScope(const SoundThreadScope&) = delete;
    SoundThreadScope& operator=(const SoundThreadScope&) = delete;

private:
    bool m_initialized;
};

// Test seam: replaces OpenSoundCapture; nullptr restores the real one.
using SoundCaptureOpener = std::unique_ptr<SoundCapture> (*)(const std::wstring& id,
                                                             HRESULT& error);
void SetSoundCaptureOpener(SoundCaptureOpener opener);

// The channel mask Windows uses for `channels` speakers when a format names none.
DWORD DefaultChannelMask(int channels);
