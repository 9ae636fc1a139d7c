// The encoder's command lines. A take's: a fixed prefix that reads raw 640x480 BGRA frames at 30
// a second from the frame pipe and writes 4:2:0 H.264 as a fragmented MP4, then the output path
// in double quotes. The rewrite after a take: the same program copies the fragmented file,
// without re-encoding, into a standard MP4 whose index comes before its media data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The encoder program that the command lines start, found beside the recorder or on the PATH.
constexpr const wchar_t* kEncoderProgram = L"ffmpeg.exe";

// Everything before the output path, ending in the opening double quote. A keyframe every
// second and a fragment at least every second, each written out as soon as it is made: a file
// cut anywhere (the encoder killed, the power gone) still plays everything up to its last whole
// fragment.
constexpr const wchar_t* kEncoderCommandPrefix =
    L"ffmpeg.exe -y -f rawvideo -pixel_format bgra -video_size 640x480 -framerate 30 "
    L"-i \\\\.\\pipe\\vuduvazidozu -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 30 "
    L"-movflags +frag_keyframe+empty_moov+default_base_moof -frag_duration 1000000 "
    L"-flush_packets 1 \"";

// Size of the writable buffer that CreateProcessW receives, terminator included.
constexpr std::size_t kEncoderCommandCapacity = 1024;

// Writes prefix, path and closing quote into `buffer` (terminated). Fails, writing nothing but
// an empty string, when the path contains a double quote (it would end the quoted path and
// inject arguments) or when the line would not fit `capacity` characters with its terminator.
bool BuildEncoderCommandLine(const std::wstring& path, wchar_t* buffer, std::size_t capacity);

// The depth stream's pipe, and the line of its encoder: raw 16-bit depth frames of the given
// size at 30 a second, stored losslessly (FFV1, gray16le) in Matroska at `path`. Fails like
// BuildEncoderCommandLine.
constexpr const wchar_t* kDepthPipeName = L"\\\\.\\pipe\\vuduvazidozu-depth";
bool BuildDepthCommandLine(const std::wstring& path, int width, int height, wchar_t* buffer,
                           std::size_t capacity);

// A take's sound for the rewrite: its WAVE file and where it lies on the video's clock.
struct RewriteSound {
    std::wstring wavPath;
    int sampleRate = 0; // the file's nominal frames per second
    int channels = 0;
    double measuredRate = 0.0; // the device's frames per host second (0: take the nominal)
    double offsetMs = 0.0;     // where the file's frame 0 lies on the video's time, in ms
    bool mono = false;         // mix every channel down to one
    int64_t videoFrames = 0;   // the video's length in frames at 30 a second
};

// The rewrite's command line: `input` copied stream for stream into a new `output` with the
// index in front; with `sound`, the video is copied and the sound added as an AAC track as long
// as the video. Fails (empty `line`) when a path holds a double quote.
bool BuildRewriteCommandLine(const std::wstring& input, const std::wstring& output,
                             std::wstring& line, const RewriteSound* sound = nullptr);

// The filter that puts the sound on the video's clock: mixed down where asked, resampled from
// the measured rate to the nominal one, shifted by the offset, and padded or cut to the video's
// length.
std::wstring SoundTrackFilter(const RewriteSound& sound);
