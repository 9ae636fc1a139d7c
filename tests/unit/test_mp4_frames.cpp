// The MP4 frame count on box trees built in memory, whose media is left out so that reading it
// fails the count, and on a file that a writer still holds.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "recording/Mp4Frames.h"

namespace {

// `value` as `bytes` big-endian bytes.
std::string Be(uint64_t value, int bytes)
{
    return bytes == 0 ? std::string() : Be(value >> 8, bytes - 1) + static_cast<char>(value & 0xff);
}

std::string Box(const char* type, const std::string& body)
{
    return Be(body.size() + 8, 4) + type + body;
}

// A track whose sample table holds `table`. The fields of tkhd, hdlr, stsz, stz2, stts, tfhd and
// trun follow a word of version and flags: Be(90, 12) as stsz is a count of 90 samples.
std::string Trak(uint32_t id, const char* handler, const std::string& table)
{
    return Box("trak", Box("tkhd", Be(0, 12) + Be(id, 4) + std::string(68, '\0')) +
                           Box("mdia", Box("hdlr", Be(0, 8) + handler + std::string(13, '\0')) +
                                           Box("minf", Box("stbl", table))));
}

const std::string kFtyp = Box("ftyp", "isom" + Be(512, 4) + "isomavc1");
const std::string kMoov = Box("moov", Trak(1, "vide", Box("stsz", Be(90, 12))));
const std::string kSoundMoov = Box("moov", Trak(1, "soun", Box("stsz", Be(44, 12))));
const std::string kFragMoov =
    Box("moov", Trak(1, "vide", Box("stsz", Be(0, 12))) + Box("mvex", ""));
// 30 samples of track 1 in two runs, beside a fragment of a track 2.
const std::string kMoof =
    Box("moof",
        Box("traf", Box("tfhd", Be(2, 8)) + Box("trun", Be(44, 8))) +
            Box("traf", Box("tfhd", Be(1, 8)) + Box("trun", Be(20, 8)) + Box("trun", Be(10, 8))));

// A file whose media exists only as the sizes in its mdat headers.
struct File {
    std::vector<std::pair<uint64_t, std::string>> pieces; // at their offsets
    uint64_t size = 0;
    File& Add(const std::string& bytes, uint64_t media = 0)
    {
        pieces.emplace_back(size, bytes);
        size += bytes.size() + media;
        return *this;
    }
    File& Mdat(uint64_t media, bool large = false)
    {
        return Add(large ? Be(1, 4) + "mdat" + Be(media + 16, 8) : Be(media + 8, 4) + "mdat",
                   media);
    }
    // The reader of the file's first `size` bytes: a read that touches media fails.
    bool operator()(uint64_t offset, unsigned char* buffer, size_t n) const
    {
        for (const auto& [start, bytes] : pieces) {
            if (offset >= start && offset + n <= std::min(size, start + bytes.size())) {
                std::memcpy(buffer, bytes.data() + (offset - start), n);
                return true;
            }
        }
        return false;
    }
};

TEST(Mp4Frames, EachIndexLayoutCountsOrIsRefused)
{
    const std::string stz2 = Box("stz2", Be(8, 8) + Be(90, 4));
    const std::string stts = Box("stts", Be(2, 8) + Be(60, 4) + Be(512, 4) + Be(30, 4) + Be(9, 4));
    const struct {
        File file;
        int frames; // -1: refused
        bool indexBeforeMedia;
    } cases[] = {
        {File().Add(kFtyp).Add(kMoov).Add(Box("free", "")).Mdat(9000), 90, true},
        {File().Add(kFtyp).Mdat(5ull << 32, true).Add(kMoov), 90, false},
        // Compact sizes, durations alone, and a sound track ahead of the video.
        {File().Add(kFtyp).Add(Box("moov", Trak(1, "vide", stz2))), 90, true},
        {File().Add(kFtyp).Add(Box("moov", Trak(1, "vide", stts))), 90, true},
        {File().Add(kFtyp).Add(Box("moov", kSoundMoov.substr(8) + kMoov.substr(8))), 90, true},
        // Cut inside its mdat, a file indexed up front has lost the frames its table lists.
        {File().Add(kFtyp).Add(kMoov).Add(Be(9008, 4) + "mdat", 8999), 0, true},
        // Refused: no ftyp, moov or video, and sizes out of bounds.
        {File().Add(kMoov).Mdat(900), -1, false},
        {File().Add(kFtyp).Mdat(900), -1, false},
        {File().Add(kFtyp).Add(kSoundMoov), -1, false},
        {File().Add(kFtyp).Add(kMoov).Add(Be(4, 4) + "free" + Box("free", "")), -1, false},
        {File().Add(kFtyp).Add(kMoov).Add(Be(1, 4) + "free" + Be(8, 8)), -1, false},
        {File().Add(kFtyp).Add(Box("moov", Be(500, 4) + "trak")), -1, false},
    };
    for (const auto& test : cases) {
        Mp4FrameCount count;
        const bool counted = CountMp4Frames(test.file, test.file.size, count);
        SCOPED_TRACE(testing::Message() << "case " << &test - cases);
        EXPECT_EQ(counted ? static_cast<int>(count.frames) : -1, test.frames);
        EXPECT_EQ(counted && count.indexBeforeMedia, test.indexBeforeMedia);
        EXPECT_FALSE(counted && count.fragmented);
    }
}

TEST(Mp4Frames, FragmentsCountOnceTheirMdatIsWhole)
{
    // 4 GB of media per fragment; the last mdat runs to the end of the file.
    File file;
    const uint64_t moovEnd = file.Add(kFtyp).Add(kFragMoov).size;
    std::vector<uint64_t> mdatEnds;
    mdatEnds.push_back(file.Add(kMoof).Mdat(1ull << 32, true).size);
    mdatEnds.push_back(file.Add(kMoof).Mdat(1ull << 32, true).size);
    mdatEnds.push_back(file.Add(kMoof).Add(Be(0, 4) + "mdat", 1ull << 32).size - (1ull << 32));
    // Cut at every byte of the boxes' headers and just inside the media after each.
    for (const auto& [start, bytes] : file.pieces) {
        for (uint64_t cut = start; cut <= start + bytes.size() + 1; ++cut) {
            SCOPED_TRACE(testing::Message() << "cut at " << cut);
            file.size = cut; // cut short: reads past `cut` fail
            Mp4FrameCount count;
            const bool counted = CountMp4Frames(file, cut, count);
            EXPECT_EQ(counted, cut >= moovEnd);
            const auto whole = std::count_if(mdatEnds.begin(), mdatEnds.end(),
                                             [&](uint64_t end) { return end <= cut; });
            EXPECT_EQ(counted ? count.frames : 0u, 30u * static_cast<uint64_t>(whole));
            EXPECT_TRUE(!counted || (count.fragmented && count.indexBeforeMedia));
        }
    }
}

TEST(Mp4Frames, FileStillOpenForWriting)
{
    const auto path = std::filesystem::temp_directory_path() / "nvr-mp4-frames-test.mp4";
    // Held as the encoder holds its output: open for writing, sharing reads and writes.
    std::ofstream writer(path, std::ios::binary);
    writer << kFtyp << Box("mdat", std::string(5000, 'x')) << kMoov << std::flush;
    Mp4FrameCount count;
    EXPECT_TRUE(CountMp4FileFrames(path.wstring(), count));
    EXPECT_EQ(count.frames, 90u);
    writer.close();
    std::filesystem::remove(path);
}

} // namespace
