// A take's files: the video and the files written beside it (skeleton, depth, sound, frames and
// take files), each under the name it was recorded with and the final name it gets at the end. They
// are named together and moved together: all get their final names or all keep their start
// names. A companion's name is the video's stem (its path without the last extension) and a
// suffix of its own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TakeFile {
    std::wstring startPath;
    std::wstring finalPath; // empty until named
    const wchar_t* suffix = L"";
    // The take made this file (opened it, or its encoder did): only such a file moves with the
    // take and is listed in its take file. A file that was there before and could not be
    // written, say an older read-only one, is never the take's.
    bool created = false;
};

struct TakeFiles {
    TakeFile video;
    std::vector<TakeFile> companions;
};

constexpr const wchar_t* kSkeletonSuffix = L".skeleton.csv";
constexpr const wchar_t* kDepthSuffix = L".depth.mkv";
constexpr const wchar_t* kFramesSuffix = L".frames.csv";
constexpr const wchar_t* kTakeInfoSuffix = L".take.json";
constexpr const wchar_t* kSoundSuffix = L".sound.wav";

// `videoPath` without the extension of its last component ("D:\rec\take.mp4" gives
// "D:\rec\take").
std::wstring TakeFileStem(const std::wstring& videoPath);

// The files of a take recorded to the full path `videoPath`: with a skeleton file when
// `skeleton`, a depth file when `depth`, a sound file when `sound`, and the frames and take files
// when any of them; start names only.
TakeFiles TakeFilesFor(const std::wstring& videoPath, bool skeleton, bool depth = false,
                       bool sound = false);

// The companion with `suffix`, or null.
const TakeFile* FindTakeFile(const TakeFiles& files, const wchar_t* suffix);

// Gives every file its final name from the take's start and end: the video's timestamped name,
// and each companion named after it as it was after the start name. False when the video's name
// would not fit (every final name is then empty).
bool NameTakeFiles(TakeFiles& files, const SYSTEMTIME& start, const SYSTEMTIME& end);

// Why the final names can't be had: none (they are free), the video's own final name is taken
// (a take of the same path and minutes: it keeps its start name, as it always has), or a
// companion's is (also one not written yet, such as the take file).
enum class FinalNames { Free, VideoTaken, CompanionTaken };
FinalNames CheckFinalNames(const TakeFiles& files);

// What a companion holds, for the user: "Skeleton data", "Frame data", ...
const wchar_t* TakeFileContent(const TakeFile& file);

// Marks the file at `path` (the video or a companion's start path) as made by the take.
void NoteTakeFileCreated(TakeFiles& files, const std::wstring& path);

// Moves the companions the take created to their final names; on any failure moves back those
// already moved and returns false. Files the take did not create are left where they are.
bool MoveCompanions(const TakeFiles& files);

// Moves the companions back to their start names (after a later step failed).
void MoveCompanionsBack(const TakeFiles& files);
