#include "recording/LabSamples.h"

#include <sstream>

namespace {

// Joint names in the runtime's order, for the channel labels.
constexpr const char* kJointLabels[NUI_SKELETON_POSITION_COUNT] = {
    "HipCenter",  "Spine",     "ShoulderCenter", "Head",          "ShoulderLeft",
    "ElbowLeft",  "WristLeft", "HandLeft",       "ShoulderRight", "ElbowRight",
    "WristRight", "HandRight", "HipLeft",        "KneeLeft",      "AnkleLeft",
    "FootLeft",   "HipRight",  "KneeRight",      "AnkleRight",    "FootRight",
};

// The program's own settings, as (section, key, value).
struct ConfigSetting {
    const char* section;
    const char* key;
    const char* value;
};
// TimerResolution 0: the library leaves the process's timer resolution alone (it would ask
// for 1 ms for the whole process). Log level -3: fatal errors only, nothing a user would see.
constexpr ConfigSetting kOwnSettings[] = {
    {"tuning", "TimerResolution", "0"},
    {"log", "level", "-3"},
};

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    const size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// True when the INI `line` in `section` sets one of the program's own keys.
bool IsOwnSetting(const std::string& section, const std::string& line)
{
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    const std::string key = Trimmed(line.substr(0, equals));
    for (const ConfigSetting& own : kOwnSettings) {
        if (section == own.section && key == own.key) {
            return true;
        }
    }
    return false;
}

// Letters, digits, '-' and '.' of `text` as they are; anything else as '_'.
std::string IdPart(const std::wstring& text)
{
    std::string part;
    for (const wchar_t c : text) {
        const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                           (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
        part += plain ? static_cast<char>(c) : '_';
    }
    return part;
}

} // namespace

LabChannel SkeletonChannel(int index)
{
    const int slot = index / kSkeletonSlotChannels;
    const int within = index % kSkeletonSlotChannels;
    const std::string prefix = "S" + std::to_string(slot) + "_";
    if (within == 0) {
        return LabChannel{prefix + "TrackingId", "TrackingId", ""};
    }
    const int joint = (within - 1) / 4;
    static constexpr const char* kFields[] = {"X", "Y", "Z", "State"};
    static constexpr const char* kTypes[] = {"PositionX", "PositionY", "PositionZ",
                                             "TrackingState"};
    const int field = (within - 1) % 4;
    return LabChannel{prefix + kJointLabels[joint] + kFields[field], kTypes[field],
                      field < 3 ? "meters" : ""};
}

LabChannel FrameChannel(int index)
{
    static const LabChannel kChannels[kFrameChannels] = {
        {"VideoFrame", "FrameNumber", ""},
        {"ColorFrame", "FrameNumber", ""},
        {"Repeated", "Flag", ""},
    };
    return kChannels[index];
}

void FillSkeletonSample(const NUI_SKELETON_FRAME& frame, float* sample)
{
    for (int slot = 0; slot < NUI_SKELETON_COUNT; ++slot) {
        float* out = sample + slot * kSkeletonSlotChannels;
        const NUI_SKELETON_DATA& data = frame.SkeletonData[slot];
        if (data.eTrackingState != NUI_SKELETON_TRACKED) {
            for (int i = 0; i < kSkeletonSlotChannels; ++i) {
                out[i] = 0.0f;
            }
            continue;
        }
        *out++ = static_cast<float>(data.dwTrackingID);
        for (int joint = 0; joint < NUI_SKELETON_POSITION_COUNT; ++joint) {
            const Vector4& position = data.SkeletonPositions[joint];
            *out++ = position.x;
            *out++ = position.y;
            *out++ = position.z;
            *out++ = static_cast<float>(data.eSkeletonPositionTrackingState[joint]);
        }
    }
}

std::string LabSourceId(const std::wstring& computer, const std::wstring& sensor,
                        const char* stream)
{
    return "NimbraVIZ_" + IdPart(computer) + "_" +
           (sensor.empty() ? std::string("sensor0") : IdPart(sensor)) + "_" + stream;
}

std::string LabConfigContent(const std::string& userConfig)
{
    std::istringstream lines(userConfig);
    std::string line;
    std::string section;
    std::string content;
    while (std::getline(lines, line)) {
        const std::string trimmed = Trimmed(line);
        if (!trimmed.empty() && trimmed.front() == '[' && trimmed.back() == ']') {
            section = Trimmed(trimmed.substr(1, trimmed.size() - 2));
        } else if (IsOwnSetting(section, trimmed)) {
            continue;
        }
        content += trimmed + "\n";
    }
    for (const ConfigSetting& own : kOwnSettings) {
        content += std::string("[") + own.section + "]\n" + own.key + " = " + own.value + "\n";
    }
    return content;
}
