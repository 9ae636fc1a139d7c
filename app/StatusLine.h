// The texts of the control window's status line: what the program does, what a take has
// recorded and how much room its disk has left. Pure: the caller reads the counts and the disk.
#pragma once

#include <cstdint>
#include <string>

// Before the first take the time left on a disk is judged at this rate.
constexpr double kAssumedBytesPerSecond = 1024.0 * 1024.0;
// A take warns when more than this share of its frames were dropped...
constexpr double kDroppedWarningShare = 0.01;
// ...or when its disk has less than this many seconds left.
constexpr double kDiskWarningSeconds = 5 * 60;

// The disk a path is on: its free bytes and its root ("D:\"); `known` is false when it can't be
// read. `bytesPerSecond` is the rate at which a take fills it.
struct DiskRoom {
    bool known = false;
    uint64_t freeBytes = 0;
    std::wstring root;
    double bytesPerSecond = kAssumedBytesPerSecond;
    uint64_t floorBytes = 0; // a take ends when the free space falls to this: the time left is
                             // until then
};

struct TakeSoundStatus;

struct StatusText {
    std::wstring text;
    bool warning = false; // drawn in red
};

// "0:12:34": hours, minutes and seconds of `frames` at 30 a second.
std::wstring FormatVideoTime(int64_t frames);

// "22,620": digits in groups of three.
std::wstring FormatCount(int64_t count);

// "41.2 GB", "512 MB", "0 bytes": with one decimal from GB up.
std::wstring FormatBytes(uint64_t bytes);

// "about 9 h", "about 25 min", "under a minute".
std::wstring FormatTimeLeft(double seconds);

// Idle: "Ready. 41.2 GB free on D:\ (about 9 h)", or "Ready." when the disk is unknown.
std::wstring IdleStatus(const DiskRoom& disk);

// Recording: "REC 0:12:34 · 22,620 frames · 0 dropped · 41.2 GB free (about 9 h)", with
// " · N repeated" after the dropped count when frames were repeated, and a warning in words at
// the front when more than 1 % of the frames were dropped or the disk has under 5 minutes left.
// With a take's `sound`, a shorter line: "REC 0:12:34 · 0 dropped · sound −18 dB · 41.2 GB free"
// (the peak level), or a warning and "REC 0:12:34" while its device, absent at the start, is
// missing, is gone, or sends only silence.
StatusText RecordingStatus(int64_t frames, int64_t dropped, int64_t repeated, const DiskRoom& disk,
                           const TakeSoundStatus* sound = nullptr);

// After a take: "Saved 0:12:34 · 22,620 frames · 0 dropped: take.mp4_....mp4" (`fileName`
// without its folder) for a standard MP4; "Saved (as recorded: the standard copy could not be
// made) 0:12:34 ..." for the fragmented file as the encoder wrote it.
std::wstring SavedStatus(int64_t frames, int64_t dropped, const std::wstring& fileName,
                         bool standard = true);

// After a take whose sound could not be put into its video: "Saved ... (no sound in the video;
// the sound is in take....sound.wav)".
std::wstring SavedWithoutSoundStatus(int64_t frames, int64_t dropped, const std::wstring& fileName,
                                     const std::wstring& soundFileName, bool standard = true);
