#include "app/CommandLine.h"

#include <cstring>

#include "recording/FrameTimeline.h"

namespace {

// --duration takes up to 9 digits of whole seconds and 6 of fraction.
constexpr int kMaxSecondsDigits = 9;
constexpr int kMaxFractionDigits = 6;
constexpr int64_t kMaxFrameLimit =
    999999999ll * kTimelineFramesPerSecond + kTimelineFramesPerSecond;

constexpr uint32_t kHandedRequestVersion = 2;
// A sound device's name, or the part of it that --sound gives, is at most this long.
constexpr uint32_t kMaxSoundChars = 256;
constexpr uint32_t kFlagRecord = 1;
constexpr uint32_t kFlagStop = 2;
constexpr uint32_t kFlagOverwrite = 4;
constexpr uint32_t kFlagExit = 8;
constexpr uint32_t kKnownFlags = kFlagRecord | kFlagStop | kFlagOverwrite | kFlagExit;

// The fixed part of a handed request; the path's UTF-16 characters follow it.
struct HandedRequestHeader {
    uint32_t version;
    uint32_t flags;
    uint32_t skeleton; // a SwitchChoice
    uint32_t depth;    // a SwitchChoice
    int64_t frameLimit;
    uint32_t pathChars;
    uint32_t soundChars;
};

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// ASCII lower case: option names and values are ASCII, and the locale must not matter.
std::wstring Lowered(const std::wstring& text)
{
    std::wstring lowered = text;
    for (wchar_t& c : lowered) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return lowered;
}

// Seconds as "60", "2.5" or ".5", rounded to whole frames at 30 a second (halves up). False
// for anything else, and for a time under half a frame.
bool ParseDuration(const std::wstring& text, int64_t& frames)
{
    int64_t whole = 0;
    int64_t fraction = 0;
    int64_t scale = 1;
    int wholeDigits = 0;
    int fractionDigits = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (++wholeDigits > kMaxSecondsDigits) {
            return false;
        }
        whole = whole * 10 + (text[i] - L'0');
    }
    if (i < text.size() && text[i] == L'.') {
        for (++i; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
            if (++fractionDigits > kMaxFractionDigits) {
                return false;
            }
            fraction = fraction * 10 + (text[i] - L'0');
            scale *= 10;
        }
    }
    if (i != text.size() || wholeDigits + fractionDigits == 0) {
        return false;
    }
    const int64_t scaledFrames = (whole * scale + fraction) * kTimelineFramesPerSecond;
    frames = (2 * scaledFrames + scale) / (2 * scale);
    return frames > 0;
}

bool ParseSwitch(const std::wstring& text, SwitchChoice& choice)
{
    const std::wstring value = Lowered(text);
    if (value == L"on" || value == L"off") {
        choice = value == L"on" ? SwitchChoice::On : SwitchChoice::Off;
        return true;
    }
    return false;
}

ParsedCommandLine NotUnderstood(const std::wstring& problem)
{
    ParsedCommandLine parsed;
    parsed.problem = problem;
    return parsed;
}

} // namespace

std::vector<std::wstring> SplitArguments(const wchar_t* arguments)
{
    std::vector<std::wstring> split;
    const wchar_t* c = arguments != nullptr ? arguments : L"";
    while (true) {
        while (IsBlank(*c)) {
            ++c;
        }
        if (*c == L'\0') {
            return split;
        }
        std::wstring argument;
        bool quoted = false;
        for (; *c != L'\0' && (quoted || !IsBlank(*c)); ++c) {
            size_t backslashes = 0;
            while (c[backslashes] == L'\\') {
                ++backslashes;
            }
            if (backslashes > 0) {
                const bool beforeQuote = c[backslashes] == L'"';
                argument.append(beforeQuote ? backslashes / 2 : backslashes, L'\\');
                c += backslashes;
                if (beforeQuote && backslashes % 2 == 1) {
                    argument += L'"';
                } else {
                    --c; // the quote, or what follows, is read next
                }
            } else if (*c == L'"') {
                if (quoted && c[1] == L'"') {
                    argument += L'"';
                    ++c;
                } else {
                    quoted = !quoted;
                }
            } else {
                argument += *c;
            }
        }
        split.push_back(argument);
    }
}

ParsedCommandLine ParseCommandLine(const wchar_t* arguments)
{
    const std::vector<std::wstring> split = SplitArguments(arguments);
    ParsedCommandLine parsed;
    ScriptRequest& request = parsed.request;
    bool duration = false;
    for (size_t i = 0; i < split.size(); ++i) {
        const std::wstring option = Lowered(split[i]);
        const bool takesValue = option == L"--record" || option == L"--duration" ||
                                option == L"--skeleton" || option == L"--depth" ||
                                option == L"--sound" || option == L"--lsl";
        const bool hasValue = i + 1 < split.size() && split[i + 1].rfind(L"--", 0) != 0;
        if (takesValue && !hasValue) {
            return NotUnderstood(split[i] + L" needs a value.");
        }
        const std::wstring value = takesValue ? split[++i] : std::wstring();
        bool twice = false;
        if (option == L"--record") {
            twice = request.record;
            request.record = true;
            request.path = value;
            if (value.empty() || value.size() > kMaxTakePathChars) {
                return NotUnderstood(L"--record needs a path of 1 to 259 characters.");
            }
        } else if (option == L"--duration") {
            twice = duration;
            duration = true;
            if (!ParseDuration(value, request.frameLimit)) {
                return NotUnderstood(L"--duration needs a number of seconds greater than 0, "
                                     L"such as 60 or 2.5, not: " +
                                     value);
            }
        } else if (option == L"--skeleton" || option == L"--depth" || option == L"--lsl") {
            SwitchChoice& choice = option == L"--skeleton" ? request.skeleton
                                   : option == L"--depth"  ? request.depth
                                                           : request.lsl;
            twice = choice != SwitchChoice::Unset;
            if (!ParseSwitch(value, choice)) {
                return NotUnderstood(split[i - 1] + L" needs on or off, not: " + value);
            }
        } else if (option == L"--sound") {
            twice = !request.sound.empty();
            request.sound = value;
            if (value.empty() || value.size() > kMaxSoundChars) {
                return NotUnderstood(L"--sound needs a sound device's name (or part of it) or "
                                     L"none.");
            }
        } else if (option == L"--overwrite" || option == L"--exit" || option == L"--stop" ||
                   option == L"--help") {
            bool& flag = option == L"--overwrite" ? request.overwrite
                         : option == L"--exit"    ? request.exitWhenDone
                         : option == L"--stop"    ? request.stop
                                                  : parsed.help;
            twice = flag;
            flag = true;
        } else {
            return NotUnderstood(L"Unknown option: " + split[i]);
        }
        if (twice) {
            return NotUnderstood(split[i - (takesValue ? 1 : 0)] + L" is given twice.");
        }
    }
    if (!request.record && (duration || request.overwrite || request.exitWhenDone)) {
        return NotUnderstood(L"--duration, --overwrite and --exit go with --record.");
    }
    if (request.stop && split.size() > 1) {
        return NotUnderstood(L"--stop goes alone.");
    }
    parsed.understood = !parsed.help;
    return parsed;
}

std::wstring UsageText()
{
    return L"Usage: NimbraVIZRecorder.exe [options]\n\n"
           L"--record PATH\tstart recording to PATH as soon as the program is up\n"
           L"--duration SECONDS\tend the recording after this much video\n"
           L"--skeleton on|off\tsave skeleton data in this run (not remembered)\n"
           L"--depth on|off\tsave depth in this run (not remembered)\n"
           L"--sound NAME|none\trecord sound from the device whose name is or holds NAME, "
           L"or none, in this run (not remembered)\n"
           L"--lsl on|off\tpublish to Lab Streaming Layer in this run (not remembered)\n"
           L"--overwrite\treplace the recording's files if they exist\n"
           L"--exit\tquit once the recording has ended and is saved\n"
           L"--stop\tstop the recording of the running copy\n"
           L"--help\tshow this text\n\n"
           L"When a copy is running already, --record and --stop are handed to it.\n\n"
           L"Exit codes: 0 ended normally or handed over, 2 not understood, 3 a file exists, "
           L"4 could not start, 5 ended with a fault, 6 nothing to stop or already recording.";
}

bool ChosenSwitch(SwitchChoice choice, bool current)
{
    return choice == SwitchChoice::Unset ? current : choice == SwitchChoice::On;
}

std::vector<unsigned char> PackRequest(const ScriptRequest& request)
{
    HandedRequestHeader header = {};
    header.version = kHandedRequestVersion;
    header.flags = (request.record ? kFlagRecord : 0) | (request.stop ? kFlagStop : 0) |
                   (request.overwrite ? kFlagOverwrite : 0) |
                   (request.exitWhenDone ? kFlagExit : 0);
    header.skeleton = static_cast<uint32_t>(request.skeleton);
    header.depth = static_cast<uint32_t>(request.depth);
    header.frameLimit = request.frameLimit;
    header.pathChars = static_cast<uint32_t>(request.path.size());
    header.soundChars = static_cast<uint32_t>(request.sound.size());
    const std::wstring texts = request.path + request.sound;
    std::vector<unsigned char> packed(sizeof(header) + texts.size() * sizeof(wchar_t));
    std::memcpy(packed.data(), &header, sizeof(header));
    if (!texts.empty()) {
        std::memcpy(packed.data() + sizeof(header), texts.data(), texts.size() * sizeof(wchar_t));
    }
    return packed;
}

bool UnpackRequest(const void* data, std::size_t size, ScriptRequest& request)
{
    HandedRequestHeader header = {};
    if (data == nullptr || size < sizeof(header)) {
        return false;
    }
    std::memcpy(&header, data, sizeof(header));
    const bool record = (header.flags & kFlagRecord) != 0;
    const bool stop = (header.flags & kFlagStop) != 0;
    if (header.version != kHandedRequestVersion || (header.flags & ~kKnownFlags) != 0 ||
        record == stop || header.skeleton > static_cast<uint32_t>(SwitchChoice::Off) ||
        header.depth > static_cast<uint32_t>(SwitchChoice::Off) || header.frameLimit < 0 ||
        header.frameLimit > kMaxFrameLimit || header.pathChars > kMaxTakePathChars ||
        (header.pathChars == 0) == record || header.soundChars > kMaxSoundChars ||
        size != sizeof(header) + (header.pathChars + header.soundChars) * sizeof(wchar_t)) {
        return false;
    }
    std::wstring texts(header.pathChars + header.soundChars, L'\0');
    if (!texts.empty()) {
        std::memcpy(&texts[0], static_cast<const unsigned char*>(data) + sizeof(header),
                    texts.size() * sizeof(wchar_t));
    }
    if (texts.find(L'\0') != std::wstring::npos) {
        return false;
    }
    request = ScriptRequest();
    request.record = record;
    request.stop = stop;
    request.overwrite = (header.flags & kFlagOverwrite) != 0;
    request.exitWhenDone = (header.flags & kFlagExit) != 0;
    request.skeleton = static_cast<SwitchChoice>(header.skeleton);
    request.depth = static_cast<SwitchChoice>(header.depth);
    request.frameLimit = header.frameLimit;
    request.path = texts.substr(0, header.pathChars);
    request.sound = texts.substr(header.pathChars);
    return true;
}
