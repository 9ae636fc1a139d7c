// The control window in this test's own process: its menu (which another process can't read
// under Wine), where its controls and banner go at odd widths, and the colour-feed command.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/AppState.h"
#include "app/ControlLayout.h"
#include "app/ControlWindow.h"
#include "app/Ids.h"
#include "app/Menu.h"
#include "platform/Platform.h"

namespace {

std::wstring MenuText(HMENU menu, UINT position)
{
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

TEST(ControlWindowMenu, QuitAndAboutSendTheirCommands)
{
    HMENU bar = CreateMainMenu();
    ASSERT_EQ(::GetMenuItemCount(bar), 2);
    const std::wstring expected[] = {L"&File > &Quit", L"&Help > &About"};
    const UINT commands[] = {IDM_QUIT, IDM_ABOUT};
    for (UINT i = 0; i < 2; ++i) {
        HMENU menu = ::GetSubMenu(bar, i);
        EXPECT_EQ(::GetMenuItemCount(menu), 1);
        EXPECT_EQ(MenuText(bar, i) + L" > " + MenuText(menu, 0), expected[i]);
        EXPECT_EQ(::GetMenuItemID(menu, 0), commands[i]);
    }
    ::DestroyMenu(bar);
}

TEST(ControlLayout, NarrowOddWidthsTruncateTowardZero)
{
    EXPECT_EQ(ControlBlockLeft(384), 62);
    EXPECT_EQ(ControlBlockLeft(257), -1); // flooring gives -2
    EXPECT_EQ(BannerLeft(384), 42);
    EXPECT_EQ(BannerLeft(249), -25); // flooring gives -26
}

TEST(ControlWindow, FeedFlagCopiesTheBoxWhateverSendsTheCommand)
{
    // No settings folder: the window starts with the default path and stores nothing.
    SetAppDataFolderQuery([](std::wstring&) { return false; });
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kControlWindowClass;
    ASSERT_NE(::RegisterClassW(&windowClass), 0);
    HWND window = ::CreateWindowExW(0, kControlWindowClass, kControlWindowTitle,
                                    WS_OVERLAPPEDWINDOW, 0, 0, kControlWindowWidth,
                                    kControlWindowHeight, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HWND checkbox = ::GetDlgItem(window, IDC_SHOW_COLOR);

    // The click turns the box off, then on; a command from elsewhere (the box untouched) must
    // leave the flag as the box shows it, not toggle it.
    for (bool checked : {false, true}) {
        ::SendMessageW(checkbox, BM_CLICK, 0, 0);
        EXPECT_EQ(g_showColorFeed.load(), checked);
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_SHOW_COLOR, 0), 0);
        EXPECT_EQ(g_showColorFeed.load(), checked) << "after a command from elsewhere";
    }
    ::DestroyWindow(window);
    SetAppDataFolderQuery(nullptr);
}

} // namespace
