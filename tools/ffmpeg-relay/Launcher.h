// The `launcher` fault mode: behaves like the small ffmpeg.exe that some Windows package managers
// put on the PATH, which starts the real ffmpeg.exe as its child and waits for it.
#pragma once

#include <string>

// Starts a second copy of this program as a child, with the same command line and environment
// except that NVR_RELAY_FAULT becomes `childFault` (unset when empty) and NVR_RELAY_CHILD_FAULT
// goes, waits for it (bounded) and returns its exit code; the relay's own failure code when it
// can't be started or does not end in time. The child ends with this process, as a launcher's
// would.
int RunChildCopy(const std::wstring& childFault);
