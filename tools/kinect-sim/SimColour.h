// The simulated colour stream: 640x480 frames at 30 a second, handed out newest first through
// a small set of frame slots, each with its texture object.
#pragma once

#include "sensor/NuiApi.h"

// Most frames that may be handed out and not yet released, whatever the stream asks for.
constexpr DWORD kSimMaxFrameLimit = 4;

// Forgets the previous session's stream and outstanding frames. Lock held.
void SimColourStartSession();

// Drops the stream and its event at shutdown; the textures stay valid objects. Lock held.
void SimColourEndSession();

// Signals the stream's frame event, if it has one, when a new frame begins. Lock held.
void SimColourOnFrame(LONGLONG frameNumber);

// The colour exports' bodies; each takes the lock itself.
HRESULT SimColourOpen(int imageType, int resolution, DWORD frameLimit, HANDLE nextFrameEvent,
                      HANDLE* streamOut);
HRESULT SimColourGetNextFrame(HANDLE stream, DWORD waitMs, const NUI_IMAGE_FRAME** frameOut);
HRESULT SimColourReleaseFrame(HANDLE stream, const NUI_IMAGE_FRAME* frame);
