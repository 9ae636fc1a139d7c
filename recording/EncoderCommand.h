// The encoder's command line: a fixed prefix that reads raw 640x480 BGRA frames at 30 a second
// from the frame pipe and writes 4:2:0 H.264, then the output path in double quotes.
#pragma once

#include <cstddef>
#include <string>

// The encoder program that the command line starts, found beside the recorder or on the PATH.
constexpr const wchar_t* kEncoderProgram = L"ffmpeg.exe";

// Everything before the output path, ending in the opening double quote.
constexpr const wchar_t* kEncoderCommandPrefix =
    L"ffmpeg.exe -y -f rawvideo -pixel_format bgra -video_size 640x480 -framerate 30 "
    L"-i \\\\.\\pipe\\vuduvazidozu -c:v libx264 -preset ultrafast -pix_fmt yuv420p \"";

// Size of the writable buffer that CreateProcessW receives, terminator included.
constexpr std::size_t kEncoderCommandCapacity = 1024;

// Writes prefix, path and closing quote into `buffer` (terminated). Fails, writing nothing but
// an empty string, when the path contains a double quote (it would end the quoted path and
// inject arguments) or when the line would not fit `capacity` characters with its terminator.
bool BuildEncoderCommandLine(const std::wstring& path, wchar_t* buffer, std::size_t capacity);
