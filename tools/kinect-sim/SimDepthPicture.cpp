#include "tools/kinect-sim/SimDepthPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr int kCodeBits = 16;
// Rows of the code band per 480 rows of the picture.
constexpr int kCodeRowsAt480 = 48;
// The depth camera's focal length in pixels at 640x480; half of it at 320x240.
constexpr double kFocalAt640 = 571.26;
constexpr int kSpine = 1;

// A filled box of the picture: columns left..right and rows top..bottom, ends included.
struct DepthBox {
    int left;
    int top;
    int right;
    int bottom;
    int depthMm;
    int record;
};

void PutPixel(BYTE* pixel, int depthMm, int player)
{
    const USHORT value = static_cast<USHORT>(depthMm << NUI_IMAGE_PLAYER_INDEX_SHIFT | player);
    std::memcpy(pixel, &value, sizeof(value));
}

// The box of a record: the bounding box of its 20 joints projected by the depth camera, the
// projected coordinates rounded down and clipped to the picture below the code band; its depth
// is the spine's z in millimetres, rounded to the nearest. Returns false when nothing of it is
// in the picture.
bool RecordBox(const NUI_SKELETON_DATA& data, int record, int width, int height, int codeRows,
               DepthBox* box)
{
    const double focal = kFocalAt640 * (width / 640.0);
    const double centreX = width / 2.0;
    const double centreY = height / 2.0;
    double minX = 0.0;
    double maxX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
    bool any = false;
    for (const Vector4& joint : data.SkeletonPositions) {
        const double z = joint.z;
        if (!(z > 0.0)) {
            continue;
        }
        const double px = centreX + static_cast<double>(joint.x) * focal / z;
        const double py = centreY - static_cast<double>(joint.y) * focal / z;
        minX = any ? std::min(minX, px) : px;
        maxX = any ? std::max(maxX, px) : px;
        minY = any ? std::min(minY, py) : py;
        maxY = any ? std::max(maxY, py) : py;
        any = true;
    }
    if (!any) {
        return false;
    }
    // Clipped while still floating point, so far-off joints cannot overflow an int; a box wholly
    // outside ends with left > right or top > bottom.
    box->left = static_cast<int>(std::floor(std::clamp(minX, 0.0, static_cast<double>(width))));
    box->right = static_cast<int>(std::floor(std::clamp(maxX, -1.0, width - 1.0)));
    box->top = static_cast<int>(
        std::floor(std::clamp(minY, static_cast<double>(codeRows), static_cast<double>(height))));
    box->bottom = static_cast<int>(std::floor(std::clamp(maxY, -1.0, height - 1.0)));
    const double spineZ = data.SkeletonPositions[kSpine].z;
    const double depthMm = std::floor(spineZ * 1000.0 + 0.5);
    box->depthMm = static_cast<int>(std::min(std::max(depthMm, 0.0), 8191.0));
    box->record = record;
    return box->left <= box->right && box->top <= box->bottom;
}

// Whether box `a` is painted before box `b`, which then covers it where they overlap: the farther
// first, and at equal depth the higher record.
bool PaintsBefore(const DepthBox& a, const DepthBox& b)
{
    return a.depthMm != b.depthMm ? a.depthMm > b.depthMm : a.record > b.record;
}

} // namespace

void SimPaintDepthPicture(BYTE* pixels, int width, int height, DWORD frameNumber,
                          const NUI_SKELETON_FRAME& skeletons, bool playerIndex)
{
    const size_t pitch = static_cast<size_t>(width) * 2;
    const int codeRows = kCodeRowsAt480 * height / 480;
    const int blockWidth = width / kCodeBits;
    const DWORD code = frameNumber & 0xFFFFu;

    for (int x = 0; x < width; ++x) {
        const int bit = kCodeBits - 1 - x / blockWidth;
        const bool set = ((code >> bit) & 1u) != 0;
        PutPixel(pixels + x * 2, set ? kSimDepthCodeSetMm : kSimDepthCodeClearMm, 0);
    }
    for (int y = 1; y < codeRows; ++y) {
        std::memcpy(pixels + y * pitch, pixels, pitch);
    }
    BYTE* const background = pixels + codeRows * pitch;
    for (int x = 0; x < width; ++x) {
        PutPixel(background + x * 2, kSimDepthBackgroundMm, 0);
    }
    for (int y = codeRows + 1; y < height; ++y) {
        std::memcpy(pixels + y * pitch, background, pitch);
    }

    DepthBox boxes[NUI_SKELETON_COUNT];
    int boxCount = 0;
    for (int r = 0; r < NUI_SKELETON_COUNT; ++r) {
        const NUI_SKELETON_DATA& data = skeletons.SkeletonData[r];
        if (data.eTrackingState == NUI_SKELETON_TRACKED &&
            RecordBox(data, r, width, height, codeRows, &boxes[boxCount])) {
            ++boxCount;
        }
    }
    // Farthest first (at equal depth the higher record first), so the nearer person is on top.
    for (int i = 1; i < boxCount; ++i) {
        for (int j = i; j > 0 && PaintsBefore(boxes[j], boxes[j - 1]); --j) {
            std::swap(boxes[j], boxes[j - 1]);
        }
    }
    for (int i = 0; i < boxCount; ++i) {
        const DepthBox& box = boxes[i];
        const int player = playerIndex ? box.record + 1 : 0;
        for (int y = box.top; y <= box.bottom; ++y) {
            BYTE* row = pixels + y * pitch;
            for (int x = box.left; x <= box.right; ++x) {
                PutPixel(row + x * 2, box.depthMm, player);
            }
        }
    }
}
