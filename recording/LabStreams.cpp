#include "recording/LabStreams.h"

#include <atomic>
#include <vector>

#include "Version.h"
#include "platform/DllSearch.h"
#include "platform/HostClock.h"
#include "platform/ScopedHandle.h"
#include "platform/SrwLock.h"
#include "platform/ThreadName.h"
#include "platform/Utf8.h"
#include "recording/LabSamples.h"

namespace {

// The library's C interface, as far as the program uses it (liblsl 1.14 and later).
struct LslInfo;
struct LslOutlet;
struct LslXml;
constexpr int kLslFloat32 = 1;
constexpr int kLslDouble64 = 2;
constexpr int kLslString = 3;
constexpr double kLslIrregularRate = 0.0;

struct LabLibrary {
    void (*setConfigContent)(const char* content) = nullptr;
    double (*localClock)() = nullptr;
    LslInfo* (*createInfo)(const char* name, const char* type, int32_t channels, double rate,
                           int format, const char* sourceId) = nullptr;
    void (*destroyInfo)(LslInfo* info) = nullptr;
    LslXml* (*desc)(LslInfo* info) = nullptr;
    LslXml* (*appendChild)(LslXml* element, const char* name) = nullptr;
    LslXml* (*appendChildValue)(LslXml* element, const char* name, const char* value) = nullptr;
    LslOutlet* (*createOutlet)(LslInfo* info, int32_t chunkSize, int32_t maxBuffered) = nullptr;
    void (*destroyOutlet)(LslOutlet* outlet) = nullptr;
    int32_t (*pushFloats)(LslOutlet* outlet, const float* data, double stamp) = nullptr;
    int32_t (*pushDoubles)(LslOutlet* outlet, const double* data, double stamp) = nullptr;
    int32_t (*pushStrings)(LslOutlet* outlet, const char** data, double stamp) = nullptr;
};

// Seconds of samples an outlet keeps for each lab recorder that falls behind; older ones give
// way to newer ones.
constexpr int32_t kMaxBufferedSeconds = 60;
// The configuration file a user or lab names for every LSL program, read here because the
// program's own settings are given as content, which the library prefers to any file.
constexpr size_t kMaxConfigBytes = 256 * 1024;

// Loaded once, on the main thread, and never unloaded: an outlet's threads run inside it.
HMODULE g_module = nullptr;
bool g_loadTried = false;
LabLibrary g_lsl;
// lsl_local_clock() at the performance counter's reading g_clockTicks; set before any outlet.
std::atomic<bool> g_clockKnown{false};
double g_clockAtTicks = 0.0;
int64_t g_clockTicks = 0;

struct Outlets {
    LslOutlet* frames = nullptr;
    LslOutlet* skeleton = nullptr;
    LslOutlet* markers = nullptr;
    std::string framesId;
    std::string skeletonId;
    std::string markersId;
};
// Publishers hold g_outletLock shared for a push; the main thread holds it exclusively only to
// put outlets in or take them out, never while one is made or destroyed.
SRWLOCK g_outletLock = SRWLOCK_INIT;
Outlets g_outlets;
std::atomic<bool> g_on{false};
// One marker at a time: markers come from several threads.
SRWLOCK g_markerLock = SRWLOCK_INIT;
// The sensor's instance name, which the lab thread reads when it makes the streams.
SRWLOCK g_nameLock = SRWLOCK_INIT;
std::wstring g_sensorName;
// The lab thread (LabThread), started with the first streams; main thread only.
HANDLE g_thread = nullptr;
HANDLE g_wake = nullptr; // auto-reset: the wanted state changed, or quit
std::atomic<bool> g_wanted{false};
std::atomic<bool> g_quit{false};
// How long the end of the program waits for the lab thread to end the streams.
constexpr DWORD kEndWaitMs = 3000;

template <typename Fn> bool Bind(const char* name, Fn& slot)
{
    FARPROC proc = ::GetProcAddress(g_module, name);
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
    return proc != nullptr;
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

// The text of the file at `path`; empty when it can't be read or is larger than we take.
std::string FileText(const std::wstring& path)
{
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
        size.QuadPart > static_cast<LONGLONG>(kMaxConfigBytes)) {
        return std::string();
    }
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!::ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr)) {
        return std::string();
    }
    text.resize(read);
    return text;
}

// The user's LSL configuration: the file LSLAPICFG names, else the one in the user's profile,
// as the library would find them. The current folder's lsl_api.cfg is not read: anyone may
// have put a file there.
std::string UserConfig()
{
    const std::wstring named = EnvironmentValue(L"LSLAPICFG");
    if (!named.empty()) {
        return FileText(named);
    }
    const std::wstring profile = EnvironmentValue(L"USERPROFILE");
    return profile.empty() ? std::string() : FileText(profile + L"\\lsl_api\\lsl_api.cfg");
}

// Where lsl_local_clock() stands against the performance counter: one reading of it bracketed
// by two of the counter, the tightest of a few.
void MeasureClock()
{
    int64_t best = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int64_t before = HostTicks();
        const double clock = g_lsl.localClock();
        const int64_t after = HostTicks();
        if (best < 0 || after - before < best) {
            best = after - before;
            g_clockAtTicks = clock;
            g_clockTicks = before + (after - before) / 2;
        }
    }
    g_clockKnown.store(true);
}

// Loads and binds the library once; false when it is missing or lacks a function.
bool LoadLabLibrary()
{
    if (g_loadTried) {
        return g_module != nullptr;
    }
    g_loadTried = true;
    g_module = LoadLibraryBesideProgram(L"lsl.dll");
    if (g_module == nullptr) {
        return false;
    }
    g_lsl = LabLibrary{};
    const bool complete =
        Bind("lsl_set_config_content", g_lsl.setConfigContent) &&
        Bind("lsl_local_clock", g_lsl.localClock) &&
        Bind("lsl_create_streaminfo", g_lsl.createInfo) &&
        Bind("lsl_destroy_streaminfo", g_lsl.destroyInfo) && Bind("lsl_get_desc", g_lsl.desc) &&
        Bind("lsl_append_child", g_lsl.appendChild) &&
        Bind("lsl_append_child_value", g_lsl.appendChildValue) &&
        Bind("lsl_create_outlet", g_lsl.createOutlet) &&
        Bind("lsl_destroy_outlet", g_lsl.destroyOutlet) &&
        Bind("lsl_push_sample_ft", g_lsl.pushFloats) &&
        Bind("lsl_push_sample_dt", g_lsl.pushDoubles) &&
        Bind("lsl_push_sample_strt", g_lsl.pushStrings);
    if (!complete) {
        // Nothing of it has run: it may go.
        ::FreeLibrary(g_module);
        g_module = nullptr;
        return false;
    }
    // Before any other call: the configuration is read at the library's first use.
    g_lsl.setConfigContent(LabConfigContent(UserConfig()).c_str());
    MeasureClock();
    return true;
}

double LabClockOfTicks(int64_t ticks)
{
    return g_clockAtTicks +
           static_cast<double>(ticks - g_clockTicks) / static_cast<double>(HostTicksPerSecond());
}

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(name, &length) ? std::wstring(name, length) : L"computer";
}

// Describes `channels` channels in the stream's metadata, each with its label, type and unit.
template <typename Channel>
void DescribeChannels(LslXml* desc, int channels, Channel channel)
{
    LslXml* list = g_lsl.appendChild(desc, "channels");
    for (int i = 0; i < channels; ++i) {
        const LabChannel described = channel(i);
        LslXml* element = g_lsl.appendChild(list, "channel");
        g_lsl.appendChildValue(element, "label", described.label.c_str());
        g_lsl.appendChildValue(element, "type", described.type);
        g_lsl.appendChildValue(element, "unit", described.unit);
    }
}

// Makes one outlet; null when the library can't. `channel` describes channel i, or is null.
LslOutlet* MakeOutlet(const char* name, const char* type, int channels, double rate, int format,
                      const std::string& sourceId, LabChannel (*channel)(int))
{
    LslInfo* info = g_lsl.createInfo(name, type, channels, rate, format, sourceId.c_str());
    if (info == nullptr) {
        return nullptr;
    }
    LslXml* desc = g_lsl.desc(info);
    g_lsl.appendChildValue(desc, "program", "Nimbra VIZ Recorder");
    g_lsl.appendChildValue(desc, "version", NVR_VERSION_TEXT);
    LslXml* acquisition = g_lsl.appendChild(desc, "acquisition");
    g_lsl.appendChildValue(acquisition, "manufacturer", "Nimbra Umbraline");
    g_lsl.appendChildValue(acquisition, "model", "Nimbra VIZ Recorder " NVR_VERSION_TEXT);
    if (channel != nullptr) {
        DescribeChannels(desc, channels, channel);
    }
    LslOutlet* outlet = g_lsl.createOutlet(info, 0, kMaxBufferedSeconds);
    g_lsl.destroyInfo(info);
    return outlet;
}

void DestroyOutlets(Outlets& outlets)
{
    for (LslOutlet* outlet : {outlets.frames, outlets.skeleton, outlets.markers}) {
        if (outlet != nullptr) {
            g_lsl.destroyOutlet(outlet);
        }
    }
    outlets = Outlets{};
}

bool TurnOn()
{
    const std::wstring computer = ComputerName();
    std::wstring sensor;
    {
        SharedLock lock(g_nameLock);
        sensor = g_sensorName;
    }
    Outlets made;
    made.framesId = LabSourceId(computer, sensor, "frames");
    made.skeletonId = LabSourceId(computer, sensor, "skeleton");
    made.markersId = LabSourceId(computer, sensor, "markers");
    made.frames = MakeOutlet(kLabFramesStream, "VideoFrames", kFrameChannels, 30.0, kLslDouble64,
                             made.framesId, FrameChannel);
    made.skeleton = MakeOutlet(kLabSkeletonStream, "Mocap", kSkeletonChannels, 30.0,
                               kLslFloat32, made.skeletonId, SkeletonChannel);
    made.markers = MakeOutlet(kLabMarkersStream, "Markers", 1, kLslIrregularRate, kLslString,
                              made.markersId, nullptr);
    if (made.frames == nullptr || made.skeleton == nullptr || made.markers == nullptr) {
        DestroyOutlets(made);
        return false;
    }
    ExclusiveLock lock(g_outletLock);
    g_outlets = made;
    g_on.store(true);
    return true;
}

void TurnOff()
{
    Outlets gone;
    {
        ExclusiveLock lock(g_outletLock);
        gone = g_outlets;
        g_outlets = Outlets{};
        g_on.store(false);
    }
    // Outside the lock: destroying an outlet takes tens of milliseconds, and no publisher waits
    // for it.
    DestroyOutlets(gone);
}

// The lab thread: makes or ends the outlets whenever the wanted state changes, so that neither
// (each takes tens of milliseconds) holds up the user interface; ends them when told to quit.
DWORD WINAPI LabThread(LPVOID)
{
    NameThisThread(L"lab streams");
    for (;;) {
        ::WaitForSingleObject(g_wake, INFINITE);
        const bool quit = g_quit.load();
        const bool wanted = g_wanted.load() && !quit;
        if (wanted && !g_on.load()) {
            TurnOn();
        } else if (!wanted && g_on.load()) {
            TurnOff();
        }
        if (quit) {
            return 0;
        }
    }
}

} // namespace

bool IsLabLibraryBesideProgram()
{
    const std::wstring path = PathBesideProgram(L"lsl.dll");
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetLabStreamsOn(bool on)
{
    if (on && !LoadLabLibrary()) {
        return false;
    }
    if (on && g_thread == nullptr) {
        g_wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        g_thread = g_wake != nullptr ? ::CreateThread(nullptr, 0, LabThread, nullptr, 0, nullptr)
                                     : nullptr;
        if (g_thread == nullptr) {
            if (g_wake != nullptr) {
                ::CloseHandle(g_wake);
                g_wake = nullptr;
            }
            return false;
        }
    }
    g_wanted.store(on);
    if (g_wake != nullptr) {
        ::SetEvent(g_wake);
    }
    return on;
}

bool AreLabStreamsOn()
{
    return g_on.load();
}

void SetLabSensorName(const std::wstring& instanceName)
{
    ExclusiveLock lock(g_nameLock);
    g_sensorName = instanceName;
}

void PublishVideoFrame(int64_t videoFrame, DWORD colorFrameNumber, bool repeated,
                       int64_t takenTicks)
{
    if (!g_on.load()) {
        return;
    }
    const double sample[kFrameChannels] = {static_cast<double>(videoFrame),
                                           static_cast<double>(colorFrameNumber),
                                           repeated ? 1.0 : 0.0};
    SharedLock lock(g_outletLock);
    if (g_outlets.frames != nullptr) {
        g_lsl.pushDoubles(g_outlets.frames, sample, LabClockOfTicks(takenTicks));
    }
}

void PublishSkeletonFrame(const NUI_SKELETON_FRAME& frame, int64_t takenTicks)
{
    if (!g_on.load()) {
        return;
    }
    float sample[kSkeletonChannels];
    FillSkeletonSample(frame, sample);
    SharedLock lock(g_outletLock);
    if (g_outlets.skeleton != nullptr) {
        g_lsl.pushFloats(g_outlets.skeleton, sample, LabClockOfTicks(takenTicks));
    }
}

void PublishMarker(const std::wstring& text)
{
    if (!g_on.load()) {
        return;
    }
    const std::string utf8 = ToUtf8(text);
    const char* sample[1] = {utf8.c_str()};
    ExclusiveLock one(g_markerLock);
    SharedLock lock(g_outletLock);
    if (g_outlets.markers != nullptr) {
        g_lsl.pushStrings(g_outlets.markers, sample, g_lsl.localClock());
    }
}

TakeLabStreams LabStreamsForTake(int64_t frame0Ticks)
{
    TakeLabStreams streams;
    {
        SharedLock lock(g_outletLock);
        if (g_outlets.frames != nullptr) {
            streams.streams = {{kLabFramesStream, g_outlets.framesId},
                               {kLabSkeletonStream, g_outlets.skeletonId},
                               {kLabMarkersStream, g_outlets.markersId}};
        }
    }
    if (frame0Ticks != 0 && g_clockKnown.load()) {
        streams.hasFrame0 = true;
        streams.frame0Time = LabClockOfTicks(frame0Ticks);
    }
    return streams;
}

void EndLabStreams()
{
    if (g_thread == nullptr) {
        return;
    }
    g_quit.store(true);
    ::SetEvent(g_wake);
    if (::WaitForSingleObject(g_thread, kEndWaitMs) == WAIT_OBJECT_0) {
        ::CloseHandle(g_thread);
        ::CloseHandle(g_wake);
        g_thread = nullptr;
    }
}
