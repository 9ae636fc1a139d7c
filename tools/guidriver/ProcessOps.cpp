#include "ProcessOps.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <map>
#include <utility>

#include "platform/ScopedHandle.h"

namespace {

// Handles of watched processes by id; closed at the driver's exit.
std::map<DWORD, ScopedHandle> g_watched;

// True when the process's image lies inside the Windows folder (Wine's own programs).
bool RunsFromWindowsFolder(DWORD pid)
{
    ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.IsValid()) {
        return false;
    }
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, image, &size)) {
        return false;
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || size <= length) {
        return false;
    }
    return ::CompareStringOrdinal(image, static_cast<int>(length), windows,
                                  static_cast<int>(length), TRUE) == CSTR_EQUAL &&
           image[length] == L'\\';
}

void CollectDescendants(const std::vector<ProcessEntry>& all, DWORD pid,
                        std::vector<DWORD>* found)
{
    for (const ProcessEntry& entry : all) {
        // A reused id can make a process its own ancestor; skip what is already listed.
        if (entry.parentPid != pid) {
            continue;
        }
        bool listed = entry.pid == pid;
        for (DWORD known : *found) {
            listed = listed || known == entry.pid;
        }
        if (!listed && !RunsFromWindowsFolder(entry.pid)) {
            found->push_back(entry.pid);
            CollectDescendants(all, entry.pid, found);
        }
    }
}

// One entry of the system's handle table (SystemExtendedHandleInformation, class 64).
struct SystemHandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct SystemHandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    SystemHandleEntry entries[1];
};

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG infoClass, PVOID buffer, ULONG size,
                                                 PULONG needed);

// The handles of `pid` in the system's handle table: Wine answers GetProcessHandleCount with 0,
// but keeps this table. 0 when it can't be read.
DWORD CountHandlesInSystemTable(DWORD pid)
{
    constexpr ULONG kSystemExtendedHandleInformation = 64;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    FARPROC proc = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    if (proc == nullptr) {
        return 0;
    }
    auto query = reinterpret_cast<NtQuerySystemInformationFn>(reinterpret_cast<void*>(proc));
    std::vector<ULONG_PTR> buffer(1 << 16);
    LONG status = kInfoLengthMismatch;
    for (int attempt = 0; attempt < 8 && status == kInfoLengthMismatch; ++attempt) {
        ULONG needed = 0;
        status = query(kSystemExtendedHandleInformation, buffer.data(),
                       static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
        }
    }
    if (status != 0) {
        return 0;
    }
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    DWORD count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        count += table->entries[i].processId == pid ? 1 : 0;
    }
    return count;
}

// One entry of the GDI handle table that Wine keeps in each process (win32u's
// GDI_SHARED_MEMORY, found through the PEB); a used entry has a nonzero type.
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    UCHAR type;
    UCHAR flags;
    USHORT generation;
    UINT64 userPointer;
};

struct ProcessBasicInformation {
    LONG exitStatus;
    BYTE* pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR processId;
    ULONG_PTR parentProcessId;
};

using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE process, ULONG infoClass, PVOID buffer,
                                                  ULONG size, PULONG needed);

// The GDI objects of a process under Wine, whose GetGuiResources answers 0: the used entries of
// its GDI handle table (stock objects included). 0 when it can't be read, and on Windows.
DWORD CountGdiObjectsUnderWine(HANDLE process)
{
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    FARPROC proc = ::GetProcAddress(ntdll, "NtQueryInformationProcess");
    if (proc == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        return 0;
    }
    auto query = reinterpret_cast<NtQueryInformationProcessFn>(reinterpret_cast<void*>(proc));
    constexpr ULONG kProcessBasicInformation = 0;
    constexpr size_t kPebGdiSharedHandleTable = 0xF8;
    constexpr size_t kGdiMaxHandleCount = 0x10000;
    ProcessBasicInformation basic = {};
    UINT64 table = 0;
    if (query(process, kProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
        !::ReadProcessMemory(process, basic.pebBaseAddress + kPebGdiSharedHandleTable, &table,
                             sizeof(table), nullptr) ||
        table == 0) {
        return 0;
    }
    std::vector<GdiHandleEntry> entries(kGdiMaxHandleCount);
    if (!::ReadProcessMemory(process, reinterpret_cast<void*>(table), entries.data(),
                             entries.size() * sizeof(GdiHandleEntry), nullptr)) {
        return 0;
    }
    DWORD count = 0;
    for (const GdiHandleEntry& entry : entries) {
        count += entry.type != 0 ? 1 : 0;
    }
    return count;
}

} // namespace

std::vector<ProcessEntry> ListProcesses()
{
    std::vector<ProcessEntry> processes;
    ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) {
        return processes;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        ProcessEntry item;
        item.pid = entry.th32ProcessID;
        item.parentPid = entry.th32ParentProcessID;
        item.exeName = entry.szExeFile;
        processes.push_back(item);
    }
    return processes;
}

bool WatchProcess(DWORD pid)
{
    if (g_watched.count(pid) != 0) {
        return true;
    }
    ScopedHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.IsValid()) {
        return false;
    }
    g_watched.emplace(pid, std::move(process));
    return true;
}

DWORD WaitForExit(DWORD pid, DWORD timeoutMs, DWORD* exitCode)
{
    ScopedHandle opened;
    HANDLE process = nullptr;
    const auto watched = g_watched.find(pid);
    if (watched != g_watched.end()) {
        process = watched->second.Get();
    } else {
        opened.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        process = opened.Get();
    }
    if (process == nullptr) {
        return WAIT_FAILED;
    }
    const DWORD waited = ::WaitForSingleObject(process, timeoutMs);
    if (waited == WAIT_OBJECT_0 && !::GetExitCodeProcess(process, exitCode)) {
        return WAIT_FAILED;
    }
    return waited;
}

int TerminateTree(DWORD pid, DWORD timeoutMs, int* stillRunning)
{
    const std::vector<ProcessEntry> all = ListProcesses();
    std::vector<DWORD> targets;
    for (const ProcessEntry& entry : all) {
        if (entry.pid == pid) {
            targets.push_back(pid);
        }
    }
    // The children still name an ended parent, so what it left behind is found too.
    CollectDescendants(all, pid, &targets);
    if (targets.empty()) {
        return -1;
    }

    std::vector<ScopedHandle> ended;
    for (DWORD target : targets) {
        ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, target));
        if (process.IsValid() && ::TerminateProcess(process.Get(), 1)) {
            ended.push_back(std::move(process));
        }
    }
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    *stillRunning = 0;
    for (ScopedHandle& process : ended) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (::WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0) {
            ++*stillRunning;
        }
    }
    return static_cast<int>(ended.size());
}

bool QueryProcessResources(DWORD pid, ProcessResources* resources)
{
    ScopedHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process.IsValid()) {
        return false;
    }
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (!::GetProcessHandleCount(process.Get(), &resources->handles) ||
        !::GetProcessMemoryInfo(process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof(memory))) {
        return false;
    }
    if (resources->handles == 0) {
        resources->handles = CountHandlesInSystemTable(pid);
    }
    resources->gdiObjects = ::GetGuiResources(process.Get(), GR_GDIOBJECTS);
    if (resources->gdiObjects == 0) {
        resources->gdiObjects = CountGdiObjectsUnderWine(process.Get());
    }
    resources->privateBytes = memory.PrivateUsage;
    return true;
}

bool TerminateAlone(DWORD pid, DWORD timeoutMs)
{
    ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    return process.IsValid() && ::TerminateProcess(process.Get(), 1) &&
           ::WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0;
}
