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

} // namespace

bool ParseRelayCommand(int argc, wchar_t** argv, RelayCommand& command, std::wstring& error)
{
    command = RelayCommand();
    for (int i = 1; i < argc; ++i) {
        command.args.emplace_back(argv[i]);
    }
    if (command.args.size() < 3) {
        error = L"expected options, -i PIPE and an output path";
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
            if (haveInput) {
                error = L"more than one input (-i) given";
                return false;
            }
            if (!IsPipeName(command.args[i])) {
                error = L"input '" + command.args[i] + L"' is not a pipe name (\\\\.\\pipe\\...)";
                return false;
            }
            haveInput = true;
            command.inputIndex = i;
        }
    }
    if (!haveInput) {
        error = L"no input pipe (-i) given";
        return false;
    }
    return true;
}

const std::wstring& InputPipeName(const RelayCommand& command)
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

std::string BuildEncoderCommand(const RelayCommand& command, const std::string& fifoPath,
                                const std::string& outputPath)
{
    std::string line = "/usr/bin/ffmpeg -nostdin -hide_banner -loglevel error";
    const size_t outputIndex = command.args.size() - 1;
    for (size_t i = 0; i < command.args.size(); ++i) {
        const std::string arg = i == command.inputIndex ? fifoPath
                                : i == outputIndex      ? outputPath
                                                        : ToUtf8(command.args[i]);
        line += ' ';
        line += ShellQuote(arg);
    }
    return line;
}
