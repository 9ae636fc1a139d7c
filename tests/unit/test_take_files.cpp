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
    EXPECT_TRUE(std::regex_match(host, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:02\.133[+-]\d\d:\d\d)")))
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

} // namespace
