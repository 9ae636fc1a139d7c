// Commands that list, watch, await and end processes of the prefix.
#include "CommandSupport.h"
#include "ProcessOps.h"
#include "Protocol.h"

void Processes(Call& call)
{
    for (const ProcessEntry& entry : ListProcesses()) {
        call.answer.items.push_back("item " + Int(entry.pid) + " " + Int(entry.parentPid) + " " +
                                    EscapeText(WideToUtf8(entry.exeName), true));
    }
    Ok(call, "end");
}

void Watch(Call& call)
{
    unsigned long pid = 0;
    if (!NumberArg(call, 0, &pid)) {
        return;
    }
    if (WatchProcess(pid)) {
        Ok(call);
    } else {
        Err(call, "no such process: " + call.args[0]);
    }
}

void WaitExit(Call& call)
{
    unsigned long pid = 0;
    unsigned long timeoutMs = 0;
    if (!NumberArg(call, 0, &pid) || !NumberArg(call, 1, &timeoutMs)) {
        return;
    }
    DWORD exitCode = 0;
    const DWORD waited = WaitForExit(pid, timeoutMs, &exitCode);
    if (waited == WAIT_OBJECT_0) {
        Ok(call, Int(exitCode));
    } else if (waited == WAIT_TIMEOUT) {
        Err(call, "timeout");
    } else {
        Err(call, "no such process (or it ended unwatched): " + call.args[0]);
    }
}

void Terminate(Call& call)
{
    unsigned long pid = 0;
    unsigned long timeoutMs = 0;
    if (!NumberArg(call, 0, &pid) || !NumberArg(call, 1, &timeoutMs)) {
        return;
    }
    int stillRunning = 0;
    const int ended = TerminateTree(pid, timeoutMs, &stillRunning);
    if (ended < 0) {
        Err(call, "no such process: " + call.args[0]);
    } else if (stillRunning > 0) {
        Err(call, "timeout");
    } else {
        Ok(call, Int(ended));
    }
}
