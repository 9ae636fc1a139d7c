// The simulated colour picture: a frame-number code band over four coloured quadrants.
#pragma once

#include <windows.h>

// Height in rows of the code band at the top of the picture.
constexpr int kSimCodeRows = 48;

// Paints the parts of the picture that never change (the quadrants; a black code band) into a
// 640x480 B, G, R, X buffer.
void SimPaintStaticPicture(BYTE* pixels);

// Stamps frameNumber mod 65536 into the code band: 16 blocks of 40x48 pixels, block i white
// when bit (15 - i) is set, black when clear.
void SimStampFrameCode(BYTE* pixels, DWORD frameNumber);

// Fills a 640x480 buffer with the pattern handed out when the texture reports a pitch of zero:
// every byte 0x55, a grey that the true picture never holds, so a copy made anyway is caught.
void SimPaintPitchZeroPattern(BYTE* pixels);
