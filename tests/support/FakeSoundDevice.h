// A sound device for tests, behind the capture seam: 4 channels of a steady tone at 16 kHz in
// packets of 10 ms on the host clock, exactly stamped; it can be absent (it can't be opened) or
// lost (an open capture fails with AUDCLNT_E_DEVICE_INVALIDATED). Every open is noted.
#pragma once

#include <windows.h>

#include <audioclient.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HostClock.h"
#include "platform/SoundDevices.h"

namespace fake_sound {

constexpr int kRate = 16000;
constexpr int kChannels = 4;
constexpr float kTone = 0.5f;

inline std::atomic<bool> g_absent{false}; // the device can't be opened
inline std::atomic<bool> g_lost{false};   // an open capture fails with "device invalidated"
inline std::mutex g_opensLock;
inline std::vector<double> g_opens; // host seconds of every open

inline double NowSeconds()
{
    return static_cast<double>(HostTicks()) / static_cast<double>(HostTicksPerSecond());
}

// A device that makes a packet of 160 frames every 10 ms of host time, stamped exactly.
class FakeCapture final : public SoundCapture {
public:
    FakeCapture()
    {
        m_format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        m_format.Format.nChannels = kChannels;
        m_format.Format.nSamplesPerSec = kRate;
        m_format.Format.wBitsPerSample = 32;
        m_format.Format.nBlockAlign = 4 * kChannels;
        m_format.Format.cbSize = 22;
        m_format.Samples.wValidBitsPerSample = 32;
        m_format.dwChannelMask = DefaultChannelMask(kChannels);
        m_format.SubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}};
        m_samples.assign(160 * kChannels, kTone);
    }
    const WAVEFORMATEXTENSIBLE& Format() const override { return m_format; }
    HRESULT Start() override
    {
        m_next = NowSeconds();
        return S_OK;
    }
    void Stop() override {}
    HRESULT NextPacket(SoundPacket& packet) override
    {
        if (g_lost.load()) {
            return AUDCLNT_E_DEVICE_INVALIDATED;
        }
        if (NowSeconds() < m_next + 0.010) {
            return S_FALSE;
        }
        packet = SoundPacket{};
        packet.data = reinterpret_cast<const BYTE*>(m_samples.data());
        packet.frames = 160;
        packet.devicePosition = m_position;
        packet.hostTime = static_cast<uint64_t>(std::llround(m_next * 1e7));
        return S_OK;
    }
    HRESULT ReleasePacket(UINT32 frames) override
    {
        m_position += frames;
        m_next += 0.010;
        return S_OK;
    }

private:
    WAVEFORMATEXTENSIBLE m_format = {};
    std::vector<float> m_samples;
    double m_next = 0.0;
    uint64_t m_position = 0;
};

inline std::unique_ptr<SoundCapture> OpenFakeSound(const std::wstring&, HRESULT& error)
{
    {
        std::lock_guard<std::mutex> lock(g_opensLock);
        g_opens.push_back(NowSeconds());
    }
    if (g_absent.load()) {
        error = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        return nullptr;
    }
    error = S_OK;
    return std::make_unique<FakeCapture>();
}

} // namespace fake_sound
