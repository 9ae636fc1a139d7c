#include "platform/ProcessFamily.h"

#include <tlhelp32.h>

#include "platform/ScopedHandle.h"

namespace {

// A launcher's child, and a child that it starts in turn.
constexpr int kGenerations = 2;

bool CreationTime(HANDLE process, ULONGLONG& created)
{
    FILETIME creation = {};
    FILETIME exit = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
        return false;
    }
    created = (ULONGLONG{creation.dwHighDateTime} << 32) | creation.dwLowDateTime;
    return true;
}

bool CreationTimeOf(DWORD pid, ULONGLONG& created)
{
    ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return process.IsValid() && CreationTime(process.Get(), created);
}

// The parent id that the snapshot records for `pid`.
bool ParentOf(HANDLE snapshot, DWORD pid, DWORD& parent)
{
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) {
            parent = entry.th32ParentProcessID;
            return true;
        }
    }
    return false;
}

} // namespace

bool IsSameOrDescendantProcess(DWORD candidatePid, HANDLE ancestorProcess, DWORD ancestorPid)
{
    if (candidatePid == ancestorPid) {
        return true;
    }
    ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    ULONGLONG childCreated = 0;
    if (!snapshot.IsValid() || !CreationTimeOf(candidatePid, childCreated)) {
        return false;
    }
    DWORD child = candidatePid;
    for (int generation = 0; generation < kGenerations; ++generation) {
        DWORD parent = 0;
        if (!ParentOf(snapshot.Get(), child, parent) || parent == child) {
            return false;
        }
        bool reachedAncestor = parent == ancestorPid;
        ULONGLONG parentCreated = 0;
        bool known = reachedAncestor ? CreationTime(ancestorProcess, parentCreated)
                                     : CreationTimeOf(parent, parentCreated);
        // A child is never older than its parent: an older one names a reused id.
        if (!known || childCreated < parentCreated) {
            return false;
        }
        if (reachedAncestor) {
            return true;
        }
        child = parent;
        childCreated = parentCreated;
    }
    return false;
}
