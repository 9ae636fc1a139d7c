// What the relay tells the outside world, having no console: messages appended to the file named
// by NVR_RELAY_LOG and one line per run appended to the file named by NVR_RELAY_RECORD.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The value of environment variable `name`, or an empty string when it is not set.
std::wstring EnvironmentValue(const wchar_t* name);

// Appends "[ffmpeg-relay PID] message" to the NVR_RELAY_LOG file, if that is set.
void LogMessage(const std::wstring& message);

// Appends raw bytes (for example ffmpeg's own log) to the NVR_RELAY_LOG file, if that is set.
void LogBytes(const std::string& bytes);

// What one run did, for NVR_RELAY_RECORD.
struct RunRecord {
    std::atomic<uint64_t> bytes{0}; // taken from the frame pipe (also read by the watchdog)
    uint32_t frameBytes = 0;        // one frame of the pipe input; 0 for a remux
    int exitCode = 0;
    bool written = false; // already appended (the stalling fault modes write it early)
};

// Appends "pid=P bytes=B frames=F exit=E cmdline=RAW" to the NVR_RELAY_RECORD file, if set;
// F counts whole frames of `frameBytes`.
void AppendRunRecord(const RunRecord& record);
