// The control window's menu bar: File > Open Recordings Folder, Record Sound From (a submenu),
// Save Skeleton Data and Save Depth (check items) and &Quit, and Help > &About.
#pragma once

#include <windows.h>

// Creates the menu bar, the File menu and the Help menu, in that order, and fills them. The
// Save Skeleton Data item starts unchecked; the control window shows the switch's state on it.
HMENU CreateMainMenu();
