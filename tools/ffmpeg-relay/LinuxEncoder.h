// Debian's ffmpeg, run beside Wine: a helper folder under Linux /tmp holds an sh script that
// makes a FIFO, signals `ready`, runs ffmpeg on the FIFO and leaves its exit status in `status`.
#pragma once

#include <windows.h>

#include <string>

struct LinuxEncoder {
    std::wstring folder;    // Windows path (Z:\tmp\...), no trailing separator
    std::string unixFolder; // the same folder as a Linux path
};

// True when Wine's kernel32 offers wine_get_unix_file_name, that is when running under Wine.
bool RunningUnderWine();

// The Linux path (UTF-8) of a Windows path, through Wine's wine_get_unix_file_name. Returns false
// when not running under Wine or when Wine can't map the path (for example a missing folder).
bool UnixPathOf(const std::wstring& windowsPath, std::string& unixPath);

// Creates a new, unique helper folder under Linux /tmp. Returns false with a message otherwise.
bool CreateHelperFolder(LinuxEncoder& encoder, std::wstring& error);

// The Linux path of the FIFO that ffmpeg reads.
std::string FifoUnixPath(const LinuxEncoder& encoder);

// Writes run.sh around `ffmpegCommand` (an sh command line, UTF-8) and starts it with /bin/sh.
// Returns false with a message when the script can't be written or sh can't be started.
bool StartLinuxEncoder(const LinuxEncoder& encoder, const std::string& ffmpegCommand,
                       std::wstring& error);

// Waits up to `limitMs` for the FIFO to exist (the script's `ready` file). False on time-out or
// when the script has ended without it.
bool WaitUntilReady(const LinuxEncoder& encoder, DWORD limitMs);

// Opens the FIFO for writing; INVALID_HANDLE_VALUE when it is gone (ffmpeg has already ended).
HANDLE OpenFifoForWriting(const LinuxEncoder& encoder);

// Waits up to `limitMs` for ffmpeg's exit status. False on time-out or an unreadable status.
bool WaitForEncoderStatus(const LinuxEncoder& encoder, DWORD limitMs, int& status);

// ffmpeg's own messages (its stderr), as far as they were written.
std::string ReadEncoderLog(const LinuxEncoder& encoder);

// Removes the helper files and then the folder (which only succeeds once the FIFO is gone). With
// `keepFiles` only `status` goes, which tells the script that the relay has taken it.
void RemoveHelperFolder(const LinuxEncoder& encoder, bool keepFiles);
