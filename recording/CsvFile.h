// What the take's text files (the skeleton and frames files) share: a file written one buffer at
// a time by one thread, that counts as failed after any short or failed write, and the number
// texts of their rows, which never depend on the user's locale.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

#include "platform/ScopedHandle.h"

struct CsvFile {
    ScopedHandle handle;
    bool failed = false;
    std::string buffer; // the text of the next write
};

// Creates the file at `path`, replacing one that is there, and writes `header`. False when it
// can't be created or written; the file then counts as failed.
bool CsvFileCreate(CsvFile& file, const std::wstring& path, const std::string& header);

// Writes the buffer with one call; a short or failed write marks the file failed.
void CsvFileWriteBuffer(CsvFile& file);

// Closes the file. True only when it was opened and every write reached it.
bool CsvFileClose(CsvFile& file);

// Appends the decimal text of any integer or float: std::to_chars gives the shortest text that
// reads back exactly, with a '.' whatever the locale.
template <typename Number> void AppendNumber(std::string& out, Number value)
{
    char text[32];
    const std::to_chars_result result = std::to_chars(text, text + sizeof(text), value);
    out.append(text, result.ptr);
}

// Appends the columns every row of the take's text files begins with, each with its comma:
// frame, time_s, color_frame, color_time_ms. time_s is videoFrame / 30 (videoFrame >= 0) with
// exactly six decimals, rounded to the nearest microsecond.
void AppendFrameColumns(std::string& out, int64_t videoFrame, uint32_t colorFrameNumber,
                        int64_t colorTimeMs);
