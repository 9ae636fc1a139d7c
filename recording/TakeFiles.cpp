#include "recording/TakeFiles.h"

#include "platform/Platform.h"
#include "recording/RecordingFileName.h"

namespace {

bool Move(const std::wstring& from, const std::wstring& to)
{
    // MoveFileW never replaces an existing file.
    return ::MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

} // namespace

std::wstring TakeFileStem(const std::wstring& videoPath)
{
    const size_t nameStart = videoPath.find_last_of(L"\\/:");
    const size_t dot = videoPath.find_last_of(L'.');
    const bool hasExtension =
        dot != std::wstring::npos && (nameStart == std::wstring::npos || dot > nameStart);
    return videoPath.substr(0, hasExtension ? dot : videoPath.size());
}

TakeFiles TakeFilesFor(const std::wstring& videoPath, bool skeleton, bool depth, bool sound)
{
    TakeFiles files;
    files.video.startPath = videoPath;
    const std::wstring stem = TakeFileStem(videoPath);
    const auto add = [&](const wchar_t* suffix) {
        files.companions.push_back(TakeFile{stem + suffix, std::wstring(), suffix});
    };
    if (skeleton) {
        add(kSkeletonSuffix);
    }
    if (depth) {
        add(kDepthSuffix);
    }
    if (sound) {
        add(kSoundSuffix);
    }
    if (skeleton || depth || sound) {
        add(kFramesSuffix);
        add(kTakeInfoSuffix);
    }
    return files;
}

const TakeFile* FindTakeFile(const TakeFiles& files, const wchar_t* suffix)
{
    for (const TakeFile& companion : files.companions) {
        if (std::wstring(companion.suffix) == suffix) {
            return &companion;
        }
    }
    return nullptr;
}

bool NameTakeFiles(TakeFiles& files, const SYSTEMTIME& start, const SYSTEMTIME& end)
{
    files.video.finalPath = MakeRecordingFileName(files.video.startPath, start, end);
    const bool named = !files.video.finalPath.empty();
    for (TakeFile& companion : files.companions) {
        companion.finalPath =
            named ? TakeFileStem(files.video.finalPath) + companion.suffix : std::wstring();
    }
    return named;
}

FinalNames CheckFinalNames(const TakeFiles& files)
{
    if (files.video.finalPath.empty() || IsExistingFile(files.video.finalPath)) {
        return FinalNames::VideoTaken;
    }
    for (const TakeFile& companion : files.companions) {
        if (companion.finalPath.empty() || IsExistingFile(companion.finalPath)) {
            return FinalNames::CompanionTaken;
        }
    }
    return FinalNames::Free;
}

const wchar_t* TakeFileContent(const TakeFile& file)
{
    const std::wstring suffix = file.suffix;
    return suffix == kSkeletonSuffix ? L"Skeleton data"
           : suffix == kFramesSuffix ? L"Frame data"
           : suffix == kDepthSuffix  ? L"Depth"
           : suffix == kSoundSuffix  ? L"Sound"
           : suffix == kTakeInfoSuffix ? L"The take file"
                                       : L"A file of the recording";
}

void NoteTakeFileCreated(TakeFiles& files, const std::wstring& path)
{
    if (files.video.startPath == path) {
        files.video.created = true;
    }
    for (TakeFile& companion : files.companions) {
        if (companion.startPath == path) {
            companion.created = true;
        }
    }
}

bool MoveCompanions(const TakeFiles& files)
{
    for (size_t i = 0; i < files.companions.size(); ++i) {
        const TakeFile& companion = files.companions[i];
        if (companion.created && IsExistingFile(companion.startPath) &&
            !Move(companion.startPath, companion.finalPath)) {
            for (size_t j = 0; j < i; ++j) {
                if (files.companions[j].created) {
                    Move(files.companions[j].finalPath, files.companions[j].startPath);
                }
            }
            return false;
        }
    }
    return true;
}

void MoveCompanionsBack(const TakeFiles& files)
{
    for (const TakeFile& companion : files.companions) {
        if (companion.created && IsExistingFile(companion.finalPath) &&
            !IsExistingFile(companion.startPath)) {
            Move(companion.finalPath, companion.startPath);
        }
    }
}
