#include "app/StatusLine.h"

#include <cwchar>

#include "recording/FrameTimeline.h"

namespace {

constexpr const wchar_t* kDot = L" \u00B7 ";

double SecondsLeft(const DiskRoom& disk)
{
    const uint64_t room = disk.freeBytes > disk.floorBytes ? disk.freeBytes - disk.floorBytes : 0;
    return disk.bytesPerSecond > 0 ? static_cast<double>(room) / disk.bytesPerSecond : 0.0;
}

// "41.2 GB free (about 9 h)"
std::wstring FreeSpace(const DiskRoom& disk)
{
    return FormatBytes(disk.freeBytes) + L" free (" + FormatTimeLeft(SecondsLeft(disk)) + L")";
}

std::wstring Counts(int64_t frames, int64_t dropped)
{
    return FormatVideoTime(frames) + kDot + FormatCount(frames) + L" frames" + kDot +
           FormatCount(dropped) + L" dropped";
}

} // namespace

std::wstring FormatVideoTime(int64_t frames)
{
    const int64_t seconds = frames > 0 ? frames / kTimelineFramesPerSecond : 0;
    wchar_t text[32];
    std::swprintf(text, 32, L"%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::wstring FormatCount(int64_t count)
{
    std::wstring digits = std::to_wstring(count < 0 ? -count : count);
    for (size_t group = digits.size(); group > 3; group -= 3) {
        digits.insert(group - 3, L",");
    }
    return count < 0 ? L"-" + digits : digits;
}

std::wstring FormatBytes(uint64_t bytes)
{
    constexpr double kMB = 1024.0 * 1024.0;
    constexpr double kGB = kMB * 1024.0;
    wchar_t text[32];
    if (bytes >= static_cast<uint64_t>(kGB)) {
        std::swprintf(text, 32, L"%.1f GB", static_cast<double>(bytes) / kGB);
    } else if (bytes >= static_cast<uint64_t>(kMB)) {
        std::swprintf(text, 32, L"%.0f MB", static_cast<double>(bytes) / kMB);
    } else {
        std::swprintf(text, 32, L"%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

std::wstring FormatTimeLeft(double seconds)
{
    if (seconds < 60) {
        return L"under a minute";
    }
    if (seconds < 3600) {
        return L"about " + std::to_wstring(static_cast<long long>(seconds / 60)) + L" min";
    }
    return L"about " + std::to_wstring(static_cast<long long>(seconds / 3600)) + L" h";
}

std::wstring IdleStatus(const DiskRoom& disk)
{
    if (!disk.known) {
        return L"Ready.";
    }
    return L"Ready. " + FormatBytes(disk.freeBytes) + L" free on " + disk.root + L" (" +
           FormatTimeLeft(SecondsLeft(disk)) + L")";
}

StatusText RecordingStatus(int64_t frames, int64_t dropped, int64_t repeated,
                           const DiskRoom& disk)
{
    StatusText status;
    std::wstring line = L"REC " + Counts(frames, dropped);
    if (repeated > 0) {
        line += kDot + FormatCount(repeated) + L" repeated";
    }
    if (disk.known) {
        line += kDot + FreeSpace(disk);
    }
    std::wstring warnings;
    const int64_t due = frames + dropped;
    if (due > 0 && static_cast<double>(dropped) > kDroppedWarningShare * static_cast<double>(due)) {
        warnings += L"Warning: frames are being dropped. ";
    }
    if (disk.known && SecondsLeft(disk) < kDiskWarningSeconds) {
        warnings += L"Warning: the disk is nearly full. ";
    }
    status.text = warnings + line;
    status.warning = !warnings.empty();
    return status;
}

std::wstring SavedStatus(int64_t frames, int64_t dropped, const std::wstring& fileName,
                         bool standard)
{
    return (standard ? L"Saved " : L"Saved (as recorded: the standard copy could not be made) ") +
           Counts(frames, dropped) + L": " + fileName;
}
