#include "recording/EncoderCommand.h"

#include <cmath>
#include <cwchar>

namespace {

// The resampling's intermediate rate goes no higher than this.
constexpr double kMaxUpsampledRate = 1536000.0;
// The rate error the resampling may leave, over the whole video, in seconds.
constexpr double kMaxRateDriftSeconds = 0.002;

std::wstring Number(const wchar_t* format, double value)
{
    wchar_t text[64];
    std::swprintf(text, 64, format, value);
    return text;
}

} // namespace

bool BuildEncoderCommandLine(const std::wstring& path, wchar_t* buffer, std::size_t capacity)
{
    if (capacity == 0) {
        return false;
    }
    buffer[0] = L'\0';
    if (path.find(L'"') != std::wstring::npos) {
        return false;
    }
    std::wstring line = kEncoderCommandPrefix;
    line += path;
    line += L'"';
    if (line.size() + 1 > capacity) {
        return false;
    }
    std::wmemcpy(buffer, line.c_str(), line.size() + 1);
    return true;
}

bool BuildDepthCommandLine(const std::wstring& path, int width, int height, wchar_t* buffer,
                           std::size_t capacity)
{
    if (capacity == 0) {
        return false;
    }
    buffer[0] = L'\0';
    if (path.find(L'"') != std::wstring::npos) {
        return false;
    }
    const std::wstring line =
        L"ffmpeg.exe -y -f rawvideo -pixel_format gray16le -video_size " + std::to_wstring(width) +
        L"x" + std::to_wstring(height) + L" -framerate 30 -i " + kDepthPipeName +
        L" -c:v ffv1 -level 3 -pix_fmt gray16le -flush_packets 1 \"" + path + L"\"";
    if (line.size() + 1 > capacity) {
        return false;
    }
    std::wmemcpy(buffer, line.c_str(), line.size() + 1);
    return true;
}

std::wstring SoundTrackFilter(const RewriteSound& sound)
{
    const double rate = sound.sampleRate;
    const double seconds = static_cast<double>(sound.videoFrames) / 30.0;
    std::wstring filter = L"[1:a]";
    if (sound.mono && sound.channels > 1) {
        filter += L"pan=mono|c0=";
        for (int c = 0; c < sound.channels; ++c) {
            filter += (c > 0 ? L"+" : L"") + Number(L"%.6f", 1.0 / sound.channels) + L"*c" +
                      std::to_wstring(c);
        }
        filter += L",";
    }
    // The device's frames are made the nominal rate's: upsampled exactly by `factor`, taken as
    // the measured rate times `factor` (the nearest whole rate, so a factor is picked that
    // leaves the least error), and resampled to the nominal rate. Both resamplings are true
    // ones; the sound keeps its pitch to within the clocks' difference and lasts as long as the
    // host clock says it did.
    const double measured = sound.measuredRate > 0.0 ? sound.measuredRate : rate;
    int best = 1;
    double bestError = 1e30;
    for (int factor = 1; factor * rate <= kMaxUpsampledRate; ++factor) {
        const double scaled = measured * factor;
        const double error = std::fabs(std::round(scaled) - scaled) / scaled * seconds;
        if (error < bestError) {
            best = factor;
            bestError = error;
        }
        if (error <= kMaxRateDriftSeconds) {
            break;
        }
    }
    const double relabelled = std::round(measured * best);
    if (relabelled != rate * best) {
        filter += L"aresample=" + Number(L"%.0f", rate * best) + L",asetrate=" +
                  Number(L"%.0f", relabelled) + L",aresample=" + Number(L"%.0f", rate) + L",";
    }
    // Sample 0 lies `offsetMs` after the video's frame 0: silence before it, or cut it.
    const long long shift = std::llround(sound.offsetMs / 1000.0 * rate);
    if (shift > 0) {
        filter += L"adelay=delays=" + std::to_wstring(shift) + L"S:all=1,";
    } else if (shift < 0) {
        filter += L"atrim=start_sample=" + std::to_wstring(-shift) + L",asetpts=PTS-STARTPTS,";
    }
    const std::wstring length = Number(L"%.6f", seconds);
    return filter + L"apad=whole_dur=" + length + L",atrim=end=" + length + L"[a]";
}

bool BuildRewriteCommandLine(const std::wstring& input, const std::wstring& output,
                             std::wstring& line, const RewriteSound* sound)
{
    line.clear();
    if (input.find(L'"') != std::wstring::npos || output.find(L'"') != std::wstring::npos ||
        (sound != nullptr && sound->wavPath.find(L'"') != std::wstring::npos)) {
        return false;
    }
    // -n: an output name that someone took meanwhile is never replaced.
    line = L"ffmpeg.exe -nostdin -n -loglevel error -i \"" + input + L"\"";
    if (sound == nullptr) {
        line += L" -map 0 -c copy";
    } else {
        line += L" -i \"" + sound->wavPath + L"\" -filter_complex \"" + SoundTrackFilter(*sound) +
                L"\" -map 0:v -map [a] -c:v copy -c:a aac -b:a 128k";
    }
    line += L" -movflags +faststart \"" + output + L"\"";
    return true;
}
