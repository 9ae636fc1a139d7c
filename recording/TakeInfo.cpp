#include "recording/TakeInfo.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "Version.h"
#include "platform/ScopedHandle.h"
#include "platform/Utf8.h"
#include "recording/IsoTime.h"

namespace {

constexpr const char* kProgramName = "Nimbra VIZ Recorder";
constexpr const char* kProgramVersion = NVR_VERSION_TEXT;

// A JSON string of UTF-8 `text`: quotes, backslashes and control characters escaped.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A file name, or null when the file was not written.
std::string FileName(const std::wstring& name)
{
    return name.empty() ? "null" : Quoted(ToUtf8(name));
}

// A stream's entry; `file` is already JSON (a quoted name or null), of any length.
std::string Stream(const std::string& file, int width, int height, const char* pixelFormat,
                   const char* codec, double focalLength)
{
    char focal[32];
    std::snprintf(focal, sizeof(focal), "%.2f", focalLength);
    return "{\"file\": " + file + ", \"width\": " + std::to_string(width) +
           ", \"height\": " + std::to_string(height) +
           ", \"frame_rate\": 30, \"pixel_format\": \"" + pixelFormat + "\", \"codec\": \"" +
           codec + "\", \"focal_length_px\": " + focal + "}";
}

std::string Fixed(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

// The sound's entry.
std::string SoundStream(const TakeSoundInfo& sound)
{
    std::string json = "{\"file\": " + FileName(sound.file) +
                       ", \"device\": " + Quoted(ToUtf8(sound.deviceName)) +
                       ", \"endpoint_id\": " + Quoted(ToUtf8(sound.deviceId)) +
                       ", \"missing_at_start\": " + (sound.missingAtStart ? "true" : "false");
    if (sound.file.empty()) {
        return json + "}";
    }
    const double rate = sound.sampleRate > 0 ? sound.sampleRate : 1;
    // An interval's start and length are on the video's clock: the device's own runs off it.
    const double hostRate = sound.measuredRate > 0 ? sound.measuredRate : rate;
    int64_t gapSamples = 0;
    std::string gaps;
    for (const TakeSoundInterval& gap : sound.gaps) {
        gapSamples += gap.samples;
        gaps += std::string(gaps.empty() ? "" : ", ") +
                "{\"start_sample\": " + std::to_string(gap.startSample) +
                ", \"samples\": " + std::to_string(gap.samples) +
                ", \"start_s\": " +
                Fixed("%.3f", gap.startSample / hostRate + sound.offsetMs / 1000.0) +
                ", \"duration_s\": " + Fixed("%.3f", gap.samples / hostRate) + "}";
    }
    return json + ", \"channels\": " + std::to_string(sound.channels) +
           ", \"sample_rate\": " + std::to_string(sound.sampleRate) +
           ", \"sample_format\": " + Quoted(sound.sampleFormat) +
           ", \"channel_mask\": " + std::to_string(sound.channelMask) +
           ", \"samples\": " + std::to_string(sound.samples) +
           ", \"offset_ms\": " + Fixed("%.3f", sound.offsetMs) +
           ", \"frame0_sample\": " + Fixed("%.3f", -sound.offsetMs / 1000.0 * sound.measuredRate) +
           ", \"measured_rate\": " + Fixed("%.4f", sound.measuredRate) +
           ", \"leading_silence_samples\": " + std::to_string(sound.leadingSamples) +
           ", \"gaps_filled\": " + std::to_string(sound.gaps.size()) +
           ", \"gaps_total_ms\": " + Fixed("%.1f", gapSamples * 1000.0 / rate) +
           ", \"without_sound\": [" + gaps + "]" +
           ", \"in_video\": " + (sound.inVideo ? "true" : "false") + "}";
}

// The take's "lsl" entry: null when it was not published.
std::string LabStreamsEntry(const TakeLabStreams& lsl)
{
    if (lsl.streams.empty()) {
        return "null";
    }
    std::string entry = "{\"streams\": [";
    for (const TakeLabStream& stream : lsl.streams) {
        entry += (&stream == &lsl.streams.front() ? "" : ", ");
        entry += "{\"name\": " + Quoted(stream.name) + ", \"source_id\": " +
                 Quoted(stream.sourceId) + "}";
    }
    char frame0[40] = "null";
    if (lsl.hasFrame0) {
        std::snprintf(frame0, sizeof(frame0), "%.7f", lsl.frame0Time);
    }
    return entry + "], \"frame0_time\": " + frame0 + "}";
}

} // namespace

std::string TakeInfoJson(const TakeInfo& info)
{
    std::string json = "{\r\n";
    json += "  \"program\": " + Quoted(kProgramName) + ",\r\n";
    json += "  \"version\": " + Quoted(kProgramVersion) + ",\r\n";
    json += "  \"start\": " + Quoted(info.start) + ",\r\n";
    json += "  \"end\": " + Quoted(info.end) + ",\r\n";
    json += "  \"frames\": " + std::to_string(info.frames) + ",\r\n";
    json += "  \"repeated\": " + std::to_string(info.repeated) + ",\r\n";
    json += "  \"dropped\": " + std::to_string(info.dropped) + ",\r\n";
    json += "  \"sensor_missing\": [";
    for (size_t i = 0; i < info.sensorGaps.size(); ++i) {
        const SensorGap& gap = info.sensorGaps[i];
        json += std::string(i == 0 ? "" : ",") +
                "\r\n    {\"start\": " + Quoted(FormatIsoLocalTime(gap.start)) +
                ", \"end\": " + Quoted(FormatIsoLocalTime(gap.end)) +
                ", \"first_frame\": " + std::to_string(gap.firstFrame) +
                ", \"frames\": " + std::to_string(gap.frames) + "}";
    }
    json += info.sensorGaps.empty() ? "],\r\n" : "\r\n  ],\r\n";
    json += "  \"files\": {\"video\": " + FileName(info.video) +
            ", \"skeleton\": " + FileName(info.skeleton) + ", \"depth\": " + FileName(info.depth) +
            ", \"frames\": " + FileName(info.framesFile) +
            (info.sound.deviceId.empty() ? "" : ", \"sound\": " + FileName(info.sound.file)) +
            "},\r\n";
    json += "  \"lsl\": " + LabStreamsEntry(info.lsl) + ",\r\n";
    json += "  \"streams\": {\r\n    \"color\": " +
            Stream(FileName(info.video), 640, 480, "yuv420p", "h264", kColorFocalLength640);
    if (info.depthWidth > 0) {
        json += ",\r\n    \"depth\": " +
                Stream(FileName(info.depth), info.depthWidth, info.depthHeight, "gray16le", "ffv1",
                       info.depthWidth >= 640 ? kDepthFocalLength640 : kDepthFocalLength320);
    }
    if (!info.sound.deviceId.empty()) {
        json += ",\r\n    \"sound\": " + SoundStream(info.sound);
    }
    json += "\r\n  }\r\n}\r\n";
    return json;
}

void SetTakeTimes(TakeInfo& info, uint64_t firstTakenAt, uint64_t lastTakenAt,
                  std::vector<SensorGap> gaps, uint64_t startedAt)
{
    info.sensorGaps.clear();
    for (SensorGap& gap : gaps) {
        if (gap.firstFrame < info.frames) {
            gap.frames = std::min(gap.frames, info.frames - gap.firstFrame);
            info.sensorGaps.push_back(gap);
        }
    }
    const bool beganWithout = !info.sensorGaps.empty() && info.sensorGaps.front().firstFrame == 0;
    const bool endedWithout =
        !info.sensorGaps.empty() &&
        info.sensorGaps.back().firstFrame + info.sensorGaps.back().frames == info.frames;
    uint64_t start = beganWithout || firstTakenAt == 0 ? 0 : firstTakenAt;
    uint64_t end = endedWithout || lastTakenAt == 0 ? 0 : lastTakenAt;
    if (!info.sensorGaps.empty()) {
        start = start != 0 ? start : info.sensorGaps.front().start;
        end = end != 0 ? end : info.sensorGaps.back().end;
    }
    info.start = FormatIsoLocalTime(start != 0 ? start : startedAt);
    info.end = FormatIsoLocalTime(end != 0 ? end : start != 0 ? start : startedAt);
}

bool WriteTakeInfo(const std::wstring& path, const TakeInfo& info)
{
    const std::string json = TakeInfoJson(info);
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.IsValid() &&
           ::WriteFile(file.Get(), json.data(), static_cast<DWORD>(json.size()), &written,
                       nullptr) &&
           written == json.size();
}
