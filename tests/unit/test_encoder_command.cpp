// The encoder's command line: exact text, quoting, and paths that must not reach the encoder.

#include <gtest/gtest.h>

#include <string>

#include "recording/EncoderCommand.h"

namespace {

std::wstring Build(const std::wstring& path, bool* ok = nullptr)
{
    wchar_t buffer[kEncoderCommandCapacity];
    bool built = BuildEncoderCommandLine(path, buffer, kEncoderCommandCapacity);
    if (ok != nullptr) {
        *ok = built;
    }
    return buffer;
}

TEST(EncoderCommand, LineIsThePrefixThenTheQuotedPath)
{
    EXPECT_EQ(std::wstring(kEncoderCommandPrefix).size(), 153u);
    EXPECT_EQ(Build(L"D:\\rec\\take.mp4"),
              L"ffmpeg.exe -y -f rawvideo -pixel_format bgra -video_size 640x480 -framerate 30 "
              L"-i \\\\.\\pipe\\vuduvazidozu -c:v libx264 -preset ultrafast -pix_fmt yuv420p "
              L"\"D:\\rec\\take.mp4\"");
    // Spaces stay inside the quotes; an empty path ends the line in two quotes.
    EXPECT_EQ(Build(L"C:\\My Videos\\a b.mp4").substr(153), L"C:\\My Videos\\a b.mp4\"");
    EXPECT_EQ(Build(L"").substr(152), L"\"\"");
}

TEST(EncoderCommand, LongestPathFitsAndLongerLinesAreRefusedWithoutOverrun)
{
    bool ok = false;
    std::wstring longest(259, L'x');
    EXPECT_EQ(Build(longest, &ok).size(), 153u + 259u + 1u);
    EXPECT_TRUE(ok);

    wchar_t guarded[64 + 8];
    std::wmemset(guarded, L'#', 72);
    EXPECT_FALSE(BuildEncoderCommandLine(std::wstring(10, L'y'), guarded, 64));
    EXPECT_EQ(guarded[0], L'\0');
    for (int i = 64; i < 72; ++i) {
        EXPECT_EQ(guarded[i], L'#');
    }
    std::wstring tooLong(kEncoderCommandCapacity - 153, L'z');
    Build(tooLong, &ok);
    EXPECT_FALSE(ok);
}

TEST(EncoderCommand, DoubleQuoteInPathIsRefused)
{
    bool ok = true;
    EXPECT_EQ(Build(L"a.mp4\" -f mp4 \"C:\\evil.mp4", &ok), L"");
    EXPECT_FALSE(ok);
    Build(L"\"", &ok);
    EXPECT_FALSE(ok);
}

} // namespace
