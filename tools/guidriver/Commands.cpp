#include "Commands.h"

#include <cstddef>

#include "CommandSupport.h"
#include "Protocol.h"

namespace {

using Handler = void (*)(Call& call);

struct Command {
    const char* name;
    std::size_t minArgs;
    std::size_t maxArgs; // the last of them keeps its spaces
    const char* usage;
    Handler handler;
};

void Ping(Call& call)
{
    Ok(call, "pong");
}

void Quit(Call& call)
{
    call.answer.quit = true;
    Ok(call, "bye");
}

const Command kCommands[] = {
    {"ping", 0, 0, "ping", Ping},
    {"quit", 0, 0, "quit", Quit},
    {"windows", 1, 1, "windows PID", Windows},
    {"child", 2, 2, "child HWND ID", Child},
    {"children", 1, 1, "children HWND", Children},
    {"pid", 1, 1, "pid HWND", Pid},
    {"rect", 1, 1, "rect HWND", Rect},
    {"client", 1, 1, "client HWND", Client},
    {"move", 3, 5, "move HWND X Y [W H]", Move},
    {"click", 1, 1, "click HWND", Click},
    {"command", 2, 2, "command HWND ID", CommandMessage},
    {"close", 1, 1, "close HWND", Close},
    {"gettext", 1, 1, "gettext HWND", GetText},
    {"settext", 2, 2, "settext HWND TEXT", SetText},
    {"enabled", 1, 1, "enabled HWND", Enabled},
    {"checked", 1, 1, "checked HWND", Checked},
    {"dialogs", 1, 1, "dialogs PID", Dialogs},
    {"press", 2, 2, "press DIALOG BUTTONID", Press},
    {"wait-dialog", 2, 3, "wait-dialog PID TIMEOUT [CAPTION]", WaitDialog},
    {"wait-gone", 2, 2, "wait-gone HWND TIMEOUT", WaitGone},
    {"savedialog", 2, 2, "savedialog PID TIMEOUT", SaveDialog},
    {"savedialog-choose", 2, 2, "savedialog-choose DIALOG PATH", SaveDialogChoose},
    {"savedialog-cancel", 1, 1, "savedialog-cancel DIALOG", SaveDialogCancel},
    {"ps", 0, 0, "ps", Processes},
    {"watch", 1, 1, "watch PID", Watch},
    {"wait-exit", 2, 2, "wait-exit PID TIMEOUT", WaitExit},
    {"terminate", 2, 3, "terminate PID TIMEOUT [alone]", Terminate},
    {"resources", 1, 1, "resources PID", Resources},
    {"hold-file", 1, 1, "hold-file PATH", HoldFile},
    {"release-files", 0, 0, "release-files", ReleaseFiles},
};

} // namespace

Answer HandleRequest(const std::string& line)
{
    Answer answer;
    const std::vector<std::string> head = SplitFields(line, 2);
    if (head.empty() || head[0].empty()) {
        answer.result = "err empty request";
        return answer;
    }
    for (const Command& command : kCommands) {
        if (head[0] != command.name) {
            continue;
        }
        std::vector<std::string> args;
        if (head.size() > 1 && command.maxArgs > 0) {
            args = SplitFields(head[1], command.maxArgs);
        } else if (head.size() > 1) {
            args.push_back(head[1]); // too many: caught below
        }
        if (args.size() < command.minArgs || args.size() > command.maxArgs) {
            answer.result = std::string("err usage: ") + command.usage;
            return answer;
        }
        Call call{args, answer};
        command.handler(call);
        return answer;
    }
    answer.result = "err unknown command: " + head[0];
    return answer;
}
