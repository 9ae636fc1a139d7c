// The encoder's command line: the path reaches it unchanged inside quotes, and paths that could
// inject arguments or overrun the buffer are refused.

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

#include "recording/EncoderCommand.h"

namespace {

// The line for `path` ("" when refused); `ok` gets the result.
std::wstring Build(const std::wstring& path, bool* ok)
{
    wchar_t buffer[kEncoderCommandCapacity];
    *ok = BuildEncoderCommandLine(path, buffer, kEncoderCommandCapacity);
    return buffer;
}

TEST(EncoderCommand, PathEndsTheLineUnchangedInQuotes)
{
    // The longest path Windows allows, spaces, characters outside any code page, none at all.
    for (const std::wstring& path :
         {std::wstring(259, L'x'), std::wstring(L"C:\\My Videos\\a b.mp4"),
          std::wstring(L"C:\\Видео\\東京 🎥.mp4"), std::wstring()}) {
        bool ok = false;
        const std::wstring line = Build(path, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(line, kEncoderCommandPrefix + path + L"\"");
    }
}

TEST(EncoderCommand, QuotesAndOverlongLinesAreRefusedWithoutOverrun)
{
    bool ok = true;
    EXPECT_EQ(Build(L"a.mp4\" -f mp4 \"C:\\evil.mp4", &ok), L"");
    EXPECT_FALSE(ok);

    // A line of exactly `capacity` characters leaves no room for the terminator.
    const std::wstring path(10, L'y');
    const size_t length = std::wcslen(kEncoderCommandPrefix) + path.size() + 1;
    std::vector<wchar_t> buffer(length + 8, L'#');
    EXPECT_FALSE(BuildEncoderCommandLine(path, buffer.data(), length));
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(std::wstring(buffer.data() + length, 8), std::wstring(8, L'#'));
    EXPECT_TRUE(BuildEncoderCommandLine(path, buffer.data(), length + 1));
}

// The number after `key` in `filter`, or -1.
double After(const std::wstring& filter, const std::wstring& key, std::size_t from = 0)
{
    const std::size_t at = filter.find(key, from);
    return at == std::wstring::npos ? -1.0 : std::wcstod(filter.c_str() + at + key.size(), nullptr);
}

TEST(EncoderCommand, SoundTrackIsResampledFromTheMeasuredRateAndShiftedByTheOffset)
{
    RewriteSound sound;
    sound.wavPath = L"C:\\rec\\take.sound.wav";
    sound.sampleRate = 16000;
    sound.channels = 4;
    sound.mono = true;
    sound.videoFrames = 30 * 3600;
    for (double measured : {16032.37, 15968.123, 16000.5}) {
        sound.measuredRate = measured;
        const std::wstring filter = SoundTrackFilter(sound);
        SCOPED_TRACE(filter);
        // Upsampled by a whole factor, taken as the measured rate times it, back to the nominal:
        // what is left of the rate's error moves the hour's end by under 2 ms.
        const double up = After(filter, L"aresample=");
        const double taken = After(filter, L"asetrate=");
        ASSERT_GT(up, 0.0);
        EXPECT_EQ(std::fmod(up, 16000.0), 0.0);
        EXPECT_LE(std::fabs(taken / (up / 16000.0) - measured) / measured * 3600.0, 0.002);
        EXPECT_EQ(After(filter, L"aresample=", filter.find(L"asetrate")), 16000.0);
        EXPECT_NE(filter.find(L"pan=mono|c0=0.250000*c0+0.250000*c1+0.250000*c2+0.250000*c3"),
                  std::wstring::npos);
        EXPECT_NE(filter.find(L"apad=whole_dur=3600.000000,atrim=end=3600.000000[a]"),
                  std::wstring::npos);
    }
    sound.offsetMs = 12.5; // sample 0 came after frame 0: silence before it
    EXPECT_EQ(After(SoundTrackFilter(sound), L"adelay=delays="), 200.0);
    sound.offsetMs = -12.5;
    EXPECT_EQ(After(SoundTrackFilter(sound), L"atrim=start_sample="), 200.0);
    std::wstring line;
    sound.wavPath = L"C:\\a\"b.wav";
    EXPECT_FALSE(BuildRewriteCommandLine(L"C:\\in.mp4", L"C:\\out.mp4", line, &sound));
    EXPECT_TRUE(line.empty());
}

} // namespace
