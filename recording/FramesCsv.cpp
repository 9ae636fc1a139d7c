#include "recording/FramesCsv.h"

#include <charconv>

#include "recording/IsoTime.h"
#include "recording/TakeFiles.h"

namespace {

constexpr const char* kHeader =
    "frame,time_s,color_frame,color_time_ms,depth_frame,depth_time_ms,repeated,host_time\r\n";

template <typename Number> void AppendNumber(std::string& out, Number value)
{
    char text[32];
    const std::to_chars_result result = std::to_chars(text, text + sizeof(text), value);
    out.append(text, result.ptr);
}

// videoFrame / 30 with exactly six decimals, in integers.
void AppendVideoSeconds(std::string& out, int64_t videoFrame)
{
    AppendNumber(out, videoFrame / 30);
    const int64_t micro = ((videoFrame % 30) * 100000 + 1) / 3;
    const size_t point = out.size();
    AppendNumber(out, 1000000 + micro);
    out[point] = '.';
}

void Write(FramesCsvFile& file)
{
    DWORD written = 0;
    if (!::WriteFile(file.handle.Get(), file.buffer.data(), static_cast<DWORD>(file.buffer.size()),
                     &written, nullptr) ||
        written != file.buffer.size()) {
        file.failed = true;
    }
}

} // namespace

std::wstring FramesCsvPathFor(const std::wstring& videoPath)
{
    return TakeFileStem(videoPath) + L".frames.csv";
}

bool FramesCsvOpen(FramesCsvFile& file, const std::wstring& path)
{
    file.handle.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    file.failed = !file.handle.IsValid();
    if (file.failed) {
        return false;
    }
    file.buffer.assign(kHeader);
    Write(file);
    return !file.failed;
}

void FramesCsvAppend(FramesCsvFile& file, const FramesCsvRow& row)
{
    if (!file.handle.IsValid() || file.failed) {
        return;
    }
    file.buffer.clear();
    AppendFramesCsvRow(file.buffer, row);
    Write(file);
}

bool FramesCsvClose(FramesCsvFile& file)
{
    const bool complete = file.handle.IsValid() && !file.failed;
    file.handle.Reset();
    file.failed = false;
    return complete;
}

void AppendFramesCsvRow(std::string& out, const FramesCsvRow& row)
{
    AppendNumber(out, row.videoFrame);
    out += ',';
    AppendVideoSeconds(out, row.videoFrame);
    out += ',';
    AppendNumber(out, row.colorFrameNumber);
    out += ',';
    AppendNumber(out, row.colorTimeMs);
    out += ',';
    if (row.hasDepth) {
        AppendNumber(out, row.depthFrameNumber);
        out += ',';
        AppendNumber(out, row.depthTimeMs);
    } else {
        out += ',';
    }
    out += row.repeated ? ",1," : ",0,";
    out += FormatIsoLocalTime(row.takenAt);
    out += "\r\n";
}
