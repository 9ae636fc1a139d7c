// How many video frames an MP4 file holds, read from its index boxes alone: after a take the
// recorder checks that the file has every frame it handed to the encoder before it deletes
// anything.
//
// Only box headers and the few small boxes that count samples are read, never the media, so a
// file of many gigabytes is checked in a moment, and with a bounded number of reads. A file that
// ends inside a box (a take whose encoder stopped mid-write) counts what a player can play: every
// fragment whose mdat is wholly in the file, and the samples listed in moov only when an mdat came
// whole before the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Reads `size` bytes at `offset` into `buffer`; false when they can't all be read.
using Mp4Reader = std::function<bool(uint64_t offset, unsigned char* buffer, size_t size)>;

struct Mp4FrameCount {
    uint64_t frames = 0;           // samples of the first video track
    bool indexBeforeMedia = false; // moov comes before the first mdat
    bool fragmented = false;       // moov holds mvex: samples are in moof boxes after it
};

// Counts the video frames of the MP4 file of `fileSize` bytes that `read` reads. False, with
// `out` unspecified, when it is not an MP4 file (no ftyp or no whole moov), has no video track or
// has a malformed box structure.
bool CountMp4Frames(const Mp4Reader& read, uint64_t fileSize, Mp4FrameCount& out);

// CountMp4Frames on the file at `path`, which may still be open for writing in another program;
// its size is taken once, when it is opened. False also when it can't be opened or read.
bool CountMp4FileFrames(const std::wstring& path, Mp4FrameCount& out);
