// The render thread: each pass takes the newest colour frame, paints it over the output window,
// draws the tracked skeletons and, while a recording runs, feeds the frame pipe on the
// recording's 30 fps timeline; then it sleeps 16 ms.
#pragma once

#include <windows.h>

// Pause between passes.
constexpr DWORD kRenderPassSleepMs = 16;

// The render thread's entry; the parameter is unused. Returns once RequestRenderStop was called.
DWORD WINAPI RenderThread(LPVOID parameter);

// Asks the render thread to end; it sees the request at the start of its next pass.
void RequestRenderStop();

// Runs one pass (without the sleep). `haveNewFrame` carries, from pass to pass, whether the frame
// buffer holds a colour frame that has not entered the pipe yet.
void RenderPass(bool& haveNewFrame);
