#include "platform/SoundDevices.h"

#include <audioclient.h>
#include <devicetopology.h>
#include <mmdeviceapi.h>
#include <propidl.h>

#include <cwctype>

namespace {

// The interface ids, defined here: not every toolchain's import libraries carry them.
const CLSID kMMDeviceEnumeratorClass = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
const IID kMMDeviceEnumeratorId = {
    0xa95664d2, 0x9614, 0x4f35, {0xa7, 0x46, 0xde, 0x8d, 0xb6, 0x36, 0x17, 0xe6}};
const IID kAudioClientId = {
    0x1cb9ad4c, 0xdbfa, 0x4c32, {0xb1, 0x78, 0xc2, 0xf5, 0x68, 0xa7, 0x03, 0xb2}};
const IID kAudioCaptureClientId = {
    0xc8adbd64, 0xe71e, 0x48a0, {0xa4, 0xde, 0x18, 0x5c, 0x39, 0x5c, 0xd3, 0x17}};
const IID kDeviceTopologyId = {
    0x2a07407e, 0x6497, 0x4a18, {0x97, 0x87, 0x32, 0xf7, 0x9b, 0xd0, 0xd9, 0x8f}};
const IID kPartId = {0xae2de0e4, 0x5bca, 0x4f2d, {0xaa, 0x46, 0x5d, 0x13, 0xf8, 0xfd, 0xb3, 0xa9}};
const PROPERTYKEY kFriendlyNameKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
const GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kSubtypeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The shared-mode buffer asked for: long enough that a capture thread that looks every few
// tens of milliseconds, or is kept waiting, loses nothing.
constexpr REFERENCE_TIME kBufferDuration = 10000000; // 1 s

// Releases a COM interface at the end of a block.
template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset()
    {
        if (m_p != nullptr) {
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    T* m_p = nullptr;
};

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

std::wstring FriendlyName(IMMDevice* device)
{
    ComPtr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.Put()))) {
        return std::wstring();
    }
    PROPVARIANT value;
    ::PropVariantInit(&value);
    std::wstring name;
    if (SUCCEEDED(store->GetValue(kFriendlyNameKey, &value)) && value.vt == VT_LPWSTR &&
        value.pwszVal != nullptr) {
        name = value.pwszVal;
    }
    ::PropVariantClear(&value);
    return name;
}

// The PnP identity of the hardware behind an endpoint, through its topology (the endpoint's
// connector leads to the adapter's part); empty where the system gives none (Wine has no
// device topology).
std::wstring HardwareIdentity(IMMDevice* device)
{
    ComPtr<IDeviceTopology> endpoint;
    ComPtr<IConnector> connector;
    ComPtr<IConnector> adapterSide;
    ComPtr<IPart> part;
    ComPtr<IDeviceTopology> adapter;
    if (FAILED(device->Activate(kDeviceTopologyId, CLSCTX_ALL, nullptr, endpoint.PutVoid())) ||
        FAILED(endpoint->GetConnector(0, connector.Put())) ||
        FAILED(connector->GetConnectedTo(adapterSide.Put())) ||
        FAILED(adapterSide->QueryInterface(kPartId, part.PutVoid())) ||
        FAILED(part->GetTopologyObjects(adapter.Put()))) {
        return std::wstring();
    }
    LPWSTR id = nullptr;
    if (FAILED(adapter->GetDeviceId(&id)) || id == nullptr) {
        return std::wstring();
    }
    std::wstring identity = id;
    ::CoTaskMemFree(id);
    return identity;
}

// A format widened to WAVE_FORMAT_EXTENSIBLE. False for one that is neither PCM nor float.
bool Widen(const WAVEFORMATEX& format, WAVEFORMATEXTENSIBLE& wide)
{
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && format.cbSize >= 22) {
        wide = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        if (wide.dwChannelMask == 0) {
            wide.dwChannelMask = DefaultChannelMask(format.nChannels);
        }
        return ::IsEqualGUID(wide.SubFormat, kSubtypePcm) ||
               ::IsEqualGUID(wide.SubFormat, kSubtypeFloat);
    }
    if (format.wFormatTag != WAVE_FORMAT_PCM && format.wFormatTag != WAVE_FORMAT_IEEE_FLOAT) {
        return false;
    }
    wide = WAVEFORMATEXTENSIBLE{};
    wide.Format = format;
    wide.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wide.Format.cbSize = 22;
    wide.Samples.wValidBitsPerSample = format.wBitsPerSample;
    wide.dwChannelMask = DefaultChannelMask(format.nChannels);
    wide.SubFormat = format.wFormatTag == WAVE_FORMAT_PCM ? kSubtypePcm : kSubtypeFloat;
    return true;
}

class WasapiCapture final : public SoundCapture {
public:
    ~WasapiCapture() override
    {
        Stop();
        m_capture.Reset();
        m_client.Reset();
    }

    HRESULT Open(const std::wstring& id)
    {
        ComPtr<IMMDeviceEnumerator> enumerator;
        ComPtr<IMMDevice> device;
        HRESULT hr = ::CoCreateInstance(kMMDeviceEnumeratorClass, nullptr, CLSCTX_ALL,
                                        kMMDeviceEnumeratorId, enumerator.PutVoid());
        if (SUCCEEDED(hr)) {
            hr = enumerator->GetDevice(id.c_str(), device.Put());
        }
        DWORD state = 0;
        if (SUCCEEDED(hr) && SUCCEEDED(device->GetState(&state)) && state != DEVICE_STATE_ACTIVE) {
            hr = AUDCLNT_E_DEVICE_INVALIDATED;
        }
        if (SUCCEEDED(hr)) {
            hr = device->Activate(kAudioClientId, CLSCTX_ALL, nullptr, m_client.PutVoid());
        }
        WAVEFORMATEX* mix = nullptr;
        if (SUCCEEDED(hr)) {
            hr = m_client->GetMixFormat(&mix);
        }
        if (SUCCEEDED(hr)) {
            hr = Widen(*mix, m_format) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
        }
        if (SUCCEEDED(hr)) {
            // The mix format as the device gives it: the shared engine neither mixes nor
            // resamples what we record. Polled rather than event driven: an event every
            // device period (10 ms) wakes the capture thread five times as often for the same
            // packets, with the same time stamps.
            hr = m_client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferDuration, 0, mix,
                                      nullptr);
        }
        ::CoTaskMemFree(mix);
        if (SUCCEEDED(hr)) {
            hr = m_client->GetService(kAudioCaptureClientId, m_capture.PutVoid());
        }
        return hr;
    }

    const WAVEFORMATEXTENSIBLE& Format() const override { return m_format; }

    HRESULT Start() override
    {
        const HRESULT hr = m_client->Start();
        m_started = SUCCEEDED(hr);
        return hr;
    }

    void Stop() override
    {
        if (m_started) {
            m_client->Stop();
            m_started = false;
        }
    }

    HRESULT NextPacket(SoundPacket& packet) override
    {
        UINT32 size = 0;
        HRESULT hr = m_capture->GetNextPacketSize(&size);
        if (FAILED(hr) || size == 0) {
            return FAILED(hr) ? hr : S_FALSE;
        }
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 position = 0;
        UINT64 qpc = 0;
        hr = m_capture->GetBuffer(&data, &frames, &flags, &position, &qpc);
        if (hr == AUDCLNT_S_BUFFER_EMPTY || FAILED(hr)) {
            return FAILED(hr) ? hr : S_FALSE;
        }
        packet = SoundPacket{};
        packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
        packet.data = packet.silent ? nullptr : data;
        packet.frames = frames;
        packet.devicePosition = position;
        packet.hostTime = qpc;
        packet.discontinuity = (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
        packet.timeError = (flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) != 0;
        return S_OK;
    }

    HRESULT ReleasePacket(UINT32 frames) override { return m_capture->ReleaseBuffer(frames); }

private:
    ComPtr<IAudioClient> m_client;
    ComPtr<IAudioCaptureClient> m_capture;
    WAVEFORMATEXTENSIBLE m_format = {};
    bool m_started = false;
};

std::unique_ptr<SoundCapture> RealOpenSoundCapture(const std::wstring& id, HRESULT& error)
{
    auto capture = std::make_unique<WasapiCapture>();
    error = capture->Open(id);
    if (FAILED(error)) {
        return nullptr;
    }
    return capture;
}

// Written only by tests before the code under test runs.
SoundCaptureOpener g_soundCaptureOpener = RealOpenSoundCapture;

} // namespace

bool IsSensorArrayName(const std::wstring& name)
{
    const std::wstring upper = Upper(name);
    return upper.find(L"XBOX NUI SENSOR") != std::wstring::npos ||
           upper.find(L"KINECT USB AUDIO") != std::wstring::npos;
}

bool IsSensorArrayHardwareId(const std::wstring& deviceId)
{
    // The sensor's audio function: Xbox NUI Audio and Kinect for Windows Audio.
    const std::wstring upper = Upper(deviceId);
    for (const wchar_t* identity :
         {L"VID_045E&PID_02AD", L"VID_045E&PID_02BB", L"VID_045E&PID_02BE"}) {
        if (upper.find(identity) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

std::vector<SoundDeviceInfo> ListSoundDevices()
{
    SoundThreadScope com;
    std::vector<SoundDeviceInfo> devices;
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    if (FAILED(::CoCreateInstance(kMMDeviceEnumeratorClass, nullptr, CLSCTX_ALL,
                                  kMMDeviceEnumeratorId, enumerator.PutVoid())) ||
        FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, collection.Put())) ||
        FAILED(collection->GetCount(&count))) {
        return devices;
    }
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        LPWSTR id = nullptr;
        if (FAILED(collection->Item(i, device.Put())) || FAILED(device->GetId(&id)) ||
            id == nullptr) {
            continue;
        }
        SoundDeviceInfo info;
        info.id = id;
        ::CoTaskMemFree(id);
        info.name = FriendlyName(device.Get());
        if (info.name.empty()) {
            info.name = info.id;
        }
        info.isSensorArray =
            IsSensorArrayHardwareId(HardwareIdentity(device.Get())) || IsSensorArrayName(info.name);
        devices.push_back(std::move(info));
    }
    return devices;
}

SoundThreadScope::SoundThreadScope()
    : m_initialized(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
{
}

SoundThreadScope::~SoundThreadScope()
{
    if (m_initialized) {
        ::CoUninitialize();
    }
}

std::unique_ptr<SoundCapture> OpenSoundCapture(const std::wstring& id, HRESULT& error)
{
    return g_soundCaptureOpener(id, error);
}

void SetSoundCaptureOpener(SoundCaptureOpener opener)
{
    g_soundCaptureOpener = opener ? opener : RealOpenSoundCapture;
}

DWORD DefaultChannelMask(int channels)
{
    switch (channels) {
    case 1:
        return SPEAKER_FRONT_CENTER;
    case 2:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    case 4:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    case 6:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER |
               SPEAKER_LOW_FREQUENCY | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    default:
        return channels > 0 && channels < 32 ? (1u << channels) - 1 : 0;
    }
}
