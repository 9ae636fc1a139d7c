// The `launcher` fault mode: behaves like the small ffmpeg.exe that some Windows package managers
// put on the PATH, which starts the real ffmpeg.exe as its child and waits for it.
#pragma once

// Starts a second copy of this program as a child, with the same command line and environment
// but without NVR_RELAY_FAULT, waits for it (bounded) and returns its exit code; the relay's own
// failure code when it can't be started or does not end in time. The child ends with this
// process, as a launcher's would.
int RunChildCopy();
