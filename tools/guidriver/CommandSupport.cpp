#include "CommandSupport.h"

#include "Protocol.h"
#include "WindowOps.h"

void Ok(Call& call, const std::string& text)
{
    call.answer.result = text.empty() ? "ok" : "ok " + text;
}

void Err(Call& call, const std::string& message)
{
    call.answer.result = "err " + message;
}

std::string Flag(bool value)
{
    return value ? "1" : "0";
}

std::string Int(long long value)
{
    return std::to_string(value);
}

// Argument readers: each reports a clear error and returns false on bad input.
bool WindowArg(Call& call, std::size_t index, HWND* hwnd)
{
    if (!ParseHandle(call.args[index], hwnd)) {
        Err(call, "bad window handle: " + call.args[index]);
        return false;
    }
    if (!::IsWindow(*hwnd)) {
        Err(call, "no such window: " + call.args[index]);
        return false;
    }
    return true;
}

bool NumberArg(Call& call, std::size_t index, unsigned long* value)
{
    if (!ParseNumber(call.args[index], value)) {
        Err(call, "bad number: " + call.args[index]);
        return false;
    }
    return true;
}

bool IntArg(Call& call, std::size_t index, int* value)
{
    if (!ParseInt(call.args[index], value)) {
        Err(call, "bad number: " + call.args[index]);
        return false;
    }
    return true;
}

bool TextArg(Call& call, std::size_t index, std::wstring* text)
{
    std::string plain;
    if (!UnescapeText(call.args[index], &plain)) {
        Err(call, "bad escape in: " + call.args[index]);
        return false;
    }
    *text = Utf8ToWide(plain);
    return true;
}

// The window's text for a reply; its server-side title when the owner does not answer in time.
std::string TextOf(HWND hwnd)
{
    std::wstring text;
    if (!ReadWindowText(hwnd, &text)) {
        wchar_t title[1024] = {};
        const int length = ::InternalGetWindowText(hwnd, title, 1024);
        text.assign(title, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    return WideToUtf8(text);
}

std::string ClassText(HWND hwnd)
{
    return EscapeText(WideToUtf8(ClassOf(hwnd)), false);
}
