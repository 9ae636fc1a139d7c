#include "app/StatusLine.h"

#include <cmath>
#include <cwchar>

#include "recording/FrameTimeline.h"
#include "recording/Recording.h"

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

// "sound −18 dB": the peak, in whole dB, no lower than -99.
std::wstring SoundLevel(double peakDb)
{
    const long db = peakDb > -99.0 ? std::lround(peakDb) : -99;
    return L"sound " + std::wstring(db < 0 ? L"\u2212" : L"") + std::to_wstring(db < 0 ? -db : db) +
           L" dB";
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

StatusText RecordingStatus(int64_t frames, int64_t dropped, int64_t repeated, const DiskRoom& disk,
                           const TakeSoundStatus* sound)
{
    StatusText status;
    const bool withSound = sound != nullptr && sound->chosen;
    std::wstring warnings;
    if (withSound && sound->missingAtStart) {
        warnings += L"Warning: no sound device: " + sound->deviceName + L". ";
    } else if (withSound && sound->deviceGone) {
        warnings += L"Warning: the sound device is gone. ";
    } else if (withSound && sound->silent) {
        warnings += L"Warning: no sound is coming in. ";
    }
    // With sound the line has room for less: the frame count and the time left go, and with a
    // warning about the sound, all but the video's length.
    std::wstring line = L"REC " + FormatVideoTime(frames);
    if (!withSound) {
        line = L"REC " + Counts(frames, dropped);
    } else if (warnings.empty()) {
        line += kDot + FormatCount(dropped) + L" dropped";
    }
    if (repeated > 0 && warnings.empty()) {
        line += kDot + FormatCount(repeated) + L" repeated";
    }
    if (withSound && warnings.empty()) {
        line += kDot + SoundLevel(sound->peakDb);
    }
    if (disk.known && warnings.empty()) {
        line += kDot + (withSound ? FormatBytes(disk.freeBytes) + L" free" : FreeSpace(disk));
    }
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

std::wstring SavedWithoutSoundStatus(int64_t frames, int64_t dropped, const std::wstring& fileName,
                                     const std::wstring& soundFileName, bool standard)
{
    return SavedStatus(frames, dropped, fileName, standard) +
           L" (no sound in the video; the sound is in " + soundFileName + L")";
}
