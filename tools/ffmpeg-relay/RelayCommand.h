// The relay's command line: what it accepts of ffmpeg's options, and the Linux ffmpeg command
// that it turns them into.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A parsed command line: the arguments after the program name, unchanged, with the position of
// the input (a frame pipe or, for a remux, a file) and the output path (always the last argument).
struct RelayCommand {
    std::vector<std::wstring> args;
    size_t inputIndex = 0;
    std::vector<size_t> moreInputs; // a remux's further file inputs (a take's sound)
    bool remux = false;             // the input is a file, not a frame pipe
    uint32_t frameBytes = 0;        // one raw frame of a pipe input (-video_size, -pixel_format)
};

// Parses argv[1..argc-1]: options as "-name value" pairs or known lone flags, one "-i" (a remux
// may name more files), and the output path last. An input named \\.\pipe\NAME is a frame pipe,
// whose frame size comes from -video_size WxH (640x480 when not given) and -pixel_format bgra or
// gray16le (bgra when not given) before it; any other input is a file to remux. Returns false with
// a message otherwise.
bool ParseRelayCommand(int argc, wchar_t** argv, RelayCommand& command, std::wstring& error);

// The input (pipe name or file path) and the output path as given.
const std::wstring& InputName(const RelayCommand& command);
const std::wstring& OutputPath(const RelayCommand& command);

// UTF-8 form of a wide string (empty on a conversion failure of a non-empty string).
std::string ToUtf8(const std::wstring& text);

// Wide form of a UTF-8 string.
std::wstring FromUtf8(const std::string& text);

// `text` as one sh word: single-quoted, with each embedded quote written '\''.
std::string ShellQuote(const std::string& text);

// The arguments, as sh words, that run Debian's ffmpeg with the same options, reading `inputPath`
// instead of the given input and writing `outputPath` (both UTF-8, as ffmpeg takes them) instead
// of the given output; `moreInputPaths` replace a remux's further inputs, in order.
std::string BuildEncoderCommand(const RelayCommand& command, const std::string& inputPath,
                                const std::string& outputPath,
                                const std::vector<std::string>& moreInputPaths = {});
