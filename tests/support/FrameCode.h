// The frame number the simulated sensor runtime stamps into each colour frame, read back.
#pragma once

#include <windows.h>

#include "sensor/Frame.h"

// The number spelled by the code band of `frame` (kFrameBytes of B, G, R, X): rows 0-47 hold 16
// blocks 40 pixels wide, most significant bit first, white for 1; each block's centre is read.
inline int DecodeFrameNumber(const BYTE* frame)
{
    int number = 0;
    for (int block = 0; block < 16; ++block) {
        const BYTE* pixel = frame + 24 * kFrameStride + (block * 40 + 20) * kFrameBytesPerPixel;
        number = (number << 1) | (pixel[1] > 128 ? 1 : 0);
    }
    return number;
}
