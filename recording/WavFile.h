// A sound file written as it is recorded: a WAVE file of WAVE_FORMAT_EXTENSIBLE (the device's
// own sample format, rate, channels and channel mask) that becomes RF64 once it passes what a
// 32-bit RIFF size can say. Its header has a placeholder chunk that turns into the RF64 "ds64"
// chunk in place, so the data never moves. The header is written again whenever asked (the
// stream asks twice a second): a file whose program dies plays up to its last header.
#pragma once

#include <windows.h>

#include <mmreg.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ScopedHandle.h"

// The header's size: RIFF, the ds64 placeholder, fmt (40 bytes of WAVEFORMATEXTENSIBLE), data.
constexpr uint64_t kWavHeaderBytes = 104;
// A file whose RIFF size (its size less 8 bytes) passes this is written as RF64.
constexpr uint64_t kWavRf64Threshold = 0xFFFFFFFFull;

struct WavFile {
    ScopedHandle file;
    WAVEFORMATEXTENSIBLE format = {};
    uint64_t dataBytes = 0;
    uint64_t rf64Threshold = kWavRf64Threshold;
};

// Creates the file at `path` (replacing one there) with a header for no data. False, with
// nothing held, when it can't be made.
bool WavFileCreate(WavFile& wav, const std::wstring& path, const WAVEFORMATEXTENSIBLE& format,
                   uint64_t rf64Threshold = kWavRf64Threshold);

// Appends `bytes` of frames. False when the disk took less.
bool WavFileWrite(WavFile& wav, const void* data, std::size_t bytes);

// Appends `frames` frames of silence.
bool WavFileWriteSilence(WavFile& wav, int64_t frames);

// Brings the header up to date with the data written so far.
bool WavFileUpdateHeader(WavFile& wav);

// Pads odd data to an even size, writes the final header and closes the file. True when all of
// it went to the disk.
bool WavFileClose(WavFile& wav);

// Frames written so far.
int64_t WavFileFrames(const WavFile& wav);

// The sample format as ffmpeg names it ("f32le", "s16le", "s24le", "s32le", "u8"...).
const char* WavSampleFormatName(const WAVEFORMATEXTENSIBLE& format);
