// What the command handlers share: the call record, the answers and the argument readers.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "Commands.h"

// One request being answered: its arguments (after the command name) and the answer.
struct Call {
    const std::vector<std::string>& args;
    Answer& answer;
};

// Sets the answer to `ok [text]` or `err message`.
void Ok(Call& call, const std::string& text = std::string());
void Err(Call& call, const std::string& message);

// Reply fields: 0/1, a decimal number.
std::string Flag(bool value);
std::string Int(long long value);

// Argument readers: each converts args[index], or answers a clear error and returns false.
bool WindowArg(Call& call, std::size_t index, HWND* hwnd); // an existing window
bool NumberArg(Call& call, std::size_t index, unsigned long* value);
bool IntArg(Call& call, std::size_t index, int* value);
bool TextArg(Call& call, std::size_t index, std::wstring* text); // escaped UTF-8

// The window's text (UTF-8, unescaped); its server-side title when the owner does not answer.
std::string TextOf(HWND hwnd);

// The window's class name, escaped as a field that is not the last.
std::string ClassText(HWND hwnd);

// The handlers, one per command; Commands.cpp maps the names to them.
void Windows(Call& call);
void Child(Call& call);
void Children(Call& call);
void Pid(Call& call);
void Rect(Call& call);
void Client(Call& call);
void Move(Call& call);
void Click(Call& call);
void CommandMessage(Call& call);
void Close(Call& call);
void GetText(Call& call);
void SetText(Call& call);
void Enabled(Call& call);
void Checked(Call& call);
void WaitGone(Call& call);

void Dialogs(Call& call);
void Press(Call& call);
void WaitDialog(Call& call);
void SaveDialog(Call& call);
void SaveDialogChoose(Call& call);
void SaveDialogCancel(Call& call);

void Processes(Call& call);
void Watch(Call& call);
void WaitExit(Call& call);
void Terminate(Call& call);
void Resources(Call& call);
void HoldFile(Call& call);
void ReleaseFiles(Call& call);
