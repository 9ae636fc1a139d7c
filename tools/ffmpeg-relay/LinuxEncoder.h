// Debian's ffmpeg, run beside Wine: a helper folder under Linux /tmp holds an sh script that
// makes a FIFO, runs ffmpeg, signals `ready` and leaves ffmpeg's exit status in `status`. The
// relay holds the FIFO's write end for as long as it runs: for a recording it carries the frames
// to ffmpeg; when it closes without the `end` marker (the relay was killed), ffmpeg is killed too.
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

// Writes run.sh around `ffmpegCommand` (sh words, UTF-8) and starts it with /bin/sh. With
// `feedsInput` ffmpeg reads what the relay writes into the FIFO as its standard input (pipe:0);
// otherwise ffmpeg reads its own input and the FIFO only tells whether the relay is alive.
// Returns false with a message when the script can't be written or sh can't be started.
bool StartLinuxEncoder(const LinuxEncoder& encoder, const std::string& ffmpegCommand,
                       bool feedsInput, std::wstring& error);

// Waits up to `limitMs` for the FIFO to exist (the script's `ready` file). False on time-out or
// when the script has ended without it.
bool WaitUntilReady(const LinuxEncoder& encoder, DWORD limitMs);

// Opens the FIFO for writing; INVALID_HANDLE_VALUE when it is gone (ffmpeg has already ended).
HANDLE OpenFifoForWriting(const LinuxEncoder& encoder);

// Leaves the `end` marker: the FIFO closing after it is an end of input that ffmpeg sees and
// finishes its file on. Without it, the FIFO closing means the relay was killed. False when the
// marker can't be written.
bool MarkNormalEnd(const LinuxEncoder& encoder);

// Sends SIGKILL to Debian's ffmpeg (through /bin/kill, which can't be waited on). False when its
// process id is unknown or kill can't be started.
bool KillLinuxEncoder(const LinuxEncoder& encoder);

// Waits up to `limitMs` for ffmpeg's exit status. False on time-out or an unreadable status.
bool WaitForEncoderStatus(const LinuxEncoder& encoder, DWORD limitMs, int& status);

// ffmpeg's own messages (its stderr), as far as they were written.
std::string ReadEncoderLog(const LinuxEncoder& encoder);

// Removes the helper files and then the folder (which only succeeds once the FIFO is gone). With
// `keepFiles` only `status` goes, which tells the script that the relay has taken it.
void RemoveHelperFolder(const LinuxEncoder& encoder, bool keepFiles);
