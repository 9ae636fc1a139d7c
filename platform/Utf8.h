// UTF-8 text from the program's UTF-16 strings, for the files and streams that others read.
#pragma once

#include <string>

// `text` in UTF-8; empty for empty text or text that can't be converted.
std::string ToUtf8(const std::wstring& text);
