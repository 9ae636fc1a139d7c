// The skeleton file: its name beside the video, its rows checked against worked values, and a
// file that can't be made.

#include <gtest/gtest.h>

#include <windows.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "recording/SkeletonCsv.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& line, char separator)
{
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == separator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// Column of a joint's field: 8 leading columns, then six per joint.
size_t JointColumn(int joint, int field)
{
    return 8 + 6 * static_cast<size_t>(joint) + static_cast<size_t>(field);
}

// Records 1 and 3 tracked; record 0 carries joints but is not tracked. Record 1's hip centre
// and left hand sit at points worked out for the overlay's projection.
NUI_SKELETON_FRAME WorkedSkeletons()
{
    NUI_SKELETON_FRAME frame = {};
    frame.dwFrameNumber = 1239;
    frame.liTimeStamp.QuadPart = 41300;
    for (int r = 0; r < NUI_SKELETON_COUNT; ++r) {
        for (Vector4& joint : frame.SkeletonData[r].SkeletonPositions) {
            joint = Vector4{0.0f, 0.0f, 2.0f, 1.0f};
        }
    }
    frame.SkeletonData[1].eTrackingState = NUI_SKELETON_TRACKED;
    frame.SkeletonData[1].dwTrackingID = 7;
    frame.SkeletonData[1].SkeletonPositions[0] = Vector4{0.5f, 0.25f, 2.0f, 1.0f};
    frame.SkeletonData[1].SkeletonPositions[7] = Vector4{-1.2f, -0.9f, 1.5f, 1.0f};
    frame.SkeletonData[1].eSkeletonPositionTrackingState[0] = 2;
    frame.SkeletonData[1].eSkeletonPositionTrackingState[7] = 1;
    frame.SkeletonData[3].eTrackingState = NUI_SKELETON_TRACKED;
    frame.SkeletonData[3].dwTrackingID = 9;
    frame.SkeletonData[0].eTrackingState = NUI_SKELETON_POSITION_ONLY;
    return frame;
}

TEST(SkeletonCsv, PathIsTheVideosStemWithoutItsLastExtension)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"take.mp4", L"take.skeleton.csv"},
        {L"D:\\rec\\take", L"D:\\rec\\take.skeleton.csv"},
        {L"D:\\r.e\\take", L"D:\\r.e\\take.skeleton.csv"},
        {L"D:\\rec\\take.mp4_2026-12-06__10-11PM_to_10-12PM.mp4",
         L"D:\\rec\\take.mp4_2026-12-06__10-11PM_to_10-12PM.skeleton.csv"},
    };
    for (const auto& [video, expected] : cases) {
        EXPECT_EQ(SkeletonCsvPathFor(video), expected);
    }
}

TEST(SkeletonCsv, RowsCarryTheFrameAndEachTrackedRecordWithPointDecimals)
{
    // A locale that writes decimal commas must not reach the file.
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "German_Germany.1252"), nullptr);

    const NUI_SKELETON_FRAME skeletons = WorkedSkeletons();
    std::string out = "kept\r\n";
    AppendSkeletonCsvRows(out, SkeletonCsvFrame{1235, 1240, 41333, &skeletons});
    std::setlocale(LC_ALL, previous.c_str());

    const std::vector<std::string> lines = Split(out, '\n');
    ASSERT_EQ(lines.size(), 4u) << out; // the kept line, two rows, nothing after the last end
    EXPECT_EQ(lines[0], "kept\r");
    EXPECT_EQ(lines[3], "");
    const std::vector<std::string> first = Split(lines[1].substr(0, lines[1].size() - 1), ',');
    const std::vector<std::string> second = Split(lines[2].substr(0, lines[2].size() - 1), ',');
    ASSERT_EQ(first.size(), 128u);
    ASSERT_EQ(second.size(), 128u);
    EXPECT_EQ(std::vector<std::string>(first.begin(), first.begin() + 8),
              (std::vector<std::string>{"1235", "41.166667", "1240", "41333", "1239", "41300", "1",
                                        "7"}));
    EXPECT_EQ(std::vector<std::string>(first.begin() + JointColumn(0, 0),
                                       first.begin() + JointColumn(0, 6)),
              (std::vector<std::string>{"0.5", "0.25", "2", "463", "169", "2"}));
    EXPECT_EQ(std::vector<std::string>(first.begin() + JointColumn(7, 0),
                                       first.begin() + JointColumn(7, 6)),
              (std::vector<std::string>{"-1.2", "-0.9", "1.5", "-136", "583", "1"}));
    EXPECT_EQ(second[6], "3");
    EXPECT_EQ(second[7], "9");
    EXPECT_EQ(second[JointColumn(19, 3)], "320");
    EXPECT_EQ(second[JointColumn(19, 5)], "0");

    // Nobody tracked, or no skeleton frame yet: no row.
    NUI_SKELETON_FRAME nobody = skeletons;
    nobody.SkeletonData[1].eTrackingState = NUI_SKELETON_NOT_TRACKED;
    nobody.SkeletonData[3].eTrackingState = NUI_SKELETON_NOT_TRACKED;
    std::string none;
    AppendSkeletonCsvRows(none, SkeletonCsvFrame{3, 4, 133, &nobody});
    AppendSkeletonCsvRows(none, SkeletonCsvFrame{3, 4, 133, nullptr});
    EXPECT_EQ(none, "");
}

TEST(SkeletonCsv, FileHoldsTheHeaderThenEachFramesRows)
{
    const fs::path path = fs::temp_directory_path() /
                          (L"nvr-skeleton-" + std::to_wstring(::GetCurrentProcessId()) + L".csv");
    std::ofstream(path) << std::string(20000, 'x'); // an older, longer file: replaced
    const NUI_SKELETON_FRAME skeletons = WorkedSkeletons();
    SkeletonCsvFile file;
    ASSERT_TRUE(SkeletonCsvOpen(file, path.wstring()));
    SkeletonCsvAppend(file, SkeletonCsvFrame{0, 5, 166, nullptr});
    SkeletonCsvAppend(file, SkeletonCsvFrame{1, 6, 200, &skeletons});
    SkeletonCsvAppend(file, SkeletonCsvFrame{2, 6, 200, &skeletons}); // a repeated colour frame
    EXPECT_TRUE(SkeletonCsvClose(file));

    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    fs::remove(path);
    std::string expected;
    AppendSkeletonCsvRows(expected, SkeletonCsvFrame{1, 6, 200, &skeletons});
    AppendSkeletonCsvRows(expected, SkeletonCsvFrame{2, 6, 200, &skeletons});
    const size_t headerEnd = text.find("\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    EXPECT_EQ(text.substr(headerEnd + 2), expected);

    const std::vector<std::string> header = Split(text.substr(0, headerEnd), ',');
    ASSERT_EQ(header.size(), 128u);
    EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + 9),
              (std::vector<std::string>{"frame", "time_s", "color_frame", "color_time_ms",
                                        "skeleton_frame", "skeleton_time_ms", "skeleton",
                                        "tracking_id", "hip_center_x"}));
    EXPECT_EQ(header[JointColumn(7, 3)], "hand_left_u");
    EXPECT_EQ(header[JointColumn(19, 5)], "foot_right_state");
}

TEST(SkeletonCsv, AFileThatCannotBeMadeFailsOpenAndClose)
{
    SkeletonCsvFile file;
    EXPECT_FALSE(SkeletonCsvClose(file)) << "nothing was opened";
    const fs::path folder = fs::temp_directory_path();
    for (const fs::path& path : {folder / L"nvr-no-such-folder" / L"take.skeleton.csv", folder}) {
        EXPECT_FALSE(SkeletonCsvOpen(file, path.wstring()));
        SkeletonCsvAppend(file, SkeletonCsvFrame{0, 0, 0, nullptr});
        EXPECT_FALSE(SkeletonCsvClose(file));
        EXPECT_TRUE(SkeletonCsvOpen(file, (folder / L"nvr-skeleton-ok.csv").wstring()));
        EXPECT_TRUE(SkeletonCsvClose(file)) << "a failure outlived its file";
        fs::remove(folder / L"nvr-skeleton-ok.csv");
    }
}

} // namespace
