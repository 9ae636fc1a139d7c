// The control window in this test's own process: its menu (which another process can't read
// under Wine), where its controls and banner go at odd widths, and the colour-feed command.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/ControlLayout.h"
#include "app/ControlWindow.h"
#include "app/Ids.h"
#include "app/Menu.h"
#include "app/SoundChoice.h"
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
        L"&File > Open Recordings Folder", L"&File > Record Sound From",
        L"&File > Save Skeleton Data",     L"&File > Save Depth",
        L"&File > Publish to Lab Streaming Layer",
        L"&File > &Quit",                  L"&Help > &About"};
    const UINT commands[] = {IDM_OPEN_FOLDER, static_cast<UINT>(-1), IDM_SAVE_SKELETON,
                             IDM_SAVE_DEPTH,  IDM_PUBLISH_LSL,       IDM_QUIT,
                             IDM_ABOUT};
    const UINT menus[] = {0, 0, 0, 0, 0, 0, 1};
    const UINT positions[] = {0, 1, 2, 3, 4, 5, 0};
    for (int i = 0; i < 7; ++i) {
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

// Settings in a fresh folder of their own, as on a first run.
void UseFreshSettings(const wchar_t* name)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    g_appData = std::wstring(temp) + name + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(g_appData.c_str(), nullptr);
    ::DeleteFileW((g_appData + L"\\NimbraVIZ\\settings.ini").c_str());
    SetAppDataFolderQuery([](std::wstring& folder) {
        folder = g_appData;
        return true;
    });
}

TEST(ControlWindow, SaveSkeletonAndSaveDepthItemsShowAndStoreTheirSwitches)
{
    UseFreshSettings(L"nvr-control-test-");
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

std::vector<SoundDeviceInfo> g_devices;

TEST(ControlWindow, RecordSoundFromListsTheDevicesOfTheMomentAndKeepsTheChoice)
{
    UseFreshSettings(L"nvr-sound-menu-test-");
    SetSoundDeviceLister([] { return g_devices; });
    RegisterControlClass();
    const std::wstring kinect = L"Microphone Array (Xbox NUI Sensor)";
    g_devices = {{L"{usb}", L"USB Headset", false}, {L"{kinect}", kinect, true}};
    const auto newWindow = [] {
        return ::CreateWindowExW(0, kControlWindowClass, kControlWindowTitle, WS_OVERLAPPEDWINDOW,
                                 0, 0, kControlWindowWidth, kControlWindowHeight, nullptr, nullptr,
                                 nullptr, nullptr);
    };
    HWND window = newWindow();
    HMENU bar = CreateMainMenu();
    ::SetMenu(window, bar);
    HMENU sound = ::GetSubMenu(::GetSubMenu(bar, 0), 1);
    // The items as the user sees them when the submenu opens, "*" on the checked one.
    const auto opened = [window, sound] {
        ::SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sound), 1);
        std::wstring items;
        for (int i = 0; i < ::GetMenuItemCount(sound); ++i) {
            const bool checked = (::GetMenuState(sound, i, MF_BYPOSITION) & MF_CHECKED) != 0;
            items += (checked ? L"*" : L"") + MenuText(sound, i) + L"|";
        }
        return items;
    };
    std::wstring id;
    std::wstring name;
    // A first run picks the sensor's array and stores nothing until the user chooses.
    EXPECT_EQ(opened(), L"None|USB Headset|*" + kinect + L" (sensor)|");
    EXPECT_FALSE(ReadSoundDevice(id, name));
    ::SendMessageW(window, WM_COMMAND, IDM_SOUND_FIRST, 0);
    EXPECT_TRUE(ReadSoundDevice(id, name));
    EXPECT_EQ(id + name, L"{usb}USB Headset");
    // Unplugged, the kept device is still shown chosen; a device plugged in appears.
    g_devices = {{L"{kinect}", kinect, true}, {L"{new}", L"Webcam", false}};
    EXPECT_EQ(opened(), L"None|" + kinect + L" (sensor)|Webcam|*USB Headset (absent)|");
    EXPECT_EQ(SoundForNextTake().deviceName, L"USB Headset");
    ::SendMessageW(window, WM_COMMAND, IDM_SOUND_NONE, 0);
    ::DestroyWindow(window);
    // The next run keeps None, though the sensor's array is there.
    window = newWindow();
    EXPECT_TRUE(SoundForNextTake().deviceId.empty());
    EXPECT_TRUE(ReadSoundDevice(id, name) && id.empty());
    ::DestroyWindow(window);
    SetSoundDeviceLister(nullptr);
    SetAppDataFolderQuery(nullptr);
}

TEST(SoundChoice, ANameOrPartOfItPicksOneDeviceWhateverItsCase)
{
    const std::vector<SoundDeviceInfo> devices = {
        {L"{1}", L"Microphone Array (Xbox NUI Sensor)", true},
        {L"{2}", L"Microphone", false},
        {L"{3}", L"Microphone (USB Headset)", false}};
    SoundDeviceInfo match;
    std::wstring problem;
    const std::pair<const wchar_t*, const wchar_t*> picks[] = {
        {L"xbox nui", L"{1}"}, {L"MICROPHONE", L"{2}"}, {L"headset)", L"{3}"}};
    for (const auto& pick : picks) {
        EXPECT_TRUE(MatchSoundDevice(devices, pick.first, match, problem));
        EXPECT_EQ(match.id, pick.second);
    }
    EXPECT_FALSE(MatchSoundDevice(devices, L"micro", match, problem));
    EXPECT_EQ(
        problem.rfind(L"--sound fits several sound devices: micro\nSound devices:\n  Micro", 0),
        0u);
    EXPECT_FALSE(MatchSoundDevice(devices, L"Kinect", match, problem));
    EXPECT_EQ(problem.rfind(L"--sound names no sound device: Kinect\n", 0), 0u);
}

} // namespace
