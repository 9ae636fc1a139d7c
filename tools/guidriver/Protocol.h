// The driver's line protocol: text conversions, escaping, field splitting and number parsing.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// UTF-8 <-> UTF-16. Invalid UTF-8 input gives U+FFFD for the bad bytes.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Escapes a text for a reply: backslash, CR, LF and TAB become \\ \r \n \t. A field that is not
// the last of its line also gets each space as \s and an empty text as \0, so that splitting the
// line at spaces finds it whole.
std::string EscapeText(const std::string& text, bool lastField);

// Undoes EscapeText. Returns false on an unknown escape or a trailing lone backslash.
bool UnescapeText(const std::string& text, std::string* out);

// Splits a request line at single spaces into at most maxFields fields; the last field keeps the
// rest of the line, spaces included. An empty line gives no fields.
std::vector<std::string> SplitFields(const std::string& line, std::size_t maxFields);

// A window handle written in hex, with or without a leading 0x. Returns false on anything else.
bool ParseHandle(const std::string& field, HWND* out);

// A decimal number of 0..0xFFFFFFFF. Returns false on anything else.
bool ParseNumber(const std::string& field, unsigned long* out);

// A signed decimal number that fits an int. Returns false on anything else.
bool ParseInt(const std::string& field, int* out);

// Hex without prefix, lower case, the form that ParseHandle reads back.
std::string FormatHandle(HWND hwnd);
std::string FormatHex(unsigned long long value);
