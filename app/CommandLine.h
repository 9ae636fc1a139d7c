// The command line of scripted takes: its options, its exit codes and the request a second start
// hands to a running copy. Pure: nothing here touches a window, a file or the sensor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the process tells a script in its exit code.
constexpr int kExitTakeEnded = 0;   // the take ended normally (or the request was taken)
constexpr int kExitUsage = 2;       // the command line was not understood, or --help
constexpr int kExitFileExists = 3;  // a file of the take exists and --overwrite was not given
constexpr int kExitNotStarted = 4;  // the encoder could not start, or the disk is too full
constexpr int kExitTakeFault = 5;   // the take ended with a fault, or was not saved
constexpr int kExitNothingToDo = 6; // no running copy to stop, or a take already runs

// A switch the command line may set for one run, without storing it.
enum class SwitchChoice { Unset, On, Off };

// What a command line asks for.
struct ScriptRequest {
    bool record = false;       // --record PATH
    std::wstring path;         // the take's path, as given
    int64_t frameLimit = 0;    // --duration in frames at 30 a second; 0 until stopped
    bool overwrite = false;    // --overwrite
    bool exitWhenDone = false; // --exit
    bool stop = false;         // --stop
    SwitchChoice skeleton = SwitchChoice::Unset;
    SwitchChoice depth = SwitchChoice::Unset;
    std::wstring sound; // --sound: "none" or (part of) a device's name; empty when not given
    SwitchChoice lsl = SwitchChoice::Unset; // for the copy that starts; not handed over
};

struct ParsedCommandLine {
    bool understood = false;
    bool help = false;    // --help: show the usage
    std::wstring problem; // why it was not understood, for the user
    ScriptRequest request;
};

// The longest path a take may have, in characters (the path box's capacity, less its end).
constexpr std::size_t kMaxTakePathChars = 259;

// Splits the arguments of a command line (wWinMain's, without the program's name) as the C
// runtime does: blanks separate, double quotes group, `\"` is a quote, `""` inside quotes is
// a quote, and backslashes before a quote are halved.
std::vector<std::wstring> SplitArguments(const wchar_t* arguments);

// Reads the options, case-insensitive: --record PATH, --duration SECONDS (a decimal number
// greater than 0, with --record), --skeleton on|off, --depth on|off, --sound NAME|none,
// --lsl on|off, --overwrite and --exit (with --record), --stop (alone) and --help. Anything else
// is not understood.
ParsedCommandLine ParseCommandLine(const wchar_t* arguments);

// The usage, for the message box.
std::wstring UsageText();

// `current` unless `choice` sets the switch.
bool ChosenSwitch(SwitchChoice choice, bool current);

// A request handed to a running copy as WM_COPYDATA: this tag in dwData, and a versioned
// fixed header followed by the UTF-16 path and sound name. Only the options travel, never anything
// to run.
constexpr unsigned long kHandedRequestTag = 0x4E565251; // "NVRQ"
// The running copy answers with the request's exit code added to this tag, so that a window
// that does not know the request (and answers 0) is not taken for one that took it.
constexpr long kHandedAnswerTag = 0x4E560000;
std::vector<unsigned char> PackRequest(const ScriptRequest& request);

// Reads what PackRequest made. False for anything else: a wrong version or size, unknown
// flags, a missing or overlong path or sound name, neither or both of record and stop.
bool UnpackRequest(const void* data, std::size_t size, ScriptRequest& request);
