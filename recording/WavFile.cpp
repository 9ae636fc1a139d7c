#include "recording/WavFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const GUID kSubtypeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

void Put16(BYTE* at, uint32_t value)
{
    at[0] = static_cast<BYTE>(value);
    at[1] = static_cast<BYTE>(value >> 8);
}

void Put32(BYTE* at, uint32_t value)
{
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

void Put64(BYTE* at, uint64_t value)
{
    Put32(at, static_cast<uint32_t>(value));
    Put32(at + 4, static_cast<uint32_t>(value >> 32));
}

uint32_t Saturated32(uint64_t value)
{
    return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

// The header for `dataBytes` of data (`padded`: with its pad byte).
void MakeHeader(const WavFile& wav, bool padded, BYTE (&header)[kWavHeaderBytes])
{
    std::memset(header, 0, sizeof(header));
    const uint64_t riffBytes = kWavHeaderBytes - 8 + wav.dataBytes + (padded ? 1 : 0);
    const bool rf64 = riffBytes > wav.rf64Threshold;
    std::memcpy(header, rf64 ? "RF64" : "RIFF", 4);
    Put32(header + 4, rf64 ? 0xFFFFFFFFu : Saturated32(riffBytes));
    std::memcpy(header + 8, "WAVE", 4);
    // The placeholder that RF64 turns into its size chunk.
    std::memcpy(header + 12, rf64 ? "ds64" : "JUNK", 4);
    Put32(header + 16, 28);
    if (rf64) {
        Put64(header + 20, riffBytes);
        Put64(header + 28, wav.dataBytes);
        Put64(header + 36, static_cast<uint64_t>(WavFileFrames(wav)));
    }
    const WAVEFORMATEXTENSIBLE& f = wav.format;
    std::memcpy(header + 48, "fmt ", 4);
    Put32(header + 52, 40);
    Put16(header + 56, WAVE_FORMAT_EXTENSIBLE);
    Put16(header + 58, f.Format.nChannels);
    Put32(header + 60, f.Format.nSamplesPerSec);
    Put32(header + 64, f.Format.nSamplesPerSec * f.Format.nBlockAlign);
    Put16(header + 68, f.Format.nBlockAlign);
    Put16(header + 70, f.Format.wBitsPerSample);
    Put16(header + 72, 22);
    Put16(header + 74, f.Samples.wValidBitsPerSample);
    Put32(header + 76, f.dwChannelMask);
    std::memcpy(header + 80, &f.SubFormat, 16);
    std::memcpy(header + 96, "data", 4);
    Put32(header + 100, rf64 ? 0xFFFFFFFFu : Saturated32(wav.dataBytes));
}

bool WriteAll(HANDLE file, const void* data, std::size_t bytes)
{
    const BYTE* at = static_cast<const BYTE*>(data);
    while (bytes > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, at, chunk, &written, nullptr) || written != chunk) {
            return false;
        }
        at += chunk;
        bytes -= chunk;
    }
    return true;
}

// Writes the header at the start and comes back to the end.
bool WriteHeader(WavFile& wav, bool padded)
{
    BYTE header[kWavHeaderBytes];
    MakeHeader(wav, padded, header);
    LARGE_INTEGER start = {};
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(kWavHeaderBytes + wav.dataBytes + (padded ? 1 : 0));
    return ::SetFilePointerEx(wav.file.Get(), start, nullptr, FILE_BEGIN) &&
           WriteAll(wav.file.Get(), header, sizeof(header)) &&
           ::SetFilePointerEx(wav.file.Get(), end, nullptr, FILE_BEGIN);
}

} // namespace

bool WavFileCreate(WavFile& wav, const std::wstring& path, const WAVEFORMATEXTENSIBLE& format,
                   uint64_t rf64Threshold)
{
    wav = WavFile{};
    wav.format = format;
    wav.rf64Threshold = rf64Threshold;
    if (format.Format.nBlockAlign == 0 || format.Format.nChannels == 0) {
        return false;
    }
    // Readable while it is written, so a take's sound can be looked at as it grows.
    wav.file.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!wav.file.IsValid()) {
        return false;
    }
    if (!WriteHeader(wav, false)) {
        wav.file.Reset();
        ::DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

bool WavFileWrite(WavFile& wav, const void* data, std::size_t bytes)
{
    if (!wav.file.IsValid() || !WriteAll(wav.file.Get(), data, bytes)) {
        return false;
    }
    wav.dataBytes += bytes;
    return true;
}

bool WavFileWriteSilence(WavFile& wav, int64_t frames)
{
    // Unsigned 8-bit samples are silent at their middle; every other format at zero.
    const bool unsigned8 = wav.format.Format.wBitsPerSample == 8 &&
                           !::IsEqualGUID(wav.format.SubFormat, kSubtypeFloat);
    const std::vector<BYTE> block(64 * 1024, unsigned8 ? 0x80 : 0);
    uint64_t bytes =
        static_cast<uint64_t>(std::max<int64_t>(frames, 0)) * wav.format.Format.nBlockAlign;
    while (bytes > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<uint64_t>(bytes, block.size()));
        if (!WavFileWrite(wav, block.data(), chunk)) {
            return false;
        }
        bytes -= chunk;
    }
    return true;
}

bool WavFileUpdateHeader(WavFile& wav)
{
    return wav.file.IsValid() && WriteHeader(wav, false);
}

bool WavFileClose(WavFile& wav)
{
    if (!wav.file.IsValid()) {
        return false;
    }
    const bool padded = (wav.dataBytes & 1) != 0;
    const BYTE pad = 0;
    bool ok = !padded || WriteAll(wav.file.Get(), &pad, 1);
    ok = WriteHeader(wav, padded) && ok;
    ok = ::FlushFileBuffers(wav.file.Get()) && ok;
    wav.file.Reset();
    return ok;
}

int64_t WavFileFrames(const WavFile& wav)
{
    return wav.format.Format.nBlockAlign > 0
               ? static_cast<int64_t>(wav.dataBytes / wav.format.Format.nBlockAlign)
               : 0;
}

const char* WavSampleFormatName(const WAVEFORMATEXTENSIBLE& format)
{
    const bool isFloat = ::IsEqualGUID(format.SubFormat, kSubtypeFloat);
    switch (format.Format.wBitsPerSample) {
    case 8:
        return "u8";
    case 16:
        return "s16le";
    case 24:
        return "s24le";
    case 32:
        return isFloat ? "f32le" : "s32le";
    case 64:
        return isFloat ? "f64le" : "s64le";
    default:
        return "unknown";
    }
}
