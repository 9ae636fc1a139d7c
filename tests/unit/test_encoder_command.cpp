// The encoder's command line: the path reaches it unchanged inside quotes, and paths that could
// inject arguments or overrun the buffer are refused.

#include <gtest/gtest.h>

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

} // namespace
