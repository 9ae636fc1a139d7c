// The few Windows calls that tests need to control, each behind a replaceable seam: the
// application-data folder query, the local clock, the start of the encoder process and the free
// space of a disk.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Fills `folder` with the user's roaming application-data folder (no trailing separator).
// Returns false, leaving `folder` untouched, when the folder can't be determined.
bool QueryAppDataFolder(std::wstring& folder);

// The local wall-clock time, as GetLocalTime gives it.
void QueryLocalTime(SYSTEMTIME* time);

// Starts the program at the full path `application` with a writable command line, suspended
// (the caller resumes its thread): no inherited handles, CREATE_NO_WINDOW, the caller's
// environment and current folder. Same result as CreateProcessW.
BOOL LaunchProcess(const wchar_t* application, wchar_t* commandLine, PROCESS_INFORMATION* process);

// Bytes free to this user on the disk that holds the file `path` (its folder is asked). False
// when that can't be told, for example because the folder does not exist.
bool QueryFreeDiskSpace(const std::wstring& path, uint64_t& freeBytes);

// `path` made full against the current folder of this moment; empty when it can't be.
std::wstring FullPathOf(const std::wstring& path);

// The root of the volume that holds `path` ("D:\"); empty when it can't be told.
std::wstring VolumeRootOf(const std::wstring& path);

// Opens the shell's file browser on `folder`, with `file` (a full path in it) selected when it
// is not empty. Nothing is waited for; a browser that can't be started is not reported.
void ShowInFolder(const std::wstring& folder, const std::wstring& file);

// The size of the file `path`; false when it can't be read.
bool QueryFileSize(const std::wstring& path, uint64_t& size);

// True when `path` names an existing file, not a folder (a relative path counts from the
// current folder).
bool IsExistingFile(const std::wstring& path);

// Test seams: each replaces one call above; passing nullptr restores the real call.
using AppDataFolderQuery = bool (*)(std::wstring& folder);
using LocalTimeQuery = void (*)(SYSTEMTIME* time);
using ProcessLauncher = BOOL (*)(const wchar_t* application, wchar_t* commandLine,
                                 PROCESS_INFORMATION* process);
void SetAppDataFolderQuery(AppDataFolderQuery query);
void SetLocalTimeQuery(LocalTimeQuery query);
using FreeDiskSpaceQuery = bool (*)(const std::wstring& path, uint64_t& freeBytes);
void SetProcessLauncher(ProcessLauncher launcher);
void SetFreeDiskSpaceQuery(FreeDiskSpaceQuery query);
using FolderShower = void (*)(const std::wstring& folder, const std::wstring& file);
void SetFolderShower(FolderShower shower);
