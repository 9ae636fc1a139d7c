// Where the program finds another program that it starts by file name.
#pragma once

#include <string>

// The full path of `fileName` (for example L"ffmpeg.exe"): beside this program if it is there,
// otherwise in the first folder of the PATH that holds it. Empty and relative PATH entries are
// skipped, since they name the current folder: nothing is run from there unless it is the
// program's own. Returns an empty string when the file is found nowhere.
std::wstring FindProgramBesideOrOnPath(const wchar_t* fileName);
