// The relay's command line: what it accepts of ffmpeg's options, and the Linux ffmpeg command
// that it turns them into.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A parsed command line: the arguments after the program name, unchanged, with the positions of
// the input pipe's name and of the output path (always the last argument).
struct RelayCommand {
    std::vector<std::wstring> args;
    size_t inputIndex = 0;
    uint32_t frameBytes = 0; // one raw frame (-video_size, -pixel_format)
};

// Parses argv[1..argc-1]: options as "-name value" pairs or known lone flags, exactly one
// "-i \\.\pipe\NAME", and the output path last. -video_size WxH and a -pixel_format of bgra or
// gray16le must come before -i. Returns false with a message otherwise.
bool ParseRelayCommand(int argc, wchar_t** argv, RelayCommand& command, std::wstring& error);

// The input pipe's name and the output path as given.
const std::wstring& InputPipeName(const RelayCommand& command);
const std::wstring& OutputPath(const RelayCommand& command);

// UTF-8 form of a wide string (empty on a conversion failure of a non-empty string).
std::string ToUtf8(const std::wstring& text);

// Wide form of a UTF-8 string.
std::wstring FromUtf8(const std::string& text);

// `text` as one sh word: single-quoted, with each embedded quote written '\''.
std::string ShellQuote(const std::string& text);

// The arguments, as sh words, that run Debian's ffmpeg with the same options, reading `inputPath`
// instead of the given input and writing `outputPath` (both UTF-8, as ffmpeg takes them) instead
// of the given output.
std::string BuildEncoderCommand(const RelayCommand& command, const std::string& inputPath,
                                const std::string& outputPath);
