// A rewrite's work as the finish sees it: a file rewritten in place, without growing, still
// shows work; a file left alone shows none.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/ScopedHandle.h"
#include "platform/WorkProgress.h"

namespace {

TEST(WorkProgress, AFileRewrittenInPlaceShowsWorkThoughItsSizeStays)
{
    const std::wstring path = L"work-progress.bin";
    ::DeleteFileW(path.c_str());
    WorkProgress work;
    WatchWork(work, path, nullptr);
    EXPECT_FALSE(HasWorkProgressed(work)) << "no file yet";

    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    const std::string block(64 * 1024, 'x');
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), block.data(), 65536, &written, nullptr));
    EXPECT_TRUE(HasWorkProgressed(work)) << "the file appeared";
    EXPECT_FALSE(HasWorkProgressed(work));
    // The second pass of +faststart: the same bytes written over, the size unchanged.
    for (int pass = 0; pass < 3; ++pass) {
        ::Sleep(50);
        ::SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
        ASSERT_TRUE(::WriteFile(file.Get(), block.data(), 65536, &written, nullptr));
        EXPECT_TRUE(HasWorkProgressed(work)) << "pass " << pass;
    }
    ::Sleep(50);
    EXPECT_FALSE(HasWorkProgressed(work)) << "the writing stopped";
    // The watch never stands in the way of the rename that follows.
    file.Reset();
    EXPECT_TRUE(::MoveFileW(path.c_str(), L"work-progress.moved"));
    StopWatchingWork(work);
    EXPECT_TRUE(::DeleteFileW(L"work-progress.moved"));
}

} // namespace
