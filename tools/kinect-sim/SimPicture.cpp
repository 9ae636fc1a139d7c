#include "tools/kinect-sim/SimPicture.h"

#include "sensor/Frame.h"

#include <cstring>

namespace {

// Nothing may depend on the fourth byte; a value other than 0 or 255 shows it if something does.
constexpr BYTE kFillerByte = 0x7F;
constexpr int kCodeBits = 16;
constexpr int kCodeBlockWidth = kFrameWidth / kCodeBits;
constexpr int kSplitX = 320;
constexpr int kSplitY = 264;

struct Rgb {
    BYTE r;
    BYTE g;
    BYTE b;
};

void PutPixel(BYTE* pixel, Rgb colour)
{
    pixel[0] = colour.b;
    pixel[1] = colour.g;
    pixel[2] = colour.r;
    pixel[3] = kFillerByte;
}

Rgb QuadrantColour(int x, int y)
{
    if (y < kSplitY) {
        return x < kSplitX ? Rgb{200, 40, 40} : Rgb{40, 40, 200};
    }
    return x < kSplitX ? Rgb{200, 200, 40} : Rgb{200, 40, 200};
}

} // namespace

void SimPaintStaticPicture(BYTE* pixels)
{
    for (int y = 0; y < kFrameHeight; ++y) {
        BYTE* row = pixels + static_cast<size_t>(y) * kFrameStride;
        for (int x = 0; x < kFrameWidth; ++x) {
            const Rgb colour = y < kSimCodeRows ? Rgb{0, 0, 0} : QuadrantColour(x, y);
            PutPixel(row + x * kFrameBytesPerPixel, colour);
        }
    }
}

void SimStampFrameCode(BYTE* pixels, DWORD frameNumber)
{
    const DWORD code = frameNumber & 0xFFFFu;
    for (int x = 0; x < kFrameWidth; ++x) {
        const int bit = kCodeBits - 1 - x / kCodeBlockWidth;
        const BYTE level = static_cast<BYTE>(((code >> bit) & 1u) != 0 ? 255 : 0);
        PutPixel(pixels + x * kFrameBytesPerPixel, Rgb{level, level, level});
    }
    for (int y = 1; y < kSimCodeRows; ++y) {
        std::memcpy(pixels + static_cast<size_t>(y) * kFrameStride, pixels, kFrameStride);
    }
}

void SimPaintPitchZeroPattern(BYTE* pixels)
{
    std::memset(pixels, 0x55, kFrameBytes);
}
