#include "sensor/SkeletonOverlay.h"

#include <cfloat>
#include <cmath>
#include <iterator>

#include "sensor/Frame.h"
#include "sensor/RenderLoop.h"

namespace {

// Pixels per unit of x/z (or y/z) in a 320x240 picture; doubling x and y first scales the
// projection to the 640x480 picture.
constexpr float kFocalScale = 285.63f;
constexpr float kPictureCentreX = 320.0f;
constexpr float kPictureCentreY = 240.0f;

struct Bone {
    int fromJoint;
    int toJoint;
};

// The body's bones in drawing order, by the runtime's joint index: spine and head, the left
// and right arms from the shoulder centre, the left and right legs from the hip centre.
constexpr Bone kBones[] = {
    {0, 1},  {1, 2},   {2, 3},             // hip centre, spine, shoulders, head
    {2, 4},  {4, 5},   {5, 6},   {6, 7},   // left arm
    {2, 8},  {8, 9},   {9, 10},  {10, 11}, // right arm
    {0, 12}, {12, 13}, {13, 14}, {14, 15}, // left leg
    {0, 16}, {16, 17}, {17, 18}, {18, 19}, // right leg
};
static_assert(std::size(kBones) == 19, "a skeleton has 19 bones");

constexpr int kPenWidth = 2;
constexpr COLORREF kPenColour = RGB(0, 255, 0);

// Truncates toward zero. NaN gives 0 and magnitudes beyond kOverlayCoordinateLimit give the
// limit, because converting an out-of-range float to an integer is undefined.
LONG TruncateCoordinate(float value)
{
    if (std::isnan(value)) {
        return 0;
    }
    // Compared as double, which holds both the float and the limit exactly.
    const double wide = value;
    if (wide >= kOverlayCoordinateLimit) {
        return kOverlayCoordinateLimit;
    }
    if (wide <= -kOverlayCoordinateLimit) {
        return -kOverlayCoordinateLimit;
    }
    return static_cast<LONG>(value);
}

// (clientSize * picture) / pictureSize in 64 bits, truncated toward zero and clamped to
// +-kOverlayCoordinateLimit.
LONG ScaleCoordinate(LONG picture, LONG clientSize, LONG pictureSize)
{
    const long long product = static_cast<long long>(clientSize) * picture;
    const long long scaled = product / pictureSize;
    if (scaled > kOverlayCoordinateLimit) {
        return kOverlayCoordinateLimit;
    }
    if (scaled < -kOverlayCoordinateLimit) {
        return -kOverlayCoordinateLimit;
    }
    return static_cast<LONG>(scaled);
}

bool IsJointIndex(int joint)
{
    return joint >= 0 && joint < NUI_SKELETON_POSITION_COUNT;
}

} // namespace

POINT SkeletonToScreen(float x, float y, float z)
{
    // Written so that NaN also fails the test.
    if (!(z > FLT_EPSILON)) {
        return POINT{0, 0};
    }
    // One float variable per step: each operation is rounded to float, in this order, so every
    // compiler picks the same pixel where a coordinate lands on a rounding boundary.
    const float doubledX = x * 2.0f;
    const float scaledX = doubledX * kFocalScale;
    const float projectedX = scaledX / z;
    const float centredX = projectedX + kPictureCentreX;
    const float roundedX = centredX + 0.5f;

    const float doubledY = y * 2.0f;
    const float scaledY = doubledY * kFocalScale;
    const float projectedY = scaledY / z;
    const float centredY = kPictureCentreY - projectedY;
    const float roundedY = centredY + 0.5f;

    return POINT{TruncateCoordinate(roundedX), TruncateCoordinate(roundedY)};
}

POINT ScaleToClient(POINT picturePoint, LONG clientWidth, LONG clientHeight)
{
    return POINT{ScaleCoordinate(picturePoint.x, clientWidth, kFrameWidth),
                 ScaleCoordinate(picturePoint.y, clientHeight, kFrameHeight)};
}

void DrawBone(HDC dc, const NUI_SKELETON_DATA& skeleton, int fromJoint, int toJoint)
{
    if (!IsJointIndex(fromJoint) || !IsJointIndex(toJoint)) {
        return;
    }
    // Read for every bone: the window may be resized while a skeleton is being drawn. A failed
    // query leaves the rectangle empty, which puts the bone at the origin.
    RECT client = {};
    ::GetClientRect(g_hwndOutput, &client);

    const Vector4& from = skeleton.SkeletonPositions[fromJoint];
    const Vector4& to = skeleton.SkeletonPositions[toJoint];
    const POINT start =
        ScaleToClient(SkeletonToScreen(from.x, from.y, from.z), client.right, client.bottom);
    const POINT end =
        ScaleToClient(SkeletonToScreen(to.x, to.y, to.z), client.right, client.bottom);

    ::MoveToEx(dc, start.x, start.y, nullptr);
    ::LineTo(dc, end.x, end.y);
}

void DrawSkeleton(HDC dc, const NUI_SKELETON_DATA& skeleton)
{
    const HPEN pen = ::CreatePen(PS_SOLID, kPenWidth, kPenColour);
    const HGDIOBJ previous = ::SelectObject(dc, pen);
    for (const Bone& bone : kBones) {
        DrawBone(dc, skeleton, bone.fromJoint, bone.toJoint);
    }
    ::SelectObject(dc, previous);
    ::DeleteObject(pen);
}
