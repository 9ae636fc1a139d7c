#include "recording/SkeletonCsv.h"

#include <initializer_list>
#include <new>

#include "recording/TakeFiles.h"
#include "sensor/SkeletonOverlay.h"

namespace {

// Joint names in the runtime's order, the stems of the joint columns.
constexpr const char* kJointNames[NUI_SKELETON_POSITION_COUNT] = {
    "hip_center",  "spine",      "shoulder_center", "head",           "shoulder_left",
    "elbow_left",  "wrist_left", "hand_left",       "shoulder_right", "elbow_right",
    "wrist_right", "hand_right", "hip_left",        "knee_left",      "ankle_left",
    "foot_left",   "hip_right",  "knee_right",      "ankle_right",    "foot_right",
};
constexpr const char* kJointFields[] = {"_x", "_y", "_z", "_u", "_v", "_state"};

// Longest row: 8 leading numbers of at most 26 characters, 60 floats of at most 15
// ("-1.23456789e-38") and 60 integers of at most 11, each with a separator, and the line end.
constexpr size_t kMaxRowBytes = 8 * 27 + 60 * 16 + 60 * 12 + 2;
constexpr size_t kBufferBytes = NUI_SKELETON_COUNT * kMaxRowBytes;

void AppendRow(std::string& out, const SkeletonCsvFrame& frame, int record)
{
    const NUI_SKELETON_DATA& data = frame.skeletons->SkeletonData[record];
    AppendFrameColumns(out, frame.videoFrame, frame.colorFrameNumber, frame.colorTimeMs);
    AppendNumber(out, frame.skeletons->dwFrameNumber);
    out += ',';
    AppendNumber(out, frame.skeletons->liTimeStamp.QuadPart);
    out += ',';
    AppendNumber(out, record);
    out += ',';
    AppendNumber(out, data.dwTrackingID);
    for (int j = 0; j < NUI_SKELETON_POSITION_COUNT; ++j) {
        const Vector4& joint = data.SkeletonPositions[j];
        const POINT point = SkeletonToScreen(joint.x, joint.y, joint.z);
        for (float coordinate : {joint.x, joint.y, joint.z}) {
            out += ',';
            AppendNumber(out, coordinate);
        }
        out += ',';
        AppendNumber(out, point.x);
        out += ',';
        AppendNumber(out, point.y);
        out += ',';
        AppendNumber(out, data.eSkeletonPositionTrackingState[j]);
    }
    out += "\r\n";
}

void AppendHeader(std::string& out)
{
    out += "frame,time_s,color_frame,color_time_ms,skeleton_frame,skeleton_time_ms,skeleton,"
           "tracking_id";
    for (const char* joint : kJointNames) {
        for (const char* field : kJointFields) {
            out += ',';
            out += joint;
            out += field;
        }
    }
    out += "\r\n";
}

} // namespace

std::wstring SkeletonCsvPathFor(const std::wstring& videoPath)
{
    return TakeFileStem(videoPath) + kSkeletonSuffix;
}

bool SkeletonCsvOpen(SkeletonCsvFile& file, const std::wstring& path)
{
    std::string header;
    AppendHeader(header);
    if (!CsvFileCreate(file, path, header)) {
        return false;
    }
    try {
        file.buffer.reserve(kBufferBytes);
    } catch (const std::bad_alloc&) {
        file.failed = true;
        return false;
    }
    return true;
}

void SkeletonCsvAppend(SkeletonCsvFile& file, const SkeletonCsvFrame& frame)
{
    if (!file.handle.IsValid() || file.failed) {
        return;
    }
    file.buffer.clear();
    AppendSkeletonCsvRows(file.buffer, frame);
    if (!file.buffer.empty()) {
        CsvFileWriteBuffer(file);
    }
}

bool SkeletonCsvClose(SkeletonCsvFile& file)
{
    return CsvFileClose(file);
}

void AppendSkeletonCsvRows(std::string& out, const SkeletonCsvFrame& frame)
{
    if (frame.skeletons == nullptr) {
        return;
    }
    for (int record = 0; record < NUI_SKELETON_COUNT; ++record) {
        if (frame.skeletons->SkeletonData[record].eTrackingState == NUI_SKELETON_TRACKED) {
            AppendRow(out, frame, record);
        }
    }
}
