// The files written beside a take: their names, the frames file's rows, the take file's JSON
// and the wall-clock times they carry.

#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

#include "recording/FramesCsv.h"
#include "recording/IsoTime.h"
#include "recording/TakeFiles.h"
#include "recording/TakeInfo.h"

namespace {

TEST(TakeFiles, CompanionsFollowTheVideosStemAtStartAndAtTheEnd)
{
    TakeFiles files = TakeFilesFor(L"D:\\rec.d\\take.mp4", true, true);
    ASSERT_EQ(files.companions.size(), 4u);
    EXPECT_EQ(FindTakeFile(files, kDepthSuffix)->startPath, L"D:\\rec.d\\take.depth.mkv");
    const SYSTEMTIME start = {2024, 3, 2, 5, 11, 58, 0, 0};
    const SYSTEMTIME end = {2024, 3, 2, 5, 12, 3, 0, 0};
    ASSERT_TRUE(NameTakeFiles(files, start, end));
    EXPECT_EQ(FindTakeFile(files, kTakeInfoSuffix)->finalPath,
              L"D:\\rec.d\\take.mp4_2024-03-05__11-58AM_to_12-03PM.take.json");
    EXPECT_EQ(FindTakeFile(files, kFramesSuffix)->finalPath,
              L"D:\\rec.d\\take.mp4_2024-03-05__11-58AM_to_12-03PM.frames.csv");
    // Skeleton data alone also writes the frames and take files; neither, no companion.
    EXPECT_EQ(TakeFilesFor(L"take", true, false).companions.size(), 3u);
    EXPECT_TRUE(TakeFilesFor(L"take.mp4", false, false).companions.empty());
}

TEST(TakeFiles, FramesRowsCarryBothStreamsAndTheHostTime)
{
    // 2024-03-05 10:58:02.133 UTC as a FILETIME value.
    SYSTEMTIME utc = {2024, 3, 2, 5, 10, 58, 2, 133};
    FILETIME file = {};
    ASSERT_TRUE(::SystemTimeToFileTime(&utc, &file));
    const uint64_t takenAt = (uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime;
    const std::string host = FormatIsoLocalTime(takenAt);
    EXPECT_TRUE(
        std::regex_match(host, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:02\.133[+-]\d\d:\d\d)")))
        << host;

    std::string rows;
    AppendFramesCsvRow(rows, FramesCsvRow{31, 1240, 41333, true, 1239, 41313, false, takenAt});
    AppendFramesCsvRow(rows, FramesCsvRow{32, 1240, 41333, false, 0, 0, true, takenAt});
    EXPECT_EQ(rows, "31,1.033333,1240,41333,1239,41313,0," + host + "\r\n" +
                        "32,1.066667,1240,41333,,,1," + host + "\r\n");
}

TEST(TakeFiles, TakeFileNamesEveryFileAndTheDepthFocalLengthForItsSize)
{
    TakeInfo info;
    info.start = "2024-03-05T11:58:02.133+01:00";
    info.end = "2024-03-05T12:03:00.000+01:00";
    info.frames = 9000;
    info.video = L"say \"hi\" \u00e9.mp4";
    info.depth = L"take.depth.mkv";
    info.depthWidth = 320;
    info.depthHeight = 240;
    const std::string json = TakeInfoJson(info);
    EXPECT_NE(json.find("\"video\": \"say \\\"hi\\\" \xc3\xa9.mp4\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"skeleton\": null"), std::string::npos);
    EXPECT_NE(json.find("\"width\": 320, \"height\": 240, \"frame_rate\": 30, \"pixel_format\": "
                        "\"gray16le\", \"codec\": \"ffv1\", \"focal_length_px\": 285.63"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"focal_length_px\": 531.15"), std::string::npos);
    info.depthWidth = 640;
    EXPECT_NE(TakeInfoJson(info).find("571.26"), std::string::npos);
    info.depthWidth = 0;
    EXPECT_EQ(TakeInfoJson(info).find("\"depth\": {"), std::string::npos);

    // A long name, 300 bytes of UTF-8, is whole in its stream's entry too.
    info.video = std::wstring(100, L'\u6771') + L".mp4";
    std::string name;
    for (int i = 0; i < 100; ++i) {
        name += "\xe6\x9d\xb1";
    }
    const std::string entry = "{\"file\": \"" + name +
                              ".mp4\", \"width\": 640, \"height\": 480, \"frame_rate\": 30, "
                              "\"pixel_format\": \"yuv420p\", \"codec\": \"h264\", "
                              "\"focal_length_px\": 531.15}";
    EXPECT_NE(TakeInfoJson(info).find(entry), std::string::npos);

    // Published: the streams' names and ids, and frame 0's LSL time to 100 ns.
    EXPECT_NE(TakeInfoJson(info).find("\"lsl\": null,"), std::string::npos);
    info.lsl.streams = {{"NimbraVIZ Frames", "id \"1\""}, {"NimbraVIZ Markers", "id2"}};
    info.lsl.hasFrame0 = true;
    info.lsl.frame0Time = 1587.74334825;
    EXPECT_NE(TakeInfoJson(info).find(
                  "\"lsl\": {\"streams\": [{\"name\": \"NimbraVIZ Frames\", \"source_id\": "
                  "\"id \\\"1\\\"\"}, {\"name\": \"NimbraVIZ Markers\", \"source_id\": \"id2\"}], "
                  "\"frame0_time\": 1587.7433483},\r\n"),
              std::string::npos)
        << TakeInfoJson(info);
}

// The take runs from its first video frame's fetch to its last one's; a take that begins or
// ends without the sensor runs from or to that gap's edge. Gaps past the frames the video holds
// (frames never handed over) are cut off.
TEST(TakeFiles, TakeTimesComeFromTheFramesOrTheGapsAtTheEdges)
{
    const uint64_t second = 10000000;
    const uint64_t t0 = 133000000000000000ull; // 2022-06-17
    const auto times = [&](uint64_t first, uint64_t last, std::vector<SensorGap> gaps) {
        TakeInfo info;
        info.frames = 300;
        SetTakeTimes(info, first, last, std::move(gaps), t0);
        return info;
    };
    const TakeInfo plain = times(t0 + second, t0 + 11 * second, {});
    EXPECT_EQ(plain.start, FormatIsoLocalTime(t0 + second));
    EXPECT_EQ(plain.end, FormatIsoLocalTime(t0 + 11 * second));

    const SensorGap middle{t0 + 3 * second, t0 + 5 * second, 60, 60};
    const TakeInfo between = times(t0 + second, t0 + 11 * second, {middle});
    EXPECT_EQ(between.end, FormatIsoLocalTime(t0 + 11 * second));
    ASSERT_EQ(between.sensorGaps.size(), 1u);
    const std::string json = TakeInfoJson(between);
    EXPECT_NE(json.find("\"sensor_missing\": [\r\n    {\"start\": \"" +
                        FormatIsoLocalTime(middle.start) + "\", \"end\": \"" +
                        FormatIsoLocalTime(middle.end) +
                        "\", \"first_frame\": 60, \"frames\": 60}"),
              std::string::npos)
        << json;

    // The first and last pictures are older than the gaps that hold them.
    const SensorGap atStart{t0 + 2 * second, t0 + 4 * second, 0, 60};
    const SensorGap atEnd{t0 + 9 * second, t0 + 12 * second, 250, 90};
    const TakeInfo edges = times(t0, t0 + 8 * second, {atStart, middle, atEnd});
    EXPECT_EQ(edges.start, FormatIsoLocalTime(atStart.start));
    EXPECT_EQ(edges.end, FormatIsoLocalTime(atEnd.end));
    ASSERT_EQ(edges.sensorGaps.size(), 3u);
    EXPECT_EQ(edges.sensorGaps[2].frames, 50);
    EXPECT_EQ(times(t0, t0, {SensorGap{t0, t0, 300, 5}}).sensorGaps.size(), 0u);
    EXPECT_NE(TakeInfoJson(plain).find("\"sensor_missing\": [],"), std::string::npos);
}

} // namespace
