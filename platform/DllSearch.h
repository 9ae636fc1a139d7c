// Where the program lets Windows look for a DLL that it loads by name.
#pragma once

#include <windows.h>

#include <string>

// The program's own folder and the system folder: never the current folder or the PATH, where
// anyone may have put a file of the same name.
constexpr DWORD kSafeDllSearchFolders =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// Makes kSafeDllSearchFolders the default search of every later load in this process, including
// the loads that system DLLs make on the program's behalf. Call it before anything else runs.
// Returns false where the system can't restrict the search (it then stays as it was).
bool RestrictDllSearchToSafeFolders();

// The full path of `name` in the program's own folder; empty when the program's path can't be
// had.
std::wstring PathBesideProgram(const wchar_t* name);

// Loads the DLL `name` from the program's own folder only, never from the current folder, the
// PATH or the system folder; what it imports comes from its own folder and the system folder.
// Null when it is not there or can't be loaded.
HMODULE LoadLibraryBesideProgram(const wchar_t* name);
