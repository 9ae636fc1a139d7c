// What the program publishes to Lab Streaming Layer: a skeleton frame as one sample and its
// channels' labels, in the skeleton file's order; the library's configuration over the user's.

#include <gtest/gtest.h>

#include "recording/LabSamples.h"

namespace {

TEST(LabSamples, SkeletonSampleAndLabelsFollowTheSlotsAndJoints)
{
    NUI_SKELETON_FRAME frame = {};
    for (NUI_SKELETON_DATA& data : frame.SkeletonData) {
        data.eTrackingState = NUI_SKELETON_POSITION_ONLY; // not tracked: all zeros
        data.dwTrackingID = 9;
        data.SkeletonPositions[3] = Vector4{1.0f, 1.0f, 1.0f, 1.0f};
    }
    NUI_SKELETON_DATA& tracked = frame.SkeletonData[4];
    tracked.eTrackingState = NUI_SKELETON_TRACKED;
    tracked.dwTrackingID = 77;
    for (int j = 0; j < NUI_SKELETON_POSITION_COUNT; ++j) {
        tracked.SkeletonPositions[j] = Vector4{j + 0.25f, -j - 0.5f, j * 0.125f + 1.0f, 1.0f};
        tracked.eSkeletonPositionTrackingState[j] = j % 3;
    }
    float sample[kSkeletonChannels];
    FillSkeletonSample(frame, sample);
    for (int i = 0; i < kSkeletonChannels; ++i) {
        const int slot = i / kSkeletonSlotChannels;
        const int within = i % kSkeletonSlotChannels;
        const int joint = (within - 1) / 4;
        const float expected[] = {joint + 0.25f, -joint - 0.5f, joint * 0.125f + 1.0f,
                                  static_cast<float>(joint % 3)};
        const float value = slot != 4 ? 0.0f : within == 0 ? 77.0f : expected[(within - 1) % 4];
        ASSERT_EQ(sample[i], value) << SkeletonChannel(i).label;
    }
    EXPECT_EQ(SkeletonChannel(13).label, "S0_HeadX");
    EXPECT_STREQ(SkeletonChannel(13).unit, "meters");
    EXPECT_EQ(SkeletonChannel(kSkeletonSlotChannels).label, "S1_TrackingId");
    EXPECT_EQ(SkeletonChannel(kSkeletonSlotChannels + 8).label, "S1_SpineState");
    EXPECT_STREQ(SkeletonChannel(kSkeletonSlotChannels + 8).unit, "");
    EXPECT_EQ(SkeletonChannel(kSkeletonChannels - 2).label, "S5_FootRightZ");
}

TEST(LabSamples, ConfigurationKeepsTheUsersSettingsButNotTheirTimerOrLog)
{
    const std::string content = LabConfigContent(
        "; the lab's\r\n[lab]\r\nKnownPeers = {10.0.0.5}\r\n[tuning]\r\nTimerResolution=1\r\n"
        "UseProtocolVersion = 110\r\n[log]\r\n level = 4 \r\n[ports]\r\nlevel = 2\r\n");
    for (const char* kept : {"KnownPeers = {10.0.0.5}\n", "UseProtocolVersion = 110\n",
                             "[ports]\nlevel = 2\n"}) {
        EXPECT_NE(content.find(kept), std::string::npos) << kept << " in\n" << content;
    }
    EXPECT_EQ(content.find("TimerResolution=1"), std::string::npos) << content;
    EXPECT_EQ(content.find("level = 4"), std::string::npos) << content;
    EXPECT_NE(content.find("[tuning]\nTimerResolution = 0\n"), std::string::npos) << content;
    EXPECT_NE(content.find("[log]\nlevel = -3\n"), std::string::npos) << content;
    EXPECT_EQ(LabSourceId(L"LAB-7", L"USB\\VID_045E&PID_02AE\\5&1", "frames"),
              "NimbraVIZ_LAB-7_USB_VID_045E_PID_02AE_5_1_frames");
    EXPECT_EQ(LabSourceId(L"LAB-7", L"", "markers"), "NimbraVIZ_LAB-7_sensor0_markers");
}

} // namespace
