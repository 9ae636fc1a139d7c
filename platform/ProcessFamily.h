// Whether one process descends from another, as far as a launcher and its encoder go.
#pragma once

#include <windows.h>

// True when the process `candidatePid` is the process `ancestorPid` itself, its child or its
// child's child. `ancestorProcess` is a handle to that ancestor (with query access) that the
// caller holds, so its id can't have been reused. A process id recorded as a parent may have
// been reused by a newer process: a process created before the one named as its parent is not
// its descendant. False whenever a process on the way can't be looked at.
bool IsSameOrDescendantProcess(DWORD candidatePid, HANDLE ancestorProcess, DWORD ancestorPid);
