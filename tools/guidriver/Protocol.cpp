#include "Protocol.h"

#include <cstdio>
#include <climits>

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
    return wide;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

std::string EscapeText(const std::string& text, bool lastField)
{
    if (text.empty() && !lastField) {
        return "\\0";
    }
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '\r': escaped += "\\r"; break;
        case '\n': escaped += "\\n"; break;
        case '\t': escaped += "\\t"; break;
        case ' ':
            escaped += lastField ? " " : "\\s";
            break;
        default: escaped += c; break;
        }
    }
    return escaped;
}

bool UnescapeText(const std::string& text, std::string* out)
{
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            plain += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
        case '\\': plain += '\\'; break;
        case 'r': plain += '\r'; break;
        case 'n': plain += '\n'; break;
        case 't': plain += '\t'; break;
        case 's': plain += ' '; break;
        case '0': break;
        default: return false;
        }
    }
    *out = plain;
    return true;
}

std::vector<std::string> SplitFields(const std::string& line, std::size_t maxFields)
{
    std::vector<std::string> fields;
    if (line.empty() || maxFields == 0) {
        return fields;
    }
    std::size_t start = 0;
    while (fields.size() + 1 < maxFields) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string::npos) {
            break;
        }
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

bool ParseHandle(const std::string& field, HWND* out)
{
    std::string digits = field;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 16) {
        return false;
    }
    unsigned long long value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + static_cast<unsigned long long>(digit);
    }
    *out = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value));
    return true;
}

bool ParseNumber(const std::string& field, unsigned long* out)
{
    if (field.empty() || field.size() > 10) {
        return false;
    }
    unsigned long long value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long long>(c - '0');
    }
    if (value > 0xFFFFFFFFull) {
        return false;
    }
    *out = static_cast<unsigned long>(value);
    return true;
}

bool ParseInt(const std::string& field, int* out)
{
    const bool negative = !field.empty() && field[0] == '-';
    unsigned long magnitude = 0;
    if (!ParseNumber(negative ? field.substr(1) : field, &magnitude)) {
        return false;
    }
    const long long value =
        negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

std::string FormatHandle(HWND hwnd)
{
    return FormatHex(static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)));
}

std::string FormatHex(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "%llx", value);
    return text;
}
