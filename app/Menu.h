// The control window's menu bar: File > &Quit and Help > &About.
#pragma once

#include <windows.h>

// Creates the menu bar, the File menu and the Help menu, in that order, and fills them.
HMENU CreateMainMenu();
