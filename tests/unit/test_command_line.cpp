// The command line of scripted takes: how arguments split, the options and their values, the
// lines that are not understood, and the request a second start hands over.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/CommandLine.h"

namespace {

using Args = std::vector<std::wstring>;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

TEST(CommandLine, SplitsAsTheCRuntimeDoes)
{
    EXPECT_EQ(SplitArguments(L""), Args{});
    EXPECT_EQ(SplitArguments(nullptr), Args{});
    EXPECT_EQ(SplitArguments(L"  --record\t\"D:\\my rec\\a b.mp4\"  --exit "),
              (Args{L"--record", L"D:\\my rec\\a b.mp4", L"--exit"}));
    EXPECT_EQ(SplitArguments(L"a\"b c\"d \"\" e"), (Args{L"ab cd", L"", L"e"}));
    // Backslashes are literal unless a quote follows them.
    EXPECT_EQ(SplitArguments(L"C:\\a\\\\b \\\"q\\\" \"x\\\\\" \"say \"\"hi\"\"\""),
              (Args{L"C:\\a\\\\b", L"\"q\"", L"x\\", L"say \"hi\""}));
}

TEST(CommandLine, ReadsEveryOptionInAnyCase)
{
    ParsedCommandLine parsed = ParseCommandLine(
        L"--RECORD \"D:\\rec\\s 01.mp4\" --Duration 60 --skeleton ON --depth off --Overwrite "
        L"--EXIT --Sound \"xbox NUI\" --lsl On");
    ASSERT_TRUE(parsed.understood) << Narrow(parsed.problem);
    const ScriptRequest& request = parsed.request;
    EXPECT_TRUE(request.record && request.overwrite && request.exitWhenDone && !request.stop);
    EXPECT_EQ(request.path, L"D:\\rec\\s 01.mp4");
    EXPECT_EQ(request.frameLimit, 1800);
    EXPECT_EQ(request.skeleton, SwitchChoice::On);
    EXPECT_EQ(request.depth, SwitchChoice::Off);
    EXPECT_EQ(request.sound, L"xbox NUI");
    EXPECT_EQ(request.lsl, SwitchChoice::On);
    EXPECT_FALSE(ParseCommandLine(L"--lsl yes").understood);

    // Seconds to whole frames at 30 a second, halves up.
    const std::pair<const wchar_t*, int64_t> durations[] = {
        {L"5", 150}, {L"2.5", 75}, {L".1", 3}, {L"0.05", 2}, {L"0.016", 0}};
    for (const auto& duration : durations) {
        parsed = ParseCommandLine(
            (std::wstring(L"--record a.mp4 --duration ") + duration.first).c_str());
        EXPECT_EQ(parsed.understood, duration.second > 0) << Narrow(duration.first);
        EXPECT_EQ(parsed.request.frameLimit, duration.second) << Narrow(duration.first);
    }
    EXPECT_EQ(ParseCommandLine(L"--record a.mp4 --duration 999999999").request.frameLimit,
              29999999970ll);

    parsed = ParseCommandLine(L"--Stop");
    EXPECT_TRUE(parsed.understood && parsed.request.stop && !parsed.request.record);
    parsed = ParseCommandLine(L"--skeleton off");
    EXPECT_TRUE(parsed.understood && !parsed.request.record);
    EXPECT_TRUE(ParseCommandLine(L"").understood);
    parsed = ParseCommandLine(L"--HELP");
    EXPECT_TRUE(parsed.help && !parsed.understood && parsed.problem.empty());
}

TEST(CommandLine, SaysWhatItDoesNotUnderstand)
{
    const std::pair<const wchar_t*, const wchar_t*> bad[] = {
        {L"--bogus", L"Unknown option: --bogus"},
        {L"take.mp4", L"Unknown option: take.mp4"},
        {L"--record", L"--record needs a value."},
        {L"--record --exit", L"--record needs a value."},
        {L"--record \"\"", L"--record needs a path of 1 to 259 characters."},
        {L"--record a.mp4 --duration 5s",
         L"--duration needs a number of seconds greater than 0, such as 60 or 2.5, not: 5s"},
        {L"--record a.mp4 --duration -5",
         L"--duration needs a number of seconds greater than 0, such as 60 or 2.5, not: -5"},
        {L"--record a.mp4 --duration 0", L"--duration needs a number of seconds greater than 0, "
                                         L"such as 60 or 2.5, not: 0"},
        {L"--record a.mp4 --Skeleton yes", L"--Skeleton needs on or off, not: yes"},
        {L"--record a.mp4 --record b.mp4", L"--record is given twice."},
        {L"--record a.mp4 --exit --EXIT", L"--EXIT is given twice."},
        {L"--sound none --sound mic", L"--sound is given twice."},
        {L"--duration 5", L"--duration, --overwrite and --exit go with --record."},
        {L"--exit", L"--duration, --overwrite and --exit go with --record."},
        {L"--stop --record a.mp4", L"--stop goes alone."},
        {L"--stop --exit", L"--duration, --overwrite and --exit go with --record."},
    };
    for (const auto& line : bad) {
        const ParsedCommandLine parsed = ParseCommandLine(line.first);
        EXPECT_FALSE(parsed.understood) << Narrow(line.first);
        EXPECT_EQ(parsed.problem, line.second) << Narrow(line.first);
    }
    const std::wstring longest(kMaxTakePathChars, L'a');
    EXPECT_TRUE(ParseCommandLine((L"--record " + longest).c_str()).understood);
    EXPECT_FALSE(ParseCommandLine((L"--record " + longest + L"a").c_str()).understood);
}

TEST(CommandLine, HandsOverExactlyTheRequestAndRefusesAnythingElse)
{
    ScriptRequest sent;
    sent.record = true;
    sent.path = L"D:\\rec\\s 01.mp4";
    sent.frameLimit = 1800;
    sent.exitWhenDone = true;
    sent.skeleton = SwitchChoice::Off;
    sent.depth = SwitchChoice::On;
    sent.sound = L"Array (Xbox";
    std::vector<unsigned char> packed = PackRequest(sent);
    ScriptRequest received;
    ASSERT_TRUE(UnpackRequest(packed.data(), packed.size(), received));
    EXPECT_TRUE(received.record && received.exitWhenDone && !received.overwrite && !received.stop);
    EXPECT_EQ(received.path, sent.path);
    EXPECT_EQ(received.frameLimit, 1800);
    EXPECT_EQ(received.skeleton, SwitchChoice::Off);
    EXPECT_EQ(received.depth, SwitchChoice::On);
    EXPECT_EQ(received.sound, sent.sound);

    ScriptRequest stop;
    stop.stop = true;
    const std::vector<unsigned char> stopPacked = PackRequest(stop);
    ASSERT_TRUE(UnpackRequest(stopPacked.data(), stopPacked.size(), received));
    EXPECT_TRUE(received.stop && !received.record && received.path.empty());

    // Cut short, too long, another version, both actions, a path with a terminator inside.
    EXPECT_FALSE(UnpackRequest(packed.data(), packed.size() - 1, received));
    packed.push_back(0);
    EXPECT_FALSE(UnpackRequest(packed.data(), packed.size(), received));
    packed.pop_back();
    EXPECT_FALSE(UnpackRequest(nullptr, 0, received));
    std::vector<unsigned char> altered = packed;
    altered[0] = 1; // the version before sound names
    EXPECT_FALSE(UnpackRequest(altered.data(), altered.size(), received));
    altered = packed;
    altered[4] |= 2;
    EXPECT_FALSE(UnpackRequest(altered.data(), altered.size(), received));
    altered = packed;
    altered[packed.size() - 2] = 0;
    altered[packed.size() - 1] = 0;
    EXPECT_FALSE(UnpackRequest(altered.data(), altered.size(), received));
    sent.path.assign(kMaxTakePathChars + 1, L'a');
    packed = PackRequest(sent);
    EXPECT_FALSE(UnpackRequest(packed.data(), packed.size(), received));
}

} // namespace
