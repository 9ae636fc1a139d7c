#include "recording/Mp4Frames.h"

#include <windows.h>

#include <algorithm>
#include <initializer_list>

#include "platform/ScopedHandle.h"

namespace {

// A file of more boxes than this is not one of the recorder's (an hour in one-second fragments
// has about 30,000), and its count fails rather than run on.
constexpr uint64_t kMaxBoxes = 4000000;
// Time-to-sample entries are read this many at a time.
constexpr uint32_t kSttsEntriesPerRead = 512;

constexpr uint32_t Fourcc(const char (&name)[5])
{
    return static_cast<uint32_t>(static_cast<unsigned char>(name[0])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(name[1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(name[2])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(name[3]));
}

constexpr uint32_t kFtyp = Fourcc("ftyp");
constexpr uint32_t kMoov = Fourcc("moov");
constexpr uint32_t kMdat = Fourcc("mdat");
constexpr uint32_t kMoof = Fourcc("moof");
constexpr uint32_t kMvex = Fourcc("mvex");
constexpr uint32_t kTrak = Fourcc("trak");
constexpr uint32_t kTkhd = Fourcc("tkhd");
constexpr uint32_t kMdia = Fourcc("mdia");
constexpr uint32_t kHdlr = Fourcc("hdlr");
constexpr uint32_t kMinf = Fourcc("minf");
constexpr uint32_t kStbl = Fourcc("stbl");
constexpr uint32_t kStsz = Fourcc("stsz");
constexpr uint32_t kStz2 = Fourcc("stz2");
constexpr uint32_t kStts = Fourcc("stts");
constexpr uint32_t kTraf = Fourcc("traf");
constexpr uint32_t kTfhd = Fourcc("tfhd");
constexpr uint32_t kTrun = Fourcc("trun");
constexpr uint32_t kVide = Fourcc("vide");

uint32_t Be32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

uint64_t Be64(const unsigned char* bytes)
{
    return static_cast<uint64_t>(Be32(bytes)) << 32 | Be32(bytes + 4);
}

struct Box {
    uint32_t type = 0;
    uint64_t body = 0; // first byte after the header
    uint64_t end = 0;  // one past the last byte
};

struct Walk {
    const Mp4Reader& read;
    uint64_t boxesLeft;
};

enum class Header { Ok, Cut, Bad };
enum class Find { Found, Missing, Bad };

// Reads the header of the box at `offset` of a range that ends at `end` (past `offset`). Cut: the
// range ends inside the box. Bad: a size smaller than the header, a failed read or one box more
// than the walk may visit.
Header ReadHeader(Walk& walk, uint64_t offset, uint64_t end, Box& box)
{
    if (walk.boxesLeft == 0) {
        return Header::Bad;
    }
    --walk.boxesLeft;
    unsigned char bytes[16];
    if (end - offset < 8) {
        return Header::Cut;
    }
    if (!walk.read(offset, bytes, 8)) {
        return Header::Bad;
    }
    uint64_t size = Be32(bytes);
    box.type = Be32(bytes + 4);
    box.body = offset + 8;
    if (size == 1) {
        if (end - offset < 16) {
            return Header::Cut;
        }
        if (!walk.read(offset + 8, bytes + 8, 8)) {
            return Header::Bad;
        }
        size = Be64(bytes + 8);
        box.body = offset + 16;
    } else if (size == 0) {
        size = end - offset;
    }
    if (size < box.body - offset) {
        return Header::Bad;
    }
    if (size > end - offset) {
        return Header::Cut;
    }
    box.end = offset + size;
    return Header::Ok;
}

// Reads `size` bytes at `at` bytes into the body of `box`; false when they pass its end.
bool ReadBody(Walk& walk, const Box& box, uint64_t at, unsigned char* buffer, size_t size)
{
    const uint64_t length = box.end - box.body;
    return at <= length && size <= length - at && walk.read(box.body + at, buffer, size);
}

// The big-endian 32-bit field at `at` bytes into the body of `box`.
bool ReadField32(Walk& walk, const Box& box, uint64_t at, uint32_t& value)
{
    unsigned char bytes[4];
    if (!ReadBody(walk, box, at, bytes, sizeof bytes)) {
        return false;
    }
    value = Be32(bytes);
    return true;
}

// The first box of type `type` among the children of `parent` that start at `offset` or later.
// Bad when one of the children before it is malformed or passes the end of `parent`.
Find FindChild(Walk& walk, const Box& parent, uint64_t offset, uint32_t type, Box& child)
{
    for (; offset < parent.end; offset = child.end) {
        if (ReadHeader(walk, offset, parent.end, child) != Header::Ok) {
            return Find::Bad;
        }
        if (child.type == type) {
            return Find::Found;
        }
    }
    return Find::Missing;
}

// Goes down from `box` through the first child of each type in `path`.
Find FindPath(Walk& walk, const Box& box, std::initializer_list<uint32_t> path, Box& found)
{
    found = box;
    for (uint32_t type : path) {
        const Box parent = found;
        const Find result = FindChild(walk, parent, parent.body, type, found);
        if (result != Find::Found) {
            return result;
        }
    }
    return Find::Found;
}

// The samples listed by the sample table `stbl`: the count of its sample sizes, or without them
// the sum of its time-to-sample entries.
bool CountTableSamples(Walk& walk, const Box& stbl, uint64_t& samples)
{
    Box table;
    for (uint32_t type : {kStsz, kStz2}) {
        const Find found = FindChild(walk, stbl, stbl.body, type, table);
        if (found == Find::Bad) {
            return false;
        }
        uint32_t count = 0;
        if (found == Find::Found) {
            if (!ReadField32(walk, table, 8, count)) {
                return false;
            }
            samples = count;
            return true;
        }
    }
    uint32_t entries = 0;
    if (FindChild(walk, stbl, stbl.body, kStts, table) != Find::Found ||
        !ReadField32(walk, table, 4, entries)) {
        return false;
    }
    unsigned char buffer[kSttsEntriesPerRead * 8];
    samples = 0;
    for (uint32_t done = 0; done < entries;) {
        const uint32_t batch = std::min(entries - done, kSttsEntriesPerRead);
        if (!ReadBody(walk, table, 8 + static_cast<uint64_t>(done) * 8, buffer, batch * 8)) {
            return false;
        }
        for (uint32_t i = 0; i < batch; ++i) {
            samples += Be32(buffer + i * 8);
        }
        done += batch;
    }
    return true;
}

struct VideoTrack {
    bool found = false;
    uint32_t id = 0;
    uint64_t samples = 0; // in the track's sample table
};

// Fills `video` from `trak` when it is a video track; leaves it unchanged when not.
bool ReadTrack(Walk& walk, const Box& trak, VideoTrack& video)
{
    Box hdlr;
    const Find found = FindPath(walk, trak, {kMdia, kHdlr}, hdlr);
    uint32_t handler = 0;
    if (found != Find::Found) {
        return found == Find::Missing;
    }
    if (!ReadField32(walk, hdlr, 8, handler)) {
        return false;
    }
    if (handler != kVide) {
        return true;
    }
    Box tkhd;
    Box stbl;
    unsigned char version = 0;
    if (FindChild(walk, trak, trak.body, kTkhd, tkhd) != Find::Found ||
        !ReadBody(walk, tkhd, 0, &version, 1) ||
        !ReadField32(walk, tkhd, version == 1 ? 20 : 12, video.id) ||
        FindPath(walk, trak, {kMdia, kMinf, kStbl}, stbl) != Find::Found) {
        return false;
    }
    video.found = true;
    return CountTableSamples(walk, stbl, video.samples);
}

// Reads the first video track of `moov`, and whether the file is fragmented.
bool ReadMoov(Walk& walk, const Box& moov, VideoTrack& video, bool& fragmented)
{
    Box child;
    for (uint64_t offset = moov.body; offset < moov.end; offset = child.end) {
        if (ReadHeader(walk, offset, moov.end, child) != Header::Ok) {
            return false;
        }
        if (child.type == kMvex) {
            fragmented = true;
        } else if (child.type == kTrak && !video.found && !ReadTrack(walk, child, video)) {
            return false;
        }
    }
    return true;
}

// Adds to `samples` the samples of track `trackId` in the track runs of `moof`.
bool CountFragmentSamples(Walk& walk, const Box& moof, uint32_t trackId, uint64_t& samples)
{
    Box traf;
    Find found;
    for (uint64_t offset = moof.body;
         (found = FindChild(walk, moof, offset, kTraf, traf)) == Find::Found; offset = traf.end) {
        Box tfhd;
        uint32_t id = 0;
        if (FindChild(walk, traf, traf.body, kTfhd, tfhd) != Find::Found ||
            !ReadField32(walk, tfhd, 4, id)) {
            return false;
        }
        if (id != trackId) {
            continue;
        }
        Box trun;
        Find run;
        for (uint64_t at = traf.body; (run = FindChild(walk, traf, at, kTrun, trun)) == Find::Found;
             at = trun.end) {
            uint32_t count = 0;
            if (!ReadField32(walk, trun, 4, count)) {
                return false;
            }
            samples += count;
        }
        if (run == Find::Bad) {
            return false;
        }
    }
    return found == Find::Missing;
}

} // namespace

bool CountMp4Frames(const Mp4Reader& read, uint64_t fileSize, Mp4FrameCount& out)
{
    out = Mp4FrameCount();
    Walk walk{read, kMaxBoxes};
    VideoTrack video;
    bool haveFtyp = false;
    bool haveMoov = false;
    bool sawMdat = false; // a whole one
    bool cut = false;
    uint64_t unplayedSamples = 0; // in fragments whose mdat has not come whole yet
    Box box;
    for (uint64_t offset = 0; offset < fileSize; offset = box.end) {
        const Header header = ReadHeader(walk, offset, fileSize, box);
        if (header == Header::Cut) {
            cut = true; // the file ends inside this box: what came before it is what plays
            break;
        }
        if (header == Header::Bad) {
            return false;
        }
        if (box.type == kFtyp) {
            haveFtyp = true;
        } else if (box.type == kMoov) {
            if (haveMoov || !ReadMoov(walk, box, video, out.fragmented)) {
                return false;
            }
            haveMoov = true;
            out.indexBeforeMedia = !sawMdat;
        } else if (box.type == kMoof) {
            if (!out.fragmented || !video.found ||
                !CountFragmentSamples(walk, box, video.id, unplayedSamples)) {
                return false;
            }
        } else if (box.type == kMdat) {
            sawMdat = true;
            out.frames += unplayedSamples;
            unplayedSamples = 0;
        }
    }
    if (!haveFtyp || !haveMoov || !video.found) {
        return false;
    }
    // A file cut short lists samples that it has lost unless their mdat came whole before the cut.
    if (!cut || sawMdat) {
        out.frames += video.samples;
    }
    return true;
}

bool CountMp4FileFrames(const std::wstring& path, Mp4FrameCount& out)
{
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size)) {
        return false;
    }
    const Mp4Reader read = [&file](uint64_t offset, unsigned char* buffer, size_t count) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        DWORD done = 0;
        return count <= MAXDWORD && ::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) &&
               ::ReadFile(file.Get(), buffer, static_cast<DWORD>(count), &done, nullptr) &&
               done == count;
    };
    return CountMp4Frames(read, static_cast<uint64_t>(size.QuadPart), out);
}
