#include "RelayCommand.h"

#include <windows.h>

#include <cwchar>

namespace {

// ffmpeg options that take no value; every other option takes exactly one.
const wchar_t* const kLoneFlags[] = {L"-y",     L"-n",  L"-nostdin", L"-hide_banner", L"-nostats",
                                     L"-stats", L"-re", L"-an",      L"-sn",          L"-dn"};

const wchar_t kPipePrefix[] = L"\\\\.\\pipe\\";

bool IsLoneFlag(const std::wstring& arg)
{
    for (const wchar_t* flag : kLoneFlags) {
        if (arg == flag) {
            return true;
        }
    }
    return false;
}

bool IsOptionName(const std::wstring& arg)
{
    return arg.size() > 1 && arg[0] == L'-';
}

bool IsPipeName(const std::wstring& name)
{
    const size_t prefixLength = std::wcslen(kPipePrefix);
    return name.size() > prefixLength &&
           ::CompareStringOrdinal(name.c_str(), static_cast<int>(prefixLength), kPipePrefix,
                                  static_cast<int>(prefixLength), TRUE) == CSTR_EQUAL;
}

// Bytes a pixel of the raw input formats the recorder sends; 0 for any other format.
uint32_t BytesPerPixel(const std::wstring& format)
{
    if (format == L"bgra") {
        return 4;
    }
    if (format == L"gray16le") {
        return 2;
    }
    return 0;
}

// Reads a whole decimal number of 1..16384 from `text` at `pos`, moving `pos` past it.
bool ParseDimension(const std::wstring& text, size_t& pos, uint32_t& value)
{
    value = 0;
    const size_t start = pos;
    while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9' && pos - start < 6) {
        value = value * 10 + static_cast<uint32_t>(text[pos] - L'0');
        ++pos;
    }
    return pos > start && value >= 1 && value <= 16384;
}

// Reads "WxH" into `pixels`; false for anything else.
bool ParseVideoSize(const std::wstring& size, uint32_t& pixels)
{
    size_t pos = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!ParseDimension(size, pos, width) || pos >= size.size() || size[pos] != L'x') {
        return false;
    }
    ++pos;
    if (!ParseDimension(size, pos, height) || pos != size.size()) {
        return false;
    }
    pixels = width * height;
    return true;
}

// The size of one raw frame from the input options before `-i`, those not given taken as the
// colour stream's (640x480, bgra); false with a message for a size or format it does not know.
bool FrameBytesOf(const std::vector<std::wstring>& args, size_t inputIndex, uint32_t& frameBytes,
                  std::wstring& error)
{
    std::wstring size = L"640x480";
    std::wstring format = L"bgra";
    for (size_t i = 0; i + 1 < inputIndex; ++i) {
        if (args[i] == L"-video_size") {
            size = args[i + 1];
        } else if (args[i] == L"-pixel_format") {
            format = args[i + 1];
        }
    }
    uint32_t pixels = 0;
    if (!ParseVideoSize(size, pixels)) {
        error = L"-video_size '" + size + L"' is not WxH";
        return false;
    }
    const uint32_t pixelBytes = BytesPerPixel(format);
    if (pixelBytes == 0) {
        error = L"-pixel_format '" + format + L"' is neither bgra nor gray16le";
        return false;
    }
    frameBytes = pixels * pixelBytes;
    return true;
}

} // namespace

bool ParseRelayCommand(int argc, wchar_t** argv, RelayCommand& command, std::wstring& error)
{
    command = RelayCommand();
    for (int i = 1; i < argc; ++i) {
        command.args.emplace_back(argv[i]);
    }
    if (command.args.size() < 3) {
        error = L"expected options, -i INPUT and an output path";
        return false;
    }

    bool haveInput = false;
    const size_t outputIndex = command.args.size() - 1;
    for (size_t i = 0; i < outputIndex; ++i) {
        const std::wstring& arg = command.args[i];
        if (!IsOptionName(arg)) {
            error = L"unexpected argument '" + arg + L"' where an option was expected";
            return false;
        }
        if (IsLoneFlag(arg)) {
            continue;
        }
        if (i + 1 >= outputIndex) {
            error = L"option " + arg + L" has no value (or the output path is missing)";
            return false;
        }
        ++i;
        if (arg == L"-i") {
            if (haveInput && command.remux && !IsPipeName(command.args[i])) {
                command.moreInputs.push_back(i);
                continue;
            }
            if (haveInput) {
                error = L"more than one input (-i) given";
                return false;
            }
            haveInput = true;
            command.remux = !IsPipeName(command.args[i]);
            command.inputIndex = i;
        }
    }
    if (!haveInput) {
        error = L"no input (-i) given";
        return false;
    }
    return command.remux ||
           FrameBytesOf(command.args, command.inputIndex, command.frameBytes, error);
}

const std::wstring& InputName(const RelayCommand& command)
{
    return command.args[command.inputIndex];
}

const std::wstring& OutputPath(const RelayCommand& command)
{
    return command.args.back();
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string utf8(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length,
                          nullptr, nullptr);
    return utf8;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string BuildEncoderCommand(const RelayCommand& command, const std::string& inputPath,
                                const std::string& outputPath,
                                const std::vector<std::string>& moreInputPaths)
{
    std::string line = "/usr/bin/ffmpeg -nostdin -hide_banner -loglevel error";
    const size_t outputIndex = command.args.size() - 1;
    for (size_t i = 0; i < command.args.size(); ++i) {
        std::string arg = i == command.inputIndex ? inputPath
                          : i == outputIndex      ? outputPath
                                                  : ToUtf8(command.args[i]);
        for (size_t m = 0; m < command.moreInputs.size() && m < moreInputPaths.size(); ++m) {
            if (i == command.moreInputs[m]) {
                arg = moreInputPaths[m];
            }
        }
        line += ' ';
        line += ShellQuote(arg);
    }
    return line;
}
