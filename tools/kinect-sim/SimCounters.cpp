#include "tools/kinect-sim/SimCounters.h"

#include <atomic>
#include <initializer_list>
#include <iterator>

namespace {

std::atomic<long long> g_counters[kCounterCount];

// The last-frame counters read -1 until a frame is handed out, so that frame 0 shows.
struct LastFramesNone {
    LastFramesNone()
    {
        for (SimCounter counter :
             {kCountLastColorFrame, kCountLastSkeletonFrame, kCountLastDepthFrame}) {
            g_counters[counter].store(-1);
        }
    }
} g_lastFramesNone;

// One name per counter, in the enum's order: the keys of the counts file.
const char* const kCounterNames[kCounterCount] = {
    "initialize",
    "shutdown",
    "stream_open",
    "color_requests",
    "color_handed",
    "color_locked",
    "color_unlocked",
    "color_released",
    "color_refused",
    "depth_requests",
    "depth_handed",
    "depth_locked",
    "depth_unlocked",
    "depth_released",
    "depth_refused",
    "release_invalid",
    "lock_invalid",
    "unlock_invalid",
    "released_locked",
    "skeleton_enable",
    "skeleton_requests",
    "skeleton_handed",
    "smooth_calls",
    "bad_arguments",
    "calls_before_initialize",
    "calls_after_shutdown",
    "last_color_frame",
    "last_skeleton_frame",
    "last_depth_frame",
};

// A plain array rather than a string object: DllMain reads it after static destructors may run.
wchar_t g_countsPath[4096];

// Text of the counts file, built without the C runtime's formatting so DllMain can use it.
struct CountsText {
    char text[2048];
    size_t length = 0;

    void Append(const char* piece)
    {
        while (*piece != '\0' && length + 1 < sizeof(text)) {
            text[length++] = *piece++;
        }
    }

    void AppendLine(const char* key, long long value)
    {
        char digits[24];
        int count = 0;
        unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) {
            digits[count++] = '-';
        }
        char number[24];
        for (int i = 0; i < count; ++i) {
            number[i] = digits[count - 1 - i];
        }
        number[count] = '\0';
        Append(key);
        Append("=");
        Append(number);
        Append("\n");
    }
};

} // namespace

void SimCount(SimCounter counter)
{
    g_counters[counter].fetch_add(1);
}

void SimSetCounter(SimCounter counter, long long value)
{
    g_counters[counter].store(value);
}

long long SimCounterValue(SimCounter counter)
{
    return g_counters[counter].load();
}

void SimReadCountsPath()
{
    const DWORD capacity = static_cast<DWORD>(std::size(g_countsPath));
    const DWORD length = ::GetEnvironmentVariableW(L"NVR_SIM_COUNTS", g_countsPath, capacity);
    if (length == 0 || length >= capacity) {
        g_countsPath[0] = L'\0';
    }
}

bool SimWriteCounts(bool final)
{
    if (g_countsPath[0] == L'\0') {
        return false;
    }
    CountsText counts;
    for (int i = 0; i < kCounterCount; ++i) {
        counts.AppendLine(kCounterNames[i], g_counters[i].load());
    }
    counts.AppendLine("outstanding", g_counters[kCountColorHanded].load() -
                                         g_counters[kCountColorReleased].load() +
                                         g_counters[kCountDepthHanded].load() -
                                         g_counters[kCountDepthReleased].load());
    counts.AppendLine("final", final ? 1 : 0);

    HANDLE file = ::CreateFileW(g_countsPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ::OutputDebugStringA("Kinect10 (simulated): cannot create the counts file "
                             "(NVR_SIM_COUNTS)\n");
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, counts.text, static_cast<DWORD>(counts.length), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == counts.length;
}
