// The sound file as a reader finds it: while it is written (a killed program), after it is
// closed, and once it is past what a 32-bit RIFF size can say.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/SoundDevices.h"
#include "recording/WavFile.h"

namespace {

const GUID kFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

WAVEFORMATEXTENSIBLE SensorFormat()
{
    WAVEFORMATEXTENSIBLE f = {};
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = 4;
    f.Format.nSamplesPerSec = 16000;
    f.Format.wBitsPerSample = 32;
    f.Format.nBlockAlign = 16;
    f.Format.nAvgBytesPerSec = 16000 * 16;
    f.Format.cbSize = 22;
    f.Samples.wValidBitsPerSample = 32;
    f.dwChannelMask = DefaultChannelMask(4);
    f.SubFormat = kFloat;
    return f;
}

std::vector<unsigned char> ReadAll(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

uint64_t Get(const std::vector<unsigned char>& b, size_t at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | b.at(at + i);
    }
    return value;
}

std::string Tag(const std::vector<unsigned char>& b, size_t at)
{
    return std::string(reinterpret_cast<const char*>(&b.at(at)), 4);
}

// A reader's view of the data chunk: where it starts and how long it says it is.
struct Parsed {
    std::string riff;
    uint64_t dataAt = 0;
    uint64_t dataBytes = 0;
    uint64_t frames = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t mask = 0;
};

// Walks the chunks as a strict reader does, taking the sizes from ds64 in an RF64 file.
Parsed Parse(const std::vector<unsigned char>& b)
{
    Parsed p;
    p.riff = Tag(b, 0);
    EXPECT_EQ(Tag(b, 8), "WAVE");
    uint64_t riffBytes = Get(b, 4, 4);
    uint64_t ds64Data = 0;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string tag = Tag(b, at);
        uint64_t size = Get(b, at + 4, 4);
        if (tag == "ds64") {
            riffBytes = Get(b, at + 8, 8);
            ds64Data = Get(b, at + 16, 8);
            p.frames = Get(b, at + 24, 8);
        } else if (tag == "fmt ") {
            EXPECT_EQ(Get(b, at + 8, 2), WAVE_FORMAT_EXTENSIBLE);
            p.channels = static_cast<uint16_t>(Get(b, at + 10, 2));
            p.rate = static_cast<uint32_t>(Get(b, at + 12, 4));
            p.mask = static_cast<uint32_t>(Get(b, at + 28, 4));
        } else if (tag == "data") {
            p.dataAt = at + 8;
            p.dataBytes = p.riff == "RF64" ? ds64Data : size;
            break;
        }
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(riffBytes, p.dataAt + p.dataBytes + (p.dataBytes & 1) - 8);
    return p;
}

std::wstring TempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

TEST(WavFile, HeaderFollowsTheDataAndSurvivesAKill)
{
    const std::wstring path = TempPath(L"nvr-wav-kill.wav");
    WavFile wav;
    ASSERT_TRUE(WavFileCreate(wav, path, SensorFormat()));
    std::vector<float> second(16000 * 4, 0.25f);
    ASSERT_TRUE(WavFileWrite(wav, second.data(), second.size() * sizeof(float)));
    ASSERT_TRUE(WavFileWriteSilence(wav, 8000));
    ASSERT_TRUE(WavFileUpdateHeader(wav));
    ASSERT_TRUE(WavFileWrite(wav, second.data(), 1600)); // after the last header: not counted
    // Read while the writer still holds it, as a killed program leaves it.
    std::vector<unsigned char> bytes = ReadAll(path);
    Parsed p = Parse(bytes);
    EXPECT_EQ(p.riff, "RIFF");
    EXPECT_EQ(p.channels, 4);
    EXPECT_EQ(p.rate, 16000u);
    EXPECT_EQ(p.mask, DefaultChannelMask(4));
    EXPECT_EQ(p.dataBytes, 24000u * 16);
    float last = -1.0f;
    std::memcpy(&last, &bytes.at(p.dataAt + p.dataBytes - 4), 4);
    EXPECT_EQ(last, 0.0f); // the silence
    std::memcpy(&last, &bytes.at(p.dataAt), 4);
    EXPECT_EQ(last, 0.25f);

    EXPECT_EQ(WavFileFrames(wav), 24100);
    ASSERT_TRUE(WavFileClose(wav));
    p = Parse(ReadAll(path));
    EXPECT_EQ(p.dataBytes, 24100u * 16);
    ::DeleteFileW(path.c_str());
}

TEST(WavFile, BecomesRf64PastTheThresholdWithoutMovingItsData)
{
    const std::wstring path = TempPath(L"nvr-wav-rf64.wav");
    WavFile wav;
    WAVEFORMATEXTENSIBLE mono16 = SensorFormat();
    mono16.Format.nChannels = 1;
    mono16.Format.wBitsPerSample = 16;
    mono16.Format.nBlockAlign = 2;
    ASSERT_TRUE(WavFileCreate(wav, path, mono16, 1000));
    std::vector<int16_t> samples(400, 7);
    ASSERT_TRUE(WavFileWrite(wav, samples.data(), 800));
    ASSERT_TRUE(WavFileUpdateHeader(wav));
    EXPECT_EQ(Parse(ReadAll(path)).riff, "RIFF"); // 896 bytes of RIFF size: not yet
    ASSERT_TRUE(WavFileWrite(wav, samples.data(), 800));
    ASSERT_TRUE(WavFileWrite(wav, samples.data(), 1)); // odd: closed with a pad byte
    ASSERT_TRUE(WavFileClose(wav));
    const std::vector<unsigned char> bytes = ReadAll(path);
    const Parsed p = Parse(bytes);
    EXPECT_EQ(p.riff, "RF64");
    EXPECT_EQ(Get(bytes, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(p.dataAt, kWavHeaderBytes);
    EXPECT_EQ(p.dataBytes, 1601u);
    EXPECT_EQ(p.frames, 800u);
    EXPECT_EQ(bytes.size(), kWavHeaderBytes + 1602);
    ::DeleteFileW(path.c_str());
}

} // namespace
