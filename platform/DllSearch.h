// Where the program lets Windows look for a DLL that it loads by name.
#pragma once

#include <windows.h>

// The program's own folder and the system folder: never the current folder or the PATH, where
// anyone may have put a file of the same name.
constexpr DWORD kSafeDllSearchFolders =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// Makes kSafeDllSearchFolders the default search of every later load in this process, including
// the loads that system DLLs make on the program's behalf. Call it before anything else runs.
// Returns false where the system can't restrict the search (it then stays as it was).
bool RestrictDllSearchToSafeFolders();
