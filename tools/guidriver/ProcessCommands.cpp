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
    if (call.args.size() > 2) {
        if (call.args[2] != "alone") {
            Err(call, "usage: terminate PID TIMEOUT [alone]");
        } else if (TerminateAlone(pid, timeoutMs)) {
            Ok(call, "1");
        } else {
            Err(call, "not ended (no such process, or timeout): " + call.args[0]);
        }
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

void Resources(Call& call)
{
    unsigned long pid = 0;
    if (!NumberArg(call, 0, &pid)) {
        return;
    }
    ProcessResources resources;
    if (!QueryProcessResources(pid, &resources)) {
        Err(call, "cannot query process: " + call.args[0]);
        return;
    }
    Ok(call, Int(resources.handles) + " " + Int(resources.gdiObjects) + " " +
                 Int(static_cast<long long>(resources.privateBytes)));
}
