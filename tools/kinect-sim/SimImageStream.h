// The simulated image streams, colour and depth. Each hands out its frames through a small set of
// frame slots of its own, each slot with its texture object, on its own camera's clock.
#pragma once

#include "sensor/NuiApi.h"

// Most frames that may be handed out and not yet released, whatever the stream asks for.
constexpr DWORD kSimMaxFrameLimit = 4;

// The sensor's cameras, one image stream each.
enum class SimCamera {
    Colour,
    Depth,
};

// Forgets the previous session's streams and outstanding frames. Lock held.
void SimImageStartSession();

// Drops the streams and their events at shutdown; the textures stay valid objects. Lock held.
void SimImageEndSession();

// Signals the frame event of the camera's stream, if it is open with one, as one of the
// camera's frames begins. Lock held.
void SimImageOnFrame(SimCamera camera);

// The image exports' bodies; each takes the lock itself.
HRESULT SimImageOpen(int imageType, int resolution, DWORD frameLimit, HANDLE nextFrameEvent,
                     HANDLE* streamOut);
HRESULT SimImageGetNextFrame(HANDLE stream, DWORD waitMs, const NUI_IMAGE_FRAME** frameOut);
HRESULT SimImageReleaseFrame(HANDLE stream, const NUI_IMAGE_FRAME* frame);
