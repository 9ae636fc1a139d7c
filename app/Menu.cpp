#include "app/Menu.h"

#include "app/Ids.h"

HMENU CreateMainMenu()
{
    HMENU menuBar = ::CreateMenu();
    HMENU fileMenu = ::CreateMenu();
    HMENU helpMenu = ::CreateMenu();
    // Filled with the devices present whenever it opens (FillSoundMenu).
    HMENU soundMenu = ::CreatePopupMenu();
    ::AppendMenuW(soundMenu, MF_STRING, IDM_SOUND_NONE, L"None");
    ::AppendMenuW(fileMenu, MF_STRING, IDM_OPEN_FOLDER, L"Open Recordings Folder");
    ::AppendMenuW(fileMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(soundMenu), L"Record Sound From");
    ::AppendMenuW(fileMenu, MF_STRING, IDM_SAVE_SKELETON, L"Save Skeleton Data");
    ::AppendMenuW(fileMenu, MF_STRING, IDM_SAVE_DEPTH, L"Save Depth");
    ::AppendMenuW(fileMenu, MF_STRING, IDM_PUBLISH_LSL, kPublishLslText);
    ::AppendMenuW(fileMenu, MF_STRING, IDM_QUIT, L"&Quit");
    ::AppendMenuW(helpMenu, MF_STRING, IDM_ABOUT, L"&About");
    ::AppendMenuW(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu), L"&File");
    ::AppendMenuW(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(helpMenu), L"&Help");
    return menuBar;
}
