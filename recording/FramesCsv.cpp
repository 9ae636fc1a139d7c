#include "recording/FramesCsv.h"

#include "recording/IsoTime.h"
#include "recording/TakeFiles.h"

namespace {

constexpr const char* kHeader =
    "frame,time_s,color_frame,color_time_ms,depth_frame,depth_time_ms,repeated,host_time\r\n";

} // namespace

std::wstring FramesCsvPathFor(const std::wstring& videoPath)
{
    return TakeFileStem(videoPath) + kFramesSuffix;
}

bool FramesCsvOpen(FramesCsvFile& file, const std::wstring& path)
{
    return CsvFileCreate(file, path, kHeader);
}

void FramesCsvAppend(FramesCsvFile& file, const FramesCsvRow& row)
{
    if (!file.handle.IsValid() || file.failed) {
        return;
    }
    file.buffer.clear();
    AppendFramesCsvRow(file.buffer, row);
    CsvFileWriteBuffer(file);
}

bool FramesCsvClose(FramesCsvFile& file)
{
    return CsvFileClose(file);
}

void AppendFramesCsvRow(std::string& out, const FramesCsvRow& row)
{
    AppendFrameColumns(out, row.videoFrame, row.colorFrameNumber, row.colorTimeMs);
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
