// The Save dialog's answer to "replace this file?", kept for the Start that follows it. It
// belongs to one path and one take: the next take that starts uses it up, and so does a take to
// that path that leaves a file there.
#pragma once

#include <string>

// The user chose `path` in the Save dialog, which asked before replacing an existing file.
void RememberReplaceConfirmed(const std::wstring& path);

// True when `path` is exactly the path last confirmed and the confirmation is still good.
bool IsReplaceConfirmed(const std::wstring& path);

// A take to `path` has started: the confirmation, whatever its path, is used up.
void NoteTakeStarted(const std::wstring& path);

// The take has stopped: if it was recorded to the confirmed path and a file is there now, that
// file is a recording the user has not been asked about, so the confirmation is used up.
void NoteTakeStopped();
