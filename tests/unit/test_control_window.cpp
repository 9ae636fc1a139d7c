// The control window in this test's own process: its menu (which another process can't read
// under Wine), where its controls and banner go at odd widths, and the colour-feed command.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/ControlLayout.h"
#include "app/ControlWindow.h"
#include "app/Ids.h"
#include "app/Menu.h"
#include "platform/Platform.h"
#include "sensor/RenderLoop.h"
#include "settings/Settings.h"

namespace {

// The control window's class, registered once for the tests here.
void RegisterControlClass()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kControlWindowClass;
    ::RegisterClassW(&windowClass);
}

std::wstring MenuText(HMENU menu, UINT position)
{
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

TEST(ControlWindowMenu, SaveSkeletonQuitAndAboutSendTheirCommands)
{
    HMENU bar = CreateMainMenu();
    ASSERT_EQ(::GetMenuItemCount(bar), 2);
    const std::wstring expected[] = {
        L"&File > Open Recordings Folder", L"&File > Save Skeleton Data", L"&File > Save Depth",
        L"&File > Publish to Lab Streaming Layer", L"&File > &Quit", L"&Help > &About"};
    const UINT commands[] = {IDM_OPEN_FOLDER, IDM_SAVE_SKELETON, IDM_SAVE_DEPTH,
                             IDM_PUBLISH_LSL, IDM_QUIT, IDM_ABOUT};
    const UINT menus[] = {0, 0, 0, 0, 0, 1};
    const UINT positions[] = {0, 1, 2, 3, 4, 0};
    for (int i = 0; i < 6; ++i) {
        HMENU menu = ::GetSubMenu(bar, menus[i]);
        EXPECT_EQ(MenuText(bar, menus[i]) + L" > " + MenuText(menu, positions[i]), expected[i]);
        EXPECT_EQ(::GetMenuItemID(menu, positions[i]), commands[i]);
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
    RegisterControlClass();
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

std::wstring g_appData;

TEST(ControlWindow, SaveSkeletonAndSaveDepthItemsShowAndStoreTheirSwitches)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    g_appData =
        std::wstring(temp) + L"nvr-control-test-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(g_appData.c_str(), nullptr);
    SetAppDataFolderQuery([](std::wstring& folder) {
        folder = g_appData;
        return true;
    });
    RegisterControlClass();
    // As at start-up: the window is created first, the menu bar given to it afterwards. The
    // two switches are stored opposite, so neither item reads the other's.
    for (bool stored : {true, false}) {
        WriteSaveSkeletonData(stored);
        WriteSaveDepth(!stored);
        HWND window = ::CreateWindowExW(0, kControlWindowClass, kControlWindowTitle,
                                        WS_OVERLAPPEDWINDOW, 0, 0, kControlWindowWidth,
                                        kControlWindowHeight, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        HMENU bar = CreateMainMenu();
        ::SetMenu(window, bar);
        const auto checked = [bar](UINT item) {
            return (::GetMenuState(bar, item, MF_BYCOMMAND) & MF_CHECKED) != 0;
        };
        ::SendMessageW(window, WM_INITMENU, reinterpret_cast<WPARAM>(bar), 0);
        EXPECT_EQ(checked(IDM_SAVE_SKELETON), stored);
        EXPECT_EQ(checked(IDM_SAVE_DEPTH), !stored);
        ::SendMessageW(window, WM_COMMAND, IDM_SAVE_SKELETON, 0);
        EXPECT_EQ(ReadSaveSkeletonData(), !stored);
        EXPECT_EQ(checked(IDM_SAVE_SKELETON), !stored);
        ::SendMessageW(window, WM_COMMAND, IDM_SAVE_DEPTH, 0);
        EXPECT_EQ(ReadSaveDepth(), stored);
        EXPECT_EQ(checked(IDM_SAVE_DEPTH), stored);
        // No lsl.dll beside this program: the item is greyed and says so, whatever is stored,
        // and its command changes nothing.
        WritePublishLsl(stored);
        ::SendMessageW(window, WM_COMMAND, IDM_PUBLISH_LSL, 0);
        ::SendMessageW(window, WM_INITMENU, reinterpret_cast<WPARAM>(bar), 0);
        EXPECT_EQ(ReadPublishLsl(), stored);
        EXPECT_EQ(::GetMenuState(bar, IDM_PUBLISH_LSL, MF_BYCOMMAND), UINT{MF_GRAYED});
        wchar_t text[64] = {};
        ::GetMenuStringW(bar, IDM_PUBLISH_LSL, text, 64, MF_BYCOMMAND);
        EXPECT_STREQ(text, L"Publish to Lab Streaming Layer (lsl.dll not found)");
        ::DestroyWindow(window); // takes its menu with it
    }
    SetAppDataFolderQuery(nullptr);
}

} // namespace
