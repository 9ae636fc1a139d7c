#include "recording/TakeInfo.h"

#include <windows.h>

#include <cstdio>

#include "Version.h"
#include "platform/ScopedHandle.h"

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

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0],
                              size, nullptr, nullptr);
    }
    return out;
}

// A file name, or null when the file was not written.
std::string FileName(const std::wstring& name)
{
    return name.empty() ? "null" : Quoted(Utf8(name));
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
    json += "  \"files\": {\"video\": " + FileName(info.video) +
            ", \"skeleton\": " + FileName(info.skeleton) + ", \"depth\": " + FileName(info.depth) +
            ", \"frames\": " + FileName(info.framesFile) + "},\r\n";
    json += "  \"lsl\": " + LabStreamsEntry(info.lsl) + ",\r\n";
    json += "  \"streams\": {\r\n    \"color\": " +
            Stream(FileName(info.video), 640, 480, "yuv420p", "h264", kColorFocalLength640);
    if (info.depthWidth > 0) {
        json += ",\r\n    \"depth\": " +
                Stream(FileName(info.depth), info.depthWidth, info.depthHeight, "gray16le", "ffv1",
                       info.depthWidth >= 640 ? kDepthFocalLength640 : kDepthFocalLength320);
    }
    json += "\r\n  }\r\n}\r\n";
    return json;
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
