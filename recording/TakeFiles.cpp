#include "recording/TakeFiles.h"

#include "platform/Platform.h"
#include "recording/RecordingFileName.h"
#include "recording/SkeletonCsv.h"

namespace {

bool Move(const std::wstring& from, const std::wstring& to)
{
    // MoveFileW never replaces an existing file.
    return ::MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

} // namespace

TakeFiles TakeFilesFor(const std::wstring& videoPath, bool skeleton)
{
    TakeFiles files;
    files.video.startPath = videoPath;
    if (skeleton) {
        files.companions.push_back(TakeFile{SkeletonCsvPathFor(videoPath), std::wstring()});
    }
    return files;
}

bool NameTakeFiles(TakeFiles& files, const SYSTEMTIME& start, const SYSTEMTIME& end)
{
    files.video.finalPath = MakeRecordingFileName(files.video.startPath, start, end);
    const bool named = !files.video.finalPath.empty();
    for (TakeFile& companion : files.companions) {
        // Only the skeleton file is a companion so far: its name follows the video's stem.
        companion.finalPath = named ? SkeletonCsvPathFor(files.video.finalPath) : std::wstring();
    }
    return named;
}

FinalNames CheckFinalNames(const TakeFiles& files)
{
    if (files.video.finalPath.empty() || IsExistingFile(files.video.finalPath)) {
        return FinalNames::VideoTaken;
    }
    for (const TakeFile& companion : files.companions) {
        if (IsExistingFile(companion.startPath) &&
            (companion.finalPath.empty() || IsExistingFile(companion.finalPath))) {
            return FinalNames::CompanionTaken;
        }
    }
    return FinalNames::Free;
}

bool MoveCompanions(const TakeFiles& files)
{
    for (size_t i = 0; i < files.companions.size(); ++i) {
        const TakeFile& companion = files.companions[i];
        if (IsExistingFile(companion.startPath) &&
            !Move(companion.startPath, companion.finalPath)) {
            for (size_t j = 0; j < i; ++j) {
                Move(files.companions[j].finalPath, files.companions[j].startPath);
            }
            return false;
        }
    }
    return true;
}

void MoveCompanionsBack(const TakeFiles& files)
{
    for (const TakeFile& companion : files.companions) {
        if (IsExistingFile(companion.finalPath) && !IsExistingFile(companion.startPath)) {
            Move(companion.finalPath, companion.startPath);
        }
    }
}
