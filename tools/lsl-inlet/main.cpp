// nvrlslinlet.exe OUTDIR SECONDS [PAUSE_AT_FRAME PAUSE_SECONDS]
//
// Finds the recorder's streams "NimbraVIZ Frames", "NimbraVIZ Skeleton" and "NimbraVIZ Markers"
// (up to 20 s, or 1 s once one is missing), writes each one's full description to
// OUTDIR/<frames|skeleton|markers>.xml (or names it in OUTDIR/missing.txt), opens them and writes
// OUTDIR/ready. Then, for up to SECONDS or until every stream it found is lost, it appends each
// sample as one line of its time stamp and values to OUTDIR/<stream>.txt. With PAUSE_AT_FRAME it
// stops reading anything for PAUSE_SECONDS once the frames sample of that video frame came, as a
// stalled lab recorder would. Ends by writing OUTDIR/done. Time stamps are the outlet's,
// uncorrected.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/DllSearch.h"

namespace {

struct Info;
struct Inlet;
constexpr int kLostError = -2;
constexpr int kMaxChannels = 486;

struct Lsl {
    int32_t (*resolve)(Info** buffer, uint32_t elements, const char* prop, const char* value,
                       int32_t minimum, double timeout);
    Inlet* (*createInlet)(Info* info, int32_t maxBuffer, int32_t maxChunk, int32_t recover);
    void (*openStream)(Inlet* inlet, double timeout, int32_t* ec);
    Info* (*fullInfo)(Inlet* inlet, double timeout, int32_t* ec);
    char* (*xml)(Info* info);
    int32_t (*channels)(Info* info);
    double (*pullDoubles)(Inlet* inlet, double* buffer, int32_t elements, double timeout,
                          int32_t* ec);
    double (*pullFloats)(Inlet* inlet, float* buffer, int32_t elements, double timeout,
                         int32_t* ec);
    double (*pullStrings)(Inlet* inlet, char** buffer, int32_t elements, double timeout,
                          int32_t* ec);
    void (*destroyString)(char* text);
};
Lsl g_lsl;

template <typename Fn> void Bind(HMODULE module, const char* name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    if (slot == nullptr) {
        std::fprintf(stderr, "lsl.dll lacks %s\n", name);
        ::ExitProcess(2);
    }
}

struct Stream {
    const char* name;
    const char* file;
    int format; // 1 float, 2 double, 3 string
    Inlet* inlet = nullptr;
    int channels = 0;
    FILE* out = nullptr;
    bool lost = false;
};

std::string g_outDir;

FILE* OpenOut(const std::string& name, const char* mode)
{
    return std::fopen((g_outDir + "\\" + name).c_str(), mode);
}

void Touch(const std::string& name, const std::string& text = "")
{
    if (FILE* file = OpenOut(name, "ab")) {
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
}

bool g_anyMissing = false;

bool Open(Stream& stream)
{
    Info* found = nullptr;
    // Once one stream is missing, the others are hardly looked for.
    if (g_lsl.resolve(&found, 1, "name", stream.name, 1, g_anyMissing ? 1.0 : 20.0) < 1) {
        g_anyMissing = true;
        Touch("missing.txt", std::string(stream.name) + "\n");
        return false;
    }
    stream.inlet = g_lsl.createInlet(found, 360, 0, 0);
    int32_t ec = 0;
    Info* full = g_lsl.fullInfo(stream.inlet, 10.0, &ec);
    if (full != nullptr) {
        char* xml = g_lsl.xml(full);
        Touch(std::string(stream.file) + ".xml", xml);
        g_lsl.destroyString(xml);
        stream.channels = g_lsl.channels(full);
    }
    g_lsl.openStream(stream.inlet, 10.0, &ec);
    stream.out = OpenOut(std::string(stream.file) + ".txt", "wb");
    return stream.channels > 0 && stream.channels <= kMaxChannels && stream.out != nullptr;
}

// Writes every sample waiting in `stream`; returns the frames sample's video frame number of the
// last one read (-1 for none or another stream).
double Drain(Stream& stream)
{
    double lastFrame = -1;
    for (;;) {
        int32_t ec = 0;
        double stamp = 0;
        double values[kMaxChannels];
        float floats[kMaxChannels];
        char* text = nullptr;
        if (stream.format == 2) {
            stamp = g_lsl.pullDoubles(stream.inlet, values, stream.channels, 0.0, &ec);
        } else if (stream.format == 1) {
            stamp = g_lsl.pullFloats(stream.inlet, floats, stream.channels, 0.0, &ec);
        } else {
            stamp = g_lsl.pullStrings(stream.inlet, &text, 1, 0.0, &ec);
        }
        if (ec == kLostError) {
            stream.lost = true;
        }
        if (stamp == 0.0) {
            return lastFrame;
        }
        std::fprintf(stream.out, "%.9f", stamp);
        if (stream.format == 3) {
            std::fprintf(stream.out, " %s", text);
            g_lsl.destroyString(text);
        }
        for (int i = 0; stream.format != 3 && i < stream.channels; ++i) {
            std::fprintf(stream.out, " %.9g", stream.format == 2 ? values[i] : floats[i]);
        }
        std::fputc('\n', stream.out);
        lastFrame = stream.format == 2 ? values[0] : -1;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: nvrlslinlet OUTDIR SECONDS [PAUSE_AT_FRAME PAUSE_SECONDS]\n");
        return 2;
    }
    char outDir[MAX_PATH] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, outDir, MAX_PATH, nullptr, nullptr);
    g_outDir = outDir;
    const DWORD seconds = static_cast<DWORD>(_wtoi(argv[2]));
    const double pauseAt = argc == 5 ? _wtoi(argv[3]) : -1;
    const DWORD pauseMs = argc == 5 ? static_cast<DWORD>(_wtoi(argv[4])) * 1000 : 0;
    HMODULE module = LoadLibraryBesideProgram(L"lsl.dll");
    if (module == nullptr) {
        std::fprintf(stderr, "no lsl.dll beside the program\n");
        return 2;
    }
    Bind(module, "lsl_resolve_byprop", g_lsl.resolve);
    Bind(module, "lsl_create_inlet", g_lsl.createInlet);
    Bind(module, "lsl_open_stream", g_lsl.openStream);
    Bind(module, "lsl_get_fullinfo", g_lsl.fullInfo);
    Bind(module, "lsl_get_xml", g_lsl.xml);
    Bind(module, "lsl_get_channel_count", g_lsl.channels);
    Bind(module, "lsl_pull_sample_d", g_lsl.pullDoubles);
    Bind(module, "lsl_pull_sample_f", g_lsl.pullFloats);
    Bind(module, "lsl_pull_sample_str", g_lsl.pullStrings);
    Bind(module, "lsl_destroy_string", g_lsl.destroyString);

    Stream streams[] = {{"NimbraVIZ Frames", "frames", 2},
                        {"NimbraVIZ Skeleton", "skeleton", 1},
                        {"NimbraVIZ Markers", "markers", 3}};
    int open = 0;
    for (Stream& stream : streams) {
        if (Open(stream)) {
            ++open;
        } else {
            stream.lost = true;
        }
    }
    Touch("ready");
    const ULONGLONG end = ::GetTickCount64() + seconds * 1000ull;
    bool paused = pauseMs == 0;
    while (open > 0 && ::GetTickCount64() < end) {
        int lost = 0;
        for (Stream& stream : streams) {
            if (stream.inlet == nullptr) {
                continue;
            }
            const double frame = Drain(stream);
            lost += stream.lost ? 1 : 0;
            if (!paused && frame >= pauseAt) {
                paused = true;
                ::Sleep(pauseMs);
            }
        }
        if (lost == open) {
            break;
        }
        ::Sleep(5);
    }
    for (Stream& stream : streams) {
        if (stream.out != nullptr) {
            std::fclose(stream.out);
        }
    }
    Touch("done");
    return 0;
}
