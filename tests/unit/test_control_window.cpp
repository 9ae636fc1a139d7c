// The control window in this test's own process: its menu, layout, control styles, colours and
// the commands that need no recording.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/ControlLayout.h"
#include "app/ControlWindow.h"
#include "app/Ids.h"
#include "app/Menu.h"
#include "platform/Platform.h"
#include "recording/Recording.h"
#include "sensor/RenderLoop.h"
#include "settings/Settings.h"

namespace {

std::wstring g_appData;
bool TestAppData(std::wstring& folder)
{
    folder = g_appData;
    return true;
}

std::wstring MenuText(HMENU menu, UINT position)
{
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

TEST(ControlWindowMenu, FileSaveSkeletonQuitAndHelpAbout)
{
    HMENU bar = CreateMainMenu();
    ASSERT_EQ(::GetMenuItemCount(bar), 2);
    EXPECT_EQ(MenuText(bar, 0), L"&File");
    EXPECT_EQ(MenuText(bar, 1), L"&Help");
    HMENU file = ::GetSubMenu(bar, 0);
    HMENU help = ::GetSubMenu(bar, 1);
    ASSERT_EQ(::GetMenuItemCount(file), 2);
    ASSERT_EQ(::GetMenuItemCount(help), 1);
    EXPECT_EQ(MenuText(file, 0), L"Save Skeleton Data");
    EXPECT_EQ(::GetMenuItemID(file, 0), static_cast<UINT>(IDM_SAVE_SKELETON));
    EXPECT_EQ(::GetMenuState(file, 0, MF_BYPOSITION), static_cast<UINT>(MF_STRING));
    EXPECT_EQ(MenuText(file, 1), L"&Quit");
    EXPECT_EQ(::GetMenuItemID(file, 1), static_cast<UINT>(IDM_QUIT));
    EXPECT_EQ(MenuText(help, 0), L"&About");
    EXPECT_EQ(::GetMenuItemID(help, 0), static_cast<UINT>(IDM_ABOUT));
    ::DestroyMenu(bar);
}

TEST(ControlLayout, BlockAndBannerFollowTheClientWidth)
{
    EXPECT_EQ(ControlBlockLeft(384), 62);
    EXPECT_EQ(BannerLeft(384), 42);
    // Narrower than the block: truncation toward zero, not floor.
    EXPECT_EQ(ControlBlockLeft(257), -1);
    EXPECT_EQ(ControlBlockLeft(259), 0);
    EXPECT_EQ(ControlBlockLeft(258), -1);
    EXPECT_EQ(BannerLeft(0), -150);
}

class ControlWindow : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW windowClass = {};
        windowClass.style = CS_OWNDC;
        windowClass.lpfnWndProc = MainWndProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground =
            reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        windowClass.lpszClassName = kControlWindowClass;
        ::RegisterClassW(&windowClass);
    }

    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        g_appData =
            std::wstring(temp) + L"nvr-control-test-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(g_appData.c_str(), nullptr);
        ::DeleteFileW((g_appData + L"\\NimbraVIZ\\settings.ini").c_str());
        SetAppDataFolderQuery(TestAppData);
    }

    void TearDown() override
    {
        if (m_window != nullptr) {
            ::DestroyWindow(m_window);
        }
        // The window's destruction posts a quit message; take it off this thread's queue.
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        SetAppDataFolderQuery(nullptr);
    }

    void Create()
    {
        m_window = ::CreateWindowExW(0, kControlWindowClass, kControlWindowTitle,
                                     WS_OVERLAPPEDWINDOW, 0, 0, kControlWindowWidth,
                                     kControlWindowHeight, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_window, nullptr);
        RECT client;
        ::GetClientRect(m_window, &client);
        m_left = ControlBlockLeft(client.right);
    }

    RECT ChildRect(int id) const
    {
        RECT rect = {};
        HWND child = ::GetDlgItem(m_window, id);
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    void ExpectControl(int id, const wchar_t* className, const wchar_t* text, DWORD style, int x,
                       int y, int width, int height) const
    {
        SCOPED_TRACE(testing::Message() << "control " << id);
        HWND child = ::GetDlgItem(m_window, id);
        ASSERT_NE(child, nullptr);
        wchar_t actualClass[32] = {};
        ::GetClassNameW(child, actualClass, 32);
        EXPECT_EQ(_wcsicmp(actualClass, className), 0);
        wchar_t actualText[300] = {};
        ::GetWindowTextW(child, actualText, 300);
        EXPECT_EQ(std::wstring(actualText), std::wstring(text));
        // Wine's edit control takes WS_BORDER out of its style and draws the border itself.
        DWORD mask = id == IDC_PATH_EDIT ? 0xFF7F00FFu : 0xFFFF00FFu;
        EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrW(child, GWL_STYLE)) & mask, style & mask);
        RECT rect = ChildRect(id);
        EXPECT_EQ(rect.left, x);
        EXPECT_EQ(rect.top, y);
        EXPECT_EQ(rect.right - rect.left, width);
        EXPECT_EQ(rect.bottom - rect.top, height);
        EXPECT_EQ(::GetWindowLongPtrW(child, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
    }

    HWND m_window = nullptr;
    int m_left = 0;
};

TEST_F(ControlWindow, CreatesTheFiveControlsWhereTheBlockPutsThem)
{
    WriteLastPath(L"D:\\rec\\stored take.mp4");
    Create();
    ExpectControl(IDC_SHOW_COLOR, L"Button", L"Show Color Feed", 0x50000003, m_left, 20, 200, 25);
    ExpectControl(IDC_PATH_EDIT, L"Edit", L"D:\\rec\\stored take.mp4", 0x50800080, m_left + 90, 60,
                  170, 20);
    ExpectControl(IDC_START, L"Button", L"Start Recording", 0x50000000, m_left, 100, 120, 30);
    ExpectControl(IDC_STOP, L"Button", L"Stop Recording", 0x58000000, m_left + 130, 100, 120, 30);
    ExpectControl(IDC_SAVE_PATH, L"Button", L"Save Path:", 0x50000000, m_left, 60, 80, 22);
    EXPECT_EQ(::IsDlgButtonChecked(m_window, IDC_SHOW_COLOR), static_cast<UINT>(BST_CHECKED));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(m_window, IDC_STOP)));

    // Resizing moves nothing: the block was placed once, at creation.
    ::SetWindowPos(m_window, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(ChildRect(IDC_START).left, m_left);
}

TEST_F(ControlWindow, StartsWithTheDefaultOrTheStoredEmptyPath)
{
    Create();
    wchar_t text[300] = {};
    ::GetWindowTextW(::GetDlgItem(m_window, IDC_PATH_EDIT), text, 300);
    EXPECT_STREQ(text, L"output.mp4");
    ::DestroyWindow(m_window);

    WriteLastPath(L"");
    Create();
    text[0] = L'x';
    ::GetWindowTextW(::GetDlgItem(m_window, IDC_PATH_EDIT), text, 300);
    EXPECT_STREQ(text, L"");
}

TEST_F(ControlWindow, AnswersEveryColourRequestWithWhiteAndBlack)
{
    Create();
    HDC dc = ::GetDC(::GetDlgItem(m_window, IDC_PATH_EDIT));
    for (UINT message : {WM_CTLCOLOREDIT, WM_CTLCOLORBTN, WM_CTLCOLORSTATIC}) {
        ::SetBkColor(dc, RGB(1, 2, 3));
        ::SetTextColor(dc, RGB(4, 5, 6));
        LRESULT brush =
            ::SendMessageW(m_window, message, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(::GetDlgItem(m_window, IDC_PATH_EDIT)));
        EXPECT_EQ(brush, reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH)));
        EXPECT_EQ(::GetBkColor(dc), RGB(255, 255, 255));
        EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 0));
    }
    ::ReleaseDC(::GetDlgItem(m_window, IDC_PATH_EDIT), dc);
}

TEST_F(ControlWindow, FeedFlagFollowsTheCheckboxAndCommandsFromElsewhere)
{
    Create();
    HWND checkbox = ::GetDlgItem(m_window, IDC_SHOW_COLOR);
    ::SendMessageW(checkbox, BM_CLICK, 0, 0);
    EXPECT_FALSE(g_showColorFeed.load());
    ::SendMessageW(checkbox, BM_CLICK, 0, 0);
    EXPECT_TRUE(g_showColorFeed.load());

    // A command 1 from anywhere else leaves the box alone and copies its state.
    g_showColorFeed.store(false);
    ::SendMessageW(m_window, WM_COMMAND, MAKEWPARAM(IDC_SHOW_COLOR, 0), 0);
    EXPECT_TRUE(g_showColorFeed.load());
    EXPECT_EQ(::IsDlgButtonChecked(m_window, IDC_SHOW_COLOR), static_cast<UINT>(BST_CHECKED));
}

TEST_F(ControlWindow, SaveSkeletonItemShowsAndStoresTheSwitch)
{
    const auto checked = [this] {
        return (::GetMenuState(::GetMenu(m_window), IDM_SAVE_SKELETON, MF_BYCOMMAND) &
                MF_CHECKED) != 0;
    };
    // As at start-up: the window is created first, the menu bar given to it afterwards.
    for (bool stored : {true, false}) {
        WriteSaveSkeletonData(stored);
        Create();
        ::SetMenu(m_window, CreateMainMenu());
        ::SendMessageW(m_window, WM_INITMENU, reinterpret_cast<WPARAM>(::GetMenu(m_window)), 0);
        EXPECT_EQ(checked(), stored);
        ::SendMessageW(m_window, WM_COMMAND, IDM_SAVE_SKELETON, 0);
        EXPECT_EQ(ReadSaveSkeletonData(), !stored);
        EXPECT_EQ(checked(), !stored);
        ::SendMessageW(m_window, WM_COMMAND, IDM_SAVE_SKELETON, 0);
        EXPECT_EQ(ReadSaveSkeletonData(), stored);
        EXPECT_EQ(checked(), stored);
        ::DestroyWindow(m_window); // takes its menu with it
        m_window = nullptr;
    }
}

TEST_F(ControlWindow, StopWhileIdleDoesNothingAndQuitPostsTheQuitMessage)
{
    Create();
    ::SendMessageW(m_window, WM_COMMAND, IDC_STOP, 0);
    EXPECT_FALSE(IsRecording());
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(m_window, IDC_START)));

    ::SendMessageW(m_window, WM_COMMAND, IDM_QUIT, 0);
    MSG message = {};
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_TRUE(::IsWindow(m_window));
}

} // namespace
