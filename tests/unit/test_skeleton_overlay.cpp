// The skeleton overlay: the projection's float arithmetic against worked values, the scaling to
// the client area, and what DrawSkeleton really hands to GDI (recorded in a metafile).

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sensor/RenderLoop.h"
#include "sensor/SkeletonOverlay.h"

namespace {

constexpr LONG kLimit = 134217727; // 2^27 - 1
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::string Describe(POINT p)
{
    return "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ")";
}

#define EXPECT_POINT(expectedX, expectedY, actual)                                                 \
    EXPECT_EQ(Describe(POINT{expectedX, expectedY}), Describe(actual))

// ---- Projection and scaling ----

TEST(SkeletonToScreen, WorkedExamplesForThreeClientSizes)
{
    struct Row {
        float x, y, z;
        POINT picture, client640, client1280, client644;
    };
    const Row rows[] = {
        {0.0f, 0.0f, 2.0f, {320, 240}, {320, 240}, {640, 480}, {322, 240}},
        {0.5f, 0.25f, 2.0f, {463, 169}, {463, 169}, {926, 338}, {465, 169}},
        {1.0f, 0.0f, 2.0f, {606, 240}, {606, 240}, {1212, 480}, {609, 240}},
        {-1.2f, -0.9f, 1.5f, {-136, 583}, {-136, 583}, {-272, 1166}, {-136, 584}},
        {1.0f, 1.0f, 0.0f, {0, 0}, {0, 0}, {0, 0}, {0, 0}},
        {1.0f, 1.0f, 1.1920929e-7f, {0, 0}, {0, 0}, {0, 0}, {0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "joint " << row.x << ", " << row.y << ", " << row.z);
        const POINT picture = SkeletonToScreen(row.x, row.y, row.z);
        EXPECT_POINT(row.picture.x, row.picture.y, picture);
        EXPECT_POINT(row.client640.x, row.client640.y, ScaleToClient(picture, 640, 480));
        EXPECT_POINT(row.client1280.x, row.client1280.y, ScaleToClient(picture, 1280, 960));
        EXPECT_POINT(row.client644.x, row.client644.y, ScaleToClient(picture, 644, 481));
    }
}

// Inputs chosen where the float result lands exactly on an integer that double arithmetic, or
// dividing by z before multiplying by k, would miss by one.
TEST(SkeletonToScreen, RoundsEveryStepToFloatInTheGivenOrder)
{
    // Float: 683.0 and 603.0; in double both fall just below (682, 602).
    EXPECT_POINT(683, 603, SkeletonToScreen(1.377f, -1.377f, 2.17f));
    // Float: -546.0; ((x*2)/z)*k gives -545.99 and so -545.
    EXPECT_POINT(-546, 80, SkeletonToScreen(-1.623f, 0.3f, 1.07f));
    // -0.7195 and -0.2861 truncate toward zero, not down to -1.
    EXPECT_POINT(0, 0, SkeletonToScreen(-1.1246f, 0.843f, 2.0f));
}

TEST(SkeletonToScreen, NoDepthGivesTheOriginNaNGivesZeroAndFarPointsAreClamped)
{
    for (const float z : {-0.0f, -kInf, kNaN}) {
        EXPECT_POINT(0, 0, SkeletonToScreen(0.5f, 0.25f, z));
    }
    const float justAbove = std::nextafter(FLT_EPSILON, 1.0f);
    EXPECT_POINT(320, 240, SkeletonToScreen(0.0f, 0.0f, justAbove));
    // About 4.8e9 before truncation: clamped, y upward means the picture's top.
    EXPECT_POINT(kLimit, -kLimit, SkeletonToScreen(1.0f, 1.0f, justAbove));
    // Just inside the limit the float is kept as it is; just outside it is clamped.
    EXPECT_POINT(134217288, 134217208, SkeletonToScreen(234949.0f, -234949.0f, 1.0f));
    EXPECT_POINT(kLimit, -134216728, SkeletonToScreen(234950.0f, 234949.0f, 1.0f));
    EXPECT_POINT(0, 240, SkeletonToScreen(kNaN, 0.0f, 2.0f));
    EXPECT_POINT(-kLimit, -kLimit, SkeletonToScreen(-FLT_MAX, FLT_MAX, 2.0f)); // x*2 overflows

    // Scaling truncates toward zero (-644/640 is -1, not -2), keeps products beyond 32 bits
    // exact and clamps afterwards; a minimised window puts everything at the origin.
    EXPECT_POINT(-1, -1, ScaleToClient(POINT{-1, -1}, 644, 481));
    EXPECT_POINT(kLimit, 5000000, ScaleToClient(POINT{300000, 2400}, 1000000, 1000000));
    EXPECT_POINT(kLimit, 4473924, ScaleToClient(POINT{LONG_MIN, LONG_MIN}, LONG_MIN, -1));
    EXPECT_POINT(0, 0, ScaleToClient(POINT{LONG_MIN, LONG_MAX}, 0, 0));
}

// ---- Drawing ----

// Sets g_hwndOutput to a borderless window whose client area is the size asked for.
class OverlayWindow : public testing::Test {
protected:
    void SetUp() override
    {
        g_hwndOutput = ::CreateWindowExW(0, L"STATIC", L"overlay test", WS_POPUP, 0, 0, 320, 240,
                                         nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, g_hwndOutput);
    }

    void TearDown() override
    {
        ::DestroyWindow(g_hwndOutput);
        g_hwndOutput = nullptr;
    }

    static void SetClientSize(int width, int height)
    {
        ASSERT_TRUE(::SetWindowPos(g_hwndOutput, nullptr, 0, 0, width, height,
                                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    }
};

// A standing figure two metres away, arms stretched out; every joint distinct.
NUI_SKELETON_DATA Figure()
{
    const float joints[20][2] = {
        {0.0f, 0.0f},   {0.0f, 0.25f}, {0.0f, 0.5f},   {0.0f, 0.65f},   {-0.2f, 0.5f},
        {-0.25f, 0.4f}, {-0.5f, 0.4f}, {-0.75f, 0.4f}, {0.2f, 0.5f},    {0.25f, 0.4f},
        {0.5f, 0.4f},   {0.75f, 0.4f}, {-0.2f, -0.1f}, {-0.3f, -0.35f}, {-0.35f, -0.6f},
        {-0.5f, -0.7f}, {0.2f, -0.1f}, {0.3f, -0.35f}, {0.35f, -0.6f},  {0.5f, -0.7f},
    };
    NUI_SKELETON_DATA skeleton = {};
    skeleton.eTrackingState = NUI_SKELETON_TRACKED;
    for (int i = 0; i < 20; ++i) {
        skeleton.SkeletonPositions[i] = Vector4{joints[i][0], joints[i][1], 2.0f, 1.0f};
    }
    return skeleton;
}

// Closes a metafile device context and replays what it recorded as one line per GDI record
// (header and end left out), so a wrong call, order or argument shows up as a readable diff.
std::vector<std::string> CloseAndReplay(HDC metafileDc)
{
    const HENHMETAFILE metafile = ::CloseEnhMetaFile(metafileDc);
    std::vector<BYTE> bits(::GetEnhMetaFileBits(metafile, 0, nullptr));
    ::GetEnhMetaFileBits(metafile, static_cast<UINT>(bits.size()), bits.data());
    ::DeleteEnhMetaFile(metafile);
    std::vector<std::string> calls;
    for (size_t offset = 0; offset + sizeof(EMR) <= bits.size();) {
        EMR header = {};
        std::memcpy(&header, bits.data() + offset, sizeof(header));
        const BYTE* record = bits.data() + offset;
        if (header.iType == EMR_CREATEPEN) {
            EMRCREATEPEN pen = {};
            std::memcpy(&pen, record, sizeof(pen));
            char text[64];
            std::snprintf(text, sizeof(text), "pen %lu style %u width %ld colour %06lx", pen.ihPen,
                          pen.lopn.lopnStyle, pen.lopn.lopnWidth.x,
                          static_cast<unsigned long>(pen.lopn.lopnColor));
            calls.emplace_back(text);
        } else if (header.iType == EMR_SELECTOBJECT || header.iType == EMR_DELETEOBJECT) {
            EMRSELECTOBJECT object = {};
            std::memcpy(&object, record, sizeof(object));
            calls.push_back((header.iType == EMR_SELECTOBJECT ? "select " : "delete ") +
                            std::to_string(object.ihObject));
        } else if (header.iType == EMR_MOVETOEX || header.iType == EMR_LINETO) {
            EMRLINETO line = {};
            std::memcpy(&line, record, sizeof(line));
            calls.push_back((header.iType == EMR_MOVETOEX ? "move " : "line ") +
                            Describe(POINT{line.ptl.x, line.ptl.y}));
        } else if (header.iType != EMR_HEADER && header.iType != EMR_EOF) {
            calls.push_back("record " + std::to_string(header.iType));
        }
        offset += header.nSize;
    }
    return calls;
}

TEST_F(OverlayWindow, DrawsTheBodysNineteenBonesWithOneGreenPenAndRestoresTheDc)
{
    SetClientSize(644, 481);
    const HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, dc);
    // The caller's own pen (metafile object 1) must be the one selected afterwards.
    const HPEN callerPen = ::CreatePen(PS_DOT, 1, RGB(255, 0, 0));
    ::SelectObject(dc, callerPen);
    const NUI_SKELETON_DATA figure = Figure();

    DrawSkeleton(dc, figure);

    EXPECT_EQ(callerPen, ::GetCurrentObject(dc, OBJ_PEN));
    std::vector<std::string> calls = CloseAndReplay(dc);
    ::DeleteObject(callerPen);
    ASSERT_EQ(calls.size(), 4u + 2 * 19 + 2);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
              (std::vector<std::string>{"pen 1 style 2 width 1 colour 0000ff", "select 1",
                                        "pen 2 style 0 width 2 colour 00ff00", "select 2"}));
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"select 1", "delete 2"}));
    // The first bone runs from the hip centre (322, 240) up to the spine (322, 169).
    EXPECT_EQ(calls[4] + " " + calls[5], "move (322, 240) line (322, 169)");

    // Each limb hangs from the right joint: the head above the shoulder centre, both
    // shoulders from it, the elbows from the shoulders, the hips from the hip centre; the head
    // is not joined to the left shoulder, nor the spine to an elbow.
    std::set<std::string> bones;
    for (size_t i = 4; i + 1 < calls.size() - 2; i += 2) {
        bones.insert(calls[i] + " " + calls[i + 1]);
    }
    const auto drawn = [&](int from, int to) {
        const auto at = [&](int joint) {
            const Vector4& p = figure.SkeletonPositions[joint];
            return Describe(ScaleToClient(SkeletonToScreen(p.x, p.y, p.z), 644, 481));
        };
        return bones.count("move " + at(from) + " line " + at(to)) == 1;
    };
    for (const auto& [from, to] : std::vector<std::pair<int, int>>{
             {2, 3}, {2, 4}, {2, 8}, {4, 5}, {8, 9}, {10, 11}, {0, 12}, {0, 16}, {18, 19}}) {
        EXPECT_TRUE(drawn(from, to)) << "bone " << from << "-" << to;
    }
    EXPECT_FALSE(drawn(3, 4));
    EXPECT_FALSE(drawn(1, 9));
}

TEST_F(OverlayWindow, EachBoneUsesTheClientAreaReadForIt)
{
    NUI_SKELETON_DATA skeleton = Figure();
    skeleton.SkeletonPositions[19].z = 0.0f;
    const HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, dc);

    SetClientSize(1280, 960);
    DrawBone(dc, skeleton, 9, 10);
    SetClientSize(320, 240);
    DrawBone(dc, skeleton, 9, 10);
    DrawBone(dc, skeleton, 18, 19); // a joint without depth sits at the client origin
    SetClientSize(0, 0);            // minimised: everything at the origin
    DrawBone(dc, skeleton, 9, 10);
    DrawBone(dc, skeleton, -1, 3); // not joints: nothing drawn
    DrawBone(dc, skeleton, 3, 20);

    // Joint 9 is picture (391, 126), joint 10 (463, 126), joint 18 (420, 411).
    const std::vector<std::string> expected = {
        "move (782, 252)", "line (926, 252)", "move (195, 63)", "line (231, 63)",
        "move (210, 205)", "line (0, 0)",     "move (0, 0)",    "line (0, 0)"};
    EXPECT_EQ(expected, CloseAndReplay(dc));
}

} // namespace
