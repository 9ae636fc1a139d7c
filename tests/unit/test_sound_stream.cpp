// A take's sound stream through the capture seam: a device that delivers 10 ms packets on the
// host clock, is lost (AUDCLNT_E_DEVICE_INVALIDATED) and stays away for a while, or is not
// there at all.

#include <gtest/gtest.h>

#include <windows.h>

#include <audioclient.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/HostClock.h"
#include "platform/SoundDevices.h"
#include "recording/SoundStream.h"
#include "recording/WavFile.h"
#include "tests/support/FakeSoundDevice.h"

namespace {

using namespace fake_sound;

std::wstring TempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

// The file's first channel, from the data chunk on (the header is kWavHeaderBytes).
std::vector<float> FirstChannel(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<float> samples;
    for (std::size_t at = kWavHeaderBytes; at + 4 * kChannels <= bytes.size();
         at += 4 * kChannels) {
        float value;
        std::memcpy(&value, &bytes[at], 4);
        samples.push_back(value);
    }
    return samples;
}

class SoundStreamTest : public testing::Test {
protected:
    void SetUp() override { SetSoundCaptureOpener(OpenFakeSound); }
    void TearDown() override
    {
        SetSoundCaptureOpener(nullptr);
        g_absent.store(false);
        g_lost.store(false);
    }
};

TEST_F(SoundStreamTest, LostDeviceIsFilledWithSilenceRetriedAndResumesInTheSameFile)
{
    const std::wstring path = TempPath(L"nvr-sound-lost.wav");
    HRESULT error = S_OK;
    std::shared_ptr<SoundStream> stream = StartSoundStream(L"{fake}", path, error);
    ASSERT_TRUE(stream) << std::hex << error;
    const double zero = NowSeconds();
    SoundStreamSetFrameZero(*stream, HostTicks());
    ::Sleep(1000);
    g_absent.store(true);
    g_lost.store(true);
    const double lostAt = NowSeconds();
    ::Sleep(500);
    EXPECT_TRUE(SoundStreamLevelNow(*stream).deviceGone);
    ::Sleep(4000);
    g_lost.store(false);
    g_absent.store(false); // found again at the next retry, about 6 s after the loss
    ::Sleep(2500);
    const SoundStreamLevel level = SoundStreamLevelNow(*stream);
    EXPECT_FALSE(level.deviceGone);
    EXPECT_NEAR(level.peakDb, 20.0 * std::log10(kTone), 0.1);
    SoundStreamReport report;
    const double end = NowSeconds();
    ASSERT_TRUE(AwaitSoundStreamEnd(*stream, 5000, report));
    EXPECT_TRUE(report.complete);

    // Retried every 3 s while it was gone.
    ASSERT_GE(g_opens.size(), 3u);
    EXPECT_NEAR(g_opens[1] - lostAt, 3.0, 0.3);
    EXPECT_NEAR(g_opens[2] - g_opens[1], 3.0, 0.3);
    // One file from frame 0 to the end, sound around one interval of silence where the device
    // was gone.
    const std::vector<float> samples = FirstChannel(path);
    EXPECT_EQ(static_cast<int64_t>(samples.size()), report.frames);
    EXPECT_NEAR(samples.size() / double(kRate), end - zero, 0.08);
    ASSERT_EQ(report.gaps.size(), 1u);
    const SoundInterval gap = report.gaps[0];
    EXPECT_NEAR(gap.from / double(kRate), lostAt - zero, 0.08);
    EXPECT_NEAR((gap.from + gap.frames) / double(kRate), g_opens.back() - zero, 0.05);
    int64_t wrong = 0;
    for (int64_t i = 0; i < static_cast<int64_t>(samples.size()); ++i) {
        const bool inGap = i >= gap.from && i < gap.from + gap.frames;
        wrong += samples[i] != (inGap ? 0.0f : kTone) && i >= report.leadingSilence;
    }
    EXPECT_EQ(wrong, 0);
    ::DeleteFileW(path.c_str());
}

TEST_F(SoundStreamTest, AbsentDeviceStartsNothing)
{
    const std::wstring path = TempPath(L"nvr-sound-absent.wav");
    g_absent.store(true);
    HRESULT error = S_OK;
    EXPECT_FALSE(StartSoundStream(L"{fake}", path, error));
    EXPECT_EQ(error, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    EXPECT_EQ(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(SoundDevices, SensorArrayIsKnownByItsUsbIdentityOrItsName)
{
    EXPECT_TRUE(IsSensorArrayName(L"Microphone Array (Xbox NUI Sensor)"));
    EXPECT_TRUE(IsSensorArrayName(L"Microphone Array (kinect usb audio)"));
    EXPECT_FALSE(IsSensorArrayName(L"PulseAudio"));
    EXPECT_TRUE(IsSensorArrayHardwareId(L"{1}.USB\\VID_045E&PID_02BB&MI_02\\7&1234"));
    EXPECT_FALSE(IsSensorArrayHardwareId(L"{1}.USB\\VID_045E&PID_0745&MI_00\\7&1234"));
}

} // namespace
