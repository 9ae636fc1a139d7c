// Names for the program's threads, as debuggers and profilers show them.
#pragma once

// Names the calling thread (at most 15 characters, so that Wine can hand the whole name on to
// the system's own thread name). Does nothing on systems before Windows 10 1607, which lack
// SetThreadDescription.
void NameThisThread(const wchar_t* name);
