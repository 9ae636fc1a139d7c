#include "recording/CsvFile.h"

#include <windows.h>

namespace {

// Appends videoFrame / 30 (videoFrame >= 0) with exactly six decimals, rounded to the nearest
// microsecond, in integers so that no float rounding shows.
void AppendVideoSeconds(std::string& out, int64_t videoFrame)
{
    AppendNumber(out, videoFrame / 30);
    // remainder * 10^6 / 30 ends in .0, .33.. or .66..: adding 1 before dividing by 3 rounds it.
    const int64_t micro = ((videoFrame % 30) * 100000 + 1) / 3;
    const size_t point = out.size();
    AppendNumber(out, 1000000 + micro); // seven digits; the leading 1 becomes the point
    out[point] = '.';
}

} // namespace

bool CsvFileCreate(CsvFile& file, const std::wstring& path, const std::string& header)
{
    file.handle.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    file.failed = !file.handle.IsValid();
    if (file.failed) {
        return false;
    }
    file.buffer = header;
    CsvFileWriteBuffer(file);
    return !file.failed;
}

void CsvFileWriteBuffer(CsvFile& file)
{
    DWORD written = 0;
    if (!::WriteFile(file.handle.Get(), file.buffer.data(), static_cast<DWORD>(file.buffer.size()),
                     &written, nullptr) ||
        written != file.buffer.size()) {
        file.failed = true;
    }
}

bool CsvFileClose(CsvFile& file)
{
    const bool complete = file.handle.IsValid() && !file.failed;
    file.handle.Reset();
    file.failed = false;
    return complete;
}

void AppendFrameColumns(std::string& out, int64_t videoFrame, uint32_t colorFrameNumber,
                        int64_t colorTimeMs)
{
    AppendNumber(out, videoFrame);
    out += ',';
    AppendVideoSeconds(out, videoFrame);
    out += ',';
    AppendNumber(out, colorFrameNumber);
    out += ',';
    AppendNumber(out, colorTimeMs);
    out += ',';
}
