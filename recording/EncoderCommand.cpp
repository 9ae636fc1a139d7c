#include "recording/EncoderCommand.h"

#include <cwchar>

bool BuildEncoderCommandLine(const std::wstring& path, wchar_t* buffer, std::size_t capacity)
{
    if (capacity == 0) {
        return false;
    }
    buffer[0] = L'\0';
    if (path.find(L'"') != std::wstring::npos) {
        return false;
    }
    std::wstring line = kEncoderCommandPrefix;
    line += path;
    line += L'"';
    if (line.size() + 1 > capacity) {
        return false;
    }
    std::wmemcpy(buffer, line.c_str(), line.size() + 1);
    return true;
}

bool BuildDepthCommandLine(const std::wstring& path, int width, int height, wchar_t* buffer,
                           std::size_t capacity)
{
    if (capacity == 0) {
        return false;
    }
    buffer[0] = L'\0';
    if (path.find(L'"') != std::wstring::npos) {
        return false;
    }
    const std::wstring line =
        L"ffmpeg.exe -y -f rawvideo -pixel_format gray16le -video_size " + std::to_wstring(width) +
        L"x" + std::to_wstring(height) + L" -framerate 30 -i " + kDepthPipeName +
        L" -c:v ffv1 -level 3 -pix_fmt gray16le -flush_packets 1 \"" + path + L"\"";
    if (line.size() + 1 > capacity) {
        return false;
    }
    std::wmemcpy(buffer, line.c_str(), line.size() + 1);
    return true;
}

bool BuildRewriteCommandLine(const std::wstring& input, const std::wstring& output,
                             std::wstring& line)
{
    line.clear();
    if (input.find(L'"') != std::wstring::npos || output.find(L'"') != std::wstring::npos) {
        return false;
    }
    // -n: an output name that someone took meanwhile is never replaced.
    line = L"ffmpeg.exe -nostdin -n -loglevel error -i \"" + input +
           L"\" -map 0 -c copy -movflags +faststart \"" + output + L"\"";
    return true;
}
